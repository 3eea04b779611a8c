#!/usr/bin/env bash
# Builds the .deb of this build tree with CPack, unpacks it into a scratch root and checks
# what a Debian desktop gets from it: the files, the dependencies, the desktop entry, the
# AppStream metadata, the manual pages and the installed program's --version and --help.
#   PackageTest.sh BUILD_DIR VERSION
set -uo pipefail
build=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

for tool in cpack dpkg-deb dpkg desktop-file-validate appstreamcli man; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/test installs it)" >&2; exit 1; }
done
cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; echo "FAIL: cpack" >&2; exit 1; }
deb=$(find "$work/out" -maxdepth 1 -name 'vandrel_*.deb')
[[ -f "$deb" ]] || { echo "FAIL: no .deb in $work/out" >&2; exit 1; }
[[ "$(basename "$deb")" == "vandrel_${version}_$(dpkg --print-architecture).deb" ]] ||
    fail "package file name $(basename "$deb")"

info=$(dpkg-deb -I "$deb")
for field in "Package: vandrel" "Version: $version" "Section: net"; do
    grep -qx " $field" <<<"$info" || fail "control lacks '$field'"
done
depends=$(dpkg-deb -f "$deb" Depends)
names=$(sed -E 's/ \([^)]*\)//g; s/, /\n/g' <<<"$depends")
# From dpkg-shlibdeps, and what no library names.
for dep in libc6 libstdc++6 libqt6core6 libqt6widgets6 libqt6svg6 qt6-qpa-plugins netbase; do
    grep -qxF "$dep" <<<"$names" || fail "Depends lacks $dep: $depends"
done

root=$work/root
dpkg -x "$deb" "$root"
share=$root/usr/share
for file in usr/bin/vandrel usr/bin/vandrel-devsim usr/share/applications/vandrel.desktop \
    usr/share/metainfo/example.vandrel.Vandrel.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/vandrel.svg \
    usr/share/icons/hicolor/{16x16,22x22,24x24,32x32,48x48,64x64,128x128,256x256}/apps/vandrel.png \
    usr/share/man/man1/vandrel.1.gz usr/share/man/man1/vandrel-devsim.1.gz \
    usr/share/doc/vandrel/copyright; do
    [[ -s "$root/$file" ]] || fail "missing $file"
done
[[ -x "$root/usr/bin/vandrel" && -x "$root/usr/bin/vandrel-devsim" ]] || fail "programs not executable"
# A PNG's width and height are the big-endian words at bytes 16 and 20.
for size in 16 48 256; do
    png=$share/icons/hicolor/${size}x${size}/apps/vandrel.png
    read -r -a bytes < <(od -An -tu1 -j16 -N8 "$png")
    (( (bytes[2] << 8 | bytes[3]) == size && (bytes[6] << 8 | bytes[7]) == size )) ||
        fail "$png is not $size x $size"
done

entry=$share/applications/vandrel.desktop
desktop-file-validate "$entry" || fail "desktop-file-validate rejects the entry"
grep -qx 'Exec=vandrel' "$entry" || fail "entry does not start vandrel"
grep -qx 'Icon=vandrel' "$entry" || fail "entry names no icon"
grep -qE '^Categories=.*Network;.*RemoteAccess;' "$entry" || fail "entry categories"
appstreamcli validate --no-net "$share/metainfo/example.vandrel.Vandrel.metainfo.xml" >"$work/as.log" 2>&1 ||
    { cat "$work/as.log" >&2; fail "appstreamcli rejects the metadata"; }
grep -q "release version=\"$version\"" "$share/metainfo/example.vandrel.Vandrel.metainfo.xml" ||
    fail "metadata names another release"
for page in vandrel vandrel-devsim; do
    warnings=$(LC_ALL=C MANWIDTH=80 man --warnings -l "$share/man/man1/$page.1.gz" 2>&1 >"$work/$page.txt")
    [[ -z "$warnings" ]] || fail "man --warnings on $page.1: $warnings"
    grep -q "$page" "$work/$page.txt" || fail "$page.1 renders empty"
done

# The installed program runs without a display for these, and names its build.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/vandrel" --version 2>&1)
[[ "$out" == "Vandrel $version (build 0)" ]] || fail "vandrel --version says '$out'"
help=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/vandrel" --help 2>&1)
for option in --help --version --scan --timeout --format; do
    grep -q -- "$option" <<<"$help" || fail "vandrel --help lacks $option"
    grep -q -- "$option" "$work/vandrel.txt" || fail "vandrel.1 lacks $option"
done
"$root/usr/bin/vandrel-devsim" --help >/dev/null 2>&1 || fail "vandrel-devsim --help"

((failures == 0)) && echo "package checks passed: $(basename "$deb")"
exit $((failures > 0))
