#!/usr/bin/env bash
# Fuzzes the rhythm-style reader (header, chunks, running status, meta and SysEx lengths, long
# delta times) for a bounded time.
set -euo pipefail
source "$(dirname "$0")/lib/fuzz.bash"
fuzz_prepare style_set
# First byte picks the resolution; then a one-track style file with a port meta, a bank select, a
# program, a bass note and a drum note in running status.
printf '\003MThd\0\0\0\6\0\1\0\1\1\340MTrk\0\0\0\37\0\377\41\1\0\0\270\0\1\0\300\5\0\230\50\144\203\140\50\0\0\231\44\144\0\46\120\201\0\44\0' >"$corpus/seed-style"
printf '\012MThd\0\0\0\10\0\0\0\2\0\140xxMTrk\0\0\0\4\0\377\57\0XTRA\0\0\0\1z' >"$corpus/seed-odd"
fuzz_run style_set 8192
