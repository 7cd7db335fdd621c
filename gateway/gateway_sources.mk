# The gateway's sources, relative to gateway/, written once: the CMake build
# reads this file (cmake/BrelvaneFlags.cmake) and the Octave package's
# Makefile includes it beside the solver's sources.mk, so it holds only "NAME := words" and "NAME += words"
# lines and comments.
BRELVANE_GATEWAY_SOURCES := mex_function.cpp arguments.cpp host.cpp eigenpairs_function.cpp
BRELVANE_GATEWAY_HEADERS := mex_api.h arguments.h host.h eigenpairs_function.h
