#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Ends with CTest's summary.
set -euo pipefail
cd "$(dirname "$0")"
. tools/setup-deps.sh

jobs=$(nproc)
# A compiler cache, where the machine has one, serves what earlier runs built, from any checkout.
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVELO_TESTS=ON -DTAVELO_BENCH=ON >/dev/null
cmake --build build -j "$jobs"

# A second build with AddressSanitizer and UndefinedBehaviorSanitizer runs the unit tests again;
# it also holds the fuzz targets of the extra checks.
if [ "${TAVELO_SKIP_ASAN:-0}" != 1 ]; then
  . tools/sanitizer-build.bash
  sanitizer_configure
  cmake --build build-asan -j "$jobs"
  (cd build-asan && ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions="$PWD/../tools/lsan.supp" ctest -j "$jobs" --output-on-failure -E '^(page$|e2e\.)')
fi

tools/run-extra-checks.sh

cd build && ctest -j "$jobs" --output-on-failure
