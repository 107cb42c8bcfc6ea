# stratamix bake on the command line: each wrong use gets one message naming
# its problem, its exit status, and leaves no map; a bake writes its maps,
# names them and reports its figures, with a warning for the triangles it
# leaves out.
#   STRATAMIX  the tool;  WORK  a scratch folder;  MESH  the example mesh
#   VERSION_TWO  a plug-in that follows interface version 2
#   SCENES  the small scenes of the scene reader's tests;  SHADER_DIR  the
#   declaration's folder
include(${CMAKE_CURRENT_LIST_DIR}/../wrong_uses.cmake)

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

file(WRITE ${WORK}/good.preset "baseColor = checker(4)\n")
file(WRITE ${WORK}/bad.preset "blendEnable = on\nblendMod = 15\n")
file(WRITE ${WORK}/normal-out.preset "normalEnable = on\noutputNormal = on\n")
file(WRITE ${WORK}/missing-texture.preset "gamma = 1\nbaseColor = texture(\"none.png\")\n")
file(WRITE ${WORK}/folder-texture.preset "baseColor = texture(\"folder.png\")\n")
file(WRITE ${WORK}/text-texture.preset "baseColor = texture(\"notes.png\")\n")
file(MAKE_DIRECTORY ${WORK}/folder.png)
file(WRITE ${WORK}/notes.png "not an image\n")
file(WRITE ${WORK}/notes.obj "these are not\nvertices at all\n")
file(WRITE ${WORK}/no-uv.obj "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n")
file(WRITE ${WORK}/outside.obj "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 11 0\nvt 12 0\nvt 11 1\nf 1/1 2/2 3/3\n")
file(WRITE ${WORK}/file "")

# Arguments | exit status | how the one line of message begins, each run in
# WORK (tests/wrong_uses.cmake).
set(small "--mesh ${MESH} --size 8 --aa 1")
set(rows
  "${WORK}/missing.preset ${small} | 1 | stratamix bake: ${WORK}/missing.preset: no such file"
  "${WORK}/bad.preset ${small} | 1 | stratamix bake: ${WORK}/bad.preset: line 2: unknown parameter 'blendMod'"
  "${WORK}/missing-texture.preset ${small} | 1 | stratamix bake: ${WORK}/missing-texture.preset: line 2: texture \"none.png\": Could not open file"
  "${WORK}/folder-texture.preset ${small} | 1 | stratamix bake: ${WORK}/folder-texture.preset: line 1: texture \"folder.png\": not a regular file (a folder)"
  "${WORK}/text-texture.preset ${small} | 1 | stratamix bake: ${WORK}/text-texture.preset: line 1: texture \"notes.png\": Not a PNG file"
  "${WORK}/normal-out.preset ${small} | 1 | stratamix bake: ${WORK}/normal-out.preset: its calls write only outNormal"
  "${WORK}/good.preset --mesh ${WORK}/none.obj | 1 | stratamix bake: ${WORK}/none.obj: no such file"
  "${WORK}/good.preset --mesh ${WORK}/notes.obj | 1 | stratamix bake: ${WORK}/notes.obj: "
  "${WORK}/good.preset --mesh ${WORK}/no-uv.obj | 1 | stratamix bake: ${WORK}/no-uv.obj: mesh 0 has no UVs"
  "${WORK}/good.preset --mesh ${WORK} | 1 | stratamix bake: ${WORK}: not a regular file"
  "${WORK}/good.preset ${small} --out ${WORK}/file/out | 1 | stratamix bake: cannot make the output folder ${WORK}/file/out: "
  "${WORK}/good.preset ${small} --maps colour | 2 | stratamix bake: --maps 'colour' is not a map (color, normal, object-normal, coverage)"
  "${WORK}/good.preset ${small} --maps color,color | 2 | stratamix bake: --maps 'color' is given twice"
  "${WORK}/good.preset ${small} --size 0 | 2 | stratamix bake: --size takes a whole number from 1 to 16384, not '0'"
  "${WORK}/good.preset ${small} --aa 9 | 2 | stratamix bake: --aa takes a whole number from 1 to 8, not '9'"
  "${WORK}/good.preset ${small} --normal-y sideways | 2 | stratamix bake: --normal-y is up or down, not 'sideways'"
  "${WORK}/good.preset | 2 | stratamix bake: --mesh is required"
  "${small} | 2 | stratamix bake: look is required"
  "${WORK}/good.preset ${small} --plugin ${VERSION_TWO} | 2 | stratamix bake: ${VERSION_TWO} follows interface version 2"
  "${WORK}/good.preset ${small} --plugin ${WORK}/none.so | 2 | stratamix bake: cannot load plug-in ${WORK}/none.so: "
  "${SCENES}/looks.mi ${small} -I ${SHADER_DIR} | 1 | stratamix bake: ${SCENES}/looks.mi holds 3 strataMix instances (\"rust_layer\", \"panel_normals\", \"panel_look\"): name one with --shader"
  "${SCENES}/looks.mi ${small} -I ${SHADER_DIR} --shader rust | 1 | stratamix bake: ${SCENES}/looks.mi holds no strataMix instance \"rust\" (\"rust_layer\", "
  "${SCENES}/looks.mi ${small} -I ${SHADER_DIR} --shader rust_layer --connect layerColor | 2 | stratamix bake: --connect layerColor: expected PARAMETER=PATTERN"
  "${SCENES}/looks.mi ${small} -I ${SHADER_DIR} --shader panel_normals | 1 | stratamix bake: ${SCENES}/looks.mi \"panel_normals\": its calls write only outNormal")
