#!/usr/bin/env bash
# Prints through a real, private cupsd: our PPD, rastertovkr, commandtovkr
# and the vkrsim backend, laid out by `cmake --install` into a staging folder
# the way a system install would lay them, behind CUPS' own filters
# (imagetoraster, pdftopdf, pdftoraster/gstoraster).
#
#   cupsd_e2e.sh BUILD_DIR SOURCE_DIR
#
# Exit 0 passed, 1 failed, 77 skipped (cupsd cannot start on this machine;
# under CI=true that is a failure instead).
set -uo pipefail

build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
here=$src/tests/cups
queues=(vk4400 vk4400-b vk4400-c vk4400-d)
job_timeout=${VKR_E2E_JOB_TIMEOUT:-90}

# The checks import each other; they leave no byte-code in the source tree.
export PYTHONDONTWRITEBYTECODE=1

say() { printf 'cupsd-e2e: %s\n' "$*"; }

root=""
keep_root=""
source "$src/tests/support/private_cupsd.sh"

dump_logs() {
  [[ -n $root && -f $root/log/error_log ]] || return 0
  say "last lines of the cupsd error_log ($root/log/error_log):"
  tail -n 60 "$root/log/error_log" | sed 's/^/  | /'
}

fail() {
  say "FAIL: $*"
  dump_logs
  keep_root=yes
  exit 1
}

skip() {
  if [[ ${CI:-} == true ]]; then
    say "FAIL: cupsd cannot run here, and CI must run this test: $*"
    dump_logs
    exit 1
  fi
  say "SKIP: $*"
  exit 77
}

# Stop our cupsd (by its process id) and remove its folders, whatever happened.
cleanup() {
  stop_private_cupsd
  if [[ -n $root && -d $root ]]; then
    if [[ -n $keep_root || -n ${VKR_E2E_KEEP:-} ]]; then
      say "left for inspection: $root"
    else
      rm -rf "$root"
    fi
  fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

for tool in cupsd lpadmin lp lpstat lpinfo cupsenable; do
  command -v "$tool" >/dev/null || PATH=$PATH:/usr/sbin
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
command -v python3 >/dev/null || skip "python3 is not installed"
sys_serverbin=$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)
sys_datadir=$(cups-config --datadir 2>/dev/null || echo /usr/share/cups)
[[ -x $sys_serverbin/daemon/cups-driverd ]] || skip "no cups-driverd in $sys_serverbin/daemon (package cups)"

# cupsd runs filters and backends as its unprivileged User (lp), so every
# folder on the way must be open to it.
root=$(mktemp -d /tmp/vkr-cupsd.XXXXXX) || fail "cannot make a temporary folder"
chmod 0755 "$root"
mkdir -p "$root"/{serverbin/filter,serverbin/backend,data,out,fixtures}
chmod 0777 "$root/out"

# --- the driver, installed as a package would install it -----------------
say "installing the driver into $root/stage"
DESTDIR=$root/stage cmake --install "$build" --prefix /usr >"$root/install.log" 2>&1 ||
  { cat "$root/install.log"; fail "cmake --install into the staging folder failed"; }
find_installed() {
  find "$root/stage" -path "*/$1" \( -type f -o -type l \) | head -n 1
}
our_filter=$(find_installed "cups/filter/rastertovkr")
our_command_filter=$(find_installed "cups/filter/commandtovkr")
our_backend=$(find_installed "cups/backend/vkrsim")
our_ppd=$(find_installed "model/vkr/vk4400.ppd")
[[ -n $our_filter ]] || fail "the install put no rastertovkr in a CUPS filter folder"
[[ -n $our_backend ]] || fail "the install put no vkrsim in a CUPS backend folder"
[[ -n $our_ppd ]] || fail "the install put no vk4400.ppd in a CUPS model folder"

