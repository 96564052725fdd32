#!/usr/bin/env bash
# libFuzzer run of the page server's media path check for 20 seconds (FUZZ_SECONDS overrides): a request path must never
# name a file outside its media folder.
set -euo pipefail
cd "$(dirname "$0")/../.."
out=build-fuzz
mkdir -p "$out/corpus-media-path"
printf 'Song.mp3' > "$out/corpus-media-path/plain"
printf '../secret.txt' > "$out/corpus-media-path/dotdot"
printf 'up/secret.txt' > "$out/corpus-media-path/link"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I. \
  tools/fuzz/page_media_path_fuzz.cpp platform/page_server.cpp platform/paths.cpp \
  platform/codepage.cpp platform/message_loop.cpp -lpthread \
  -o "$out/page_media_path_fuzz"
"$out/page_media_path_fuzz" -max_total_time="${FUZZ_SECONDS:-20}" -max_len=256 "$out/corpus-media-path"
