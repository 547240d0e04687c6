# Shared by the tests that run Windows programs with windows under Wine:
# sourced after "set -euo pipefail" by a script that wine-display-run.sh runs
# on a virtual display (WINEPREFIX, WINE_RUN and DISPLAY set). Gives the
# helpers that run programs, fill the registry, answer dialogs through
# dlgclick.exe and take screenshots of them. Every wait has a timeout.
#   script.sh BIN_DIR TESTS_DIR SCREENSHOT_DIR

bin=$(cd "$1" && pwd)
tests=$(cd "$2" && pwd)
mkdir -p "$3"
shots=$(cd "$3" && pwd)
work=$(mktemp -d)
trap '[ -n "${KEEP_WORK:-}" ] || rm -rf "$work"' EXIT
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND"' ERR
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

wine_run() { "$WINE_RUN" "$WINEPREFIX" "$@"; }

# The Windows form of a Unix path (Wine's drive Z: is the Unix root).
winpath() { printf 'Z:%s' "${1//\//\\}"; }
# The same with each backslash doubled, for a .reg file.
regpath() { local path; path=$(winpath "$1"); printf '%s' "${path//\\/\\\\}"; }

# Imports the registry text $1 (REGEDIT4 lines without the header).
import_registry() {
  printf 'REGEDIT4\n\n%s\n' "$1" >"$work/import.reg"
  wine_run regedit /S "$(winpath "$work/import.reg")"
}

# Wine draws the windows' frames and captions itself, as Windows does.
import_registry '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"Decorated"="N"'

# dlgclick find|press|close ...; its output (the dialog's texts) in $work/dialog.
dialog() {
  local status=0
  wine_run "$tests/dlgclick.exe" "$@" >"$work/dialog.raw" || status=$?
  tr -d '\r' <"$work/dialog.raw" >"$work/dialog"
  return "$status"
}

# The dialog titled $1 saved as $2 in the screenshot folder (once drawn).
shoot() {
  local x y w h
  dialog find "$1" || return 1
  sleep 0.5
  read -r _ x y w h < <(grep '^rect:' "$work/dialog")
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$shots/$2"
}

# The texts of the last dialog found or pressed, as "text: ..." lines.
dialog_texts() { grep -E '^(text|button|title): ' "$work/dialog" || true; }

# Waits up to 30 s for process $1 to end; sets exit_status to its status, or
# "running" (it is then killed).
exit_status=
wait_exit() {
  exit_status=0
  for _ in $(seq 300); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$1" 2>/dev/null; then
    kill "$1"
    wait "$1" || true
    exit_status=running
    return 0
  fi
  wait "$1" || exit_status=$?
}

finish_checks() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
  fi
  echo "all runs passed; screenshots in $shots"
}
