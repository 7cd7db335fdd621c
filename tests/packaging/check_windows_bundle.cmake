# The MATLAB zip unpacks to one folder Brelvane/ holding exactly the module as
# built, its help text, BrelvaneEigs.m, the licence and a README for this version.
#   cmake -DZIP= -DMODULE= -DHELP= -DLICENSE= -DVERSION= -DWORK_DIR=
#         -P check_windows_bundle.cmake
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${ZIP} WORKING_DIRECTORY ${WORK_DIR}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cannot unpack ${ZIP}")
endif()

file(GLOB_RECURSE contents RELATIVE ${WORK_DIR} ${WORK_DIR}/*)
list(SORT contents)
set(expected Brelvane/Brelvane.m Brelvane/Brelvane.mexw64 Brelvane/BrelvaneEigs.m Brelvane/LICENSE.txt
    Brelvane/README.txt)
if(NOT contents STREQUAL expected)
  message(FATAL_ERROR "${ZIP} holds [${contents}], expected [${expected}]")
endif()

get_filename_component(help_folder ${HELP} DIRECTORY)
foreach(pair IN ITEMS "Brelvane.mexw64;${MODULE}" "Brelvane.m;${HELP}"
                      "BrelvaneEigs.m;${help_folder}/BrelvaneEigs.m" "LICENSE.txt;${LICENSE}")
  list(GET pair 0 name)
  list(GET pair 1 original)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK_DIR}/Brelvane/${name} ${original}
                  RESULT_VARIABLE differ)
  if(differ)
    message(FATAL_ERROR "Brelvane/${name} in the zip differs from ${original}")
  endif()
endforeach()

file(READ ${WORK_DIR}/Brelvane/README.txt readme)
if(NOT readme MATCHES "Brelvane ${VERSION} for MATLAB" OR NOT readme MATCHES "addpath")
  message(FATAL_ERROR "README.txt does not name version ${VERSION} or say how to add the path")
endif()
message(STATUS "${ZIP}: ${contents}")
