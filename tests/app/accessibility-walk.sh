#!/usr/bin/env bash
# accessibility-walk.sh PROGRAM: the window on a virtual screen with the accessibility bus on,
# walked by accessibility_walk.py. Exits 77 (skipped) without Xvfb, D-Bus, at-spi2 or pyatspi.
set -euo pipefail
for tool in xvfb-run dbus-run-session /usr/libexec/at-spi-bus-launcher; do
  command -v "$tool" >/dev/null || { echo "no $tool"; exit 77; }
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "no pyatspi"; exit 77; }
if [ -z "${TANDEL_WALK_INNER:-}" ]; then
  TANDEL_WALK_INNER=1 exec xvfb-run -a dbus-run-session -- "$0" "$@"
fi
work="$(mktemp -d)"
trap 'kill "${app:-}" "${bus:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
printf 'Serwer PELTA:pelta 1\r\nKarta w czytniku:karta 4\r\n' >"$work/init.cfg"
/usr/libexec/at-spi-bus-launcher --launch-immediately &
bus=$!
sleep 1
# The X keyboard library reads past a string's end where a sanitized build is strict about it.
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:strict_string_checks=0:detect_leaks=0"
(cd "$work" && QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 exec "$1") &
app=$!
/usr/bin/python3 "$(dirname "$0")/accessibility_walk.py"
