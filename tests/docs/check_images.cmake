# The manual's pictures are what the plug-in renders now: docs/make-images.sh
# renders them again into WORK, and every file must equal the checked-in one
# byte for byte, with none missing or left over. After an intended change,
# run docs/make-images.sh and look at the pictures before committing.
#   SOURCE_DIR  the source tree;  STRATAMIX  the tool;  WORK  a scratch folder
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -E env STRATAMIX=${STRATAMIX}
                        ${SOURCE_DIR}/docs/make-images.sh ${WORK}
                RESULT_VARIABLE status ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "docs/make-images.sh failed (${status}):\n${err}")
endif()
file(GLOB made RELATIVE ${WORK} ${WORK}/*.png)
file(GLOB kept RELATIVE ${SOURCE_DIR}/docs/images ${SOURCE_DIR}/docs/images/*.png)
if(NOT made STREQUAL kept)
  message(FATAL_ERROR "docs/images holds [${kept}], the script makes [${made}]")
endif()
set(stale "")
foreach(name IN LISTS made)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/${name}
                          ${SOURCE_DIR}/docs/images/${name}
                  RESULT_VARIABLE differs)
  if(differs)
    list(APPEND stale ${name})
  endif()
endforeach()
if(stale)
  message(FATAL_ERROR "docs/images is not what the plug-in renders now: [${stale}]; "
                      "run docs/make-images.sh and look at the pictures")
endif()
list(LENGTH made count)
message(STATUS "docs/images: ${count} pictures as the plug-in renders them")
