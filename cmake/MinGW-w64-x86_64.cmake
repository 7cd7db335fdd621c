# Toolchain: cross-compile for 64-bit Windows with MinGW-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_brelvane_triple x86_64-w64-mingw32)
# Debian installs two variants side by side and names them by thread model;
# the posix one is taken where it exists, else the plain name that other
# distributions (and Debian's alternatives link) give the compiler.
find_program(BRELVANE_MINGW_CXX NAMES ${_brelvane_triple}-g++-posix ${_brelvane_triple}-g++)
if(NOT BRELVANE_MINGW_CXX)
  message(FATAL_ERROR "MinGW-w64 not found: neither ${_brelvane_triple}-g++-posix nor "
                      "${_brelvane_triple}-g++ is on the PATH")
endif()
set(CMAKE_CXX_COMPILER ${BRELVANE_MINGW_CXX})
string(REGEX REPLACE "g\\+\\+(-posix|)$" "gcc\\1" CMAKE_C_COMPILER ${BRELVANE_MINGW_CXX})
set(CMAKE_RC_COMPILER ${_brelvane_triple}-windres)
set(CMAKE_DLLTOOL ${_brelvane_triple}-dlltool)
set(CMAKE_OBJDUMP ${_brelvane_triple}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${_brelvane_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
