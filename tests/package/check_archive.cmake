# Lists a release archive and compares its files with the ones its platform
# ships; optionally unpacks it and uses it from there as a user would.
#   ARCHIVE   the archive;  PLATFORM  its platform, as in its name
#   WORK      a folder to unpack into (optional: the archive is only listed)
#   EMULATOR  the command that runs the unpacked tool, "|"-separated (optional)
#   CC        a C compiler for a scene tool's view of the headers (optional)
#   SOURCE_DIR  the source tree, for the documents the archive carries
#   PYTHON    a Python 3 for the unpacked README's and manual's links (optional)
#   PREVIEW   ON where the tools were built with the preview: the archive then
#             carries stratamix-images too, which the unpacked stratamix runs
#   CONFORMANCE  the conformance pack beside the archive (optional): listed too,
#             and where PYTHON and WORK are given, its checker run from where
#             it is unpacked on the pack's own answers of each float model
include(${CMAKE_CURRENT_LIST_DIR}/doc_files.cmake)
set(docs include/strataMix/strataMix.h include/strataMix/strataMix.mi
         include/strataMix/strataMix_types.h ${strata_doc_files})
set(linux-x86_64 bin/stratamix lib/strataMix/strataMix.so ${docs})
set(windows-x86 bin/stratamix.exe lib/strataMix/strataMix.dll ${docs})
set(linux-powerpc bin/stratamix lib/strataMix/strataMix.so ${docs})
if(PREVIEW)
  list(APPEND linux-x86_64 bin/stratamix-images)
endif()

# The porters' pack: the cases with their routes, both float models'
# answers, the description, its README and the checker with its reader.
set(conformance README.md answers-single.jsonl answers-wide.jsonl cases.jsonl check.py
                contract.py description.json)

# list_archive(ARCHIVE NAME_PATTERN EXPECTED TOP_VAR): fails unless the
# archive, named as the pattern says (its first group the top folder), holds
# exactly the expected files under its one top folder.
function(list_archive archive pattern expected top_var)
  get_filename_component(name ${archive} NAME)
  if(NOT EXISTS "${archive}")
    message(FATAL_ERROR "no archive ${archive}: build its target first")
  endif()
  if(NOT name MATCHES "${pattern}")
    message(FATAL_ERROR "${name} is not named as ${pattern} says")
  endif()
  set(top ${CMAKE_MATCH_1})
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${archive}
                  RESULT_VARIABLE status OUTPUT_VARIABLE listing ERROR_VARIABLE listing)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot list ${name}:\n${listing}")
  endif()
  string(REGEX REPLACE "\n$" "" listing "${listing}")
  string(REPLACE "\n" ";" entries "${listing}")
  set(files "")
  foreach(entry IN LISTS entries)
    if(NOT entry MATCHES "^${top}/")
      message(FATAL_ERROR "${name}: ${entry} is outside the one top folder ${top}/")
    endif()
    if(NOT entry MATCHES "/$")
      string(REPLACE "${top}/" "" entry "${entry}")
      list(APPEND files ${entry})
    endif()
  endforeach()
  list(SORT files)
  list(SORT expected)
  if(NOT files STREQUAL expected)
    message(FATAL_ERROR "${name} holds under ${top}/:\n  ${files}\nexpected:\n  ${expected}")
  endif()
  set(${top_var} ${top} PARENT_SCOPE)
endfunction()

set(version_pattern "[0-9]+\\.[0-9]+\\.[0-9]+")
list_archive(${ARCHIVE} "^(strataMix-${version_pattern}-${PLATFORM})\\.(tar\\.gz|zip)$"
             "${${PLATFORM}}" top)
get_filename_component(name ${ARCHIVE} NAME)
if(DEFINED CONFORMANCE)
  list_archive(${CONFORMANCE} "^(strataMix-conformance-${version_pattern})\\.tar\\.gz$"
               "${conformance}" conformance_top)
