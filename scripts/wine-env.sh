# Sourced by the scripts that run Windows programs: starts an X server and a
# wineserver for one session and stops both again, so nothing is left running.

start_wine_session() {
    export UPDATER_BUILD_DIR="$1"
    export WINEPREFIX="${WINEPREFIX:-$1/wineprefix}"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
    export LC_ALL=ja_JP.UTF-8
    XVFB_PID=""
    if [ -z "${UPDATER_USE_DISPLAY:-}" ]; then
        # A display number of our own, so that another X server is never touched.
        n=${UPDATER_DISPLAY_NUMBER:-$(( 90 + $$ % 400 ))}
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        XVFB_PID=$!
        export DISPLAY=":$n"
        i=0
        while [ ! -e "/tmp/.X11-unix/X$n" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "wine: creating the prefix $WINEPREFIX" >&2
        mkdir -p "$WINEPREFIX"
        wineboot -i >/dev/null 2>&1 || true
        wineserver -w
        # Dialogs ask for the Japanese UI font; Wine maps it to the IPA Gothic font.
        wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS UI Gothic' /t REG_SZ /d 'IPAGothic' /f >/dev/null 2>&1 || true
        wineserver -w
    fi
    # One wineserver for the whole session, so every test process starts fast.
    # (It fails harmlessly when a server for this prefix runs already.)
    wineserver -p >/dev/null 2>&1 || true
    # Start the prefix's services and desktop now, detached from the callers'
    # output: processes that Wine starts later would inherit a test's pipes and
    # keep CTest waiting for them to close.
    wine wineboot >/dev/null 2>&1 </dev/null || true
    # The default desktop's window manager, which Wine would otherwise start
    # from the first test that opens a window.
    wine explorer /desktop >/dev/null 2>&1 </dev/null &
    sleep 1
}

stop_wine_session() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    if [ -n "${XVFB_PID:-}" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
    fi
}
