"""What the suites that drive the built program as a person would share: its
controls found through the accessibility tree, the pointer and the screen of
the X display, its windows closed as a window manager closes them, and the
moving picture of the test camera recognised on screen.

Imported by demo_run.py, demo_server.py, readme_commands.py and the inline steps of the
shell scripts here (Debian's python3, with gir1.2-atspi-2.0 and
python3-xlib).
"""
import os
import random
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import zlib


class Failure(Exception):
    pass


def free_port():
    """A loopback port free for a program started a moment later to listen
    on. Drawn below the range the system hands out to outgoing connections,
    which on a busy machine take a port free a moment ago before the program
    gets to it (the server then "cannot listen"), and free now."""
    first = 32768
    try:
        with open("/proc/sys/net/ipv4/ip_local_port_range") as f:
            first = int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        pass  # no such file (macOS): its outgoing ports start higher still
    low = 10000 if first > 12000 else 1024
    draw = random.SystemRandom()
    for _ in range(500):
        port = draw.randrange(low, first)
        with socket.socket() as s:
            try:
                s.bind(("127.0.0.1", port))
            except OSError:
                continue
            return port
    raise Failure(f"no free port between {low} and {first}")


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
        try:
            app = desktop.get_child_at_index(i)
            if app is not None and app.get_name() == "Kavira":
                return app
        except Exception:  # the program ended while we asked: it is gone
            continue
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


def is_showing(Atspi, node):
    try:
        return node.get_state_set().contains(Atspi.StateType.SHOWING)
    except Exception:
        return False


def showing(Atspi, app, role, name):
    """The first control on screen with that role and accessible name."""
    for n in nodes(app):
        try:
            if n.get_role_name() == role and n.get_name() == name and is_showing(Atspi, n):
                return n
        except Exception:
            continue
    return None


def showing_where(Atspi, app, test):
    """The first control on screen for which test(node) holds."""
    for n in nodes(app):
        try:
            if is_showing(Atspi, n) and test(n):
                return n
        except Exception:
            continue
    return None


def text_of(node):
    """What a label or text field shows."""
    try:
        text = node.get_text_iface()
        if text is not None:
            return text.get_text(0, text.get_character_count())
    except Exception:
        pass
    try:
        return node.get_name() or ""
    except Exception:
        return ""


class Messages:
    """The texts of the program's labels as they show or change, heard from
    the accessibility bus as they happen: a passing message (a toast that
    stands a few seconds) is heard however slowly a walk of the whole tree
    would find it, and is still known once it went. Made before the message
    can come, so that the program knows someone listens."""

    KINDS = ("object:state-changed:showing", "object:property-change:accessible-name")

    def __init__(self, Atspi, role="label"):
        from gi.repository import GLib

        self.context = GLib.MainContext.default()
        self.role = role
        self.heard = []
        self.listener = Atspi.EventListener.new(self._heard)
        for kind in self.KINDS:
            self.listener.register(kind)

    def _heard(self, event):
        try:
            if event.type.startswith("object:state-changed:") and not event.detail1:
                return  # a label going away says nothing new
            source = event.source
            if source.get_role_name() == self.role:
                self.heard.append(text_of(source))
        except Exception:  # the label went away while we asked
            pass

    def listen(self):
        """Takes in what the bus delivered since the last time."""
        while self.context.pending():
            self.context.iteration(False)

    def wait_for(self, what, seconds, test):
        """The first text heard for which test(text) holds."""
        def found():
            self.listen()
            return next((t for t in self.heard if test(t)), None)

        return wait_until(what, seconds, found)

    def close(self):
        for kind in self.KINDS:
            self.listener.deregister(kind)


def extents(Atspi, node):
    r = node.get_extents(Atspi.CoordType.SCREEN)
    return r.x, r.y, r.width, r.height


# ---- the X display ----------------------------------------------------------

def click(x, y, button=1, double=False):
    from Xlib import X, display
    from Xlib.ext import xtest

    d = display.Display()
    try:
        xtest.fake_input(d, X.MotionNotify, x=x, y=y)
        for _ in range(2 if double else 1):
            xtest.fake_input(d, X.ButtonPress, button)
            xtest.fake_input(d, X.ButtonRelease, button)
        d.sync()
    finally:
        d.close()


def click_on(Atspi, node, double=False):
    x, y, w, h = extents(Atspi, node)
    click(x + w // 2, y + h // 2, double=double)


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


# ---- the session bus --------------------------------------------------------

def under_private_bus(mark):
    """Runs this script again under a session bus of its own (the
    accessibility bus is started on it), with a runtime folder of its own so
    that parallel runs never share the accessibility bus's socket. None when
    this is that run (the environment holds `mark`), else its status."""
    if os.environ.get(mark):
        return None
    if not shutil.which("dbus-run-session"):
        print("FAIL: dbus-run-session is missing: install what .ci/install-deps.sh lists")
        return 1
    runtime = tempfile.mkdtemp(prefix="kvr-bus-")
    os.chmod(runtime, 0o700)
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    env[mark] = "1"
    try:
        return subprocess.call(["dbus-run-session", "--", sys.executable] + sys.argv,
                               env=env, stdin=subprocess.DEVNULL)
    finally:
        shutil.rmtree(runtime, ignore_errors=True)


# ---- processes --------------------------------------------------------------

def _stat_fields(pid):
    """The fields of /proc/<pid>/stat after the command name: state first."""
    with open(f"/proc/{pid}/stat", "rb") as f:
        stat = f.read()
    return stat[stat.rindex(b")") + 2:].split()


def ended(pid):
    """Whether the process has ended (a zombie until its parent reaps it, or
    gone); never where there is no /proc to tell."""
    if not os.path.isdir("/proc/self"):
        return False
    try:
        return _stat_fields(pid)[0] == b"Z"
    except (OSError, ValueError, IndexError):
        return True


def processes_of(session, mark=None):
    """Live processes of a session, or carrying an environment entry `mark`
    ("NAME=value"), so that one that escaped the session is found too: their
    ids and command lines."""
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            fields = _stat_fields(entry)
            if fields[0] == b"Z":
                continue
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                cmdline = f.read().replace(b"\0", b" ").decode(errors="replace").strip()
            marked = False
            if mark:
                try:
                    with open(f"/proc/{entry}/environ", "rb") as f:
                        marked = mark.encode() in f.read().split(b"\0")
                except OSError:
                    pass
            if int(fields[3]) == session or marked:
                found[int(entry)] = cmdline
        except (OSError, ValueError, IndexError):
            continue
    return found


# ---- the test camera's picture ----------------------------------------------

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
    """The live stage shows the test camera's picture, a white ball moving
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


def sign_in_and_watch(Atspi, on_screen, screenshot, user="demo", password="demo"):
    """Signs in on the sign-in window, clicks the catalogue's first camera and
    sees its picture move. `on_screen(role, name, seconds)` finds a control of
    the program (and may check the program still runs meanwhile)."""
    on_screen("text", "Username", 240).set_text_contents(user)
    on_screen("password text", "Password", 10).set_text_contents(password)
    on_screen("push button", "Sign in", 10).do_action(0)
    tree = on_screen("tree", "Catalog", 60)
    camera = wait_until("the catalogue's first camera", 60,
                        lambda: showing_where(Atspi, tree, lambda n: n.get_name() == "Camera 1"))
    click_on(Atspi, camera)
    picture_moves(Atspi, kavira_app(Atspi), screenshot)
