#!/usr/bin/env bash
# Checks what `cmake --install` lays down, under DESTDIR with the configured
# prefix and with another one: the filters in CUPS' filter folder, the
# simulator backend in its backend folder, the PPD where lpinfo -m finds it,
# with the modes and owner cupsd accepts; and that cupstestppd passes the
# installed PPD with the installed filters.
#
#   check_install.sh BUILD_DIR PREFIX FILTERDIR BACKENDDIR PPDDIR
# (the folders as the build configured them: relative to PREFIX, or absolute)
set -uo pipefail
build=$1 prefix=$2 filterdir=$3 backenddir=$4 ppddir=$5
failures=0
work=$(mktemp -d /tmp/vkr-install.XXXXXX)
trap 'rm -rf "$work"' EXIT

bad() {
  printf 'check_install: FAIL: %s\n' "$*"
  failures=$((failures + 1))
}

# Where a configured folder lands for an install into DESTDIR with a prefix.
landing() { [[ $3 == /* ]] && printf '%s%s' "$1" "$3" || printf '%s%s/%s' "$1" "$2" "$3"; }

# Installs into DESTDIR (with --prefix when given) and checks every file's
# mode, and (as root) that root owns it.
check_tree() {
  local destdir=$1 pfx=$2 path mode path_mode
  DESTDIR=$destdir cmake --install "$build" ${3:+--prefix "$3"} >"$work/install.log" 2>&1 ||
    { cat "$work/install.log"; bad "cmake --install into $destdir failed"; }
  for path_mode in "$filterdir/rastertovkr 755" "$filterdir/commandtovkr 755" "$backenddir/vkrsim 755" \
    "$ppddir/vk4400.ppd 644"; do
    path=$(landing "$destdir" "$pfx" "${path_mode% *}") mode=${path_mode#* }
    [[ -f $path ]] || { bad "missing $path"; continue; }
    [[ $(stat -c %a "$path") == "$mode" ]] || bad "$path has mode $(stat -c %a "$path"), expected $mode"
    [[ $(id -u) -ne 0 || $(stat -c %U "$path") == root ]] || bad "$path does not belong to root"
  done
}

check_tree "$work/staged" "$prefix"
# cupstestppd, rooted in the staged tree, finds the installed filters and
# must report no error.
if ! command -v cupstestppd >/dev/null; then
  bad "cupstestppd is not installed (package cups-client)"
elif [[ $filterdir == /* || $prefix == /usr ]]; then
  out=$(cupstestppd -R "$work/staged" "$(landing "$work/staged" "$prefix" "$ppddir")/vk4400.ppd" 2>&1)
  status=$?
  printf '%s\n' "$out"
  [[ $status -eq 0 && $out == *": PASS"* ]] || bad "cupstestppd does not pass the installed PPD"
fi
# Another prefix, given at install time: folders relative to the prefix move with it.
check_tree "$work/other" /opt/vkr /opt/vkr

((failures)) && { printf 'check_install: %d problem(s)\n' "$failures"; exit 1; }
printf 'check_install: the installed layout is where CUPS looks\n'
