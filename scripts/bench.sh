#!/bin/sh
# Builds what the benchmarks need, runs them and prints one table.
# Every comparison is measured in the same run: the contenders take turns
# within each round (the order rotates from round to round, and reverses
# every other round) and each figure is the median of BENCH_ROUNDS rounds
# (default 5).
# Usage: scripts/bench.sh            (UPDATER_BUILD selects the build folder)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="${UPDATER_BUILD:-$root/build}"
rounds="${BENCH_ROUNDS:-5}"
case "$rounds" in '' | *[!0-9]* | 0) echo "bench: BENCH_ROUNDS must be a positive number" >&2; exit 2 ;; esac

"$root/scripts/setup-debian.sh" --bench

# ---- builds ----
echo "bench: building" >&2
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target updater checksum_bench install_bench publisher_native >/dev/null
# The same checksum code for x86-64 Linux, with the host compiler.
cmake -S "$root/bench/native" -B "$build/bench-native" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/bench-native" -j "$(nproc)" >/dev/null
# The same benchmark programs for 64-bit Windows: wine64 runs them without qemu.
cmake -S "$root" -B "$build/bench-x64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/bench-x64" -j "$(nproc)" --target checksum_bench install_bench >/dev/null

updater="$build/app/updater.exe"
updpub="$build/publisher-native/updpub"
bench32="$build/bench/install_bench.exe"
bench64="$build/bench-x64/bench/install_bench.exe"

# ---- data: about 1 GiB, three large files and 50 small ones ----
work="$build/bench-work"
rm -rf "$work"
mkdir -p "$work"
# Source, package and peer installer, and one contender's output at a time:
# some 4 GiB, with room to spare.
free_kib=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
if [ "$free_kib" -lt $((6 * 1024 * 1024)) ]; then
    echo "bench: needs 6 GiB free under $work, has $((free_kib / 1024)) MiB" >&2
    exit 1
fi

. "$root/scripts/wine-env.sh"
session=""
cleanup() {
    # Only the session this script started: without it, wineserver -k would
    # reach whatever prefix the environment names.
    if [ -n "$session" ]; then
        stop_wine_session
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "bench: writing the files, the package and the peer installer" >&2
src="$work/src"
mkdir -p "$src"
for i in 1 2 3; do
    head -c 330M /dev/urandom >"$src/data0$i.arc"
done
i=1
while [ $i -le 50 ]; do
    # 20 KiB to 1 MiB, sizes that end inside a chunk.
    head -c $((i * 20480 + i * 37)) /dev/urandom >"$src/$(printf 'small%02d.dat' $i)"
    i=$((i + 1))
done
bytes=$(cat "$src"/* | wc -c)
files=$(ls "$src" | wc -l)
package="$work/package.exe"
"$updpub" build --image "$updater" --caption 'Bench update' --folder "$src" --output "$package" \
    --no-progress >/dev/null

# The peer: NSIS, stored (no compression), its CRC check on; and the same
# installer without files, which shows what its start-up alone costs.
write_nsi() {  # OUT NSI [files...]
    out=$1 nsi=$2
    shift 2
    {
        echo 'Unicode true'
        echo 'Name "Bench peer"'
        echo "OutFile \"$out\""
        echo 'SetCompress off'
        echo 'CRCCheck on'
        echo 'RequestExecutionLevel user'
        echo 'InstallDir "$TEMP\bench-peer"'
        echo 'Section'
        echo 'SetOutPath "$INSTDIR"'
        for f in "$@"; do echo "File \"$f\""; done
        echo 'SectionEnd'
    } >"$nsi"
    makensis -V1 "$nsi" >/dev/null
}
write_nsi "$work/peer.exe" "$work/peer.nsi" "$src"/*
write_nsi "$work/peer-empty.exe" "$work/peer-empty.nsi"

winpath() { echo "Z:$1" | tr / '\\'; }

# ---- the machine ----
cpu=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
simd=$(awk '/^flags/ { for (i = 1; i <= NF; i++) if ($i == "sse2" || $i == "avx2") printf "%s ", $i; exit }' /proc/cpuinfo)
qemu="no"
if command -v qemu-i386-static >/dev/null 2>&1; then
    qemu="$(command -v qemu-i386-static)"
    if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && grep -q enabled /proc/sys/fs/binfmt_misc/qemu-i386; then
        qemu="$qemu (binfmt qemu-i386 enabled: 32-bit code runs emulated)"
    fi
fi
load_start=$(cut -d' ' -f1-3 /proc/loadavg)

start_wine_session "$build" 2>/dev/null
session=1

# ---- rounds ----
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.6f\n", b - a }'; }
keyval() { sed -n "s/^$1=//p" "$2" | tr -d '\r'; }
median() { sort -g "$1" | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
record() { echo "$2" >>"$work/t.$1"; }

# This kind of VM hands memory that the guest freed a few seconds ago back to
# the host (virtio-balloon free page reporting, "Free page reporting enabled"
# in dmesg); the next burst of writes into the page cache then pays host page
# faults, about 1 s per GiB, which no real machine does. So every timed run
# starts right after an untimed copy of the same files, whose memory it reuses.
prime() {
    rm -rf "$work/prime"
    mkdir -p "$work/prime"
    for f in "$src"/*; do
        dd if="$f" of="$work/prime/${f##*/}" bs=1M status=none
    done
    rm -rf "$work/prime"
    sync
}

