# The example asset is what its script makes, and small: bake/examples/
# make_vase.py writes it again into WORK, and the two must be the same bytes,
# under 200 KB.
#   SOURCE_DIR  the source tree;  PYTHON  the interpreter;  WORK  a scratch file
execute_process(COMMAND ${PYTHON} ${SOURCE_DIR}/bake/examples/make_vase.py ${WORK}
                RESULT_VARIABLE status ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "make_vase.py failed (${status}):\n${err}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}
                        ${SOURCE_DIR}/bake/examples/vase.obj
                RESULT_VARIABLE differs)
if(differs)
  message(FATAL_ERROR "bake/examples/vase.obj is not what make_vase.py makes; run it again")
endif()
file(SIZE ${SOURCE_DIR}/bake/examples/vase.obj bytes)
if(bytes GREATER_EQUAL 204800)
  message(FATAL_ERROR "bake/examples/vase.obj is ${bytes} bytes, over 200 KB")
endif()
message(STATUS "bake/examples/vase.obj: as its script makes it, ${bytes} bytes")
