#!/usr/bin/env bash
# Installs the build into a staging folder (DESTDIR) and checks it as a user
# meets it: two valid menu entries with the icon, a valid software-centre
# description, the disc folder laid out as on the cover disc and read-only,
# and the program, started as each menu entry starts it, installing the engine
# at the first start and then showing the games, without writing to the disc.
#
# usage: install_test.sh <build folder> <staging folder> <probe library>
set -euo pipefail
build="$1"
stage="$2"
probe="$3"

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
check() { local what="$1"; shift; "$@" || fail "$what"; }
# A path as installed, inside the staging folder.
staged() { printf '%s%s' "$stage" "$1"; }
field() { sed -n "s/^$2=//p" "$1" | head -n 1; }

rm -rf "$stage"
DESTDIR="$stage" cmake --install "$build" >/dev/null

# --- the menu entries and the description
mapfile -t entries < <(find "$stage" -path '*/share/applications/*.desktop' | sort)
[ ${#entries[@]} -eq 2 ] || { echo "FAIL: expected two menu entries, found: ${entries[*]:-none}" >&2; exit 1; }
desktop-file-validate "${entries[@]}" || fail "desktop-file-validate"
mapfile -t descriptions < <(find "$stage" -path '*/share/metainfo/*.metainfo.xml')
[ ${#descriptions[@]} -eq 1 ] || fail "expected one metainfo file, found: ${descriptions[*]:-none}"
for description in "${descriptions[@]}"; do
  appstreamcli validate --no-net "$description" || fail "appstreamcli validate $description"
  for entry in "${entries[@]}"; do
    grep -q "<launchable type=\"desktop-id\">$(basename "$entry")</launchable>" "$description" ||
      fail "$description does not launch $(basename "$entry")"
  done
done

names=()
disc=""
for entry in "${entries[@]}"; do
  names+=("$(field "$entry" Name)")
  exec_line="$(field "$entry" Exec)"
  path="$(field "$entry" Path)"
  icon="$(field "$entry" Icon)"
  check "$entry: Exec=$exec_line is no installed program" test -x "$(staged "$exec_line")"
  check "$entry: Path=$path is no installed folder" test -d "$(staged "$path")"
  check "$entry: StartupWMClass is not the program's name" \
    test "$(field "$entry" StartupWMClass)" = "$(basename "$exec_line")"
  check "$entry: Categories" test "$(field "$entry" Categories)" = "Office;Database;"
  icon_file="$(find "$stage" -path "*/share/icons/hicolor/scalable/apps/$icon.svg")"
  check "$entry: no icon $icon in the hicolor theme" test -n "$icon_file"
  [ -z "$icon_file" ] || check "$icon_file is no SVG picture" \
    test "$(file --brief --mime-type "$icon_file")" = "image/svg+xml"
  if [ -z "$disc" ]; then disc="$path"; fi
  check "$entry: starts in $path, the other entry in $disc" test "$path" = "$disc"
done
check "menu names: ${names[*]}" test "$(printf '%s\n' "${names[@]}" | sort | paste -sd '/')" = "Quillora/Quillora (Festplatte)"

# --- the disc folder: as on the cover disc, read-only
staged_disc="$(staged "$disc")"
for table in GameData.DB CDData.DB TippsData.DB; do
  check "the disc has no table DATA/$table" test -s "$staged_disc/DATA/$table"
done
check "the disc's tables can be written" test -z "$(find "$staged_disc/DATA" -type f -perm /222)"
for program in QLEngine/Setup.exe quillora quillorahd; do
  target="$(readlink -f "$staged_disc/$program" || true)"
  check "the disc's $program is no program of this installation" \
    test -f "$target" -a -x "$target" -a "${target#"$stage"/}" != "$target"
done
check "quillorahd is not the program under another name" \
  test "$(readlink -f "$staged_disc/quillorahd")" = "$(readlink -f "$staged_disc/quillora")"
games="$(sqlite3 -readonly "$staged_disc/DATA/GameData.DB" 'SELECT COUNT(*) FROM GameData' || echo 0)"
check "the sample archive holds no games" test "$games" -gt 0
if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed before the program was started; the staged installation stays in $stage" >&2
  exit 1
fi

# --- the program, started as the menu starts it
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/config" "$work/data" "$work/tmp" "$work/names"
snapshot() { (cd "$staged_disc" && find . -printf '%p %y %s %T@ %m %l\n' | sort); }
before="$(snapshot)"

# Runs the program of a menu entry in its start folder, with a fresh user; the
# report of the probe goes to $work/report.<n>. The name it is started under
# keeps the entry's program name as its end, which decides the mode, and is
# unique in front, so a copy running elsewhere on the machine is not the one
# found by the single-instance guard.
run=0
start_entry() {
  local entry="$1" exec_line name
  exec_line="$(field "$entry" Exec)"
  run=$((run + 1))
  name="$work/names/q$$-$run-$(basename "$exec_line")"
  ln -s "$(staged "$exec_line")" "$name"
  report="$work/report.$run"
  : >"$report"
  status=0
  (
    cd "$(staged "$(field "$entry" Path)")"
    # The probe goes to the program alone, not to timeout.
    exec timeout 60 env HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
      TMPDIR="$work/tmp" QT_QPA_PLATFORM=offscreen QUILLORA_PROBE_REPORT="$report" LD_PRELOAD="$probe" "$name"
  ) || status=$?
  sed "s/^/  [$run] /" "$report"
}
has() { grep -qxF -- "$2" "$1"; }
games_shown() {
  local report="$1"
  check "run $run: ended with $status" test "$status" -eq 0
  check "run $run: no main window" has "$report" "window Quillora"
  check "run $run: not the games view" grep -q '^columns Spieletitel|' "$report"
  check "run $run: not all $games games" has "$report" "rows $games"
  check "run $run: a message box was shown" test -z "$(grep '^message ' "$report")"
}
disc_entry="" hd_entry=""
for entry in "${entries[@]}"; do
  if [ "$(field "$entry" Name)" = "Quillora (Festplatte)" ]; then hd_entry="$entry"; else disc_entry="$entry"; fi
done

# The first start on a machine: the notice, the installer from the disc, the end.
start_entry "$disc_entry"
check "first start ended with $status" test "$status" -eq 0
check "first start: no engine notice" grep -q '^message Achtung! Auf Ihrem System wird jetzt die "Quillora-Engine" installiert\.' "$report"
check "first start went on to the main window" test -z "$(grep '^window' "$report")"
hive="$work/config/Vortagon/registry.reg"
for _ in $(seq 100); do
  if grep -qs '"Engine-Version"' "$hive"; then break; fi
  sleep 0.1
done
check "the installer on the disc registered no engine" grep -qs '"Engine-Version"' "$hive"

# From then on both entries show the games.
start_entry "$disc_entry"
games_shown "$report"
check "disc mode copied the tables" test ! -e "$work/data/VORTAGON"
start_entry "$hd_entry"
games_shown "$report"
for table in GameData.DB CDData.DB TippsData.DB; do
  check "hard-disk mode has no writable copy of $table" \
    test -n "$(find "$work/data/VORTAGON/QUILLORA/DATA/$table" -perm -u=w 2>/dev/null)"
done

check "the program wrote into the installed disc folder" test "$(snapshot)" = "$before"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed; the staged installation stays in $stage" >&2
  exit 1
fi
rm -rf "$stage"
echo "installed layout, menu entries, description and program: all fine"
