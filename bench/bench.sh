#!/usr/bin/env bash
# The benchmark, called by ./run bench with Wine and a display started:
#   bench.sh BUILD [--repeats N] [--hot] [--size FILES FOLDERS KEYS SHARED] [--calls]
# Two applications: the large one (20000 files, 1000 folders, 2000 keys, 200 shared) and a
# small one (60 10 20 3), where a fixed cost shows; --size measures only the one given.
# Installs each synthetic application fresh before each timed run and removes it with
# (a) the stamped uninstaller in bare mode, (b) an NSIS uninstaller of the same
# application, (c) the floor program with the uninstaller's checks, (c0) the bare floor;
# in alternating order, N times each (default 5). The files are flushed to disk (sync)
# after each installation unless --hot is given. Then: the start-up of an empty block
# against an empty NSIS uninstaller, the loader from 10,000 to 40,000 entries, and the
# executable sizes. --calls also counts, under Wine's relay trace, the system calls each
# remover's own code makes on an application a tenth of the first one's size: figures that
# the machine's load does not change.
set -euo pipefail
build=$1; shift
repeats=3; hot=0; calls=0
apps=("large 20000 1000 2000 200" "small 60 10 20 3")
while [ $# -gt 0 ]; do
    case "$1" in
        --repeats) repeats=$2; shift 2 ;;
        --hot) hot=1; shift ;;
        --calls) calls=1; shift ;;
        --size) apps=("app $2 $3 $4 $5"); shift 5 ;;
        *) echo "bench: unknown option $1" >&2; exit 2 ;;
    esac
done
here=$(cd "$(dirname "$0")" && pwd)
out="$build/bench"
drive="$WINEPREFIX/drive_c"
tools="$drive/vanish-bench"       # C:\vanish-bench: the tools and the empty uninstallers
install='C:\Program Files\Vanish Bench'
mkdir -p "$out" "$tools/empty"
load0=$(cut -d' ' -f1-3 /proc/loadavg)

# Each application in a folder of its own; the empty uninstallers and the tools are shared.
prepare() { # NAME: generates the application, its NSIS uninstaller and the stamped one
    local dir="$out/$1"
    mkdir -p "$dir"
    python3 "$here/app.py" generate "$dir" --files "${size[0]}" --folders "${size[1]}" \
        --keys "${size[2]}" --shared "${size[3]}" >/dev/null
    echo "$1: $(cat "$dir/layout.txt")"
    (cd "$dir" && makensis -V1 nsis.nsi && wine nsis-writer.exe) >/dev/null 2>&1
    "$build/host/bench-stamp" "$build/win32/uninstall.exe" "$dir/manifest.txt" "$dir/uninstall.exe"
    cp -f "$dir/manifest.txt" "$tools/$1-manifest.txt"
    cp -f "$dir/app.reg" "$tools/$1-app.reg"
}

echo "== Preparing (not timed)"
size=(0 0 0 0)
python3 "$here/app.py" generate "$out" --files 10 --folders 10 --keys 2 --shared 0 >/dev/null
(cd "$out" && makensis -V1 nsis-empty.nsi)
# NSIS writes its uninstaller when its installer runs; each writer puts it beside itself.
(cd "$out" && wine nsis-empty-writer.exe) >/dev/null 2>&1
"$build/host/bench-stamp" "$build/win32/uninstall.exe" - "$tools/empty/uninstall.exe"
cp -f "$out/nsis-empty.exe" "$tools/empty/nsis-empty.exe"
cp -f "$build/win32/bench/benchlaunch.exe" "$build/win32/bench/benchfloor.exe" \
      "$build/win32/bench/benchload.exe" "$tools/"
cp -f "$build/win32/tests/fixtures/blockhost.dll" "$tools/"
for app in "${apps[@]}"; do
    read -r name size[0] size[1] size[2] size[3] <<<"$app"
    prepare "$name"
done

installed() { # NAME
    python3 "$here/app.py" install "$out/$1" "$drive"
    wine regedit /S "C:\\vanish-bench\\$1-app.reg" >/dev/null 2>&1
    [ "$hot" = 1 ] || sync
}

