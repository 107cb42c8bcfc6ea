# Lists a release archive and compares its files with the ones its platform
# ships; optionally unpacks it and uses it from there as a user would.
#   ARCHIVE   the archive;  PLATFORM  its platform, as in its name
#   WORK      a folder to unpack into (optional: the archive is only listed)
#   EMULATOR  the command that runs the unpacked tool, "|"-separated (optional)
#   CC        a C compiler for a scene tool's view of the headers (optional)
#   SOURCE_DIR  the source tree, for the documents the archive carries
#   PYTHON    a Python 3 for the unpacked README's and manual's links (optional)
include(${CMAKE_CURRENT_LIST_DIR}/doc_files.cmake)
set(docs include/strataMix/strataMix.h include/strataMix/strataMix.mi
         include/strataMix/strataMix_types.h ${strata_doc_files})
set(linux-x86_64 bin/stratamix lib/strataMix/strataMix.so ${docs})
set(windows-x86 bin/stratamix.exe lib/strataMix/strataMix.dll ${docs})
set(linux-powerpc bin/stratamix lib/strataMix/strataMix.so ${docs})

if(NOT EXISTS "${ARCHIVE}")
  message(FATAL_ERROR "no archive ${ARCHIVE}: build the package target first")
endif()
get_filename_component(name ${ARCHIVE} NAME)
if(NOT name MATCHES "^(strataMix-[0-9]+\\.[0-9]+\\.[0-9]+-${PLATFORM})\\.(tar\\.gz|zip)$")
  message(FATAL_ERROR "${name} is not named strataMix-<version>-${PLATFORM}.tar.gz or .zip")
endif()
set(top ${CMAKE_MATCH_1})

execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${ARCHIVE}
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
set(expected ${${PLATFORM}})
list(SORT expected)
if(NOT files STREQUAL expected)
  message(FATAL_ERROR "${name} holds under ${top}/:\n  ${files}\nexpected:\n  ${expected}")
endif()
if(NOT DEFINED WORK)
  message(STATUS "${name}: the files of ${PLATFORM}")
  return()
endif()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${ARCHIVE} WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cannot unpack ${name}")
endif()
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
message(STATUS "${name}: the files of ${PLATFORM}, used from ${unpacked}")
