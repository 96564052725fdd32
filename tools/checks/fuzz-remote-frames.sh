#!/usr/bin/env bash
# Fuzzes the readers of what a support agent's viewer and the agent list send, and of the resume
# file and support.cfg, for a bounded time.
set -euo pipefail
source "$(dirname "$0")/lib/fuzz.bash"
fuzz_prepare remote_frames
# Seeds: a challenge, a mouse event, a key, settings and a file announcement; an agent list; a
# support.cfg.
printf '\005\000\000\000\207nonce\007\000\000\000\202\020\000\040\000\005\210\377\004\000\000\000\203\045\000\001\001\003\000\000\000\206\120\010\000\017\000\000\000\210\005\000\000\000\000\000\000\000\005\000a.txt' >"$corpus/seed-frames"
printf 'ok\ns1\tname\thost\t7777\tlan\t1\trelay\t9000\n' >"$corpus/seed-agents"
printf 'host=127.0.0.1\r\nport=7777\r\n# note\r\nquality=80\r\nfps=8\r\nscale=70\r\nkey=abc\r\n' >"$corpus/seed-config"
fuzz_run remote_frames 65536
