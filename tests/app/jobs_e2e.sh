#!/usr/bin/env bash
# Jobs through the Printer Application as a print server sees them: several
# printers at once, printers that stall, clients that stall, queues, bad
# pages, a server killed or stopped mid-job.
#   jobs_e2e.sh BUILD_DIR SOURCE_DIR together|faults|life
# together: two printers printing at once, a printer that never finishes and
#   a client that stalls while another printer prints, the submission order,
#   a job's kept card front never reaching another printer;
# faults: printer defaults reaching the card, a page cut short, the
#   completion bound, Cancel-Job mid-page, a printer deleted under its
#   status query;
# life: kill -9 mid-job and restart, SIGTERM idle and busy, memory after a
#   large page, DNS-SD searches without a daemon.
# Exit 0 passed, 1 failed.
set -uo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
mode=$3
here=$src/tests/app
app=$build/app/vkr-printer-app
rw=$build/sim/rasterwrite/vkr-rasterwrite
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0:detect_leaks=0 PYTHONDONTWRITEBYTECODE=1

say() { printf 'jobs-e2e(%s): %s\n' "$mode" "$*"; }
source "$src/tests/support/print_e2e.sh"
e2e_begin jobs
fail_logs=("$root/app.log")
source "$here/app_support.sh"

python3 "$src/tests/cups/make_fixtures.py" "$root" >/dev/null || fail "cannot make the test documents"
d=$root/design.png
now_ms() { date +%s%3N; }
# The first and last answer times (ms) in a printer's timeline.
first_answer() { head -n 1 "$root/$1/timeline" | cut -d' ' -f1; }
last_answer() { tail -n 1 "$root/$1/timeline" | cut -d' ' -f1; }

