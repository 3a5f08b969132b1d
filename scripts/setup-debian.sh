#!/bin/sh
# Installs what the build and the tests need on Debian 12. Quick and silent
# when everything is present; needs root (or sudo) only when something is missing.
# --bench adds what only scripts/bench.sh uses: the peer installer's compiler,
# the 64-bit Windows cross compiler, the sampling profiler and callgrind.
set -eu

PACKAGES="cmake make g++ g++-mingw-w64-i686 binutils-mingw-w64-i686 googletest \
wine wine32:i386 wine32-preloader:i386 wine64 xvfb xauth x11-utils \
fonts-ipafont-gothic imagemagick osslsigncode openssl python3 locales"
BENCH_PACKAGES="nsis g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 linux-perf valgrind"

case "${1:-}" in
"") ;;
--bench) PACKAGES="$PACKAGES $BENCH_PACKAGES" ;;
*) echo "usage: $0 [--bench]" >&2; exit 2 ;;
esac

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

# Some virtual machines run a 64-bit kernel that cannot execute 32-bit ELF
# programs; Wine's 32-bit loader then fails with "Exec format error". There
# the 32-bit loader is run through qemu's user-mode emulator instead.
needs_i386_emulation() {
    [ -x /lib/ld-linux.so.2 ] && ! /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
if [ -n "$missing" ]; then
    echo "setup: installing$missing" >&2
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $SUDO dpkg --add-architecture i386
    fi
    $SUDO apt-get update -q >&2
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends $missing >&2
fi

if needs_i386_emulation; then
    if ! dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q "install ok installed"; then
        echo "setup: this kernel cannot run 32-bit programs; installing qemu-user-static" >&2
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends qemu-user-static >&2
    fi
    binfmt=/proc/sys/fs/binfmt_misc
    [ -e $binfmt/register ] || $SUDO mount -t binfmt_misc binfmt_misc $binfmt
    if [ ! -e $binfmt/qemu-i386 ]; then
        printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
            | $SUDO tee $binfmt/register >/dev/null
    fi
    if needs_i386_emulation; then
        echo "setup: 32-bit programs still cannot run; Wine's 32-bit loader will fail" >&2
        exit 1
    fi
fi

# Wine stores file names in the Unix locale's character set; without the
# ja_JP.UTF-8 locale it cannot create names outside ASCII at all.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
    echo "setup: generating the ja_JP.UTF-8 locale" >&2
    $SUDO localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
