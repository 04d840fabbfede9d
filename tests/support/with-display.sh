#!/usr/bin/env bash
# Runs one test program on a virtual X server of its own, so that suites
# running side by side never share a pointer, keyboard focus or clipboard (a
# hover or a drag in one suite would otherwise land in another's window).
# KVR_DISPLAY_SIZE (say 1280x720) sets the size of its screen, 1920x1080
# when unset. KVR_DISPLAY_PANEL (say 40) runs a window manager (openbox) and a
# panel of that height along the screen's bottom edge (tint2) on it, as a
# laptop's desktop has: windows get frames and title bars, and the area
# windows may take is the screen less the panel. A suite that asked for another platform (offscreen) runs as it
# is; when Xvfb is missing, on Qt's offscreen platform with a screen of that
# size.
set -u
# Qt Test ends a test function that runs past 5 minutes, whatever the suite's
# own limit: a long function (a screen audit's walk of every window) on a
# sanitized build and a busy machine went past it well within the limit
# CTest holds for the suite (scaled for sanitized builds). The suite's limit
# is the one that counts.
export QTEST_FUNCTION_TIMEOUT="${QTEST_FUNCTION_TIMEOUT:-3600000}"
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
server=
# A display number of its own, drawn at random from a wide range: a number
# that another suite's server has just given up is not taken again while that
# server, ending, may still remove the number's socket (clients of the new
# server then "could not connect"). Xvfb writes the number on -displayfd once
# it is ready, and ends at once when the number is taken: another is drawn.
# The server never resets: by default it does so whenever its last client
# leaves, and drops every client that has connected but not yet said hello.
# A suite's program starting while a helper that only read a property of the
# screen (the accessibility library does so) leaves is such a client, and
# ends with "could not connect to display".
for _ in $(seq 1 20); do
  candidate=$((RANDOM % 30000 + 100))
  [ -e "/tmp/.X$candidate-lock" ] || [ -e "/tmp/.X11-unix/X$candidate" ] && continue
  : >"$tmp/display"
  Xvfb ":$candidate" -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset 3>"$tmp/display" 2>"$tmp/xvfb.log" &
  server=$!
  for _ in $(seq 1 200); do
    grep -q . "$tmp/display" 2>/dev/null && break
    kill -0 "$server" 2>/dev/null || break
    sleep 0.05
  done
  grep -q . "$tmp/display" 2>/dev/null && break
  kill "$server" 2>/dev/null
  wait "$server" 2>/dev/null
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
desktop=()
if [ -n "${KVR_DISPLAY_PANEL:-}" ]; then
  if ! command -v openbox >/dev/null 2>&1 || ! command -v tint2 >/dev/null 2>&1 || ! command -v xprop >/dev/null 2>&1; then
    echo "with-display: a window manager and a panel are asked for, but openbox, tint2 or xprop is missing" \
      "(bash .ci/install-deps.sh installs them)" >&2
    kill "$server" 2>/dev/null
    rm -rf "$tmp"
    exit 1
  fi
  cat >"$tmp/openbox.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <focus><focusNew>yes</focusNew><followMouse>no</followMouse></focus>
  <placement><policy>Smart</policy></placement>
  <desktops><number>1</number></desktops>
</openbox_config>
XML
  printf '%s\n' 'panel_items = T' "panel_size = 100% ${KVR_DISPLAY_PANEL}" 'panel_position = bottom center horizontal' \
    'panel_layer = top' 'strut_policy = follow_size' 'autohide = 0' 'wm_menu = 0' >"$tmp/tint2rc"
  openbox --sm-disable --config-file "$tmp/openbox.xml" >"$tmp/openbox.log" 2>&1 &
  wm=$!
  tint2 -c "$tmp/tint2rc" >"$tmp/tint2.log" 2>&1 &
  desktop+=($!)
  # Ready once the window manager tells the area the panel leaves. With many
  # suites starting at once, the window manager now and then fails to open
  # the fresh display ("Failed to open the display"): it is started again.
  height=${size#*x}
  ready=
  starts=1
  for _ in $(seq 1 200); do
    case "$(xprop -root _NET_WORKAREA 2>/dev/null)" in
      *", $((height - KVR_DISPLAY_PANEL))"*) ready=1; break ;;
    esac
    if ! kill -0 "$wm" 2>/dev/null && [ "$starts" -lt 4 ]; then
      starts=$((starts + 1))
      openbox --sm-disable --config-file "$tmp/openbox.xml" >>"$tmp/openbox.log" 2>&1 &
      wm=$!
    fi
    sleep 0.05
  done
  desktop+=("$wm")
  if [ -z "$ready" ]; then
    echo "with-display: the window manager and its panel did not come up" >&2
    cat "$tmp/openbox.log" "$tmp/tint2.log" >&2
    kill "${desktop[@]}" "$server" 2>/dev/null
    rm -rf "$tmp"
    exit 1
  fi
fi
"$@"
status=$?
# A suite that failed because its display went away says so, with what the
# server wrote, rather than leaving only the program's "could not connect".
if [ "$status" -ne 0 ] && ! kill -0 "$server" 2>/dev/null; then
  echo "with-display: the X server of display :$number ended during the run" >&2
  cat "$tmp/xvfb.log" >&2
fi
if [ ${#desktop[@]} -gt 0 ]; then
  kill "${desktop[@]}" 2>/dev/null
  wait "${desktop[@]}" 2>/dev/null
fi
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
rm -rf "$tmp"
exit $status
