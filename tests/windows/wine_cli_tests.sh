#!/usr/bin/env bash
# tandel-cli.exe under wine on the same simulated devices and update server as the Linux tests:
# the device simulator's pseudo-terminals are COM1 and COM2 of a wine prefix of this run's own,
# and the update server listens on 127.0.0.1. Both are the Linux build's programs.
#   wine_cli_tests.sh WINDOWS_BUILD LINUX_BUILD
# Prints one line per case and, last, "N passed, N failed"; exits 1 when a case failed.
set -uo pipefail
win_build="$(cd "$1" && pwd)"
linux_build="$(cd "$2" && pwd)"
cli_exe="$win_build/tandel-cli.exe"
devicesim="$linux_build/sim/ptydevices/tandel-devicesim"
updateserver="$linux_build/sim/updateserver/tandel-updateserver"
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
export WINEPREFIX="$win_build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset TANDEL_PORTS TANDEL_LIVEUPDATE_URL DISPLAY
tmp="$(mktemp -d)"
sim_pid=""
server_pid=""
cleanup() {
  stop_devices
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  "$wineserver" -k 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

passed=0
failed=0
# verdict NAME DETAIL: the case passed when the command before it succeeded (DETAIL must not
# run a command: that would be the status seen here).
verdict() {
  if [ "$?" -eq 0 ]; then
    passed=$((passed + 1)); echo "ok   $1"
  else
    failed=$((failed + 1)); echo "FAIL $1: $2"
    sed 's/^/     out: /' "$tmp/out" | tail -n 5; sed 's/^/     err: /' "$tmp/err" | tail -n 5
  fi
}

# cli DIR ARGS...: tandel-cli.exe in DIR with no terminal; sets status, output in $tmp/out, $tmp/err.
cli() {
  local dir="$1"
  shift
  (cd "$dir" && timeout 120 "$wine" "$cli_exe" "$@" >"$tmp/out" 2>"$tmp/err" </dev/null)
  status=$?
}

# devices NAME SIMULATOR-OPTIONS...: a device simulator of its own; the prefix's com1 and com2
# link to its pseudo-terminals, and its devices' flash goes to $flash.
devices() {
  stop_devices
  local dir="$tmp/$1"
  shift
  mkdir -p "$dir/flash"
  "$devicesim" --flash-dir "$dir/flash" "$@" "$dir/ports" >"$dir/log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do grep -qs '^ready' "$dir/log" && break; sleep 0.1; done
  for n in 1 2; do ln -sfn "$(readlink -f "$dir/ports/COM$n")" "$WINEPREFIX/dosdevices/com$n"; done
  flash="$dir/flash"
}
stop_devices() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  sim_pid=""
}

# programmed FILE FIRMWARE: the device's flash FILE holds FIRMWARE with its last byte blank (the
# last byte of a firmware file is never sent). The simulator writes FILE when the port closes.
programmed() {
  local expected="$tmp/expected"
  { head -c -1 "$2"; printf '\0'; } >"$expected"
  for _ in $(seq 50); do cmp -s "$1" "$expected" && return 0; sleep 0.1; done
  return 1
}

# same_store SERVER WORK [NAME...]: WORK's store holds the firmware files of the catalogue
# SERVER byte for byte, and no other, leaving out the files NAME (which must not be there).
same_store() {
  local server="$1" work="$2"
  shift 2
  local skip=()
  for name in "$@"; do skip+=(! -name "$name"); done
  diff <(cd "$server/liveupdate" && find . -type f -name '*.bin' "${skip[@]}" | sort) \
    <(cd "$work" && find . -type f ! -name init.cfg ! -name opis.txt | sort) >/dev/null &&
    ! (cd "$server/liveupdate" && find . -type f -name '*.bin' "${skip[@]}" |
      while read -r f; do cmp -s "$f" "$work/$f" || echo "$f"; done) | grep -q .
}

# --- The prefix: COM1 and COM2 exist (and so are listed); links are set per simulator -------
# The whole session runs without CAP_SYS_ADMIN, as an ordinary user does: a terminal held
# exclusively by another program then cannot be opened, even by root.
as_user=()
[ "$(id -u)" -eq 0 ] && as_user=(setpriv --bounding-set -sys_admin --inh-caps -sys_admin)
t0=$SECONDS
"$wineserver" -k 2>/dev/null
rm -rf "$WINEPREFIX"
"${as_user[@]}" "$wine" wineboot -i >/dev/null 2>&1
for n in 1 2; do
  "$wine" reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d /dev/null /f >/dev/null 2>&1
done
# One session for the whole run: the port links made below stay as made (a new session would
# map them again from the registry).
"$wineserver" -k
"${as_user[@]}" "$wineserver" -p >/dev/null 2>&1
"$wine" cmd /c exit >/dev/null 2>&1
echo "     wine prefix ready in $((SECONDS - t0)) s"

