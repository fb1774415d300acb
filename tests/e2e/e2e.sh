#!/usr/bin/env bash
# End-to-end tests of the real program.
#   e2e.sh CASE LUMO MAKE_TEST_MP3 WORKDIR
# Cases that need a display re-run this script under xvfb-run; every case exits
# 0 (passed), 1 (failed) or 77 (skipped: a tool is missing).
set -u

if [ "${1:-}" = --inner ]; then
    inner=yes
    shift
else
    inner=no
fi
case_=$1
lumo=$2
make_mp3=$3
work=$4

screen_w=1280
screen_h=1024
# --native fills a screen of today's most common size.
if [ "$case_" = native_evilwm ]; then
    screen_w=1920
    screen_h=1080
fi

skip() {
    echo "SKIP: $*"
    exit 77
}

fail() {
    echo "FAIL: $*"
    for f in out err; do
        if [ -s "$work/$f.txt" ]; then
            echo "--- lumo std$f:"
            sed 's/^/    /' "$work/$f.txt"
        fi
    done
    exit 1
}

# Never leave the program running: SDL turns SIGTERM into a quit event, which a
# stuck program would not see.
cleanup() {
    if [ -n "${pid:-}" ] && kill -0 "$pid" 2>/dev/null; then
        kill -KILL "$pid" 2>/dev/null
    fi
    if [ -n "${wm:-}" ]; then
        kill "$wm" 2>/dev/null
    fi
}
trap cleanup EXIT

need() {
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
    done
}

# A fresh directory with a copy of the program and a data/ beside it, so the
# build's own data/ never takes part. $1: "mp3" to add a 3-second test MP3.
prepare() {
    rm -rf "$work"
    mkdir -p "$work/data"
    cp "$lumo" "$work/lumo" || fail "cannot copy $lumo"
    if [ "${1:-}" = mp3 ]; then
        "$make_mp3" "$work/data/j2.mp3" 3 || fail "cannot make the test MP3"
    fi
}

# Starts the program in the background with silent audio; sets $pid.
start() {
    (cd "$work" && SDL_AUDIODRIVER=dummy exec ./lumo "$@" >"$work/out.txt" 2>"$work/err.txt") &
    pid=$!
}

# Waits until the program has ended; sets $status. While waiting, fails if a
# window titled $1 (when given) shows up.
wait_exit() {
    local forbidden=${1:-}
    for _ in $(seq 1 1500); do
        if ! kill -0 "$pid" 2>/dev/null; then
            wait "$pid"
            status=$?
            pid=
            return
        fi
        if [ -n "$forbidden" ] && xdotool search --onlyvisible --name "$forbidden" >/dev/null 2>&1; then
            fail "a window '$forbidden' appeared"
        fi
        sleep 0.02
    done
    fail "the program did not end"
}

# Waits for a visible window whose title matches the regex $1; sets $win.
wait_window() {
    for _ in $(seq 1 600); do
        win=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
        [ -n "$win" ] && return
        kill -0 "$pid" 2>/dev/null || fail "the program ended before a window '$1' appeared"
        sleep 0.05
    done
    fail "no window '$1' appeared"
}

# Sets $width and $height of window $1.
geometry() {
    eval "$(xdotool getwindowgeometry --shell "$1")"
    width=$WIDTH
    height=$HEIGHT
}

# The demo window appears at WIDTH x HEIGHT, and Escape ends the program with 0.
demo_window_then_escape() {
    wait_window "$demo_title"
    geometry "$win"
    [ "$width" = "$1" ] && [ "$height" = "$2" ] || fail "the demo window is ${width}x$height"
    press "$win" Escape
    wait_exit
    [ "$status" -eq 0 ] || fail "Escape in the demo exited with $status"
}

# Waits until window $win fills the screen; $1 names it in the failure.
wait_filled() {
    for _ in $(seq 1 100); do
        geometry "$win"
        [ "$width" = "$screen_w" ] && [ "$height" = "$screen_h" ] && return
        sleep 0.05
    done
    fail "$1 window is ${width}x$height, not ${screen_w}x$screen_h"
}

# Key presses go through XTEST to the focused window, as a keyboard's would.
press() {
    xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"
    sleep 0.2
    xdotool key "$2"
}

# Clicks window $1 at client position ($2, $3).
click() {
    xdotool mousemove --window "$1" "$2" "$3" click 1
    sleep 0.2
}

# The launcher's controls in pixels: dialog units of an 8-point font
# (x 6/4, y 13/8 pixels a unit).
full_screen_box="60 57"  # "full screen" at (36, 30) units
force_720p_box="60 87"   # "force 720p" at (36, 48) units
gpu_list="150 25"        # the "gpu:" drop-down at (36, 6) units