fresh_game() {  # an installed game: its folder and its uninstall list
    rm -rf "$1"
    mkdir -p "$1"
    printf '\0' >"$1/uninst.lst"
}

run_dd() {  # NAME [conv=fsync]
    out="$work/out-$1"
    rm -rf "$out"
    mkdir -p "$out"
    prime
    t=$(now)
    for f in "$src"/*; do
        dd if="$f" of="$out/${f##*/}" bs=1M status=none ${2:-}
    done
    record "$1" "$(since "$t")"
    rm -rf "$out"
    sync
}

run_ours() {  # NAME EXE
    out="$work/out-$1"
    fresh_game "$out"
    prime
    t=$(now)
    "$root/scripts/wine-run.sh" "$2" install "$(winpath "$package")" "$(winpath "$out")" >"$work/log-$1" 2>&1 ||
        { echo "bench: $1 failed:" >&2; cat "$work/log-$1" >&2; exit 1; }
    record "$1-process" "$(since "$t")"
    record "$1" "$(keyval install_seconds "$work/log-$1")"
    for key in before_peak_working_set after_peak_working_set before_peak_pagefile after_peak_pagefile; do
        record "$1-$key" "$(keyval $key "$work/log-$1")"
    done
    # Every file in place with its bytes.
    for f in "$src"/*; do
        cmp -s "$f" "$out/${f##*/}" || { echo "bench: $1 installed ${f##*/} wrongly" >&2; exit 1; }
    done
    rm -rf "$out"
    sync
}

run_phases() {  # NAME EXE
    out="$work/out-$1"
    rm -rf "$out"
    mkdir -p "$out"
    prime
    "$root/scripts/wine-run.sh" "$2" phases "$(winpath "$package")" "$(winpath "$out")" >"$work/log-$1" 2>&1 ||
        { echo "bench: $1 failed:" >&2; cat "$work/log-$1" >&2; exit 1; }
    for key in read checksum checksum_scalar write flush move; do
        record "$1-$key" "$(keyval ${key}_seconds "$work/log-$1")"
    done
    rm -rf "$out"
    sync
}

run_peer() {  # NAME EXE [/NCRC]
    out="$work/out-$1"
    rm -rf "$out"
    prime
    t=$(now)
    "$root/scripts/wine-run.sh" "$2" /S ${3:-} "/D=$(winpath "$out")" >/dev/null 2>&1 ||
        { echo "bench: $1 failed" >&2; exit 1; }
    record "$1" "$(since "$t")"
    if [ "$1" != nsis-empty ]; then
        for f in "$src"/*; do
            cmp -s "$f" "$out/${f##*/}" || { echo "bench: nsis installed ${f##*/} wrongly" >&2; exit 1; }
        done
    fi
    rm -rf "$out"
    sync
}

