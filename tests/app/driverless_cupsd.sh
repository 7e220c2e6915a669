#!/usr/bin/env bash
# A private cupsd with a driverless queue on the Printer Application: no PPD
# or filter of ours, only what `lpadmin -m everywhere` makes from the
# printer's IPP attributes. Prints one document and waits for the job's end.
#
#   driverless_cupsd.sh WORK_DIR PRINTER_URI DOCUMENT
#
# Exit 0 the job completed, 1 failed, 77 cupsd cannot start here (a failure
# under CI=true).
set -uo pipefail
work=$1
printer_uri=$2
document=$3
src=$(cd "$(dirname "$0")/../.." && pwd)
root=$work/cupsd

say() { printf 'driverless-cupsd: %s\n' "$*"; }
fail() {
  say "FAIL: $*"
  [[ -f $root/log/error_log ]] && tail -n 40 "$root/log/error_log" | sed 's/^/  | /'
  exit 1
}
skip() {
  [[ ${CI:-} == true ]] && fail "cupsd cannot run here, and CI must run this test: $*"
  say "SKIP: $*"
  exit 77
}
source "$src/tests/support/private_cupsd.sh"
trap stop_private_cupsd EXIT

for tool in cupsd lpadmin lp lpstat; do
  command -v "$tool" >/dev/null || PATH=$PATH:/usr/sbin
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
serverbin=$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)
datadir=$(cups-config --datadir 2>/dev/null || echo /usr/share/cups)

mkdir -p "$root" || fail "cannot make $root"
chmod 0755 "$work" "$root"
start_private_cupsd "$root" "$serverbin" "$datadir"

lpadmin -p card -E -v "$printer_uri" -m everywhere >"$root/lpadmin.out" 2>&1 ||
  fail "lpadmin -m everywhere could not make the queue: $(cat "$root/lpadmin.out")"
# cupsd writes the queue's PPD from the printer's attributes in the
# background; until then the queue is raw and would pass the PDF on as is.
# (cupsd's debug log says when it has loaded the PPD it wrote.)
ready="load_ppd: Saving $root/cache/card.data"
for _ in $(seq 150); do
  grep -qF "$ready" "$root/log/error_log" && break
  sleep 0.2
done
grep -qF "$ready" "$root/log/error_log" || fail "cupsd made no PPD for the driverless queue"
say "queue card: driverless on $printer_uri"
out=$(lp -d card "$document" 2>&1) || fail "lp refused the document: $out"
id=$(sed -n 's/^request id is [^ ]*-\([0-9]*\) .*/\1/p' <<<"$out")
[[ -n $id ]] || fail "no job id in: $out"
state=""
deadline=$((SECONDS + ${VKR_APP_JOB_TIMEOUT:-90}))
while ((SECONDS < deadline)); do
  state=$(python3 "$src/tests/cups/ipp_job.py" "$port" "$id" 2>/dev/null)
  [[ $state =~ job-state=(7|8|9)( |$) ]] && break
  sleep 0.5
done
[[ $state =~ job-state=9( |$) ]] || fail "job $id did not complete: $state"
say "job $id completed through CUPS"
