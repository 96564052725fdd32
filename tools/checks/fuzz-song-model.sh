#!/usr/bin/env bash
# Fuzzes the song analysis (MIDI parser and song text reader) with libFuzzer under
# AddressSanitizer and UndefinedBehaviorSanitizer for a bounded time: no crash, no hang (a single
# input may take at most 10 s) and no unbounded memory (2 GB). Builds in its own build-fuzz folder
# with Debian's clang; FUZZ_SECONDS overrides the time (default 20;
# FUZZ_SECONDS=600 for a long run).
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds="${FUZZ_SECONDS:-20}"
if [ "${TAVELO_CHECKS_PREBUILT:-0}" != 1 ]; then  # run-extra-checks.sh builds them once
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DTAVELO_FUZZ=ON -DTAVELO_TESTS=OFF -DTAVELO_BENCH=OFF >/dev/null
  cmake --build build-fuzz --target fuzz_song_model -j "$(nproc)"
fi

# Seeds: a small song file with named tracks and a song text, so the walk starts deep.
corpus=build-fuzz/corpus-song-model
mkdir -p "$corpus"
printf '0001\n봄날\n\n\n가수\n\nAm/Em/Cm\n>\n봄날이 왔네\nC . G . | Am7/G N.C\nCGNC\n<\n' >"$corpus/seed-text"
printf 'MThd\0\0\0\6\0\1\0\2\1\340MTrk\0\0\0\37\0\377\3\4gasa\0\377\121\3\7\241\40\0\377\130\4\3\2\30\10\0\220\74\100\203\140\200\74\0\0\377\57\0MTrk\0\0\0\25\0\377\41\1\1\0\300\5\0\260\12\36\0\360\2\101\367\0\377\57\0' >"$corpus/seed-midi"

ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=0" UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
  build-fuzz/fuzz/fuzz_song_model -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=65536 -print_final_stats=1 "$corpus" 2>&1 | tail -n 60
