# stratamix preview on the command line: a bad preset gets one message
# naming its line and no image; a sheet is written as PNG and EXR and its
# figures are reported; a bad option is a usage error.
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

execute_process(COMMAND ${STRATAMIX} preview --sheet normals --cell 16 --aa 1 --out ${WORK}/out
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "sheet: status ${status}\n${out}${err}")
endif()
foreach(file normals.png normals.exr)
  if(NOT EXISTS ${WORK}/out/${file})
    message(FATAL_ERROR "sheet: ${file} was not written")
  endif()
endforeach()
if(NOT out MATCHES "normals.png, [^ ]*normals.exr: 12 cells, [0-9,]+ samples in [0-9.]+ s, [0-9.]+ M samples/s on [0-9]+ threads?\n$")
  message(FATAL_ERROR "sheet: unexpected report:\n${out}")
endif()

execute_process(COMMAND ${STRATAMIX} preview --aa 9
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 2 OR NOT err MATCHES "^stratamix preview: --aa takes a whole number from 1 to 8, not '9'\n")
  message(FATAL_ERROR "usage: status ${status}\n${err}")
endif()
message(STATUS "stratamix preview: messages, images and figures as expected")
