#!/bin/sh
# The Debian packages as a user gets them: made and checked by scripts/package
# (CPack, appstreamcli, lintian) from the build, unpacked into a fresh root,
# the installed client asked for its options and started under Xvfb with a
# fresh home, logged in as admin until the main window shows; the installed
# varno-demo started the same way against its simulated cameras. Then the
# files the packages list are removed: nothing may be left of the root, and
# the user's data stays.
#   check_package.sh <source dir> <build dir> <version of project()>
# Run by tests/run-isolated (a temporary home and $VARNO_TEST_TMP).
set -eu
src=$1
build=$2
version=$3
tmp=${VARNO_TEST_TMP:?run me through tests/run-isolated}
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# --- making the packages ---------------------------------------------------
pk="$tmp/packages"
VARNO_PACKAGE_NO_BUILD=1 VARNO_BUILD_DIR=$build VARNO_PACKAGE_DIR=$pk "$src/scripts/package" \
    >"$tmp/package.log" 2>&1 || { cat "$tmp/package.log"; fail "scripts/package"; }
grep -E '^[EW]: ' "$pk/lintian.log" || true
arch=$(dpkg --print-architecture)
client_deb="$pk/varno-pc_${version}_$arch.deb"
camsim_deb="$pk/varno-camsim_${version}_$arch.deb"
for deb in "$client_deb" "$camsim_deb"; do
    [ -f "$deb" ] || fail "no $deb"
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$deb: version $(dpkg-deb -f "$deb" Version)"
done
# dpkg-shlibdeps named the libraries the programs link.
case "$(dpkg-deb -f "$client_deb" Depends)" in
    *libqt6widgets6*libc6* | *libc6*libqt6widgets6*) ;;
    *) fail "varno-pc Depends without the linked libraries: $(dpkg-deb -f "$client_deb" Depends)" ;;
esac
case "$(dpkg-deb -f "$camsim_deb" Depends)" in
    *"varno-pc (= $version)"*libgstrtspserver*) ;;
    *) fail "varno-camsim Depends: $(dpkg-deb -f "$camsim_deb" Depends)" ;;
esac

# Files of a package, one absolute path a line (directories end in /).
contents() { dpkg-deb --fsys-tarfile "$1" | tar -t | sed 's|^\./|/|' | grep -v '^/$'; }
contents "$client_deb" >"$tmp/client.list"
contents "$camsim_deb" >"$tmp/camsim.list"
for f in /usr/bin/varno-pc /usr/share/applications/varno-pc.desktop \
    /usr/share/metainfo/net.varno.pc.metainfo.xml /usr/share/man/man1/varno-pc.1.gz \
    /usr/share/icons/hicolor/scalable/apps/varno-pc.svg /usr/share/icons/hicolor/16x16/apps/varno-pc.png \
    /usr/share/icons/hicolor/256x256/apps/varno-pc.png /usr/share/varno/translations/translate_en.qm \
    /usr/share/varno/translations/translate_en2gm.qm /usr/share/doc/varno-pc/copyright \
    /usr/share/doc/varno-pc/changelog.gz; do
    grep -qx "$f" "$tmp/client.list" || fail "varno-pc lacks $f"
done
for f in /usr/bin/varno-demo /usr/libexec/varno/varno-camsim /usr/libexec/varno/varno-demo-seed \
    /usr/share/man/man1/varno-demo.1.gz /usr/share/doc/varno-camsim/copyright \
    /usr/share/doc/varno-camsim/changelog.gz; do
    grep -qx "$f" "$tmp/camsim.list" || fail "varno-camsim lacks $f"
done
# No file in both (dpkg would refuse the second package).
dups=$(grep -v '/$' "$tmp/client.list" "$tmp/camsim.list" | sed 's/^[^:]*://' | sort | uniq -d)
[ -z "$dups" ] || fail "files in both packages: $dups"

# --- installing --------------------------------------------------------------
root="$tmp/root"
mkdir -p "$root"
dpkg -x "$client_deb" "$root"
dpkg -x "$camsim_deb" "$root"
client="$root/usr/bin/varno-pc"

# --help and --version answer without any display; unknown options fail.
nodisplay="env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM"
[ "$($nodisplay "$client" --version)" = "varno-pc $version" ] || fail "--version: $($nodisplay "$client" --version)"
$nodisplay "$client" --help >"$tmp/help.txt" || fail "--help exit status"
grep -q -- '--connect-all' "$tmp/help.txt" && grep -q -- '--version' "$tmp/help.txt" || fail "--help: $(cat "$tmp/help.txt")"
rc=0
# (Unknown options are told once the toolkit took its own: offscreen here.)
QT_QPA_PLATFORM=offscreen "$client" --no-such-option 2>"$tmp/bad.txt" || rc=$?
[ $rc -eq 2 ] && grep -q "no-such-option" "$tmp/bad.txt" || fail "unknown option: status $rc, $(cat "$tmp/bad.txt")"
[ "$($nodisplay "$root/usr/bin/varno-demo" --version)" = "varno-demo $version" ] || fail "varno-demo --version"

