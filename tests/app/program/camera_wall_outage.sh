#!/usr/bin/env bash
# The built program's camera wall comes back by itself after the relay was
# away for 10 s, with nobody clicking anything. A fresh program (no settings,
# a remembered sign-in only) against the fake organisation server in another
# process and GStreamer's RTSP server behind the fault proxy, both on ports
# it has never seen. Driven and read through the accessibility tree, as a
# person or a screen reader would: the recorder's "Play all channels" opens
# its cameras on the wall; every tile shows pictures (its video says nothing over them); the
# relay goes down for 10 s, longer than a player's own quick restarts last,
# and every tile says it can't play; the relay comes back, and every tile
# plays again within a minute and a half, through a new start of its stream
# on the server (read in the server's request log). The relay then falls
# again for 10 s, well within two minutes of coming back, when the tiles'
# own waits have grown: the wall plays again within 25 s of its relay. No
# Retry is pressed.
#
# Run on a display with a session bus of its own (the accessibility bus
# starts on it); without the system's Python bindings for the accessibility
# bus the test is skipped.
source "$(dirname "$0")/program_kit.sh"
if ! "$python" -c 'import gi; gi.require_version("Atspi", "2.0"); from gi.repository import Atspi' 2>/dev/null; then
  echo "SKIP: no accessibility bindings for Python"
  exit 77
fi
fixtures="$(cd "$(dirname "$0")/../../fixtures" && pwd)"
export KVR_SETTINGS_APP="kvrtest-wall-outage"

# The camera, serving until the pipe this script holds closes. Every viewer
# gets a pipeline of its own: the GStreamer RTSP server can abort on an
# assertion when viewers of one shared media drop and come back at once,
# which is what this test does to all of them.
camera_pid=""
relay_pid=""
trap '[ -n "$relay_pid" ] && kill "$relay_pid" 2>/dev/null; [ -n "$camera_pid" ] && kill "$camera_pid" 2>/dev/null; cleanup' EXIT
exec {camera_in}> >(exec "$python" "$fixtures/rtsp/rtsp_server.py" --size 320x240 --no-audio --user admin \
  --password wisp --unshared >"$work/camera.txt" 2>&1)
camera_pid=$!
for _ in $(seq 1 200); do grep -q '^PORT' "$work/camera.txt" && break; sleep 0.1; done
rtsp_port="$(sed -n 's/^PORT //p' "$work/camera.txt")"
[ -n "$rtsp_port" ] || fail "the RTSP test server did not start"

# The relay: the fault proxy in front of the camera, steered through a pipe
# ("down" cuts its connections and refuses new ones, "up" listens again).
mkfifo "$work/relay.in"
exec {relay_ctl}<>"$work/relay.in"
"$python" "$fixtures/proxy/fault_proxy.py" --target "$rtsp_port" --mode pass <"$work/relay.in" \
  >"$work/relay.txt" 2>&1 {camera_in}>&- &
relay_pid=$!
for _ in $(seq 1 100); do grep -q '^PORT' "$work/relay.txt" && break; sleep 0.1; done
relay_port="$(sed -n 's/^PORT //p' "$work/relay.txt")"
[ -n "$relay_port" ] || fail "the fault proxy did not start"

KVR_FAKE_POPULATE=1x1x4 KVR_FAKE_STREAM_PATH=live start_server {camera_in}>&- {relay_ctl}>&-

QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 KVR_RENDER=cpu KVR_API_BASE="http://127.0.0.1:$port" \
  KVR_RTSP_HOST=127.0.0.1 KVR_RTSP_PORT="$relay_port" "$exe" >"$work/out.txt" 2>&1 {camera_in}>&- {relay_ctl}>&- &
app_pid=$!

"$python" - "$work/requests.jsonl" "$work/relay.txt" "/proc/self/fd/$relay_ctl" "$app_pid" <<'PY' || { echo "--- camera"; tail -5 "$work/camera.txt"; fail "see above"; }
import json, sys, time
import gi
gi.require_version("Atspi", "2.0")
from gi.repository import Atspi
from desktop_kit import ended

requests_log, relay_log, relay_ctl, program = sys.argv[1:5]
TILES = 4


def nodes(node, depth=0):
    if node is not None and depth < 30:
        yield node
        for i in range(node.get_child_count()):
            yield from nodes(node.get_child_at_index(i), depth + 1)


def showing(test):
    # What the program's windows show now, read afresh.
    desktop = Atspi.get_desktop(0)
    for app in (desktop.get_child_at_index(i) for i in range(desktop.get_child_count())):
        if app is not None and app.get_name() == "Kavira":
            app.clear_cache()
            return [n for n in nodes(app) if n.get_state_set().contains(Atspi.StateType.SHOWING) and test(n)]
    return []


def wait_for(what, probe, seconds):
    end = time.time() + seconds
    while time.time() < end and not ended(program):
        found = probe()
        if found:
            return found
        time.sleep(0.3)
    print("  never: " + what + ("; the program ended" if ended(program) else ""))
    for v in videos():
        print("  a tile says: " + (v.get_description() or "(nothing: playing)"))
    sys.exit(1)


def videos():
    return showing(lambda n: n.get_role_name() == "filler" and n.get_name() == "Video")


def all_tiles(test):
    said = [v.get_description() for v in videos()]
    return len(said) == TILES and all(test(s) for s in said)


def starts():
    with open(requests_log) as f:
        return sum(1 for r in map(json.loads, f) if r["path"] == "/v2/api/start/live/stream/")


def steer(command, answer):
    with open(relay_ctl, "w") as ctl:
        ctl.write(command + "\n")
    wait_for("the relay saying " + answer, lambda: answer in open(relay_log).read().split(), 10)


def named(role, name):
    return lambda: showing(lambda n: n.get_role_name() == role and n.get_name() == name)


# The recorder chosen in the catalogue with a click, then all its cameras.
box = wait_for("the recorder", named("table cell", "Recorder 1-1"), 120)[0].get_extents(Atspi.CoordType.SCREEN)
Atspi.generate_mouse_event(box.x + box.width // 2, box.y + box.height // 2, "b1c")
wait_for("the recorder's Play all", named("push button", "Play all channels"), 60)[0].do_action(0)
wait_for("every tile playing", lambda: all_tiles(lambda s: not s), 120)
first_starts = starts()

steer("down", "DOWN")
down_at = time.time()
wait_for("every tile failing while the relay is down",
         lambda: all_tiles(lambda s: s.startswith("Can’t play this stream")), 30)
time.sleep(max(0.0, 10 - (time.time() - down_at)))
steer("up", "UP")
wait_for("every tile playing again by itself", lambda: all_tiles(lambda s: not s), 120)
print(f"  back {time.time() - down_at:.0f} s after the relay went down")
if starts() - first_starts < TILES:
    print(f"  only {starts() - first_starts} new stream starts after the outage, not {TILES}")
    sys.exit(1)

steer("down", "DOWN")
down_at = time.time()
wait_for("every tile failing while the relay is down again",
         lambda: all_tiles(lambda s: s.startswith("Can’t play this stream")), 30)
time.sleep(max(0.0, 10 - (time.time() - down_at)))
steer("up", "UP")
up_at = time.time()
wait_for("every tile playing again within 25 s of the relay", lambda: all_tiles(lambda s: not s), 25)
print(f"  back {time.time() - up_at:.0f} s after the relay came back again")
PY
kill -TERM "$app_pid"
wait "$app_pid" 2>/dev/null
app_pid=""
echo "1 passed, 0 failed"