# --- a private ServerBin and DataDir: the system's, plus ours -------------
for entry in "$sys_serverbin"/*; do
  name=$(basename "$entry")
  [[ $name == filter || $name == backend ]] || ln -s "$entry" "$root/serverbin/$name"
done
for f in "$sys_serverbin"/filter/*; do ln -s "$f" "$root/serverbin/filter/"; done
ln -sf "$our_filter" "$root/serverbin/filter/rastertovkr"
[[ -n $our_command_filter ]] && ln -sf "$our_command_filter" "$root/serverbin/filter/commandtovkr"
# Only our backend: lpinfo -v then asks no network backend to search.
ln -s "$our_backend" "$root/serverbin/backend/vkrsim"
for entry in "$sys_datadir"/*; do
  [[ $(basename "$entry") == model ]] || ln -s "$entry" "$root/data/"
done
ln -s "$(dirname "$(dirname "$our_ppd")")" "$root/data/model"

start_private_cupsd "$root" "$root/serverbin" "$root/data" "FileDevice No"

# --- the queues, the way an administrator makes them ----------------------
# cupsd runs the jobs of different printers side by side, so the jobs are
# spread over a few queues on the same simulated printer folder: the filter's
# real pauses (about ten seconds a card) then overlap.
model=$(lpinfo -m 2>"$root/lpinfo.err" | awk '/VK4400/ {print $1; exit}')
[[ -n $model ]] || { cat "$root/lpinfo.err"; fail "lpinfo -m does not list the VK4400 PPD"; }
lpinfo -v 2>&1 | grep -q '^direct vkrsim$' || fail "lpinfo -v does not list the vkrsim backend"
uri="vkrsim:$root/out"
for queue in "${queues[@]}"; do
  lpadmin -p "$queue" -E -v "$uri" -m "$model" -o printer-error-policy=abort-job 2>>"$root/lpadmin.log" ||
    { cat "$root/lpadmin.log"; fail "lpadmin could not make the queue $queue"; }
done
say "queues ${queues[*]}: $model on $uri"

# --- printing --------------------------------------------------------------
python3 "$here/make_fixtures.py" "$root/fixtures" || fail "cannot make the test documents"
fx=$root/fixtures

# Send one document to a queue; sets job_id.
submit() {
  local queue=$1 what=$2
  shift 2
  local out
  out=$(lp -d "$queue" -t "$what" "$@" 2>&1) || fail "lp refused '$what': $out"
  job_id=$(sed -n 's/^request id is [^ ]*-\([0-9]*\) .*/\1/p' <<<"$out")
  [[ -n $job_id ]] || fail "no job id in: $out"
  job_what[$job_id]=$what
}

# Wait until cupsd finishes a job; it must have completed.
wait_for() {
  local id=$1 state=""
  local deadline=$((SECONDS + job_timeout))
  while ((SECONDS < deadline)); do
    state=$(python3 "$here/ipp_job.py" "$port" "$id" 2>/dev/null)
    [[ $state =~ job-state=(7|8|9)( |$) ]] && break
    sleep 1
  done
  [[ $state =~ job-state=9( |$) ]] || fail "job $id ('${job_what[$id]}') did not complete: $state"
  say "job $id ('${job_what[$id]}') completed"
}

check() {
  local id=$1
  shift
  wait_for "$id"
  python3 "$here/check_cards.py" "$root/out" --job "$id" "$@" ||
    fail "the cards of job $id ('${job_what[$id]}') are not what was printed"
}

declare -A job_what
# A landscape design previews upright as PDF, PNG and JPEG; the overlay
# leaves the stripe band along the top edge and the chip window at the upper
# left uncoated (the band: design rows 66 to 213; the chip: columns 106 to
# 260, rows 212 to 353).
submit "${queues[0]}" "landscape PNG, stripe left bare, black text panel" -o CardFOverlay=MS \
  -o CardBlackExtraction=BlackDots "$fx/design.png"
png_job=$job_id
submit "${queues[0]}" "landscape PDF, black ribbon" -o CardRibbon=K -o CardFOverlay=MS "$fx/design.pdf"
black_job=$job_id
submit "${queues[1]}" "landscape JPEG, chip left bare" -o CardFOverlay=ISO "$fx/design.jpg"
jpeg_job=$job_id
printf '#CUPS-COMMAND\nPrintSelfTestPage\n' >"$fx/selftest.command"
submit "${queues[1]}" "self-test card" -o document-format=application/vnd.cups-command "$fx/selftest.command"
selftest_job=$job_id
submit "${queues[2]}" "landscape PDF" "$fx/design.pdf"
pdf_job=$job_id
submit "${queues[2]}" "landscape PDF, PPD defaults spelled out" \
  -o CardRibbon=Auto -o CardBrightness=45 -o CardContrast=41 -o CardRed=47 -o CardGreen=47 \
  -o CardBlue=47 -o CardSharpening=5 -o CardGamma=93 -o CardBlackExtraction=NotUse \
  -o CardBlackCheck=NoCheck -o ColorStyle=Normal -o CardSaturate=1 -o CardFOverlay=Full \
  -o CardBOverlay=Full "$fx/design.pdf"
defaults_job=$job_id
# The back previews as a person sees it after turning the card over its long
# edge: the document's second page, upright.
submit "${queues[3]}" "two-page PDF, two-sided" -o sides=two-sided-long-edge "$fx/two-sided.pdf"
duplex_job=$job_id

check "$png_job" --panels colour,black,overlay --bare 0:66:1013:214 --front-design "$fx/design.png"
check "$jpeg_job" --panels colour,overlay --bare 106:212:261:354 --front-design "$fx/design.png"
check "$pdf_job" --panels colour,overlay --front-design "$fx/design.png"
check "$defaults_job" --panels colour,overlay --same-as "$pdf_job"
check "$duplex_job" --sides 2 --panels colour,overlay --front-design "$fx/design.png" \
  --back-design "$fx/back.png"
check "$black_job" --panels colour --black-ribbon
check "$selftest_job" --self-test

# What the user saw: cupsd turns INFO: lines into the job's state message.
for message in "Waiting for the printer to finish the card" "The printer has finished the card" \
  "Simulated card printer printed 1 card"; do
  grep -q "job-printer-state-message to \"$message" "$root/log/error_log" ||
    fail "the INFO: line \"$message\" never reached the job's state message"
done
say "passed"
