#!/usr/bin/env bash
# Fuzzes the catalogue's readers (song text decoding, catalogue lines, MIDI track names, file-name
# patterns) for a bounded time.
set -euo pipefail
source "$(dirname "$0")/lib/fuzz.bash"
fuzz_prepare catalog
printf '12/ p\n봄날, "그"\n\n\n가수\n\nC/G/A\nx/96\n 발라드 \n>\n봄-날_이~\n<\n' >"$corpus/seed-text"
printf '\377\376\61\0\n\0\0\254\n\0' >"$corpus/seed-utf16"
printf '1,"a,""b""",c,,\r\n' >"$corpus/seed-csv"
printf 'MThd\0\0\0\6\0\1\0\1\1\340MTrk\0\0\0\14\0\377\3\4gasa\0\377\57\0' >"$corpus/seed-midi"
printf 'P*.MIDP0012.mid' >"$corpus/seed-pattern"
fuzz_run catalog 16384
