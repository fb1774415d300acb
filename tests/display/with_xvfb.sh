#!/bin/sh
# Runs a command under a private Xvfb server. Xvfb picks a free display number
# itself (-displayfd), so parallel runs do not race for one as xvfb-run -a can.
# Usage: with_xvfb.sh WIDTHxHEIGHTxDEPTH command [args...]
set -eu
screen=$1
shift
fdfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$fdfile" 2>/dev/null &
server=$!
trap 'kill "$server" 2>/dev/null; rm -f "$fdfile"' EXIT
tries=0
while [ ! -s "$fdfile" ]; do
    tries=$((tries + 1))
    if [ "$tries" -gt 200 ] || ! kill -0 "$server" 2>/dev/null; then
        echo "with_xvfb.sh: Xvfb did not start" >&2
        exit 1
    fi
    sleep 0.05
done
DISPLAY=:$(head -n 1 "$fdfile")
export DISPLAY
unset SDL_VIDEODRIVER WAYLAND_DISPLAY
"$@"
