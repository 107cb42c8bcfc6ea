# stratamix preview on the command line: a bad preset gets one message
# naming its line and no image; each other wrong use gets one message naming
# its problem and leaves no picture; a sheet is written as PNG and EXR and
# its figures are reported.
#   STRATAMIX  the tool;  WORK  a scratch folder
#   VERSION_TWO  a plug-in that follows interface version 2
#   SCENES  the small scenes of the scene reader's tests;  SHADER_DIR  the
#   declaration's folder;  IMAGES  the file name of the program stratamix
#   hands the preview over to, beside it
include(${CMAKE_CURRENT_LIST_DIR}/../wrong_uses.cmake)

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

# Arguments | exit status | how the one line of message begins, each run in
# WORK (tests/wrong_uses.cmake).
file(WRITE ${WORK}/file "")
file(MAKE_DIRECTORY ${WORK}/exr/normals.exr ${WORK}/folder.preset)
execute_process(COMMAND mkfifo ${WORK}/fifo.preset)
string(REPEAT "#" 65536 comment)
file(WRITE ${WORK}/long.preset "gamma = 2\n${comment}")
file(WRITE ${WORK}/a/x.preset "gamma = 2\n")
file(WRITE ${WORK}/b/x.preset "gamma = 3\n")
file(WRITE ${WORK}/x-00.preset "gamma = 4\n")
file(WRITE ${WORK}/looks/texture.preset "baseColor = texture(\"none.png\")\n")
set(small "--sheet normals --cell 8 --aa 1")
set(rows
  "${WORK}/missing.preset | 1 | stratamix preview: ${WORK}/missing.preset: no such file"
  "${WORK}/folder.preset | 1 | stratamix preview: ${WORK}/folder.preset: is a folder, not a file"
  "${WORK}/fifo.preset | 1 | stratamix preview: ${WORK}/fifo.preset: is a FIFO, not a regular file"
  "/dev/zero | 1 | stratamix preview: /dev/zero: is a character device, not a regular file"
  "${WORK}/long.preset | 1 | stratamix preview: ${WORK}/long.preset: over the limit of 65536 bytes"
  "${WORK}/a/x.preset ${WORK}/b/x.preset | 1 | stratamix preview: ${WORK}/a/x.preset and ${WORK}/b/x.preset would both write out/x.png"
  "--cells ${WORK}/a/x.preset ${WORK}/x-00.preset | 1 | stratamix preview: ${WORK}/a/x.preset and ${WORK}/x-00.preset would both write out/x-00.png"
  "${WORK}/looks/texture.preset | 1 | stratamix preview: ${WORK}/looks/texture.preset: line 1: texture \"${WORK}/looks/none.png\": Could not open file"
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
  "--sheet normals ${WORK}/good.preset | 2 | stratamix preview: give sheets or presets, not both"
  "--shader x ${SCENES}/looks.mi -I ${SHADER_DIR} | 1 | stratamix preview: ${SCENES}/looks.mi holds no strataMix instance \"x\""
  "--connect gamma ${SCENES}/looks.mi | 2 | stratamix preview: --connect takes PARAMETER=PATTERN, the parameter by its declared name, not 'gamma'"
  "--shader rust_layer --connect layerColor=stripes(3) ${SCENES}/looks.mi -I ${SHADER_DIR} | 1 | stratamix preview: a pattern given with --connect is refused: line 45: ")
