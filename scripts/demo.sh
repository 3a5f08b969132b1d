#!/bin/sh
# The demo: builds the updater, packs the sample update in demo/sample, puts the
# sample game of demo/game into a Wine prefix of its own, registers it, and runs
# the updater.
#
# With a display (DISPLAY set), you click through it yourself. Without one (or
# with DEMO_HEADLESS=1), it runs under Xvfb on a Wine virtual desktop, answers
# Yes, opens the cancel question once mid-run and answers No, and saves
# screenshots of the confirmation, the progress dialog with the question and
# the final message in demo-out/ (DEMO_OUT for another folder).
# Either way it then prints the exit status, the files replaced and the lines
# added to the uninstall list.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="${UPDATER_BUILD:-$root/build}"
out="${DEMO_OUT:-$root/demo-out}"
"$root/scripts/setup-debian.sh"

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target updater demo_helper >/dev/null

stage="$build/demo-stage"
rm -rf "$stage" "$out"
mkdir -p "$stage" "$out"
out=$(cd "$out" && pwd)
cp -R "$root/demo/sample" "$stage/sample"
# One larger file, so that the progress dialog is on screen for a while.
yes 'Vestrial intro frame ..........................................' | head -c 16777216 \
    > "$stage/sample/intro.dat"
iconv -f UTF-8 -t CP932 "$root/demo/caption.txt" > "$stage/caption.txt"

export WINEPREFIX="$build/demo-prefix"
interactive=""
if [ -n "${DISPLAY:-}" ] && [ -z "${DEMO_HEADLESS:-}" ]; then
    interactive=1
    export UPDATER_USE_DISPLAY=1
fi
. "$root/scripts/wine-env.sh"
start_wine_session "$build"
trap stop_wine_session EXIT INT TERM

helper="Z:$build/demo/demo_helper.exe"
update="$stage/vestrial-update.exe"
echo "demo: packing the sample update into $update"
wine "$helper" pack "Z:$build/app/updater.exe" "Z:$stage/caption.txt" "Z:$stage/sample" "Z:$update"

# The sample game: C:\Vestrial in the demo prefix, registered in the 32-bit view.
game="$WINEPREFIX/drive_c/Vestrial"
rm -rf "$game"
cp -R "$root/demo/game" "$game"
rm -f "$game/uninst.lst.txt"
{ cat "$root/demo/game/uninst.lst.txt"; printf '\000'; } > "$game/uninst.lst"
cp -R "$game" "$stage/game-before"
wine reg add 'HKLM\Software\Quellmark\Vestrial' /v InstalledFolder /t REG_SZ /d 'C:\Vestrial' \
    /reg:32 /f >/dev/null 2>&1

if [ -n "$interactive" ]; then
    echo "demo: the updater is on your display; click through it"
    wine "$helper" run "Z:$update" "Z:$out"
else
    echo "demo: running the updater on a Wine virtual desktop under Xvfb ($DISPLAY)"
    wine explorer /desktop=demo,1024x768 "$helper" drive "Z:$update" "Z:$out" \
        >/dev/null 2>&1 </dev/null &
    # The helper asks for each screenshot with NAME.want and waits for it.
    waited=0
    while [ ! -s "$out/status.txt" ] && [ $waited -lt 3000 ]; do
        for want in "$out"/*.want; do
            [ -e "$want" ] || continue
            name=$(basename "$want" .want)
            import -window root -crop 1024x768+0+0 +repage "$out/$name.png"
            rm -f "$want"
            echo "demo: saved $out/$name.png"
        done
        sleep 0.2
        waited=$((waited+1))
    done
fi

echo
if [ -s "$out/status.txt" ]; then
    status=$(cat "$out/status.txt")
    echo "exit status: $status ($(printf '0x%08x' $((status & 0xFFFFFFFF))))"
else
    echo "exit status: none (the updater did not finish in time)"
fi
echo "files replaced in C:\\Vestrial:"
(cd "$stage/sample" && find . -type f | sort) | while read -r f; do
    f=${f#./}
    if cmp -s "$stage/sample/$f" "$game/$f"; then
        if [ -e "$stage/game-before/$f" ]; then echo "  $f (replaced)"; else echo "  $f (new)"; fi
    else
        echo "  $f: NOT installed"
    fi
done
ls "$game"/*.tmp "$game"/*/*.tmp >/dev/null 2>&1 && echo "  temporary files left: $(ls "$game"/*.tmp "$game"/*/*.tmp 2>/dev/null)"
echo "lines added to uninst.lst:"
old=$(wc -c < "$stage/game-before/uninst.lst")
tail -c +"$old" "$game/uninst.lst" | tr -d '\000' | sed 's/^/  /'
[ -n "$interactive" ] || echo "screenshots: $out"
