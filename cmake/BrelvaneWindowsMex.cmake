# Helpers for building Windows DLLs with MinGW-w64 against MATLAB's libraries.

# Import library lib<name>.dll.a for <name>.dll made from a .def file, as the
# imported target Brelvane::<name>; no DLL of the host is needed to link.
function(brelvane_import_library name def)
  set(lib ${CMAKE_CURRENT_BINARY_DIR}/${name}.dll.a)
  add_custom_command(OUTPUT ${lib}
    COMMAND ${CMAKE_DLLTOOL} --input-def ${def} --dllname ${name}.dll --output-lib ${lib}
    DEPENDS ${def} VERBATIM)
  add_custom_target(brelvane_${name}_import DEPENDS ${lib})
  add_library(Brelvane::${name} UNKNOWN IMPORTED GLOBAL)
  set_target_properties(Brelvane::${name} PROPERTIES IMPORTED_LOCATION ${lib})
  add_dependencies(Brelvane::${name} brelvane_${name}_import)
endfunction()

# The C and C++ runtimes linked in, so the DLL needs no MinGW DLL at load time
# (a missing one makes MATLAB report "Invalid MEX-file").
function(brelvane_static_windows_runtime target)
  target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
endfunction()
