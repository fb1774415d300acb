#!/usr/bin/env bash
# Makes the packages people can download into dist/: a .deb (installs under
# /usr; its dependencies are the runtime packages lumo links) and a .tar.gz
# that runs from wherever it is unpacked (bin/lumo with share/lumo/ beside
# bin/). Installs what is missing, builds the release preset with every
# component, packs, then unpacks both and runs them (tests/e2e/package.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release -DLUMO_COMPONENTS="math;params;assets;render;display;audio;app;tools" >/dev/null
cmake --build --preset release -j "$(nproc)"
rm -rf dist
cpack --config build/release/CPackConfig.cmake -B "$PWD/dist"
rm -rf dist/_CPack_Packages
bash tests/e2e/package.sh build/release build/release/package-check "$PWD/dist"
ls -l dist
