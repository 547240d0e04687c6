#!/usr/bin/env bash
# Installs the Debian packages the build, the demo and the tests need, only those missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev   # toolchains; the sanitizer and fuzzer runtimes
  libgtest-dev libbenchmark-dev zlib1g-dev         # test and benchmark frameworks, inflate
  netpbm imagemagick libtiff-tools                 # independent reference tools used by the tests
  libjpeg-turbo-progs                              # cjpeg and djpeg, the JPEG references
  libtiff-dev                                      # libtiff in process, side by side in the benchmarks
  binutils time                                    # nm for the export checks, peak memory of a run
  libfltk1.3-dev                                   # the windowed dialog backend
  libsane-dev sane-utils                           # the SANE backend's headers; scanimage and
                                                   # saned, which its tests drive
  xvfb xauth openbox x11-utils xdotool             # a display with a window manager for the dialog
                                                   # tests, pressing their buttons
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