contenders="dd dd-fsync ours phases ours64 phases64 nsis nsis-ncrc nsis-empty"
count=$(echo $contenders | wc -w)
r=0
while [ $r -lt "$rounds" ]; do
    echo "bench: round $((r + 1)) of $rounds" >&2
    turn=0
    while [ $turn -lt "$count" ]; do
        # Rotated, and reversed every other round, so that no contender
        # always follows the same one.
        at=$(((turn + r) % count))
        [ $((r % 2)) -eq 1 ] && at=$((count - 1 - at))
        c=$(echo $contenders | cut -d' ' -f$((at + 1)))
        case $c in
        dd) run_dd dd ;;
        dd-fsync) run_dd dd-fsync conv=fsync ;;
        ours) run_ours ours "$bench32" ;;
        ours64) run_ours ours64 "$bench64" ;;
        phases) run_phases phases "$bench32" ;;
        phases64) run_phases phases64 "$bench64" ;;
        nsis) run_peer nsis "$work/peer.exe" ;;
        nsis-ncrc) run_peer nsis-ncrc "$work/peer.exe" /NCRC ;;  # its CRC pass left out
        nsis-empty) run_peer nsis-empty "$work/peer-empty.exe" ;;
        esac
        turn=$((turn + 1))
    done
    r=$((r + 1))
done

echo "bench: checksum throughput" >&2
"$root/scripts/wine-run.sh" "$build/bench/checksum_bench.exe" "$rounds" | tr -d '\r' >"$work/cs-i686"
"$root/scripts/wine-run.sh" "$build/bench-x64/bench/checksum_bench.exe" "$rounds" | tr -d '\r' >"$work/cs-x64"
"$build/bench-native/checksum_bench" "$rounds" >"$work/cs-native"
"$build/bench-native/checksum_bench_8regs" "$rounds" >"$work/cs-native8"
load_end=$(cut -d' ' -f1-3 /proc/loadavg)

# ---- where the image ends ----
image_end=$(python3 - "$updater" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", data, 0x3C)[0]
sections, optional = struct.unpack_from("<H12xH", data, pe + 6)
table = pe + 24 + optional
print(max(struct.unpack_from("<II", data, table + 40 * i + 16)[0] +
          struct.unpack_from("<II", data, table + 40 * i + 16)[1] for i in range(sections)))
EOF
)
image_size=$(stat -c %s "$updater")

# ---- the checksum's instructions per byte (callgrind, native, 8 vector registers) ----
# Under qemu every guest instruction costs host time; this says how many the
# kernels execute, so the qemu row can be read as time per instruction.
echo "bench: counting the checksum's instructions (callgrind)" >&2
for p in scalar sse2 avx2; do
    valgrind --tool=callgrind --callgrind-out-file="$work/cg.$p" \
        "$build/bench-native/checksum_bench_8regs" 1 $p >/dev/null 2>&1
    callgrind_annotate --inclusive=yes "$work/cg.$p" 2>/dev/null |
        awk '/UpdateContentChecksumWith/ { gsub(",", "", $1); print $1 / 67108864; exit }' >"$work/ipb.$p"
done

# ---- the table ----
m() { median "$work/t.$1"; }
calc() { awk "BEGIN { printf \"$1\", $2 }"; }
met() { awk "BEGIN { print ($1) ? \"yes\" : \"no\" }"; }
row() { printf '%-2s %-50s %-12s %-30s %-8s %-8s %s\n' "$@"; }
head_row() { printf '%-2s %s\n' "$1" "$2"; }
secs() { calc '%.2f s' "$1"; }
gb() { calc '%.2f GB/s' "$bytes / ($1) / 1e9"; }
mib() { calc '%.1f MiB' "($1) / 1048576"; }

echo
echo "Machine: $(nproc) cores, $cpu ($simd), kernel $(uname -r), $(wine --version)"
echo "qemu-user: $qemu"
echo "Load average: $load_start at the start, $load_end at the end"
echo "Rounds: $rounds, medians; within a round the contenders take turns"
echo "Data: $files files, $bytes bytes ($(mib "$bytes")): 3 x 330 MiB and 50 of 20 KiB to 1 MiB"
echo
row "#" "measurement" "result" "compared with" "ratio" "target" "met"