case $mode in
together)
  start_server -o completion-timeout=4 -o document-timeout=3
  "$rw" -o "$root/three.pwg" --mode pwg --colorspace srgb --pages 3 &&
    "$rw" -o "$root/one.pwg" --mode pwg --colorspace srgb &&
    "$rw" -o "$root/wide.pwg" --mode pwg --colorspace srgb --size 16385,2 --pattern white || fail "cannot write the raster"
  # Printers that take their time (every answer 150 ms late) print at once.
  for p in left right; do
    mkdir -p "$root/$p"
    sim_options=(--answer-delay 150 --timeline "$root/$p/timeline")
    start_printer "$p" 0
  done
  sim_options=()
  # Both given at once (a PWG raster job's submit returns once it is read).
  for p in left right; do
    ( trap - EXIT; submit $p "$root/three.pwg"; echo "$job_id" >"$root/$p.job" ) &
    submitters+=($!)
  done
  wait "${submitters[@]}"
  for p in left right; do
    wait_job "$(uri $p)" "$(cat "$root/$p.job")" 60
    [[ $job_state_line == completed,* ]] || fail "$p: $job_state_line"
  done
  say "left answered $(first_answer left)..$(last_answer left), right $(first_answer right)..$(last_answer right)"
  (( $(first_answer right) < $(last_answer left) && $(first_answer left) < $(last_answer right) )) ||
    fail "the two printers printed one after the other"

  # A printer that never reports the end of its card holds only itself: the
  # job fails after the completion bound, naming what the printer said,
  # and the printer shows it; another printer prints meanwhile.
  start_printer stuck 0 '$PJS ack 01 05 00 00 00 00 00'
  start_printer free 0
  submit stuck "$d"; stuck_job=$job_id
  for _ in $(seq 100); do job_state "$(uri stuck)" "$stuck_job"; [[ $job_state_line == *"still printing"* ]] && break; sleep 0.1; done
  print_and_wait free completed "a card while another printer is stuck" "$d"
  job_state "$(uri stuck)" "$stuck_job"
  [[ $job_state_line == processing,* ]] || fail "the stuck printer's job ended before the other printed: $job_state_line"
  # A streamed document the busy printer refuses is no printed job to submit.
  out=$("$app" submit -d stuck "$root/one.pwg" 2>&1) && fail "a refused document was taken as printed: $out"
  [[ $out == *"Currently printing another job."* ]] || fail "submit did not say why it failed: $out"
  wait_job "$(uri stuck)" "$stuck_job" 30
  [[ $job_state_line == aborted,*"did not finish the card within 4 seconds"*"still printing the card"* ]] ||
    fail "the stuck printer's job ended '$job_state_line'"
  state=$(ipptool -c "$(uri stuck)" "$here/printer_state.test" 2>&1 | sed -n 2p)
  [[ $state == *other* ]] || fail "the stuck printer does not show it: '$state'"

  # A client that stalls mid-page holds only its own printer: another prints,
  # and the stalled job ends after the document time-out, sending nothing.
  start_printer stalled 0
  python3 "$here/stall_client.py" localhost "$port" stalled 15 "$root/one.pwg" >"$root/stall.out" 2>&1 &
  stall_pid=$!
  sleep 0.5
  print_and_wait free completed "a card while a client stalls" "$d"
  wait_job "$(uri stalled)" 1 8
  [[ $job_state_line == aborted,*"stopped arriving"* ]] || fail "the stalled job ended '$job_state_line'"
  wait "$stall_pid"
  (( $(cards_received stalled) == 0 )) || fail "the stalled job sent a card"

  # Four jobs given one after another print in that order.
  start_printer queue 0 '$PJS ack 01 05 00 00 00 00 00 times=2' '$PJS ack 00 05 00 00 00 00 00'
  for n in 1 2 3 4; do submit queue "$d"; queued+=($job_id); done
  wait_job "$(uri queue)" "${queued[3]}" 60
  order=$(sed -n 's/.*\[Printer queue\] Printing job \([0-9]*\)\./\1/p' "$root/app.log" | tr '\n' ' ')
  [[ $order == "${queued[*]} " ]] || fail "jobs ${queued[*]} printed in the order $order"

  # A two-sided job whose second page is refused keeps its front to itself:
  # nothing reaches its printer, and the next job on another printer prints
  # only its own card.
  { cat "$root/one.pwg"; tail -c +5 "$root/wide.pwg"; } >"$root/front-and-bad-back.pwg"
  start_printer first 0
  start_printer second 0
  print_and_wait first aborted "a two-sided job with a refused back" -o sides=two-sided-long-edge "$root/front-and-bad-back.pwg"
  print_and_wait second completed "the next job, on another printer" "$d"
  (( $(cards_received first) == 0 )) || fail "the refused job sent a card"
  check_cards second "1:colour,overlay:front=$d" || fail "the other printer did not print just its own card"
  ;;
