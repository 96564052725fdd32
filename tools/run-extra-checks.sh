#!/usr/bin/env bash
# Runs the extra checks of tools/checks/*.sh (layer check, fuzzing, thread sanitizer runs). What
# they build is built first, once; then they run side by side (each bounded in time), and their
# output is printed in name order. Exits non-zero when any check failed.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

# The fuzz targets live in the sanitizer build (built whole already when test.sh ran its tests).
. tools/sanitizer-build.bash
sanitizer_configure
# shellcheck source=tools/checks/lib/fuzz.bash
cmake --build build-asan --target $(source tools/checks/lib/fuzz.bash && fuzz_targets) -j "$jobs"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVELO_TSAN=ON -DTAVELO_BENCH=OFF >/dev/null
cmake --build build-tsan --target test_tsan -j "$jobs"

logs=$(mktemp -d)
pids=()
names=()
for check in tools/checks/*.sh; do
  [ -e "$check" ] || continue
  name=$(basename "$check" .sh)
  TAVELO_CHECKS_PREBUILT=1 bash "$check" >"$logs/$name.log" 2>&1 &
  pids+=("$!")
  names+=("$name")
done
failed=0
for i in "${!pids[@]}"; do
  status=0
  wait "${pids[$i]}" || status=$?
  echo "== tools/checks/${names[$i]}.sh (exit $status)"
  cat "$logs/${names[$i]}.log"
  [ "$status" -eq 0 ] || failed=1
done
rm -rf "$logs"
exit "$failed"
