#!/usr/bin/env bash
# The installer and tandel.exe under wine, on a virtual screen and in a prefix of this run's own,
# driven with xdotool as a user drives them. The logs are copied through the clipboard and
# compared with what the Linux tandel-cli prints for the same runs; the devices and the update
# server are the Linux build's simulators.
#   wine_window_tests.sh WINDOWS_BUILD LINUX_BUILD [SHOTS]   (SHOTS gets windows-PAGE.png)
# Prints one line per case and, last, "N passed, N failed"; exits 1 when a case failed.
set -uo pipefail
[ -z "${TANDEL_WINE_SCREEN:-}" ] &&
  TANDEL_WINE_SCREEN=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
win="$(cd "$1" && pwd)" lin="$(cd "$2" && pwd)" shots="${3:-}"
wine=/usr/lib/wine/wine64
export WINEPREFIX="$win/wineprefix-window" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset TANDEL_PORTS TANDEL_LIVEUPDATE_URL TANDEL_HOME QT_QPA_PLATFORM QT_SCALE_FACTOR
tmp="$(mktemp -d)" pids=() passed=0 failed=0
export XDG_STATE_HOME="$tmp/state"  # the Linux programs' journal, never the user's
trap 'kill "${pids[@]}" 2>/dev/null; /usr/lib/wine/wineserver -k; rm -rf "$tmp"' EXIT
verdict() {  # NAME DETAIL-COMMAND: the case passed when the command before it succeeded
  if [ "$?" -eq 0 ]; then passed=$((passed + 1)); echo "ok   $1"
  else failed=$((failed + 1)); echo "FAIL $1: $(eval "$2")"; fi
}
poll() { for _ in $(seq "$1"); do "${@:2}" && return 0; sleep 0.1; done; return 1; }
window_id() { window="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)"; [ -n "$window" ]; }
start_menu_entry() { "$wine" start /unix "$menu" >/dev/null 2>&1; poll 300 window_id '^TANDEL - QUORVANT' && main="$window" && sleep 1; }
close_window() {  # as the close button does; the program must be gone before it is removed
  "$wine" taskkill /im tandel.exe >/dev/null 2>&1
  poll 100 eval '! window_id "^TANDEL - QUORVANT"' && sleep 1
}
click() { xdotool mousemove --window "$main" "$1" "$2" click 1; sleep 0.4; }
shoot() { [ -n "${main:-}" ] && import -window "$main" "$tmp/$1.png"; [ -z "$shots" ] || cp "$tmp/$1.png" "$shots/windows-$1.png"; }
log_text() {  # X Y: the log box's text, selected and copied as a user does
  click "$1" "$2"; xdotool key ctrl+a ctrl+c; sleep 0.3
  xclip -o -selection clipboard | tr -d '\r'; echo
}
same_lines() { diff "$tmp/cli-$1" "$tmp/window-$1" >"$tmp/diff"; }
# Centres of the designed controls in the client area (the page's corner is at 8,4).
start_lu=(184 231) next=(463 231) back=(62 231) lu_start=(473 226) lu_log=(261 113)
type0=(127 37) type3=(127 82) firmware2=(111 68) port=(140 221) log=(261 109)

rm -rf "$WINEPREFIX"
"$wine" wineboot -i >/dev/null 2>&1
for n in 1 2; do "$wine" reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d /dev/null /f >/dev/null 2>&1; done
/usr/lib/wine/wineserver -k; /usr/lib/wine/wineserver -p >/dev/null 2>&1  # one session: the COM links stay as made
home="$("$wine" winepath -u "$("$wine" cmd /c 'echo %USERPROFILE%' | tr -d '\r')")/TANDEL"
installed="$WINEPREFIX/drive_c/Program Files/TANDEL"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/TANDEL.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\TANDEL'

"$wine" "$win"/tandel-setup-*.exe /S
diff <(cd "$win"/portable/tandel-* && find . -type f | sort) \
  <(cd "$installed" && find . -type f ! -name uninstall.exe | sort) &&
  [ -f "$installed/uninstall.exe" ] && [ -f "$menu" ] && "$wine" reg query "$key" >/dev/null 2>&1
verdict "the installer installs the zip's files, the menu entry and the uninstaller silently" 'ls "$installed"'

start_menu_entry && cmp -s "$home/init.cfg" "$installed/init.cfg.example"
verdict "the menu entry starts the window in %USERPROFILE%\\TANDEL, given the example init.cfg" \
  'echo "window ${main:-none}"; ls "$home"'
eval "$(xdotool getwindowgeometry --shell "$main")"
shoot start
[ "${WIDTH}x${HEIGHT}" = 534x268 ]
verdict "the window has the designed title and client size" 'echo "${WIDTH}x${HEIGHT}"'
# The Linux window in the same folder on the same screen: after a blur, glyphs drawn by another
# rasteriser leave only faint differences, a control out of place whole areas.
# (A sanitized build on X: libxkbcommon's strndup trips ASan's strict string checks.)
(cd "$home" && ASAN_OPTIONS=detect_leaks=0 exec "$lin/tandel") >/dev/null 2>&1 &
pids+=($!)
linux_id() { linux="$(xdotool search --onlyvisible --pid "${pids[-1]}" 2>/dev/null | head -n 1)"; [ -n "$linux" ]; }
# Without a window id import would wait for a click on the screen: no window, no picture.
poll 300 linux_id && sleep 1 && import -window "$linux" "$tmp/linux.png"
kill "${pids[-1]}"
for f in linux start; do convert "$tmp/$f.png" -blur 0x3 "$tmp/$f-blurred.png"; done
differing=$(compare -metric AE -fuzz 10% "$tmp/linux-blurred.png" "$tmp/start-blurred.png" null: 2>&1)
echo "     $differing of $((WIDTH * HEIGHT)) pixels differ from the Linux window's after a blur"
[ "${differing:-999999}" -le 400 ]
verdict "the start page is laid out as the Linux window's" 'echo "$differing pixels differ"'
close_window

