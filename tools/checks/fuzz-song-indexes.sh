#!/usr/bin/env bash
# Fuzzes the song-list index readers, the songs.csv patch and the vocal export's mark reader for a
# bounded time.
set -euo pipefail
source "$(dirname "$0")/lib/fuzz.bash"
fuzz_prepare song_indexes
printf '12\tBallad\n0\tx\n13\t\n14\ta\tb\r\n\x007\t\xea\xb0\x80\tb\tc\td\n8\ta\tb\n\x00id,nat\r\n7,p,,,,,,"t, x",,,,,,"l",,,,,,a,b\n1,k\n\x00100,44032,0;200,0,0;300,45208,0' >"$corpus/seed-all"
printf '\x00\x00\x0012|0,65,0;480,66,1;960,67,2;5000,68,3' >"$corpus/seed-marks"
fuzz_run song_indexes 8192
