# Installs the build tree into a fresh prefix and checks the documented
# layout: exactly these files, the headers as in the sources, and an
# installed stratamix that finds the installed plug-in and, where it was
# built with the preview, the installed stratamix-images.
include(${SOURCE_DIR}/tests/package/doc_files.cmake)
set(expected
  bin/stratamix
  include/strataMix/strataMix.h
  include/strataMix/strataMix.mi
  include/strataMix/strataMix_types.h
  lib/strataMix/strataMix.so
  ${strata_doc_files})
if(PREVIEW)
  list(APPEND expected bin/stratamix-images)
endif()
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

# The installed tool reads scenes, with the installed declaration on the
# include path, and writes a preset as a shader block, as from the build.
set(scenes ${SOURCE_DIR}/tests/scene)
foreach(run "check looks.mi -I ${PREFIX}/include/strataMix|looks.out|looks.err"
            "convert rust.preset --name rust|rust.block|-")
  string(REPLACE "|" ";" run "${run}")
  list(GET run 0 arguments)
  list(GET run 1 out_file)
  list(GET run 2 err_file)
  separate_arguments(arguments UNIX_COMMAND "${arguments}")
  execute_process(COMMAND ${PREFIX}/bin/stratamix ${arguments} WORKING_DIRECTORY ${scenes}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  file(READ ${scenes}/expected/${out_file} want_out)
  set(want_err "")
  if(NOT err_file STREQUAL "-")
    file(READ ${scenes}/expected/${err_file} want_err)
  endif()
  if(NOT status EQUAL 0 OR NOT out STREQUAL want_out OR NOT err STREQUAL want_err)
    message(FATAL_ERROR "installed stratamix ${arguments}: status ${status}\n${out}${err}")
  endif()
endforeach()

# Where it was built with the preview, the installed tool renders a scene's
# instances, one picture each, through the installed stratamix-images, and
# lists every command as that program does.
if(PREVIEW)
  foreach(program stratamix stratamix-images)
    execute_process(COMMAND ${PREFIX}/bin/${program} --help
                    RESULT_VARIABLE status OUTPUT_VARIABLE help ERROR_VARIABLE err)
    if(NOT status EQUAL 0 OR NOT err STREQUAL "" OR NOT help MATCHES "\n  serve ")
      message(FATAL_ERROR "installed ${program} --help: status ${status}\n${help}${err}")
    endif()
    set(help_${program} "${help}")
  endforeach()
  if(NOT help_stratamix STREQUAL help_stratamix-images)
    message(FATAL_ERROR "installed stratamix --help:\n${help_stratamix}\n"
                        "differs from stratamix-images --help:\n${help_stratamix-images}")
  endif()
  file(REMOVE_RECURSE ${PREFIX}.scene)
  execute_process(COMMAND ${PREFIX}/bin/stratamix preview --cell 8 --aa 1 --out ${PREFIX}.scene
                          ${scenes}/looks.mi -I ${PREFIX}/include/strataMix
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0 OR NOT EXISTS ${PREFIX}.scene/rust_layer.png)
    message(FATAL_ERROR "installed stratamix preview of a scene: status ${status}\n${out}${err}")
  endif()
endif()

# Where it was built with serve, the installed tool serves with the installed
# plug-in, a folder of scenes given: it says where it listens, and is
# stopped after a while.
if(SERVE)
  execute_process(COMMAND ${PREFIX}/bin/stratamix serve --port 0 --scenes ${scenes} TIMEOUT 6
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
