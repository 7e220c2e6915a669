#!/usr/bin/env bash
# The main job, without its pauses: prints the sample card the way
# scripts/main-job.sh does (scripts/print-sample-card.sh) and checks that
# its preview shows the sample picture upright, as a person holds the card.
#
#   main_job_view.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
work=$(mktemp -d /tmp/vkr-main-job.XXXXXX) || exit 1
trap 'rm -rf "$work"' EXIT

if ! bash "$src/scripts/print-sample-card.sh" "$build" "$work/job" >"$work/run.log" 2>&1; then
  cat "$work/run.log"
  echo "main-job-view: FAIL: the main job failed"
  exit 1
fi
# The simulator's own preview and the one the main job draws are one picture.
cmp -s "$work/job/card-preview.png" "$work/job/panels/card001_front_preview.png" ||
  { echo "main-job-view: FAIL: cardpreview and the simulator draw different previews"; exit 1; }
python3 "$src/tests/cups/card_view.py" "$work/job/card-preview.png" "$src/sim/samples/member-card.ppm"
