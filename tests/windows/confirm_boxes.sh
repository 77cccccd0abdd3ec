#!/usr/bin/env bash
# Runs a program on the X display it finds in DISPLAY and plays the person at the counting
# PC: every message box titled "KrvArchiver" is looked at for a while, to be sure the
# program waits on it, then confirmed with Enter. Prints "boxes: N waited: M" to standard
# output (M = boxes the program was still waiting on after two seconds) and ends with the
# program's exit status.
set -u
command -v xdotool >/dev/null || { echo "confirm_boxes: xdotool is missing" >&2; exit 125; }
"$@" &
pid=$!
boxes=0 waited=0
while kill -0 "$pid" 2>/dev/null; do
    id=$(xdotool search --onlyvisible --name '^KrvArchiver$' 2>/dev/null | head -1)
    if [ -n "$id" ]; then
        boxes=$((boxes + 1))
        sleep 2
        kill -0 "$pid" 2>/dev/null && waited=$((waited + 1))
        xdotool key --window "$id" Return
        while xdotool search --onlyvisible --name '^KrvArchiver$' 2>/dev/null | grep -qx "$id"; do
            sleep 0.2
        done
    fi
    sleep 0.2
done
wait "$pid"
status=$?
echo "boxes: $boxes waited: $waited"
exit "$status"
