#!/usr/bin/env bash
# Every function the page or the program calls by name is defined on the page (ESLint no-undef
# over the served page scripts, and a scan of by-name calls and the program's page scripts).
set -euo pipefail
cd "$(dirname "$0")/../.."
node tools/checks/page_names.mjs
