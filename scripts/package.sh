#!/usr/bin/env bash
# Builds the program and makes the Debian package from the same build:
# build/quillora_<version>_<architecture>.deb, which `apt install ./build/quillora_*.deb`
# installs (menu entries "Quillora" and "Quillora (Festplatte)").
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILLORA_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh" run package
"$root/scripts/build.sh"
cd "$build"
rm -f quillora_*.deb
cpack -G DEB
