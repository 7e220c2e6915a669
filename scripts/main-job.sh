#!/usr/bin/env bash
# Sets up what is missing, builds, and runs one job through the real
# rastertovkr binary, as shipped (with its one-second pauses), against the
# printer simulator: the filter's log, the printer's record of every command
# and answer, and the exit status are shown.
#
# The job is empty for now: the filter runs its preflight (job status,
# firmware version, ribbon sensor, PPD, card options), opens its raster
# streams, finds no page and waits for the printer to report the job ended.
# Extra arguments go to vkrrun (tests/support/vkrrun.cpp), e.g.
#   bash scripts/main-job.sh --options "CardRibbon=K" --rule '!CRS ack 00 35'
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${VKR_BUILD_DIR:-$here/build}
"$here/scripts/setup.sh"

ppd="$here/ppd/vk4400.ppd"
[[ -f "$ppd" ]] || ppd="$here/tests/data/test.ppd"
status=0
"$build/tests/support/vkrrun" --real-time --ppd "$ppd" --options "CardBrightness=50 ColorStyle=Normal" "$@" || status=$?
echo "main-job: rastertovkr exited with status $status"
exit "$status"
