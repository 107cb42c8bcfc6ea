# Answers the seeded identity cases with one target's `stratamix eval` (under
# its emulator when cross-built) and keeps the answers for the comparison
# across targets (conformance/check.py, run by tests/run-all.sh).
#
# The conformance pack answers them so too, in both float models (PLUGIN:
# the plug-in of the other model, where not the one beside the tool).
#
#   cmake -DSTRATAMIX=... -DEMULATOR=a|b [-DPLUGIN=...] -DCASES=... -DANSWERS=... -P write_answers.cmake
string(REPLACE "|" ";" emulator "${EMULATOR}")
set(plugin "")
if(DEFINED PLUGIN)
  set(plugin --plugin ${PLUGIN})
endif()
execute_process(
  COMMAND ${emulator} ${STRATAMIX} eval ${plugin}
  INPUT_FILE ${CASES}
  OUTPUT_FILE ${ANSWERS}
  ERROR_VARIABLE messages
  RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT messages STREQUAL "")
  message(FATAL_ERROR "stratamix eval: exit status ${status}, expected 0 and no messages:\n"
                      "${messages}")
endif()
file(STRINGS ${CASES} cases)
file(STRINGS ${ANSWERS} answers)
list(LENGTH cases case_count)
list(LENGTH answers answer_count)
if(NOT case_count EQUAL answer_count)
  message(FATAL_ERROR "${case_count} cases but ${answer_count} answers in ${ANSWERS}")
endif()
message(STATUS "${answer_count} answers written to ${ANSWERS}")
