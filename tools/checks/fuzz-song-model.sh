#!/usr/bin/env bash
# Fuzzes the song analysis (MIDI parser and song text reader) for a bounded time.
set -euo pipefail
source "$(dirname "$0")/lib/fuzz.bash"
fuzz_prepare song_model
# Seeds: a small song file with named tracks and a song text, so the walk starts deep.
printf '0001\n봄날\n\n\n가수\n\nAm/Em/Cm\n>\n봄날이 왔네\nC . G . | Am7/G N.C\nCGNC\n<\n' >"$corpus/seed-text"
printf 'MThd\0\0\0\6\0\1\0\2\1\340MTrk\0\0\0\37\0\377\3\4gasa\0\377\121\3\7\241\40\0\377\130\4\3\2\30\10\0\220\74\100\203\140\200\74\0\0\377\57\0MTrk\0\0\0\25\0\377\41\1\1\0\300\5\0\260\12\36\0\360\2\101\367\0\377\57\0' >"$corpus/seed-midi"
fuzz_run song_model 65536 60