launcher_title='^lumo 2013$'
demo_title='^lumo \^_\^$'

expect_output() {
    grep -qF -- "$1" "$work/out.txt" || fail "stdout lacks '$1'"
}

one_line_on_stderr() {
    [ "$(wc -l <"$work/err.txt")" -eq 1 ] || fail "expected exactly one line on stderr"
    grep -q "$1" "$work/err.txt" || fail "stderr lacks '$1'"
}

if [ "$inner" = no ]; then
    case "$case_" in
    help | bad_option | no_display) ;; # no display needed
    *)
        need Xvfb xdotool
        case "$case_" in *_evilwm) need evilwm ;; esac
        [ "$case_" = native_evilwm ] && need xwd convert
        [ "$case_" = launcher_demo ] && need xwd convert
        # A private server whose number Xvfb itself picks (-displayfd): xvfb-run -a
        # can hand two runs, or a run and a server still shutting down, one number.
        exec sh "$(dirname "$0")/../display/with_xvfb.sh" "${screen_w}x${screen_h}x24" \
            bash "$0" --inner "$@"
        ;;
    esac
fi

# Under the address sanitizer, memory that system libraries keep to the end is
# not ours (lsan.supp). The GL driver SDL loads for its accelerated renderer is
# unloaded before the leak check, so its blocks cannot be told apart by library;
# sanitizer runs therefore present through SDL's software paths, which load no
# GL at all. Everything lumo allocates is checked either way.
if ldd "$lumo" 2>/dev/null | grep -q libasan; then
    export LSAN_OPTIONS="suppressions=$(cd "$(dirname "$0")" && pwd)/lsan.supp:print_suppressions=0"
    export SDL_RENDER_DRIVER=software SDL_FRAMEBUFFER_ACCELERATION=0
fi
# Under the thread sanitizer, likewise for the system libraries' own threads
# (tsan.supp).
if ldd "$lumo" 2>/dev/null | grep -q libtsan; then
    export TSAN_OPTIONS="suppressions=$(cd "$(dirname "$0")" && pwd)/tsan.supp:print_suppressions=0"
    export SDL_RENDER_DRIVER=software SDL_FRAMEBUFFER_ACCELERATION=0
fi

pid=
case "$case_" in
help)
    prepare
    (cd "$work" && ./lumo --help >"$work/out.txt" 2>"$work/err.txt")
    [ $? -eq 0 ] || fail "--help did not exit with 0"
    for opt in --no-launcher --fullscreen --force-720p --help; do
        expect_output "$opt"
    done
    ;;
bad_option)
    prepare
    (cd "$work" && ./lumo --no-such-thing >"$work/out.txt" 2>"$work/err.txt")
    [ $? -eq 2 ] || fail "an unknown option did not exit with 2"
    one_line_on_stderr "no-such-thing"
    ;;
no_display)
    prepare mp3
    for args in "" "--no-launcher"; do
        # shellcheck disable=SC2086 # the empty case must pass no argument at all
        (cd "$work" && env -u DISPLAY -u WAYLAND_DISPLAY SDL_AUDIODRIVER=dummy \
            ./lumo $args >"$work/out.txt" 2>"$work/err.txt")
        [ $? -eq 1 ] || fail "without a display 'lumo $args' did not exit with 1"
        one_line_on_stderr "no display"
        [ -s "$work/out.txt" ] && fail "without a display 'lumo $args' printed to stdout"
        # A display that cannot be reached.
        # shellcheck disable=SC2086
        (cd "$work" && env -u WAYLAND_DISPLAY DISPLAY=:9999 SDL_AUDIODRIVER=dummy \
            ./lumo $args >"$work/out.txt" 2>"$work/err.txt")
        [ $? -eq 1 ] || fail "with an unreachable display 'lumo $args' did not exit with 1"
        grep -q "lumo: " "$work/err.txt" || fail "with an unreachable display: no line from lumo"
    done
    ;;
launcher_escape)
    prepare mp3
    start
    wait_window "$launcher_title"
    press "$win" Escape
    wait_exit "$demo_title"
    [ "$status" -eq 0 ] || fail "Escape in the launcher exited with $status"
    ;;
