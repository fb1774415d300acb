#!/usr/bin/env bash
# Live play paced to the display, on the real program with the build's data
# under a virtual X server (whose mode knows no refresh rate, so the loop paces
# itself at 60 Hz):
#   pacing.sh LUMO WORKDIR
# 8 s of paced play must present 40 to 80 frames a second (loose: a slow, busy
# machine still passes) using well under one processor; --no-vsync must present
# clearly more. Exit 0: pass, 1: fail, 77: skipped.
set -u
lumo=$1
work=$2
data="$(cd "$(dirname "$lumo")" && pwd)/data"

skip() {
    echo "SKIP: $*"
    exit 77
}
fail() {
    echo "FAIL: $*"
    [ -f "$work/out.txt" ] && grep -v '^\(----\|(((\)' "$work/out.txt" | tail -20 | sed 's/^/  out: /'
    [ -f "$work/err.txt" ] && tail -20 "$work/err.txt" | sed 's/^/  err: /'
    exit 1
}

[ -f "$data/sync_scene.track" ] || skip "no generated data beside $lumo"
command -v xvfb-run >/dev/null || skip "xvfb-run is not installed"
rm -rf "$work"
mkdir -p "$work/data"
cp "$lumo" "$work/lumo" || fail "cannot copy $lumo"
for f in "$data"/*; do
    ln -s "$f" "$work/data/$(basename "$f")"
done
rm "$work/data/varpile.txt"
sed 's/^show_statistics .*/show_statistics 1/' "$data/varpile.txt" >"$work/data/varpile.txt"

# Plays for 8 s; prints "FRAMES SECONDS CPU_SECONDS": the frames presented and
# the span of the first statistics period, and the program's processor time.
play() {
    (cd "$work" && SDL_AUDIODRIVER=dummy xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
        timeout -s TERM 8 ./lumo --no-launcher "$@" >out.txt 2>err.txt
        times >times.txt' _ "$@") || return 1
    local line cpu
    line=$(grep -m1 '^presented: ' "$work/out.txt") || return 1
    # times: the shell's own line, then its children's ("0m5.120s 0m0.310s").
    cpu=$(sed -n 2p "$work/times.txt" | awk '{
        n = split($1 " " $2, t, " "); s = 0
        for (i = 1; i <= n; ++i) { split(t[i], p, "m"); s += p[1] * 60 + p[2] }
        print s }')
    echo "$line" | awk -v cpu="$cpu" '{ print $2, $5, cpu }'
}

read -r frames span cpu < <(play) || fail "paced play printed no statistics"
echo "paced: $frames frames in $span s, processor $cpu s over 8 s"
awk -v f="$frames" -v s="$span" 'BEGIN { exit !(f / s >= 40 && f / s <= 80) }' ||
    fail "paced play presented $frames frames in $span s"
awk -v c="$cpu" 'BEGIN { exit !(c < 0.8 * 8) }' || fail "paced play used $cpu processor seconds in 8 s"

read -r fast fastSpan _ < <(play --no-vsync) || fail "unpaced play printed no statistics"
echo "--no-vsync: $fast frames in $fastSpan s"
# Unpaced play goes as fast as the machine lets it; a slow or busy machine may
# manage little more than the display's rate, so only "more" is asked for.
awk -v f="$frames" -v s="$span" -v g="$fast" -v t="$fastSpan" 'BEGIN { exit !(g / t > 1.1 * f / s) }' ||
    fail "--no-vsync presented $fast frames in $fastSpan s, not clearly more than $frames"
echo "ok"
