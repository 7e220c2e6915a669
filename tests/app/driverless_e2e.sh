#!/usr/bin/env bash
# The Printer Application as a card user meets it: documents given to the app
# directly and through a driverless (`lpadmin -m everywhere`) queue of a
# private cupsd, against a simulated printer on a loopback port.
#   driverless_e2e.sh BUILD_DIR SOURCE_DIR
# Checks PDF and PNG come out upright both ways, a card design of the card's
# size (ID-1) covers the card edge to edge, card options chosen per job
# through the queue, monochrome as black dots that follow a grey gradient.
# Exit 0 passed, 1 failed, 77 skipped (a failure under CI=true).
set -uo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
app=$build/app/vkr-printer-app
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0:detect_leaks=0 PYTHONDONTWRITEBYTECODE=1

say() { printf 'driverless-e2e: %s\n' "$*"; }
source "$src/tests/support/print_e2e.sh"
e2e_begin driverless
fail_logs=("$root/app.log" "$root/cupsd/log/error_log")
need_tools cupsd lpadmin lp lpstat ipptool gs chromium

# The server on a free port, its pauses removed, and a simulated printer "card".
export SNAP_COMMON=$root
port=$(free_port)
mkdir -p "$root/spool" "$root/card"
# 300 cards left on its ribbon: the Supplies page's bar is 60% long.
"$build/sim/vkrsim" --listen 0 --port-file "$root/card/port" --log "$root/card/printer.log" \
  --capture "$root/card/commands.bin" --panels "$root/card" --rule '!CRC ack 01 2c' >"$root/card/sim.out" 2>&1 &
pids+=($!)
LD_PRELOAD=$build/tests/support/libvkr_nosleep.so "$app" server -o server-port="$port" \
  -o spool-directory="$root/spool" -o state-file="$root/app.state" -o log-file="$root/app.log" \
  -o log-level=debug >"$root/server.out" 2>"$root/server.err" &
pids+=($!)
for _ in $(seq 100); do
  [[ -S $root/vkr-printer-app.sock && -s $root/card/port ]] &&
    ipptool -q "ipp://localhost:$port/ipp/system" get-system-attributes.test 2>/dev/null && break
  sleep 0.1
done
"$app" add -d card -v "socket://127.0.0.1:$(cat "$root/card/port")" -m vk4400 >"$root/add.out" 2>&1 ||
  fail "could not add the printer: $(cat "$root/add.out") $(cat "$root/server.err")"
app_uri=ipp://localhost:$port/ipp/print/card

# The card designs: the landscape test design (design.png/.pdf), one of the
# ID-1 size coloured to its edges, and a grey gradient.
python3 "$src/tests/cups/make_fixtures.py" "$root" >/dev/null || fail "cannot make the test documents"
python3 "$src/tests/app/card_documents.py" "$root" || fail "cannot make the ID-1 and gradient documents"
d=$root/design.png
cards=()  # what every card so far must be, in order

