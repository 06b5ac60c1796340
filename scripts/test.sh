#!/usr/bin/env bash
# The whole test suite on a fresh Debian 12 machine: installs what it needs, builds,
# starts a private JACK server and runs every test.
#
# Then the package stage: the Debian package is built (scripts/package.sh), checked with
# lintian, installed with apt, its programs run, and removed again.
#
# Then the hardening stages, each of which fails the script on any finding:
#   2. every test again under AddressSanitizer + UndefinedBehaviorSanitizer (build-asan);
#   3. the real-time and MIDI tests under ThreadSanitizer (build-tsan, only their targets);
#   4. a bounded libFuzzer run of every target in tests/fuzz (clang, build-fuzz); a crashing
#      input is kept under fuzz-findings/<target>/ and the folder is printed.
# ZELVOX_TEST_STAGES (default "all") may name a subset: "main package asan tsan fuzz".
# ZELVOX_FUZZ_SECONDS (default 60) bounds each fuzz target's run.
# Every build here has ZELVOX_WERROR=ON: a compiler warning in the project's code fails it.
set -euo pipefail
cd "$(dirname "$0")/.."
stages=${ZELVOX_TEST_STAGES:-all}
want() { [ "$stages" = all ] || [[ " $stages " == *" $1 "* ]]; }
t0=$SECONDS
stage_start=$SECONDS
stage_done() {
  echo "=== stage $1 passed in $((SECONDS - stage_start)) s (total $((SECONDS - t0)) s)"
  stage_start=$SECONDS
}

bash scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
if want main; then
  # The folders depend one way; a wrong-way include fails the run before anything builds.
  bash scripts/check-includes.sh --self-test
  bash scripts/check-includes.sh
  bash scripts/build.sh build -DZELVOX_WERROR=ON
  bash scripts/with-jack.sh ctest --test-dir build --output-on-failure -j"$(nproc)" -LE pipewire
  # The outputs on PipeWire as desktops run it: its JACK face through pw-jack, PulseAudio and
  # ALSA, with servers killed and restarted and the rate and period changed while playing.
  bash scripts/with-pipewire.sh pw-jack ctest --test-dir build --output-on-failure -L pipewire
  # Short plays while other programs open and close JACK clients and the other cores are
  # busy: none may hang or fail (libjack hangs for good in a close or an open then).
  bash scripts/jack-churn.sh --busy build 20 10
  # What "cmake --install" puts where, the validators and the manual pages.
  bash scripts/check-install.sh build
  stage_done main
fi

if want package; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  if dpkg-query -W -f='${Status}' zelvox 2>/dev/null | grep -q "install ok installed"; then
    echo "*** the package zelvox is already installed here; this stage installs and removes its own" >&2
    exit 1
  fi
  # The build tree's renderer, up to date, is what the installed one is compared with.
  [ -f build/build.ninja ] ||
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVOX_WERROR=ON >/dev/null
  cmake --build build -j"$(nproc)" --target zelvox-render
  bash scripts/package.sh build-deb
  deb=$(ls build-deb/zelvox_*.deb)
  bash scripts/check-install.sh build-deb "$deb"
  pkg_tmp=$(mktemp -d)
  trap '$SUDO apt-get remove -y -qq zelvox >/dev/null 2>&1 || true; rm -rf "$pkg_tmp"' EXIT
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb" >/dev/null
  # The installed renderer renders what the build tree's renders, byte for byte: the
  # start-up patterns, and a busy pattern file looped and as a song.
  busy=tests/fuzz/corpus/pattern/busy
  n=0
  for args in "--buffers 300" "$busy --buffers 300" "$busy --arranger --buffers 3000"; do
    n=$((n + 1))
    # shellcheck disable=SC2086 # the arguments are split on purpose
    XDG_CONFIG_HOME=$pkg_tmp /usr/bin/zelvox-render $args -o "$pkg_tmp/installed-$n.wav"
    # shellcheck disable=SC2086
    XDG_CONFIG_HOME=$pkg_tmp build/app/zelvox-render $args -o "$pkg_tmp/built-$n.wav"
    cmp "$pkg_tmp/installed-$n.wav" "$pkg_tmp/built-$n.wav"
  done
  # The installed program starts (offscreen) and its Help finds the installed document.
  help=$(XDG_CONFIG_HOME=$pkg_tmp QT_QPA_PLATFORM=offscreen /usr/bin/zelvox --check-help 2>"$pkg_tmp/err") ||
    { cat "$pkg_tmp/err" >&2; exit 1; }
  [ "$help" = /usr/share/zelvox/Zelvox.html ] || { echo "*** installed zelvox shows $help" >&2; exit 1; }
  # The installed plugin is where LV2 hosts look, and loads.
  LV2_PATH=/usr/lib/lv2 lv2info https://zelvox.github.io/lv2/zelvox >"$pkg_tmp/lv2info" 2>&1 ||
    { cat "$pkg_tmp/lv2info" >&2; exit 1; }
  grep -q "Binary:.*/usr/lib/lv2/zelvox.lv2/zelvox.so" "$pkg_tmp/lv2info" ||
    { echo "*** the installed plugin is not in /usr/lib/lv2" >&2; exit 1; }
  $SUDO apt-get remove -y -qq zelvox >/dev/null
  rm -rf "$pkg_tmp"
  trap - EXIT
  stage_done package
