# Asserts the DLL tables of Brelvane.mexw64 (cmake -DOBJDUMP=... -DMODULE=...
# [-DSAME_IMPORTS_AS=<other module>] [-DUNWOUND_OBJECTS=<object>|<object>...] -P):
# mexFunction is the only export; the only DLLs imported are MATLAB's libmx,
# libmex and libmwblas and Windows system DLLs; dsymv comes from libmwblas.dll;
# the help file Brelvane.m sits next to the module; if given, the other module
# imports exactly the same functions from the same DLLs; and, if given, no
# function of the objects carries an exception handler: MATLAB leaves a MEX
# call on an error by unwinding through our frames (the gateway's, and the
# solver's when its allocator call-backs raise one), which must not hand its
# exception to GCC's personality routine for cleanups.
cmake_minimum_required(VERSION 3.25)

function(dump_tables module variable)
  execute_process(COMMAND ${OBJDUMP} -p ${module}
                  OUTPUT_VARIABLE dump RESULT_VARIABLE failed COMMAND_ECHO NONE)
  if(failed)
    message(FATAL_ERROR "${OBJDUMP} -p ${module} failed")
  endif()
  set(${variable} "${dump}" PARENT_SCOPE)
endfunction()

# "<dll> <function>" for every import, sorted: the member lines of each
# "DLL Name:" block read "<vma> <hint> <name>".
function(import_list dump variable)
  string(REGEX MATCHALL "DLL Name: [^\n]+(\n\t[^\n]+)*" blocks "${dump}")
  set(list)
  foreach(block IN LISTS blocks)
    string(REGEX MATCH "DLL Name: ([^\n]+)" _ "${block}")
    set(dll ${CMAKE_MATCH_1})
    string(REGEX MATCHALL "\n\t[0-9a-f]+\t +[0-9]+ +[^ \n]+" members "${block}")
    foreach(member IN LISTS members)
      string(REGEX REPLACE ".* " "" member "${member}")
      list(APPEND list "${dll} ${member}")
    endforeach()
  endforeach()
  list(SORT list)
  set(${variable} "${list}" PARENT_SCOPE)
endfunction()

dump_tables(${MODULE} dump)

# The export names are listed in the "[Ordinal/Name Pointer] Table".
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table(\n\t[^\n]*)*" names "${dump}")
string(REGEX MATCHALL "\n\t\\[ *[0-9]+\\] [^\n]*" exports "${names}")
string(REGEX REPLACE "\n\t\\[ *[0-9]+\\] " "" exports "${exports}")
if(NOT exports STREQUAL "mexFunction")
  message(FATAL_ERROR "exports are '${exports}', expected only mexFunction")
endif()

# Import blocks: "DLL Name: <dll>" followed by its member lines.
string(REGEX MATCHALL "DLL Name: [^\n]+(\n\t[^\n]+)*" blocks "${dump}")
set(allowed "libmx.dll;libmex.dll;libmwblas.dll;KERNEL32.dll;msvcrt.dll")
foreach(block IN LISTS blocks)
  string(REGEX MATCH "DLL Name: ([^\n]+)" _ "${block}")
  set(dll ${CMAKE_MATCH_1})
  list(APPEND imported ${dll})
  if(NOT dll IN_LIST allowed AND NOT dll MATCHES "^api-ms-win-crt-")
    message(FATAL_ERROR "imports from ${dll}, which is neither MATLAB's nor Windows'")
  endif()
  if(block MATCHES "[ \t]dsymv_?(\n|$)" AND NOT dll STREQUAL "libmwblas.dll")
    message(FATAL_ERROR "dsymv is imported from ${dll}, not libmwblas.dll")
  endif()
  if(dll STREQUAL "libmwblas.dll" AND NOT block MATCHES "[ \t]dsymv(\n|$)")
    message(FATAL_ERROR "libmwblas.dll is imported without dsymv")
  endif()
endforeach()
foreach(dll IN ITEMS libmx.dll libmex.dll libmwblas.dll)
  if(NOT dll IN_LIST imported)
    message(FATAL_ERROR "${dll} is not imported (imports: ${imported})")
  endif()
endforeach()

string(REPLACE "|" ";" unwound_objects "${UNWOUND_OBJECTS}")
foreach(object IN LISTS unwound_objects)
  execute_process(COMMAND ${OBJDUMP} -x ${object}
                  OUTPUT_VARIABLE object_dump RESULT_VARIABLE failed COMMAND_ECHO NONE)
  if(failed OR NOT object_dump MATCHES "Dump of \\.xdata")
    message(FATAL_ERROR "${OBJDUMP} -x ${object} failed or shows no unwind data")
  endif()
  if(object_dump MATCHES "UNW_FLAG_[EU]HANDLER|__gxx_personality")
    message(FATAL_ERROR "a function of ${object} has an exception handler: "
                        "something with a destructor or a catch is in its frames")
  endif()
endforeach()

get_filename_component(module_dir ${MODULE} DIRECTORY)
if(NOT EXISTS ${module_dir}/Brelvane.m)
  message(FATAL_ERROR "no Brelvane.m next to ${MODULE}")
endif()
if(SAME_IMPORTS_AS)
  dump_tables(${SAME_IMPORTS_AS} other_dump)
  import_list("${dump}" these)
  import_list("${other_dump}" those)
  if(NOT these STREQUAL those)
    list(REMOVE_ITEM these ${those})
    import_list("${dump}" all)
    list(REMOVE_ITEM those ${all})
    message(FATAL_ERROR "imports differ from ${SAME_IMPORTS_AS}: only here [${these}], "
                        "only there [${those}]")
  endif()
endif()
message(STATUS "exports: ${exports}; imports: ${imported}")
