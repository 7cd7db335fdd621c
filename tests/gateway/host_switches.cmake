# The Octave and Windows modules follow the tools installed at each configure:
# a tree first configured without mkoctfile and MinGW-w64 builds both once
# they are there, with no setting changed; asking for the Windows module with
# MinGW-w64 gone (from where an earlier configure found it) is an error.
#   cmake -DSOURCE_DIR= -DWORK_DIR= -DC= -DCXX= -DMAKE= -P host_switches.cmake
cmake_minimum_required(VERSION 3.25)
set(tree ${WORK_DIR}/tree)
file(REMOVE_RECURSE ${WORK_DIR})

# "Not installed": a PATH holding only the assembler and linker the compiler
# runs, and no search of the system's own folders.
set(bin ${WORK_DIR}/bin)
file(MAKE_DIRECTORY ${bin})
foreach(tool IN ITEMS as ld)
  find_program(path_${tool} ${tool} REQUIRED)
  file(CREATE_LINK ${path_${tool}} ${bin}/${tool} SYMBOLIC)
endforeach()
set(real_path "$ENV{PATH}")
set(hidden -DCMAKE_FIND_USE_CMAKE_SYSTEM_PATH=OFF)
set(visible -DCMAKE_FIND_USE_CMAKE_SYSTEM_PATH=ON)

function(configure expect_success path)
  set(ENV{PATH} "${path}")
  execute_process(COMMAND ${CMAKE_COMMAND} ${ARGN}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  set(ENV{PATH} "${real_path}")
  if(expect_success AND NOT status EQUAL 0)
    message(FATAL_ERROR "configure failed: ${ARGN}\n${out}")
  elseif(NOT expect_success AND status EQUAL 0)
    message(FATAL_ERROR "configure succeeded: ${ARGN}\n${out}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

function(expect_targets built)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${tree} --target help
                  OUTPUT_VARIABLE targets COMMAND_ERROR_IS_FATAL ANY)
  foreach(target IN ITEMS brelvane_octave_mex brelvane_windows)
    if(built AND NOT targets MATCHES "\\.\\.\\. ${target}\n")
      message(FATAL_ERROR "${target} is not built although its tools are installed")
    elseif(NOT built AND targets MATCHES "\\.\\.\\. ${target}\n")
      message(FATAL_ERROR "${target} is built although its tools are missing")
    endif()
  endforeach()
endfunction()

configure(ON ${bin} -S ${SOURCE_DIR} -B ${tree} -G "Unix Makefiles" -DCMAKE_MAKE_PROGRAM=${MAKE}
          -DCMAKE_C_COMPILER=${C} -DCMAKE_CXX_COMPILER=${CXX} -DBRELVANE_BUILD_TESTS=OFF
          -DBRELVANE_BUILD_EXAMPLES=OFF -DBRELVANE_INSTALL=OFF ${hidden})
expect_targets(OFF)
configure(ON "${real_path}" ${tree} ${visible})
expect_targets(ON)

configure(OFF ${bin} ${tree} ${hidden} -DBRELVANE_WINDOWS_MEX=ON
          -DBRELVANE_MINGW_CXX=${WORK_DIR}/removed/x86_64-w64-mingw32-g++-posix)
if(NOT output MATCHES "BRELVANE_WINDOWS_MEX is ON, but")
  message(FATAL_ERROR "BRELVANE_WINDOWS_MEX=ON without MinGW-w64 failed for another reason:\n${output}")
endif()
