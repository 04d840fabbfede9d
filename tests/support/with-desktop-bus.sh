#!/usr/bin/env bash
# Runs one test program as a desktop session runs it: on a session bus of its
# own with the accessibility bus up beside it (at-spi-bus-launcher, which a
# desktop starts at login), and a runtime folder of its own, so that runs
# side by side never share either. Run it inside with-display.sh: the
# accessibility bus announces itself on the X display as on a desktop.
# Without the D-Bus tools the test is skipped (status 77).
set -u
launcher=""
for candidate in /usr/libexec/at-spi-bus-launcher /usr/lib/at-spi2-core/at-spi-bus-launcher; do
  [ -x "$candidate" ] && launcher="$candidate" && break
done
if ! command -v dbus-run-session >/dev/null 2>&1 || ! command -v dbus-send >/dev/null 2>&1 || [ -z "$launcher" ]; then
  echo "SKIP: no session bus tools (dbus-run-session, dbus-send, at-spi-bus-launcher)"
  exit 77
fi
if [ -z "${KVR_DESKTOP_BUS:-}" ]; then
  runtime="$(mktemp -d)"
  chmod 700 "$runtime"
  KVR_DESKTOP_BUS=1 XDG_RUNTIME_DIR="$runtime" dbus-run-session -- bash "$0" "$@"
  status=$?
  rm -rf "$runtime"
  exit $status
fi
"$launcher" --launch-immediately >/dev/null 2>&1 &
bus=$!
for _ in $(seq 1 100); do
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null 2>&1 && break
  sleep 0.1
done
if ! dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null 2>&1; then
  echo "with-desktop-bus: the accessibility bus did not come up" >&2
  kill "$bus" 2>/dev/null
  exit 1
fi
"$@"
status=$?
kill "$bus" 2>/dev/null
wait "$bus" 2>/dev/null
exit $status
