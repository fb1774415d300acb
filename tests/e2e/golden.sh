#!/usr/bin/env bash
# Pictures and console lines that must not drift: the SHA-256 of `lumo --frame`
# PNGs at positions over the whole demo, and of the console output of one
# headless run (the data path made neutral), against tests/e2e/golden.sha256.
#   golden.sh LUMO WORKDIR           compare
#   golden.sh LUMO WORKDIR --record  rewrite golden.sha256 (only for a change
#                                    that is meant to alter pictures or lines)
# Exit 0: pass, 1: fail, 77: skipped (no generated data).
set -u
lumo=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=$2
record=${3:-}
golden="$(cd "$(dirname "$0")" && pwd)/golden.sha256"
data="$(cd "$(dirname "$lumo")" && pwd)/data"

[ -f "$data/sync_scene.track" ] || { echo "SKIP: no generated data beside $lumo"; exit 77; }
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1

positions="0.5 9 17.5 26 35 43.6 52 61.1 70 83 96 110 125 141.8 155 170 176.5"
: >actual.sha256
for s in $positions; do
    LUMO_SIMD=sse "$lumo" --threads 3 --frame "$s" --out "frame_$s.png" >"frame_$s.txt" 2>&1 ||
        { echo "FAIL: --frame $s exited with $?"; cat "frame_$s.txt"; exit 1; }
    sha256sum "frame_$s.png" >>actual.sha256
done
# The demo's window frame, 640x480: the same pictures between black bars.
for s in 0.5 17.5 35 52 70 96 125 141.8 155 160 170 176.5; do
    LUMO_SIMD=sse "$lumo" --threads 2 --size 640x480 --frame "$s" --out "framed_$s.png" \
        >/dev/null 2>&1 || { echo "FAIL: --size 640x480 --frame $s exited with $?"; exit 1; }
    sha256sum "framed_$s.png" >>actual.sha256
done
# A vector path nobody has heard of is refused with one line.
LUMO_SIMD=sse3 "$lumo" --frame 1 --out refused.png >/dev/null 2>refused.txt
status=$?
if [ $status -ne 2 ] || [ "$(wc -l <refused.txt)" -ne 1 ] || [ -e refused.png ]; then
    echo "FAIL: LUMO_SIMD=sse3 gave exit status $status and: $(cat refused.txt)"
    exit 1
fi
# Every wider vector path the processor has draws the same bytes, here with 1 and 2 workers.
for path in avx2; do
    if ! LUMO_SIMD=$path "$lumo" --frame 0.5 --out probe.png >/dev/null 2>&1; then
        echo "skipped the $path path: this processor lacks it"
        continue
    fi
    for s in $positions; do
        threads=$(( ${#s} % 2 + 1 ))
        LUMO_SIMD=$path "$lumo" --threads $threads --frame "$s" --out "${path}_$s.png" >/dev/null 2>&1
        if ! cmp -s "frame_$s.png" "${path}_$s.png"; then
            echo "FAIL: the $path path with $threads workers drew another frame at $s s"
            exit 1
        fi
    done
done
# The whole console output of one run, with the directory it ran from taken out.
sed "s|$data|DATA|g" "frame_43.6.txt" >console.txt
sha256sum console.txt >>actual.sha256

if [ "$record" = --record ]; then
    cp actual.sha256 "$golden"
    echo "recorded $(wc -l <"$golden") hashes into $golden"
    exit 0
fi
if ! diff -u "$golden" actual.sha256; then
    echo "FAIL: pictures or console lines differ from the recorded ones (files in $work)"
    exit 1
fi
echo "ok: $(wc -l <actual.sha256) hashes match"
