#!/usr/bin/env bash
# Fuzzes the rhythm-pattern files' reader and writer (read, write, read again: equal) for a
# bounded time.
set -euo pipefail
source "$(dirname "$0")/lib/fuzz.bash"
fuzz_prepare red_pattern
# Seed: a two-track pattern with running status, a port meta and a SysEx.
printf 'MThd\0\0\0\6\0\1\0\2\0\140MTrk\0\0\0\37\0\377\3\2Dr\0\231\44\144\0\377\41\1\1\0\52\132\201\0\211\44\0\0\360\3\176\177\367\0\377\57\0MTrk\0\0\0\15\0\270\7\144\203\140\230\46\120\0\377\57\0' >"$corpus/seed-pattern"
fuzz_run red_pattern 16384
