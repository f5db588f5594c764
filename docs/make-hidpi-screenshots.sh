#!/usr/bin/env bash
# Screenshots of the window at the device pixel ratios 1, 1.5 and 2 (docs/hidpi-*.png), driven
# by the keyboard alone: a UTF-8 init.cfg and a store of unsorted file names.
# Needs a built tandel (build/ or the folder given), xvfb, ImageMagick and xdotool.
#
#   docs/make-hidpi-screenshots.sh [build folder]
set -euo pipefail
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi
root="$(cd "$(dirname "$0")/.." && pwd)"
tandel="${1:-$root/build}/tandel"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

printf 'Serwer PELTA (łącze szeregowe):pelta 1\r\nKarta w czytniku – żółta:czytnik 4\r\n' >"$work/init.cfg"
mkdir -p "$work/pelta"
for name in v2_01 v1_07 V1_10 v1_9 v1_04; do head -c 15180 /dev/zero >"$work/pelta/$name.bin"; done
printf 'Wersja 1.10: poprawiona obsługa zasilania.\r\nŹródło: serwis Quorvant.\r\n' >"$work/pelta/opis.txt"

shoot() {  # scale name
  local scale="$1" tag="$2"
  (
    cd "$work"
    export QT_SCALE_FACTOR="$scale"
    "$tandel" &
    pid=$!
    for _ in $(seq 50); do
      id="$(xdotool search --name 'TANDEL - QUORVANT' 2>/dev/null | head -1 || true)"
      [ -n "$id" ] && break
      sleep 0.2
    done
    sleep 1
    xdotool windowfocus --sync "$id"
    key() { xdotool key --delay 150 "$@"; sleep 0.4; }
    import -window "$id" "$root/docs/hidpi-$tag-start.png"
    key Tab Return          # start page: DALEJ
    key Down Tab Tab        # device-type page: first row, focus on DALEJ
    import -window "$id" "$root/docs/hidpi-$tag-device-type.png"
    key Return Down         # firmware page: the sorted list, first file chosen
    import -window "$id" "$root/docs/hidpi-$tag-firmware.png"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
  )
}

shoot 1 1x
shoot 1.5 1.5x
shoot 2 2x