checksum_rows() {  # FILE LABEL
    head_row 1 "checksum, $2 (64 MiB in 1 MiB updates)"
    scalar=$(awk '$1 == "scalar" { print $2 }' "$1")
    row 1 "  scalar" "$scalar GB/s" "" "" "" ""
    for p in sse2 avx2; do
        g=$(awk -v p=$p '$1 == p { print $2 }' "$1")
        target=3
        [ $p = avx2 ] && target=6
        case $g in
        [0-9]*) row 1 "  $p" "$g GB/s" "scalar, same run" "$(calc '%.2fx' "$g / $scalar")" \
            ">= ${target}x" "$(met "$g / $scalar >= $target")" ;;
        *) row 1 "  $p" "$g" "" "" ">= ${target}x" "-" ;;
        esac
    done
}
checksum_rows "$work/cs-native" "x86-64 native (host g++ -Os)"
checksum_rows "$work/cs-native8" "x86-64 native, only the 8 vector registers of i686"
checksum_rows "$work/cs-x64" "x86-64 Windows build under wine64 (no qemu)"
checksum_rows "$work/cs-i686" "i686 under Wine (qemu-user)"

dd=$(m dd)
ddf=$(m dd-fsync)
head_row 2 "install of the $(mib "$bytes") package against a copy of the same files on the same disk"
row 2 "  dd bs=1M, file by file" "$(secs "$dd")" "$(gb "$dd")" "" "" ""
row 2 "  dd bs=1M conv=fsync, file by file" "$(secs "$ddf")" "$(gb "$ddf")" "" "" ""
row 2 "  flush cost as dd sees it" "$(secs "$ddf - $dd")" "conv=fsync less plain" "" "" ""
for v in ours ours64; do
    label="i686 under Wine (qemu-user)"
    [ $v = ours64 ] && label="x86-64 Windows build under wine64"
    t=$(m $v)
    row 2 "  RunInstall, $label" "$(secs "$t")" "dd bs=1M" "$(calc '%.2fx' "$t / $dd")" "<= 1.5x" "$(met "$t / $dd <= 1.5")"
    row 2 "" "" "dd bs=1M conv=fsync" "$(calc '%.2fx' "$t / $ddf")" "" ""
    row 2 "    whole process, start-up included" "$(secs "$(m $v-process)")" "" "" "" ""
done
for v in phases phases64; do
    label="i686 under qemu"
    [ $v = phases64 ] && label="x86-64 under wine64"
    path=$(keyval checksum_path "$work/log-$v")
    head_row 2 "  each phase alone on the same entries, $label (1 MiB chunks)"
    total=0
    for k in read checksum write flush move; do total=$(calc '%.6f' "$total + $(m $v-$k)"); done
    for k in read checksum checksum_scalar write flush move; do
        t=$(m $v-$k)
        case $k in
        read) what="read (one seek per entry)" ;;
        checksum) what="checksum, $path (the selected path)" ;;
        checksum_scalar) what="checksum, scalar instead" ;;
        write) what="write (create, write, close)" ;;
        flush) what="flush (FlushFileBuffers per file)" ;;
        move) what="move into place" ;;
        esac
        share=$(calc '%.0f%% of the phases' "100 * $t / $total")
        [ $k = checksum_scalar ] && share=$(gb "$t")
        row 2 "    $what" "$(secs "$t")" "$share" "" "" ""
    done
    row 2 "    sum of the phases" "$(secs "$total")" "" "" "" ""
done

nsis=$(m nsis)
empty=$(m nsis-empty)
proc=$(m ours-process)
head_row 3 "the same files installed by NSIS (stored, CRC check on, /S, into an empty folder); i686 under qemu like ours"
row 3 "  NSIS installer, whole process" "$(secs "$nsis")" "ours (i686), whole process" \
    "$(calc '%.2fx' "$nsis / $proc")" ">= 5x" "$(met "$nsis / $proc >= 5")"
row 3 "  NSIS less an empty installer's start-up" "$(secs "$nsis - $empty")" "ours (i686), RunInstall alone" \
    "$(calc '%.2fx' "($nsis - $empty) / $(m ours)")" "" ""
