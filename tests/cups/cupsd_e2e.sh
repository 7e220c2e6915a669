#!/usr/bin/env bash
# Prints through a real, private cupsd: our PPD, rastertovkr, commandtovkr
# and the vkrsim backend, laid out by `cmake --install` as a system install
# lays them, behind CUPS' own filters (imagetoraster, pdftopdf, pdftoraster).
#   cupsd_e2e.sh BUILD_DIR SOURCE_DIR
# Exit 0 passed, 1 failed, 77 skipped (cupsd cannot start; a failure under CI=true).
set -uo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
here=$src/tests/cups
queues=(vk4400 vk4400-b vk4400-c vk4400-d)
export PYTHONDONTWRITEBYTECODE=1

say() { printf 'cupsd-e2e: %s\n' "$*"; }
source "$src/tests/support/print_e2e.sh"
e2e_begin cupsd
fail_logs=("$root/log/error_log")
need_tools cupsd lpadmin lp lpstat lpinfo ipptool python3
sys_serverbin=$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)
sys_datadir=$(cups-config --datadir 2>/dev/null || echo /usr/share/cups)
[[ -x $sys_serverbin/daemon/cups-driverd ]] || skip "no cups-driverd in $sys_serverbin/daemon (package cups)"

mkdir -p "$root"/{serverbin/filter,serverbin/backend,data,out,fixtures}
chmod 0777 "$root/out"

# The driver, installed as a package would install it, in a private
# ServerBin and DataDir: the system's, plus ours.
DESTDIR=$root/stage cmake --install "$build" --prefix /usr >"$root/install.log" 2>&1 ||
  { cat "$root/install.log"; fail "cmake --install into the staging folder failed"; }
declare -A inst
for f in cups/filter/rastertovkr cups/filter/commandtovkr cups/backend/vkrsim model/vkr/vk4400.ppd; do
  inst[$f]=$(find "$root/stage" -path "*/$f" \( -type f -o -type l \) | head -n 1)
  [[ -n ${inst[$f]} ]] || fail "the install put no $f where CUPS looks"
done
for entry in "$sys_serverbin"/*; do
  [[ $entry == */filter || $entry == */backend ]] || ln -s "$entry" "$root/serverbin/"
done
ln -s "$sys_serverbin"/filter/* "$root/serverbin/filter/"
ln -sf "${inst[cups/filter/rastertovkr]}" "${inst[cups/filter/commandtovkr]}" "$root/serverbin/filter/"
# Only our backend: lpinfo -v then asks no network backend to search.
ln -s "${inst[cups/backend/vkrsim]}" "$root/serverbin/backend/vkrsim"
for entry in "$sys_datadir"/*; do [[ $entry == */model ]] || ln -s "$entry" "$root/data/"; done
ln -s "$(dirname "$(dirname "${inst[model/vkr/vk4400.ppd]}")")" "$root/data/model"
start_private_cupsd "$root" "$root/serverbin" "$root/data" "FileDevice No"

# The queues, as an administrator makes them (the README's commands: a
# document fills the card, as a card design of the ID-1 size must, rather
# than being centred on the slightly larger card with a white line round it). cupsd runs the jobs of
# different printers side by side, so the jobs are spread over a few queues
# on one simulated printer folder: the filter's real pauses then overlap.
model=$(lpinfo -m 2>"$root/lpinfo.err" | awk '/VK4400/ {print $1; exit}')
[[ -n $model ]] || { cat "$root/lpinfo.err"; fail "lpinfo -m does not list the VK4400 PPD"; }
lpinfo -v 2>&1 | grep -q '^direct vkrsim$' || fail "lpinfo -v does not list the vkrsim backend"
for queue in "${queues[@]}"; do
  lpadmin -p "$queue" -E -v "vkrsim:$root/out" -m "$model" -o printer-error-policy=abort-job \
    -o print-scaling-default=fill 2>&1 ||
    fail "lpadmin could not make the queue $queue"
done

