#!/usr/bin/env bash
# Runs one test program on a virtual X server of its own, so that suites
# running side by side never share a pointer, keyboard focus or clipboard (a
# hover or a drag in one suite would otherwise land in another's window).
# KVR_DISPLAY_SIZE (say 1280x720) sets the size of its screen, 1920x1080
# when unset. A suite that asked for another platform (offscreen) runs as it
# is; when Xvfb is missing, on Qt's offscreen platform with a screen of that
# size.
set -u
size=${KVR_DISPLAY_SIZE:-1920x1080}
if [ "${QT_QPA_PLATFORM:-xcb}" != xcb ]; then
  exec "$@"
fi
if ! command -v Xvfb >/dev/null 2>&1; then
  config=$(mktemp --suffix=.json)
  printf '{ "screens": [ { "name": "screen", "x": 0, "y": 0, "width": %s, "height": %s } ] }\n' \
    "${size%x*}" "${size#*x}" >"$config"
  QT_QPA_PLATFORM="offscreen:configfile=$config" "$@"
  status=$?
  rm -f "$config"
  exit $status
fi
tmp=$(mktemp -d)
# -displayfd picks a free display number itself and writes it once the
# server is ready, so parallel starts never race for one.
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
server=$!
for _ in $(seq 1 200); do
  grep -q . "$tmp/display" 2>/dev/null && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.05
done
number=$(head -n 1 "$tmp/display" 2>/dev/null)
if [ -z "$number" ]; then
  echo "with-display: Xvfb did not start" >&2
  cat "$tmp/xvfb.log" >&2
  kill "$server" 2>/dev/null
  rm -rf "$tmp"
  exit 1
fi
export DISPLAY=":$number" QT_QPA_PLATFORM=xcb
"$@"
status=$?
# A suite that failed because its display went away says so, with what the
# server wrote, rather than leaving only the program's "could not connect".
if [ "$status" -ne 0 ] && ! kill -0 "$server" 2>/dev/null; then
  echo "with-display: the X server of display :$number ended during the run" >&2
  cat "$tmp/xvfb.log" >&2
fi
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
rm -rf "$tmp"
exit $status
