# Installs the build tree into a fresh prefix, checks the MEX folder and the
# header the README promises, then configures, builds and runs the consumer project against the
# installed package only; a version the package cannot satisfy must be refused.
#   cmake -DBUILD_DIR= -DPREFIX= -DWORK_DIR= -DCONSUMER_SOURCE= -DGENERATOR=
#         -DCXX= -DBUILD_TYPE= -DMEXDIR= -DEXPECTED_MODULES= -DVERSION=
#         [-DBLA_VENDOR=] [-DCXX_FLAGS=] [-DLINKER_FLAGS=]
#         -P install_and_consume.cmake

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}\n${err}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${PREFIX} ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})

# The MEX folder holds exactly the modules built, the help text and BrelvaneEigs.m.
file(GLOB mex_folder RELATIVE ${PREFIX}/${MEXDIR} ${PREFIX}/${MEXDIR}/*)
set(expected ${EXPECTED_MODULES} Brelvane.m BrelvaneEigs.m)
list(SORT mex_folder)
list(SORT expected)
if(NOT mex_folder STREQUAL expected)
  message(FATAL_ERROR "${MEXDIR} holds [${mex_folder}], expected [${expected}]")
endif()

# One header, brelvane/ratio_descent.h, and none of the solver's internals
# declared in it.
file(GLOB_RECURSE headers RELATIVE ${PREFIX}/include ${PREFIX}/include/*)
if(NOT headers STREQUAL "brelvane/ratio_descent.h")
  message(FATAL_ERROR "include/ holds [${headers}], expected [brelvane/ratio_descent.h]")
endif()
file(READ ${PREFIX}/include/brelvane/ratio_descent.h header)
foreach(internal IN ITEMS ratioStep symMatVec dotProduct indexOfMaxAbs ratioDescentWith
                          IterationKernels)
  if(header MATCHES "[^A-Za-z0-9_]${internal}[^A-Za-z0-9_]")
    message(FATAL_ERROR "the installed header names ${internal}, which is internal")
  endif()
endforeach()

set(configure_args -G ${GENERATOR} -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
    -DCMAKE_PREFIX_PATH=${PREFIX} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
    # The build's own global flags (instrumentation, say), which the static
    # library may need at link time.
    "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}")
if(BLA_VENDOR)
  list(APPEND configure_args -DBLA_VENDOR=${BLA_VENDOR})
endif()
run(${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${WORK_DIR}/consumer ${configure_args})
file(STRINGS ${WORK_DIR}/consumer/CMakeCache.txt found REGEX "^Brelvane_DIR:")
string(REGEX REPLACE "^[^=]*=" "" found "${found}")
cmake_path(IS_PREFIX PREFIX "${found}" NORMALIZE inside)
if(NOT inside)
  message(FATAL_ERROR "find_package(Brelvane) found ${found}, not the package in ${PREFIX}")
endif()
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run(${WORK_DIR}/consumer/consumer)
message(STATUS "consumer: ${output}")

execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${WORK_DIR}/too_new ${configure_args}
          -DBRELVANE_REQUIRED_VERSION=99.0
  RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE err)
if(status EQUAL 0 OR NOT err MATCHES "not accepted:.*BrelvaneConfig.cmake, version: ${VERSION}")
  message(FATAL_ERROR "find_package(Brelvane 99.0) was not refused by the version file:\n${err}")
endif()
