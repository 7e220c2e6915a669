#!/usr/bin/env bash
# Builds the Debian packages rastertovkr and vkr-printer-app into build/ (or
# $VKR_BUILD_DIR): installs what is missing and builds, as scripts/setup.sh
# does, then packs with CPack's DEB generator (cmake/package.cmake says what
# each package holds).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${VKR_BUILD_DIR:-$here/build}

"$here/scripts/setup.sh"
(cd "$build" && cpack --config CPackConfig.cmake -G DEB -B "$build" >/dev/null)
rm -rf "$build/_CPack_Packages"
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
for deb in "$build"/rastertovkr_"$version"_*.deb "$build"/vkr-printer-app_"$version"_*.deb; do
  echo "package: $deb ($(stat -c %s "$deb") bytes)"
done