faults)
  start_server
  start_printer card 0
  # A card option set as the printer's default reaches a job that does not
  # name it: no overlay panel.
  ipptool -t -d set=none -d want=none "$(admin_uri card)" "$here/printer_default.test" >"$root/default.out" 2>&1 ||
    fail "could not set the printer's default: $(cat "$root/default.out")"
  print_and_wait card completed "a job left at the printer's default" "$d"
  check_cards card "1:colour:front=$d" || fail "the printer's default did not reach the card"
  ipptool -t -d set=full -d want=full "$(admin_uri card)" "$here/printer_default.test" >/dev/null 2>&1
  # A job left at card-ribbon auto prints for the ribbon the sensor finds.
  start_printer black-ribbon 0 '!CRS ack 00 35'
  print_and_wait black-ribbon completed "a job on a black ribbon" "$d"
  check_cards black-ribbon 1:colour:black || fail "the job on a black ribbon did not print for it"

  # A page cut short fails its job with the filter's reason, sending nothing.
  "$rw" -o "$root/cut.pwg" --mode pwg --colorspace srgb --pattern noise --cut 100000 || fail "cannot write the raster"
  before=$(cards_received card)
  print_and_wait card aborted "a page cut short" "$root/cut.pwg"
  [[ $job_state_line == *"Error reading raster data."* ]] || fail "the cut page ended '$job_state_line'"
  (( $(cards_received card) == before )) || fail "the cut page was printed"
  # The printer's web page says why a job failed.
  history=$(http "http://localhost:$port/card/history")
  [[ $history == *"<td>Failed</td><td>The card was not printed: Error reading raster data.</td>"* ]] ||
    fail "the job history page does not say why the cut page failed"

  # Grey pages of 16 bits print as their 8-bit selves; a 1-bit black page
  # as its 8-bit self, not as packed bits taken for colours.
  for spec in "w 8 gradient" "w 16 gradient" "k 8 black" "k 1 black"; do
    set -- $spec
    "$rw" -o "$root/$1$2.pwg" --mode pwg --colorspace "$1" --bits "$2" --pattern "$3" || fail "cannot write $spec"
    print_and_wait card completed "a $2-bit $1 page" "$root/$1$2.pwg"
    cp "$root/card/$(printf 'card%03d' "$(cards_received card)")_front_color.jpg" "$root/$1$2.jpg"
  done
  cmp -s "$root/w8.jpg" "$root/w16.jpg" || fail "the 16-bit grey page printed unlike its 8-bit self"
  cmp -s "$root/k8.jpg" "$root/k1.jpg" || fail "the 1-bit black page printed unlike its 8-bit self"

  # A job cancelled while its cards go out sends no further card.
  mkdir -p "$root/slow"
  sim_options=(--answer-delay 300)
  start_printer slow 0
  sim_options=()
  "$rw" -o "$root/five.pwg" --mode pwg --colorspace srgb --pages 5 || fail "cannot write the raster"
  ( trap - EXIT; "$app" submit -d slow "$root/five.pwg" >/dev/null 2>&1 ) &
  for _ in $(seq 200); do (( $(cards_received slow) >= 1 )) && break; sleep 0.05; done
  "$app" cancel -d slow -j 1 >/dev/null 2>&1 || fail "cancel refused"
  at_cancel=$(cards_received slow)
  wait_job "$(uri slow)" 1 30
  [[ $job_state_line == canceled,* ]] || fail "the cancelled job ended '$job_state_line'"
  (( $(cards_received slow) <= at_cancel + 1 && $(cards_received slow) < 5 )) ||
    fail "the cancelled job went on sending cards ($at_cancel at the cancel, $(cards_received slow) in all)"

  # A printer deleted while its status query waits on it (the printer is
  # silent): the query ends and lets the printer go before it is freed, and
  # the server goes on.
  start_printer doomed 0 '$PJS silent times=20'
  for _ in $(seq 100); do grep -q '^#1 \$PJS' "$root/doomed/printer.log" 2>/dev/null && break; sleep 0.05; done
  grep -q '^#1 \$PJS' "$root/doomed/printer.log" || fail "no status query of the new printer"
  "$app" delete -d doomed >"$root/delete.out" 2>&1 || fail "could not delete the printer: $(cat "$root/delete.out")"
  [[ -z $(ss -Htn state established "( dport = :$sim_port )") ]] ||
    fail "the printer was deleted while its status query still talked to it"
  [[ $("$app" printers 2>&1) != *doomed* ]] || fail "the deleted printer is still listed"
  print_and_wait card completed "a card after a printer was deleted" "$d"
  ;;
