# The one sanitizer build, build-asan, sourced by test.sh and the fuzz checks: clang with
# AddressSanitizer and UndefinedBehaviorSanitizer, and libFuzzer's coverage on every object, so
# the unit tests and the fuzz targets share one compile. -O1 as AddressSanitizer advises: the
# tests run faster than at -O0 and reports keep their lines.
sanitizer_configure() {
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_FLAGS_DEBUG="-O1 -g1" -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" \
    -DTAVELO_SANITIZE=ON -DTAVELO_FUZZ=ON -DTAVELO_BENCH=OFF >/dev/null
}
