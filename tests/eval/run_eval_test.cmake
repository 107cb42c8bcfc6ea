# Runs `stratamix eval` over a file of cases and compares its answers, its
# messages and its exit status with the expected ones, byte for byte.
# EMULATOR: the command that runs a cross-built program, "|"-separated.
string(REPLACE "|" ";" emulator "${EMULATOR}")
execute_process(
  COMMAND ${emulator} ${STRATAMIX} eval
  INPUT_FILE ${CASES}
  OUTPUT_VARIABLE answers
  ERROR_VARIABLE messages
  RESULT_VARIABLE status)
file(READ ${EXPECTED} expected_answers)
file(READ ${ERRORS} expected_messages)
if(NOT status EQUAL 1)
  message(FATAL_ERROR "exit status ${status}, expected 1 (the cases include malformed lines)")
endif()
if(NOT answers STREQUAL expected_answers)
  message(FATAL_ERROR "answers differ from ${EXPECTED}:\n${answers}")
endif()
if(NOT messages STREQUAL expected_messages)
  message(FATAL_ERROR "messages differ from ${ERRORS}:\n${messages}")
endif()
message(STATUS "stratamix eval: answers and messages as expected")