# What a run left behind: files and folders below the install folder (the two
# uninstallers stay in all runs, and a bare run keeps the journal of the shared counts it
# lowered beside its uninstaller), the application's key, its SharedDLLs values.
leftovers() {
    local root="$drive/Program Files/Vanish Bench" files dirs key shared
    files=$(find "$root" -type f ! -name uninstall.exe ! -name nsis-uninstall.exe \
        ! -name uninstall.released | wc -l)
    dirs=$(find "$root" -mindepth 1 -type d | wc -l)
    key=$(wine reg query 'HKLM\Software\Vanish Bench' >/dev/null 2>&1 && echo present || echo gone)
    shared=$( (wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs' 2>/dev/null || true) |
        grep -c 'Vanish Bench' || true)
    echo "files=$files folders=$dirs key=$key shared=$shared"
}

remover() { # REMOVER APPLICATION
    case "$1" in
        a) echo "\"$install\\uninstall.exe\" /X" ;;
        b) echo "\"$install\\nsis-uninstall.exe\" /S _?=$install" ;;
        c | c0) echo "C:\\vanish-bench\\benchfloor.exe $1 C:\\vanish-bench\\$2-manifest.txt \"$install\"" ;;
    esac
}
results="$out/results.txt"
: >"$results"
for app in "${apps[@]}"; do
    read -r name _ <<<"$app"
    echo "== Removing the $name application, $repeats runs of each (files $([ "$hot" = 1 ] && echo hot || echo flushed))"
    for ((r = 1; r <= repeats; r++)); do
        # Alternating pairs: a b c c0, then the reverse, so that a drift hits all alike.
        if ((r % 2)); then order="a b c c0"; else order="c0 c b a"; fi
        for v in $order; do
            installed "$name"
            line=$(BENCH_COMMAND="$(remover "$v" "$name")" wine 'C:\vanish-bench\benchlaunch.exe' 2>/dev/null | tr -d '\r')
            left=$(leftovers)
            echo "$v $line $left app=$name" | tee -a "$results"
        done
    done
done

echo "== Start-up: an empty block (/X) against an empty NSIS uninstaller (/S)"
for ((r = 1; r <= 4; r++)); do
    BENCH_COMMAND='C:\vanish-bench\empty\uninstall.exe /X' \
        wine 'C:\vanish-bench\benchlaunch.exe' -n 5 2>/dev/null |
        tr -d '\r' | sed 's/^/startup-a /' >>"$results"
    BENCH_COMMAND='C:\vanish-bench\empty\nsis-empty.exe /S _?=C:\vanish-bench\empty' \
        wine 'C:\vanish-bench\benchlaunch.exe' -n 5 2>/dev/null |
        tr -d '\r' | sed 's/^/startup-b /' >>"$results"
done

echo "== The loader, in process"
for n in 10000 20000 30000 40000; do
    wine 'C:\vanish-bench\benchload.exe' 'C:\vanish-bench\blockhost.dll' 'C:\vanish-bench' $n 9 2>/dev/null |
        tr -d '\r' | sed 's/^/load /' >>"$results"
done

if [ "$calls" = 1 ]; then
    echo "== System calls made by each remover's own code (a tenth of the application)"
    read -r _ size[0] size[1] size[2] size[3] <<<"${apps[0]}"
    for i in 0 1 2 3; do size[i]=$((size[i] / 10)); done
    prepare calls
    for v in a b c c0; do
        installed calls
        # The program's own module sits at 0x400000: its calls return to 004xxxxx.
        BENCH_CHILD_WINEDEBUG=+relay BENCH_COMMAND="$(remover "$v" calls)" \
            wine 'C:\vanish-bench\benchlaunch.exe' 2>&1 >/dev/null |
            grep -E '^[0-9a-f]+:Call [A-Za-z0-9_]+\.[A-Za-z0-9_]+\(.*ret=004' |
            sed -E 's/^[0-9a-f]+:Call ([A-Za-z0-9_.]+)\(.*/\1/' | sort | uniq -c |
            sed "s/^ *\([0-9]*\) /calls $v \1 /" >>"$results"
        echo "calls-left $v $(leftovers)" >>"$results"
    done
fi

size() { stat -c %s "$1"; }
{
    echo "size uninstall.exe $(size "$build/win32/uninstall.exe")"
    read -r name _ <<<"${apps[0]}"
    echo "size uninstall.exe+block $(size "$out/$name/uninstall.exe")"
    echo "size uninstall.exe+emptyblock $(size "$tools/empty/uninstall.exe")"
    echo "size nsis-uninstall.exe $(size "$out/$name/nsis-uninstall.exe")"
    echo "size nsis-empty.exe $(size "$out/nsis-empty.exe")"
    echo "size benchfloor.exe $(size "$build/win32/bench/benchfloor.exe")"
    echo "loadavg before $load0 after $(cut -d' ' -f1-3 /proc/loadavg)"
} >>"$results"
python3 "$here/report.py" "$results" "$repeats"
