#!/usr/bin/env bash
# The Debian package: made by cpack from the build, it holds exactly what
# `cmake --install` installs, with the programs' shared-library dependencies.
# As root it is installed with dpkg, the installed program is started once
# (engine installer from the installed disc, then the games), and removing the
# package must leave none of its files. Without root only the package itself
# is checked. A quillora package installed before is left alone.
#
# usage: package_test.sh <build folder>
set -euo pipefail
build="$(cd "$1" && pwd)"
probe="$build/tests/install/libquillora_install_probe.so"

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
check() { local what="$1"; shift; "$@" || fail "$what"; }
finish() {
  if [ "$failures" -ne 0 ]; then
    echo "package: $failures check(s) failed" >&2
    exit 1
  fi
  echo "package: $*"
  exit 0
}

work="$(mktemp -d)"
installed_by_us=0
cleanup() {
  # Never leave the package installed, whatever failed on the way.
  if [ "$installed_by_us" -eq 1 ]; then dpkg -r quillora >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# --- the package
(cd "$build" && rm -f quillora_*.deb && cpack -G DEB >"$work/cpack.log") || { cat "$work/cpack.log" >&2; exit 1; }
packages=("$build"/quillora_*.deb)
[ ${#packages[@]} -eq 1 ] && [ -f "${packages[0]}" ] || { echo "FAIL: cpack made no single package" >&2; exit 1; }
package="${packages[0]}"
echo "package: $(basename "$package")"
dpkg-deb -f "$package" | sed "s/^/  /"

check "package name" test "$(dpkg-deb -f "$package" Package)" = quillora
depends="$(dpkg-deb -f "$package" Depends)"
for dependency in libqt6widgets6 libsqlite3-0 libc6 qt6-qpa-plugins qt6-translations-l10n fonts-liberation; do
  check "Depends lacks $dependency" grep -q "\\b$dependency\\b" <<<"$depends"
done
for field in Version Maintainer Section Description; do
  check "no $field" test -n "$(dpkg-deb -f "$package" "$field")"
done

# Exactly what `cmake --install` installs: the install test checks that layout.
DESTDIR="$work/stage" cmake --install "$build" >/dev/null
(cd "$work/stage" && find . -mindepth 1 \( -type l -printf '%p -> %l\n' -o ! -type d -printf '%p\n' \) | sort) \
  >"$work/expected"
dpkg-deb -c "$package" | awk '$1 !~ /^d/ { $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' | sort \
  >"$work/contents"
diff -u "$work/expected" "$work/contents" || fail "the package holds other files than cmake --install installs"
prefix="$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")"
for path in bin/quillora "bin/quillorahd -> quillora" share/quillora/disc/DATA/GameData.DB \
  share/quillora/disc/DATA/CDData.DB share/quillora/disc/DATA/TippsData.DB share/quillora/disc/QLEngine/Setup.exe \
  share/applications/de.vortagon.quillora.desktop share/applications/de.vortagon.quillorahd.desktop \
  share/metainfo/de.vortagon.quillora.metainfo.xml share/icons/hicolor/scalable/apps/quillora.svg \
  bin/quillora-archiv share/man/man1/quillora-archiv.1 share/bash-completion/completions/quillora-archiv; do
  check "the package lacks $prefix/$path" grep -q "^\\.$prefix/$path\\( ->\\|\$\\)" "$work/contents"
done

# The maintainer's tool as staged: its manual page renders without a
# warning, its completion offers what the tool takes, and it finds the
# sample archive sound.
stage="$work/stage$prefix"
warnings="$(groff -man -Tutf8 -ww -z "$stage/share/man/man1/quillora-archiv.1" 2>&1)"
check "the manual page warns: $warnings" test -z "$warnings"
complete_words() {
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _quillora_archiv; echo "${COMPREPLY[*]}"' \
    _ "$stage/share/bash-completion/completions/quillora-archiv" "$@"
}
check "completion of commands" test "$(complete_words quillora-archiv im)" = import
check "completion of options" test "$(complete_words quillora-archiv import DATA cd f --)" = "--alle-felder --probe --help"
tables="$(complete_words quillora-archiv export DATA '')"
check "no table names completed" test -n "$tables"
for table in $tables; do
  check "the tool refuses the completed table $table" \
    "$stage/bin/quillora-archiv" export "$stage/share/quillora/disc/DATA" "$table" -o - >/dev/null
done
check "the tool finds faults in the sample archive" "$stage/bin/quillora-archiv" pruefen "$stage/share/quillora/disc/DATA" \
  >/dev/null

# --- installed and removed again
if [ "$(id -u)" -ne 0 ]; then
  finish "built and checked; installing and removing it needs root: SKIPPED"
fi
if dpkg-query -W -f='${db:Status-Status}' quillora 2>/dev/null | grep -qv '^not-installed$'; then
  finish "built and checked; a quillora package is installed already, so it is not replaced: SKIPPED"
fi
[ "$failures" -eq 0 ] || finish "not installed"

# dpkg may be busy with another installation for a while.
installed_by_us=1
for attempt in $(seq 30); do
  if dpkg -i "$package" >"$work/dpkg.log" 2>&1; then break; fi
  if ! grep -q 'lock' "$work/dpkg.log" || [ "$attempt" -eq 30 ]; then
    cat "$work/dpkg.log" >&2
    fail "dpkg -i"
    finish "not installed"
  fi
  sleep 2
done
check "dpkg -i left it $(dpkg-query -W -f='${db:Status-Status}' quillora)" \
  test "$(dpkg-query -W -f='${db:Status-Status}' quillora)" = installed

# The first start on a machine, as from the menu entry: the engine installer
# from the installed disc, then the program shows the games.
disc="$prefix/share/quillora/disc"
mkdir -p "$work/config" "$work/data" "$work/tmp" "$work/home"
user_env=(HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" TMPDIR="$work/tmp"
  QT_QPA_PLATFORM=offscreen)
(cd "$disc" && env "${user_env[@]}" timeout 60 ./QLEngine/Setup.exe >/dev/null) || fail "the installed engine installer"
ln -s "$prefix/bin/quillora" "$work/q$$-quillora"  # a name of its own for the single-instance guard
status=0
(cd "$disc" && exec timeout 60 env "${user_env[@]}" QUILLORA_PROBE_REPORT="$work/report" LD_PRELOAD="$probe" \
  "$work/q$$-quillora") || status=$?
sed 's/^/  /' "$work/report" 2>/dev/null || true
games="$(sqlite3 -readonly "$disc/DATA/GameData.DB" 'SELECT COUNT(*) FROM GameData' || echo none)"
check "the installed program ended with $status" test "$status" -eq 0
check "the installed program did not show all $games games" grep -qxF "rows $games" "$work/report"

dpkg -r quillora >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg -r"; }
installed_by_us=0
status_after="$(dpkg-query -W -f='${db:Status-Status}' quillora 2>/dev/null || echo not-installed)"
check "dpkg -r left it $status_after" test "$status_after" = not-installed
left=()
while IFS= read -r line; do
  path="${line%% -> *}"
  path="${path#.}"
  if [ -e "$path" ] || [ -L "$path" ]; then left+=("$path"); fi
done <"$work/contents"
for folder in "$prefix/share/quillora" "$prefix/libexec/quillora" "$prefix/share/doc/quillora"; do
  if [ -e "$folder" ]; then left+=("$folder"); fi
done
check "dpkg -r left behind: ${left[*]:-}" test ${#left[@]} -eq 0

finish "built, installed, started, removed: nothing left behind"