# --- LiveUpdate against the loopback update server ------------------------------------------
server="$tmp/server"
work="$tmp/work"
mkdir -p "$work"
"$updateserver" --make-demo "$server" --init-cfg "$work/init.cfg" >/dev/null
"$updateserver" "$server" >"$tmp/url" 2>/dev/null &
server_pid=$!
for _ in $(seq 100); do [ -s "$tmp/url" ] && break; sleep 0.1; done
TANDEL_LIVEUPDATE_URL="$(head -n 1 "$tmp/url")"
export TANDEL_LIVEUPDATE_URL

cli "$work" liveupdate
[ "$status" -eq 0 ] && same_store "$server" "$work"
verdict "liveupdate fills the store file for file" "exit $status"

# Names Windows cannot hold, listed by the server: refused (exit 7), the others stored.
bad="$tmp/bad"
mkdir -p "$bad"
cp "$work/init.cfg" "$bad/"
for name in CON 'x:y' 'aux'; do
  printf '%s\r\n' "$name" >>"$server/liveupdate/pelta_serwer/lista.txt"
  printf 'firmware' >"$server/liveupdate/pelta_serwer/$name.bin"
done
cli "$bad" liveupdate
[ "$status" -eq 7 ] && same_store "$server" "$bad" CON.bin 'x:y.bin' aux.bin
verdict "liveupdate refuses names Windows cannot hold" "exit $status"

# --- Programming each kind; the device's flash compared byte for byte ------------------------
devices good --rate 0
kinds=(
  "Serwer PELTA|COM1|pelta_serwer/pelta_s_v2_01.bin|COM1-server.bin"
  "Serwer ORN (wyszukiwanie portu)|auto|orn_serwer_auto/orn_s_v3_12.bin|COM1-server.bin"
  "Karta VESTRAND przez serwer|COM1|vestrand_karta/vestrand_k_v1_02.bin|COM1-card.bin"
  "Karta w czytniku|COM2|karta_czytnik/karta_c_v2_05.bin|COM2-card.bin"
  "Karta przez serwer (wyszukiwanie portu)|auto|karta_auto/karta_a_v4_02.bin|COM1-card.bin"
)
for row in "${kinds[@]}"; do
  IFS='|' read -r type port firmware device <<<"$row"
  rm -f "$flash/$device"
  cli "$work" flash --type "$type" --firmware "${firmware#*/}" --port "$port" --yes
  [ "$status" -eq 0 ] && programmed "$flash/$device" "$work/$firmware"
  verdict "flash \"$type\" on $port" "exit $status"
done

# --- Failures -------------------------------------------------------------------------------
devices refusal --rate 0 --fault reader:write@17=91
cli "$work" flash --type "Karta w czytniku" --firmware karta_c_v2_05.bin --port COM2 --yes
[ "$status" -eq 6 ]
verdict "a refusal at frame 17 leaves the flash partly written (exit 6)" "exit $status"

devices silent --rate 0 --fault reader:greeting=silent
cli "$work" flash --type "Karta w czytniku" --firmware karta_c_v2_05.bin --port COM2 --yes \
  --timeout 10
[ "$status" -eq 3 ]
verdict "a silent port (exit 3)" "exit $status"

# A port another program holds (a terminal program, exclusively): in use, and not a byte sent.
stop_devices
python3 - "$WINEPREFIX/dosdevices/com2" "$tmp/held" <<'EOF' &
import fcntl, os, pty, select, sys, termios, time
master, slave = pty.openpty()
fcntl.ioctl(slave, termios.TIOCEXCL)
os.unlink(sys.argv[1]) if os.path.lexists(sys.argv[1]) else None
os.symlink(os.ttyname(slave), sys.argv[1])
open(sys.argv[2] + ".ready", "w").close()
received, end = 0, time.time() + 30
while time.time() < end and not os.path.exists(sys.argv[2] + ".stop"):
    if select.select([master], [], [], 0.1)[0]:
        received += len(os.read(master, 4096))
open(sys.argv[2], "w").write(str(received))
EOF
holder=$!
for _ in $(seq 100); do [ -e "$tmp/held.ready" ] && break; sleep 0.1; done
cli "$work" flash --type "Karta w czytniku" --firmware karta_c_v2_05.bin --port COM2 --yes
touch "$tmp/held.stop"
wait "$holder"
sent="$(cat "$tmp/held")"
[ "$status" -eq 3 ] && [ "$sent" = 0 ] && grep -q 'in use' "$tmp/err"
verdict "a port held by another program is in use (exit 3, nothing sent)" \
  "exit $status, $sent bytes sent"

# Ctrl+C in the write phase: STOP, the port released, the flash reported partly written.
devices paced --rate 9600
(cd "$work" && exec timeout 120 "$wine" "$cli_exe" --json flash --type "Karta w czytniku" \
  --firmware karta_c_v2_05.bin --port COM2 --yes >"$tmp/out" 2>"$tmp/err" </dev/null) &
run=$!
for _ in $(seq 300); do grep -q '"event":"progress"' "$tmp/out" && break; sleep 0.1; done
kill -INT "$run"
wait "$run"
status=$?
[ "$status" -eq 130 ] && grep -q 'SerialPort wolny' "$tmp/out" && grep -q '"exit":130' "$tmp/out"
verdict "Ctrl+C in the write stops the run (exit 130)" "exit $status"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
