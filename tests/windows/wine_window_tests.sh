#!/usr/bin/env bash
# The installer and tandel.exe under wine, on a virtual screen of this run's own, with a wine
# prefix of its own: the installer installs silently, the Start-menu entry starts the window in
# the user's working folder, the window is laid out as the Linux window is, LiveUpdate fills the
# store from the loopback update server, a kind-1 and a kind-4 run program the pty device
# simulator's devices byte for byte, and the uninstaller removes what was installed.
# The window is driven with xdotool as a user drives it; its logs are read through the
# clipboard and compared with the lines the Linux tandel-cli prints for the same runs.
#   wine_window_tests.sh WINDOWS_BUILD LINUX_BUILD [SHOTS]
# WINDOWS_BUILD holds tandel-setup-VERSION.exe; LINUX_BUILD tandel, tandel-cli and the two
# simulators. SHOTS, when given, gets a screenshot of every page (windows-*.png).
# Prints one line per case and, last, "N passed, N failed"; exits 1 when a case failed.
set -uo pipefail
if [ -z "${TANDEL_WINE_SCREEN:-}" ]; then
  TANDEL_WINE_SCREEN=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
win_build="$(cd "$1" && pwd)"
linux_build="$(cd "$2" && pwd)"
shots="${3:-}"
root="$(cd "$(dirname "$0")/../.." && pwd)"
setup="$(ls "$win_build"/tandel-setup-*.exe | head -n 1)"
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
export WINEPREFIX="$win_build/wineprefix-window" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset TANDEL_PORTS TANDEL_LIVEUPDATE_URL TANDEL_HOME QT_QPA_PLATFORM QT_SCALE_FACTOR
tmp="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  "$wineserver" -k 2>/dev/null
  wait 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

passed=0
failed=0
# verdict NAME DETAIL: the case passed when the command before it succeeded.
verdict() {
  if [ "$?" -eq 0 ]; then
    passed=$((passed + 1)); echo "ok   $1"
  else
    failed=$((failed + 1)); echo "FAIL $1: $2"
  fi
}
# until_true TENTHS COMMAND...: polls COMMAND every 0.1 s, at most TENTHS times.
until_true() {
  local n="$1"
  shift
  for _ in $(seq "$n"); do "$@" && return 0; sleep 0.1; done
  return 1
}

# --- The window, as a user works it ---------------------------------------------------------
window=""
# find_window PATTERN: the id of the first window whose title matches PATTERN (extended regex).
find_window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }
# start_window: waits for the main window, focused.
start_window() {
  window=""
  for _ in $(seq 300); do
    window="$(find_window '^TANDEL - QUORVANT')"
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || return 1
  sleep 1
  xdotool windowfocus --sync "$window"
}
# click X Y: a left click at X,Y of the main window's client area.
click() {
  xdotool mousemove --window "$window" "$1" "$2" click 1
  sleep 0.4
}
keys() {
  xdotool key --delay 60 "$@"
  sleep 0.3
}
# shoot NAME: the main window's picture as SHOTS/windows-NAME.png (and $tmp/NAME.png).
shoot() {
  import -window "$window" "$tmp/$1.png"
  [ -n "$shots" ] && cp "$tmp/$1.png" "$shots/windows-$1.png"
  return 0
}
# log_text X Y: the text of the log box at X,Y, copied as a user copies it.
log_text() {
  click "$1" "$2"
  keys ctrl+a ctrl+c
  xclip -o -selection clipboard 2>/dev/null | tr -d '\r'
}
# close_window: asks the window to close, as its close button does.
close_window() {
  "$wine" taskkill /im tandel.exe >/dev/null 2>&1
  until_true 100 test -z "$(find_window '^TANDEL - QUORVANT')"
}

# Where the page set's controls are, in the window's client area: the page's top-left corner
# is at 8,4; these are the centres of the designed controls.
start_liveupdate=(184 231) start_next=(465 231)
lu_start=(473 226) lu_back=(62 231) lu_log=(261 113)
type_row0=(127 37) type_row3=(127 82) type_next=(462 231)
firmware_row2=(111 64) firmware_next=(462 231)
prog_start=(465 231) prog_back=(62 231) prog_port=(140 221) prog_log=(261 109)

# --- The prefix -------------------------------------------------------------------------------
rm -rf "$WINEPREFIX"
t0=$SECONDS
"$wine" wineboot -i >/dev/null 2>&1
for n in 1 2; do
  "$wine" reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d /dev/null /f >/dev/null 2>&1
done
"$wineserver" -k
"$wineserver" -p
"$wine" cmd /c exit >/dev/null 2>&1
profile="$("$wine" winepath -u "$("$wine" cmd /c 'echo %USERPROFILE%' 2>/dev/null | tr -d '\r')" 2>/dev/null)"
home="$profile/TANDEL"
echo "     wine prefix ready in $((SECONDS - t0)) s"

