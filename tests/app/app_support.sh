# What the Printer Application's end-to-end scripts share, sourced after
# tests/support/print_e2e.sh's e2e_begin: the server, simulated printers on
# loopback ports, jobs and their states. Expects build, src and app.

# start_printer NAME PORT RULES...: a simulated printer on a loopback port
# with these vkrsim rules (and the vkrsim options in the array sim_options);
# on a free port (0) it is added to the app as NAME. Sets sim_port, sim_pid.
sim_options=()
start_printer() {
  local name=$1 listen=$2 rule rules=()
  for rule in "${@:3}"; do rules+=(--rule "$rule"); done
  mkdir -p "$root/$name"
  rm -f "$root/$name/port"
  "$build/sim/vkrsim" --listen "$listen" --port-file "$root/$name/port" --log "$root/$name/printer.log" \
    --capture "$root/$name/commands.bin" --panels "$root/$name" "${sim_options[@]}" "${rules[@]}" \
    >"$root/$name/sim.out" 2>&1 &
  sim_pid=$!
  pids+=($sim_pid)
  for _ in $(seq 100); do [[ -s $root/$name/port ]] && break; sleep 0.05; done
  [[ -s $root/$name/port ]] || fail "the simulated printer $name did not start"
  sim_port=$(cat "$root/$name/port")
  [[ $listen != 0 ]] || add_printer "$name" "$sim_port"
}

# The sub-commands find the server through a local socket under SNAP_COMMON.
export SNAP_COMMON=$root
port=$(free_port)
# The body of a web page (GET), or of the answer to a form (POST DATA).
http() {
  python3 -c 'import sys, urllib.request as u
print(u.urlopen(sys.argv[1], sys.argv[2].encode() if sys.argv[2:] else None, 30).read().decode())' "$@"
}
# start_server [-o OPTION=VALUE]...: the server, its pauses removed, with its
# own spool, state and log in the work folder; sets server_pid.
start_server() {
  mkdir -p "$root/spool"
  LD_PRELOAD=$build/tests/support/libvkr_nosleep.so "$app" server -o server-port="$port" \
    -o spool-directory="$root/spool" -o state-file="$root/app.state" -o log-file="$root/app.log" \
    -o log-level=debug "$@" >"$root/server.out" 2>"$root/server.err" &
  server_pid=$!
  pids+=($server_pid)
  # Not a sub-command: one that finds no server starts a private one.
  for _ in $(seq 100); do
    [[ -S $root/vkr-printer-app.sock ]] && http "http://localhost:$port/" >/dev/null 2>&1 && return 0
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  fail "the server did not start: $(cat "$root/server.err")"
}

add_printer() {
  "$app" add -d "$1" -v "socket://127.0.0.1:$2" -m vk4400 >"$root/add.out" 2>&1 ||
    fail "could not add printer $1: $(cat "$root/add.out")"
}
uri() { echo "ipp://localhost:$port/ipp/print/$1"; }
# The same printer through the local socket, where root administers.
admin_uri() { echo "ipp://${SNAP_COMMON//\//%2F}%2Fvkr-printer-app.sock/ipp/print/$1"; }
# Submits a document to a printer (app submit ARGS...); sets job_id.
submit() {
  local out
  out=$("$app" submit -d "$@" 2>&1) || fail "submit refused: $out"
  job_id=${out##*-}
  [[ $job_id =~ ^[0-9]+$ ]] || fail "no job id in: $out"
}
# print_and_wait PRINTER WANT WHAT ARGS...: prints, waits for the job to end in state WANT.
print_and_wait() {
  local printer=$1 want=$2 what=$3
  submit "$printer" "${@:4}"
  wait_job "$(uri "$printer")" "$job_id" "${VKR_APP_JOB_TIMEOUT:-60}"
  [[ $job_state_line == "$want,"* ]] || fail "job $job_id ('$what') ended '$job_state_line', expected $want"
}
check_cards() { python3 "$src/tests/cups/check_cards.py" "$root/$1/commands.bin" "$root/$1" "${@:2}"; }
# The number of print commands a printer received.
cards_received() { grep -c '^#[0-9]* \$PTS' "$root/$1/printer.log" 2>/dev/null || true; }
