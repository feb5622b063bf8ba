#!/usr/bin/env bash
# Installs what the build made, as a user would get it, and checks it: `cmake --install` into a
# temporary prefix (every file in place, desktop entry and metainfo valid), then the Debian package
# built with CPack, installed with apt-get, its command-line tool run and its window started under
# Xvfb with a GIF. Needs root or sudo (apt-get). Usage: scripts/check-package.sh [BUILD-DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/default}" && pwd)"
out="$build/package-check"
rm -rf "$out"
mkdir -p "$out"
app_id=org.movarogif.MovaroGif

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

# 1. Into a temporary prefix.
prefix="$out/prefix"
cmake --install "$build" --prefix "$prefix" >"$out/install.log"
for f in bin/movaro-gif bin/movaro-gif-cli \
    "share/applications/$app_id.desktop" "share/metainfo/$app_id.metainfo.xml" \
    "share/icons/hicolor/scalable/apps/$app_id.svg" "share/icons/hicolor/48x48/apps/$app_id.png" \
    "share/icons/hicolor/256x256/apps/$app_id.png" share/man/man1/movaro-gif-cli.1 \
    share/movaro-gif/third-party.txt share/movaro-gif/help/index.html share/doc/movaro-gif/copyright share/doc/movaro-gif/LICENSE; do
    [ -f "$prefix/$f" ] || fail "cmake --install did not put $f in place"
done
desktop-file-validate "$prefix/share/applications/$app_id.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/$app_id.metainfo.xml"
man_warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/movaro-gif-cli.1" 2>&1 >/dev/null)
[ -z "$man_warnings" ] || fail "the manual page has warnings: $man_warnings"
version=$("$prefix/bin/movaro-gif-cli" --version)
grep -q "<release version=\"${version##* }\"" "$prefix/share/metainfo/$app_id.metainfo.xml" \
    || fail "the metainfo has no release for '$version'"

# 2. The Debian package, its dependencies taken from the linked libraries.
(cd "$build" && cpack -G DEB -B "$out/cpack" >"$out/cpack.log") || { cat "$out/cpack.log"; fail "cpack"; }
deb=$(ls "$out"/cpack/movaro-gif_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
echo "package: $(basename "$deb")"
echo "depends: $depends"
for lib in libqt6widgets6 libgraphicsmagick libjpeg62-turbo libpng16-16 qt6-qpa-plugins; do
    grep -q "$lib" <<<"$depends" || fail "the package does not depend on $lib"
done
# Every library the programs link, apart from the C and C++ run-times, is named in the
# third-party list by its Debian source package.
for pkg in $(tr ',' '\n' <<<"$depends" | awk '{print $1}'); do
    source_pkg=$(dpkg-query -W -f='${source:Package}' "$pkg" 2>/dev/null || true)
    case "$source_pkg" in "" | glibc | gcc-12 | qt6-translations) continue ;; esac
    grep -q "Debian source package: $source_pkg)" "$root/data/third-party.txt" \
        || fail "the third-party list does not name $source_pkg (package $pkg)"
done

"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=300 \
    --no-install-recommends "$deb" >"$out/apt.log" 2>&1 || { cat "$out/apt.log"; fail "apt-get install"; }
trap '"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq -o DPkg::Lock::Timeout=300 movaro-gif >/dev/null 2>&1 || true' EXIT

[ "$(/usr/bin/movaro-gif-cli --version)" = "$version" ] || fail "the installed movaro-gif-cli --version differs"

# 3. The installed window, started with a GIF made by the installed tool.
convert -size 40x30 xc:'rgb(200,30,30)' "$out/a.png"
convert -size 40x30 xc:'rgb(30,30,200)' "$out/b.png"
/usr/bin/movaro-gif-cli make -o "$out/installed.gif" "$out/a.png" "$out/b.png"
(
    export MOVARO_BIN=/usr/bin E2E_OUT="$out/window"
    source "$root/tests/e2e/lib.sh"
    start_x
    start_app "$out/installed.gif"
    window=$(wait_window 'installed\.gif - Movaro Gif$')
    screenshot installed-window
    echo "installed window: '$(xdotool getwindowname "$window")'"
)
echo "package check passed"
