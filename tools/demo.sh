#!/usr/bin/env bash
# A demo anyone can start: builds the program and the peers it starts (not
# the tests), then starts on loopback a test camera, the fake organisation
# server with its demo organisation (cloud recordings included), and Kavira
# pointed at them, with settings and data folders of its own under
# build/demo (never yours). Sign in as demo / demo.
# A small fleet of fake recorders and cameras runs beside them for native
# mode. Everything it started stops when Kavira quits. What the server keeps
# (the sign-in Kavira remembers, saved presets) and Kavira's settings stay in
# the demo folder from one run to the next; each peer and Kavira itself log
# to a file of their own there, so the terminal shows only what a person
# needs.
#
#   bash tools/demo.sh            # build, then run (sign-in window)
#   bash tools/demo.sh --native   # the same, opening native mode on the fleet
#   KVR_DEMO_DIR=/tmp/x bash tools/demo.sh      # another demo folder (one demo runs in a folder at a time)
#   KVR_DEMO_BUILD=build-x bash tools/demo.sh   # the programs of another build folder
#   KVR_JOBS=2 bash tools/demo.sh                # a build of two steps at a time
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${KVR_DEMO_BUILD:-$root/build}"
demo="${KVR_DEMO_DIR:-$build/demo}"
native=false
if [ "${1:-}" = "--native" ]; then
  native=true
  shift
fi

# One demo at a time in a demo folder: a second one would delete the logs of
# the first and rewrite its settings and server state under it. The folder
# holds a lock with the running demo's process number; a lock whose process
# is gone (a demo killed outright) is taken over. Checked before anything is
# built or written, so that a second start changes nothing.
mkdir -p "$demo"
lock="$demo/demo.lock"
own_lock=false
release_lock() {
  if [ "$own_lock" = true ]; then
    rm -rf "$lock"
    own_lock=false
  fi
}
demo_running() {
  local owner="$1"
  [ -n "$owner" ] && kill -0 "$owner" 2>/dev/null && ps -o args= -p "$owner" 2>/dev/null | grep -q "demo.sh"
}
for _ in 1 2 3; do
  if mkdir "$lock" 2>/dev/null; then
    echo "$$" >"$lock/pid"
    own_lock=true
    break
  fi
  owner=""
  # A start that made the lock a moment ago writes its number next.
  for _ in $(seq 1 20); do
    owner="$(cat "$lock/pid" 2>/dev/null || true)"
    [ -n "$owner" ] && break
    sleep 0.1
  done
  if demo_running "$owner"; then
    echo "demo: a demo already runs in $demo (process $owner); quit it first (its Kavira, or Ctrl+C in its terminal)." >&2
    echo "demo: to run another beside it, give it a folder of its own: KVR_DEMO_DIR=/tmp/kavira-demo-2 bash tools/demo.sh" >&2
    exit 1
  fi
  rm -rf "$lock"
done
if [ "$own_lock" != true ]; then
  echo "demo: could not take $lock" >&2
  exit 1
fi
trap release_lock EXIT
trap 'release_lock; exit 130' INT
trap 'release_lock; exit 143' TERM

app="$build/app/kavira"
server_program="$build/tests/fixtures/kvr-fake-server"
fleet_program="$build/tests/fixtures/fleet/kvr-fake-fleet"
if [ -n "${KVR_DEMO_BUILD:-}" ]; then
  if [ ! -x "$app" ] || [ ! -x "$server_program" ] || [ ! -x "$fleet_program" ]; then
    echo "demo: $build lacks the programs it needs (kavira, kvr-fake-server, kvr-fake-fleet)" >&2
    exit 1
  fi
else
  # Only what the demo runs; up to date, this takes a moment.
  echo "demo: building the program and the demo's peers (the first time takes a while)"
  KVR_BUILD_TARGETS="kavira kvr-fake-server kvr-fake-fleet" bash "$root/tools/build.sh"
fi

# GStreamer's Python bindings come with Debian's own python3.
python=/usr/bin/python3
[ -x "$python" ] || python=python3

pids=()
stop_all() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  release_lock
}
trap stop_all EXIT INT TERM

