# stratamix preview on the command line: a bad preset gets one message
# naming its line and no image; each other wrong use gets one message naming
# its problem and leaves no picture; a sheet is written as PNG and EXR and
# its figures are reported.
#   STRATAMIX  the tool;  WORK  a scratch folder
#   VERSION_TWO  a plug-in that follows interface version 2
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

file(WRITE ${WORK}/bad.preset "blendEnable = on\nblendMod = 15\n")
file(WRITE ${WORK}/good.preset "baseColor = checker(4)\n")
execute_process(COMMAND ${STRATAMIX} preview --out ${WORK}/out ${WORK}/good.preset
                        ${WORK}/bad.preset
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(expected "stratamix preview: ${WORK}/bad.preset: line 2: unknown parameter 'blendMod'\n")
if(NOT status EQUAL 1 OR NOT err STREQUAL expected)
  message(FATAL_ERROR "bad preset: status ${status}, messages:\n${err}\nexpected:\n${expected}")
endif()
if(EXISTS ${WORK}/out)
  message(FATAL_ERROR "bad preset: images were written although a preset was bad")
endif()

# Arguments | exit status | how the one message begins (the usage may follow
# it). The tool runs in WORK, so that its default folder "out" lies there.
file(WRITE ${WORK}/file "")
file(MAKE_DIRECTORY ${WORK}/exr/normals.exr)
set(small "--sheet normals --cell 8 --aa 1")
set(rows
  "${WORK}/missing.preset | 1 | stratamix preview: ${WORK}/missing.preset: no such file"
  "--sheet colours | 1 | stratamix preview: no sheet named 'colours' (blend-modes, color-correct, normals)"
  "--shape cube ${WORK}/good.preset | 2 | stratamix preview: --shape is sphere or swatch, not 'cube'"
  "--aa 9 | 2 | stratamix preview: --aa takes a whole number from 1 to 8, not '9'"
  "--sheet | 2 | stratamix preview: --sheet needs a value"
  "--helpme | 2 | stratamix preview: unknown option '--helpme'"
  "--out --sheet normals | 2 | stratamix preview: --out needs a value"
  "${small} --out ${WORK}/file/out | 1 | stratamix preview: cannot make the output folder ${WORK}/file/out: "
  "${small} --out ${WORK}/exr | 1 | stratamix preview: cannot write ${WORK}/exr/normals.exr: "
  "${small} --plugin ${VERSION_TWO} | 2 | stratamix preview: ${VERSION_TWO} follows interface version 2"
  "${small} --plugin ${WORK}/none.so | 2 | stratamix preview: cannot load plug-in ${WORK}/none.so: "
  "--sheet normals ${WORK}/good.preset | 2 | stratamix preview: give sheets or presets, not both")
set(failed "")
foreach(row IN LISTS rows)
  string(REPLACE "|" ";" fields "${row}")
  list(GET fields 0 command_line)
  list(GET fields 1 want_status)
  list(GET fields 2 want_message)
  string(STRIP "${want_status}" want_status)
  string(REGEX REPLACE "^ " "" want_message "${want_message}")
  separate_arguments(arguments UNIX_COMMAND "${command_line}")
  execute_process(COMMAND ${STRATAMIX} preview ${arguments}
                  WORKING_DIRECTORY ${WORK}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(FIND "${err}" "${want_message}" at)
  string(REGEX MATCHALL "(^|\n)stratamix" named "${err}")
  list(LENGTH named count)
  file(GLOB_RECURSE pictures ${WORK}/*.png ${WORK}/*.exr)
  if(NOT status EQUAL want_status OR NOT at EQUAL 0 OR NOT count EQUAL 1 OR pictures
     OR EXISTS ${WORK}/out)
    string(APPEND failed "preview ${command_line}: status ${status}, expected ${want_status} "
                         "and one message beginning '${want_message}'; got:\n${err}${out}"
                         "pictures left: ${pictures}\n\n")
    file(REMOVE_RECURSE ${WORK}/out ${pictures})
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "${failed}")
endif()

execute_process(COMMAND ${STRATAMIX} preview --sheet normals --cell 16 --aa 1 --cells
                        --out ${WORK}/out
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "sheet: status ${status}\n${out}${err}")
endif()
if(EXISTS ${WORK}/out/normals-12.png)
  message(FATAL_ERROR "sheet: a thirteenth cell of the twelve was written")
endif()
foreach(file normals.png normals.exr normals-00.png normals-11.png)
  if(NOT EXISTS ${WORK}/out/${file})
    message(FATAL_ERROR "sheet: ${file} was not written")
  endif()
endforeach()
if(NOT out MATCHES "normals.png, [^ ]*normals.exr: 12 cells, [0-9,]+ samples in [0-9.]+ s, [0-9.]+ M samples/s on [0-9]+ threads?\n$")
  message(FATAL_ERROR "sheet: unexpected report:\n${out}")
endif()

# --help: the usage, generated from the options' declarations, on standard
# output.
execute_process(COMMAND ${STRATAMIX} preview --help
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
foreach(line "Usage: [^\n]*stratamix preview \\[OPTIONS\\]" "--sheet NAME[^\n]*blend-modes, color-correct, normals"
             "--shape S:sphere or swatch" "--aa N:1 to 8=2")
  if(NOT status EQUAL 0 OR NOT err STREQUAL "" OR NOT out MATCHES "${line}")
    message(FATAL_ERROR "preview --help: status ${status}, no line matching '${line}':\n${out}${err}")
  endif()
endforeach()

message(STATUS "stratamix preview: messages, images and figures as expected")
