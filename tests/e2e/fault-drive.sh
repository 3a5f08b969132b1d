#!/bin/sh
# The small drive of the disk-full cases: a size-limited tmpfs mounted on a
# folder of the build and mapped to a drive letter of the test's Wine prefix.
#
# Usage: fault-drive.sh up|down FOLDER LETTER SIZE DEFAULT_PREFIX
#
# "up" starts from a clean state every time (an earlier mount is replaced) and
# never fails: where no file system can be mounted (not root, no permission in
# a container) it writes the reason to FOLDER.status, and the cases that need
# the drive print it as "not run: <reason>". "down" unmounts and unmaps it;
# both may be run any number of times.
set -u
action=$1
folder=$2
letter=$3
size=$4
prefix=${WINEPREFIX:-$5}
status="$folder.status"
link="$prefix/dosdevices/$letter"

down() {
    rm -f "$link"
    if mountpoint -q "$folder" 2>/dev/null; then
        # A process that still has a file open there would block a plain
        # unmount; the lazy one detaches the drive at once all the same.
        umount "$folder" 2>/dev/null || umount -l "$folder"
    fi
}

case "$action" in
up)
    down
    rm -f "$status"
    mkdir -p "$folder"
    if [ "$(id -u)" != 0 ]; then
        echo "mounting a size-limited file system needs root (running as $(id -un))" >"$status"
    elif [ ! -d "$prefix/dosdevices" ]; then
        echo "no Wine prefix at $prefix" >"$status"
    elif ! out=$(mount -t tmpfs -o "size=$size,mode=0755" updater-fault-drive "$folder" 2>&1); then
        echo "mount -t tmpfs failed: $out" >"$status"
    else
        ln -sfn "$folder" "$link"
        echo "ready $size" >"$status"
    fi
    echo "fault drive $letter: $(cat "$status")"
    ;;
down)
    down
    rm -f "$status"
    ;;
*)
    echo "usage: $0 up|down FOLDER LETTER SIZE DEFAULT_PREFIX" >&2
    exit 2
    ;;
esac
exit 0
