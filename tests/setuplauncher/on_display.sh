#!/usr/bin/env bash
# The setup launcher in real windows: rundll mendle.dll,fnRun with the
# windowed dialog backend on a virtual X display; its boxes are answered with
# the keyboard through xdotool, the medium appears between two prompts, and
# screenshots are saved.
#
#   on_display.sh BIN_DIR SCREENSHOT_DIR
set -euo pipefail

source "$(dirname "$0")/../support/display.sh"

printf '#!/bin/sh\necho started >> "%s"\n' "$work/started" >"$work/setup"
chmod 700 "$work/setup"

# The Inf_Info key of "ScanSuite" with the values given as "name"="value" lines.
write_registry() {
  printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\ScanSuite\\Inf_Info]\n%s\n' "$1" \
    >"$work/registry.reg"
}

start() {  # command line
  rm -f "$work/log" "$work/started"
  WINPORT_DIALOG_BACKEND=fltk WINPORT_DIALOG_LOG="$work/log" \
    WINPORT_REGISTRY="$work/registry.reg" \
    "$bin/rundll" mendle.dll,fnRun "$1" >"$work/out" 2>&1 </dev/null &
  launcher=$!
}

finish() {  # wanted answers, wanted number of setup starts
  local answers starts
  wait_exit "$launcher"
  [ "$exit_status" = 0 ] || fail "exit status $exit_status: $(cat "$work/out")"
  answers=$(answers_in "$work/log")
  [ "$answers" = "$1" ] || fail "answers \"$answers\", wanted \"$1\""
  starts=$( (cat "$work/started" 2>/dev/null || true) | wc -l)
  [ "$starts" = "$2" ] || fail "the setup started $starts times, wanted $2"
}

# 1. A command line without a comma.
write_registry ""
start ScanSuite
box=$(next_window "Error" 0)
shoot "$box" messagebox-parameters.png
press_key "$box" Return
finish "OK " 0

# 2. The medium is absent at the first prompt and present at the second: the
#    setup then starts once. Caption and text are the launcher's own.
write_registry "\"SetupProgram\"=\"$work/setup\"
\"SetupExist\"=\"$work/medium\""
start ScanSuite,ScanDriver
box=$(next_window "USB Scanner Setup" 0)
shoot "$box" messagebox-insert-cd.png
press_key "$box" Return
box=$(next_window "USB Scanner Setup" "$box")
touch "$work/medium"
press_key "$box" Return
finish "OK OK " 1

# 3. Closing the prompt's window is its Cancel: nothing is started.
rm -f "$work/medium"
start ScanSuite,ScanDriver
box=$(next_window "USB Scanner Setup" 0)
press_key "$box" Escape
finish "CANCEL " 0

finish_checks
