#!/usr/bin/env bash
# Fuzzes the readers of the older program's settings file and singer key file for a bounded time.
set -euo pipefail
source "$(dirname "$0")/lib/fuzz.bash"
fuzz_prepare settings_import
# Seeds: a settings file with sections, prefixes and a module name; three key records.
printf '[Volume]\r\nnAssign_Volume_Melody = 3\r\nUserVolume_03=120\r\nUserMute_03=0\r\n; c\r\nPXR__BD_Volume=90\r\nEqualizer_L=-12\r\nModuleName=SC-8850\r\nDefPlayKey=1\r\nOut4ch=1\r\n' >"$corpus/seed-config"
printf '\0\0\0\0\0\0\0\0\74\0\103\0\377\0\0\0\74\0\76\0\72\0\0\0\1\2\3' >"$corpus/seed-keys"
fuzz_run settings_import 4096
