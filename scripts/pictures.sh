#!/usr/bin/env bash
# Makes the README's pictures again after the content changed: docs/scenes.png,
# one frame from the middle of each scene in the order they play, and
# docs/lumo-1920x1080.png, the title at 1920 x 1080 (the build draws both with
# the demo's own renderer: build/release/release-files/), and the benchmark
# table beside them in README.md, measured on this machine.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release -DLUMO_COMPONENTS="math;params;assets;render;display;audio;app;tools" >/dev/null
cmake --build --preset release -j "$(nproc)"
mkdir -p docs
cp build/release/release-files/scenes.png build/release/release-files/lumo-1920x1080.png docs/

table=$(mktemp)
trap 'rm -f "$table"' EXIT
{
    echo '    $ lumo --bench --threads 1,2 --frames 20'
    build/release/lumo --bench --threads 1,2 --frames 20 2>/dev/null |
        sed -n '/^scene  threads/,$p' | sed 's/^./    &/'
} >"$table"
# The table sits between two marker lines of README.md.
awk -v table="$table" '
    /^<!-- benchmark table: scripts\/pictures.sh -->$/ { print; while ((getline line < table) > 0) print line; skip = 1; next }
    /^<!-- end of benchmark table -->$/ { skip = 0 }
    !skip { print }
' README.md >README.md.new
mv README.md.new README.md
echo "docs/scenes.png, docs/lumo-1920x1080.png and the table in README.md made again; commit them"
