#!/usr/bin/env bash
# Whole jobs through the Printer Application: `vkr-printer-app server` on a
# free localhost port (its pauses removed by the test preload), printer
# simulators on loopback ports, jobs given with the app's sub-commands and ipptool.
#   app_e2e.sh BUILD_DIR SOURCE_DIR print|everywhere|cups
# print: pictures, PWG raster, options, bad input, a printer that stops answering
# or is off, a job cancelled, the web pages, a restart; everywhere: CUPS'
# ipp-everywhere.test; cups: a driverless queue of a private cupsd prints a PDF upright.
# Exit 0 passed, 1 failed, 77 skipped (cupsd cannot start; a failure under CI=true).
set -uo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
mode=$3
here=$src/tests/app
app=$build/app/vkr-printer-app
# A sanitized build runs with the preload after its runtime, and the
# sub-commands leave PAPPL's client state to the process exit.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0:detect_leaks=0 PYTHONDONTWRITEBYTECODE=1

say() { printf 'app-e2e(%s): %s\n' "$mode" "$*"; }
source "$src/tests/support/print_e2e.sh"
e2e_begin app
fail_logs=("$root/app.log" "$root/cupsd/log/error_log")

source "$here/app_support.sh"
start_server

# design.png/.jpg/.pdf: a landscape card design that tells every way round apart.
python3 "$src/tests/cups/make_fixtures.py" "$root" >/dev/null || fail "cannot make the test documents"
d=$root/design.png
case $mode in
print)
  rw=$build/sim/rasterwrite/vkr-rasterwrite
  "$rw" -o "$root/two.pwg" --mode pwg --colorspace srgb --pages 2 --duplex 1 &&
    "$rw" -o "$root/deep.pwg" --mode pwg --colorspace srgb --bits 16 &&
    "$rw" -o "$root/wide.pwg" --mode pwg --colorspace srgb --size 16385,2 --pattern white ||
    fail "cannot write the PWG raster documents"
  start_printer card 0 '!CRC ack 01 2c'  # 300 cards left on the ribbon
  print_and_wait card completed "PNG picture" "$d"
  print_and_wait card completed "JPEG picture" "$root/design.jpg"
  print_and_wait card completed "two-page PWG raster, two-sided" -o sides=two-sided-long-edge "$root/two.pwg"
  print_and_wait card completed "JPEG, monochrome" -o print-color-mode=monochrome "$root/design.jpg"
  print_and_wait card completed "PNG, no front overlay" -o card-front-overlay=none "$d"
  # Pages the pipeline cannot take, or a document the printer does not
  # take, end the job with a message and send nothing; a 16-bit page prints.
  print_and_wait card completed "16-bit PWG raster" "$root/deep.pwg"
  print_and_wait card aborted "PWG raster wider than the pipeline takes" "$root/wide.pwg"
  [[ $job_state_line == *"Unsupported raster data."* ]] || fail "no message for the wide page"
  printf 'not a picture\n' >"$root/note.txt"
  print_and_wait card aborted "plain text" "$root/note.txt"
  # Each picture is turned onto the card the way it fits: the landscape
  # design shows upright.
  check_cards card "1:colour,overlay:front=$d" "1:colour,overlay:front=$d" 2:colour,overlay 1:colour:black \
    "1:colour:front=$d" 1:colour,overlay || fail "the cards are not what was printed"
  ipptool -t "$(uri card)" "$here/bad_input.test" >"$root/bad_input.out" 2>&1 ||
    { cat "$root/bad_input.out"; fail "bad input was not refused as it should be"; }

  # A printer that stops answering once it has the card (switched off): the
  # job ends with a reason; switched on again, the next job prints.
  start_printer off-and-on 0 '$PTS silent'
  submit off-and-on "$d"
  for _ in $(seq 100); do grep -q '^#[0-9]* \$PTS' "$root/off-and-on/printer.log" && break; sleep 0.1; done
  kill -KILL "$sim_pid"
  wait_job "$(uri off-and-on)" "$job_id" 60
  [[ $job_state_line == aborted,*"stopped answering"* ]] || fail "the job to a printer switched off ended '$job_state_line'"
  start_printer on-again "$sim_port"
  print_and_wait off-and-on completed "the next card to the printer on again" "$d"
  check_cards on-again 1:colour,overlay || fail "the printer on again did not get the next card whole"

  # A job cancelled while the printer is still at work on the card ends at once, canceled.
  start_printer busy 0 '$PJS ack 01 05 00 00 00 00 00'
  submit busy "$d"
  for _ in $(seq 300); do job_state "$(uri busy)" "$job_id"; [[ $job_state_line == *"Waiting for"* ]] && break; sleep 0.1; done
  "$app" cancel -d busy -j "$job_id" >/dev/null 2>&1 || fail "cancel refused"
  wait_job "$(uri busy)" "$job_id" 10
  [[ $job_state_line == canceled,* ]] || fail "the job cancelled in the completion wait ended '$job_state_line'"

  # A printer that is off reports offline; a working one idle, with its
  # ribbon (300 cards of a fresh ribbon's 500) on the web page.
  add_printer off "$(free_port)"
  # The status is asked in the background: the first answer may come before it.
  for _ in $(seq 50); do
    state=$(ipptool -c "$(uri off)" "$here/printer_state.test" 2>&1 | sed -n 2p)
    [[ $state == idle,*offline* ]] && break
    sleep 0.1
  done
  [[ $state == idle,*offline* ]] || fail "the printer that is off reports '$state'"
  state=$(ipptool -c "$(uri card)" "$here/printer_state.test" 2>&1 | sed -n 2p)
  [[ $state == idle,none ]] || fail "the working printer reports '$state'"
  web=http://localhost:$port/card
  home=$(http "$web") supplies=$(http "$web/supplies")  # whole pages: grep -q would cut the pipe short
  [[ $home == *Idle* && $supplies == *"Color Ribbon (300 cards left)"* && $supplies == *'title="60%"'* ]] ||
    fail "the web pages do not show the printer's state and ribbon"
  # Identify beeps the printer; the web page's test page is its self-test card.
  ipptool -t "$(uri card)" identify-printer.test >"$root/identify.out" 2>&1 || fail "Identify-Printer failed"
  session=$(sed -n 's/.*name="session" value="\([0-9a-f]*\)".*/\1/p' <<<"$home" | head -n 1)
  [[ $(http "$web/" "session=$session&action=print-test-page") == *"Test page printed."* ]] ||
    fail "the web page's test page button failed"
  grep -q '^   buzzer 1 1 1$' "$root/card/printer.log" || fail "identify did not sound the printer's buzzer"
  grep -q '^#[0-9]* !RSP N=1 params: 01$' "$root/card/printer.log" || fail "the test page asked for no self-test card"

  # The printers and their settings outlive the server.
  ipptool -t -d set=ms -d want=ms "$(admin_uri card)" "$here/printer_default.test" >"$root/default.out" 2>&1 ||
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
  sleep 1.1  # printer-up-time must have passed its first second
  # Only the two requirements that cannot apply to the card printer may fail
  # (README, "IPP Everywhere"). The suite runs from a folder of its own with
  # stand-ins for the PWG samples it names, real for the one type listed.
  suite=$root/ipptool
  mkdir -p "$suite"
  ln -s /usr/share/cups/ipptool/* "$suite/"
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
  # A driverless queue: no PPD or filter of ours, only what `lpadmin -m
  # everywhere` makes from the app's IPP attributes.
  need_tools cupsd lpadmin lp lpstat
  start_printer card 0
  start_driverless_queue "$root/cupsd" card "$(uri card)"
  lp_submit card "$root/design.pdf"
  wait_job "ipp://127.0.0.1:$cupsd_port/printers/card" "$job_id" "${VKR_APP_JOB_TIMEOUT:-90}"
  [[ $job_state_line == completed,* ]] || fail "the driverless queue's job ended '$job_state_line'"
  # CUPS sent the PDF on as PDF, laid out on the card (not on its default
  # paper), and the app turned the landscape page back: it comes out upright.
  grep -q 'PDF page 1: 645x1016 .*(laid out by pdftopdf)' "$root/app.log" ||
    fail "CUPS did not send the PDF laid out on the card: $(grep -o 'PDF page 1: .*' "$root/app.log")"
  check_cards card "1:colour,overlay:front=$d" || fail "the card printed through CUPS is not what was printed"
  ;;
*)
  fail "unknown mode $mode"
  ;;
esac
say "passed"
