#!/usr/bin/env bash
# Runs the system on the demo plant (tools/demo/ra_vuvuvizi.ini): builds the
# programs when needed, then starts the data server, the computing core and
# the raw-value feeder in a sandbox (QX_ROOT in a temporary directory, a
# private IPC namespace), and shows tags, raw values and archive rows every
# few seconds.  Ctrl-C stops everything and removes the temporary sandbox.
#
#   ./run.sh [--root DIR] [--every SECONDS] [--seconds N]
#     --root DIR     sandbox directory to use and keep (also QX_RUN_ROOT)
#     --every S      seconds between two displays (default 5)
#     --seconds N    stop by itself after N seconds; exit 0 only when tag
#                    values changed and archive rows arrived
#   QX_BIN_DIR       build directory holding the programs (skips the build)
#   QX_RUN_BUILD     build directory to build into (default build-run)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

root=${QX_RUN_ROOT:-}
every=5
seconds=0
args=("$@")
while (($#)); do
    case "$1" in
        --root) root=${2:?--root needs a directory}; shift 2 ;;
        --every) every=${2:?--every needs seconds}; shift 2 ;;
        --seconds) seconds=${2:?--seconds needs a number}; shift 2 ;;
        -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
        *) echo "run.sh: unknown argument $1 (see --help)" >&2; exit 2 ;;
    esac
done
[[ $every =~ ^[1-9][0-9]*$ && $seconds =~ ^[0-9]+$ ]] || { echo "run.sh: --every and --seconds take whole seconds" >&2; exit 2; }

# ---- Outside the namespace: build, then enter a private IPC namespace -------
if [ -z "${QX_RUN_INNER:-}" ]; then
    if [ -z "${QX_BIN_DIR:-}" ]; then
        . "$here/scripts/ensure-packages.sh"
        ensure_packages cmake ninja-build g++ util-linux
        build=${QX_RUN_BUILD:-$here/build-run}
        echo "== building the programs in $build"
        if [ ! -f "$build/build.ninja" ]; then
            cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
                -DQX_BUILD_TESTS=OFF -DQX_BUILD_BENCH=OFF >/dev/null
        fi
        cmake --build "$build" --target qx_datasrv qx_calc qx_feeder qx_inspect | tail -n 1
        export QX_BIN_DIR=$build
    fi
    export QX_RUN_INNER=1
    # Root may create an IPC namespace directly; anyone else through a user namespace.
    if unshare --ipc true 2>/dev/null; then
        exec unshare --ipc -- "$here/run.sh" "${args[@]}"
    fi
    exec unshare --user --map-root-user --ipc -- "$here/run.sh" "${args[@]}"
fi

# ---- Inside the namespace: sandbox, programs, display ----------------------
bin=$QX_BIN_DIR
inspect=$bin/tools/qx_inspect
keep=1
if [ -z "$root" ]; then
    root=$(mktemp -d /tmp/qx-run-XXXXXX)
    keep=0
