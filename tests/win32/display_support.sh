# Shared by the tests that run Windows programs with windows under Wine:
# sourced after "set -euo pipefail" by a script that wine-display-run.sh runs
# on a virtual display (WINEPREFIX, WINE_RUN and DISPLAY set). Gives the
# helpers that run programs, fill the registry, answer dialogs through
# dlgclick.exe and take screenshots of them, with the checks of
# ../support/checks.sh. Every wait has a timeout.
#   script.sh BIN_DIR TESTS_DIR SCREENSHOT_DIR

source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"
bin=$(folder "$1")
tests=$(folder "$2")
shots=$(folder "$3" make)
work=$(mktemp -d)
trap '[ -n "${KEEP_WORK:-}" ] || rm -rf "$work"' EXIT
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND"' ERR
# Programs under Wine take longer to start and end.
exit_wait_seconds=30

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
