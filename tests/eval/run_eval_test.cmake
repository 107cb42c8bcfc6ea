# Runs `stratamix eval` over a file of cases and compares its answers, its
# messages and its exit status with the expected ones, byte for byte.
#   STRATAMIX  the tool;  CASES  the cases;  EXPECTED  the expected answers
#   ERRORS     the expected messages (optional: none expected without it)
#   STATUS     the expected exit status (optional, default 1)
#   EMULATOR   the command that runs a cross-built tool, "|"-separated (optional)
if(NOT DEFINED STATUS)
  set(STATUS 1)
endif()
string(REPLACE "|" ";" emulator "${EMULATOR}")
execute_process(
  COMMAND ${emulator} ${STRATAMIX} eval
  INPUT_FILE ${CASES}
  OUTPUT_VARIABLE answers
  ERROR_VARIABLE messages
  RESULT_VARIABLE status)
file(READ ${EXPECTED} expected_answers)
set(expected_messages "")
if(DEFINED ERRORS)
  file(READ ${ERRORS} expected_messages)
endif()
if(NOT status EQUAL STATUS)
  message(FATAL_ERROR "exit status ${status}, expected ${STATUS}\n${messages}")
endif()
if(NOT answers STREQUAL expected_answers)
  message(FATAL_ERROR "answers differ from ${EXPECTED}:\n${answers}")
endif()
if(NOT messages STREQUAL expected_messages)
  message(FATAL_ERROR "messages differ from ${ERRORS}:\n${messages}")
endif()
message(STATUS "stratamix eval: answers and messages as expected")