free_port() {
  "$python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

# Waits until a started program's log holds a whole line that only this
# run's program writes (it names this run's port or process), and says what
# went wrong when the program ends or stays silent instead.
wait_for() {
  local log="$1" line="$2" pid="$3" what="$4"
  for _ in $(seq 1 300); do
    if grep -qxF -- "$line" "$log" 2>/dev/null; then return 0; fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "demo: $what did not start; its output ($log):" >&2
  cat "$log" >&2
  exit 1
}

# The demo's own home and data folders: settings, remembered sign-in, log,
# and a Documents folder, where reports are proposed.
home="$demo/home"
mkdir -p "$home/Documents"
export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
       XDG_STATE_HOME="$home/.local/state" XDG_CACHE_HOME="$home/.cache"
export KVR_SETTINGS_APP="kavira-demo"
# The relay is the demo's camera, written into the settings below as a person
# would enter it; a relay of the caller's environment would override it.
unset KVR_RTSP_HOST KVR_RTSP_PORT KVR_RTSP_USER KVR_RTSP_PASS
# The demo organisation and its devices are in India: the devices' clocks,
# which the device panel shows as "Device time (IST)", and the computer's
# against which their drift is told, keep India Standard Time.
if [ -e /usr/share/zoneinfo/Asia/Kolkata ]; then
  export TZ=Asia/Kolkata
fi

# Every program's output of the last run, and only of this run from here on:
# a log that outlived its run would hold a line the waits below look for.
logs="$demo/logs"
rm -rf "$logs"
mkdir -p "$logs"

# Cloud recordings: a finished HLS playlist the ffmpeg tool writes once.
hls="$demo/hls"
if [ ! -s "$hls/index.m3u8" ]; then
  echo "demo: writing the cloud recording (a minute of test picture)"
  mkdir -p "$hls"
  ffmpeg -hide_banner -loglevel error -y -f lavfi -i "testsrc2=size=1280x720:rate=25:duration=60" \
    -f lavfi -i "sine=frequency=440:duration=60" -c:v libx264 -preset veryfast -g 50 -c:a aac \
    -f hls -hls_time 4 -hls_list_size 0 -hls_playlist_type vod \
    -hls_segment_filename "$hls/seg%03d.ts" "$hls/index.m3u8"
fi

# The camera: GStreamer's RTSP server with the relay's account, at the path
# of each camera's live stream and each recorder's recording (the server
# says which: every camera has a stream of its own, so the server counts the
# streams that play), and at the fake devices' own stream paths with their
# account (the fleet says which). Every address shares one encoder. Given a pipe for its
# standard input, it serves until the pipe closes: it reads one that this
# script holds open, so it lives exactly as long as the demo (even one killed
# outright). The programs started after it must not hold the pipe too.
echo "demo: starting the test camera, the organisation's server and the device fleet"
mapfile -t fleet_args < <("$fleet_program" --camera-args)
mapfile -t relay_args < <(KVR_FAKE_STREAM_IDS=per-camera "$server_program" --relay-paths)
rtsp_port="$(free_port)"
exec {camera_in}> >(exec "$python" "$root/tests/fixtures/rtsp/rtsp_server.py" --port "$rtsp_port" \
  --size 1280x720 --one-media --user admin --password wisp "${relay_args[@]}" "${fleet_args[@]}" \
  >"$logs/camera.txt" 2>&1)
pids+=($!)
wait_for "$logs/camera.txt" "PORT $rtsp_port" "${pids[-1]}" "the test camera"

# The organisation's server, keeping its sign-ins and presets between runs.
api_port="$(free_port)"
KVR_FAKE_PORT="$api_port" KVR_FAKE_HLS_DIR="$hls" KVR_FAKE_STREAM_IDS=per-camera KVR_FAKE_STATE="$demo/server-state.json" \
  "$server_program" >"$logs/server.txt" 2>&1 {camera_in}>&- &
pids+=($!)
wait_for "$logs/server.txt" "kvr-fake-server listening on http://127.0.0.1:$api_port" "${pids[-1]}" \
  "the fake organisation server"

# Native mode: recorders and cameras of several makers on loopback (one with
# a wrong password, one unreachable, one with a disk fault, one with its
# clock ahead), serving the camera's stream on their RTSP ports, and the
# demo's inventory, uptime and events naming them.
"$fleet_program" "$XDG_DATA_HOME/Kavira/Kavira" "$rtsp_port" >"$logs/fleet.txt" 2>&1 {camera_in}>&- &
pids+=($!)
wait_for "$logs/fleet.txt" "kvr-fake-fleet: ready (process ${pids[-1]}), inventory written to $XDG_DATA_HOME/Kavira/Kavira" \
  "${pids[-1]}" "the fake device fleet"

# Which window opens first (the sign-in window, or native mode on the fleet),
# and the video relay, as the server dialog stores it.
mkdir -p "$XDG_CONFIG_HOME/Kavira"
settings="$XDG_CONFIG_HOME/Kavira/$KVR_SETTINGS_APP.conf"
touch "$settings"
"$python" - "$settings" "$native" "127.0.0.1:$rtsp_port" <<'PY'
import configparser, sys
path, native, relay = sys.argv[1:]
conf = configparser.RawConfigParser()
conf.optionxform = str
conf.read(path)
if not conf.has_section("General"):
    conf.add_section("General")
conf.set("General", "nativeMode", native)
conf.set("General", "relayAddress", relay)
with open(path, "w") as f:
    conf.write(f, space_around_delimiters=False)
PY

cat <<TEXT
Kavira demo
  server   http://127.0.0.1:$api_port  (sign in as demo / demo, or otp / demo with the code 123456)
  camera   rtsp://127.0.0.1:$rtsp_port/live  (the video relay)
  fleet    $(grep -c '^device' "$logs/fleet.txt") fake devices for native mode ("Native mode" in the server dialog)
  data     $demo  (settings, remembered sign-in, presets; reports go to home/Documents)
  logs     $logs
Quit Kavira, or press Ctrl+C here, to stop everything the demo started.
TEXT

export KVR_API_BASE="http://127.0.0.1:$api_port"
status=0
"$app" "$@" >"$logs/kavira.txt" 2>&1 {camera_in}>&- || status=$?
# Ended by Ctrl+C (SIGINT): as asked, nothing to tell.
if [ "$status" -ne 0 ] && [ "$status" -ne 130 ]; then
  echo "demo: Kavira ended with status $status; the end of its output ($logs/kavira.txt):" >&2
  tail -n 20 "$logs/kavira.txt" >&2
fi
exit "$status"
