#!/usr/bin/env bash
# The one-way folder stack: fails on an upward include or on files of a folder in a circle.
set -euo pipefail
cd "$(dirname "$0")/../.."
python3 tools/checks/layers.py
