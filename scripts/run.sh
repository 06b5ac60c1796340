#!/usr/bin/env bash
# Installs what Zelvox needs, builds it and starts the desktop program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build
exec ./build/app/zelvox "$@"
