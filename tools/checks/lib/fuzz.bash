# Shared steps of the fuzz checks (tools/checks/fuzz-*.sh), sourced by them. Every fuzz/<name>.cpp
# is a libFuzzer target fuzz_<name>, built with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer in the sanitizer build (build-asan); run-extra-checks.sh builds them
# all once beforehand.
# FUZZ_SECONDS sets each run's time (default 20; FUZZ_SECONDS=600 for a long run).
cd "$(dirname "${BASH_SOURCE[0]}")/../../.."

# fuzz_prepare <name>: builds fuzz_<name> unless prebuilt and makes its corpus folder, whose path
# it leaves in $corpus for the caller's seeds.
fuzz_prepare() {
  if [ "${TAVELO_CHECKS_PREBUILT:-0}" != 1 ]; then
    . tools/sanitizer-build.bash
    sanitizer_configure
    cmake --build build-asan --target "fuzz_$1" -j "$(nproc)"
  fi
  corpus="build-asan/corpus-$1"
  mkdir -p "$corpus"
}

# fuzz_run <name> <max input length> [lines of output to keep]: no crash, no hang (10 s per
# input), no more than 2 GB.
fuzz_run() {
  ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=0" UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
    "build-asan/fuzz/fuzz_$1" -max_total_time="${FUZZ_SECONDS:-20}" -timeout=10 -rss_limit_mb=2048 \
    -max_len="$2" -print_final_stats=1 "build-asan/corpus-$1" 2>&1 | tail -n "${3:-30}"
}

# The names of all fuzz targets (for building them at once).
fuzz_targets() {
  for src in fuzz/*.cpp; do
    [ -e "$src" ] && printf 'fuzz_%s ' "$(basename "$src" .cpp)"
  done
}
