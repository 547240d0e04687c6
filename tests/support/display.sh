# Shared by the tests that run programs in real windows: sourced after
# "set -euo pipefail" with the script's own arguments, BIN_DIR SCREENSHOT_DIR.
# Re-runs the script on a virtual X display (xvfb-run) with a window manager,
# and gives the helpers that find windows, press their buttons and take
# screenshots. Exits 77 (skipped) when a tool is missing.

bin=$(cd "$1" && pwd)
mkdir -p "$2"
shots=$(cd "$2" && pwd)

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
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A visible window titled $1 other than window $2 (0: any), waited for.
next_window() {
  local title=$1 previous=$2 id
  for _ in $(seq 150); do
    for id in $(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null); do
      [ "$id" != "$previous" ] && { echo "$id"; return 0; }
    done
    sleep 0.1
  done
  echo "no window \"$title\" appeared" >&2
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

# Waits up to 20 s for process $1 to end; sets exit_status to its exit
# status, or "running" (it is then killed).
exit_status=
wait_exit() {
  exit_status=0
  for _ in $(seq 200); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$1" 2>/dev/null; then
    kill "$1"
    wait "$1" || true
    exit_status=running
    return 0
  fi
  wait "$1" || exit_status=$?
}

# The answers of the dialog log $1, separated by blanks.
answers_in() { sed 's/.* answer=//' "$1" | tr '\n' ' '; }

finish_checks() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
  fi
  echo "all runs passed; screenshots in $shots"
}
