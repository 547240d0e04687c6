#!/usr/bin/env bash
# Installs the Debian packages the build, the demo and the tests need, only those missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev   # toolchains; the sanitizer and fuzzer runtimes
  libgtest-dev libbenchmark-dev zlib1g-dev         # test and benchmark frameworks, inflate
  netpbm imagemagick libtiff-tools pngcheck        # independent reference tools used by the tests
  libjpeg-turbo-progs                              # cjpeg and djpeg, the JPEG references
  libtiff-dev                                      # libtiff in process, side by side in the benchmarks
  binutils time                                    # nm for the export checks, peak memory of a run
  libfltk1.3-dev                                   # the windowed dialog backend
  libsane-dev sane-utils                           # the SANE backend's headers; scanimage and
                                                   # saned, which its tests drive
  xvfb xauth openbox x11-utils xdotool             # a display with a window manager for the dialog
                                                   # tests, pressing their buttons
  g++-mingw-w64-i686-posix libz-mingw-w64-dev      # the 32-bit Windows build (posix threads)
  googletest                                       # GoogleTest sources, built for that target
)
# Wine runs the Windows suite; its 32-bit half needs Debian's i386 architecture.
wine_packages=(wine wine32:i386)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
for p in "${wine_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  if [[ " ${missing[*]} " == *" wine32:i386 "* ]] &&
     ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
