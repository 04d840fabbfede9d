#!/usr/bin/env bash
# How the demo starts its peers and Kavira, and what its terminal shows, run
# on a copy of the script with stand-ins for the programs it starts (so
# nothing is built or shown): each peer first writes the line it wrote in an
# earlier run (as a log that outlived its run still holds it), and says it is
# ready in this run's words only a second later. Kavira may start only after
# that; it finds the relay in its settings as a person enters it, a Documents
# folder in the demo's home, and the server keeping its state in the demo
# folder. What Kavira and the peers write goes to their logs, not the
# terminal. A peer or a Kavira that fails is told in words, at once, and
# nothing the demo started is left running.
set -u
root="$(cd "$(dirname "$0")/../../.." && pwd)"
work="$(mktemp -d)"
tree="$work/tree"
build="$work/build"
seen="$work/seen"
# The processes of a demo run: each carries the run's mark in its environment.
started() {
  grep -lzxF "KVR_STANDIN_SEEN=$seen" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3
}
cleanup() {
  local pid
  for pid in $(started); do kill -KILL "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$tree/tools" "$tree/tests/fixtures/rtsp" "$build/app" "$build/tests/fixtures/fleet" "$seen"
cp "$root/tools/demo.sh" "$tree/tools/"

# The camera: the earlier run's port first, this run's a second later; it
# serves until its standard input closes, as the real one does.
cat >"$tree/tests/fixtures/rtsp/rtsp_server.py" <<'EOF'
import os, sys, time
port = sys.argv[sys.argv.index("--port") + 1]
# The first peer: what of the last run's logs is still there as it starts.
logs = os.path.join(os.environ["KVR_DEMO_DIR"], "logs")
left = sorted(n for n in os.listdir(logs) if n != "camera.txt")
open(os.path.join(os.environ["KVR_STANDIN_SEEN"], "logs-at-start"), "w").write(" ".join(left))
print("PORT 1", flush=True)
time.sleep(1)
open(os.path.join(os.environ["KVR_STANDIN_SEEN"], "camera.ready"), "w").close()
print(f"PORT {port}", flush=True)
while sys.stdin.read(1):
    pass
EOF
cat >"$build/tests/fixtures/kvr-fake-server" <<'EOF'
#!/usr/bin/env bash
[ "${1:-}" = "--relay-paths" ] && exit 0
echo "kvr-fake-server listening on http://127.0.0.1:1"
if [ -n "${KVR_STANDIN_SERVER_FAILS:-}" ]; then
  echo "kvr-fake-server: cannot listen on 127.0.0.1:$KVR_FAKE_PORT" >&2
  exit 1
fi
sleep 1
echo "$KVR_FAKE_STATE" >"$KVR_STANDIN_SEEN/server-state"
touch "$KVR_STANDIN_SEEN/server.ready"
echo "kvr-fake-server listening on http://127.0.0.1:$KVR_FAKE_PORT"
exec sleep 600
EOF
cat >"$build/tests/fixtures/fleet/kvr-fake-fleet" <<'EOF'
#!/usr/bin/env bash
[ "$1" = "--camera-args" ] && exit 0
echo "kvr-fake-fleet: ready (process 1), inventory written to $1"
sleep 1
for name in Gate Yard Dock; do echo "device $name: HIKVISION nvr at 127.0.0.1:1 (rtsp 2)"; done
touch "$KVR_STANDIN_SEEN/fleet.ready"
echo "kvr-fake-fleet: ready (process $$), inventory written to $1"
exec sleep 600
EOF
# Kavira: notes what it found at its start, then talks as much as the real
# one does about every request, and ends.
cat >"$build/app/kavira" <<'EOF'
#!/usr/bin/env bash
for peer in camera server fleet; do
  [ -e "$KVR_STANDIN_SEEN/$peer.ready" ] || echo "$peer" >>"$KVR_STANDIN_SEEN/not-ready"
done
cp "$XDG_CONFIG_HOME/Kavira/$KVR_SETTINGS_APP.conf" "$KVR_STANDIN_SEEN/settings.conf"
[ -d "$HOME/Documents" ] && touch "$KVR_STANDIN_SEEN/documents"
echo "${KVR_RTSP_HOST:-}" >"$KVR_STANDIN_SEEN/env-relay"
for i in $(seq 1 50); do
  echo "[api] GET /v2/get_devices_by_site/ request $i"
  echo "kvr.api: [api] answer $i" >&2
done
touch "$KVR_STANDIN_SEEN/kavira.running"
# Held open until the test lets it quit, as a person using it.
if [ -n "${KVR_STANDIN_APP_HOLD:-}" ]; then
  for _ in $(seq 1 300); do
    [ -e "$KVR_STANDIN_SEEN/quit" ] && break
    sleep 0.1
  done
fi
exit "${KVR_STANDIN_APP_STATUS:-0}"
EOF
chmod +x "$build/app/kavira" "$build/tests/fixtures/kvr-fake-server" "$build/tests/fixtures/fleet/kvr-fake-fleet"

source "$(dirname "$0")/case_kit.sh"
# start <env...> : a run of the copied demo with the stand-ins, its terminal
# in `said`, its status in `status`, how long it took in `took`.
start() {
  rm -rf "${seen:?}"/*
  mkdir -p "$work/demo/hls"
  echo "#EXTM3U" >"$work/demo/hls/index.m3u8" # the cloud recording is not what is tested
  local began=$SECONDS
  said="$(env KVR_DEMO_DIR="$work/demo" KVR_DEMO_BUILD="$build" KVR_STANDIN_SEEN="$seen" \
    KVR_RTSP_HOST=10.0.0.9 KVR_RTSP_PORT=554 "$@" timeout 60 bash "$tree/tools/demo.sh" 2>&1 </dev/null)"
  status=$?
  took=$((SECONDS - began))
  # Nothing it started outlives it.
  sleep 0.3
  local left
  left="$(started)"
  [ -z "$left" ] || problems+=("left running: $(ps -o pid=,args= -p "$(paste -sd, <<<"$left")" | tr '\n' ';')")
}

# The last run's logs, one this run also writes and one it does not.
mkdir -p "$work/demo/logs"
echo "kvr-fake-server listening on http://127.0.0.1:1" >"$work/demo/logs/server.txt"
echo "an earlier run" >"$work/demo/logs/kavira.txt"
start
[ "$status" -eq 0 ] || problems+=("the demo ended with status $status")

[ ! -e "$seen/not-ready" ] || problems+=("Kavira started before this run's $(paste -sd' ' "$seen/not-ready") said it was ready")
grep -q "^  fleet    3 fake devices" <<<"$said" || problems+=("the banner does not count this run's 3 devices")
check "Kavira starts once every peer says in this run's words that it is ready"
[ "$(cat "$seen/logs-at-start" 2>/dev/null)" = "" ] && [ -e "$seen/logs-at-start" ] ||
  problems+=("the last run's logs were still there as the peers started: $(cat "$seen/logs-at-start" 2>/dev/null)")
check "the last run's logs are gone before the peers start"

camera_port="$(sed -nE 's|^  camera   rtsp://127.0.0.1:([0-9]+)/live.*|\1|p' <<<"$said")"
grep -qx "relayAddress=127.0.0.1:$camera_port" "$seen/settings.conf" 2>/dev/null ||
  problems+=("the settings do not hold the camera as the relay: $(cat "$seen/settings.conf" 2>/dev/null)")
[ -z "$(cat "$seen/env-relay" 2>/dev/null)" ] || problems+=("a relay of the caller's environment reached Kavira")
[ -e "$seen/documents" ] || problems+=("no Documents folder in the demo's home")
[ "$(cat "$seen/server-state" 2>/dev/null)" = "$work/demo/server-state.json" ] ||
  problems+=("the server does not keep its state in the demo folder: $(cat "$seen/server-state" 2>/dev/null)")
check "Kavira finds the relay in its settings, a Documents folder, and a server that keeps its state"

grep -q "request\|answer" <<<"$said" && problems+=("Kavira's own output reached the terminal")
[ "$(grep -c "request" "$work/demo/logs/kavira.txt" 2>/dev/null)" = 50 ] || problems+=("Kavira's output is not in logs/kavira.txt")
for needed in "^  server   http://127.0.0.1:[0-9]+ .*demo / demo" "^  logs     $work/demo/logs$" "Ctrl\+C"; do
  grep -qE "$needed" <<<"$said" || problems+=("the terminal does not show /$needed/")
done
after="$(sed -n '/^Kavira demo$/,$p' <<<"$said" | wc -l)"
[ "$after" -le 8 ] || problems+=("$after lines from the banner on")
check "the terminal shows addresses, sign-in and how to stop, and nothing of what Kavira logs"

# A second start in the folder while a demo runs there says so, names
# KVR_DEMO_DIR, and neither starts nor deletes nor rewrites anything.
rm -rf "${seen:?}"/*
env KVR_DEMO_DIR="$work/demo" KVR_DEMO_BUILD="$build" KVR_STANDIN_SEEN="$seen" KVR_STANDIN_APP_HOLD=1 \
  timeout 60 bash "$tree/tools/demo.sh" >"$work/first.txt" 2>&1 </dev/null &
first=$!
for _ in $(seq 1 200); do
  [ -e "$seen/kavira.running" ] && break
  sleep 0.1
done
[ -e "$seen/kavira.running" ] || problems+=("the first demo's Kavira did not start: $(cat "$work/first.txt")")
files_before="$(cd "$work/demo" && find . -type f | sort)"
touch "$work/before-second"
second_seen="$work/second-seen"
mkdir -p "$second_seen"
said="$(env KVR_DEMO_DIR="$work/demo" KVR_DEMO_BUILD="$build" KVR_STANDIN_SEEN="$second_seen" \
  timeout 30 bash "$tree/tools/demo.sh" 2>&1 </dev/null)"
status=$?
[ "$status" -ne 0 ] || problems+=("the second start ended with status 0")
grep -q "a demo already runs in $work/demo" <<<"$said" || problems+=("the second start does not say a demo runs: $said")
grep -q "KVR_DEMO_DIR=" <<<"$said" || problems+=("the second start does not say how to run another")
[ -z "$(ls -A "$second_seen")" ] || problems+=("the second start started: $(ls "$second_seen" | paste -sd' ')")
[ "$(cd "$work/demo" && find . -type f | sort)" = "$files_before" ] || problems+=("the second start deleted or added files")
written="$(find "$work/demo" -newer "$work/before-second" -type f | paste -sd' ')"
[ -z "$written" ] || problems+=("the second start wrote: $written")
touch "$seen/quit"
wait "$first"
first_status=$?
[ "$first_status" -eq 0 ] || problems+=("the first demo ended with status $first_status: $(cat "$work/first.txt")")
[ ! -e "$work/demo/demo.lock" ] || problems+=("the demo left its lock behind")
check "a second start while a demo runs in the folder says so and touches nothing"

# A lock left by a demo killed outright (its process gone) does not stop the next.
mkdir -p "$work/demo/demo.lock"
echo 999999 >"$work/demo/demo.lock/pid"
start
[ "$status" -eq 0 ] || problems+=("the demo after a killed one ended with status $status: $said")
check "a lock whose demo is gone is taken over"

start KVR_STANDIN_SERVER_FAILS=1
[ "$status" -ne 0 ] || problems+=("a server that failed did not fail the demo")
grep -q "the fake organisation server did not start" <<<"$said" || problems+=("the failed server is not named")
grep -q "cannot listen on 127.0.0.1" <<<"$said" || problems+=("the server's own words are not shown")
[ "$took" -lt 10 ] || problems+=("the demo took $took s to see that the server had ended")
[ ! -e "$seen/settings.conf" ] || problems+=("Kavira started without its server")
check "a peer that fails to start is told at once, in its own words"

start KVR_STANDIN_APP_STATUS=3
[ "$status" -eq 3 ] || problems+=("the demo ended with status $status, not Kavira's 3")
grep -q "Kavira ended with status 3" <<<"$said" || problems+=("Kavira's failure is not told")
grep -q "kvr.api: \[api\] answer 50" <<<"$said" || problems+=("the end of Kavira's output is not shown")
check "a Kavira that fails is told, with the end of its output"

finish
