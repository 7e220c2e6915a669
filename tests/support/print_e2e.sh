# What the end-to-end tests that print share, sourced by a script that
# defines say: the work folder and the end of every test, a private cupsd
# (its own folders, a loopback port and a local socket) and a job's state.

cupsd_pid=""
watchdog_pid=""
job_state_test=$(cd "$(dirname "${BASH_SOURCE[0]}")/../app" && pwd)/job_state.test

# Makes the work folder $root (kept on failure or with VKR_E2E_KEEP); at the end
# cupsd and the processes in pids are stopped. fail shows the logs in fail_logs.
e2e_begin() {
  root=$(mktemp -d "/tmp/vkr-$1.XXXXXX") || exit 1
  chmod 0755 "$root"  # cupsd runs filters and backends as lp: they must reach it
  pids=() fail_logs=() keep=""
  trap e2e_end EXIT
  trap 'exit 1' INT TERM
}

# Says why the test failed, with the last lines of its logs, and ends it.
fail() {
  say "FAIL: $*"
  local log
  for log in "${fail_logs[@]}"; do
    [[ -f $log ]] && say "last lines of $log:" && grep -v '^D ' "$log" | tail -n 40 | sed 's/^/  | /'
  done
  keep=yes
  exit 1
}

# Stops what the test started and removes its folder unless it is kept.
e2e_end() {
  stop_private_cupsd
  local pid
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  if [[ -n $keep || -n ${VKR_E2E_KEEP:-} ]]; then say "left for inspection: $root"; else rm -rf "$root"; fi
}

# Exit 77 (skipped) where the test cannot run; under CI=true that is a failure.
skip() {
  [[ ${CI:-} == true ]] && fail "this machine cannot run the test, and CI must: $*"
  say "SKIP: $*"
  exit 77
}

# Skips unless every tool is found (in PATH or /usr/sbin).
need_tools() {
  local tool
  PATH=$PATH:/usr/sbin
  for tool in "$@"; do command -v "$tool" >/dev/null || skip "$tool is not installed"; done
}

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# start_private_cupsd ROOT SERVERBIN DATADIR [CUPS_FILES_LINE...]: starts
# cupsd and waits for it; sets cupsd_port, exports CUPS_SERVER; skips when
# cupsd refuses the configuration or does not start.
start_private_cupsd() {
  local root=$1 serverbin=$2 datadir=$3
  shift 3
  mkdir -p "$root"/{conf,spool/temp,log,cache,state}
  cupsd_port=$(free_port)
  printf '%s\n' "ServerRoot $root/conf" "ServerBin $serverbin" "DataDir $datadir" "CacheDir $root/cache" \
    "StateDir $root/state" "RequestRoot $root/spool" "TempDir $root/spool/temp" "AccessLog $root/log/access_log" \
    "ErrorLog $root/log/error_log" "PageLog $root/log/page_log" "Printcap $root/state/printcap" "SystemGroup root" \
    "$@" >"$root/conf/cups-files.conf"
  printf '%s\n' "LogLevel debug" "MaxLogSize 0" "Listen 127.0.0.1:$cupsd_port" "Listen $root/sock" \
    "Browsing Off" "WebInterface No" "ErrorPolicy abort-job" "PreserveJobHistory Yes" "DefaultPolicy open" \
    "<Location />" "Order allow,deny" "Allow all" "</Location>" \
    "<Policy open>" "<Limit All>" "Order deny,allow" "</Limit>" "</Policy>" >"$root/conf/cupsd.conf"
  export CUPS_SERVER=$root/sock
  local files=(-c "$root/conf/cupsd.conf" -s "$root/conf/cups-files.conf")
  cupsd -t "${files[@]}" >"$root/cupsd-check.log" 2>&1 ||
    { cat "$root/cupsd-check.log"; skip "cupsd refuses the private configuration"; }
  cupsd -f "${files[@]}" >"$root/log/cupsd.out" 2>&1 &
  cupsd_pid=$!
  # Should the test script be killed outright (a test time-out), a watchdog
  # still stops our cupsd once the script is gone.
  local script=$$
  ( while kill -0 "$script" 2>/dev/null; do sleep 2; done; kill -TERM "$cupsd_pid" ) >/dev/null 2>&1 &
  watchdog_pid=$!
  for _ in $(seq 100); do lpstat -r 2>/dev/null | grep -q "is running" && break; sleep 0.1; done
  lpstat -r 2>/dev/null | grep -q "is running" || { cat "$root/log/cupsd.out"; skip "cupsd did not start"; }
  say "cupsd $cupsd_pid listens on 127.0.0.1:$cupsd_port and $root/sock"
}

# start_driverless_queue ROOT QUEUE DEVICE_URI: a private cupsd (its own
# filters) with a driverless queue (`lpadmin -m everywhere`) to DEVICE_URI.
# cupsd writes the queue's PPD in the background; until then the queue is
# raw and would pass a document on as it is, so this waits for the PPD (the
# debug log says when it is saved).
start_driverless_queue() {
  local root=$1 queue=$2 device=$3
  start_private_cupsd "$root" "$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)" \
    "$(cups-config --datadir 2>/dev/null || echo /usr/share/cups)"
  lpadmin -p "$queue" -E -v "$device" -m everywhere 2>&1 || fail "lpadmin -m everywhere could not make the queue"
  for _ in $(seq 150); do
    grep -qF "load_ppd: Saving $root/cache/$queue.data" "$root/log/error_log" && break
    sleep 0.2
  done
}

# Stops our cupsd, whatever happened.
stop_private_cupsd() {
  [[ -n $watchdog_pid ]] && kill "$watchdog_pid" 2>/dev/null
  [[ -n $cupsd_pid ]] && kill -TERM "$cupsd_pid" 2>/dev/null || return 0
  for _ in $(seq 50); do kill -0 "$cupsd_pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$cupsd_pid" 2>/dev/null
  wait "$cupsd_pid" 2>/dev/null
  return 0
}

# lp_submit QUEUE ARGS...: sends a document with lp; sets job_id.
lp_submit() {
  local out
  out=$(lp -d "$@" 2>&1) || fail "lp refused the job to $1: $out"
  job_id=$(sed -n 's/^request id is [^ ]*-\([0-9]*\) .*/\1/p' <<<"$out")
  [[ -n $job_id ]] || fail "no job id in: $out"
}

# job_state PRINTER_URI ID; wait_job PRINTER_URI ID [SECONDS] (until the job ends).
job_state() { job_state_line=$(ipptool -c -d job="$2" "$1" "$job_state_test" 2>&1 | sed -n 2p); }

wait_job() {
  local deadline=$((SECONDS + ${3:-90}))
  while job_state "$1" "$2" && ((SECONDS < deadline)); do
    [[ $job_state_line =~ ^(completed|aborted|canceled), ]] && return 0
    sleep 0.2
  done
}
