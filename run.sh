#!/usr/bin/env bash
# The operator's command: installs what the programs need, builds them (tavelo, orvane and the
# demo library generator, nothing of the tests), makes a demo install root when the root has no
# songs (songs, pictures, a SoundFont with the built-in synthesizer chosen), and starts the
# program. A second run builds nothing and starts at once. Tests: ./test.sh.
set -euo pipefail
cd "$(dirname "$0")"
. tools/setup-deps.sh run

# A compiler cache, where the machine has one, serves what earlier builds made.
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVELO_TESTS=OFF -DTAVELO_BENCH=OFF >/dev/null
cmake --build build -j "$(nproc)" --target tavelo orvane make_demo_root

root="${TAVELO_ROOT:-$HOME/tavelo}"
mkdir -p "$root/system"
shopt -s nullglob nocaseglob
song_files=("$root"/system/P*.MID "$root"/system/P*.txt)
shopt -u nullglob nocaseglob
if [ ! -e "$root/system/songs.csv" ] && [ ${#song_files[@]} -eq 0 ]; then
  tools/make-demo-root "$root"
  # A looping background video for the customer screen, recorded by the browser where the test
  # tools are installed (./test.sh installs them).
  if [ -d node_modules/playwright-core ]; then
    node tools/make_demo_video.mjs "$root" || echo "demo video not made" >&2
  fi
fi

export TAVELO_ROOT="$root"
exec build/tavelo "$@"
