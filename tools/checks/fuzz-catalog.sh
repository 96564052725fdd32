#!/usr/bin/env bash
# Fuzzes the catalogue's readers (song text decoding, catalogue lines, MIDI track names, file-name
# patterns) with libFuzzer under AddressSanitizer and UndefinedBehaviorSanitizer for a bounded
# time. Shares the build-fuzz folder of the song model check; FUZZ_SECONDS overrides the time
# (default 20).
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds="${FUZZ_SECONDS:-20}"
if [ "${TAVELO_CHECKS_PREBUILT:-0}" != 1 ]; then  # run-extra-checks.sh builds them once
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DTAVELO_FUZZ=ON -DTAVELO_TESTS=OFF -DTAVELO_BENCH=OFF >/dev/null
  cmake --build build-fuzz --target fuzz_catalog -j "$(nproc)"
fi

corpus=build-fuzz/corpus-catalog
mkdir -p "$corpus"
printf '12/ p\n봄날, "그"\n\n\n가수\n\nC/G/A\nx/96\n 발라드 \n>\n봄-날_이~\n<\n' >"$corpus/seed-text"
printf '\377\376\61\0\n\0\0\254\n\0' >"$corpus/seed-utf16"
printf '1,"a,""b""",c,,\r\n' >"$corpus/seed-csv"
printf 'MThd\0\0\0\6\0\1\0\1\1\340MTrk\0\0\0\14\0\377\3\4gasa\0\377\57\0' >"$corpus/seed-midi"
printf 'P*.MIDP0012.mid' >"$corpus/seed-pattern"

ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
  build-fuzz/fuzz/fuzz_catalog -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=16384 -print_final_stats=1 "$corpus" 2>&1 | tail -n 30
