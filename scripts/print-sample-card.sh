#!/usr/bin/env bash
# Prints the sample member card through the real rastertovkr binary against
# the printer simulator and draws the preview of the printed front: the main
# job without the setup (scripts/main-job.sh), also run by the tests.
#
#   print-sample-card.sh BUILD_DIR OUT_DIR [vkrrun arguments...]
#
# Leaves in OUT_DIR: card.ras (the job), run.txt (the filter's log and the
# printer's record), panels/ (the card's panels and the simulator's
# previews) and card-preview.png. Exits with the filter's status, or 1 when
# no preview could be drawn.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$1
out=$2
shift 2

rm -rf "$out"
mkdir -p "$out/panels"
# The job: the sample member card shipped in sim/samples (drawn by our own
# vkr-rasterwrite --sample-card), a landscape picture, laid onto the portrait
# card page a quarter turn counter-clockwise as CUPS lays it out for our PPD
# (LandscapeOrientation Plus90), and written as one page of CUPS raster with
# libcups's raster writer, as CUPS would hand it to the filter.
"$build/sim/rasterwrite/vkr-rasterwrite" --input "$here/sim/samples/member-card.ppm" \
  -o "$out/card.ras"

status=0
"$build/tests/support/vkrrun" --ppd "$here/ppd/vk4400.ppd" \
  --options "CardBrightness=50 ColorStyle=Normal CardBlackExtraction=BlackDots" \
  --stdin "$out/card.ras" --panels "$out/panels" "$@" > "$out/run.txt" || status=$?
cat "$out/run.txt"
echo "main-job: panels and preview in $out/panels:"
ls "$out/panels"
echo "main-job: rastertovkr exited with status $status"

# The card preview: the card's front as a person holds it (the colour panel,
# the black panel over it, uncoated areas hatched, all turned back from the
# half turn at which the printer receives them), drawn from the kept panels
# with the cardpreview command.
front=$out/panels/card001_front
if [[ -f ${front}_color.jpg ]]; then
  preview=(--colour "${front}_color.jpg")
  [[ -f ${front}_black.jpg ]] && preview+=(--black "${front}_black.jpg")
  [[ -f ${front}_overlay.jpg ]] && preview+=(--overlay "${front}_overlay.jpg")
  if "$build/sim/preview/cardpreview" "${preview[@]}" "$out/card-preview.png" >/dev/null; then
    echo "main-job: card preview, open it to see the printed card: $out/card-preview.png"
  else
    status=1
  fi
else
  echo "main-job: no card reached the printer, so there is no card preview"
  [[ $status -ne 0 ]] || status=1
fi
exit "$status"
