#!/usr/bin/env bash
# Sets up what is missing, builds, and prints the sample card through the
# real rastertovkr binary, as shipped (with its one-second pauses), against
# the printer simulator. Shown: the filter's log, the printer's record of
# every command and answer, and the exit status; the card's panels and a
# preview of the printed side are kept in $build/main-job/panels/.
#
# Extra arguments go to vkrrun (tests/support/vkrrun.cpp), e.g.
#   bash scripts/main-job.sh --options "CardRibbon=K" --rule '!CRS ack 00 35'
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${VKR_BUILD_DIR:-$here/build}
"$here/scripts/setup.sh"

out="$build/main-job"
rm -rf "$out"
mkdir -p "$out/panels"
# The job: the sample member card shipped in sim/samples (drawn by our own
# vkr-rasterwrite --sample-card), turned into one page of CUPS raster with
# libcups's raster writer, as CUPS would hand it to the filter.
"$build/sim/rasterwrite/vkr-rasterwrite" --input "$here/sim/samples/member-card.ppm" \
  -o "$out/card.ras"

status=0
"$build/tests/support/vkrrun" --real-time --ppd "$here/ppd/vk4400.ppd" \
  --options "CardBrightness=50 ColorStyle=Normal CardBlackExtraction=BlackDots" \
  --stdin "$out/card.ras" --panels "$out/panels" "$@" > "$out/run.txt" || status=$?
cat "$out/run.txt"
echo "main-job: panels and preview in $out/panels:"
ls "$out/panels"
echo "main-job: rastertovkr exited with status $status"

# The card preview: what the printer would have printed on the card's front
# (the colour panel, the black panel over it, uncoated areas hatched), drawn
# from the kept panels with the cardpreview command.
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
