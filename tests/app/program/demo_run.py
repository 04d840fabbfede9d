#!/usr/bin/python3
"""The README's first command, `bash tools/demo.sh`, run as a person would.

On a virtual display of its own (tests/support/with-display.sh) and a private
session bus, it starts the demo script with no standard input (as CI and a
desktop launcher do), finds the sign-in window through the accessibility tree,
signs in as demo / demo, clicks a camera in the catalogue, checks that the
picture on screen moves, then opens a site's whole wall with "Play all",
sees every camera that is online play and its picture move, stops the wall
and opens the other site's, four walls in turn, with every processor kept
busy by other processes meanwhile (the camera must keep answering however
walls come and go on a busy machine), closes the window as a window manager
would, and checks that the demo ended cleanly and left nothing it started
running.

  demo_run.py BUILD_DIR WORK_DIR

The demo's cloud recording is kept in WORK_DIR/hls between runs (writing it
costs a minute of encoding); everything else there starts afresh.
"""
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import zlib

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
# The environment mark every process the demo starts inherits, so that one
# that escaped the demo's session is found too.
MARK = "KVR_DEMO_DIR"


class Failure(Exception):
    pass


def wait_until(what, seconds, probe, pause=0.2):
    deadline = time.monotonic() + seconds
    while True:
        found = probe()
        if found:
            return found
        if time.monotonic() > deadline:
            raise Failure(f"{what}: not within {seconds} s")
        time.sleep(pause)


# ---- the accessibility tree -------------------------------------------------

def atspi():
    try:
        import gi

        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi
        import Xlib  # noqa: F401
    except (ImportError, ValueError) as e:
        raise Failure(f"{e}: install what .ci/install-deps.sh lists (gir1.2-atspi-2.0, python3-xlib)")
    return Atspi


def kavira_app(Atspi):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == "Kavira":
            return app
    return None


def nodes(node):
    try:
        count = node.get_child_count()
    except Exception:  # the widget went away while we walked
        return
    yield node
    for i in range(count):
        try:
            child = node.get_child_at_index(i)
        except Exception:
            continue
        if child is not None:
            yield from nodes(child)


def showing(Atspi, app, role, name):
    """The first control on screen with that role and accessible name."""
    for n in nodes(app):
        try:
            if (n.get_role_name() == role and n.get_name() == name
                    and n.get_state_set().contains(Atspi.StateType.SHOWING)):
                return n
        except Exception:
            continue
    return None


def extents(Atspi, node):
    r = node.get_extents(Atspi.CoordType.SCREEN)
    return r.x, r.y, r.width, r.height


# ---- the X display ----------------------------------------------------------

def click(x, y):
    from Xlib import X, display
    from Xlib.ext import xtest

    d = display.Display()
    try:
        xtest.fake_input(d, X.MotionNotify, x=x, y=y)
        xtest.fake_input(d, X.ButtonPress, 1)
        xtest.fake_input(d, X.ButtonRelease, 1)
        d.sync()
    finally:
        d.close()


def grab(x, y, w, h):
    """The region's pixels as 32-bit BGRX rows."""
    from Xlib import X, display

    d = display.Display()
    try:
        return d.screen().root.get_image(x, y, w, h, X.ZPixmap, 0xFFFFFFFF).data
    finally:
        d.close()


def write_png(path, w, h, bgrx):
    rows = b"".join(
        b"\0" + bytes(v for px in range(w) for v in (row[4 * px + 2], row[4 * px + 1], row[4 * px]))
        for row in (bgrx[4 * w * y:4 * w * (y + 1)] for y in range(h)))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(rows, 6)) + chunk(b"IEND", b""))


def close_windows(pid):
    """Asks every window of the process to close, as a window manager's close
    button does (WM_DELETE_WINDOW)."""
    from Xlib import X, display, protocol

    d = display.Display()
    try:
        protocols = d.intern_atom("WM_PROTOCOLS")
        delete = d.intern_atom("WM_DELETE_WINDOW")
        wm_pid = d.intern_atom("_NET_WM_PID")
        closed = 0
        for w in d.screen().root.query_tree().children:
            owner = w.get_full_property(wm_pid, X.AnyPropertyType)
            if not owner or owner.value[0] != pid or w.get_attributes().map_state != X.IsViewable:
                continue
            w.send_event(protocol.event.ClientMessage(window=w, client_type=protocols,
                                                      data=(32, [delete, X.CurrentTime, 0, 0, 0])))
            closed += 1
        d.sync()
        return closed
    finally:
        d.close()