fi
mkdir -p "$root/home/kwz/log" "$root/tmp" "$root/archiv"
root=$(cd "$root" && pwd)
export QX_ROOT=$root
archive=$root/archiv
if [ ${#archive} -gt 63 ]; then
    echo "run.sh: the archive directory $archive is longer than 63 characters; choose a shorter --root" >&2
    exit 2
fi
config=$root/home/kwz/ra_vuvuvizi.ini
# A chosen sandbox keeps its configuration (the data server writes the state back).
[ -f "$config" ] || sed "s|@DIR_ARCHIV@|$archive|" "$here/tools/demo/ra_vuvuvizi.ini" >"$config"
[ -f "$root/home/kwz/MS_TZInfo.ini" ] || cp "$here/tools/demo/MS_TZInfo.ini" "$root/home/kwz/MS_TZInfo.ini"
log=$root/home/kwz/log

pids=()
sleeper=""
cleanup() {
    local status=$?
    trap - EXIT INT TERM HUP
    set +e
    [ -n "$sleeper" ] && kill "$sleeper" 2>/dev/null
    # Core and feeder first, then the data server, so it sees their last steps.
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        if [ "$i" -eq 0 ]; then kill -USR1 "${pids[$i]}" 2>/dev/null; else kill -TERM "${pids[$i]}" 2>/dev/null; fi
    done
    for _ in $(seq 30); do
        local alive=0
        for p in "${pids[@]}"; do kill -0 "$p" 2>/dev/null && alive=1; done
        [ "$alive" -eq 0 ] && break
        sleep 0.1
    done
    for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null; done
    wait 2>/dev/null
    if [ "$keep" -eq 0 ]; then rm -rf "$root"; else echo "run.sh: sandbox kept in $root"; fi
    echo "run.sh: stopped"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

echo "== sandbox $root (archive in $archive)"
"$bin/datasrv/qx_datasrv" >"$log/qx_datasrv.out" 2>&1 &
pids+=($!)
echo "qx_datasrv pid ${pids[0]}"
for _ in $(seq 200); do
    grep -q "Server bereit" "$log/qx_datasrv.out" && break
    kill -0 "${pids[0]}" 2>/dev/null || break
    sleep 0.1
done
if ! grep -q "Server bereit" "$log/qx_datasrv.out"; then
    echo "run.sh: the data server did not come up:" >&2
    tail -n 20 "$log/qx_datasrv.out" >&2
    exit 1
fi
"$bin/calc/qx_calc" >"$log/qx_calc.out" 2>&1 &
pids+=($!)
echo "qx_calc pid ${pids[1]}"
# Raw values as the links would deliver them: SLOT,KIND,A,B,SECONDS,VALIDITY,UNIT
"$bin/tools/qx_feeder" \
    1,sine,62,8,120,10,degC \
    2,sine,45,4,90,10,degC \
    3,count,12000,0.05,1,0,kWh \
    4,sine,2048,1500,300,10,ADC \
    5,square,3.2,0,40,10,m3/h \
    6,sine,12,4,60,10,mA \
    7,gap,5,3,90,5,degC \
    >"$log/qx_feeder.out" 2>&1 &
pids+=($!)
echo "qx_feeder pid ${pids[2]}"

names=(qx_datasrv qx_calc qx_feeder)
archived=(1 5 7 9 13 14 15)
started=$(date +%s)
first_tags=""
tags=""
while :; do
    for i in "${!pids[@]}"; do
        if ! kill -0 "${pids[$i]}" 2>/dev/null; then
            echo "run.sh: ${names[$i]} ended unexpectedly:" >&2
            tail -n 20 "$log/${names[$i]}.out" >&2
            exit 1
        fi
    done
    tags=$("$inspect" tags)
    [ -n "$first_tags" ] || first_tags=$tags
    rows=$("$inspect" archive --status --last 60 "${archived[@]}" || true)
    [ -t 1 ] && printf '\033[H\033[2J'
    echo "== qx demo, sandbox $root, $(date -u '+%H:%M:%S') UTC; Ctrl-C stops"
    echo "$tags"
    echo
    "$inspect" raw
    echo
    echo "== interval archive, last rows (tag value and status)"
    echo "${rows%%$'\n'*}"
    echo "$rows" | tail -n +2 | tail -n 4
    if [ "$seconds" -gt 0 ] && [ $(($(date +%s) - started)) -ge "$seconds" ]; then
        if [ "$tags" = "$first_tags" ]; then
            echo "run.sh: no tag value changed in $seconds seconds" >&2
            exit 1
        fi
        if [ "$(echo "$rows" | tail -n +2 | grep -c .)" -lt 1 ]; then
            echo "run.sh: no archive row arrived in $seconds seconds" >&2
            exit 1
        fi
        echo "run.sh: values changed and archive rows arrived"
        exit 0
    fi
    sleep "$every" &
    sleeper=$!
    wait "$sleeper" || true
    sleeper=""
done
