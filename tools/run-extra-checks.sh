#!/usr/bin/env bash
# Runs the extra checks of tools/checks/*.sh (fuzzing, thread sanitizer runs) in name order.
# Each prints what it did and exits non-zero on a failure.
set -euo pipefail
cd "$(dirname "$0")/.."
for check in tools/checks/*.sh; do
  [ -e "$check" ] || continue
  echo "== $check"
  bash "$check"
done