# ---- processes --------------------------------------------------------------

def started_by_demo(session, work):
    """Processes of the demo's session, or carrying its environment mark."""
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat", "rb") as f:
                stat = f.read()
            fields = stat[stat.rindex(b")") + 2:].split()
            if fields[0] == b"Z":
                continue
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                cmdline = f.read().replace(b"\0", b" ").decode(errors="replace").strip()
            marked = False
            try:
                with open(f"/proc/{entry}/environ", "rb") as f:
                    marked = f"{MARK}={work}".encode() in f.read().split(b"\0")
            except OSError:
                pass
            if int(fields[3]) == session or marked:
                found[int(entry)] = cmdline
        except (OSError, ValueError, IndexError):
            continue
    return found


def kill_all(session, work):
    for pid in started_by_demo(session, work):
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass


# ---- the run ----------------------------------------------------------------

def under_private_bus():
    """Runs this script again under a session bus of its own (the
    accessibility bus is started on it), with a runtime folder of its own so
    that parallel runs never share the accessibility bus's socket."""
    if os.environ.get("KVR_DEMO_RUN_BUS"):
        return None
    if not shutil.which("dbus-run-session"):
        print("FAIL: dbus-run-session is missing: install what .ci/install-deps.sh lists")
        return 1
    runtime = tempfile.mkdtemp(prefix="kvr-demo-bus-")
    os.chmod(runtime, 0o700)
    env = dict(os.environ, KVR_DEMO_RUN_BUS="1", XDG_RUNTIME_DIR=runtime)
    try:
        return subprocess.call(["dbus-run-session", "--", sys.executable] + sys.argv,
                               env=env, stdin=subprocess.DEVNULL)
    finally:
        shutil.rmtree(runtime, ignore_errors=True)


def prepare(work):
    """A fresh demo folder, keeping only the cloud recording of a run before."""
    os.makedirs(work, exist_ok=True)
    for entry in os.listdir(work):
        if entry != "hls":
            path = os.path.join(work, entry)
            shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
    hls = os.path.join(work, "hls")
    if os.path.isdir(hls) and not os.path.exists(os.path.join(hls, "index.m3u8")):
        shutil.rmtree(hls)


def bright_spot(image, w, h):
    """Where the bright pixels of a BGRX grab are (every second row and
    column), and how many there are."""
    count = sx = sy = 0
    for y in range(0, h, 2):
        row = 4 * w * y
        for x in range(0, w, 2):
            i = row + 4 * x
            if image[i] > 180 and image[i + 1] > 180 and image[i + 2] > 180:
                count += 1
                sx += x
                sy += y
    return (sx / count, sy / count, count) if count else (0, 0, 0)