# --- Installing -------------------------------------------------------------------------------
installed="$WINEPREFIX/drive_c/Program Files/TANDEL"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/TANDEL.lnk"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\TANDEL'
# The files the portable zip carries are the ones to install.
(cd "$win_build/portable"/tandel-* && find . -type f | sort) >"$tmp/files"
"$wine" "$setup" /S >/dev/null 2>&1
(cd "$installed" && find . -type f ! -name uninstall.exe | sort) >"$tmp/installed" 2>/dev/null
diff "$tmp/files" "$tmp/installed" >/dev/null && [ -f "$installed/uninstall.exe" ] &&
  [ -f "$menu" ] && "$wine" reg query "$uninstall_key" /v DisplayVersion >/dev/null 2>&1
verdict "the installer installs the programs, the menu entry and the uninstaller silently" \
  "$(diff "$tmp/files" "$tmp/installed" | head -n 3 | tr '\n' ' ')"

# --- The menu entry's first start: the working folder made, with the example init.cfg --------
"$wine" start /unix "$menu" >/dev/null 2>&1
start_window && cmp -s "$home/init.cfg" "$root/packaging/init.cfg.example"
verdict "the menu entry starts the window in %USERPROFILE%\\TANDEL with the example init.cfg" \
  "window ${window:-none}, $(ls "$home" 2>&1 | head -n 3 | tr '\n' ' ')"

# The window's size, and its layout against the Linux window's on the same screen and folder.
eval "$(xdotool getwindowgeometry --shell "$window" 2>/dev/null)"
shoot start
[ "${WIDTH:-0}x${HEIGHT:-0}" = 534x268 ]
verdict "the window has the designed title and client size 534x268" "${WIDTH:-?}x${HEIGHT:-?}"

(cd "$home" && exec "$linux_build/tandel") >/dev/null 2>&1 &
linux_pid=$!
linux_window=""
for _ in $(seq 100); do
  linux_window="$(xdotool search --onlyvisible --pid "$linux_pid" 2>/dev/null | head -n 1)"
  [ -n "$linux_window" ] && break
  sleep 0.1
done
sleep 1
import -window "$linux_window" "$tmp/linux-start.png" 2>/dev/null
kill "$linux_pid"
wait "$linux_pid" 2>/dev/null
# Pixels that differ by more than a tenth, and those left after a 3-pixel blur of both: glyphs
# drawn by another rasteriser differ in their strokes, a control out of place in whole areas.
differing() { compare -metric AE -fuzz 10% "$@" null: 2>&1 | cut -d' ' -f1; }
all="$(differing "$tmp/linux-start.png" "$tmp/start.png")"
blurred="$(convert "$tmp/linux-start.png" -blur 0x3 png:- | differing - <(convert "$tmp/start.png" -blur 0x3 png:-))"
echo "     start page against the Linux window: $all pixels differ, $blurred after a blur"
[ "${blurred:-999999}" -le 2000 ]
verdict "the window's layout is the Linux window's (pixel differences only in the text)" \
  "$blurred of $((534 * 268)) pixels differ after a blur"
close_window

# --- LiveUpdate against the loopback update server --------------------------------------------
server="$tmp/server"
cp "$home/init.cfg" "$tmp/example.cfg"
"$linux_build/sim/updateserver/tandel-updateserver" --make-demo "$server" --init-cfg "$home/init.cfg" >/dev/null
"$linux_build/sim/updateserver/tandel-updateserver" "$server" >"$tmp/url" 2>/dev/null &
pids+=($!)
until_true 100 test -s "$tmp/url"
export TANDEL_LIVEUPDATE_URL="$(head -n 1 "$tmp/url")"
# The lines the Linux tandel-cli prints for the same run, in a folder of its own.
mkdir -p "$tmp/cli"
cp "$home/init.cfg" "$tmp/cli/"
(cd "$tmp/cli" && "$linux_build/tandel-cli" liveupdate >"$tmp/cli-liveupdate" 2>/dev/null)

"$wine" start /unix "$menu" >/dev/null 2>&1
start_window
click "${start_liveupdate[@]}"
click "${lu_start[@]}"
until_true 300 test -f "$home/karta_auto/opis.txt"
sleep 2
shoot liveupdate
log_text "${lu_log[@]}" >"$tmp/window-liveupdate"
diff <(cd "$server/liveupdate" && find . -name '*.bin' | sort) \
  <(cd "$home" && find . -name '*.bin' | sort) >/dev/null &&
  ! (cd "$server/liveupdate" && find . -name '*.bin' |
    while read -r f; do cmp -s "$f" "$home/$f" || echo "$f"; done) | grep -q . &&
  diff "$tmp/cli-liveupdate" "$tmp/window-liveupdate" >"$tmp/diff"