# print_app WHAT ARGS...: prints with `submit` and waits for the job to complete.
print_app() {
  local what=$1 out
  out=$("$app" submit -d card "${@:2}" 2>&1) || fail "submit refused '$what': $out"
  job_id=${out##*-}
  wait_job "$app_uri" "$job_id" 60
  [[ $job_state_line == completed,* ]] || fail "'$what' through the app ended '$job_state_line'"
}
# print_cups WHAT ARGS...: prints with lp through the driverless queue.
print_cups() {
  lp_submit card "${@:2}"
  wait_job "ipp://127.0.0.1:$cupsd_port/printers/card" "$job_id" 90
  [[ $job_state_line == completed,* ]] || fail "'$1' through the driverless queue ended '$job_state_line'"
}
# check CARD...: the cards printed so far, with these added.
check() {
  cards+=("$@")
  python3 "$src/tests/cups/check_cards.py" "$root/card/commands.bin" "$root/card" "${cards[@]}" ||
    fail "the cards are not what was printed"
}
# edges N: card N's front preview has no white line along any edge.
edges() {
  python3 "$src/tests/app/card_documents.py" --edges "$root/card/card$(printf %03d "$1")_front_preview.png" ||
    fail "card $1 does not cover the card edge to edge"
}

# The app takes PDF itself and turns a landscape page as it turns pictures.
print_app "landscape PDF" "$root/design.pdf"
check "1:colour,overlay:front=$d"
print_app "ID-1 PDF" "$root/id1.pdf"
check 1:colour,overlay
edges 2

# A driverless queue: no PPD or filter of ours, only what `lpadmin -m
# everywhere` makes of the app's IPP attributes.
start_driverless_queue "$root/cupsd" card "$app_uri"
ppd=$root/cupsd/conf/ppd/card.ppd
grep -q '^\*cupsFilter2: "[^ ]* application/pdf ' "$ppd" ||
  fail "the queue's PPD does not send PDF to the app: $(grep cupsFilter2 "$ppd")"
print_cups "landscape PDF" "$root/design.pdf"
print_cups "landscape PNG" "$d"
check "1:colour,overlay:front=$d" "1:colour,overlay:front=$d"
print_cups "ID-1 PDF" "$root/id1.pdf"
check 1:colour,overlay
edges 5

# Card options per job through the queue: the card's kind is its media type
# (the queue's MediaType), the black ribbon its grey colour model.
print_cups "magnetic stripe card" -o MediaType=MagneticStripeCard "$d"
print_cups "card without overlay" -o MediaType=NoOverlayCard "$root/design.pdf"
print_cups "chip card" -o MediaType=ChipCard "$d"
check "1:colour,overlay:bare=0,66,1013,214:front=$d" "1:colour:front=$d" "1:colour,overlay:bare=106,212,261,354:front=$d"

# Monochrome prints greys as black dots on the black ribbon: the share of
# black follows a grey gradient, directly and through the queue.
g=$root/gradient.png
print_app "grey gradient, monochrome" -o print-color-mode=monochrome "$g"
print_cups "grey gradient, grey colour model" -o ColorModel=Gray "$g"
check 1:colour:black 1:colour:black
for card in 9 10; do
  python3 "$src/tests/app/card_documents.py" --gradient "$(printf "%s/card/card%03d_front_preview.png" "$root" "$card")" ||
    fail "card $card: monochrome does not print the greys as dots"
done

# The card's kind given to the app directly (`submit` sends it as media-col).
print_app "chip card" -o media-type=chip-card "$d"
check "1:colour,overlay:bare=106,212,261,354:front=$d"

# The README's walk-through: a folder for the simulator's panels that is not
# there is an error, and a two-sided PWG file is made from pictures with
# comment lines (as Ghostscript writes them).
"$build/sim/vkrsim" --listen 0 --panels "$root/no-such-folder" >"$root/nopanels.out" 2>&1 &&
  fail "vkrsim took a panels folder that is not there"
grep -q 'no such folder' "$root/nopanels.out" || fail "vkrsim did not say the panels folder is missing"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ppmraw -r300 -sOutputFile="$root/side%d.ppm" "$root/two-sided.pdf" ||
  fail "Ghostscript could not draw the two sides"
head -c 64 "$root/side1.ppm" | grep -qa '^#' || say "note: this Ghostscript writes no comment line"
"$build/sim/rasterwrite/vkr-rasterwrite" -o "$root/two.pwg" --mode pwg --colorspace srgb --pages 2 --duplex 1 \
  --input "$root/side1.ppm" --input "$root/side2.ppm" >"$root/rasterwrite.out" 2>&1 ||
  fail "vkr-rasterwrite refused the pictures: $(cat "$root/rasterwrite.out")"
print_app "two-sided PWG raster" -o sides=two-sided-long-edge "$root/two.pwg"
check "2:colour,overlay:front=$d:back=$root/back.png"

# The web page in words: the card options and their values, the card size
# and kinds, the application's name in the header.
# The pages are read through the local socket, where root administers (the
# printing defaults and media pages are for administrators).
web=http://localhost:$port/card
page() {
  python3 - "$root/vkr-printer-app.sock" "$1" <<'PY'
import http.client, socket, sys
class Local(http.client.HTTPConnection):
    def connect(self):
        self.sock = socket.socket(socket.AF_UNIX)
        self.sock.settimeout(30)
        self.sock.connect(sys.argv[1])
connection = Local("localhost")
connection.request("GET", sys.argv[2])
answer = connection.getresponse()
if answer.status != 200:
    sys.exit("%s: HTTP %d" % (sys.argv[2], answer.status))
print(answer.read().decode())
PY
}
printing=$(page /card/printing) media=$(page /card/media)
for words in "Front overlay:" "Back overlay:" "Ribbon:" "Black text on the black panel:" "Leave the magnetic stripe uncoated" \
  "Follow the loaded ribbon" "Card (ID-1, 85.6 x 54 mm)" "Card Printer Application</a>" \
  "Two-sided (turned over the long edge)" "One-sided (front only)"; do
  [[ $printing == *"$words"* ]] || fail "the printing defaults page does not say '$words'"
done
[[ $media == *"Magnetic stripe card (stripe left uncoated)"* && $media == *"Chip card (chip left uncoated)"* ]] ||
  fail "the media page does not name the card kinds"
# The ribbon's bar as a browser draws it: 300 of a fresh ribbon's 500 cards.
for _ in $(seq 50); do [[ $(page /card/supplies) == *"(300 cards left)"* ]] && break; sleep 0.2; done
chromium --headless --no-sandbox --disable-gpu --disable-background-networking --disable-component-update \
  --disable-sync --no-first-run --user-data-dir="$root/browser" --window-size=700,300 \
  --screenshot="$root/supplies.png" "$web/supplies" >"$root/browser.out" 2>&1 ||
  fail "the browser could not show the Supplies page: $(tail -3 "$root/browser.out")"
python3 "$src/tests/app/card_documents.py" --bar "$root/supplies.png" 60 || fail "the Supplies page does not draw the ribbon's level"
# The printer's own page shows it too, as ten blocks.
[[ $(page /card) == *"Color Ribbon (300 cards left) ■■■■■■□□□□"* ]] || fail "the printer's page does not show the ribbon"
say "passed"
