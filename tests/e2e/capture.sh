#!/usr/bin/env bash
# Capture cases on the real program with the build's generated data:
#   capture.sh CASE LUMO WORKDIR
# Exit 0: pass, 1: fail, 77: skipped (a tool or the data is missing).
set -u
case_name=$1
lumo=$2
work=$3

fail() {
    echo "FAIL ($case_name): $*"
    [ -f "$work/out.txt" ] && sed 's/^/  out: /' "$work/out.txt" | grep -v '^  out: \(----\|(((\)' | tail -20
    [ -f "$work/err.txt" ] && sed 's/^/  err: /' "$work/err.txt" | tail -20
    exit 1
}
skip() {
    echo "SKIP ($case_name): $*"
    exit 77
}

[ -f "$(dirname "$lumo")/data/sync_scene.track" ] || skip "no generated data beside $lumo"
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1

# No PNG of ours may be broken: each must be a whole 640 x 360 PNG ending in IEND.
check_pngs() {
    local dir=$1 n=0
    for f in "$dir"/frame*.png; do
        [ -e "$f" ] || continue
        n=$((n + 1))
        [ "$(head -c 8 "$f" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$f is no PNG"
        [ "$(tail -c 8 "$f" | head -c 4)" = IEND ] || fail "$f is cut short"
        [ "$(od -An -tx1 -j16 -N8 "$f" | tr -d ' \n')" = 0000028000000168 ] || fail "$f is not 640x360"
    done
    echo "$n"
}

case "$case_name" in
video)
    command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null ||
        skip "ffmpeg is not installed (scripts/install-deps.sh installs it)"
    "$lumo" --video "$work/demo.mp4" --fps 15 --from 30 --to 32 >out.txt 2>err.txt ||
        fail "--video exited with $?"
    [ -f demo.mp4 ] || fail "demo.mp4 was not written"
    ls "$work" | grep -q part && fail "temporary files left: $(ls "$work")"
    streams=$(ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 demo.mp4)
    echo "$streams" | grep -qx 'h264,1280,720' || fail "no 1280x720 H.264 stream: $streams"
    echo "$streams" | grep -qx 'aac' || fail "no AAC stream: $streams"
    duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 demo.mp4)
    awk -v d="$duration" 'BEGIN { exit !(d > 1.9 && d < 2.1) }' || fail "duration $duration, not 2 s"
    frames=$(ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames \
        -of csv=p=0 demo.mp4)
    [ "$frames" = 30 ] || fail "$frames video frames, not 30"
    ;;
video_without_ffmpeg)
    # Only the tools lumo itself needs: no ffmpeg on this PATH.
    mkdir bin
    PATH="$work/bin" "$lumo" --video "$work/demo.mp4" --fps 10 --to 1 >out.txt 2>err.txt
    status=$?
    [ $status -eq 1 ] || fail "exit status $status, not 1"
    grep -q "needs ffmpeg" err.txt && grep -q -- "--capture DIR" err.txt ||
        fail "no line saying ffmpeg is missing and suggesting --capture DIR"
    [ -z "$(ls -A "$work" | grep -v '^bin$\|\.txt$')" ] || fail "files left: $(ls "$work")"
    ;;
video_ffmpeg_fails)
    # An ffmpeg that reads a little and then gives up, as with a full disk.
    mkdir bin
    printf '#!/bin/sh\nhead -c 100000 >/dev/null\necho "fake ffmpeg: giving up" >&2\nexit 3\n' >bin/ffmpeg
    chmod +x bin/ffmpeg
    PATH="$work/bin:$PATH" "$lumo" --video "$work/demo.mp4" --fps 10 --to 3 >out.txt 2>err.txt
    status=$?
    [ $status -eq 1 ] || fail "exit status $status, not 1"
    grep -q "ffmpeg stopped early (exit status 3)" err.txt || fail "no line about ffmpeg stopping"
    [ -z "$(ls -A "$work" | grep -v '^bin$\|\.txt$')" ] || fail "files left: $(ls "$work")"
    ;;
interrupt)
    # The whole demo at 60 fps takes long enough to be interrupted in the middle.
    "$lumo" --capture "$work/cap" --fps 60 --threads 1 >out.txt 2>err.txt &
    pid=$!
    for _ in $(seq 1 600); do
        [ -e cap/frame000010.png ] && break
        sleep 0.05
    done
    [ -e cap/frame000010.png ] || { kill $pid; fail "no frames appeared"; }
    kill -INT $pid
    wait $pid
    status=$?
    [ $status -eq 130 ] || fail "exit status $status after Ctrl+C, not 130"
    grep -q "^interrupted: captured" out.txt || fail "no summary of the interrupted capture"
    ls cap | grep -q part && fail "temporary files left: $(ls cap | grep part)"
    n=$(check_pngs cap)
    [ -f cap/audio.wav ] || fail "no audio.wav for the frames written"
    # 44100 / 60 = 735 sample frames of 4 bytes per video frame.
    size=$(stat -c %s cap/audio.wav)
    [ "$size" -eq $((44 + n * 735 * 4)) ] || fail "audio.wav has $size bytes for $n frames"
    ;;
disk_full)
    # Files may grow to 200 KiB only: the frames fit, audio.wav (3 s, 517 KiB)
    # does not. SIGXFSZ ignored, the write fails with an error instead.
    (
        trap '' XFSZ
        ulimit -f 200
        exec "$lumo" --capture "$work/cap" --fps 2 --to 3 >out.txt 2>err.txt
    )
    status=$?
    [ $status -eq 1 ] || fail "exit status $status, not 1"
    grep -q "cannot write .*File too large" err.txt || fail "no line about the failed write"
    grep -q "nothing was kept" err.txt || fail "no line saying the capture was dropped"
    [ -e cap ] && fail "files left behind: $(ls -A cap)"
    ;;
bad_dir)
    echo x >file
    "$lumo" --capture "$work/file/cap" --fps 10 --to 1 >out.txt 2>err.txt
    status=$?
    [ $status -eq 1 ] || fail "exit status $status, not 1"
    grep -q "cannot create the directory" err.txt || fail "no line about the directory"
    ;;
bad_range)
    "$lumo" --capture "$work/cap" --from 100000 >out.txt 2>err.txt
    status=$?
    [ $status -eq 2 ] || fail "--from beyond the end: exit status $status, not 2"
    grep -q "beyond the end" err.txt || fail "no line about --from"
    "$lumo" --capture "$work/cap" --from 3 --to 2 >out.txt 2>err.txt
    status=$?
    [ $status -eq 2 ] || fail "--to before --from: exit status $status, not 2"
    grep -q -- "--to must come after --from" err.txt || fail "no line about --to"
    [ -e cap ] && fail "a capture directory was made"
    ;;
*)
    echo "unknown case $case_name"
    exit 1
    ;;
esac
echo "PASS ($case_name)"
exit 0
