# Installs the build tree into a fresh prefix and checks the documented
# layout: exactly these files, the headers as in the sources, and an
# installed stratamix that finds the installed plug-in.
include(${SOURCE_DIR}/tests/package/doc_files.cmake)
set(expected
  bin/stratamix
  include/strataMix/strataMix.h
  include/strataMix/strataMix.mi
  include/strataMix/strataMix_types.h
  lib/strataMix/strataMix.so
  ${strata_doc_files})
list(SORT expected)

file(REMOVE_RECURSE ${PREFIX} ${PREFIX}.bake)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE status OUTPUT_VARIABLE log ERROR_VARIABLE log)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${status}):\n${log}")
endif()

file(GLOB_RECURSE installed RELATIVE ${PREFIX} ${PREFIX}/*)
list(SORT installed)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed files:\n  ${installed}\nexpected:\n  ${expected}")
endif()

foreach(header shader/strataMix.h shader/strataMix.mi renderer/strataMix_types.h)
  get_filename_component(name ${header} NAME)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
                          ${SOURCE_DIR}/${header} ${PREFIX}/include/strataMix/${name}
                  RESULT_VARIABLE differs)
  if(differs)
    message(FATAL_ERROR "include/strataMix/${name} differs from ${header}")
  endif()
endforeach()

# The installed tool, with no --plugin, runs the installed plug-in.
file(WRITE ${PREFIX}.case.jsonl "{\"params\": {\"baseColor\": [0.25, 0.5, 0.75, 1]}}\n")
execute_process(COMMAND ${PREFIX}/bin/stratamix eval INPUT_FILE ${PREFIX}.case.jsonl
                RESULT_VARIABLE status OUTPUT_VARIABLE answer ERROR_VARIABLE errors)
if(NOT status EQUAL 0 OR NOT answer MATCHES "\"outColor\":\\[\"0x3e800000\",\"0x3f000000\"")
  message(FATAL_ERROR "installed stratamix eval: status ${status}\n${answer}${errors}")
endif()

# Where it was built with serve, the installed tool serves with the installed
# plug-in: it says where it listens, and is stopped after a while.
if(SERVE)
  execute_process(COMMAND ${PREFIX}/bin/stratamix serve --port 0 TIMEOUT 3
                  RESULT_VARIABLE status OUTPUT_VARIABLE said ERROR_VARIABLE errors)
  if(NOT said MATCHES "^stratamix serve: http://127\\.0\\.0\\.1:[0-9]+/\n")
    message(FATAL_ERROR "installed stratamix serve: ${status}\n${said}${errors}")
  endif()
endif()
# Where it was built with the bake, the installed tool bakes an installed
# example look on the installed example mesh.
if(BAKE)
  set(examples ${PREFIX}/share/doc/strataMix)
  execute_process(COMMAND ${PREFIX}/bin/stratamix bake ${examples}/preview/presets/layered-bumps.preset
                          --mesh ${examples}/bake/examples/vase.obj --size 16 --aa 1
                          --out ${PREFIX}.bake
                  RESULT_VARIABLE status OUTPUT_VARIABLE said ERROR_VARIABLE errors)
  if(NOT status EQUAL 0 OR NOT EXISTS ${PREFIX}.bake/layered-bumps_normal.1001.exr)
    message(FATAL_ERROR "installed stratamix bake: status ${status}\n${said}${errors}")
  endif()
endif()
message(STATUS "install layout as documented under ${PREFIX}")
