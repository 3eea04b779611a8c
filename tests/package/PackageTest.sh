#!/usr/bin/env bash
# Builds the .deb of this build tree with CPack, unpacks it into a scratch root and checks
# what a Debian desktop gets from it: the files, the dependencies, the desktop entry, the
# AppStream metadata, the manual pages, the bash completions, lintian's verdict, the installed
# program's --version and --help, and a start on a headless Wayland compositor (skipped with
# the reason when weston or Qt's Wayland plugin is missing).
#   PackageTest.sh BUILD_DIR VERSION
set -uo pipefail
build=$1
version=$2
work=$(mktemp -d)
compositor=""
trap '[[ -z "$compositor" ]] || kill "$compositor" 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

for tool in cpack dpkg-deb dpkg desktop-file-validate appstreamcli man lintian; do
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
grep -qE '(^|, )qt6-wayland(,|$)' <<<"$(dpkg-deb -f "$deb" Recommends)" || fail "Recommends lacks qt6-wayland"
lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 ||
    { cat "$work/lintian.log" >&2; fail "lintian"; }

root=$work/root
dpkg -x "$deb" "$root"
share=$root/usr/share
for file in usr/bin/vandrel usr/bin/vandrel-devsim usr/share/applications/org.vandrel.Vandrel.desktop \
    usr/share/metainfo/org.vandrel.Vandrel.metainfo.xml usr/share/doc/vandrel/changelog.gz \
    usr/share/bash-completion/completions/{vandrel,vandrel-devsim} \
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

entry=$share/applications/org.vandrel.Vandrel.desktop
desktop-file-validate "$entry" || fail "desktop-file-validate rejects the entry"
grep -qx 'Exec=vandrel' "$entry" || fail "entry does not start vandrel"
grep -qx 'Icon=vandrel' "$entry" || fail "entry names no icon"
grep -qE '^Categories=.*Network;.*RemoteAccess;' "$entry" || fail "entry categories"
metainfo=$share/metainfo/org.vandrel.Vandrel.metainfo.xml
grep -qx '  <launchable type="desktop-id">org.vandrel.Vandrel.desktop</launchable>' "$metainfo" ||
    fail "metadata launches another desktop entry"
appstreamcli validate --no-net "$metainfo" >"$work/as.log" 2>&1 ||
    { cat "$work/as.log" >&2; fail "appstreamcli rejects the metadata"; }
grep -q "release version=\"$version\"" "$metainfo" ||
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
"$root/usr/bin/vandrel-devsim" --help >"$work/vandrel-devsim-help.txt" 2>&1 || fail "vandrel-devsim --help"

# Completion offers every option the programs' --help lists, and --format's values.
completions=$share/bash-completion/completions
for program in vandrel vandrel-devsim; do
    help_file=$work/$program-help.txt
    [[ -f "$help_file" ]] || "$root/usr/bin/$program" --help >"$help_file" 2>&1
    offered=$(bash -c 'source "$1"; COMP_WORDS=("$2" --scan -); COMP_CWORD=2
        "_${2//-/_}"; printf "%s\n" "${COMPREPLY[@]}"' _ "$completions/$program" "$program")
    for option in $(grep -oE -- '^ +(-[a-z], )?--[a-z0-9-]+' "$help_file" | grep -oE -- '--[a-z0-9-]+'); do
        grep -qxF -- "$option" <<<"$offered" || fail "$program completion lacks $option"
    done
done
formats=$(bash -c 'source "$1"; COMP_WORDS=(vandrel --scan --format ""); COMP_CWORD=3
    _vandrel; echo "${COMPREPLY[*]}"' _ "$completions/vandrel")
[[ "$formats" == "table csv json" ]] || fail "completion of --format offers '$formats'"

# On a Wayland desktop: weston's headless backend, the installed program with Qt's Wayland
# plugin; its window is made and drawn, and SIGTERM ends it with status 0 within 1 s.
wayland_smoke() {
    export XDG_RUNTIME_DIR=$work/xdg
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    weston --backend=headless-backend.so --socket=vandrel-test --idle-time=0 --no-config \
        >"$work/weston.log" 2>&1 &
    compositor=$!
    for _ in $(seq 100); do
        [[ -S "$XDG_RUNTIME_DIR/vandrel-test" ]] && break
        sleep 0.05
    done
    [[ -S "$XDG_RUNTIME_DIR/vandrel-test" ]] || { cat "$work/weston.log" >&2; fail "weston did not start"; return; }
    WAYLAND_DEBUG=1 QT_QPA_PLATFORM=wayland WAYLAND_DISPLAY=vandrel-test \
        "$root/usr/bin/vandrel" >"$work/wayland.log" 2>&1 &
    local program=$!
    for _ in $(seq 200); do
        grep -q 'wl_surface@[0-9]*\.attach(wl_buffer' "$work/wayland.log" && break
        sleep 0.05
    done
    grep -q 'xdg_toplevel@[0-9]*\.set_app_id("org.vandrel.Vandrel")' "$work/wayland.log" ||
        fail "no Wayland window with the desktop entry's id"
    grep -q 'wl_surface@[0-9]*\.attach(wl_buffer' "$work/wayland.log" || fail "the Wayland window was never drawn"
    kill -TERM "$program"
    local waited=0
    while kill -0 "$program" 2>/dev/null && ((waited < 20)); do
        sleep 0.05
        waited=$((waited + 1))
    done
    if kill -0 "$program" 2>/dev/null; then
        kill -KILL "$program"
        fail "vandrel still ran 1 s after SIGTERM"
    fi
    wait "$program"
    local status=$?
    ((status == 0)) || { grep -v '^\[' "$work/wayland.log" | tail -5 >&2; fail "vandrel ended with status $status on SIGTERM"; }
}
if ! command -v weston >/dev/null; then
    echo "SKIP Wayland start: weston is not installed"
elif [[ ! -e "$(qtpaths6 --query QT_INSTALL_PLUGINS 2>/dev/null)/platforms/libqwayland-generic.so" ]]; then
    echo "SKIP Wayland start: Qt's Wayland plugin (qt6-wayland) is not installed"
else
    wayland_smoke
fi

((failures == 0)) && echo "package checks passed: $(basename "$deb")"
exit $((failures > 0))
