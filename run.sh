#!/usr/bin/env bash
# Installs what is missing, builds, makes a demo song library (songs, pictures, a background
# video) when the install root has no songs,
# links Debian's General MIDI SoundFont into the synth folder, and starts the program.
set -euo pipefail
cd "$(dirname "$0")"
. tools/setup-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

root="${TAVELO_ROOT:-$HOME/tavelo}"
mkdir -p "$root/system" "$root/synth"
shopt -s nullglob nocaseglob
song_files=("$root"/system/P*.MID "$root"/system/P*.txt)
shopt -u nullglob nocaseglob
if [ ! -e "$root/system/songs.csv" ] && [ ${#song_files[@]} -eq 0 ]; then
  tools/make-demo-root "$root"
  # A looping background video for the customer screen, recorded by the browser.
  node tools/make_demo_video.mjs "$root" || echo "demo video not made" >&2
fi

soundfont=/usr/share/sounds/sf2/TimGM6mb.sf2
if [ -f "$soundfont" ] && [ ! -e "$root/synth/TimGM6mb.sf2" ]; then
  ln -s "$soundfont" "$root/synth/TimGM6mb.sf2"
fi

export TAVELO_ROOT="$root"
exec build/tavelo "$@"
