#!/usr/bin/env bash
# ThreadSanitizer run of the remote-support connection tests: the screen sender's and the receive
# thread's frames share one socket, and the operator's stop shuts it down while both send.
# Builds only test_online in build-tsan.
set -euo pipefail
cd "$(dirname "$0")/../.."
if [ "${TAVELO_CHECKS_PREBUILT:-0}" != 1 ]; then  # run-extra-checks.sh builds them once
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVELO_TSAN=ON -DTAVELO_BENCH=OFF >/dev/null
  cmake --build build-tsan --target test_tsan -j "$(nproc)"
fi
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  build-tsan/tests/test_tsan --gtest_filter='RsFrames.*:RsSession.*:RsReceive.*:RsReconnect.*:RsScreen.Sender*'
