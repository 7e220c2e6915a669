#!/usr/bin/env bash
# Checks what `cmake --install` lays down: the filters in CUPS' filter
# folder, the simulator backend in its backend folder, the PPD where
# lpinfo -m finds it, all with the modes cupsd accepts, under DESTDIR and
# under another prefix; and that cupstestppd passes the installed PPD with
# the installed filters.
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
landing() {
  local destdir=$1 pfx=$2 dir=$3
  [[ $dir == /* ]] && printf '%s%s' "$destdir" "$dir" || printf '%s%s/%s' "$destdir" "$pfx" "$dir"
}

# The file exists with exactly this mode, is not writable by group or others
# and, when we are root, belongs to root (cupsd refuses anything else).
expect_file() {
  local path=$1 mode=$2
  if [[ ! -f $path ]]; then
    bad "missing $path"
    return
  fi
  local have owner
  have=$(stat -c %a "$path")
  owner=$(stat -c %U "$path")
  [[ $have == "$mode" ]] || bad "$path has mode $have, expected $mode"
  [[ $(id -u) -ne 0 || $owner == root ]] || bad "$path belongs to $owner, not root"
}

check_tree() {
  local destdir=$1 pfx=$2
  local filters backends ppds
  filters=$(landing "$destdir" "$pfx" "$filterdir")
  backends=$(landing "$destdir" "$pfx" "$backenddir")
  ppds=$(landing "$destdir" "$pfx" "$ppddir")
  expect_file "$filters/rastertovkr" 755
  expect_file "$filters/commandtovkr" 755
  expect_file "$backends/vkrsim" 755
  expect_file "$ppds/vk4400.ppd" 644

  # The installed backend answers CUPS' discovery and refuses a URI that is
  # not its own without touching anything.
  if [[ -x $backends/vkrsim ]]; then
    local line
    line=$("$backends/vkrsim")
    [[ $line == 'direct vkrsim "VK4400 simulator" "VK4400 card printer simulator"' ]] ||
      bad "backend discovery line: $line"
    DEVICE_URI=socket://127.0.0.1:9 "$backends/vkrsim" 1 user title 1 "" </dev/null 2>"$work/backend.err"
    local status=$?
    [[ $status -eq 4 ]] || bad "backend with a foreign URI exits $status, expected 4 (stop the queue)"
    grep -q '^ERROR: ' "$work/backend.err" || bad "backend with a foreign URI says no ERROR line"
  fi
}

# 1. The configured prefix, staged under DESTDIR as a package build does.
DESTDIR=$work/staged cmake --install "$build" >"$work/install1.log" 2>&1 ||
  { cat "$work/install1.log"; bad "cmake --install into DESTDIR failed"; }
check_tree "$work/staged" "$prefix"

# cupstestppd, rooted in the staged tree, finds the installed filters and
# must report no error.
if command -v cupstestppd >/dev/null; then
  ppd=$(landing "$work/staged" "$prefix" "$ppddir")/vk4400.ppd
  if [[ $filterdir == /* || $prefix == /usr ]]; then
    out=$(cupstestppd -R "$work/staged" "$ppd" 2>&1)
    status=$?
    printf '%s\n' "$out"
    [[ $status -eq 0 && $out == *": PASS"* ]] || bad "cupstestppd does not pass the installed PPD"
  fi
else
  bad "cupstestppd is not installed (package cups-client)"
fi

# 2. Another prefix, given at install time: folders relative to the prefix
# move with it.
DESTDIR=$work/other cmake --install "$build" --prefix /opt/vkr >"$work/install2.log" 2>&1 ||
  { cat "$work/install2.log"; bad "cmake --install --prefix /opt/vkr failed"; }
check_tree "$work/other" /opt/vkr

if ((failures)); then
  printf 'check_install: %d problem(s)\n' "$failures"
  exit 1
fi
printf 'check_install: the installed layout is where CUPS looks\n'
