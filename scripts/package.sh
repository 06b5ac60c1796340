#!/usr/bin/env bash
# Builds the Debian package: bash scripts/package.sh [BUILD_DIR] (default build-deb).
# Installs what the build needs, configures a build for the prefix /usr with Debian's
# hardening flags (dpkg-buildflags), builds the programs and lets CPack make
# BUILD_DIR/zelvox_<version>_<arch>.deb from the project's install rules. The package's
# Depends come from dpkg-shlibdeps.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-deb}
bash scripts/install-deps.sh
# Debian's compiler and linker flags with every hardening feature (bindnow included); given on
# the command line, not in the environment, so that a build folder configured before follows.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags() { echo "$(dpkg-buildflags --get "$1") $(dpkg-buildflags --get CPPFLAGS)"; }
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_C_FLAGS="$(flags CFLAGS)" -DCMAKE_CXX_FLAGS="$(flags CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DCMAKE_MODULE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DBUILD_TESTING=OFF -DZELVOX_BENCH=OFF -DZELVOX_WERROR=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)"
rm -f "$dir"/zelvox_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
ls "$dir"/zelvox_*.deb
