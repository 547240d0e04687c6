#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds with GCC and with
# Clang (ASan + UBSan), and runs every test in both builds; then builds the
# 32-bit Windows DLLs and runs their tests under Wine.
set -euo pipefail
# The platform layer refuses libraries and registry files that other users could
# change: whatever umask the caller has, what we build and write is not group-writable.
umask 022
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
"$root/scripts/build.sh" release
"$root/scripts/build.sh" asan
jobs=$(nproc)
echo "== tests (GCC build)"
ctest --test-dir "$root/build" --output-on-failure -j "$jobs"
echo "== tests (Clang ASan + UBSan build)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions=$root/tests/lsan-suppressions.txt \
  ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs"
echo "== tests (32-bit Windows build, under Wine)"
"$root/scripts/build.sh" win32
ctest --test-dir "$root/build-win32" --output-on-failure -j "$jobs"
