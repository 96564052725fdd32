#!/usr/bin/env bash
# Texts and comments in Linux words: fails on Windows paths and program names (linux_words.py).
set -euo pipefail
cd "$(dirname "$0")/../.."
python3 tools/checks/linux_words.py
