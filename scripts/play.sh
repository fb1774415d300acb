#!/usr/bin/env bash
# Installs what is missing, builds the release preset and plays the demo.
# Arguments are passed to lumo (see `lumo --help`).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
if [ ! -x build/release/lumo ]; then
    echo "lumo: the program is not built yet (app/ is missing from this checkout)" >&2
    exit 1
fi
exec build/release/lumo "$@"
