#!/usr/bin/env bash
# Installs the build into a scratch prefix, then works from another folder with
# the installed tree only: the layout and the files written at install time, a
# second install that keeps an edited registry, imagehost convert, scanapp scan,
# scanimage through the installed SANE backend, and a C application built with
# pkg-config that scans through ScannerCommander.
#   install_test.sh <build> <sample name> [preload]
# preload: the sanitizer runtime, for an instrumented build (scanimage is not).
set -euo pipefail
source "$(dirname "$0")/installed_tree.sh"
build=$1 sample=$2 preload=${3:-}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
umask 022
prefix=$scratch/prefix

cmake --install "$build" --prefix "$prefix" >"$scratch/install.log"
check_layout "$prefix" "$prefix/etc"
grep -qF "\"System Directory\"=\"$(realpath "$prefix")/lib/ferrox/\"" "$prefix/etc/ferrox/registry.reg" ||
  fail "the registry does not name the installed folder"

# A second install keeps the registry and SANE files an administrator edited.
echo '; edited' >>"$prefix/etc/ferrox/registry.reg"
echo '# edited' >>"$prefix/etc/sane.d/ferrox.conf"
cmake --install "$build" --prefix "$prefix" >"$scratch/install.log"
grep -q '^; edited' "$prefix/etc/ferrox/registry.reg" || fail "a second install replaced the registry"
grep -q '^# edited' "$prefix/etc/sane.d/ferrox.conf" || fail "a second install replaced ferrox.conf"

use_installed_tree "$prefix" "$prefix/etc/sane.d" "$sample" "$preload"