verdict "LiveUpdate fills the store file for file, with the designed log lines" \
  "$(head -n 4 "$tmp/diff" | tr '\n' ' ')"

# --- Programming: kind 1 and kind 4 on the device simulator -----------------------------------
sim="$tmp/devices"
mkdir -p "$sim/flash"
"$linux_build/sim/ptydevices/tandel-devicesim" --flash-dir "$sim/flash" "$sim/ports" \
  >"$sim/log" 2>&1 &
pids+=($!)
until_true 100 grep -q '^ready' "$sim/log"
for n in 1 2; do ln -sfn "$(readlink -f "$sim/ports/COM$n")" "$WINEPREFIX/dosdevices/com$n"; done

# programmed FILE FIRMWARE: the device's flash FILE holds FIRMWARE with its last byte blank.
programmed() {
  { head -c -1 "$2"; printf '\0'; } >"$tmp/expected"
  until_true "${3:-600}" cmp -s "$1" "$tmp/expected"
}
# cli_lines TYPE FIRMWARE PORT: the Linux tandel-cli's log of the same run on the same devices.
cli_lines() {
  (cd "$home" && TANDEL_PORTS="$sim/ports" "$linux_build/tandel-cli" flash --type "$1" \
    --firmware "$2" --port "$3" --yes 2>/dev/null)
}

click "${lu_back[@]}"
click "${start_next[@]}"
click "${type_row0[@]}"
shoot device-type
click "${type_next[@]}"
click "${firmware_row2[@]}"
shoot firmware
click "${firmware_next[@]}"
click "${prog_start[@]}"
sleep 6
shoot programming-running
programmed "$sim/flash/COM1-server.bin" "$home/pelta_serwer/pelta_s_v2_01.bin"
status=$?
sleep 1
shoot programming
log_text "${prog_log[@]}" >"$tmp/window-kind1"
rm -f "$sim/flash/COM1-server.bin"
cli_lines "Serwer PELTA" pelta_s_v2_01.bin COM1 >"$tmp/cli-kind1"
[ "$status" -eq 0 ] && diff "$tmp/cli-kind1" "$tmp/window-kind1" >"$tmp/diff"
verdict "kind 1 through the window programs the server byte for byte, with the designed log" \
  "$(head -n 4 "$tmp/diff" | tr '\n' ' ')"

click "${prog_back[@]}"
click "${prog_back[@]}"
click "${type_row3[@]}"
click "${type_next[@]}"
click "${firmware_row2[@]}"
click "${firmware_next[@]}"
click "${prog_port[@]}"
keys ctrl+a C O M 2
click "${prog_start[@]}"
question=""
for _ in $(seq 200); do
  question="$(find_window '^\?$')"
  [ -n "$question" ] && break
  sleep 0.1
done
sleep 0.5
if [ -n "$question" ]; then
  eval "$(xdotool getwindowgeometry --shell "$window")"
  import -window root -crop 700x400+$((X - 80))+$((Y - 60)) +repage "$tmp/question.png"
  [ -n "$shots" ] && cp "$tmp/question.png" "$shots/windows-programming-question.png"
  xdotool windowfocus --sync "$question" key Return
fi
programmed "$sim/flash/COM2-card.bin" "$home/karta_czytnik/karta_c_v2_05.bin"
status=$?
sleep 1
log_text "${prog_log[@]}" >"$tmp/window-kind4"
cli_lines "Karta w czytniku" karta_c_v2_05.bin COM2 >"$tmp/cli-kind4"
[ -n "$question" ] && [ "$status" -eq 0 ] && diff "$tmp/cli-kind4" "$tmp/window-kind4" >"$tmp/diff"
verdict "kind 4 through the window asks, then programs the card byte for byte, with the designed log" \
  "question ${question:-not shown}; $(head -n 4 "$tmp/diff" | tr '\n' ' ')"
close_window

# --- Uninstalling: what was installed goes, the working folder stays --------------------------
"$wine" "$installed/uninstall.exe" /S >/dev/null 2>&1
until_true 300 test ! -e "$installed"
[ ! -e "$installed" ] && [ ! -e "$menu" ] && [ -f "$home/init.cfg" ] &&
  [ -f "$home/pelta_serwer/pelta_s_v2_01.bin" ] &&
  ! "$wine" reg query "$uninstall_key" >/dev/null 2>&1
verdict "the uninstaller removes what was installed and leaves the working folder" \
  "$(ls "$installed" 2>&1 | head -n 3 | tr '\n' ' ')"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
