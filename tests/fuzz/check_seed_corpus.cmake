# The fuzzer's committed seeds are what fuzz/make_corpus.py writes from the
# description of the contract: a seed laid out by a stale copy of the record
# would feed the fuzzer records no scene makes.
#   PYTHON  MAKE_CORPUS  DESCRIPTION  CORPUS (the committed folder)  WORK
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${PYTHON} ${MAKE_CORPUS} --description ${DESCRIPTION} --output ${WORK}
                RESULT_VARIABLE status ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "make_corpus.py failed (${status}):\n${err}")
endif()
file(GLOB seeds RELATIVE ${WORK} ${WORK}/*)
list(LENGTH seeds count)
if(count EQUAL 0)
  message(FATAL_ERROR "make_corpus.py wrote no seed into ${WORK}")
endif()
set(stale "")
foreach(seed IN LISTS seeds)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/${seed} ${CORPUS}/${seed}
                  RESULT_VARIABLE differs)
  if(NOT differs EQUAL 0)
    list(APPEND stale ${seed})
  endif()
endforeach()
if(stale)
  message(FATAL_ERROR "fuzz/corpus differs from what fuzz/make_corpus.py writes: ${stale}")
endif()
message(STATUS "${count} seeds, each as make_corpus.py writes it")
