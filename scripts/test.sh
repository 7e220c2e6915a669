#!/usr/bin/env bash
# Sets up what is missing, builds, and runs the whole test suite.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh"
cd "$here/build"
ctest --output-on-failure -j"$(nproc)" --timeout 600
