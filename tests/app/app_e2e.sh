#!/usr/bin/env bash
# Whole jobs through the Printer Application: `vkr-printer-app server` on a
# free localhost port (its pauses removed by the test preload), the printer
# simulator listening on loopback ports, jobs given with the app's own
# sub-commands and ipptool.
#
#   app_e2e.sh BUILD_DIR SOURCE_DIR print   PNG, JPEG, two-sided PWG raster,
#                                            monochrome, card options, bad
#                                            input, a printer that stops
#                                            answering, one that is off,
#                                            the web status page
#   app_e2e.sh BUILD_DIR SOURCE_DIR everywhere   CUPS' ipp-everywhere.test
#   app_e2e.sh BUILD_DIR SOURCE_DIR cups    a driverless queue of a private
#                                            cupsd prints a PDF through the app
#
# Exit 0 passed, 1 failed, 77 skipped (only where cupsd cannot start; under
# CI=true that is a failure).
set -uo pipefail

build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
mode=$3
here=$src/tests/app
app=$build/app/vkr-printer-app
sim=$build/sim/vkrsim
nosleep=$build/tests/support/libvkr_nosleep.so
job_timeout=${VKR_APP_JOB_TIMEOUT:-60}

say() { printf 'app-e2e(%s): %s\n' "$mode" "$*"; }

# A sanitized build runs with the preload after its runtime, and the
# sub-commands leave PAPPL's client state to the process exit.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0:detect_leaks=0

root=$(mktemp -d /tmp/vkr-app.XXXXXX) || exit 1
chmod 0755 "$root"
pids=()
keep=""

cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  if [[ -n $keep || -n ${VKR_E2E_KEEP:-} ]]; then say "left for inspection: $root"; else rm -rf "$root"; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() {
  say "FAIL: $*"
  [[ -f $root/app.log ]] && { say "last lines of the app's log:"; grep -v '^D' "$root/app.log" | tail -n 25 | sed 's/^/  | /'; }
  keep=yes
  exit 1
}

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# Starts a simulated printer listening on a loopback port (0: any free
# one); sets sim_port and sim_pid. The arguments after the port are vkrsim
# rules.
start_printer() {
  local name=$1 listen=$2
  shift 2
  local rules=()
  for rule in "$@"; do rules+=(--rule "$rule"); done
  mkdir -p "$root/$name"
  "$sim" --listen "$listen" --port-file "$root/$name/port" --log "$root/$name/printer.log" \
    --capture "$root/$name/commands.bin" --panels "$root/$name" "${rules[@]}" \
    >"$root/$name/sim.out" 2>&1 &
  sim_pid=$!
  pids+=($sim_pid)
  for _ in $(seq 100); do [[ -s $root/$name/port ]] && break; sleep 0.05; done
  [[ -s $root/$name/port ]] || fail "the simulated printer $name did not start"
  sim_port=$(cat "$root/$name/port")
}

# The sub-commands find the server through a local socket under SNAP_COMMON.
export SNAP_COMMON=$root
port=$(free_port)
start_server() {
  LD_PRELOAD=$nosleep "$app" server -o server-port="$port" -o spool-directory="$root/spool" \
    -o state-file="$root/app.state" -o log-file="$root/app.log" -o log-level=debug \
    >"$root/server.out" 2>"$root/server.err" &
  server_pid=$!
  pids+=($server_pid)
  # Not a sub-command: one that finds no server starts a private one.
  for _ in $(seq 100); do
    [[ -S $root/vkr-printer-app.sock ]] &&
      python3 -c 'import socket,sys; socket.create_connection(("localhost", int(sys.argv[1])), 1)' "$port" 2>/dev/null &&
      return 0
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  fail "the server did not start: $(cat "$root/server.err")"
}
mkdir -p "$root/spool"
start_server
say "server $server_pid on localhost:$port"

# Adds a printer on a simulated printer's port.
add_printer() {
  "$app" add -d "$1" -v "socket://127.0.0.1:$2" -m vk4400 >"$root/add.out" 2>&1 ||
    fail "could not add printer $1: $(cat "$root/add.out")"
}
uri() { echo "ipp://localhost:$port/ipp/print/$1"; }

