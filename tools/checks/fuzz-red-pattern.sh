#!/usr/bin/env bash
# Fuzzes the rhythm-pattern files' reader and writer (read, write, read again: equal) with
# libFuzzer under AddressSanitizer and UndefinedBehaviorSanitizer for a bounded time (FUZZ_SECONDS,
# default 20). Shares the build-fuzz folder of the other fuzz checks.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds="${FUZZ_SECONDS:-20}"
if [ "${TAVELO_CHECKS_PREBUILT:-0}" != 1 ]; then  # run-extra-checks.sh builds them once
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DTAVELO_FUZZ=ON -DTAVELO_TESTS=OFF -DTAVELO_BENCH=OFF >/dev/null
  cmake --build build-fuzz --target fuzz_red_pattern -j "$(nproc)"
fi

# Seeds: a two-track pattern with running status, a port meta and a SysEx.
corpus=build-fuzz/corpus-red-pattern
mkdir -p "$corpus"
printf 'MThd\0\0\0\6\0\1\0\2\0\140MTrk\0\0\0\37\0\377\3\2Dr\0\231\44\144\0\377\41\1\1\0\52\132\201\0\211\44\0\0\360\3\176\177\367\0\377\57\0MTrk\0\0\0\15\0\270\7\144\203\140\230\46\120\0\377\57\0' >"$corpus/seed-pattern"

ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
  build-fuzz/fuzz/fuzz_red_pattern -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=16384 -print_final_stats=1 "$corpus" 2>&1 | tail -n 30