def picture_moves(Atspi, app, screenshot):
    """The live stage shows the demo camera's picture, a white ball moving
    over black: in grabs of the area above the control bar half a second
    apart, a ball-sized bright spot is there and has moved. An error message,
    a spinner or a still frame does not pass."""
    stop = wait_until("the live view's Stop button", 60, lambda: showing(Atspi, app, "push button", "Stop"))
    bar = stop.get_parent()
    stage = bar.get_parent()
    x, y, w, h = extents(Atspi, stage)
    bar_y = extents(Atspi, bar)[1]
    if bar_y > y:
        h = bar_y - y
    if w < 100 or h < 100:
        raise Failure(f"the live stage is only {w}x{h}")
    samples = (w // 2) * (h // 2)
    seen = []
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        image = grab(x, y, w, h)
        spot = bright_spot(image, w, h)
        seen.append(spot)
        if len(seen) > 1:
            (x0, y0, n0), (x1, y1, n1) = seen[-2], seen[-1]
            ball = all(samples // 5000 <= n <= samples // 50 for n in (n0, n1))
            if ball and abs(x1 - x0) + abs(y1 - y0) >= 4:
                write_png(screenshot, w, h, image)
                return
        time.sleep(0.5)
    write_png(screenshot, w, h, image)
    raise Failure(f"no moving picture on the live stage (bright spots seen: {seen[-4:]}); see {screenshot}")


def tile_moves(image, w, h, earlier):
    """Whether the bright part of a tile's picture (the demo camera's ball)
    moved since the earlier grab; a still picture keeps its spot exactly."""
    x, y, n = bright_spot(image, w, h)
    return n > 0 and earlier is not None and earlier[2] > 0 and abs(x - earlier[0]) + abs(y - earlier[1]) >= 2


def wall(Atspi, app, site, online, offline, screenshot):
    """Opens the site's wall with its "Play all" button, waits until every
    camera of the site that is online plays (its video says nothing over the
    picture) and the picture of each moves, and stops the wall."""
    wait_until(f"\"Play all\" of {site}", 30,
               lambda: showing(Atspi, app, "push button", f"Play all cameras at {site}")).do_action(0)
    grid = wait_until("the camera wall", 30, lambda: showing(Atspi, app, "filler", "Camera wall")
                      or showing(Atspi, app, "panel", "Camera wall"))

    def tiles():
        found = []
        for n in nodes(grid):
            try:
                if (n.get_role_name() == "filler" and n.get_name() == "Video"
                        and n.get_state_set().contains(Atspi.StateType.SHOWING)):
                    found.append(n)
            except Exception:
                continue
        return found

    def settled():
        said = [t.get_description() for t in tiles()]
        return (said.count("") == online and said.count("Offline") == offline
                and len(said) == online + offline) and said

    try:
        wait_until(f"every camera of {site} playing", 120, settled, pause=0.5)
    except Failure:
        said = [t.get_description() or "(playing)" for t in tiles()]
        raise Failure(f"the wall of {site} did not play: its tiles say {said}")
    playing = [extents(Atspi, t) for t in tiles() if t.get_description() == ""]
    moved = [False] * len(playing)
    spots = [None] * len(playing)
    deadline = time.monotonic() + 60
    while not all(moved) and time.monotonic() < deadline:
        for i, (x, y, w, h) in enumerate(playing):
            if moved[i]:
                continue
            image = grab(x, y, w, h)
            moved[i] = tile_moves(image, w, h, spots[i])
            spots[i] = bright_spot(image, w, h)
        time.sleep(0.4)
    x0 = min(x for x, _, _, _ in playing)
    y0 = min(y for _, y, _, _ in playing)
    x1 = max(x + w for x, _, w, _ in playing)
    y1 = max(y + h for _, y, _, h in playing)
    write_png(screenshot, x1 - x0, y1 - y0, grab(x0, y0, x1 - x0, y1 - y0))
    if not all(moved):
        raise Failure(f"on the wall of {site}, {moved.count(False)} of {len(moved)} playing tiles show no moving "
                      f"picture; see {screenshot}")
    wait_until("the wall's Stop all", 10, lambda: showing(Atspi, app, "push button", "Stop all")).do_action(0)
    wait_until("the wall gone", 30, lambda: not tiles())


# A spinner that dies with the test, even one killed outright (the kernel
# sends it SIGKILL when its parent ends).
SPIN = "import ctypes; ctypes.CDLL(None).prctl(1, 9)\nwhile True: pass"


class BusyProcessors:
    """One process per processor spinning for as long as it is held: the
    machine as busy as a desktop where something else is running flat out."""

    def __enter__(self):
        self.spinners = [subprocess.Popen([sys.executable, "-c", SPIN], stdin=subprocess.DEVNULL)
                         for _ in range(os.cpu_count() or 1)]
        return self

    def __exit__(self, *exc):
        for p in self.spinners:
            p.kill()
        for p in self.spinners:
            p.wait()


def run(build, work):
    Atspi = atspi()
    prepare(work)
    env = dict(os.environ, KVR_DEMO_DIR=work, KVR_DEMO_BUILD=build, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    out_path = os.path.join(work, "demo-output.txt")
    out = open(out_path, "wb")
    # No standard input, as from CI or a launcher; a session of its own, so
    # that whatever it starts can be found again.
    demo = subprocess.Popen(["bash", os.path.join(ROOT, "tools", "demo.sh")], cwd=ROOT, env=env,
                            stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                            start_new_session=True)
    try:
        drive(Atspi, demo, build, work)
    except BaseException:
        kill_all(demo.pid, work)
        demo.wait()
        out.close()
        print("--- demo output")
        print(open(out_path, errors="replace").read()[-4000:])
        for name in ("camera.txt", "server.txt"):
            path = os.path.join(work, "logs", name)
            if os.path.exists(path):
                print(f"--- {name}")
                print(open(path, errors="replace").read()[-2000:])
        log = os.path.join(work, "home", ".local", "state", "Kavira", "kvr.log")
        if os.path.exists(log):
            print("--- kvr.log")
            print(open(log, errors="replace").read()[-4000:])
        raise
    out.close()


def drive(Atspi, demo, build, work):
    def alive(what):
        if demo.poll() is not None:
            raise Failure(f"the demo ended (status {demo.returncode}) before {what}")

    def on_screen(role, name, seconds):
        def probe():
            alive(f"{role} \"{name}\" showed")
            a = kavira_app(Atspi)
            return a and showing(Atspi, a, role, name)

        return wait_until(f"{role} \"{name}\"", seconds, probe)

    # The first start writes the cloud recording before anything opens.
    user = on_screen("text", "Username", 240)
    app = kavira_app(Atspi)
    user.set_text_contents("demo")
    on_screen("password text", "Password", 10).set_text_contents("demo")
    on_screen("push button", "Sign in", 10).do_action(0)

    def first_camera():
        alive("the catalogue showed")
        tree = showing(Atspi, app, "tree", "Catalog")
        return tree and next((n for n in nodes(tree) if n.get_name() == "Camera 1"
                              and n.get_state_set().contains(Atspi.StateType.SHOWING)), None)

    camera = wait_until("the catalogue's first camera", 60, first_camera)
    x, y, w, h = extents(Atspi, camera)
    click(x + w // 2, y + h // 2)
    picture_moves(Atspi, app, os.path.join(build, "screenshots", "demo_live.png"))

    # Whole sites' walls, opened and stopped in turn, on a busy machine: the
    # head office's eight cameras, the warehouse's four that are online
    # beside the four of its offline recorder.
    with BusyProcessors():
        for turn, (site, online, offline) in enumerate([("Head Office", 8, 0), ("Warehouse", 4, 4)] * 2):
            alive(f"the wall of {site} opened")
            wall(Atspi, app, site, online, offline,
                 os.path.join(build, "screenshots", f"demo_wall_{turn + 1}.png"))

    # Quit by closing the window; the demo stops what it started.
    pids = [pid for pid, cmd in started_by_demo(demo.pid, work).items() if cmd.split(" ")[0].endswith("/kavira")]
    if len(pids) != 1:
        raise Failure(f"expected one kavira among the demo's processes, found {len(pids)}")
    if close_windows(pids[0]) == 0:
        raise Failure("kavira has no window on screen to close")
    try:
        status = demo.wait(timeout=60)
    except subprocess.TimeoutExpired:
        raise Failure("the demo did not end within 60 s of its window closing")
    if status != 0:
        raise Failure(f"the demo ended with status {status}")
    try:
        wait_until("the demo's processes to end", 10, lambda: not started_by_demo(demo.pid, work))
    except Failure:
        left = started_by_demo(demo.pid, work)
        raise Failure("left running after the demo ended: " + "; ".join(f"{p} {c}" for p, c in left.items()))


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    status = under_private_bus()
    if status is not None:
        return status
    build, work = (os.path.abspath(a) for a in sys.argv[1:])
    try:
        run(build, work)
    except Failure as e:
        print(f"FAIL: {e}")
        print("0 passed, 1 failed")
        return 1
    print("1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
