#!/bin/sh
# Recording soak (not part of ctest): cameras recording a compressed day
# onto small fake disks with overwriting on. Arguments: cameras, hours,
# disk size in MB, scenario (defaults 16, 24, 48, day; "foreign": a foreign
# file fills one of two tmpfs disks, "gone": one is unmounted while
# recording; both mount, as root). Builds the program first.
set -e
here=$(cd "$(dirname "$0")/.." && pwd)
build=${VARNO_BUILD_DIR:-$here/build}
cmake --build "$build" --target bench_soak_recording -j2 >/dev/null
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
cd "$home"
HOME="$home" XDG_DATA_HOME="$home/data" nice -n 19 "$build/bench/bench_soak_recording" "$@"
