#!/usr/bin/env bash
# Configures and builds one configuration.
#   scripts/build.sh            GCC, into build/ (the deliverables in build/bin)
#   scripts/build.sh asan       Clang with ASan + UBSan, into build-asan/
#   scripts/build.sh win32      32-bit Windows DLLs and programs (mingw-w64), into build-win32/
set -euo pipefail
# The platform layer refuses libraries and registry files that other users could
# change: whatever umask the caller has, what we build and write is not group-writable.
umask 022
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-release}
case "$kind" in
  release) dir=$root/build; args=(-DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++) ;;
  asan) dir=$root/build-asan
        args=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DSUITE_SANITIZE=ON
              -DSUITE_FUZZ=ON -DSUITE_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=Debug) ;;
  win32) dir=$root/build-win32
         args=(-DCMAKE_TOOLCHAIN_FILE=$root/cmake/toolchain-mingw32.cmake -DSUITE_BENCHMARKS=OFF) ;;
  *) echo "usage: $0 [release|asan|win32]" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$dir" -G Ninja "${args[@]}" >/dev/null
cmake --build "$dir"
