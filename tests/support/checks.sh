# The checks shared by the on-display tests (support/display.sh on Linux,
# win32/display_support.sh under Wine): sourced after "set -euo pipefail".
# Counts the failed checks, waits for a program with a timeout, and ends the
# script with the count.

# The absolute form of folder $1; made first when $2 is "make".
folder() {
  [ "${2:-}" != make ] || mkdir -p "$1"
  (cd "$1" && pwd)
}

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Waits up to exit_wait_seconds (20 unless the sourcing script says otherwise)
# for process $1 to end; sets exit_status to its status, or "running" (it is
# then killed).
exit_wait_seconds=${exit_wait_seconds:-20}
exit_status=
wait_exit() {
  exit_status=0
  for _ in $(seq $((exit_wait_seconds * 10))); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
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
