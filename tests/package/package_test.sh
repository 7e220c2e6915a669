#!/usr/bin/env bash
# The Debian packages, built and installed as an administrator would:
# CPack builds them from the build folder; their contents are exactly the
# files each must hold, with Debian's modes and owners, nothing of the
# simulator or the tests; lintian finds no error or warning; they install
# with apt; the service unit passes `systemd-analyze verify`, the man pages
# render; `lpinfo -m` of a cupsd on the system's folders lists the model and
# the installed filter prints a card to the simulator; the service's own
# command line, run as its user, serves the sub-commands through
# /run/vkr-printer-app.sock, takes a printer and prints a card, and stops on
# SIGTERM; purged, nothing they installed is left.
#   package_test.sh BUILD_DIR SOURCE_DIR
# Exit 0 passed, 1 failed, 77 skipped (not root, or the packages are already
# installed; a failure under CI=true).
set -uo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
export PYTHONDONTWRITEBYTECODE=1 DEBIAN_FRONTEND=noninteractive

say() { printf 'package-test: %s\n' "$*"; }
source "$src/tests/support/print_e2e.sh"
e2e_begin package
fail_logs=("$root/log/error_log" "$root/server.err")
need_tools cpack dpkg-deb dpkg-query lintian systemd-analyze man apt-get setpriv cupsd lpadmin lpinfo lp ipptool
[[ $(id -u) -eq 0 ]] || skip "installing packages needs root"
for pkg in rastertovkr vkr-printer-app; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'installed' &&
    skip "$pkg is installed already: the test would replace and purge it"
done

# Purges what the test installed and stops what it started, whatever happened.
installed=""
finish() {
  [[ -n ${server_pid:-} ]] && kill -KILL "$server_pid" 2>/dev/null
  [[ -n $installed ]] && apt-get purge -y -qq rastertovkr vkr-printer-app >"$root/purge-at-exit.log" 2>&1
  e2e_end
}
trap finish EXIT

# --- Build -----------------------------------------------------------------
debs=$root/debs
(cd "$build" && cpack --config CPackConfig.cmake -G DEB -B "$debs") >"$root/cpack.log" 2>&1 ||
  { cat "$root/cpack.log"; fail "cpack could not build the packages"; }
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
filter_deb=$debs/rastertovkr_${version}_amd64.deb app_deb=$debs/vkr-printer-app_${version}_amd64.deb
[[ -f $filter_deb && -f $app_deb ]] || fail "no rastertovkr and vkr-printer-app packages of version '$version' in: $(ls "$debs")"
for deb in "$filter_deb" "$app_deb"; do say "$(basename "$deb"): $(stat -c %s "$deb") bytes"; done

