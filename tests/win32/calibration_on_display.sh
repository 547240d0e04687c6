#!/usr/bin/env bash
# Calibration.exe under Wine on a virtual display, against the virtual scanner
# named in the prefix's real registry, in each of its modes: its message box
# and dialogs answered by dlgclick.exe, the scanner's faults set through the
# environment, the driver operations read back from the scanner's trace.
# Saves the screenshots of the box and both dialogs.
#   calibration_on_display.sh BIN_DIR TESTS_DIR SCREENSHOT_DIR CMAKE SHORT_PATH_EXE
#   (run by wine-display-run.sh)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/display_support.sh"

# The build's registry file, with the bin folder's short form, into this prefix.
"$4" -DWINE_RUN="$WINE_RUN" -DPREFIX="$WINEPREFIX" -DSHORT_PATH="$5" -DBIN_DIR="$bin" \
  -DOUTPUT="$work/registry.reg" -P "$here/import_registry.cmake" >"$work/import.log" 2>&1 ||
  { echo "FAIL: the scanner keys were not imported: $(cat "$work/import.log")"; exit 1; }

run=0
# Starts Calibration.exe with arguments "$@"; FAULTS and MAINTENANCE_MS from the caller.
start() {
  run=$((run + 1))
  rm -f "$work/trace"
  VIRTSCAN_TRACE=$(winpath "$work/trace") VIRTSCAN_FAULTS=$FAULTS \
    VIRTSCAN_MAINTENANCE_MS=${MAINTENANCE_MS:-0} \
    wine_run "$bin/Calibration.exe" "$@" >"$work/out" 2>&1 </dev/null &
  calibration=$!
}

# Waits for Calibration.exe to exit; checks its status and the driver operations.
finish() {
  local ops
  wait_exit "$calibration"
  [ "$exit_status" = 0 ] || fail "run $run: exit status $exit_status: $(cat "$work/out")"
  ops=$( (grep -o '^op=[0-9]*' "$work/trace" 2>/dev/null || true) | cut -d= -f2 |
        grep -xE '0|1|2|3|10|12|29|43|45' | tr '\n' ' ')
  [ "$ops" = "$1" ] || fail "run $run: driver operations \"$ops\", wanted \"$1\""
}

expect_text() {  # wanted "text: ..." or "button: ..." line of the last dialog
  dialog_texts | grep -qxF "$1" || fail "run $run: no \"$1\" in: $(dialog_texts)"
}

# The place of control $1 in the last dialog's client area: "LEFT TOP WIDTH HEIGHT".
place_of() { awk -v id="$1" '$1 == "place:" && $2 == id { print $3, $4, $5, $6 }' "$work/dialog"; }

# 1. Cleaning: the scanner first fails to reinitialise (the error box, OK),
#    then is not ready once (the prompt, Continue), then cleans for five
#    seconds under the progress dialog, which closes itself.
FAULTS="29:1:-5,12:1:-5" MAINTENANCE_MS=5000 start Clean
shoot "Scanner Cleaning" wine-messagebox-error.png || fail "run $run: no error box"
dialog press "Scanner Cleaning" OK || fail "run $run: the error box was not answered"
expect_text "text: The scanner does not respond. Check that it is switched on and connected, then press OK."
shoot "Scanner Cleaning" wine-prompt-cleaning.png || fail "run $run: no prompt"
expect_text "button: Cancel"
dialog press "Scanner Cleaning" 1085 || fail "run $run: the prompt was not answered"
expect_text "text: Place the cleaning sheet on the scanner glass and close the lid, then press Continue."
shoot "Scanner Cleaning" wine-progress-cleaning.png || fail "run $run: no progress dialog"
expect_text "text: Cleaning the scanner. Please wait..."
expect_text "text: Do not open the scanner lid or switch the scanner off."
finish "0 2 29 29 10 12 10 12 45 3 1 "

# 2. Forced calibration: no Cancel, and Continue centred 6 pixels above the
#    bottom of the client area. Closing the window is refused.
FAULTS="12:1:-5" start "Force Calibration"
shoot "Scanner Calibration" wine-prompt-forced-calibration.png || fail "run $run: no prompt"
read -r _ client_width client_height < <(grep '^client:' "$work/dialog")
read -r left top width height < <(place_of 1085)
[ "$left" = $(((client_width - width) / 2)) ] && [ $((top + height)) = $((client_height - 6)) ] ||
  fail "run $run: Continue at $left,$top ${width}x$height in a ${client_width}x$client_height client area"
dialog_texts | grep -qx "button: Cancel" && fail "run $run: Cancel is shown"
status=0
dialog close "Scanner Calibration" || status=$?
[ "$status" = 3 ] || fail "run $run: closing the prompt of mode 0 gave $status, wanted 3 (still open)"
status=0
dialog press "Scanner Calibration" Cancel 2000 || status=$?
[ "$status" = 4 ] || fail "run $run: pressing Cancel gave $status, wanted 4 (no such button)"
dialog press "Scanner Calibration" Continue || fail "run $run: the prompt was not answered"
finish "0 2 29 10 12 10 12 43 3 1 "

# 3. Calibration, never ready: Cancel releases the scanner and ends the program.
FAULTS="12:*:-5" start
dialog press "Scanner Calibration" Cancel || fail "run $run: the prompt was not cancelled"
expect_text "text: Remove any document from the scanner glass and close the lid, then press Continue."
finish "0 2 29 10 12 3 1 "

# 4. Closing the prompt's window is its Cancel where Cancel is offered.
FAULTS="12:*:-5" start Clean
dialog close "Scanner Cleaning" || fail "run $run: the prompt did not close"
finish "0 2 29 10 12 3 1 "

finish_checks
