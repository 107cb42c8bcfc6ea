# Runs each row of a table of `stratamix check` and `convert` command lines in the folder
# of the table's scenes and compares the exit status, standard output and
# standard error with the expected ones, byte for byte.
#   STRATAMIX  the tool;  EMULATOR  the command that runs a cross-built tool,
#   "|"-separated (optional);  TABLE  the rows;  SHADER_DIR  what the table's
#   @SHADER_DIR@ stands for (the declaration's folder)
string(REPLACE "|" ";" emulator "${EMULATOR}")
get_filename_component(dir ${TABLE} DIRECTORY)
file(STRINGS ${TABLE} rows REGEX "^[^#]")
set(failed "")
foreach(row IN LISTS rows)
  string(CONFIGURE "${row}" row @ONLY)
  if(NOT row MATCHES "^(.*) \\| ([0-9]+) \\| ([^ ]+) \\| ([^ ]+)$")
    message(FATAL_ERROR "${TABLE}: not 'arguments | status | stdout | stderr': ${row}")
  endif()
  set(command_line "${CMAKE_MATCH_1}")
  set(want_status ${CMAKE_MATCH_2})
  set(want_out "")
  set(want_err "")
  if(NOT CMAKE_MATCH_3 STREQUAL "-")
    file(READ ${dir}/expected/${CMAKE_MATCH_3} want_out)
  endif()
  if(NOT CMAKE_MATCH_4 STREQUAL "-")
    file(READ ${dir}/expected/${CMAKE_MATCH_4} want_err)
  endif()
  separate_arguments(arguments UNIX_COMMAND "${command_line}")
  execute_process(
    COMMAND ${emulator} ${STRATAMIX} ${arguments}
    WORKING_DIRECTORY ${dir}
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err
    RESULT_VARIABLE status)
  if(NOT status EQUAL want_status)
    string(APPEND failed "${command_line}: exit status ${status}, expected ${want_status}\n${err}")
  endif()
  if(NOT out STREQUAL want_out)
    string(APPEND failed "${command_line}: standard output differs:\n${out}")
  endif()
  if(NOT err STREQUAL want_err)
    string(APPEND failed "${command_line}: standard error differs:\n${err}")
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "${failed}")
endif()
