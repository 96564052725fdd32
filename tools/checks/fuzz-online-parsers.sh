#!/usr/bin/env bash
# Fuzzes the readers of the web board's answers (song packages, flat JSON, board pages, the
# transposition table) for a bounded time.
set -euo pipefail
source "$(dirname "$0")/lib/fuzz.bash"
fuzz_prepare online_parsers
# Seeds: a stored ZIP of one entry, a flat JSON object, a list row with its date, a post page.
printf 'PK\003\004\024\000\000\000\000\000\000\000\000\000\000\000\000\000\003\000\000\000\003\000\000\000\005\000\000\000a.midMTh' >"$corpus/seed-zip"
printf '{"mb_name": "\355\231\215", "n": 12 , "x": null, "q": "a\\"b"}' >"$corpus/seed-json"
printf '<a href="board.php?bo_table=tavelo_download_6&amp;wr_id=12">t</a><td class="wr-date">2026-01-02</td>' >"$corpus/seed-list"
printf '<meta name="title" content="t"><meta itemprop="datePublished" content="2026-01-02"><a href="download.php?bo_table=tavelo_download_6&amp;wr_id=7&amp;no=0">a.zip</a>\n12=1:C,5:G\n' >"$corpus/seed-post"
fuzz_run online_parsers 65536
