# Debian packages the build needs, and a helper that installs the missing ones.
# Sourced by the scripts beside it.

BRELVANE_PACKAGES=(
  g++ cmake make
  libopenblas-dev liblapack-dev libgtest-dev
)
# The Octave module and its host.
BRELVANE_OCTAVE_PACKAGES=(octave liboctave-dev)
# Tests: the Windows module cross-built and run under Wine.
BRELVANE_TEST_PACKAGES=(g++-mingw-w64-x86-64-posix wine wine64)
# Reliability checks: sanitizers, fuzzing, memcheck; the thread-sanitizer build
# links the reference BLAS, which has no threads of its own.
BRELVANE_CHECK_PACKAGES=(clang-14 libclang-rt-14-dev llvm-14 valgrind libblas-dev)
# Packaging and documentation: the demo's plot (gnuplot, and Ghostscript and a
# font for Octave's PNG output).
BRELVANE_PACKAGING_PACKAGES=(gnuplot-nox ghostscript fonts-freefont-otf)

# ensure_packages PKG...: install what is missing when run as root, otherwise
# print the one command that would and fail. The output of apt and dpkg (over
# a thousand lines on a fresh machine, even with -qq) goes to a log that is
# shown only when apt fails.
ensure_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages. Install them with:" >&2
    echo "  sudo apt-get install -y ${missing[*]}" >&2
    return 1
  fi
  echo "Installing Debian packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  local log
  log=$(mktemp)
  if ! { apt-get update && apt-get install -y --no-install-recommends "${missing[@]}"; } \
      >"$log" 2>&1 </dev/null; then
    cat "$log" >&2
    echo "apt-get failed (output above, kept in $log)" >&2
    return 1
  fi
  rm -f "$log"
}
