#!/usr/bin/env bash
# The window on a virtual screen with the accessibility bus on, walked by accessibility_walk.py.
#   accessibility-walk.sh TANDEL-PROGRAM
# Exits 77 (skipped) where Xvfb, D-Bus, at-spi2-core or pyatspi is missing.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
program="$1"
for tool in xvfb-run dbus-run-session /usr/libexec/at-spi-bus-launcher; do
  command -v "$tool" >/dev/null || { echo "no $tool"; exit 77; }
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "no pyatspi"; exit 77; }

if [ -z "${TANDEL_WALK_INNER:-}" ]; then
  export TANDEL_WALK_INNER=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" dbus-run-session -- "$0" "$@"
fi

work="$(mktemp -d)"
trap 'kill "${app:-}" "${bus:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
printf 'Serwer PELTA:pelta 1\r\nKarta w czytniku:karta 4\r\n' >"$work/init.cfg"
mkdir -p "$work/pelta" && head -c 15180 /dev/zero >"$work/pelta/v1_01.bin"
/usr/libexec/at-spi-bus-launcher --launch-immediately &
bus=$!
sleep 1
# The X keyboard library reads past a string's end where a sanitized build is strict about it.
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:strict_string_checks=0:detect_leaks=0"
(cd "$work" && unset QT_QPA_PLATFORM && QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 exec "$program") &
app=$!
/usr/bin/python3 "$here/accessibility_walk.py"