# --- Contents --------------------------------------------------------------
# Every file (not folder) of a package with its mode and owner, one a line.
files_of() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ {sub(/^\.\//, "", $6); print $1, $2, $6}' | sort; }
expect_files() {
  local deb=$1 want got
  want=$(printf '%s\n' "${@:2}" | sort)
  got=$(files_of "$deb")
  [[ $got == "$want" ]] || fail "$(basename "$deb") holds other files than it must:
$(diff <(echo "$want") <(echo "$got") | sed 's/^</  missing:/; s/^>/  unexpected:/' | grep -v '^---\|^[0-9]')"
}
x='-rwxr-xr-x root/root' r='-rw-r--r-- root/root'
expect_files "$filter_deb" "$x usr/lib/cups/filter/rastertovkr" "$x usr/lib/cups/filter/commandtovkr" \
  "$r usr/share/cups/model/vkr/vk4400.ppd" "$r usr/share/man/man8/rastertovkr.8.gz" \
  "$r usr/share/man/man8/commandtovkr.8.gz" "$r usr/share/doc/rastertovkr/copyright" \
  "$r usr/share/doc/rastertovkr/changelog.gz"
expect_files "$app_deb" "$x usr/bin/vkr-printer-app" "$x usr/lib/vkr-printer-app/vkr-card-worker" \
  "$r lib/systemd/system/vkr-printer-app.service" \
  "$r lib/systemd/system/vkr-printer-app-autoadd.service" "$r lib/udev/rules.d/70-vkr-printer-app.rules" \
  "$r usr/share/man/man1/vkr-printer-app.1.gz" "$r usr/share/doc/vkr-printer-app/copyright" \
  "$r usr/share/doc/vkr-printer-app/changelog.gz"
# Dependencies from the libraries the programs link.
[[ $(dpkg-deb -f "$filter_deb" Depends) == *libcups2* ]] || fail "rastertovkr does not depend on libcups2"
[[ $(dpkg-deb -f "$app_deb" Depends) == *libpappl1* ]] || fail "vkr-printer-app does not depend on libpappl1"
for script in postinst prerm postrm; do
  dpkg-deb -I "$app_deb" "$script" >/dev/null 2>&1 || fail "vkr-printer-app has no $script"
done

# --- lintian ---------------------------------------------------------------
lintian --fail-on error,warning "$filter_deb" "$app_deb" >"$root/lintian.log" 2>&1 ||
  { cat "$root/lintian.log"; fail "lintian reports errors or warnings"; }
say "lintian: no errors or warnings"

# --- Install ---------------------------------------------------------------
# What the packages hold that is not on the machine yet: it must be gone again after the purge.
new_paths=$(for deb in "$filter_deb" "$app_deb"; do dpkg-deb -c "$deb" | awk '{sub(/^\./, "", $6); sub(/\/$/, "", $6); print $6}'; done |
  sort -u | while read -r path; do [[ -n $path && ! -e $path && ! -L $path ]] && echo "$path"; done)
installed=yes
chmod 0755 "$debs" && chmod 0644 "$debs"/*.deb  # apt reads them as _apt
apt-get install -y -qq --no-install-recommends "$filter_deb" "$app_deb" >"$root/install.log" 2>&1 ||
  { cat "$root/install.log"; fail "apt could not install the packages"; }
unit=/lib/systemd/system/vkr-printer-app.service autoadd_unit=/lib/systemd/system/vkr-printer-app-autoadd.service
systemd-analyze verify "$unit" "$autoadd_unit" >"$root/verify.log" 2>&1 ||
  { cat "$root/verify.log"; fail "systemd-analyze does not accept the units"; }
[[ -L /etc/systemd/system/multi-user.target.wants/vkr-printer-app.service ]] || fail "the service is not enabled"
for page in /usr/share/man/man1/vkr-printer-app.1.gz /usr/share/man/man8/{rastertovkr,commandtovkr}.8.gz; do
  out=$(MANWIDTH=80 man --warnings -l "$page" 2>"$root/man.err")
  [[ ! -s $root/man.err && $out == *NAME* && $out == *DESCRIPTION* ]] ||
    { cat "$root/man.err"; fail "$page does not render cleanly"; }
done
[[ $(vkr-printer-app --version) == "$version" ]] || fail "vkr-printer-app --version says '$(vkr-printer-app --version)', not $version"
id -nG vkr-printer-app 2>/dev/null | grep -qw lp || fail "the service's user vkr-printer-app is not in group lp"
[[ $(stat -c '%U %a' /var/spool/vkr-printer-app 2>&1) == "vkr-printer-app 700" ]] ||
  fail "the spool folder is not the service user's alone: $(stat -c '%U %a' /var/spool/vkr-printer-app 2>&1)"

# Where systemd runs, the package started the service: it must be running
# and come back after a restart; then it makes way for the run below.
if [[ -d /run/systemd/system ]]; then
  systemctl is-active --quiet vkr-printer-app || fail "the service is not running after the install"
  systemctl restart vkr-printer-app && systemctl is-active --quiet vkr-printer-app ||
    fail "the service does not come back after systemctl restart"
  systemctl stop vkr-printer-app || fail "systemctl stop failed"
fi

# The driver a device ID gets (the auto-add callback of the installed program).
drivers() {
  vkr-printer-app drivers -o server-port="$(free_port)" -o state-file="$root/drivers.state" -o device-id="$1" 2>/dev/null
}
[[ $(drivers 'MFG:Generic;MDL:VK4400;CLS:PRINTER;') == 'vk4400 '* ]] || fail "the card printer's device ID gets no driver"
[[ -z $(drivers 'MFG:Generic;MDL:VK2200;') ]] || fail "another printer's device ID gets the card driver"

# --- The filter through CUPS -----------------------------------------------
mkdir -p "$root/cupsd-sim"
"$build/sim/vkrsim" --listen 0 --port-file "$root/cupsd-sim/port" --log "$root/cupsd-sim/printer.log" \
  >"$root/cupsd-sim/sim.out" 2>&1 &
pids+=($!)
start_private_cupsd "$root" "$(cups-config --serverbin)" "$(cups-config --datadir)" "FileDevice No"
lpinfo -m 2>"$root/lpinfo.err" | grep -q '^vkr/vk4400.ppd Generic VK4400 Card Printer' ||
  { cat "$root/lpinfo.err"; fail "lpinfo -m does not list the installed PPD"; }
for _ in $(seq 50); do [[ -s $root/cupsd-sim/port ]] && break; sleep 0.1; done
lpadmin -p card -E -v "socket://127.0.0.1:$(cat "$root/cupsd-sim/port")" -m vkr/vk4400.ppd ||
  fail "lpadmin could not make a queue with the installed PPD"
rw=$build/sim/rasterwrite/vkr-rasterwrite
"$rw" --input "$src/sim/samples/member-card.ppm" -o "$root/card.ras" &&
  "$rw" --input "$src/sim/samples/member-card.ppm" --mode pwg --colorspace srgb -o "$root/card.pwg" ||
  fail "cannot write the sample card"
lp_submit card -o document-format=application/vnd.cups-raster "$root/card.ras"
cups_job=$job_id

# --- The service's command line, as its user --------------------------------
# A unit's setting, with "$$" read as "$" as systemd reads it.
unit_line() { sed -n "s/^$1=//p" "${2:-$unit}" | sed 's/\$\$/$/g'; }
# ExecStart, ExecStartPost and the environment as the unit has them, the
# folders systemd makes for it; the port moved to a free one, the pauses
# removed by the test preload.
port=$(free_port)
read -r -a exec_start <<<"$(unit_line ExecStart | sed "s/server-port=8631/server-port=$port/")"
install -d -o vkr-printer-app -g vkr-printer-app -m 0700 /var/lib/vkr-printer-app
install -d -o vkr-printer-app -g vkr-printer-app -m 0755 /run/vkr-printer-app
mkdir -p "$root/app-sim" && chmod 0777 "$root/app-sim"
"$build/sim/vkrsim" --listen 0 --port-file "$root/app-sim/port" --log "$root/app-sim/printer.log" \
  >"$root/app-sim/sim.out" 2>&1 &
pids+=($!)
cp "$build/tests/support/libvkr_nosleep.so" "$root/" && chmod 0755 "$root/libvkr_nosleep.so"
env -i PATH=/usr/bin:/bin "$(unit_line Environment)" LD_PRELOAD="$root/libvkr_nosleep.so" \
  setpriv --reuid=vkr-printer-app --regid=vkr-printer-app --init-groups "${exec_start[@]}" \
  >"$root/server.out" 2>"$root/server.err" &
server_pid=$!
# "+": systemd runs these as root.
eval "$(unit_line ExecStartPost | sed 's/^+//')" || fail "the unit's ExecStartPost failed"
for _ in $(seq 100); do [[ -S /run/vkr-printer-app.sock ]] && break; sleep 0.1; done
[[ -S /run/vkr-printer-app.sock ]] || fail "the service's socket is not reached at /run/vkr-printer-app.sock"
vkr-printer-app add -d card -v "socket://127.0.0.1:$(cat "$root/app-sim/port")" -m vk4400 >"$root/add.out" 2>&1 ||
  fail "root's sub-command could not add a printer to the service: $(cat "$root/add.out")"
out=$(vkr-printer-app submit -d card "$root/card.pwg" 2>&1) || fail "submit refused: $out"
app_job=${out##*-}
wait_job "ipp://localhost:$port/ipp/print/card" "$app_job" 60
[[ $job_state_line == completed,* ]] || fail "the service's job ended '$job_state_line'"
grep -q '^#[0-9]* \$PTS' "$root/app-sim/printer.log" || fail "no card reached the service's printer"
# The auto-add unit's commands, as its user: with no USB printer here it adds
# nothing, and it reaches the service instead of starting a private server.
as_user() { env -i PATH=/usr/bin:/bin setpriv --reuid=vkr-printer-app --regid=vkr-printer-app --init-groups "$@"; }
as_user /bin/sh -c "$(unit_line ExecStartPre "$autoadd_unit" | sed "s/^\/bin\/sh -c '//; s/'$//")" ||
  fail "the auto-add unit's wait for the socket failed"
read -r -a autoadd <<<"$(unit_line ExecStart "$autoadd_unit")"
as_user "${autoadd[@]}" >"$root/autoadd.out" 2>&1 || fail "autoadd failed: $(cat "$root/autoadd.out")"
[[ ! -e /tmp/vkr-printer-app$(id -u vkr-printer-app).sock ]] || fail "autoadd started a private server"
[[ $(vkr-printer-app printers 2>&1) == card ]] || fail "the service's printers changed: $(vkr-printer-app printers 2>&1)"
kill -TERM "$server_pid"
for _ in $(seq 100); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$server_pid" 2>/dev/null && fail "the service did not stop on SIGTERM"
wait "$server_pid"
status=$? server_pid=""
[[ $status -eq 0 ]] || fail "the service exited with status $status on SIGTERM"
grep -q '^<Printer .*card' /var/lib/vkr-printer-app/vkr-printer-app.state 2>/dev/null ||
  fail "the service did not keep its printer in its state file"
eval "$(unit_line ExecStopPost | sed 's/^+//')" || fail "the unit's ExecStopPost failed"
[[ -e /run/vkr-printer-app.sock || -L /run/vkr-printer-app.sock ]] && fail "the socket's link is left after the stop"

wait_job "ipp://127.0.0.1:$cupsd_port/printers/card" "$cups_job" 90
[[ $job_state_line == completed,* ]] || fail "the CUPS job ended '$job_state_line'"
grep -q '^#[0-9]* \$PTS' "$root/cupsd-sim/printer.log" || fail "the installed filter sent no card"
stop_private_cupsd
cupsd_pid=""

# --- Purge -----------------------------------------------------------------
apt-get purge -y -qq rastertovkr vkr-printer-app >"$root/purge.log" 2>&1 ||
  { cat "$root/purge.log"; fail "apt could not purge the packages"; }
installed=""
left=()
for path in $new_paths /var/lib/vkr-printer-app /var/spool/vkr-printer-app /run/vkr-printer-app \
  /run/vkr-printer-app.sock /etc/systemd/system/multi-user.target.wants/vkr-printer-app.service \
  /etc/systemd/system/vkr-printer-app.service /var/lib/systemd/deb-systemd-helper-enabled/vkr-printer-app.service.dsh-also \
  /var/lib/systemd/deb-systemd-helper-masked/vkr-printer-app.service; do
  [[ -e $path || -L $path ]] && left+=("$path")
done
((${#left[@]} == 0)) || fail "left after the purge: ${left[*]}"
getent passwd vkr-printer-app >/dev/null && fail "the user vkr-printer-app is left after the purge"
say "built, checked, installed, printed and purged the packages"
