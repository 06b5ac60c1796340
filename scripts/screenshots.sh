#!/usr/bin/env bash
# Regenerates the pictures in docs/screenshots/: builds, then takes every window under a
# virtual X server (Xvfb) with the real fonts and styles of the desktop platform plugin.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh build >/dev/null
out="$PWD/docs/screenshots"
mkdir -p "$out"
ZELVOX_SCREENSHOT_DIR="$out" ZELVOX_BIN_DIR="$PWD/build/app" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1024x768x24" ./build/tests/test_gui_screenshots
ls -1 "$out"
