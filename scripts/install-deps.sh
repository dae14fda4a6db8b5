#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# Run as root (CI does); otherwise it names the command to run.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config procps
  qt6-base-dev qt6-svg-dev libgl-dev
  libsqlite3-dev libgtest-dev libgmock-dev libbenchmark-dev
  fonts-liberation
  # Qt's own German words: the tests check the standard buttons and dialogs
  qt6-translations-l10n
  # checks of the installed program and the Debian package
  desktop-file-utils appstream file sqlite3 dpkg-dev
  # the fuzz targets (scripts/fuzz.sh)
  clang-14 libclang-rt-14-dev
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "Install them with: sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
