#!/usr/bin/env bash
# Builds the Debian package with cpack, checks its control data, unpacks it into
# a scratch root (dpkg-deb -x: nothing is installed on the system) and works
# from there. The unpacked files name /usr/lib/ferrox, so the test points the
# registry of the root at the root's folder, as an administrator moving an
# installation would.
#   package_test.sh <build> <sample name>
set -euo pipefail
source "$(dirname "$0")/installed_tree.sh"
build=$1 sample=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
umask 022

(cd "$build" && cpack -G DEB -B "$scratch/package" >"$scratch/cpack.log") ||
  { cat "$scratch/cpack.log" >&2; fail "cpack"; }
deb=$(ls "$scratch"/package/ferrox_*.deb)
control=$(dpkg-deb -f "$deb")
fields=("Package: ferrox" "Depends: .*libc6.*" "Depends: .*libfltk1.3")
# The shared C++ runtime is a dependency of builds that link it (the
# sanitizer builds); the others carry the runtime in each binary.
if readelf -d "$build/bin/imagehost" | grep -q 'libstdc++'; then
  fields+=("Depends: .*libstdc\+\+6")
fi
for field in "${fields[@]}"; do
  grep -qE "^$field" <<<"$control" || fail "the package's control has no $field"
done
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/ferrox/registry.reg ||
  fail "the registry is not a conffile"

root=$scratch/root
dpkg-deb -x "$deb" "$root"
grep -qF '"System Directory"="/usr/lib/ferrox/"' "$root/etc/ferrox/registry.reg" ||
  fail "the package's registry does not name /usr/lib/ferrox"
grep -qx 'suite /usr/lib/ferrox' "$root/etc/sane.d/ferrox.conf" || fail "ferrox.conf does not name /usr/lib/ferrox"
check_layout "$root/usr" "$root/etc"

# The backend finds the suite beside its own folder without a ferrox.conf, and
# the platform layer the root's registry.
real_root=$(realpath "$root")
sed -i "s|/usr/lib/ferrox|$real_root/usr/lib/ferrox|g" "$root/etc/ferrox/registry.reg"
rm "$root/etc/sane.d/ferrox.conf"
use_installed_tree "$root/usr" "$root/etc/sane.d" "$sample"
