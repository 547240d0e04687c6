# What the install tests check in an installed tree (sourced).
#   check_layout <prefix> <configuration folder>
#   use_installed_tree <prefix> <SANE configuration folder> <sample> [preload]
# use_installed_tree runs every program from a folder of its own, with no
# registry named: the installed programs find the installation's registry.

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

arch_dir() {  # lib/<multiarch> of the prefix, the folder holding sane/
  local found
  found=$(cd "$1" && ls -d lib/*/sane 2>/dev/null | head -n 1)
  [[ -n $found ]] || found=lib/sane
  echo "${found%/sane}"
}

check_layout() {
  local prefix=$1 etc=$2 arch
  arch=$(arch_dir "$prefix")
  local file
  for file in lib/ferrox/FERROX.DLL lib/ferrox/libwinport.so lib/ferrox/virtscan.dll \
      lib/ferrox/rdgem.DIL lib/ferrox/wrbmp.DEL lib/ferrox/mendle.dll lib/ferrox/quorel.dll \
      lib/ferrox/libferrox.so.0 lib/ferrox/libferrox.so "$arch/sane/libsane-ferrox.so.1" \
      "$arch/pkgconfig/ferrox.pc" include/ferrox/ferrox.h share/man/man5/sane-ferrox.5 \
      share/man/man1/imagehost.1 share/man/man1/scanapp.1 share/man/man1/Calibration.1 \
      share/man/man1/rundll.1 share/doc/ferrox/README.md; do
    [[ -e $prefix/$file ]] || fail "$file is not installed"
  done
  [[ -n $(ls "$prefix/share/ferrox/samples/"*.img) ]] || fail "no samples installed"
  for file in imagehost scanapp Calibration rundll; do
    [[ -x $prefix/bin/$file && -e $prefix/lib/ferrox/$file ]] || fail "bin/$file does not run lib/ferrox/$file"
  done
  for file in "$etc/ferrox/registry.reg" "$etc/sane.d/dll.d/ferrox" "$etc/sane.d/ferrox.conf"; do
    [[ -f $file ]] || fail "$file is not written"
    [[ $(stat -c %a "$file") == 644 ]] || fail "$file is not mode 644"
  done
  grep -qx ferrox "$etc/sane.d/dll.d/ferrox" || fail "dll.d/ferrox does not name the backend"
}

use_installed_tree() {
  local prefix=$1 sane_config=$2 sample=$3 preload=${4:-} arch
  arch=$(arch_dir "$prefix")
  local work
  work=$(mktemp -d)
  pushd "$work" >/dev/null
  unset WINPORT_REGISTRY WINPORT_PATH LD_LIBRARY_PATH SANE_CONFIG_DIR

  "$prefix/bin/imagehost" convert "$prefix/share/ferrox/samples/$sample" converted.bmp --quiet ||
    fail "imagehost convert"
  [[ -s converted.bmp ]] || fail "imagehost wrote nothing"
  "$prefix/bin/scanapp" scan -o page.tif --mode gray --resolution 50 --quiet || fail "scanapp scan"
  "$prefix/bin/imagehost" info page.tif | grep -q 'width=425' || fail "scanapp's page is not a whole bed at 50 dpi"

  local -a sane_env=(env "SANE_CONFIG_DIR=$sane_config" "LD_LIBRARY_PATH=$prefix/$arch/sane")
  [[ -z $preload ]] || sane_env+=("LD_PRELOAD=$preload" "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1")
  "${sane_env[@]}" scanimage -L | grep -q "ferrox:" || fail "scanimage -L does not list the backend"
  "${sane_env[@]}" scanimage -d ferrox --mode Gray --resolution 50 -x 25.4 -y 25.4 --format=pnm \
    >strip.pnm || fail "scanimage"
  [[ $(head -c 2 strip.pnm) == P5 && $(stat -c %s strip.pnm) -gt 2500 ]] || fail "scanimage's page"

  # A C application from outside the tree, as its README says to build one.
  local pc_dir=$prefix/$arch/pkgconfig
  # shellcheck disable=SC2046
  ${CC:-cc} ${APP_CFLAGS:-} -std=c11 -Wall -Wextra -Werror -o scan_strip "$TEST_DIR/scan_strip.c" \
    $(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags --libs ferrox) ${APP_LIBS:-} ||
    fail "the C application does not build"
  # shellcheck disable=SC2046
  ${CXX:-c++} -x c++ -std=c++20 -Wall -Wextra -Werror -fsyntax-only "$TEST_DIR/scan_strip.c" \
    $(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags ferrox) || fail "the header is not C++"
  local facts
  facts=$(./scan_strip strip.pgm) || fail "the C application's scan"
  [[ $facts == "product=Virtual Flatbed Scanner lines=50 width=100"* ]] || fail "the C application said: $facts"
  popd >/dev/null
  rm -rf "$work"
}