python3 "$here/make_fixtures.py" "$root/fixtures" || fail "cannot make the test documents"
fx=$root/fixtures
declare -A queue_of job_what
# submit NAME QUEUE WHAT LP-ARGS...: sends a document (WHAT: its description);
# sets the variable NAME to its job id.
submit() {
  lp_submit "$2" -t "$3" "${@:4}"
  printf -v "$1" %s "$job_id"
  queue_of[$job_id]=$2 job_what[$job_id]=$3
}
# Waits for a job to complete, then checks its cards (check_cards.py CARD...).
check() {
  local id=$1
  wait_job "ipp://127.0.0.1:$cupsd_port/printers/${queue_of[$id]}" "$id" "${VKR_E2E_JOB_TIMEOUT:-90}"
  [[ $job_state_line == completed,* ]] || fail "job $id ('${job_what[$id]}') ended '$job_state_line'"
  python3 "$here/check_cards.py" "$root/out/job-$id/commands.bin" "$root/out/job-$id" "${@:2}" ||
    fail "the cards of job $id ('${job_what[$id]}') are not what was printed"
}

# A landscape design previews upright as PDF, PNG and JPEG; the overlay
# leaves the stripe band along the top edge (design rows 66 to 213) or the
# chip window at the upper left (columns 106 to 260, rows 212 to 353) uncoated.
d=$fx/design.png
submit png "${queues[0]}" "PNG, stripe bare, black text" -o CardFOverlay=MS -o CardBlackExtraction=BlackDots \
  "$d"
submit black "${queues[0]}" "PDF, black ribbon" -o CardRibbon=K -o CardFOverlay=MS "$fx/design.pdf"
submit jpeg "${queues[1]}" "JPEG, chip bare" -o CardFOverlay=ISO "$fx/design.jpg"
printf '#CUPS-COMMAND\nPrintSelfTestPage\n' >"$fx/selftest.command"
submit selftest "${queues[1]}" "self-test card" -o document-format=application/vnd.cups-command \
  "$fx/selftest.command"
submit pdf "${queues[2]}" "PDF" "$fx/design.pdf"
submit defaults "${queues[2]}" "PDF, PPD defaults spelled out" -o CardRibbon=Auto -o CardBrightness=45 \
  -o CardContrast=41 -o CardRed=47 -o CardGreen=47 -o CardBlue=47 -o CardSharpening=5 -o CardGamma=93 \
  -o CardBlackExtraction=NotUse -o CardBlackCheck=NoCheck -o ColorStyle=Normal -o CardSaturate=1 \
  -o CardFOverlay=Full -o CardBOverlay=Full "$fx/design.pdf"
# The back previews as a person sees it after turning the card over its
# long edge: the document's second page, upright.
submit duplex "${queues[3]}" "two-page PDF, two-sided" -o sides=two-sided-long-edge "$fx/two-sided.pdf"
# A design made at the ID-1 size (85.6 x 54 mm) covers the card to its edges.
python3 "$src/tests/app/card_documents.py" "$fx" || fail "cannot write the ID-1 design"
submit id1 "${queues[2]}" "ID-1 PDF" "$fx/id1.pdf"

check "$png" "1:colour,black,overlay:bare=0,66,1013,214:front=$d"
check "$jpeg" "1:colour,overlay:bare=106,212,261,354:front=$d"
check "$pdf" "1:colour,overlay:front=$d"
check "$defaults" "1:colour,overlay:same=$root/out/job-$pdf/commands.bin"
check "$duplex" "2:colour,overlay:front=$d:back=$fx/back.png"
check "$black" "1:colour:black"
check "$selftest"
check "$id1" "1:colour,overlay"
python3 "$src/tests/app/card_documents.py" --edges "$root/out/job-$id1/card001_front_preview.png" ||
  fail "an ID-1 PDF through the PPD queue leaves part of the card unprinted"
grep -q '^#[0-9]* !RSP N=1 params: 01$' "$root/out/job-$selftest/printer.log" ||
  fail "the self-test job did not ask the printer for its self-test card"

# What the user saw: cupsd turns INFO: lines into the job's state message.
for message in "Waiting for the printer to finish the card" "The printer has finished the card" \
  "Simulated card printer printed 1 card"; do
  grep -q "job-printer-state-message to \"$message" "$root/log/error_log" ||
    fail "the INFO: line \"$message\" never reached the job's state message"
done
say "passed"
