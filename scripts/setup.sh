#!/usr/bin/env bash
# Installs whatever Debian packages are missing and builds the project into
# build/ (or $VKR_BUILD_DIR). Safe to run again: it only does what is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${VKR_BUILD_DIR:-$here/build}

missing=()
while read -r pkg; do
  [[ -z "$pkg" || "$pkg" == \#* ]] && continue
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done < "$here/scripts/packages.txt"
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${VKR_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j"$(nproc)"
