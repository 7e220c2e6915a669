#!/usr/bin/env bash
# The main job without its pauses (scripts/print-sample-card.sh): its preview,
# drawn by cardpreview and by the simulator alike, shows the sample card upright.
#
#   main_job_view.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
src=$(cd "$2" && pwd)
work=$(mktemp -d /tmp/vkr-main-job.XXXXXX) || exit 1
trap 'rm -rf "$work"' EXIT
bash "$src/scripts/print-sample-card.sh" "$1" "$work/job" >"$work/run.log" 2>&1 ||
  { cat "$work/run.log"; echo "main-job-view: FAIL: the main job failed"; exit 1; }
cmp -s "$work/job/card-preview.png" "$work/job/panels/card001_front_preview.png" ||
  { echo "main-job-view: FAIL: cardpreview and the simulator draw different previews"; exit 1; }
python3 "$src/tests/cups/check_cards.py" view "$work/job/card-preview.png" "$src/sim/samples/member-card.ppm"
