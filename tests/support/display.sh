# Shared by the tests that run programs in real windows: sourced after
# "set -euo pipefail" with the script's own arguments, BIN_DIR SCREENSHOT_DIR.
# Re-runs the script on a virtual X display (xvfb-run) with a window manager,
# and gives the helpers that find windows, press their buttons and take
# screenshots (the counting of failed checks and the waits for programs come
# from checks.sh). Exits 77 (skipped) when a tool is missing.

source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"
bin=$(folder "$1")
shots=$(folder "$2" make)

if [ -z "${ON_DISPLAY_INNER:-}" ]; then
  for tool in xvfb-run xdotool openbox xprop import; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
  ON_DISPLAY_INNER=1 exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
    bash "$0" "$bin" "$shots"
fi

work=$(mktemp -d)
openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm=$!
trap 'kill $wm 2>/dev/null || true; rm -rf "$work"' EXIT
# The window manager is up once it owns the screen's manager selection.
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done

trap 'echo "FAIL: line $LINENO: $BASH_COMMAND"' ERR

# A visible window titled $1 other than window $2 (0: any), waited for up to
# 60 s: a loaded machine can take long to start a program and map its window.
# It is returned once the window manager has framed and placed it (it then
# sets _NET_FRAME_EXTENTS): a click sent before that may land where the
# window no longer is.
next_window() {
  local title=$1 previous=$2 id deadline=$((SECONDS + 60))
  while [ "$SECONDS" -lt "$deadline" ]; do
    for id in $(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null); do
      [ "$id" = "$previous" ] && continue
      for _ in $(seq 50); do
        xprop -id "$id" _NET_FRAME_EXTENTS 2>/dev/null | grep -q '=' && break
        sleep 0.1
      done
      echo "$id"
      return 0
    done
    sleep 0.1
  done
  echo "no window \"$title\" appeared; windows shown:" >&2
  xdotool search --onlyvisible --name . getwindowname %@ >&2 2>/dev/null || true
  return 1
}

shoot() {  # window, file name: the window with its frame
  sleep 0.3
  import -frame -window "$1" "$shots/$2"
}

click() {  # window, x, y in its client area
  xdotool mousemove --window "$1" "$2" "$3" click 1
}

press_key() {  # window, key
  xdotool windowactivate --sync "$1" key "$2"
}

# The answers of the dialog log $1, separated by blanks.
answers_in() { sed 's/.* answer=//' "$1" | tr '\n' ' '; }
