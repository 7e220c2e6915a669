#!/usr/bin/env bash
# Sets up what is missing, builds, and prints the sample card through the
# real rastertovkr binary, as shipped (with its one-second pauses), against
# the printer simulator. Shown: the filter's log, the printer's record of
# every command and answer, and the exit status; the card's panels and a
# preview of the printed side are kept in $build/main-job/panels/, and the
# preview of the card's front, upright as a person holds the card, in
# $build/main-job/card-preview.png.
#
# Extra arguments go to vkrrun (tests/support/vkrrun.cpp), e.g.
#   bash scripts/main-job.sh --options "CardRibbon=K" --rule '!CRS ack 00 35'
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${VKR_BUILD_DIR:-$here/build}
"$here/scripts/setup.sh"

# The job itself (scripts/print-sample-card.sh, which the tests run without
# the pauses), here with the binary's real pauses.
exec "$here/scripts/print-sample-card.sh" "$build" "$build/main-job" --real-time "$@"
