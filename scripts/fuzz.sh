#!/usr/bin/env bash
# Fuzzes one reader for a while with its libFuzzer harness.
#   scripts/fuzz.sh <reader> <seconds>       e.g. scripts/fuzz.sh rdgem 300
# Builds the Clang ASan + UBSan configuration with the harnesses
# (scripts/build.sh asan, into build-asan/; set FUZZ_BUILD_DIR to use another
# configured build folder, then only the harness is built), runs the harness
# on a copy of fuzz/corpus/<reader>/ and copies every input that crashed,
# hung or leaked into fuzz/corpus/<reader>/ for review. Exits 1 when it found any.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
reader=${1:?usage: $0 <reader> <seconds>}
seconds=${2:-60}

if [[ -n "${FUZZ_BUILD_DIR:-}" ]]; then
  build=$FUZZ_BUILD_DIR
  cmake -S "$root" -B "$build" -DSUITE_FUZZ=ON >/dev/null
  cmake --build "$build" --target "${reader}_fuzz"
else
  "$root/scripts/build.sh" asan
  build=$root/build-asan
fi
harness=$build/fuzz/${reader}_fuzz
corpus=$root/fuzz/corpus/$reader
[[ -x "$harness" ]] || { echo "no harness $harness" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$work/found"
cp "$corpus"/* "$work/corpus/" 2>/dev/null || true

status=0
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  FUZZ_MODULE_DIR=$build/fuzz-modules \
  "$harness" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  -print_final_stats=1 -artifact_prefix="$work/found/" "$work/corpus" || status=$?

found=$(find "$work/found" -type f | wc -l)
if ((found > 0)); then
  cp "$work/found"/* "$corpus/"
  echo "== $found input(s) that failed copied to fuzz/corpus/$reader/:"
  ls "$work/found"
  exit 1
fi
echo "== no failures in ${seconds}s (fuzzer exit status $status)"
exit "$status"
