#!/usr/bin/env bash
# Installs the Debian packages one or more purposes need, when missing:
#
#   install-deps.sh run [test] [package] [fuzz]
#
#   run      building and running the program   scripts/deps/run.txt
#   test     the tests and benchmarks             scripts/deps/test.txt
#   package  the Debian package                   scripts/deps/package.txt
#   fuzz     the fuzz targets                     scripts/deps/fuzz.txt
#
# Run as root (CI does), it installs them. Otherwise it names the missing ones
# and the one command that installs them, and fails.
set -euo pipefail
lists="$(cd "$(dirname "$0")" && pwd)/deps"
[ $# -gt 0 ] || { echo "usage: $0 run|test|package|fuzz..." >&2; exit 2; }

wanted=()
for purpose in "$@"; do
  [ -f "$lists/$purpose.txt" ] || { echo "$0: no package list for '$purpose'" >&2; exit 2; }
  while read -r package _; do
    case "$package" in '' | '#'*) continue ;; esac
    wanted+=("$package")
  done <"$lists/$purpose.txt"
done

missing=()
for package in "${wanted[@]}"; do
  case " ${missing[*]:-} " in *" $package "*) continue ;; esac
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing Debian packages ($*): ${missing[*]}" >&2
  echo "Install them with: sudo apt-get install --no-install-recommends ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
