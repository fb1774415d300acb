#!/usr/bin/env bash
# The packages as a user gets them:
#   package.sh BUILD_DIR WORKDIR [DIST_DIR]
# Makes the .deb and the .tar.gz with CPack (or takes them from DIST_DIR),
# unpacks the .deb into a scratch root (dpkg -x) and the tarball elsewhere, and
# runs each unpacked lumo --frame from a directory with no data/ in it: the
# frame must be the build's own. Then what a user can get wrong: a moved
# tarball, an incomplete or missing data directory, a prefix that cannot be
# written. Exit 0: pass, 1: fail, 77: skipped (cpack or dpkg missing).
set -u
build=$(cd "$1" && pwd)
work=$2
dist=${3:-}

fail() {
    echo "FAIL (package): $*"
    for f in "$work"/*.txt; do
        [ -f "$f" ] && sed "s|^|  $(basename "$f"): |" "$f" | tail -8
    done
    exit 1
}
for tool in cpack dpkg dpkg-deb dpkg-shlibdeps tar; do
    command -v $tool >/dev/null || { echo "SKIP (package): $tool is not installed"; exit 77; }
done
[ -f "$build/CPackConfig.cmake" ] || { echo "SKIP (package): no packaging in $build"; exit 77; }

rm -rf "$work"
mkdir -p "$work/elsewhere"
work=$(cd "$work" && pwd)
cd "$work" || exit 1
if [ -z "$dist" ]; then
    cpack --config "$build/CPackConfig.cmake" -B "$work/dist" >cpack.txt 2>&1 || fail "cpack failed"
    dist=$work/dist
fi
deb=$(ls "$dist"/lumo_*.deb 2>/dev/null | head -1)
tgz=$(ls "$dist"/lumo-*.tar.gz 2>/dev/null | head -1)
[ -f "$deb" ] || fail "no .deb in $dist"
[ -f "$tgz" ] || fail "no .tar.gz in $dist"

# The frame every unpacked program must draw: the build's own.
"$build/lumo" --frame 10 --out "$work/expected.png" >build.txt 2>&1 || fail "the build's lumo failed"

# Runs an unpacked lumo from a directory without data/; $1 the program, $2 the name.
frame_from() {
    (cd "$work/elsewhere" && "$1" --frame 10 --out "$work/$2.png") >"$2.txt" 2>&1 ||
        fail "$1 --frame exited with $?"
    cmp -s "$work/expected.png" "$work/$2.png" || fail "$1 drew another frame than the build's lumo"
}

# The .deb: runtime packages only, and everything where a desktop looks for it.
depends=$(dpkg-deb -f "$deb" Depends)
for need in libsdl2-2.0-0 libmpg123-0 libgtk-3-0 libc6; do
    echo "$depends" | grep -q "$need" || fail "Depends lacks $need: $depends"
done
echo "$depends" | grep -q -- '-dev' && fail "Depends names a build package: $depends"
dpkg-deb -c "$deb" >contents.txt
for file in ./usr/bin/lumo ./usr/share/lumo/contents.txt ./usr/share/lumo/j2.mp3 \
    ./usr/share/applications/lumo.desktop ./usr/share/icons/hicolor/48x48/apps/lumo.png \
    ./usr/share/man/man6/lumo.6; do
    grep -q " $file\$" contents.txt || fail "the .deb has no $file"
done
dpkg -x "$deb" "$work/root" || fail "dpkg -x failed"
frame_from "$work/root/usr/bin/lumo" deb

# The tarball runs from wherever it is unpacked, and after it was moved.
mkdir unpacked
tar -xzf "$tgz" -C unpacked || fail "cannot unpack $tgz"
top=$(ls -d unpacked/*/ | head -1)
[ -x "$top/bin/lumo" ] || fail "the tarball has no bin/lumo"
frame_from "$work/$top/bin/lumo" tgz
mv "$top" moved
frame_from "$work/moved/bin/lumo" moved

# An incomplete install: one line naming the missing file, status 1, no frame.
rm "$work/moved/share/lumo/meshes/octo.obj"
(cd elsewhere && "$work/moved/bin/lumo" --frame 10 --out "$work/broken.png") >out.txt 2>err.txt
status=$?
[ $status -eq 1 ] || fail "an incomplete install exited with $status"
[ "$(wc -l <err.txt)" -eq 1 ] && grep -q "share/lumo/meshes/octo.obj is missing" err.txt ||
    fail "no one line naming the missing mesh: $(cat err.txt)"
[ -e broken.png ] && fail "a frame was written from incomplete data"
rm -r "$work/moved/share/lumo"
(cd elsewhere && "$work/moved/bin/lumo" --frame 10 --out "$work/broken.png") >out.txt 2>err.txt
status=$?
[ $status -eq 1 ] && grep -q "data is missing: no .*share/lumo or ./data directory" err.txt ||
    fail "no data: status $status, $(cat err.txt)"

# cmake --install into a prefix, then into prefixes that cannot be written:
# under a file, and one whose share/ is a file (bin/ could be made, and must
# not stay).
cmake --install "$build" --prefix "$work/prefix" >install.txt 2>&1 || fail "cmake --install failed"
frame_from "$work/prefix/bin/lumo" installed
echo x >file
cmake --install "$build" --prefix "$work/file/usr" >install.txt 2>&1 && fail "installed under a file"
# CMake folds its error messages over lines.
tr -s ' \n' ' ' <install.txt | grep -q "file/usr/bin cannot be written; nothing was installed" ||
    fail "no reason for the failure"
mkdir half && echo x >half/share
cmake --install "$build" --prefix "$work/half" >install.txt 2>&1 && fail "installed over a file"
[ "$(ls half)" = share ] || fail "the failed install left $(ls half)"
echo "PASS (package)"
