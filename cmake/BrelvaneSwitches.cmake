# brelvane_host_switch(<variable> <what> FOUND <condition> MISSING <reason>):
# a cache switch for a part that needs a tool on the build machine, AUTO by
# default. AUTO decides anew at every configure, so a tool installed after
# the first configure is picked up by the next one; ON stops with an error
# when the tool is missing; OFF never builds the part. Sets <variable>_ENABLED
# in the caller and prints the decision.
function(brelvane_host_switch variable what)
  cmake_parse_arguments(ARG "" "MISSING" "FOUND" ${ARGN})
  set(${variable} AUTO CACHE STRING "${what}: AUTO (when the tools are found), ON or OFF")
  set_property(CACHE ${variable} PROPERTY STRINGS AUTO ON OFF)
  # A BOOL entry was left by a tree configured when the switch was a plain
  # option whose default was the detection result of that first configure:
  # it records no choice of the user's.
  get_property(type CACHE ${variable} PROPERTY TYPE)
  if(type STREQUAL "BOOL")
    set_property(CACHE ${variable} PROPERTY TYPE STRING)
    set_property(CACHE ${variable} PROPERTY VALUE AUTO)
    set(${variable} AUTO)
  endif()
  if(${ARG_FOUND})
    set(found ON)
  else()
    set(found OFF)
  endif()
  string(TOUPPER "${${variable}}" choice)
  if(choice STREQUAL "AUTO")
    set(enabled ${found})
    if(found)
      set(reason "found")
    else()
      set(reason "${ARG_MISSING}")
    endif()
  elseif(${variable})
    if(NOT found)
      message(FATAL_ERROR "${variable} is ON, but ${ARG_MISSING}")
    endif()
    set(enabled ON)
    set(reason "${variable}=ON")
  else()
    set(enabled OFF)
    set(reason "${variable}=${${variable}}")
  endif()
  if(enabled)
    message(STATUS "${what}: yes (${reason})")
  else()
    message(STATUS "${what}: no (${reason})")
  endif()
  set(${variable}_ENABLED ${enabled} PARENT_SCOPE)
endfunction()

# find_program for a switch above: a path cached by an earlier configure is
# searched for again once the program is gone from it.
macro(brelvane_find_tool variable)
  if(${variable} AND NOT EXISTS "${${variable}}")
    unset(${variable} CACHE)
  endif()
  find_program(${variable} ${ARGN})
endmacro()
