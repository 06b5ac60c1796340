#!/usr/bin/env bash
# Installs what Zelvox needs, builds it and starts the desktop program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# Warnings are shown but do not stop the build; OFF is said here because the test script
# turns ZELVOX_WERROR on in the same build folder, and cmake would keep it from there.
bash scripts/build.sh build -DZELVOX_WERROR=OFF
exec ./build/app/zelvox "$@"
