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
cupsd_pid=""

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
cleanup() {
  if [[ -n $cupsd_pid ]] && kill -0 "$cupsd_pid" 2>/dev/null; then
    kill -TERM "$cupsd_pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$cupsd_pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$cupsd_pid" 2>/dev/null && kill -KILL "$cupsd_pid" 2>/dev/null
    wait "$cupsd_pid" 2>/dev/null
  fi
}
trap cleanup EXIT

for tool in cupsd lpadmin lp lpstat; do
  command -v "$tool" >/dev/null || PATH=$PATH:/usr/sbin
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
serverbin=$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)
datadir=$(cups-config --datadir 2>/dev/null || echo /usr/share/cups)

mkdir -p "$root"/{conf,spool/temp,log,cache,state} || fail "cannot make $root"
chmod 0755 "$work" "$root"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$root/conf/cups-files.conf" <<EOC
ServerRoot $root/conf
ServerBin $serverbin
DataDir $datadir
CacheDir $root/cache
StateDir $root/state
RequestRoot $root/spool
TempDir $root/spool/temp
AccessLog $root/log/access_log
ErrorLog $root/log/error_log
PageLog $root/log/page_log
Printcap $root/state/printcap
SystemGroup root
EOC
cat >"$root/conf/cupsd.conf" <<EOC
LogLevel debug
MaxLogSize 0
Listen 127.0.0.1:$port
Listen $root/sock
Browsing Off
WebInterface No
ErrorPolicy abort-job
PreserveJobHistory Yes
DefaultPolicy open
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy open>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOC

export CUPS_SERVER=$root/sock
cupsd -t -c "$root/conf/cupsd.conf" -s "$root/conf/cups-files.conf" >"$root/check.log" 2>&1 ||
  { cat "$root/check.log"; skip "cupsd refuses the private configuration"; }
cupsd -f -c "$root/conf/cupsd.conf" -s "$root/conf/cups-files.conf" >"$root/log/cupsd.out" 2>&1 &
cupsd_pid=$!
for _ in $(seq 100); do
  lpstat -r 2>/dev/null | grep -q "is running" && break
  kill -0 "$cupsd_pid" 2>/dev/null || break
  sleep 0.1
done
lpstat -r 2>/dev/null | grep -q "is running" || { cat "$root/log/cupsd.out"; skip "cupsd did not start"; }

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