check_wrong_uses(TOOL ${STRATAMIX} COMMAND preview WORK ${WORK} ROWS ${rows} LEFT ${WORK}/*.png ${WORK}/*.exr)

# stratamix alone, without the program it hands the preview over to.
file(COPY ${STRATAMIX} DESTINATION ${WORK}/alone)
get_filename_component(alone ${STRATAMIX} NAME)
set(unrun "stratamix preview: cannot run ${WORK}/alone/${IMAGES}: No such file or directory")
check_wrong_uses(TOOL ${WORK}/alone/${alone} COMMAND preview WORK ${WORK} LEFT ${WORK}/*.png
                 ROWS "${small} | 2 | ${unrun}" "--help | 2 | ${unrun}")

# A byte-order mark, CR and CRLF line ends and a size of exactly 64 KiB
# change nothing: the preset renders the same values as its plain twin.
set(lines "layerColor = 1 0.5 0" "blendEnable = on" "blendMode = 15" "baseColor = checker(4)")
list(JOIN lines "\n" plain)
string(ASCII 239 187 191 bom)
string(ASCII 13 cr)
list(GET lines 0 first)
list(GET lines 1 second)
list(GET lines 2 third)
list(GET lines 3 fourth)
set(marked "${bom}${first}${cr}${second}${cr}\n${third}\n${fourth}${cr}#")
string(LENGTH "${marked}" length)
math(EXPR padding "65536 - ${length}")
string(REPEAT "#" ${padding} comment)
string(APPEND marked "${comment}")
# The same path each time, so that the two sheets bear the same title; the
# PNG holds no date.
foreach(form plain marked)
  file(WRITE ${WORK}/same/look.preset "${${form}}")
  file(SIZE ${WORK}/same/look.preset ${form}_size)
  execute_process(COMMAND ${STRATAMIX} preview --cell 8 --aa 1 --out ${WORK}/same/${form}
                          ${WORK}/same/look.preset
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "the ${form} preset of ${${form}_size} bytes: status ${status}\n${out}${err}")
  endif()
  file(SHA256 ${WORK}/same/${form}/look.png ${form}_picture)
endforeach()
if(NOT marked_size EQUAL 65536 OR NOT plain_picture STREQUAL marked_picture)
  message(FATAL_ERROR "a preset of ${marked_size} bytes with a byte-order mark and CR line ends "
                      "gives another picture than the same preset with LF line ends")
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

# A scene renders a picture for each strataMix instance, named after it; an
# instance with errors is not rendered, unless --force.
execute_process(COMMAND ${STRATAMIX} preview --cell 8 --aa 1 --out ${WORK}/scene
                        ${SCENES}/looks.mi -I ${SHADER_DIR}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
foreach(name rust_layer panel_normals panel_look)
  if(NOT status EQUAL 0 OR NOT EXISTS ${WORK}/scene/${name}.png OR NOT EXISTS ${WORK}/scene/${name}.exr)
    message(FATAL_ERROR "scene: status ${status}, no picture of ${name}\n${out}${err}")
  endif()
endforeach()
foreach(force "" "--force")
  file(REMOVE_RECURSE ${WORK}/cut)
  execute_process(COMMAND ${STRATAMIX} preview --cell 8 --aa 1 --out ${WORK}/cut ${force}
                          ${SCENES}/truncated.mi
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(FIND "${err}" "stratamix preview: \"cut\" (${SCENES}/truncated.mi:1:1) has errors" refused)
  if(force STREQUAL "" AND (NOT status EQUAL 1 OR refused EQUAL -1 OR EXISTS ${WORK}/cut))
    message(FATAL_ERROR "an instance with errors: status ${status}\n${out}${err}")
  endif()
  if(force STREQUAL "--force" AND (NOT status EQUAL 0 OR NOT EXISTS ${WORK}/cut/cut.png))
    message(FATAL_ERROR "an instance with errors, --force: status ${status}\n${out}${err}")
  endif()
endforeach()

# --shader renders the instance named, with its own problems alone: the
# other instances' errors neither show nor stop it.
file(REMOVE_RECURSE ${WORK}/chosen)
execute_process(COMMAND ${STRATAMIX} preview --cell 8 --aa 1 --out ${WORK}/chosen
                        --shader flat_grey ${SCENES}/mistakes.mi
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(flat_grey_err "${SCENES}/mistakes.mi:23:1: warning: contrast is left out, so the colour correction reads it as 0: every channel becomes 0.31\n")
if(NOT status EQUAL 0 OR NOT err STREQUAL flat_grey_err OR NOT EXISTS ${WORK}/chosen/flat_grey.png)
  message(FATAL_ERROR "--shader flat_grey: status ${status}\n${out}${err}\nexpected:\n${flat_grey_err}")
endif()