# One job's "state,reasons,message" as ipptool reads it.
job_state() { ipptool -c -d job="$2" "$(uri "$1")" "$here/job_state.test" 2>&1 | sed -n 2p; }

# Submits a document with the app's submit sub-command, waits for the job's
# end and checks its state; sets job_state_line.
print_and_wait() {
  local printer=$1 want=$2 what=$3
  shift 3
  local out id
  out=$("$app" submit -d "$printer" "$@" 2>&1) || fail "submit refused '$what': $out"
  id=${out##*-}
  [[ $id =~ ^[0-9]+$ ]] || fail "no job id in: $out"
  local deadline=$((SECONDS + job_timeout))
  while ((SECONDS < deadline)); do
    job_state_line=$(job_state "$printer" "$id")
    [[ $job_state_line =~ ^(completed|aborted|canceled), ]] && break
    sleep 0.2
  done
  [[ $job_state_line == "$want,"* ]] || fail "job $id ('$what') ended '$job_state_line', expected $want"
  say "job $id ('$what'): $job_state_line"
}

# design.png, design.jpg, design.pdf: a landscape card design that tells
# every way round apart; two-sided.pdf and back.png: a card with its back.
python3 "$src/tests/cups/make_fixtures.py" "$root" >/dev/null || fail "cannot make the test documents"

case $mode in
print)
  rw=$build/sim/rasterwrite/vkr-rasterwrite
  "$rw" -o "$root/two.pwg" --mode pwg --colorspace srgb --pages 2 --duplex 1 &&
    "$rw" -o "$root/deep.pwg" --mode pwg --colorspace srgb --bits 16 &&
    "$rw" -o "$root/wide.pwg" --mode pwg --colorspace srgb --size 16385,2 --pattern white ||
    fail "cannot write the PWG raster documents"

  # 300 cards left on the ribbon.
  start_printer card 0 '!CRC ack 01 2c'
  add_printer card "$sim_port"
  print_and_wait card completed "PNG picture" "$root/design.png"
  print_and_wait card completed "JPEG picture" "$root/design.jpg"
  print_and_wait card completed "two-page PWG raster, two-sided" -o sides=two-sided-long-edge "$root/two.pwg"
  print_and_wait card completed "JPEG, monochrome" -o print-color-mode=monochrome "$root/design.jpg"
  print_and_wait card completed "PNG, no front overlay" -o card-front-overlay=none "$root/design.png"
  # Pages the pipeline cannot take end the job with a message and send nothing.
  print_and_wait card aborted "16-bit PWG raster" "$root/deep.pwg"
  [[ $job_state_line == *"Unsupported raster data."* ]] || fail "no message for the 16-bit page"
  print_and_wait card aborted "PWG raster wider than the pipeline takes" "$root/wide.pwg"
  [[ $job_state_line == *"Unsupported raster data."* ]] || fail "no message for the wide page"

  # PAPPL takes a document of any format in; one the printer does not take
  # ends the job, and nothing is sent.
  printf 'not a picture\n' >"$root/note.txt"
  print_and_wait card aborted "plain text" "$root/note.txt"
  # Each picture is turned onto the card the way it fits: the landscape
  # design shows upright on its card.
  d=$root/design.png
  python3 "$here/check_app_cards.py" "$root/card/commands.bin" "$root/card" "1:colour,overlay:front=$d" \
    "1:colour,overlay:front=$d" 2:colour,overlay 1:colour:black "1:colour:front=$d" ||
    fail "the cards are not what was printed"
  ipptool -t "$(uri card)" "$here/bad_input.test" \
    >"$root/bad_input.out" 2>&1 || { cat "$root/bad_input.out"; fail "bad input was not refused as it should be"; }

  # A printer that stops answering once it has the card (switched off): the
  # job ends with a reason; switched on again, the next job prints.
  start_printer off-and-on 0 '$PTS silent'
  add_printer off-and-on "$sim_port"
  out=$("$app" submit -d off-and-on "$root/design.png" 2>&1) || fail "submit refused: $out"
  for _ in $(seq 100); do grep -q '^#[0-9]* \$PTS' "$root/off-and-on/printer.log" && break; sleep 0.1; done
  kill -KILL "$sim_pid"
  wait "$sim_pid" 2>/dev/null
  id=${out##*-}
  for _ in $(seq 300); do
    job_state_line=$(job_state off-and-on "$id")
    [[ $job_state_line =~ ^(completed|aborted|canceled), ]] && break
    sleep 0.2
  done
  [[ $job_state_line == aborted,*"stopped answering"* ]] || fail "the job to a printer switched off ended '$job_state_line'"
  say "job $id (card to a printer switched off after it got the card): $job_state_line"
  start_printer on-again "$sim_port"
  print_and_wait off-and-on completed "the next card to the same printer, on again" "$root/design.png"
  python3 "$here/check_app_cards.py" "$root/on-again/commands.bin" "$root/on-again" 1:colour,overlay ||
    fail "the printer on again did not get the next card whole"

  # A job cancelled while the printer says it is still at work on the card
  # ends at once, canceled.
  start_printer busy 0 '$PJS ack 01 05 00 00 00 00 00'
  add_printer busy "$sim_port"
  out=$("$app" submit -d busy "$root/design.png" 2>&1) || fail "submit refused: $out"
  id=${out##*-}
  for _ in $(seq 300); do
    [[ $(job_state busy "$id") == *"Waiting for the printer to finish the card"* ]] && break
    sleep 0.1
  done
  "$app" cancel -d busy -j "$id" >/dev/null 2>&1 || fail "cancel refused"
  for _ in $(seq 100); do
    job_state_line=$(job_state busy "$id")
    [[ $job_state_line =~ ^(completed|aborted|canceled), ]] && break
    sleep 0.1
  done
  [[ $job_state_line == canceled,* ]] || fail "the job cancelled in the completion wait ended '$job_state_line'"
  say "job $id (cancelled while the printer works on the card): $job_state_line"

  # A printer that is off reports offline; a working one idle, with its ribbon.
  add_printer off "$(free_port)"
  state=$(ipptool -c "$(uri off)" "$here/printer_state.test" 2>&1 | sed -n 2p)
  [[ $state == idle,*offline* ]] || fail "the printer that is off reports '$state'"
  state=$(ipptool -c "$(uri card)" "$here/printer_state.test" 2>&1 | sed -n 2p)
  [[ $state == idle,none ]] || fail "the working printer reports '$state'"
  python3 - "$port" <<'EOP' || fail "the web status page does not show the printer's state and ribbon"
import http.client, sys
def page(path):
    c = http.client.HTTPConnection("localhost", int(sys.argv[1]), timeout=30)
    c.request("GET", path)
    r = c.getresponse()
    return r.status, r.read().decode(errors="replace")
status, home = page("/card")
assert status == 200 and "Idle" in home, (status, home[:300])
status, supplies = page("/card/supplies")
# 300 cards left of a fresh ribbon's 500.
assert status == 200 and "Color Ribbon (300 cards left)" in supplies and 'title="60%"' in supplies, supplies
EOP

  # Identify beeps the printer; the web page's test page is its self-test card.
  ipptool -t "$(uri card)" identify-printer.test >"$root/identify.out" 2>&1 || fail "Identify-Printer failed"
  python3 - "$port" <<'EOP' || fail "the web page's test page button failed"
import http.client, re, sys, urllib.parse
def connect():
    return http.client.HTTPConnection("localhost", int(sys.argv[1]), timeout=30)
c = connect()
c.request("GET", "/card")
session = re.search(r'name="session" value="([0-9a-f]+)"', c.getresponse().read().decode()).group(1)
c = connect()
c.request("POST", "/card/", urllib.parse.urlencode({"session": session, "action": "print-test-page"}),
          {"Content-Type": "application/x-www-form-urlencoded"})
assert "Test page printed." in c.getresponse().read().decode()
EOP
  grep -q '^   buzzer 1 1 1$' "$root/card/printer.log" || fail "identify did not sound the printer's buzzer"
  grep -q '^#[0-9]* !RSP N=1 params: 01$' "$root/card/printer.log" || fail "the test page did not ask for the self-test card"

  # The printers and their settings outlive the server.
  ipptool -t -d set=ms -d want=ms "$(uri card)" "$here/printer_default.test" >"$root/default.out" 2>&1 ||
    fail "could not set a card option's default: $(cat "$root/default.out")"
  kill -TERM "$server_pid"
  wait "$server_pid" 2>/dev/null
  start_server
  "$app" printers >"$root/printers.out" 2>&1
  grep -qx card "$root/printers.out" && grep -qx off-and-on "$root/printers.out" ||
    fail "the printers did not survive a restart: $(cat "$root/printers.out")"
  ipptool -t -d want=ms "$(uri card)" "$here/printer_default.test" >"$root/default.out" 2>&1 ||
    fail "the card option's default did not survive a restart: $(cat "$root/default.out")"
  ;;
everywhere)
  start_printer card 0
  add_printer card "$sim_port"
  sleep 1.1  # printer-up-time must have passed its first second
  # Two requirements cannot apply to the card printer (README, "IPP
  # Everywhere"): its default orientation is 'none' (each picture is turned
  # the way it fits the card), and it takes no per-page overrides. Only
  # those two may fail; any other failure fails the test.
  # The PWG sample rasters the suite names are not shipped with it, and
  # ipptool refuses a suite whose files it cannot read: the suite runs from
  # a folder of its own with stand-ins. The printer lists 300 dpi sRGB 8-bit
  # only, so those samples are real (card-sized) rasters; the tests of every
  # other type and resolution are skipped and theirs stay empty.
  suite=$root/ipptool
  mkdir -p "$suite"
  for f in /usr/share/cups/ipptool/*; do ln -s "$f" "$suite/"; done
  "$build/sim/rasterwrite/vkr-rasterwrite" -o "$root/sample.pwg" --mode pwg --colorspace srgb ||
    fail "cannot write the sample raster"
  grep -h '^[[:space:]]*FILE pwg-raster-samples' "$suite"/*.test | awk '{print $2}' | sort -u |
    while read -r f; do
      mkdir -p "$suite/$(dirname "$f")"
      if [[ $f == pwg-raster-samples-300dpi/srgb-8/* ]]; then cp "$root/sample.pwg" "$suite/$f"; else : >"$suite/$f"; fi
    done
  ipptool -I -V 2.0 -tf "$root/design.jpg" "$(uri card)" "$suite/ipp-everywhere.test" >"$root/everywhere.out" 2>&1
  grep -E '^ +(EXPECTED|GOT):' "$root/everywhere.out" |
    grep -vE '^ +EXPECTED: orientation-requested-default WITH-VALUE "3,4,5,6"$|^ +GOT: orientation-requested-default=7$|^ +EXPECTED: overrides-supported$' \
      >"$root/everywhere.unexpected"
  if [[ -s $root/everywhere.unexpected ]] || ! grep -q '^Summary:' "$root/everywhere.out"; then
    grep -E 'FAIL|EXPECTED|GOT' "$root/everywhere.out" | head -40
    fail "ipp-everywhere.test failed"
  fi
  say "ipp-everywhere.test: $(grep '^Summary:' "$root/everywhere.out")"
  ;;
cups)
  start_printer card 0
  add_printer card "$sim_port"
  bash "$here/driverless_cupsd.sh" "$root" "$(uri card)" "$root/design.pdf"
  status=$?
  [[ $status == 77 ]] && exit 77
  ((status == 0)) || fail "the driverless queue did not print"
  # CUPS rendered the PDF on the card, not on its default paper.
  grep -q 'Page 1 raster data is 643x1013x24 (sRGB)' "$root/app.log" ||
    fail "CUPS did not send a card-sized page: $(grep -o 'raster data is [^ ]*' "$root/app.log")"
  # CUPS turns a landscape page onto the portrait card the other way round
  # from the filter's PPD (README, "Driverless CUPS queues"): the design
  # comes out turned half a turn.
  python3 "$here/check_app_cards.py" "$root/card/commands.bin" "$root/card" \
    "1:colour,overlay:front-turned=$root/design.png" || fail "the card printed through CUPS is not what was printed"
  ;;
*)
  fail "unknown mode $mode"
  ;;
esac
say "passed"
