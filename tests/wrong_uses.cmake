# The one runner of a tool's table of wrong uses. Each row is "arguments |
# exit status | how the one line of message begins" (where the usage is may
# follow on that line); the tool runs in WORK, so that its default folder
# "out" lies there, and must leave nothing behind: no folder WORK/out and no
# file that one of the LEFT globs matches.
#   check_wrong_uses(TOOL stratamix COMMAND bake WORK dir ROWS row... LEFT glob...)
function(check_wrong_uses)
  cmake_parse_arguments(PARSE_ARGV 0 use "" "TOOL;COMMAND;WORK" "ROWS;LEFT")
  set(failed "")
  foreach(row IN LISTS use_ROWS)
    string(REPLACE "|" ";" fields "${row}")
    list(GET fields 0 command_line)
    list(GET fields 1 want_status)
    list(GET fields 2 want_message)
    string(STRIP "${want_status}" want_status)
    string(REGEX REPLACE "^ " "" want_message "${want_message}")
    separate_arguments(arguments UNIX_COMMAND "${command_line}")
    # A FIFO or a device read as an input would never end.
    execute_process(COMMAND ${use_TOOL} ${use_COMMAND} ${arguments}
                    WORKING_DIRECTORY ${use_WORK} TIMEOUT 60
                    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    string(FIND "${err}" "${want_message}" at)
    string(REGEX MATCHALL "\n" lines "${err}")
    list(LENGTH lines count)
    file(GLOB_RECURSE left ${use_LEFT})
    if(NOT status EQUAL want_status OR NOT at EQUAL 0 OR NOT count EQUAL 1 OR left
       OR EXISTS ${use_WORK}/out)
      string(APPEND failed "${use_COMMAND} ${command_line}: status ${status}, expected "
                           "${want_status} and one line of message beginning "
                           "'${want_message}'; got:\n${err}${out}files left: ${left}\n\n")
      file(REMOVE_RECURSE ${use_WORK}/out ${left})
    endif()
  endforeach()
  if(failed)
    message(FATAL_ERROR "${failed}")
  endif()
endfunction()