row 3 "  its parts: start-up (an empty installer)" "$(secs "$empty")" "" "" "" ""
ncrc=$(m nsis-ncrc)
row 3 "    CRC check of the installer (run less /NCRC run)" "$(secs "$nsis - $ncrc")" "$(gb "$nsis - $ncrc")" "" "" ""
row 3 "    extraction (/NCRC run less start-up)" "$(secs "$ncrc - $empty")" "$(gb "$ncrc - $empty")" "" "" ""

head_row 4 "memory of the install run (GetProcessMemoryInfo in the bench process, before and after RunInstall)"
for v in ours ours64; do
    label="i686 under qemu"
    [ $v = ours64 ] && label="x86-64 under wine64"
    before=$(m $v-before_peak_working_set)
    after=$(m $v-after_peak_working_set)
    row 4 "  $label: peak working set before the run" "$(mib "$before")" "" "" "" ""
    row 4 "    after the run" "$(mib "$after")" "" "" "" ""
    row 4 "    added by the run" "$(mib "$after - $before")" "one 1 MiB buffer" \
        "$(calc '%.2fx' "($after - $before) / 1048576")" "~1x" "$(met "$after - $before <= 2 * 1048576")"
    pb=$(m $v-before_peak_pagefile)
    pa=$(m $v-after_peak_pagefile)
    row 4 "    peak pagefile usage added by the run" "$(mib "$pa - $pb")" "of $(mib "$pb") before" "" "" ""
done
row 4 "  the updater's image, for the expectation" "$(calc '%.1f KiB' "$image_size / 1024")" "" "" "" ""

head_row 5 "image size of build/app/updater.exe"
row 5 "  end of the last section's raw data" "$(printf '0x%X' "$image_end")" "0x20000 (the limit)" \
    "$(calc '%.3f' "$image_end / 131072")" "<= 1" "$(met "$image_end <= 131072")"
row 5 "" "" "0x15400 (the shipped image)" "$(calc '%.3f' "$image_end / 87040")" "<= 1" "$(met "$image_end <= 87040")"
row 5 "  file size (stripped; what updater_image_size checks)" "$(printf '0x%X' "$image_size")" "" "" "" ""

# ---- profile: why the vector paths lose under qemu ----
echo
echo "Profile, checksum under qemu-user: instructions per byte (callgrind, x86-64 with 8 vector"
echo "registers) against qemu's time per byte (row 1, i686 under Wine):"
for p in scalar sse2 avx2; do
    ipb=$(cat "$work/ipb.$p")
    g=$(awk -v p=$p '$1 == p { print $2 }' "$work/cs-i686")
    case $g in
    [0-9]*) printf '  %-7s %5.2f instructions/byte, %6.2f ns/byte under qemu: %5.2f ns per instruction\n' \
        $p "$ipb" "$(calc '%.4f' "1 / $g")" "$(calc '%.4f' "1 / $g / $ipb")" ;;
    *) printf '  %-7s %5.2f instructions/byte, not run under qemu\n' $p "$ipb" ;;
    esac
done
if perf record -q -e cpu-clock -o "$work/perf.data" true >/dev/null 2>&1; then
    echo "Profile, checksum under qemu-user: perf cpu-clock samples by where they fall (3 rounds of one path):"
    for p in scalar avx2; do
        perf record -q -e cpu-clock -o "$work/perf.data" \
            "$root/scripts/wine-run.sh" "$build/bench/checksum_bench.exe" 3 $p >/dev/null 2>&1 || true
        perf report -i "$work/perf.data" --stdio --sort dso 2>/dev/null | awk -v p=$p '
            /^ *[0-9.]+%/ { v = $1; sub("%", "", v)
                if ($0 ~ /\[JIT\]/) jit += v; else if ($0 ~ /qemu/) helper += v; else if ($0 ~ /kernel/) kern += v; else other += v }
            END { printf "  %-7s code translated by qemu %5.1f%%, qemu itself (helpers, translator) %5.1f%%, kernel %5.1f%%, other %5.1f%%\n", p, jit, helper, kern, other }'
    done
else
    echo "Profile: perf cannot sample here (perf record -e cpu-clock failed)."
fi

echo
echo "Raw values per round (seconds):"
for f in "$work"/t.*; do
    name=${f##*/t.}
    case $name in *working_set | *pagefile) continue ;; esac
    printf '  %-22s %s\n' "$name" "$(tr '\n' ' ' <"$f")"
done
