# A private cupsd for the tests that print through CUPS: its own folders
# under a root, a loopback port and a local socket, nothing shared with the
# system's cupsd. Sourced by a test script that defines say and skip.
#
#   start_private_cupsd ROOT SERVERBIN DATADIR [EXTRA_CUPS_FILES_LINE...]
#       writes ROOT/conf, starts cupsd and waits until it answers; sets
#       port, cupsd_pid and watchdog_pid and exports CUPS_SERVER. Calls skip
#       when cupsd refuses the configuration or does not start.
#   stop_private_cupsd
#       stops it (and its watchdog), whatever happened.

cupsd_pid=""
watchdog_pid=""

start_private_cupsd() {
  local root=$1 serverbin=$2 datadir=$3
  shift 3
  mkdir -p "$root"/{conf,spool/temp,log,cache,state}
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  {
    cat <<EOC
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
    local line
    for line in "$@"; do printf '%s\n' "$line"; done
  } >"$root/conf/cups-files.conf"
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
  cupsd -t -c "$root/conf/cupsd.conf" -s "$root/conf/cups-files.conf" >"$root/cupsd-check.log" 2>&1 ||
    { cat "$root/cupsd-check.log"; skip "cupsd refuses the private configuration"; }
  cupsd -f -c "$root/conf/cupsd.conf" -s "$root/conf/cups-files.conf" >"$root/log/cupsd.out" 2>&1 &
  cupsd_pid=$!
  # Should the test script be killed outright (a test time-out), a watchdog
  # still stops our cupsd once the script is gone.
  local script=$$
  (
    while kill -0 "$script" 2>/dev/null; do sleep 2; done
    kill -TERM "$cupsd_pid" 2>/dev/null
  ) >/dev/null 2>&1 &
  watchdog_pid=$!
  for _ in $(seq 100); do
    lpstat -r 2>/dev/null | grep -q "is running" && break
    kill -0 "$cupsd_pid" 2>/dev/null || break
    sleep 0.1
  done
  lpstat -r 2>/dev/null | grep -q "is running" || { cat "$root/log/cupsd.out"; skip "cupsd did not start"; }
  say "cupsd $cupsd_pid listens on 127.0.0.1:$port and $root/sock"
}

stop_private_cupsd() {
  [[ -n $watchdog_pid ]] && kill "$watchdog_pid" 2>/dev/null
  if [[ -n $cupsd_pid ]] && kill -0 "$cupsd_pid" 2>/dev/null; then
    kill -TERM "$cupsd_pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$cupsd_pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$cupsd_pid" 2>/dev/null && kill -KILL "$cupsd_pid" 2>/dev/null
    wait "$cupsd_pid" 2>/dev/null
  fi
  return 0
}
