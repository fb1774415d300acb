#!/usr/bin/env bash
# The architecture, checked on the sources: which folder may include which,
# that only render/ and its own tests and benchmarks see render/internal/, and
# that only the platform folders include platform headers.
#   layering.sh SOURCE_DIR
set -u
cd "$1" || exit 1
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Folder -> the project folders its sources may include (besides itself).
declare -A allowed=(
    [sys]=""
    [math]="sys"
    [params]="math sys"
    [assets]="math sys"
    [render]="math assets sys"
    [display]="sys"
    [audio]="sys"
    [app]="math params assets render display audio sys"
)
for folder in "${!allowed[@]}"; do
    while IFS= read -r line; do
        file=${line%%:*}
        used=$(sed -E 's/.*#include "([a-z_]+)\/.*/\1/' <<<"$line")
        [ "$used" = "$folder" ] && continue
        [[ " ${allowed[$folder]} " == *" $used "* ]] ||
            fail "$file includes $used/ (${folder}/ may include: ${allowed[$folder]:-nothing})"
    done < <(grep -rnE '^#include "[a-z_]+/' "$folder" --include=*.cpp --include=*.h)
done

# The renderer's face is renderer.h, scene.h, buffers.h and fixed.h; the rest
# is private to render/, its tests and its benchmarks.
while IFS= read -r line; do
    case "$line" in
    render/* | tests/render/* | bench/render/*) ;;
    *) fail "${line%%:*} includes a private renderer header" ;;
    esac
done < <(grep -rnE '#include "render/internal/' --include=*.cpp --include=*.h \
    sys math params assets render display audio app tools tests bench fuzz)

# Platform headers: threads and processes in sys/, SDL in display/ and audio/,
# libmpg123 in audio/, GTK in app/'s launcher view only.
check_platform() {
    local pattern=$1 where=$2
    while IFS= read -r line; do
        [[ "${line%%:*}" =~ ^($where) ]] || fail "${line%%:*} includes ${line#*#include }"
    done < <(grep -rnE "#include <($pattern)" --include=*.cpp --include=*.h \
        sys math params assets render display audio app)
}
check_platform 'pthread\.h|sched\.h|unistd\.h|sys/|signal\.h|spawn\.h' 'sys/|audio/'
check_platform 'SDL' 'display/|audio/'
check_platform 'mpg123' 'audio/'
check_platform 'gtk/' 'app/launcher_view\.cpp'

if [ "$failures" -gt 0 ]; then
    exit 1
fi
echo "ok: folders include only what lies beneath them"
