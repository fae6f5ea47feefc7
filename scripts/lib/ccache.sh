# shellcheck shell=bash
# Compiles through ccache when it is installed, so that a machine that has built the kit
# before rebuilds it in a fraction of the time. The cache keys on paths relative to the
# repository, so another clone of it finds the same entries. Source it from the repository
# root; settings already in the environment win.
if command -v ccache >/dev/null 2>&1; then
  export CMAKE_C_COMPILER_LAUNCHER="${CMAKE_C_COMPILER_LAUNCHER:-ccache}"
  export CMAKE_CXX_COMPILER_LAUNCHER="${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}"
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
  export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
fi
