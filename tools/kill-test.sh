#!/usr/bin/env bash
# Kills pelfry-cli at random moments of `add` and `delete` on a large archive and checks what
# is left: the archive must always be exactly the old one or exactly the new one, and no other
# file may be left beside it. Not part of CI (it takes minutes and a few hundred MB of disk).
#
#   tools/kill-test.sh [ROUNDS] [SIZE_MB]      defaults: 200 rounds, a 100 MB archive
#
# Uses build/bin/pelfry-cli (./run.sh builds it) unless PELFRY_CLI names another; works in a
# new folder under TMPDIR (default /tmp), removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$(realpath "${PELFRY_CLI:-build/bin/pelfry-cli}")
rounds=${1:-200}
size_mb=${2:-100}
work=$(mktemp -d "${TMPDIR:-/tmp}/pelfry-kill-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/live" "$work/ref" "$work/in"
archive="$work/live/GFX.DIR"
reference="$work/ref/GFX.DIR"

echo "Making a ${size_mb} MB archive of 1 MB entries in $work ..."
for i in $(seq 1 "$size_mb"); do head -c 1048576 /dev/urandom > "$work/in/E$i.bin"; done
"$cli" add "$archive" "$work"/in/E*.bin
next=$((size_mb + 1))

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
sum() { sha256sum "$1" | cut -d' ' -f1; }

old_kept=0 new_made=0 damaged=0 leftovers=0 finished=0 killed=0
for round in $(seq 1 "$rounds"); do
  # The command of this round: add a new entry or delete a random existing one.
  if (( round % 2 )); then
    head -c 1048576 /dev/urandom > "$work/in/E$next.bin"
    args=(add "$archive" "$work/in/E$next.bin")
    ref_args=(add "$reference" "$work/in/E$next.bin")
    next=$((next + 1))
  else
    name=$("$cli" list "$archive" | shuf -n 1)
    args=(delete "$archive" "$name")
    ref_args=(delete "$reference" "$name")
  fi
  # What the archive must be if the command completes, and how long it takes.
  cp "$archive" "$reference"
  start=$(now_ms)
  "$cli" "${ref_args[@]}"
  took=$(( $(now_ms) - start + 1 ))
  old=$(sum "$archive")
  new=$(sum "$reference")

  signal=$([ $((RANDOM % 2)) = 0 ] && echo KILL || echo INT)
  delay_ms=$(( RANDOM % (took + took / 5 + 1) ))
  "$cli" "${args[@]}" 2>/dev/null &
  pid=$!
  sleep "$(printf '0.%03d' "$delay_ms")" 2>/dev/null || sleep "$((delay_ms / 1000))"
  kill -s "$signal" "$pid" 2>/dev/null || true
  status=0
  wait "$pid" 2>/dev/null || status=$?
  if [ "$status" -gt 128 ]; then killed=$((killed + 1)); else finished=$((finished + 1)); fi

  now=$(sum "$archive")
  if [ "$now" = "$old" ]; then old_kept=$((old_kept + 1))
  elif [ "$now" = "$new" ]; then new_made=$((new_made + 1))
  else damaged=$((damaged + 1)); echo "round $round: the archive is neither the old nor the new one"; cp "$reference" "$archive"
  fi
  extra=$(ls -A "$work/live" | grep -vx GFX.DIR || true)
  if [ -n "$extra" ]; then
    leftovers=$((leftovers + 1)); echo "round $round: left beside the archive: $extra"
    find "$work/live" -mindepth 1 ! -name GFX.DIR -delete
  fi
done

echo "rounds: $rounds (command ended by the signal: $killed; command done before it: $finished)"
echo "archive unchanged: $old_kept; archive fully updated: $new_made"
echo "damaged archives: $damaged; rounds with files left beside the archive: $leftovers"
[ "$damaged" = 0 ] && [ "$leftovers" = 0 ]