fi

# Sanitizer reports end the process with an error, so ctest sees a failure. Leaks are
# reported too, unless LeakSanitizer cannot run at all here (it needs to stop threads with
# ptrace, which some containers forbid): then the script says so and goes on without it.
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:report_error_type=1
leaks=1
if want asan || want fuzz; then
  probe_dir=$(mktemp -d)
  printf 'int main(void){return 0;}\n' >"$probe_dir/p.c"
  if cc -fsanitize=address "$probe_dir/p.c" -o "$probe_dir/p" 2>/dev/null &&
     ! "$probe_dir/p" 2>&1 | grep -q 'LeakSanitizer has encountered a fatal error'; then
    leaks=1
  else
    leaks=0
    echo "*** LeakSanitizer cannot run on this machine: leak checking is off" >&2
  fi
  rm -rf "$probe_dir"
fi
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=0:detect_leaks=$leaks:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1:suppressions=$PWD/tests/sanitizer/asan.supp
export LSAN_OPTIONS=suppressions=$PWD/tests/sanitizer/lsan.supp:print_suppressions=0
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/sanitizer/tsan.supp

if want asan; then
  bash scripts/build.sh build-asan -DZELVOX_SANITIZE=ON -DZELVOX_BENCH=OFF -DZELVOX_WERROR=ON
  # The real-time tests one at a time: two instrumented programs pacing against the same
  # JACK server on two cores underrun for no fault of their own.
  bash scripts/with-jack.sh ctest --test-dir build-asan --output-on-failure -j"$(nproc)" \
    --timeout 600 -LE 'jack|pipewire'
  bash scripts/with-jack.sh ctest --test-dir build-asan --output-on-failure --timeout 600 -L jack
  stage_done asan
fi

if want tsan; then
  # The tests where a driver thread meets the main thread: the real JACK tests, the MIDI
  # input and the wave output tests, the live synth's two threads, and two plugin instances
  # on two threads.
  tsan_targets=()
  for src in tests/test_jack_*.cpp tests/test_midi*.cpp tests/test_wave*.cpp \
             tests/test_meter*.cpp tests/test_live_threads.cpp tests/test_lv2_instances.cpp; do
    case "$src" in
    tests/test_jack_gui_*) continue ;; # the window: not in this build
    tests/test_midi_clock.cpp) continue ;; # one thread; it counts allocations its own way
    esac
    [ -e "$src" ] && tsan_targets+=("$(basename "$src" .cpp)")
  done
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVOX_TSAN=ON \
    -DZELVOX_GUI=OFF -DZELVOX_BENCH=OFF -DZELVOX_WERROR=ON >/dev/null
  tsan_targets+=(zelvox-render) # the JACK play test runs the renderer itself
  cmake --build build-tsan -j"$(nproc)" --target "${tsan_targets[@]}"
  # Test programs that were not built are listed by ctest as <target>_NOT_BUILT: skip them.
  bash scripts/with-jack.sh ctest --test-dir build-tsan --output-on-failure -j"$(nproc)" \
    -E '_NOT_BUILT$' --timeout 600 -LE jack
  # Left to the two stages above: the MIDI flood tests, which count how many of 100,000
  # messages get through in real time (under the race detector's slowdown those counts say
  # nothing), the server-going-away tests, where libjack, which is not instrumented, ends
  # the client's threads itself, and the clock-out test, which judges the very first
  # messages through a new connection (under the detector a new connection's first periods
  # are lost while it reads debug information, see tsan.supp). The notes-out tests and the
  # low-latency output's 48 kHz grid test run here: their servers run every period in order,
  # so a period the detector slows is late, not lost.
  bash scripts/with-jack.sh ctest --test-dir build-tsan --output-on-failure \
    -E '(_NOT_BUILT$|Flood|ServerGoingAway|ClockOutFollowsARelocation)' \
    --timeout 600 -L jack
  stage_done tsan
fi

if want fuzz; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZELVOX_FUZZ=ON -DZELVOX_GUI=OFF -DZELVOX_BENCH=OFF -DZELVOX_WERROR=ON >/dev/null
  cmake --build build-fuzz -j"$(nproc)" --target zelvox_fuzzers
  bash tests/fuzz/run.sh build-fuzz "${ZELVOX_FUZZ_SECONDS:-60}" fuzz-findings
  stage_done fuzz
fi
echo "=== all stages passed in $((SECONDS - t0)) s"
