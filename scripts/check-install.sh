#!/usr/bin/env bash
# Checks what "cmake --install" puts where: bash scripts/check-install.sh [BUILD_DIR] [DEB]
#
# Installs BUILD_DIR (default build, built) with the prefix /usr into a temporary DESTDIR and
# checks that exactly the expected files arrive, all under the prefix; that the desktop entry
# and the AppStream metainfo pass their validators; that both manual pages render without a
# warning and document every option the programs' --help lists; that the icons have their
# sizes; and that the staged program finds its own help document there, not the one in the
# build tree or the configured prefix.
# With DEB (a package made by scripts/package.sh) it also checks that the package holds the
# same files plus Debian's copyright file and changelog, and runs lintian on it: an error fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
deb=${2:-}
id=io.github.zelvox.Zelvox
fail() {
  echo "check-install: $*" >&2
  exit 1
}

expected=(
  usr/bin/zelvox
  usr/bin/zelvox-render
  usr/lib/lv2/zelvox.lv2/manifest.ttl
  usr/lib/lv2/zelvox.lv2/presets.ttl
  usr/lib/lv2/zelvox.lv2/zelvox.so
  usr/lib/lv2/zelvox.lv2/zelvox.ttl
  usr/lib/lv2/zelvox.lv2/zelvox_ui.so
  usr/lib/lv2/zelvox.lv2/zelvox-window
  usr/share/applications/$id.desktop
  usr/share/icons/hicolor/128x128/apps/$id.png
  usr/share/icons/hicolor/256x256/apps/$id.png
  usr/share/icons/hicolor/48x48/apps/$id.png
  usr/share/icons/hicolor/64x64/apps/$id.png
  usr/share/icons/hicolor/scalable/apps/$id.svg
  usr/share/man/man1/zelvox-render.1.gz
  usr/share/man/man1/zelvox.1.gz
  usr/share/metainfo/$id.metainfo.xml
  usr/share/zelvox/Zelvox.html
)
# The factory bank: every pattern file kept in patterns/.
for f in patterns/*.zvx; do expected+=("usr/share/zelvox/patterns/${f#patterns/}"); done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage/root" cmake --install "$build" --prefix /usr >/dev/null
root=$stage/root

# Exactly these files, and nothing beside the prefix.
diff -u <(printf '%s\n' "${expected[@]}" | sort) <(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort) ||
  fail "the installed files differ from the expected list (above: - expected, + installed)"
[ "$(cd "$root" && ls -A)" = usr ] || fail "something was installed outside the prefix: $(ls -A "$root")"

desktop-file-validate "$root/usr/share/applications/$id.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml" >"$stage/as.txt" 2>&1 ||
  { cat "$stage/as.txt"; fail "appstreamcli validate"; }
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$root/usr/share/metainfo/$id.metainfo.xml" ||
  fail "the metainfo does not launch $id.desktop"
grep -qx "Icon=$id" "$root/usr/share/applications/$id.desktop" || fail "the desktop entry's icon is not $id"

for size in 48 64 128 256; do
  file -b "$root/usr/share/icons/hicolor/${size}x$size/apps/$id.png" | grep -q "PNG image data, $size x $size," ||
    fail "the ${size}x$size icon is not a $size x $size PNG"
done

for prog in zelvox zelvox-render; do
  page=$root/usr/share/man/man1/$prog.1.gz
  warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man -l $prog.1 failed"
  [ -z "$warnings" ] || fail "man -l $prog.1 warns: $warnings"
  text=$(MANWIDTH=200 LC_ALL=C.UTF-8 man -l "$page" 2>/dev/null | col -b)
  for opt in $("$root/usr/bin/$prog" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
    grep -qF -- "$opt" <<<"$text" || fail "$prog --help lists $opt, its manual page does not"
  done
done

# The staged program finds the staged help document (relative to itself), though the build
# was configured for another prefix and the build tree has its own copy.
found=$(cd "$stage" && XDG_CONFIG_HOME="$stage/config" QT_QPA_PLATFORM=offscreen \
  "$root/usr/bin/zelvox" --check-help 2>"$stage/help.err") || { cat "$stage/help.err"; fail "zelvox --check-help"; }
[ "$found" = "$(realpath "$root/usr/share/zelvox/Zelvox.html")" ] ||
  fail "the staged zelvox shows $found, not its own help document"

# The staged renderer lists the staged bank (relative to itself) and renders from it.
listed=$("$root/usr/bin/zelvox-render" --list-examples) || fail "zelvox-render --list-examples"
[ "$listed" = "$(cd patterns && ls -- *.zvx | sed 's/\.zvx$//')" ] ||
  fail "the staged zelvox-render lists other examples: $listed"
(cd "$stage" && "$root/usr/bin/zelvox-render" --example "$(head -n1 <<<"$listed")" --seconds 1 -o ex.wav) &&
  [ -s "$stage/ex.wav" ] || fail "the staged zelvox-render does not render an example"

if [ -n "$deb" ]; then
  diff -u <(printf '%s\n' "${expected[@]}" usr/share/doc/zelvox/changelog.gz usr/share/doc/zelvox/copyright | sort) \
    <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | sort) ||
    fail "the package's files differ from the install's (above: - expected, + in the package)"
  # Errors fail; warnings and the rest are shown (the ones kept are explained in
  # docs/decisions.md, "Installing and packaging").
  lintian --fail-on error --display-level '>=pedantic' "$deb" || fail "lintian found errors in $deb"
fi
echo "check-install: $build installs as expected${deb:+; $deb passes lintian}"
