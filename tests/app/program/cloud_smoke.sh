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

"$python" - "$work/requests.jsonl" "$app_pid" <<'PY' || fail "see above"
import json, re, sys, time
import gi
gi.require_version("Atspi", "2.0")
from gi.repository import Atspi
from desktop_kit import ended

program = sys.argv[2]


def nodes(node, depth=0):
    if node is not None and depth < 30:
        yield node
        for i in range(node.get_child_count()):
            yield from nodes(node.get_child_at_index(i), depth + 1)


def wait_for(what, test, seconds=120):
    # Whatever is showing now in the program's windows, read afresh each time.
    end = time.time() + seconds
    while time.time() < end and not ended(program):
        desktop = Atspi.get_desktop(0)
        for app in (desktop.get_child_at_index(i) for i in range(desktop.get_child_count())):
            if app is not None and app.get_name() == "Kavira":
                app.clear_cache()
                for n in nodes(app):
                    if n.get_state_set().contains(Atspi.StateType.SHOWING) and test(n):
                        return n
        time.sleep(0.3)
    print("  never found: " + what + ("; the program ended" if ended(program) else ""))
    sys.exit(1)


def named(role, name):
    return lambda n: n.get_role_name() == role and n.get_name() == name


# A recorder chosen in the catalogue with a click, then its cloud archive.
box = wait_for("the recorder", named("table cell", "Recorder 1-1")).get_extents(Atspi.CoordType.SCREEN)
Atspi.generate_mouse_event(box.x + box.width // 2, box.y + box.height // 2, "b1c")
wait_for("the cloud playback button", named("push button", "Cloud playback")).do_action(0)
# The stage's clock moves on with the pictures, and no message stands over them.
clock = re.compile(r"^\d\d:\d\d:(0[3-9]|[1-5]\d)$")
wait_for("the stage's clock past 00:00:03", lambda n: n.get_role_name() == "label" and clock.match(n.get_name()))
video = wait_for("the stage's video", named("filler", "Video"))
problems = ["the stage says: " + video.get_description()] if video.get_description() else []
with open(sys.argv[1]) as f:
    segments = [r for r in map(json.loads, f) if r["path"].startswith("/cloud/segments/")]
if not segments:
    problems.append("no segment was asked for")
for r in segments:
    h = {k.lower(): v for k, v in r["headers"].items()}
    if not h.get("authorization", "").startswith("Bearer ") or len(h["authorization"]) < 20:
        problems.append(r["path"] + " without the bearer token")
    if not h.get("range", "").startswith("bytes="):
        problems.append(r["path"] + " without a byte range")
print("\n".join("  " + p for p in problems))
sys.exit(1 if problems else 0)
PY
kill -TERM "$app_pid"
wait "$app_pid" 2>/dev/null
app_pid=""
echo "1 passed, 0 failed"
