#!/usr/bin/env bash
# The whole test suite on a fresh Debian 12 machine: installs what it needs, builds,
# starts a private JACK server and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build
export QT_QPA_PLATFORM=offscreen
bash scripts/with-jack.sh ctest --test-dir build --output-on-failure -j"$(nproc)"
