#!/usr/bin/env bash
# The built program plays a camera's cloud archive, driven as a person (or a
# screen reader) would drive it, through the accessibility tree: signed in
# with a remembered sign-in against the fake organisation server in another
# process, whose cloud playlist names its segments relative to itself, as
# real servers do. Read back: the server's request log (every segment request
# carries the bearer token and asks for a byte range) and the stage (its
# clock moves on, and no message stands over the picture).
#
# Run on a display with a session bus of its own (the accessibility bus
# starts on it); without the system's Python bindings for the accessibility
# bus the test is skipped.
set -u
exe="$1"
server_program="$2"
python=/usr/bin/python3
if ! "$python" -c 'import gi; gi.require_version("Atspi", "2.0"); from gi.repository import Atspi' 2>/dev/null; then
  echo "SKIP: no accessibility bindings for Python"
  exit 77
fi
work="$(mktemp -d)"
server_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- program output"
  tail -40 "$work/out.txt" 2>/dev/null
  echo "0 passed, 1 failed"
  exit 1
}

export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" \
       XDG_STATE_HOME="$work/home/.local/state" XDG_CACHE_HOME="$work/home/.cache"
export KVR_SETTINGS_APP="kvrtest-cloud-smoke"

# The archive: a finished playlist of 2 s segments as the ffmpeg tool writes it.
mkdir -p "$work/archive"
ffmpeg -nostdin -hide_banner -loglevel error -f lavfi -i testsrc2=size=320x240:rate=25:duration=20 \
  -c:v libx264 -preset ultrafast -g 25 -f hls -hls_time 2 -hls_list_size 0 -hls_playlist_type vod \
  -hls_segment_filename "$work/archive/seg%03d.ts" "$work/archive/index.m3u8" || fail "ffmpeg could not write the archive"

port="$("$python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
token="remembered-$(date +%s%N)"
KVR_FAKE_PORT="$port" KVR_FAKE_LOG="$work/requests.jsonl" KVR_FAKE_REFRESH_TOKEN="$token" \
  KVR_FAKE_HLS_DIR="$work/archive" "$server_program" >"$work/server.txt" 2>&1 &
server_pid=$!
for _ in $(seq 1 100); do grep -q listening "$work/server.txt" && break; sleep 0.1; done
grep -q listening "$work/server.txt" || fail "the fake server did not start"

mkdir -p "$XDG_DATA_HOME/Kavira/Kavira"
printf '{"username":"demo","refresh_token":"%s","signed_in_at":"%s"}' "$token" "$(date -u +%Y-%m-%dT%H:%M:%SZ)" \
  >"$XDG_DATA_HOME/Kavira/Kavira/session.json"
chmod 600 "$XDG_DATA_HOME/Kavira/Kavira/session.json"

QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 KVR_RENDER=cpu KVR_API_BASE="http://127.0.0.1:$port" \
  KVR_RTSP_HOST=127.0.0.1 KVR_RTSP_PORT=9 "$exe" >"$work/out.txt" 2>&1 &
app_pid=$!

"$python" - "$work/requests.jsonl" <<'PY' || fail "see above"
import json, re, sys, time
import gi
gi.require_version("Atspi", "2.0")
from gi.repository import Atspi

log_path = sys.argv[1]


def walk(node, depth=0):
    if node is None or depth > 30:
        return
    yield node
    try:
        count = node.get_child_count()
    except Exception:
        return
    for i in range(count):
        yield from walk(node.get_child_at_index(i), depth + 1)


def app():
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        child = desktop.get_child_at_index(i)
        if child is not None and child.get_name() == "Kavira":
            return child
    return None


def find(test):
    root = app()
    if root is None:
        return None
    root.clear_cache()
    for node in walk(root):
        try:
            if test(node):
                return node
        except Exception:
            pass
    return None


def wait_for(what, test, seconds=30):
    end = time.time() + seconds
    while time.time() < end:
        node = find(test)
        if node is not None:
            return node
        time.sleep(0.3)
    print("  never found: " + what)
    sys.exit(1)


def showing(node):
    return node.get_state_set().contains(Atspi.StateType.SHOWING)


def named(role, name):
    return lambda n: n.get_role_name() == role and n.get_name() == name and showing(n)


def requests():
    try:
        with open(log_path) as f:
            return [json.loads(line) for line in f if line.strip()]
    except OSError:
        return []


# A recorder chosen in the catalogue, as a click does it; then its cloud archive.
recorder = wait_for("the recorder in the catalogue", named("table cell", "Recorder 1-1"), 60)
box = recorder.get_extents(Atspi.CoordType.SCREEN)
Atspi.generate_mouse_event(box.x + box.width // 2, box.y + box.height // 2, "b1c")
cloud = wait_for("the cloud playback button", named("push button", "Cloud playback"))
cloud.do_action(0)

# The stage's clock moves on with the pictures, and nothing stands over them.
video = wait_for("the stage's video", named("filler", "Video"))
clock = re.compile(r"^\d\d:\d\d:\d\d$")
end = time.time() + 60
moving = None
while time.time() < end:
    moving = find(lambda n: n.get_role_name() == "label" and clock.match(n.get_name() or "") and showing(n)
                  and n.get_name() >= "00:00:03")
    if moving is not None:
        break
    time.sleep(0.3)
problems = []
if moving is None:
    problems.append("the stage's clock never passed 00:00:03")
video.clear_cache()
said = video.get_description()
if said:
    problems.append("the stage shows a message: %s" % said)

segments = [r for r in requests() if r["path"].startswith("/cloud/segments/")]
if not segments:
    problems.append("no segment was asked for: %s" % [r["path"] for r in requests()][-8:])
for r in segments:
    h = {k.lower(): v for k, v in r["headers"].items()}
    if not h.get("authorization", "").startswith("Bearer ") or len(h.get("authorization", "")) < 20:
        problems.append("%s without the bearer token" % r["path"])
    if not h.get("range", "").startswith("bytes="):
        problems.append("%s without a byte range" % r["path"])
for p in problems:
    print("  " + p)
sys.exit(1 if problems else 0)
PY
kill -TERM "$app_pid"
wait "$app_pid" 2>/dev/null
app_pid=""
echo "1 passed, 0 failed"
