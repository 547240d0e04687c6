#!/usr/bin/env bash
# mendle.dll under Wine's own rundll32.exe, as the platform starts it:
#   rundll32.exe mendle.dll,fnRun "Product,Driver"
# on a virtual display, its message boxes answered by dlgclick.exe; the keys
# in the Wine prefix's real registry; the setup program a stand-in that
# notes each start. Saves the screenshots of both boxes.
#   launcher_on_display.sh BIN_DIR TESTS_DIR SCREENSHOT_DIR   (run by wine-display-run.sh)
set -euo pipefail
source "$(dirname "$0")/display_support.sh"

# The setup program: dlgclick.exe as setup.exe notes each start in setup.exe.log.
cp "$tests/dlgclick.exe" "$work/setup.exe"
touch "$work/driver.dll"

# The keys of "ScanSuite" and "ScanDriver": $1 the Inf_Info values, $2 the
# driver key's values ("name"="value" lines).
write_keys() {
  import_registry "[-HKEY_LOCAL_MACHINE\\Software\\ScanSuite]
[-HKEY_LOCAL_MACHINE\\Software\\ScanDriver]
[HKEY_LOCAL_MACHINE\\Software\\ScanSuite\\Inf_Info]
$1
[HKEY_LOCAL_MACHINE\\Software\\ScanDriver]
$2"
}
setup_info="\"SetupProgram\"=\"$(regpath "$work/setup.exe")\"
\"SetupExist\"=\"$(regpath "$work/medium")\""

# Starts rundll32.exe with the command line $1 exactly as typed after fnRun
# (from a batch file: Wine would escape the quotes of an argument).
start() {
  rm -f "$work/setup.exe.log"
  printf '@rundll32.exe %s,fnRun %s\r\n' "$(winpath "$bin/mendle.dll")" "$1" >"$work/run.bat"
  wine_run cmd /c "$(winpath "$work/run.bat")" >"$work/out" 2>&1 &
  launcher=$!
}

finish() {  # run name, wanted number of setup starts
  local starts
  wait_exit "$launcher"
  [ "$exit_status" = 0 ] || fail "$1: rundll32 ended with $exit_status: $(cat "$work/out")"
  # The setup runs detached: given up to 15 s to note its start.
  if [ "$2" != 0 ]; then
    for _ in $(seq 150); do [ -f "$work/setup.exe.log" ] && break; sleep 0.1; done
  fi
  starts=$( (cat "$work/setup.exe.log" 2>/dev/null || true) | wc -l)
  [ "$starts" = "$2" ] || fail "$1: the setup started $starts times, wanted $2: $(cat "$work/out")"
}

expect_text() {  # run name, wanted text line
  dialog_texts | grep -qxF "text: $2" || fail "$1: no text \"$2\" in: $(dialog_texts)"
}

# 1. A command line without a comma: the parameter message, nothing else.
write_keys "$setup_info" ""
start '"ScanSuite"'
shoot "Error" wine-messagebox-parameters.png
dialog press "Error" OK || fail "no comma: no box to answer"
expect_text "no comma" "Please Check the Parameters!!!"
finish "no comma" 0

# 2. The driver named by "DRIVER PATHNAME" exists: nothing is shown or started.
write_keys "$setup_info" "\"DRIVER PATHNAME\"=\"$(regpath "$work/driver.dll")\""
start '"ScanSuite,ScanDriver"'
finish "installed driver" 0

# 3. The medium is absent at the first two prompts and present at the third:
#    each OK checks again, and the setup starts once.
rm -f "$work/medium"
write_keys "$setup_info" "\"DRIVER PATHNAME\"=\"$(regpath "$work/no-driver.dll")\""
start '"ScanSuite,ScanDriver"'
shoot "USB Scanner Setup" wine-messagebox-insert-cd.png
dialog press "USB Scanner Setup" OK || fail "retries: no first prompt"
expect_text "retries" \
  "Please insert the Norvik USB Scanner Setup / Application CD-ROM into your CD-ROM drive."
dialog press "USB Scanner Setup" OK || fail "retries: no second prompt"
# The medium goes in while the third prompt is up; its OK then starts the setup.
dialog find "USB Scanner Setup" || fail "retries: no third prompt"
touch "$work/medium"
dialog press "USB Scanner Setup" OK || fail "retries: the third prompt went"
finish "retries" 1

# 4. Cancel at the prompt: nothing is started.
rm -f "$work/medium"
start 'ScanSuite,ScanDriver'
dialog press "USB Scanner Setup" Cancel || fail "cancel: no prompt"
finish "cancel" 0

finish_checks
