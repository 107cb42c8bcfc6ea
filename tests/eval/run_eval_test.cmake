# Runs `stratamix eval` over a file of cases and compares its answers, its
# messages and its exit status with the expected ones, byte for byte.
#   STRATAMIX  the tool;  CASES  the cases;  EXPECTED  the expected answers
#   ERRORS     the expected messages (optional: none expected without it)
#   STATUS     the expected exit status (optional, default 1)
#   EMULATOR   the command that runs a cross-built tool, "|"-separated (optional)
#   COMMAND_LINES  tables of wrong command lines, "|"-separated (optional), each to give its
#              exit status and one message naming its problem, and no answer;
#              a row of status 0 gives its one line on standard output instead
#   PROJECT_VERSION, VERSION_TWO  what the table's @PROJECT_VERSION@ and
#              @VERSION_TWO@ stand for
#   HOSTILE    a script that writes the input from CASES, with lines no file
#              in the repository holds (optional); PYTHON runs it, into WORK
if(NOT DEFINED STATUS)
  set(STATUS 1)
endif()
string(REPLACE "|" ";" emulator "${EMULATOR}")
set(input ${CASES})
if(DEFINED HOSTILE)
  file(MAKE_DIRECTORY ${WORK})
  set(input ${WORK}/cases.jsonl)
  execute_process(COMMAND ${PYTHON} ${HOSTILE} ${CASES} ${input} RESULT_VARIABLE written)
  if(NOT written EQUAL 0)
    message(FATAL_ERROR "${HOSTILE} could not write ${input}")
  endif()
endif()
execute_process(
  COMMAND ${emulator} ${STRATAMIX} eval
  INPUT_FILE ${input}
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

if(DEFINED COMMAND_LINES)
  string(REPLACE "|" ";" tables "${COMMAND_LINES}")
  set(failed "")
  foreach(table IN LISTS tables)
    file(STRINGS ${table} rows REGEX "^[^#]")
    foreach(row IN LISTS rows)
      string(CONFIGURE "${row}" row @ONLY)
      if(NOT row MATCHES "^(.*) \\| ([0-9]+) \\| (.*)$")
        message(FATAL_ERROR "${table}: not 'arguments | status | message': ${row}")
      endif()
      set(command_line "${CMAKE_MATCH_1}")
      set(want_status ${CMAKE_MATCH_2})
      set(want_message "${CMAKE_MATCH_3}")
      separate_arguments(arguments UNIX_COMMAND "${command_line}")
      execute_process(
        COMMAND ${emulator} ${STRATAMIX} ${arguments}
        INPUT_FILE ${CASES}
        OUTPUT_VARIABLE answers
        ERROR_VARIABLE messages
        RESULT_VARIABLE status)
      string(FIND "${messages}" "${want_message}" at)
      string(REGEX MATCHALL "\n" named "${messages}")
      list(LENGTH named count)
      if(want_status EQUAL 0)
        if(NOT status EQUAL 0 OR NOT answers STREQUAL "${want_message}\n" OR NOT messages STREQUAL "")
          string(APPEND failed "stratamix ${command_line}: status ${status}, expected 0 and the one "
                               "line '${want_message}'; got:\n${messages}${answers}\n")
        endif()
      elseif(NOT status EQUAL want_status OR NOT at EQUAL 0 OR NOT count EQUAL 1
             OR NOT answers STREQUAL "")
        string(APPEND failed "stratamix ${command_line}: status ${status}, expected ${want_status} "
                             "and one message beginning '${want_message}'; got:\n${messages}${answers}\n")
      endif()
    endforeach()
  endforeach()
  if(failed)
    message(FATAL_ERROR "${failed}")
  endif()
endif()
message(STATUS "stratamix eval: answers and messages as expected")