launcher_demo)
    prepare mp3
    start
    wait_window "$launcher_title"
    sleep 0.5 # let it draw before the screenshot
    xwd -root -silent -out "$work/launcher.xwd" || fail "xwd failed"
    convert "$work/launcher.xwd" "$work/launcher.png" 2>/dev/null
    colours=$(convert "$work/launcher.xwd" -format %k info: 2>/dev/null)
    [ "${colours:-0}" -ge 8 ] || fail "the launcher screenshot has ${colours:-no} colours"
    geometry "$win"
    [ "$width" -ge 200 ] && [ "$height" -ge 120 ] || fail "launcher is ${width}x$height"
    press "$win" Return
    wait_window "$demo_title"
    geometry "$win"
    [ "$width" = 640 ] && [ "$height" = 480 ] || fail "the demo window is ${width}x$height"
    sleep 0.5
    xdotool search --onlyvisible --name "$launcher_title" >/dev/null 2>&1 &&
        fail "the launcher is still shown with the demo"
    press "$win" Escape
    wait_exit
    [ "$status" -eq 0 ] || fail "Escape in the demo exited with $status"
    [ "$(grep -c "playing silently" "$work/out.txt")" -eq 1 ] ||
        fail "expected one line about silent audio"
    ;;
launcher_return_on_list)
    # The open "gpu:" list takes Escape for itself; once it is closed and still
    # focused, Return starts the demo instead of opening the list again.
    prepare mp3
    start
    wait_window "$launcher_title"
    # shellcheck disable=SC2086
    click "$win" $gpu_list
    sleep 0.5
    xdotool key Escape
    sleep 0.5
    xdotool search --onlyvisible --name "$launcher_title" >/dev/null 2>&1 ||
        fail "Escape in the open list closed the launcher"
    xdotool key Return
    demo_window_then_escape 640 480
    ;;
missing_mp3)
    prepare
    start
    wait_window "$launcher_title"
    press "$win" Return
    wait_exit "$demo_title"
    expect_output "error (2) while creating stream"
    [ "$status" -eq 1 ] || fail "a missing MP3 exited with $status"
    ;;
launcher_force720p)
    prepare mp3
    start
    wait_window "$launcher_title"
    # shellcheck disable=SC2086
    click "$win" $force_720p_box
    press "$win" Return
    demo_window_then_escape 640 360
    ;;
option_force720p)
    prepare mp3
    start --force-720p
    demo_window_then_escape 640 360
    ;;
fullscreen_evilwm)
    prepare mp3
    # Full screen under Xvfb only behaves with a window manager.
    evilwm >/dev/null 2>&1 &
    wm=$!
    sleep 0.5
    start
    wait_window "$launcher_title"
    # shellcheck disable=SC2086
    click "$win" $full_screen_box
    press "$win" Return
    wait_window "$demo_title"
    wait_filled "the full screen"
    press "$win" Escape
    wait_exit
    [ "$status" -eq 0 ] || fail "Escape in the demo exited with $status"
    ;;
native_evilwm)
    # The real demo, to see a picture: the build's data/ beside the copy.
    built_data="$(cd "$(dirname "$lumo")" && pwd)/data"
    [ -f "$built_data/sync_scene.track" ] || skip "no generated data beside $lumo"
    prepare
    rmdir "$work/data" && ln -s "$built_data" "$work/data"
    evilwm >/dev/null 2>&1 &
    wm=$!
    sleep 0.5
    start --native
    wait_window "$demo_title"
    wait_filled "the --native"
    # The demo fades in over its first seconds: within 30 s the screen shows
    # a picture, not black.
    seen=no
    for _ in $(seq 1 30); do
        sleep 1
        xwd -root -silent -out "$work/screen.xwd" || fail "xwd failed"
        mean=$(convert "$work/screen.xwd" -colorspace gray -format '%[fx:int(mean*1000)]' \
            info: 2>/dev/null)
        colours=$(convert "$work/screen.xwd" -format %k info: 2>/dev/null)
        if [ "${mean:-0}" -ge 5 ] && [ "${colours:-0}" -ge 500 ]; then
            seen=yes
            break
        fi
    done
    [ "$seen" = yes ] ||
        fail "the --native screen stayed black (mean ${mean:-?}/1000, ${colours:-?} colours)"
    press "$win" Escape
    wait_exit
    [ "$status" -eq 0 ] || fail "Escape in the demo exited with $status"
    ;;
size_window)
    prepare mp3
    # A window of the size asked for; one larger than the 1280x1024 screen
    # opens at the largest size of its shape that fits.
    start --size 800x450
    demo_window_then_escape 800 450
    start --size 3840x2160
    demo_window_then_escape 1280 720
    # Full screen cannot be larger than the screen: one line, status 2.
    (cd "$work" && SDL_AUDIODRIVER=dummy ./lumo --size 1920x1080 --fullscreen \
        >"$work/out.txt" 2>"$work/err.txt")
    [ $? -eq 2 ] || fail "a full-screen size larger than the screen did not exit with 2"
    one_line_on_stderr "larger than the 1280x1024 screen"
    ;;
*)
    echo "unknown case $case_"
    exit 1
    ;;
esac
echo "PASS: $case_"
exit 0