life)
  rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$server_pid/status"; }
  # Whether the server still runs (an ended one the script has not reaped yet is gone).
  running() { [[ $(ps -o stat= -p "$server_pid" 2>/dev/null) =~ ^[^Z] ]]; }
  # The server's card workers (and their starter), by process id.
  workers() { pgrep -P "$1" -f vkr-card-worker || true; }
  start_server
  start_printer card 0
  # Without a DNS-SD daemon the printer search reports what it can and the
  # server stays up: the Add Printer page, then the devices sub-command.
  http "http://localhost:$port/addprinter" >/dev/null 2>&1
  "$app" devices >"$root/devices.out" 2>&1 || fail "devices failed: $(cat "$root/devices.out")"
  # The options sub-command lists a card's options after PAPPL's.
  "$app" options -d card >"$root/options.out" 2>&1 || fail "options failed: $(cat "$root/options.out")"
  for words in "-o media-type=" "Card options:" "sides=one-sided|two-sided-long-edge" \
    "card-front-overlay=full|ms|iso|none" "card-ribbon=auto|k|rw|re"; do
    grep -qF -- "$words" "$root/options.out" || fail "options does not list '$words': $(cat "$root/options.out")"
  done
  kill -0 "$server_pid" 2>/dev/null || fail "a DNS-SD search ended the server"

  # Memory: a large page's buffers live and die with its worker.
  print_and_wait card completed "a first card" "$d"
  idle=$(rss_kb)
  "$rw" -o "$root/large.pwg" --mode pwg --colorspace srgb --size 16384,5400 --pattern white ||
    fail "cannot write the raster"
  print_and_wait card completed "a 16384 x 5400 page" "$root/large.pwg"
  after=$(rss_kb)
  say "resident memory: $idle kB idle, $after kB after the large page"
  (( after - idle < 20 * 1024 )) || fail "the server kept $(( (after - idle) / 1024 )) MB after the large page"

  # SIGTERM ends an idle server within 5 seconds.
  started=$(now_ms)
  kill -TERM "$server_pid"
  while running && (( $(now_ms) - started < 20000 )); do sleep 0.05; done
  stopped=$(( $(now_ms) - started ))
  say "an idle server stopped in $stopped ms"
  (( stopped < 5000 )) || fail "the idle server took $stopped ms to stop"

  # Killed mid-job: the job ends with its reason after the restart, no
  # worker is left behind, and the printer prints the next job.
  start_server
  start_printer slow 0 '$PJS ack 01 05 00 00 00 00 00 times=100'
  submit slow "$d"; cut_job=$job_id
  for _ in $(seq 200); do (( $(cards_received slow) >= 1 )) && break; sleep 0.05; done
  left=$(workers "$server_pid")
  [[ $(wc -w <<<"$left") -ge 2 ]] || fail "no card worker and starter while a job prints: '$left'"
  kill -KILL "$server_pid"
  wait "$server_pid" 2>/dev/null
  for _ in $(seq 50); do
    alive=$(for pid in $left; do kill -0 "$pid" 2>/dev/null && echo "$pid"; done)
    [[ -z $alive ]] && break
    sleep 0.1
  done
  [[ -z $alive ]] || fail "card workers outlived their server: $alive"
  start_server
  job_state "$(uri slow)" "$cut_job"
  [[ $job_state_line == aborted,*"server stopped while this job was printing"* ]] ||
    fail "the interrupted job shows '$job_state_line'"
  ipptool -t -d set=ms -d want=ms "$(admin_uri slow)" "$here/printer_default.test" >/dev/null 2>&1
  printf '%s\n' '$PJS ack 00 05 00 00 00 00 00' >"$root/idle.rules"
  before=$(cards_received slow)
  kill "$sim_pid"; wait "$sim_pid" 2>/dev/null
  start_printer slow "$sim_port"
  print_and_wait slow completed "the next job after the restart" "$d"

  # SIGTERM while a card is going out: the server ends after that card, and
  # the job waiting behind it prints after the next start.
  kill "$sim_pid"; wait "$sim_pid" 2>/dev/null
  start_printer slow "$sim_port" '$PJS ack 01 05 00 00 00 00 00 times=30'
  submit slow "$d"; busy_job=$job_id
  submit slow "$d"; waiting_job=$job_id
  for _ in $(seq 200); do job_state "$(uri slow)" "$busy_job"; [[ $job_state_line == *"still printing"* ]] && break; sleep 0.05; done
  sent=$(cards_received slow)
  started=$(now_ms)
  kill -TERM "$server_pid"
  while running && (( $(now_ms) - started < 30000 )); do sleep 0.05; done
  say "a busy server stopped in $(( $(now_ms) - started )) ms"
  running && fail "the busy server did not stop: $(ps -o stat=,wchan= -p "$server_pid")"
  (( $(cards_received slow) == sent )) || fail "the stopping server sent another card"
  kill "$sim_pid"; wait "$sim_pid" 2>/dev/null
  start_printer slow "$sim_port"
  start_server
  wait_job "$(uri slow)" "$waiting_job" 30
  [[ $job_state_line == completed,* ]] || fail "the job that waited ended '$job_state_line' after the restart"
  ;;
*)
  fail "unknown mode $mode"
  ;;
esac
say "passed"
