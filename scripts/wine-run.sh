#!/bin/sh
# Runs a Windows program under the build's private Wine prefix with code page 932.
# scripts/test.sh creates the prefix and keeps one wineserver alive for the suite.
here=$(cd "$(dirname "$0")" && pwd)
: "${UPDATER_BUILD_DIR:=$here/../build}"
export WINEPREFIX="${WINEPREFIX:-$UPDATER_BUILD_DIR/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winedbg.exe=d}"
export LC_ALL=ja_JP.UTF-8
exec wine "$@"
