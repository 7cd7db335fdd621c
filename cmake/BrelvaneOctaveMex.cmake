# brelvane_add_octave_mex(<target> LIBRARIES <libraries>...): a MEX module for
# GNU Octave with the suffix .mex, linked the way mkoctfile --mex links it; the
# libraries come before Octave's BLAS, which they may call.

include(BrelvaneSwitches)
brelvane_find_tool(BRELVANE_MKOCTFILE NAMES mkoctfile DOC "Octave's mkoctfile")

function(_brelvane_mkoctfile_query variable name)
  execute_process(COMMAND ${BRELVANE_MKOCTFILE} -p ${name}
                  OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(value UNIX_COMMAND "${value}")
  set(${variable} ${value} PARENT_SCOPE)
endfunction()

function(brelvane_add_octave_mex target)
  cmake_parse_arguments(ARG "" "" "LIBRARIES" ${ARGN})
  # The mx/mex symbols stay undefined: Octave's process provides them when it
  # loads the module, which is why mkoctfile links no Octave library either.
  _brelvane_mkoctfile_query(dl_ldflags DL_LDFLAGS)
  # Octave's own BLAS (32-bit integers, dsymv_), so the module and Octave
  # share one library.
  _brelvane_mkoctfile_query(blas_libs BLAS_LIBS)
  add_library(${target} MODULE)
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".mex")
  # Static libraries linked in stay private to the module: mexFunction is
  # its only export. Apple's linker has no --exclude-libs; it is given the
  # one symbol to export instead (with the underscore of Mach-O C names).
  if(APPLE)
    target_link_options(${target} PRIVATE ${dl_ldflags} -Wl,-exported_symbol,_mexFunction)
  else()
    target_link_options(${target} PRIVATE ${dl_ldflags} -Wl,--exclude-libs,ALL)
  endif()
  target_link_libraries(${target} PRIVATE ${ARG_LIBRARIES} ${blas_libs})
endfunction()
