#!/usr/bin/env bash
# ThreadSanitizer run of the page server tests: the server's connection threads, the script
# sender and the window thread share the channel state. Builds only test_platform in build-tsan.
set -euo pipefail
cd "$(dirname "$0")/../.."
if [ "${TAVELO_CHECKS_PREBUILT:-0}" != 1 ]; then  # run-extra-checks.sh builds them once
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVELO_TSAN=ON -DTAVELO_BENCH=OFF >/dev/null
  cmake --build build-tsan --target test_tsan -j "$(nproc)"
fi
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  build-tsan/tests/test_tsan --gtest_filter='PageServer*'
