# Compiler settings shared by every target that compiles solver arithmetic,
# and the solver's sources.

# brelvane_read_make_list(<file>): each line "NAME := words" of <file> sets
# the list NAME in the caller, "NAME += words" appends to it; anything after
# a # is a comment. That much of make's syntax lets solver/sources.mk be
# both read here and included by the Octave package's Makefile.
function(brelvane_read_make_list file)
  file(STRINGS ${file} lines REGEX "^[A-Za-z0-9_]+ *[:+]=")
  set(names)
  foreach(line IN LISTS lines)
    string(REGEX MATCH "^([A-Za-z0-9_]+) *([:+])=([^#]*)" line "${line}")
    set(name ${CMAKE_MATCH_1})
    set(operator ${CMAKE_MATCH_2})
    separate_arguments(words UNIX_COMMAND "${CMAKE_MATCH_3}")
    if(operator STREQUAL ":")
      set(${name} ${words})
    else()
      list(APPEND ${name} ${words})
    endif()
    list(APPEND names ${name})
  endforeach()
  list(REMOVE_DUPLICATES names)
  foreach(name IN LISTS names)
    set(${name} "${${name}}" PARENT_SCOPE)
  endforeach()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
endfunction()

# BRELVANE_SOURCES, BRELVANE_HEADERS, BRELVANE_PUBLIC_HEADERS,
# BRELVANE_EXACT_FLOAT_FLAGS, BRELVANE_X86_SOURCES, BRELVANE_X86_DEFINES and
# BRELVANE_ISA_<name>: see the file.
brelvane_read_make_list(${CMAKE_CURRENT_LIST_DIR}/../solver/sources.mk)
# BRELVANE_GATEWAY_SOURCES and BRELVANE_GATEWAY_HEADERS, relative to gateway/.
brelvane_read_make_list(${CMAKE_CURRENT_LIST_DIR}/../gateway/gateway_sources.mk)
list(TRANSFORM BRELVANE_GATEWAY_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/../gateway/
     OUTPUT_VARIABLE BRELVANE_GATEWAY_SOURCE_PATHS)

# Results are defined bit for bit: no fused multiply-add, no reassociation.
function(brelvane_exact_float target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /fp:precise)
  else()
    target_compile_options(${target} PRIVATE ${BRELVANE_EXACT_FLOAT_FLAGS})
  endif()
endfunction()

function(brelvane_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wconversion -Wshadow)
  endif()
endfunction()
