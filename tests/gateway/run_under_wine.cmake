# Runs Brelvane.mexw64 under Wine against the native solver (cmake -DWINE=...
# -DWRITER=... -DHOST_DIR=... -DMODULE=... -DWINEPREFIX=... -P; BRELVANE_SEED in the
# environment replays a seed):
# the native program writes problems with its answers, the Windows host in
# HOST_DIR (beside the stand-in libmx, libmex and libmwblas) replays them.
cmake_minimum_required(VERSION 3.25)
set(cases ${HOST_DIR}/cases.txt)
set(seed_argument)
if(DEFINED ENV{BRELVANE_SEED})
  set(seed_argument $ENV{BRELVANE_SEED})
endif()
execute_process(COMMAND ${WRITER} ${cases} ${seed_argument} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "writing the problems failed")
endif()

# A prefix of our own, made on first use: no X display, no Mono or Gecko.
set(ENV{WINEPREFIX} ${WINEPREFIX})
set(ENV{WINEDEBUG} -all)
set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml=")
unset(ENV{DISPLAY})
# Relative paths, so that Wine's path mapping plays no part; the host's own
# folder is searched first for the module's DLLs.
file(RELATIVE_PATH module ${HOST_DIR} ${MODULE})
execute_process(COMMAND ${WINE} brelvane_wine_host.exe ${module} cases.txt
                WORKING_DIRECTORY ${HOST_DIR} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "the Windows host reported failures (exit status ${failed})")
endif()
