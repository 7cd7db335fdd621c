# Runs a command as on a fresh machine, with HOME an empty folder, and fails
# if it fails or if any line it prints begins with "error:" or "warning:".
#   cmake -DHOME_DIR= "-DCOMMAND=<program>;<arguments>..." -P expect_quiet_run.cmake
file(REMOVE_RECURSE ${HOME_DIR})
file(MAKE_DIRECTORY ${HOME_DIR})
set(ENV{HOME} ${HOME_DIR})
unset(ENV{XDG_CONFIG_HOME})
unset(ENV{XDG_DATA_HOME})
unset(ENV{XDG_STATE_HOME})
execute_process(COMMAND ${COMMAND} RESULT_VARIABLE status
                OUTPUT_VARIABLE output ERROR_VARIABLE output)
message("${output}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "exit status ${status}")
endif()
string(REGEX MATCHALL "(^|\n)(error|warning):[^\n]*" complaints "${output}")
if(complaints)
  message(FATAL_ERROR "lines beginning with error: or warning: in the output:${complaints}")
endif()
