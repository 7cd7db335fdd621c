# Cross-builds the Windows module straight from the toolchain file, with no
# other setting, as the README tells users to, into a scratch folder: it must
# default to an optimised build, and the module's tables must match those of
# the module the native tree cross-built.
#   cmake -DSOURCE_DIR= -DWORK_DIR= -DGENERATOR= -DOBJDUMP= -DREFERENCE= -P direct_windows_build.cmake
cmake_minimum_required(VERSION 3.25)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}")
  endif()
endfunction()

# Nothing from the environment may stand in for a setting the user did not make.
foreach(variable IN ITEMS CMAKE_BUILD_TYPE CMAKE_TOOLCHAIN_FILE CMAKE_GENERATOR CXXFLAGS CFLAGS
                          LDFLAGS BLA_VENDOR)
  unset(ENV{${variable}})
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR} -G ${GENERATOR}
    -DCMAKE_TOOLCHAIN_FILE=${SOURCE_DIR}/cmake/MinGW-w64-x86_64.cmake)
# Named no build type: the module must still be optimised.
file(STRINGS ${WORK_DIR}/CMakeCache.txt build_type REGEX "^CMAKE_BUILD_TYPE:")
if(NOT build_type STREQUAL "CMAKE_BUILD_TYPE:STRING=Release")
  message(FATAL_ERROR "no build type given, the cache holds ${build_type}, not Release")
endif()
run(${CMAKE_COMMAND} --build ${WORK_DIR})
run(${CMAKE_COMMAND} -DOBJDUMP=${OBJDUMP} -DMODULE=${WORK_DIR}/gateway/Brelvane.mexw64
    -DSAME_IMPORTS_AS=${REFERENCE} -P ${CMAKE_CURRENT_LIST_DIR}/check_module_tables.cmake)
