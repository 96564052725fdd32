#!/usr/bin/env bash
# ThreadSanitizer run of the player, rhythm and transition stress tests: start, stop, jump, key change,
# next-song requests and medley commands from several threads while songs play. Builds only
# test_playback in its own build-tsan folder.
set -euo pipefail
cd "$(dirname "$0")/../.."
if [ "${TAVELO_CHECKS_PREBUILT:-0}" != 1 ]; then  # run-extra-checks.sh builds them once
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVELO_TSAN=ON -DTAVELO_BENCH=OFF >/dev/null
  cmake --build build-tsan --target test_tsan -j 4
fi
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  build-tsan/tests/test_tsan --gtest_filter='PlayerStress.*:RhythmStress.*:TransitionStress.*:TransitionTest.*'
