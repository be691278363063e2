#!/usr/bin/env bash
# Runs the same pelfry-cli commands with the Linux and the Windows (under wine) builds on the
# same inputs, each in a folder of its own, and compares what they leave byte for byte: every
# file written, every command's standard output, standard error and exit status, and the times
# the program sets (converted files take the game file's age). Exits non-zero on a difference.
# Given the Windows editor too, opens an archive in it on a virtual display (Xvfb), clicks an
# image entry and checks that the preview shows the picture, pixel for pixel, in a screenshot
# (kept as SCREENSHOT, build-windows/window-run.png unless told).
#
#   tools/windows-scenario.sh LINUX_PELFRY_CLI WINDOWS_PELFRY_CLI_EXE [WINDOWS_PELFRY_EXE [SCREENSHOT]]
set -euo pipefail
tools=$(realpath "$(dirname "$0")")
linux_cli=$(realpath "$1")
windows_cli=$(realpath "$2")
windows_editor=${3:+$(realpath "$3")}
screenshot=$(realpath "${4:-$tools/../build-windows/window-run.png}")
data=$(realpath "$tools/../tests/data")
export WINEDEBUG=-all

work=$(mktemp -d "${TMPDIR:-/tmp}/pelfry-scenario-XXXXXX")
display_pid=
cleanup() {
  [ -n "$display_pid" ] && kill "$display_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The inputs, with fixed old times so that the times the program copies can be compared.
inputs=$work/inputs
mkdir -p "$inputs/in"
cp "$data/bmp/pil_p8.bmp" "$inputs/in/hero.IMG.bmp"
cp "$data/png/pil_scene_rgba.png" "$inputs/in/scene.IMG.png"
cp "$data/sprite/walk.SPR.bmp" "$data/sprite/walk.SPR.spd" "$inputs/in/"
printf 'plain bytes\r\nwith CR LF\n' >"$inputs/notes.txt"
printf '\303\251' >"$inputs/café.bin"
printf 'device' >"$inputs/data.bin"
touch -d '2021-06-15 13:45:31' "$inputs/in/hero.IMG.bmp" "$inputs/notes.txt" "$inputs/café.bin"
touch -d '2019-01-02 03:04:06' "$inputs/in/scene.IMG.png" "$inputs/in/walk.SPR.bmp" "$inputs/in/walk.SPR.spd"
touch -d '2018-07-08 09:10:12' "$inputs/data.bin"

# Each command: its arguments, run in the case's folder; output to NN.out, NN.err, NN.status.
commands=(
  "convert-back in/hero.IMG.bmp"
  "convert-back --no-compress-spr in/walk.SPR.spd"
  "convert-back --no-opaque in/scene.IMG.png"
  "add GFX.DIR in/hero.IMG in/walk.SPR in/scene.IMG notes.txt café.bin"
  "list GFX.DIR"
  "info GFX.DIR"
  "info in/hero.IMG"
  "info in/walk.SPR"
  "extract GFX.DIR out"
  "convert out/hero.IMG out/walk.SPR"
  "convert --png out/scene.IMG"
  "export GFX.DIR exported"
  "export --png GFX.DIR exported-png"
  "rebuild --recreate-all exported/GFX.DIR.txt REBUILT.DIR"
  "delete GFX.DIR notes.txt hero.IMG"
  "extract GFX.DIR again café.bin walk.SPR"
  "add GFX.DIR out/hero.IMG"
  "list REBUILT.DIR"
  "delete GFX.DIR missing"
  "extract GFX.DIR"
)

run_case() { # NAME COMMAND-PREFIX...
  local name=$1 dir=$work/$1
  shift
  cp -a "$inputs" "$dir"
  local i=0 command
  for command in "${commands[@]}"; do
    i=$((i + 1))
    local n
    n=$(printf '%02d' "$i")
    read -r -a args <<<"$command"
    set +e
    (cd "$dir" && "$@" "${args[@]}" >"$work/$name-$n.out" 2>"$work/$name-$n.err")
    echo $? >"$work/$name-$n.status"
    set -e
  done
}
run_case linux "$linux_cli"
run_case windows wine "$windows_cli"

failed=0
# Every file and its bytes.
if ! diff -r "$work/linux" "$work/windows"; then
  echo "The Linux and Windows builds wrote different files" >&2
  failed=1
fi
# Every command's output, errors and status.
for f in "$work"/linux-*; do
  other=$work/windows-${f##*/linux-}
  if ! cmp -s "$f" "$other"; then
    echo "Different ${f##*/linux-}:" >&2
    diff <(od -c "$f") <(od -c "$other") | head -20 >&2
    failed=1
  fi
done
# The times the program took from the inputs (all before 2022; files written during the run
# carry the time of the run): the same file by file, to the second.
times() { (cd "$1" && find . -type f ! -newermt 2022-01-01 -printf '%P %T@\n' | sort); }
if ! diff <(times "$work/linux") <(times "$work/windows"); then
  echo "The Linux and Windows builds set different file times" >&2
  failed=1
fi
# The editor under wine: pelfry.exe ARCHIVE opens the archive, a click on its image entry shows
# the picture. The window's client area (546 x 435, the menu bar above it) lists the entries
# from (8, 48), one line of about 13 pixels each.
window_run() {
  local dir=$work/window
  mkdir -p "$dir"
  (
    cd "$dir"
    python3 "$tools/preview-check.py" make bands.IMG.bmp
    wine "$windows_cli" convert-back -q bands.IMG.bmp
    wine "$windows_cli" add GAME.DIR bands.IMG
    wine "$windows_cli" extract -q GAME.DIR shown
    wine "$windows_cli" convert -q shown/bands.IMG
  ) >"$work/window.log" 2>&1 || { cat "$work/window.log" >&2; return 1; }

  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
  display_pid=$!
  local waited
  for waited in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.2; done
  export DISPLAY=:$(cat "$work/display")
  # A wine prefix of its own, on this display: wine's desktop, once started without a display
  # (as by the commands above), keeps every later window of its prefix off the screen.
  export WINEPREFIX=${WINEPREFIX:-$HOME/.wine}-window

  if ! wine "$windows_editor" --help | grep -q '^Usage: pelfry \[ARCHIVE\]'; then
    echo "pelfry.exe --help printed no usage" >&2
    return 1
  fi
  (cd "$dir" && exec wine "$windows_editor" GAME.DIR) >>"$work/window.log" 2>&1 &
  local editor=$!
  local window
  window=$(timeout 120 xdotool search --sync --onlyvisible --name '^Varn directory editor : ' | head -n 1)
  if [ -z "$window" ]; then
    import -window root "$screenshot"
    echo "The editor's window with the archive did not appear (screenshot: $screenshot):" >&2
    cat "$work/window.log" >&2
    kill "$editor" 2>/dev/null
    return 1
  fi
  local X Y WIDTH HEIGHT SCREEN caption
  caption=$(xdotool getwindowname "$window")
  eval "$(xdotool getwindowgeometry --shell "$window")"
  local top=$((Y + HEIGHT - 435))
  sleep 2 # the list filled and painted
  xdotool mousemove --sync $((X + 8 + 30)) $((top + 48 + 8)) click 1
  sleep 2 # the preview painted
  import -window root "$screenshot"
  convert "$screenshot" "$work/screen.ppm"
  kill "$editor" 2>/dev/null
  wait "$editor" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  local where
  if ! where=$(python3 "$tools/preview-check.py" find "$work/screen.ppm" "$dir/shown/bands.IMG.bmp"); then
    echo "The editor did not show the picture of the entry clicked (screenshot: $screenshot)" >&2
    return 1
  fi
  echo "Window: \"$caption\" showed bands.IMG at $where (screenshot: $screenshot)"
}
if [ -n "$windows_editor" ] && ! window_run; then
  failed=1
fi

files=$(find "$work/linux" -type f | wc -l)
stamped=$(times "$work/linux" | wc -l)
if [ "$failed" -ne 0 ]; then
  echo "Scenario: the builds differ" >&2
  exit 1
fi
echo "Scenario: ${#commands[@]} commands, $files files ($stamped dated from the inputs, times compared) identical on Linux and Windows"
