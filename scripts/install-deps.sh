#!/usr/bin/env bash
# Installs the Debian 12 packages Zelvox needs to build, run and test, and to build and check
# its Debian package (dpkg-dev: dpkg-shlibdeps for the Depends; the validators, lintian and man
# for scripts/check-install.sh). lv2-dev builds the plugin; liblilv-dev, lilv-utils and jalv
# load it in the tests as hosts do. libsoxr-dev converts the 44,100 Hz stream to other rates;
# sox is the tests' independent reference for that conversion. liblo-dev: OSC for the session
# manager (NSM) in the desktop program. PipeWire (with its JACK, PulseAudio and ALSA faces,
# wireplumber, D-Bus and pactl) runs headless in the tests, as most desktops run sound. libsndfile1-dev: the renderer's FLAC, Ogg Vorbis and
# 24-bit WAV files.
# libjack-jackd2-dev is named in the same command as the RtAudio/RtMidi headers so that
# apt keeps JACK2 instead of pulling in the old JACK1 headers.
# The plugin window's tests drive real hosts on a virtual display: jalv.qt5 embeds the window
# through suil's Qt 5 wrapper (libqt5x11extras5), xdotool moves the mouse and presses keys,
# ImageMagick's import takes the screenshots.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  jackd2 libjack-jackd2-dev librtaudio-dev librtmidi-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev fonts-dejavu-core
  lv2-dev liblilv-dev lilv-utils jalv
  libsoxr-dev sox liblo-dev
  pipewire pipewire-bin pipewire-jack pipewire-pulse pipewire-alsa wireplumber dbus pulseaudio-utils libsndfile1-dev
  clang libclang-rt-14-dev
  xvfb xauth libqt5x11extras5 xdotool imagemagick
  dpkg-dev desktop-file-utils appstream lintian man-db groff-base file bsdextrautils
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
