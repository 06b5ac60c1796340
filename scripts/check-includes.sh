#!/usr/bin/env bash
# Fails when a source file includes a header from a folder that depends on its own. The
# folders depend one way:
#
#   base  <-  engine, settings  <-  sequencer  <-  files, dsp  <-  devices  <-  audio, midi
#         <-  synth  <-  ui, plugin  <-  ui/qt, program  <-  app
#
# A file may include its own folder and the folders to its left; folders side by side
# (files and dsp, audio and midi, ...) may not include each other. tests/ and bench/ may
# include anything.
#
# Usage: check-includes.sh [ROOT]   (default: the repository)
#        check-includes.sh --self-test   (shows that a wrong-way include is caught)
set -euo pipefail

level() {
    case "$1" in
    base) echo 0 ;;
    engine | settings) echo 1 ;;
    sequencer) echo 2 ;;
    files | dsp) echo 3 ;;
    devices) echo 4 ;;
    audio | midi) echo 5 ;;
    synth) echo 6 ;;
    ui | plugin) echo 7 ;;
    ui/qt | program) echo 8 ;;
    app) echo 9 ;;
    *) echo -1 ;;
    esac
}

# The folder a path belongs to: ui/qt is its own, backends belong to their parent.
folder() {
    case "$1" in
    ui/qt/*) echo ui/qt ;;
    *) echo "${1%%/*}" ;;
    esac
}

allowed() { # from-folder to-folder header
    local from=$1 to=$2 header=$3
    [ "$from" = "$to" ] && return 0
    local lf lt
    lf=$(level "$from")
    lt=$(level "$to")
    [ "$lt" -lt 0 ] && return 0 # not one of ours (a system or library header)
    [ "$lt" -lt "$lf" ] && return 0
    return 1
}

check() {
    local root=$1 bad=0 file dir header to
    while IFS= read -r file; do
        dir=$(folder "${file#"$root"/}")
        [ "$(level "$dir")" -lt 0 ] && continue
        while IFS= read -r header; do
            to=$(folder "$header")
            if ! allowed "$dir" "$to" "$header"; then
                echo "wrong-way include: ${file#"$root"/} includes \"$header\" ($dir may not depend on $to)" >&2
                bad=1
            fi
        done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
    done < <(find "$root"/base "$root"/engine "$root"/settings "$root"/sequencer "$root"/files \
        "$root"/dsp "$root"/devices "$root"/audio "$root"/midi "$root"/synth "$root"/ui "$root"/plugin "$root"/program "$root"/app \
        \( -name '*.h' -o -name '*.cpp' \) 2>/dev/null | sort)
    return $bad
}

if [ "${1:-}" = --self-test ]; then
    tmp=$(mktemp -d)
    trap 'rm -rf "$tmp"' EXIT
    mkdir -p "$tmp"/engine "$tmp"/ui "$tmp"/midi
    printf '#include "base/StepRecord.h"\n#include <cmath>\n' >"$tmp"/engine/Ok.h
    printf '#include "sequencer/Sequencer.h"\n' >"$tmp"/engine/Bad.h
    if check "$tmp" 2>/dev/null; then
        echo "check-includes self-test: engine/ including sequencer/ went unnoticed" >&2
        exit 1
    fi
    rm "$tmp"/engine/Bad.h
    printf '#include "ui/Controls.h"\n' >"$tmp"/midi/Bad.h
    if check "$tmp" 2>/dev/null; then
        echo "check-includes self-test: midi/ including ui/ went unnoticed" >&2
        exit 1
    fi
    rm "$tmp"/midi/Bad.h
    printf '#include "audio/MMReverb.h"\n' >"$tmp"/engine/Bad.cpp
    if check "$tmp" 2>/dev/null; then
        echo "check-includes self-test: engine/ including audio/ went unnoticed" >&2
        exit 1
    fi
    rm "$tmp"/engine/Bad.cpp
    mkdir -p "$tmp"/files
    printf '#include "dsp/RateStage.h"\n' >"$tmp"/files/Bad.cpp
    if check "$tmp" 2>/dev/null; then
        echo "check-includes self-test: files/ including dsp/ (side by side) went unnoticed" >&2
        exit 1
    fi
    rm "$tmp"/files/Bad.cpp
    check "$tmp" || { echo "check-includes self-test: a right-way include was refused" >&2; exit 1; }
    echo "check-includes self-test passed"
    exit 0
fi

root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
if check "$root"; then
    echo "includes run one way"
else
    echo "check-includes: includes against the dependency order (see the top of this script)" >&2
    exit 1
fi
