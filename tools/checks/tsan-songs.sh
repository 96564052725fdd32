#!/usr/bin/env bash
# ThreadSanitizer run of the song-list maintenance jobs: two index rebuilds and two song syncs asked
# for at once while the catalogue is reloaded in a loop. Builds only test_songs in build-tsan.
set -euo pipefail
cd "$(dirname "$0")/../.."
if [ "${TAVELO_CHECKS_PREBUILT:-0}" != 1 ]; then  # run-extra-checks.sh builds them once
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVELO_TSAN=ON -DTAVELO_BENCH=OFF >/dev/null
  cmake --build build-tsan --target test_tsan -j 4
fi
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  build-tsan/tests/test_tsan --gtest_filter='MaintenanceTest.JobsRunOneAtATimeBesideLoads'
