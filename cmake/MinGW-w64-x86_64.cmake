# Toolchain: cross-compile for 64-bit Windows with MinGW-w64 (posix threads variant).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_brelvane_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_brelvane_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_brelvane_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_brelvane_triple}-windres)
set(CMAKE_DLLTOOL ${_brelvane_triple}-dlltool)
set(CMAKE_OBJDUMP ${_brelvane_triple}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${_brelvane_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