check_wrong_uses(TOOL ${STRATAMIX} COMMAND bake WORK ${WORK} ROWS ${rows} LEFT ${WORK}/*.exr ${WORK}/*.partial)

# A bake: its files named on standard output, one each, then the figures.
execute_process(COMMAND ${STRATAMIX} bake ${WORK}/good.preset --mesh ${MESH} --size 16 --aa 1
                        --maps color,coverage --out ${WORK}/out
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(files "")
foreach(file good_color.1001.exr good_color.1001.png good_coverage.1001.exr good_coverage.1001.png)
  string(APPEND files "${WORK}/out/${file}\n")
endforeach()
if(NOT status EQUAL 0 OR NOT err STREQUAL ""
   OR NOT out MATCHES "^${files}good on ${MESH}: 1 tile, [0-9,]+ samples in [0-9.]+ s \\(shading [0-9.]+ s\\), [0-9.]+ M samples/s shading on [0-9]+ threads?\n$")
  message(FATAL_ERROR "bake: status ${status}, unexpected report:\n${out}${err}")
endif()
file(GLOB written ${WORK}/out/*)
list(LENGTH written count)
if(NOT count EQUAL 4)
  message(FATAL_ERROR "bake: ${count} files in the output folder, not the 4 named:\n${written}")
endif()

# A triangle whose UVs lie beyond the tiles is left out, with a warning;
# with nothing left there is no map to bake.
execute_process(COMMAND ${STRATAMIX} bake ${WORK}/good.preset --mesh ${WORK}/outside.obj --size 8
                        --out ${WORK}/outside
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(expected "stratamix bake: warning: ${WORK}/outside.obj: 1 triangle with UVs outside 0 to 10, or not numbers, left out\nstratamix bake: ${WORK}/outside.obj: no triangle has its UVs in the tiles 0 to 10\n")
if(NOT status EQUAL 1 OR NOT err STREQUAL expected OR EXISTS ${WORK}/outside)
  message(FATAL_ERROR "outside the tiles: status ${status}, messages:\n${err}\nexpected:\n${expected}")
endif()

# A scene's instance bakes as a preset does, its maps named after it; a
# connected parameter is named in a warning, here with a pattern standing in.
execute_process(COMMAND ${STRATAMIX} bake ${SCENES}/looks.mi --shader rust_layer -I ${SHADER_DIR}
                        --connect "layerColor=checker(4)" --mesh ${MESH} --size 8 --aa 1
                        --maps color --out ${WORK}/scene
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(expected_err "stratamix bake: warning: \"rust_layer\": layerColor = 'rust_tex.outColor' in the scene; the pattern given with --connect stands in\n")
if(NOT status EQUAL 0 OR NOT err STREQUAL expected_err
   OR NOT out MATCHES "^${WORK}/scene/rust_layer_color.1001.exr\n${WORK}/scene/rust_layer_color.1001.png\nrust_layer on ")
  message(FATAL_ERROR "bake of a scene's instance: status ${status}\n${out}${err}\nexpected:\n${expected_err}")
endif()

message(STATUS "stratamix bake: messages, maps and figures as expected")
