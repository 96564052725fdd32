#!/usr/bin/env bash
# Fuzzes the page server's media path check for a bounded time: a request path must never name a
# file outside its media folder.
set -euo pipefail
source "$(dirname "$0")/lib/fuzz.bash"
fuzz_prepare page_media_path
printf 'Song.mp3' >"$corpus/plain"
printf '../secret.txt' >"$corpus/dotdot"
printf 'up/secret.txt' >"$corpus/link"
fuzz_run page_media_path 256
