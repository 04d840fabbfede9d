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
source "$(dirname "$0")/program_kit.sh"
if ! "$python" -c 'import gi; gi.require_version("Atspi", "2.0"); from gi.repository import Atspi' 2>/dev/null; then
  echo "SKIP: no accessibility bindings for Python"
  exit 77
fi
export KVR_SETTINGS_APP="kvrtest-cloud-smoke"

# The archive: a finished playlist of 2 s segments as the ffmpeg tool writes it.
mkdir -p "$work/archive"
ffmpeg -nostdin -hide_banner -loglevel error -f lavfi -i testsrc2=size=320x240:rate=25:duration=20 \
  -c:v libx264 -preset ultrafast -g 25 -f hls -hls_time 2 -hls_list_size 0 -hls_playlist_type vod \
  -hls_segment_filename "$work/archive/seg%03d.ts" "$work/archive/index.m3u8" || fail "ffmpeg could not write the archive"
export KVR_FAKE_HLS_DIR="$work/archive"
start_server

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
