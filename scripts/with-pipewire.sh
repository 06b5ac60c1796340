#!/usr/bin/env bash
# Runs a command inside a private PipeWire, as most Linux desktops run sound today: pipewire,
# wireplumber and pipewire-pulse, headless, with their own runtime folder and D-Bus session
# and a 48 kHz null sink ("test sink", ports playback_FL and playback_FR). JACK programs reach
# it through pw-jack, PulseAudio programs through PULSE_SERVER, ALSA programs through its
# ALSA plugin. Everything it starts is stopped afterwards, by pid, whatever the command's
# outcome.
#
# The command sees ZELVOX_PIPEWIRE=1 and ZELVOX_PW_DIR (the private folder), plus
# ZELVOX_PW_PIDS_FILE, a file holding "pipewire=PID", "wireplumber=PID" and
# "pipewire-pulse=PID" lines, so that a test can kill a server and start it again with
# scripts/with-pipewire.sh --restart NAME.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)

start_one() { # name: starts it in the background and records its pid
  local name=$1
  # Its own configuration, whatever the caller did with XDG_CONFIG_HOME meanwhile.
  XDG_CONFIG_HOME="$ZELVOX_PW_DIR/config" "$name" >>"$ZELVOX_PW_DIR/$name.log" 2>&1 &
  local pid=$!
  sed -i "/^$name=/d" "$ZELVOX_PW_PIDS_FILE"
  echo "$name=$pid" >>"$ZELVOX_PW_PIDS_FILE"
}

wait_for() { # what, command...: up to 10 s
  local what=$1
  shift
  for _ in $(seq 100); do
    if "$@" >/dev/null 2>&1; then return 0; fi
    sleep 0.1
  done
  echo "with-pipewire: $what did not come up; its logs:" >&2
  tail -n 20 "$ZELVOX_PW_DIR"/*.log >&2
  return 1
}

sink_ready() { pw-jack jack_lsp 2>/dev/null | grep -q 'playback_FR'; }

if [ "${1:-}" = --restart ]; then
  # Inside a running with-pipewire.sh: start one of its servers again after a test killed it.
  # The session manager and the PulseAudio face live on the server: with it, they start
  # again too (after the old ones are gone).
  name=${2:?--restart wants pipewire or pipewire-pulse}
  stop_old() { # name: the old process, if it is still there, is gone before a new one starts
    local pid
    pid=$(sed -n "s/^$1=//p" "$ZELVOX_PW_PIDS_FILE")
    [ -n "$pid" ] || return 0
    kill "$pid" 2>/dev/null
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.05; done
    kill -9 "$pid" 2>/dev/null
  }
  stop_old "$name"
  if [ "$name" = pipewire ]; then
    for other in wireplumber pipewire-pulse; do stop_old "$other"; done
    start_one pipewire
    wait_for "pipewire" pw-cli info 0 || exit 1
    start_one wireplumber
    wait_for "the sink" sink_ready || exit 1
    name=pipewire-pulse
  fi
  start_one "$name"
  wait_for "pipewire-pulse" pactl info
  exit $?
fi

ZELVOX_PW_DIR=$(mktemp -d)
export ZELVOX_PW_DIR ZELVOX_PW_PIDS_FILE="$ZELVOX_PW_DIR/pids" ZELVOX_PIPEWIRE=1
: >"$ZELVOX_PW_PIDS_FILE"
mkdir -p "$ZELVOX_PW_DIR/run" "$ZELVOX_PW_DIR/config/pipewire/pipewire.conf.d"
chmod 700 "$ZELVOX_PW_DIR/run"
cat >"$ZELVOX_PW_DIR/config/pipewire/pipewire.conf.d/null-sink.conf" <<'CONF'
context.properties = { default.clock.rate = 48000 default.clock.allowed-rates = [ 44100 48000 96000 ] }
context.objects = [
  { factory = adapter
    args = { factory.name = support.null-audio-sink node.name = "test" node.description = "test sink"
             media.class = "Audio/Sink" audio.position = [ FL FR ] priority.session = 2000 priority.driver = 2000 } } ]
CONF
export XDG_RUNTIME_DIR="$ZELVOX_PW_DIR/run" PIPEWIRE_RUNTIME_DIR="$ZELVOX_PW_DIR/run" \
  XDG_CONFIG_HOME="$ZELVOX_PW_DIR/config" PULSE_RUNTIME_PATH="$ZELVOX_PW_DIR/run/pulse" \
  PULSE_SERVER="unix:$ZELVOX_PW_DIR/run/pulse/native" JACK_NO_START_SERVER=1
unset JACK_DEFAULT_SERVER PIPEWIRE_REMOTE

cleanup() {
  local line pid
  while IFS= read -r line; do
    pid=${line#*=}
    kill "$pid" 2>/dev/null
  done <"$ZELVOX_PW_PIDS_FILE"
  sleep 0.2
  while IFS= read -r line; do
    pid=${line#*=}
    kill -9 "$pid" 2>/dev/null
  done <"$ZELVOX_PW_PIDS_FILE"
  [ -f "$ZELVOX_PW_DIR/dbus.pid" ] && kill "$(cat "$ZELVOX_PW_DIR/dbus.pid")" 2>/dev/null
  rm -rf "$ZELVOX_PW_DIR"
}
trap cleanup EXIT

dbus-daemon --session --address="unix:path=$ZELVOX_PW_DIR/run/bus" --fork \
  --print-pid >"$ZELVOX_PW_DIR/dbus.pid" || exit 1
export DBUS_SESSION_BUS_ADDRESS="unix:path=$ZELVOX_PW_DIR/run/bus"
start_one pipewire
wait_for "pipewire" pw-cli info 0 || exit 1
start_one wireplumber
wait_for "the sink" sink_ready || exit 1
start_one pipewire-pulse
wait_for "pipewire-pulse" pactl info || exit 1
export ZELVOX_WITH_PIPEWIRE="$here/with-pipewire.sh"
"$@"