endif()
if(NOT DEFINED WORK)
  message(STATUS "${name}: the files of ${PLATFORM}")
  return()
endif()

# unpack(ARCHIVE): unpacks the archive into WORK, or fails.
function(unpack archive)
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${archive} WORKING_DIRECTORY ${WORK}
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot unpack ${archive}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
unpack(${ARCHIVE})
set(unpacked ${WORK}/${top})

# The unpacked tool, with no --plugin, answers through the unpacked plug-in.
string(REPLACE "|" ";" emulator "${EMULATOR}")
file(WRITE ${WORK}/case.jsonl "{\"params\": {\"baseColor\": [0.25, 0.5, 0.75, 1]}}\n")
execute_process(COMMAND ${emulator} ${unpacked}/bin/stratamix eval INPUT_FILE ${WORK}/case.jsonl
                RESULT_VARIABLE status OUTPUT_VARIABLE answer ERROR_VARIABLE errors)
set(want "\"outColor\":\\[\"0x3e800000\",\"0x3f000000\",\"0x3f400000\",\"0x3f800000\"\\]")
if(NOT status EQUAL 0 OR NOT answer MATCHES "${want}")
  message(FATAL_ERROR "unpacked stratamix eval: status ${status}\n${answer}${errors}")
endif()

# The unpacked tool hands describe over to the unpacked stratamix-images,
# whose description alone holds the preview's sheets.
if(PREVIEW)
  execute_process(COMMAND ${unpacked}/bin/stratamix describe
                  RESULT_VARIABLE status OUTPUT_VARIABLE description ERROR_VARIABLE errors)
  if(NOT status EQUAL 0 OR NOT description MATCHES "\"sheets\": *\\[")
    message(FATAL_ERROR "unpacked stratamix describe: status ${status}\n${errors}")
  endif()
endif()

if(DEFINED CC)
  execute_process(COMMAND ${CC} -std=c11 -pedantic-errors -Wall -Wextra -Werror
                          -I ${unpacked}/include/strataMix -c ${CMAKE_CURRENT_LIST_DIR}/records.c
                          -o ${WORK}/records.o
                  RESULT_VARIABLE status OUTPUT_VARIABLE log ERROR_VARIABLE log)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "the unpacked headers do not compile as C:\n${log}")
  endif()
endif()
# The README's and the manual's links and pictures resolve in the unpacked
# archive as they do in the source tree.
if(DEFINED PYTHON)
  set(doc ${unpacked}/share/doc/strataMix)
  execute_process(COMMAND ${PYTHON} ${SOURCE_DIR}/tests/docs/check_links.py ${doc}/docs/images
                          1048576 ${doc}/README.md ${doc}/docs/manual.md
                  RESULT_VARIABLE status OUTPUT_VARIABLE log ERROR_VARIABLE log)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "the unpacked documents' links do not resolve:\n${log}")
  endif()
endif()
# The porter's one command, from the unpacked pack, on the pack's own answers.
if(DEFINED CONFORMANCE AND DEFINED PYTHON)
  unpack(${CONFORMANCE})
  set(pack ${WORK}/${conformance_top})
  foreach(model wide single)
    execute_process(COMMAND ${PYTHON} check.py --model ${model} answers-${model}.jsonl
                    WORKING_DIRECTORY ${pack}
                    RESULT_VARIABLE status OUTPUT_VARIABLE log ERROR_VARIABLE log)
    # Every case, and there are some, bit-exact.
    if(NOT status EQUAL 0 OR NOT log MATCHES "\ncompared ([1-9][0-9]*) cases: ([0-9]+) bit-exact, 0 "
       OR NOT CMAKE_MATCH_1 STREQUAL CMAKE_MATCH_2)
      message(FATAL_ERROR "the unpacked pack's checker on its own ${model} answers: "
                          "status ${status}\n${log}")
    endif()
  endforeach()
endif()
message(STATUS "${name}: the files of ${PLATFORM}, used from ${unpacked}")