# --- running under Xvfb ------------------------------------------------------
display=80
while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >"$tmp/xvfb.log" 2>&1 &
xvfb_pid=$!
client_pid=
demo_pid=
stop() {
    for p in $client_pid $demo_pid; do kill "$p" 2>/dev/null || true; done
    kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap stop EXIT
export DISPLAY=":$display"
i=0
until xdpyinfo >/dev/null 2>&1; do
    i=$((i + 1))
    [ $i -lt 100 ] || fail "Xvfb did not start: $(cat "$tmp/xvfb.log")"
    sleep 0.1
done

# Waits (at most $2 s) until the shell test $1 holds.
wait_until() {
    n=0
    until eval "$1"; do
        n=$((n + 1))
        [ $n -lt $(($2 * 10)) ] || return 1
        sleep 0.1
    done
}

# Logs in through the login dialog of process $1 as admin/admin and waits for
# its main window; prints that window's id.
log_in() {
    login=$(timeout 60 xdotool search --sync --onlyvisible --pid "$1" 2>/dev/null | head -n 1)
    [ -n "$login" ] || return 1
    xdotool windowfocus --sync "$login" key ctrl+a type admin
    xdotool key Tab ctrl+a type admin
    xdotool key Return
    # The window the search finds must still be there when asked again (Qt
    # may replace a native window while it sets the main window up).
    n=0
    until main=$(xdotool search --onlyvisible --pid "$1" --name '^Client$' 2>/dev/null | tail -n 1) &&
        [ -n "$main" ] && [ "$(xdotool getwindowname "$main" 2>/dev/null)" = Client ]; do
        n=$((n + 1))
        [ $n -lt 600 ] || return 1
        sleep 0.1
    done
    echo "$main"
}

# The installed client with a fresh home and no data folder of its own.
user="$tmp/user"
mkdir -p "$user"
env -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u XDG_CACHE_HOME -u QT_QPA_PLATFORM HOME="$user" LANG=C.UTF-8 \
    "$client" >"$tmp/client.out" 2>&1 &
client_pid=$!
main=$(log_in "$client_pid") || fail "no main window after the login; client output: $(tail -n 20 "$tmp/client.out")"
log="$user/.local/share/varno/log/Varno.log"
wait_until 'grep -q "Start Client" "$log" 2>/dev/null' 30 || fail "no \"Start Client\" in $log"
grep -qF "#version:v$version<============" "$log" || fail "log banner: $(grep -F 'Start Varno' "$log")"
xdotool getwindowgeometry "$main" >/dev/null 2>&1 || fail "main window $main is gone"
kill "$client_pid"
wait "$client_pid" 2>/dev/null || true
client_pid=

# The installed demo: seeded for 127.0.0.1 before its client starts, its
# cameras on the simulator, everything ended when the client closes.
demo_dir="$tmp/demo"
env -u XDG_DATA_HOME -u QT_QPA_PLATFORM HOME="$user" LANG=C.UTF-8 VARNO_DEMO_DIR="$demo_dir" \
    PATH="$root/usr/bin:$PATH" varno-demo >"$tmp/demo.out" 2>&1 &
demo_pid=$!
wait_until 'grep -q "log in as admin" "$tmp/demo.out"' 60 || fail "varno-demo did not start: $(cat "$tmp/demo.out")"
grep -qx "probe_target = 127.0.0.1:[0-9]*" "$demo_dir/data/varno/onvif.conf" || fail "demo onvif.conf"
demo_client=
wait_until 'demo_client=$(pgrep -P "$demo_pid" -x varno-pc)' 30 || fail "varno-demo started no client"
log_in "$demo_client" >/dev/null || fail "demo: no main window after the login: $(cat "$tmp/demo.out")"
# --connect-all opens the simulated cameras on the live page.
wait_until 'grep -q "\[PREVIEW\]Start win(" "$demo_dir/data/varno/log/Varno.log" 2>/dev/null' 60 ||
    fail "no demo camera opened: $(tail -n 20 "$demo_dir/data/varno/log/Varno.log")"
kill "$demo_client"
wait_until '! kill -0 "$demo_pid" 2>/dev/null' 30 || fail "varno-demo did not end with its client"
demo_pid=
grep -q "demo stopped" "$tmp/demo.out" || fail "varno-demo: $(cat "$tmp/demo.out")"
! pgrep -f "$root/usr/libexec/varno/varno-camsim" >/dev/null || fail "the simulator outlived the demo"

# --- removing ----------------------------------------------------------------
# Files first, then the directories, deepest first, each only when empty
# (as dpkg does with directories other packages share).
cat "$tmp/client.list" "$tmp/camsim.list" | grep -v '/$' | while read -r f; do rm -f "$root$f"; done
cat "$tmp/client.list" "$tmp/camsim.list" | grep '/$' | sort -ru | while read -r d; do
    rmdir "$root$d" 2>/dev/null || true
done
left=$(find "$root" -mindepth 1)
[ -z "$left" ] || fail "left after removal: $left"
# The user's data stays, and it is only in the user's home.
[ -s "$user/.local/share/varno/devstore.db" ] || fail "the user's data went with the package"
echo "package test ok: $(basename "$client_deb") $(basename "$camsim_deb")"