# LiveUpdate: the store filled from the loopback update server, the log as the Linux tandel-cli's.
sim="$lin/sim"
"$sim/updateserver/tandel-updateserver" --make-demo "$tmp/server" --init-cfg "$home/init.cfg" >/dev/null
"$sim/updateserver/tandel-updateserver" "$tmp/server" >"$tmp/url" 2>/dev/null &
pids+=($!)
poll 100 test -s "$tmp/url"
export TANDEL_LIVEUPDATE_URL="$(head -n 1 "$tmp/url")"
mkdir "$tmp/cli" && cp "$home/init.cfg" "$tmp/cli/"
(cd "$tmp/cli" && "$lin/tandel-cli" liveupdate >"$tmp/cli-liveupdate" 2>/dev/null)
(cd "$tmp/cli" && find . -type f | sort) >"$tmp/store"
store_filled() {  # the window's store is tandel-cli's, file for file
  (cd "$home" && find . -type f | sort) | diff -q - "$tmp/store" >/dev/null &&
    (cd "$tmp/cli" && while read -r f; do cmp -s "$f" "$home/$f" || exit 1; done <"$tmp/store")
}
start_menu_entry
click "${start_lu[@]}"
click "${lu_start[@]}"
poll 600 store_filled
sleep 1
shoot liveupdate
log_text "${lu_log[@]}" >"$tmp/window-liveupdate"
store_filled && same_lines liveupdate
verdict "LiveUpdate fills the store file for file, with the designed log" 'head -c 300 "$tmp/diff"'

# Programming kinds 1 and 4 on the pty devices (COM1 and COM2 of the prefix).
"$sim/ptydevices/tandel-devicesim" --flash-dir "$tmp/flash" "$tmp/ports" >"$tmp/sim" 2>&1 &
pids+=($!)
poll 100 grep -q '^ready' "$tmp/sim"
for n in 1 2; do ln -sfn "$(readlink -f "$tmp/ports/COM$n")" "$WINEPREFIX/dosdevices/com$n"; done
programmed() {  # FLASH FIRMWARE: the flash holds the firmware, its never-sent last byte blank
  { head -c -1 "$2"; printf '\0'; } >"$tmp/expected"
  poll 600 cmp -s "$1" "$tmp/expected"
}
program() {  # NAME TYPE-ROW PORT TYPE FIRMWARE FLASH: a run through the window, then tandel-cli's
  click ${2}; [ "$1" = kind1 ] && shoot device-type; click "${next[@]}"
  click "${firmware2[@]}"; [ "$1" = kind1 ] && shoot firmware; click "${next[@]}"
  click "${port[@]}"; xdotool key ctrl+a; xdotool type "$3"
  click "${next[@]}"
  if [ "$1" = kind4 ]; then
    poll 200 window_id '^\?$' && sleep 0.5 && question="$window" || return 1
    eval "$(xdotool getwindowgeometry --shell "$main")"
    import -window root -crop "${WIDTH}x${HEIGHT}+$X+$Y" +repage "$tmp/q.png"
    [ -z "$shots" ] || cp "$tmp/q.png" "$shots/windows-programming-question.png"
    xdotool windowfocus --sync "$question" key Return
  else
    sleep 8; shoot programming-running
  fi
  programmed "$tmp/flash/$6" "$home/$5" || return 1
  sleep 1
  [ "$1" = kind1 ] && shoot programming
  log_text "${log[@]}" >"$tmp/window-$1"
  (cd "$home" && TANDEL_PORTS="$tmp/ports" "$lin/tandel-cli" flash --type "$4" \
    --firmware "${5#*/}" --port "$3" --yes >"$tmp/cli-$1" 2>/dev/null)
  same_lines "$1"
}
click "${back[@]}"; click "${next[@]}"  # LiveUpdate, start, device types
program kind1 "${type0[*]}" COM1 "Serwer PELTA" pelta_serwer/pelta_s_v2_01.bin COM1-server.bin
verdict "kind 1 through the window programs the server byte for byte, with the designed log" \
  'head -c 300 "$tmp/diff"'
click "${back[@]}"; click "${back[@]}"  # programming, firmware, device types
program kind4 "${type3[*]}" COM2 "Karta w czytniku" karta_czytnik/karta_c_v2_05.bin COM2-card.bin
verdict "kind 4 through the window asks, then programs the card byte for byte, with the designed log" \
  'head -c 300 "$tmp/diff"'
close_window

"$wine" "$installed/uninstall.exe" /S
uninstalled() { [ ! -e "$installed" ] && [ ! -e "$menu" ] && ! "$wine" reg query "$key" >/dev/null 2>&1; }
poll 900 uninstalled && [ -f "$home/pelta_serwer/pelta_s_v2_01.bin" ] && [ -f "$home/init.cfg" ]
verdict "the uninstaller removes what was installed, never the working folder" \
  'ls "$installed" "$menu" "$home"'
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
