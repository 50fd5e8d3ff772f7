#!/usr/bin/env bash
# Builds the Debian packages with dpkg-buildpackage from a copy of the source tree
# (dpkg-buildpackage writes its results beside the tree it builds), and leaves in OUT_DIR
# movarix-share_<version>_<arch>.deb, movarix-share-kde_<version>_<arch>.deb (KDE's Share menus),
# their debug symbols (...-dbgsym_...), the .buildinfo and the .changes. Installs missing
# packages first.
# Usage: scripts/package.sh [OUT_DIR]        (default build/package)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build/package}

"$root/scripts/setup.sh"
version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
mkdir -p "$out"
out=$(cd "$out" && pwd)
stage="$out/quillop-share-$version"
rm -rf "$stage" "$out"/movarix-share*_"$version"_* "$out"/quillop-share_"$version"_*
mkdir "$stage"
tar -C "$root" --exclude=./build --exclude=./.git --exclude=./fuzz-corpus -cf - . | tar -C "$stage" -xf -
(cd "$stage" && dpkg-buildpackage -b --no-sign -j"$(nproc)")
rm -rf "$stage"
ls "$out"/*.deb
