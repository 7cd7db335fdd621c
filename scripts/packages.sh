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
# print the one command that would and fail.
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
  echo "Installing ${missing[*]} ..."
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
