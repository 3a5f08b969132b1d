#!/bin/sh
# Builds everything and runs every test under Wine and Xvfb.
# Usage: scripts/test.sh [extra ctest arguments]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="${UPDATER_BUILD:-$root/build}"
"$root/scripts/setup-debian.sh"

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)"

. "$root/scripts/wine-env.sh"
start_wine_session "$build"
trap stop_wine_session EXIT INT TERM

cd "$build"
ctest --output-on-failure --timeout 300 "$@"
