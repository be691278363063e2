#!/usr/bin/env bash
# Kills pelfry-cli at random moments of `add`, `delete`, `rebuild` to a new archive and `export`,
# with SIGINT (as Ctrl-C sends it) or SIGKILL, and checks what is left:
#   - the archive is exactly the old one or exactly the new one, never anything else;
#   - a new archive is absent or complete, never empty or cut short;
#   - every exported file is complete or absent;
#   - after the next write in a folder (the killed command run again to its end), nothing but
#     the expected files is there: no temporary file survives.
# Every other group of four rounds runs with named temporary files (PELFRY_NAMED_TEMP_FILES=1),
# the writer's way on file systems without nameless files. Not part of CI (it takes minutes and
# a few hundred MB of disk).
#
#   tools/kill-test.sh [ROUNDS] [SIZE_MB]      defaults: 200 rounds, a 100 MB archive
#
# Uses build/bin/pelfry-cli (./run.sh builds it) unless PELFRY_CLI names another; works in a
# new folder under TMPDIR (default /tmp), removed at the end.
set -euo pipefail
# Job control: each command runs in a process group of its own and takes SIGINT as from a
# terminal. Without it the commands a script starts in the background ignore SIGINT.
set -m
cd "$(dirname "$0")/.."
root=$PWD
cli=$(realpath "${PELFRY_CLI:-build/bin/pelfry-cli}")
rounds=${1:-200}
size_mb=${2:-100}
work=$(mktemp -d "${TMPDIR:-/tmp}/pelfry-kill-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/live" "$work/ref" "$work/in" "$work/src"
archive="$work/live/GFX.DIR"
reference="$work/ref/GFX.DIR"

echo "Making a ${size_mb} MB archive of 1 MB entries and three images in $work ..."
for i in $(seq 1 "$size_mb"); do head -c 1048576 /dev/urandom > "$work/in/E$i.bin"; done
for i in 1 2 3; do cp "$root/tests/data/bmp/pil_p8.bmp" "$work/in/P$i.IMG.bmp"; done
"$cli" convert-back -q "$work"/in/P*.IMG.bmp
"$cli" add "$archive" "$work"/in/E*.bin "$work"/in/P*.IMG
# What `rebuild` reads: an export whose images it rebuilds every time (--recreate-all), so that
# it writes game files beside the pictures as well as the new archive.
"$cli" export -q "$archive" "$work/src"
log="$work/src/GFX.DIR.txt"
"$cli" rebuild -q --recreate-all "$log" "$work/ref/REBUILT.DIR"
rebuilt=$(sha256sum < "$work/ref/REBUILT.DIR")
next=$((size_mb + 1))

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
sum() { sha256sum < "$1"; }
# The files below a folder with their contents' sums, temporaries included.
tree() { (cd "$1" && find . -type f -exec sha256sum {} + | sort -k 2); }
# Names of the writer's temporaries below the folders given.
temporaries() { find "$@" -name '.pelfry-*' 2>/dev/null || true; }

declare -A done_by_kind=()
killed=0 finished=0 old_kept=0 new_made=0 damaged=0 empty_new=0 absent_new=0 complete_new=0
cut_exports=0 left_by_kill=0 leftovers=0
for round in $(seq 1 "$rounds"); do
  kind=$(( (round - 1) % 4 ))
  named=$(( (round - 1) / 4 % 2 ))
  case $kind in
    0) head -c 1048576 /dev/urandom > "$work/in/E$next.bin"
       args=(add "$archive" "$work/in/E$next.bin"); next=$((next + 1)); name=add ;;
    1) entry=$("$cli" list "$archive" | grep '\.bin$' | shuf -n 1)
       args=(delete "$archive" "$entry"); name=delete ;;
    2) args=(rebuild -q --recreate-all "$log" "$work/live/NEW.DIR"); name=rebuild-new ;;
    3) rm -rf "$work/ex" "$work/ref/ex"
       args=(export -q "$archive" "$work/ex"); name=export ;;
  esac
  done_by_kind[$name]=$(( ${done_by_kind[$name]:-0} + 1 ))
  # What the command leaves when it completes, and how long it takes.
  case $kind in
    0|1) cp "$archive" "$reference"; ref_args=("${args[@]}"); ref_args[1]=$reference ;;
    2) ref_args=(rebuild -q --recreate-all "$log" "$work/ref/NEW.DIR") ;;
    3) ref_args=(export -q "$archive" "$work/ref/ex") ;;
  esac
  start=$(now_ms)
  "$cli" "${ref_args[@]}" >/dev/null
  took=$(( $(now_ms) - start + 1 ))
  old=$(sum "$archive")

  signal=$([ $((RANDOM % 2)) = 0 ] && echo KILL || echo INT)
  delay_ms=$(( RANDOM % (took + took / 5 + 1) ))
  if [ "$named" = 1 ]; then export PELFRY_NAMED_TEMP_FILES=1; else unset PELFRY_NAMED_TEMP_FILES; fi
  "$cli" "${args[@]}" >/dev/null 2>&1 &
  pid=$!
  sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
  kill -s "$signal" "$pid" 2>/dev/null || true
  status=0
  wait "$pid" 2>/dev/null || status=$?
  if [ "$status" -gt 128 ]; then killed=$((killed + 1)); else finished=$((finished + 1)); fi

  # What the kill left.
  complete=1
  case $kind in
    0|1) now=$(sum "$archive")
         if [ "$now" = "$old" ]; then old_kept=$((old_kept + 1)); complete=0
         elif [ "$now" = "$(sum "$reference")" ]; then new_made=$((new_made + 1))
         else damaged=$((damaged + 1)); echo "round $round ($name): the archive is neither the old nor the new one"
              cp "$reference" "$archive"
         fi ;;
    2) if [ ! -e "$work/live/NEW.DIR" ]; then absent_new=$((absent_new + 1)); complete=0
       elif [ ! -s "$work/live/NEW.DIR" ]; then empty_new=$((empty_new + 1)); complete=0
            echo "round $round ($name): an empty new archive"
       elif [ "$(sum "$work/live/NEW.DIR")" = "$rebuilt" ]; then complete_new=$((complete_new + 1))
       else damaged=$((damaged + 1)); complete=0; echo "round $round ($name): a damaged new archive"
       fi ;;
    3) if [ -d "$work/ex" ]; then
         cut=$(cd "$work/ex" && find . -type f ! -name '.pelfry-*' | while read -r f; do
                 cmp -s "$f" "$work/ref/ex/$f" || echo "$f"; done)
         if [ -n "$cut" ]; then cut_exports=$((cut_exports + 1)); echo "round $round ($name): cut-short exported files: $cut"; fi
       fi
       [ -f "$work/ex/GFX.DIR.txt" ] || complete=0 ;;
  esac
  left=$(temporaries "$work/live" "$work/src" "$work/ex")
  [ -z "$left" ] || left_by_kill=$((left_by_kill + 1))

  # The next write in the same folders: the command again, to its end.
  if [ "$complete" = 0 ]; then "$cli" "${args[@]}" >/dev/null; fi
  case $kind in
    0|1) [ "$(sum "$archive")" = "$(sum "$reference")" ] || { echo "round $round: the command run again did not give the new archive"; exit 1; } ;;
    2) [ "$(sum "$work/live/NEW.DIR")" = "$rebuilt" ] || { echo "round $round: the rebuild run again did not give the archive"; exit 1; } ;;
    3) [ "$(tree "$work/ex")" = "$(tree "$work/ref/ex")" ] || { echo "round $round: the export run again differs"; exit 1; } ;;
  esac
  extra=$( (ls -A "$work/live" | grep -vx -e GFX.DIR -e NEW.DIR; temporaries "$work/src" "$work/ex") || true)
  if [ -n "$extra" ]; then
    leftovers=$((leftovers + 1)); echo "round $round ($name): left after the next write: $extra"
    find "$work/live" -mindepth 1 ! -name GFX.DIR -delete
    find "$work/src" "$work/ex" -name '.pelfry-*' -delete 2>/dev/null || true
  fi
  rm -f "$work/live/NEW.DIR" "$work/ref/NEW.DIR"
done
unset PELFRY_NAMED_TEMP_FILES

echo "rounds: $rounds (add ${done_by_kind[add]:-0}, delete ${done_by_kind[delete]:-0}," \
     "rebuild to a new archive ${done_by_kind[rebuild-new]:-0}, export ${done_by_kind[export]:-0});" \
     "half of them with named temporary files"
echo "command ended by the signal: $killed; command done before it: $finished"
echo "add/delete: archive unchanged $old_kept, fully updated $new_made"
echo "rebuild to a new archive: none there $absent_new, complete $complete_new"
echo "killed writes that left a temporary until the next write: $left_by_kill"
echo "damaged archives: $damaged; empty new archives: $empty_new; cut-short exports: $cut_exports;" \
     "rounds with files left after the next write: $leftovers"
[ "$damaged" = 0 ] && [ "$empty_new" = 0 ] && [ "$cut_exports" = 0 ] && [ "$leftovers" = 0 ]
