#!/usr/bin/env bash
# Calibration in real windows: runs build/bin/Calibration with the windowed
# dialog backend on a virtual X display (Xvfb, with a window manager), presses
# the buttons of its message box and both dialogs with xdotool as a user
# would, checks the driver trace and the dialog log, and saves screenshots.
#
#   on_display.sh BIN_DIR SCREENSHOT_DIR
set -euo pipefail

source "$(dirname "$0")/../support/display.sh"

# A registry of the test's own: other tests running beside this one use the
# build's registry file too.
cp "$bin/registry.reg" "$work/registry.reg"

run=0
# Starts Calibration with arguments "$@"; FAULTS and MAINTENANCE_MS from the caller.
start() {
  run=$((run + 1))
  rm -f "$work/trace" "$work/log"
  WINPORT_DIALOG_BACKEND=fltk WINPORT_DIALOG_LOG="$work/log" \
    WINPORT_REGISTRY="$work/registry.reg" WINPORT_SHM_NAMESPACE="on-display-$$-$run" \
    VIRTSCAN_TRACE="$work/trace" VIRTSCAN_FAULTS="$FAULTS" \
    VIRTSCAN_MAINTENANCE_MS="${MAINTENANCE_MS:-0}" TMPDIR="$work" \
    "$bin/Calibration" "$@" >"$work/out" 2>&1 </dev/null &
  calibration=$!
}

# Waits for Calibration to exit; checks its status, driver operations and log answers.
finish() {
  local want_ops=$1 want_answers=$2 ops answers
  wait_exit "$calibration"
  [ "$exit_status" = 0 ] || fail "run $run: exit status $exit_status: $(cat "$work/out")"
  ops=$(grep -o '^op=[0-9]*' "$work/trace" | cut -d= -f2 | grep -xE '0|1|2|3|10|12|29|43|45' |
        tr '\n' ' ')
  [ "$ops" = "$want_ops" ] || fail "run $run: driver operations \"$ops\", wanted \"$want_ops\""
  answers=$(answers_in "$work/log")
  [ "$answers" = "$want_answers" ] || fail "run $run: answers \"$answers\", wanted \"$want_answers\""
}

# Positions in the templates' client areas: Continue at (80, 90) and Cancel at
# (190, 90), 90 x 26, in a 360 x 122 prompt.
continue_x=125 cancel_x=235 buttons_y=103

# 1. Cleaning: the scanner first fails to reinitialise (message box, OK by
#    the keyboard), then is not ready once (prompt, Continue), then cleans for
#    three seconds under the progress dialog.
FAULTS="29:1:-5,12:1:-5" MAINTENANCE_MS=3000 start Clean
box=$(next_window "Scanner Cleaning" 0) || fail "run 1: $(cat "$work/out" "$work/trace" 2>&1 | tail -20)"
shoot "$box" messagebox-error.png
press_key "$box" Return
prompt=$(next_window "Scanner Cleaning" "$box")
shoot "$prompt" prompt-cleaning.png
click "$prompt" "$continue_x" "$buttons_y"
progress=$(next_window "Scanner Cleaning" "$prompt")
shoot "$progress" progress-cleaning.png
finish "0 2 29 29 10 12 10 12 45 3 1 " "OK 1085 self "

# 2. Forced calibration: no Cancel, and Continue centred 6 pixels above the
#    bottom. Closing the window (Escape) is refused; only the centred button
#    is there to press.
FAULTS="12:1:-5" start "Force Calibration"
prompt=$(next_window "Scanner Calibration" 0)
shoot "$prompt" prompt-forced-calibration.png
press_key "$prompt" Escape
click "$prompt" "$cancel_x" "$buttons_y"  # where Cancel would be: nothing there
sleep 0.5
kill -0 "$calibration" 2>/dev/null || fail "run $run: the prompt of mode 0 could be left"
click "$prompt" 180 103  # Continue: (360 - 90) / 2 + 45, 122 - 6 - 26 + 13
finish "0 2 29 10 12 10 12 43 3 1 " "1085 self "

# 3. Calibration, never ready: Cancel releases the scanner and ends the program.
FAULTS="12:*:-5" start
prompt=$(next_window "Scanner Calibration" 0)
click "$prompt" "$cancel_x" "$buttons_y"
finish "0 2 29 10 12 3 1 " "CANCEL "

# 4. Closing the prompt's window is its Cancel where Cancel is offered.
FAULTS="12:*:-5" start Clean
prompt=$(next_window "Scanner Cleaning" 0)
press_key "$prompt" Escape
finish "0 2 29 10 12 3 1 " "CANCEL "

finish_checks
