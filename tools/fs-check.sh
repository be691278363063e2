#!/usr/bin/env bash
# Runs pelfry-cli on the file systems of the sticks users plug in, mounted as Linux mounts them
# without kernel drivers: exFAT through exfat-fuse (on a loop device) and FAT through fusefat.
# Checks on each:
#   - entries whose names the stick takes for one file (Data.bin and DATA.BIN; on exFAT also
#     é.bin and É.bin; sub\a and SUB\a) are refused by `export` and `extract`, and an entry
#     named like the log by `export`, before anything is written, with exit status 1;
#   - an export and a rebuild from it give back the same archive, and an edit saved after the
#     export is rebuilt;
#   - `add` over an archive on the stick saves it (FAT keeps no permissions);
#   - no temporary file or probe is left.
# With --kill N it also runs tools/kill-test.sh N rounds in a folder on the exFAT stick.
#
#   tools/fs-check.sh [--kill ROUNDS]
#
# Needs root, /dev/fuse and loop devices; where one is missing it says so and exits 0 (CI runs
# it where the machine allows). Uses build-test/bin/pelfry-cli (./test.sh builds it) unless
# PELFRY_CLI names another; tools/install-deps.sh installs the file systems' tools.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
kill_rounds=0
if [ "${1:-}" = "--kill" ]; then kill_rounds=${2:?--kill takes a number of rounds}; fi
cli=$(realpath "${PELFRY_CLI:-build-test/bin/pelfry-cli}")
# The test build's sanitizers, as test.sh runs them.
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$root/tools/lsan.supp:print_suppressions=0}"

skip() { echo "fs-check: skipped: $*"; exit 0; }
[ "$(id -u)" = 0 ] || skip "not root (loop devices and FUSE mounts need it)"
[ -c /dev/fuse ] || skip "no /dev/fuse on this machine"
for tool in losetup mount.exfat-fuse mkfs.exfat fusefat mkfs.vfat fusermount3; do
  command -v "$tool" >/dev/null || skip "$tool is missing (tools/install-deps.sh installs it)"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/pelfry-fs-XXXXXX")
loop=""
cleanup() {
  for m in "$work"/exfat "$work"/fat; do
    mountpoint -q "$m" 2>/dev/null && { fusermount3 -u "$m" 2>/dev/null || umount "$m" || true; }
  done
  [ -z "$loop" ] || losetup -d "$loop" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/in" "$work/exfat" "$work/fat"

# The exFAT stick: a loop device, since exfat-fuse mounts only block devices as root.
truncate -s 400M "$work/exfat.img"
mkfs.exfat "$work/exfat.img" >/dev/null
loop=$(losetup -f --show "$work/exfat.img" 2>/dev/null) || skip "no loop device can be had here"
mount.exfat-fuse "$loop" "$work/exfat" >/dev/null 2>&1 || skip "exfat-fuse cannot mount here"
truncate -s 64M "$work/fat.img"
mkfs.vfat "$work/fat.img" >/dev/null
fusefat -o rw+ "$work/fat.img" "$work/fat" >/dev/null 2>&1 || skip "fusefat cannot mount here"

failures=0
fail() { echo "fs-check: FAILED: $*"; failures=$((failures + 1)); }

# The inputs, on the ordinary file system.
cd "$work/in"
printf 1 > one; printf 2 > two
cp "$root/tests/data/bmp/pil_p8.bmp" P.IMG.bmp
"$cli" convert-back -q P.IMG.bmp
archive() { # archive NAME ENTRY FILE ENTRY FILE ...
  local name=$1; shift
  while [ $# -gt 0 ]; do "$cli" add -q --name "$1" "$name" "$2"; shift 2; done
}
archive CASE.DIR Data.bin one DATA.BIN two
archive ACCENT.DIR $'\xc3\xa9.bin' one $'\xc3\x89.bin' two
archive SUB.DIR 'sub\a' one 'SUB\a' two
archive LOG.dir x one LOG.dir.TXT two
archive GOOD.DIR P.IMG P.IMG 'sub\data.bin' one

check_stick() { # check_stick FOLDER NAME ACCENTS
  local stick=$1 name=$2 accents=$3
  local refused=(CASE SUB LOG)
  [ "$accents" = 1 ] && refused+=(ACCENT)
  for a in "${refused[@]}"; do
    local file=$a.DIR; [ "$a" = LOG ] && file=LOG.dir
    local commands=(export extract)
    [ "$a" = LOG ] && commands=(export) # only an export writes a log
    for command in "${commands[@]}"; do
      local status=0 err
      err=$("$cli" "$command" -q "$work/in/$file" "$stick/$a" 2>&1) || status=$?
      if [ "$status" != 1 ] || ! grep -q -e "would be written to the same file" -e "would be written over the log" <<<"$err"; then
        fail "$name: $command of $file: exit $status: $err"
      fi
      [ ! -e "$stick/$a" ] || fail "$name: $command of $file left $stick/$a"
    done
  done
  # The round trip, with an edit saved after the export (the stick's own time step later).
  "$cli" export -q "$work/in/GOOD.DIR" "$stick/ex" || fail "$name: export"
  "$cli" rebuild -q "$stick/ex/GOOD.DIR.txt" "$stick/SAME.DIR" || fail "$name: rebuild"
  cmp -s "$work/in/GOOD.DIR" "$stick/SAME.DIR" || fail "$name: the untouched round trip changed the archive"
  touch -d '+2 seconds' "$stick/ex/P.IMG.bmp"
  local said
  said=$("$cli" rebuild "$stick/ex/GOOD.DIR.txt" "$stick/EDITED.DIR" 2>&1) || fail "$name: rebuild after an edit"
  grep -q "converted 1 of 2" <<<"$said" || fail "$name: the edit was not rebuilt: $said"
  # Saving over an archive there.
  "$cli" add -q "$stick/SAME.DIR" "$work/in/two" || fail "$name: add over an archive"
  [ "$("$cli" list "$stick/SAME.DIR" | tail -1)" = two ] || fail "$name: the archive saved over lacks its entry"
  local left
  left=$(find "$stick" -name '.pelfry-*')
  [ -z "$left" ] || fail "$name: left behind: $left"
  echo "fs-check: $name: done"
}

check_stick "$work/exfat" exFAT 1
check_stick "$work/fat" FAT 0

if [ "$kill_rounds" -gt 0 ]; then
  cd "$root"
  TMPDIR="$work/exfat" PELFRY_CLI="$cli" tools/kill-test.sh "$kill_rounds" 20 || fail "kill-test on exFAT"
fi

[ "$failures" = 0 ] || exit 1
echo "fs-check: exFAT (exfat-fuse) and FAT (fusefat) passed"
