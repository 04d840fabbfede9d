#!/usr/bin/python3
"""The README's demo commands, `bash tools/demo.sh` and `bash tools/demo.sh
--native`, run as a person would, three times over one demo folder.

On a virtual display of its own (tests/support/with-display.sh) and a private
session bus, each start has no standard input (as from CI or a desktop
launcher) and is driven through the accessibility tree:

1. The first start: "Test connection" in the server dialog finds the relay
   the demo set; sign in as demo / demo, remembered; a camera of the
   catalogue plays and its picture moves; a site's whole wall plays, every
   camera that is online moving, is stopped and the other site's opened,
   four walls in turn, with every processor kept busy by other processes
   meanwhile (the camera must keep answering however walls come and go on a
   busy machine); a wall is saved as a preset.
2. A restart: the remembered sign-in opens the catalogue with no password,
   and the preset saved before plays.
3. A restart in native mode: "Get snapshots" of a recorder shows the test
   camera's picture, and a report is exported into the demo folder, which the
   toast names.

After each, the window is closed as a window manager would, the demo ends
cleanly and leaves nothing it started running, its terminal showed no more
than its banner, and the banner counted the devices of that run's fleet.

  demo_run.py BUILD_DIR WORK_DIR

The demo's cloud recording is kept in WORK_DIR/hls between runs (writing it
costs a minute of encoding); everything else there starts afresh.
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import time

from desktop_kit import (Failure, Messages, atspi, bright_spot, click_on, close_windows, extents, grab, kavira_app,
                         nodes, picture_moves, processes_of, showing, showing_where, text_of, under_private_bus,
                         wait_until, write_png)

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
# The environment entry every process the demo starts inherits, so that one
# that escaped the demo's session is found too.
MARK = "KVR_DEMO_DIR"
PRESET = "Warehouse cameras"


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


def tile_moves(image, w, h, earlier):
    """Whether the bright part of a tile's picture (the demo camera's ball)
    moved since the earlier grab; a still picture keeps its spot exactly."""
    x, y, n = bright_spot(image, w, h)
    return n > 0 and earlier is not None and earlier[2] > 0 and abs(x - earlier[0]) + abs(y - earlier[1]) >= 2


def watch_wall(Atspi, app, name, online, offline, screenshot):
    """Waits until every camera of the open wall that is online plays (its
    video says nothing over the picture) and the picture of each moves, and
    stops the wall."""
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
        wait_until(f"every camera of {name} playing", 120, settled, pause=0.5)
    except Failure:
        said = [t.get_description() or "(playing)" for t in tiles()]
        raise Failure(f"the wall of {name} did not play: its tiles say {said}")
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
        raise Failure(f"on the wall of {name}, {moved.count(False)} of {len(moved)} playing tiles show no moving "
                      f"picture; see {screenshot}")
    wait_until("the wall's Stop all", 10, lambda: showing(Atspi, app, "push button", "Stop all")).do_action(0)
    wait_until("the wall gone", 30, lambda: not tiles())


def wall(Atspi, app, site, online, offline, screenshot):
    """Opens the site's wall with its "Play all" button and watches it."""
    wait_until(f"\"Play all\" of {site}", 30,
               lambda: showing(Atspi, app, "push button", f"Play all cameras at {site}")).do_action(0)
    watch_wall(Atspi, app, site, online, offline, screenshot)


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


class Demo:
    """One start of tools/demo.sh over the demo folder, its terminal in a file."""

    def __init__(self, Atspi, build, work, turn, args):
        self.Atspi = Atspi
        self.build = build
        self.work = work
        self.output = os.path.join(work, f"terminal-{turn}.txt")
        env = dict(os.environ, KVR_DEMO_DIR=work, KVR_DEMO_BUILD=build)
        # No standard input, as from CI or a launcher; a session of its own,
        # so that whatever it starts can be found again.
        with open(self.output, "wb") as out:
            self.process = subprocess.Popen(["bash", os.path.join(ROOT, "tools", "demo.sh")] + args, cwd=ROOT,
                                            env=env, stdin=subprocess.DEVNULL, stdout=out,
                                            stderr=subprocess.STDOUT, start_new_session=True)

    def started(self):
        return processes_of(self.process.pid, f"{MARK}={self.work}")

    def alive(self, what):
        if self.process.poll() is not None:
            raise Failure(f"the demo ended (status {self.process.returncode}) before {what}")

    def app(self):
        return kavira_app(self.Atspi)

    def on_screen(self, role, name, seconds):
        def probe():
            self.alive(f"{role} \"{name}\" showed")
            a = self.app()
            return a and showing(self.Atspi, a, role, name)

        return wait_until(f"{role} \"{name}\"", seconds, probe)

    def dialog(self, title, seconds=30):
        """A dialog of the program whose title starts with `title`."""
        def probe():
            self.alive(f"the dialog \"{title}\" showed")
            a = self.app()
            return a and showing_where(self.Atspi, a, lambda n: n.get_role_name() in ("dialog", "alert")
                                       and n.get_name().startswith(title))

        return wait_until(f"the dialog \"{title}\"", seconds, probe)

    def terminal(self):
        with open(self.output, errors="replace") as f:
            return f.read()

    def banner(self, field):
        found = re.search(rf"^  {field} +(\S+)", self.terminal(), re.M)
        if not found:
            raise Failure(f"no \"{field}\" in the demo's banner:\n{self.terminal()}")
        return found.group(1)

    def quit(self):
        """Closes the window; the demo stops what it started and its terminal
        showed only its banner, counting this run's devices."""
        pids = [pid for pid, cmd in self.started().items() if cmd.split(" ")[0].endswith("/kavira")]
        if len(pids) != 1:
            raise Failure(f"expected one kavira among the demo's processes, found {len(pids)}")
        # The toolkit drops a request to close a window that a modal dialog
        # stands over, as a person meets it: the dialogs go first (a button
        # pressed through the accessibility tree acts a moment later).
        def no_dialog():
            app = self.app()
            return app is None or not showing_where(
                self.Atspi, app, lambda n: n.get_role_name() in ("dialog", "alert"))

        wait_until("the program's dialogs to close", 15, no_dialog)
        if close_windows(pids[0]) == 0:
            raise Failure("kavira has no window on screen to close")
        try:
            status = self.process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            raise Failure("the demo did not end within 60 s of its window closing")
        if status != 0:
            raise Failure(f"the demo ended with status {status}")
        try:
            wait_until("the demo's processes to end", 10, lambda: not self.started())
        except Failure:
            left = self.started()
            raise Failure("left running after the demo ended: " + "; ".join(f"{p} {c}" for p, c in left.items()))
        said = self.terminal()
        after = said.split("to stop everything the demo started.\n", 1)
        if len(after) != 2 or after[1].strip():
            raise Failure(f"the demo's terminal showed more than its banner:\n{said[-2000:]}")
        with open(os.path.join(self.work, "logs", "fleet.txt"), errors="replace") as f:
            devices = sum(1 for line in f if line.startswith("device "))
        if not devices or f"  fleet    {devices} fake devices" not in said:
            raise Failure(f"the banner does not count this run's {devices} fleet devices:\n{said}")

    def stop(self):
        for pid in self.started():
            try:
                os.kill(pid, 9)
            except OSError:
                pass
        self.process.wait()

    def report(self):
        print(f"--- {os.path.basename(self.output)}")
        print(self.terminal()[-4000:])
        for name in ("camera.txt", "server.txt", "fleet.txt", "kavira.txt"):
            path = os.path.join(self.work, "logs", name)
            if os.path.exists(path):
                print(f"--- {name}")
                with open(path, errors="replace") as f:
                    print(f.read()[-3000:])


def first_start(demo, shots):
    """Tests the connection, signs in (remembered), watches a camera and the
    walls, and saves a wall as a preset."""
    Atspi = demo.Atspi
    demo.on_screen("text", "Username", 240)  # the first start writes the cloud recording first
    app = demo.app()
    # "Test connection" finds the relay the demo entered in the settings.
    relay = "127.0.0.1:" + demo.banner("camera").rsplit(":", 1)[1].split("/")[0]
    wait_until("the server button", 10, lambda: showing_where(
        Atspi, app, lambda n: n.get_role_name() == "push button" and n.get_name().startswith("Server: "))).do_action(0)
    server = demo.dialog("Server")
    field = showing(Atspi, server, "text", "Video relay address (optional)")
    if text_of(field) != relay:
        raise Failure(f"the server dialog's relay field says \"{text_of(field)}\", not the demo's {relay}")
    showing(Atspi, server, "push button", "Test connection").do_action(0)
    result = wait_until("the connection test's result", 30, lambda: showing_where(
        Atspi, server, lambda n: n.get_role_name() == "label" and text_of(n).startswith("Server: ")
        and "Video: " in text_of(n)))
    if f"Video: reachable ({relay})" not in text_of(result) or "Server: reachable" not in text_of(result):
        raise Failure(f"the connection test says: {text_of(result)}")
    showing(Atspi, server, "push button", "Cancel").do_action(0)

    demo.on_screen("text", "Username", 10).set_text_contents("demo")
    demo.on_screen("password text", "Password", 10).set_text_contents("demo")
    remember = demo.on_screen("check box", "Remember me for 7 days", 10)
    if not remember.get_state_set().contains(Atspi.StateType.CHECKED):
        remember.do_action(0)
    demo.on_screen("push button", "Sign in", 10).do_action(0)

    tree = demo.on_screen("tree", "Catalog", 60)
    camera = wait_until("the catalogue's first camera", 60, lambda: demo.alive("the catalogue showed") or showing_where(
        Atspi, tree, lambda n: n.get_name() == "Camera 1"))
    click_on(Atspi, camera)
    picture_moves(Atspi, app, os.path.join(shots, "demo_live.png"))

    # Whole sites' walls, opened and stopped in turn, on a busy machine: the
    # head office's eight cameras, the warehouse's four that are online
    # beside the four of its offline recorder.
    with BusyProcessors():
        for turn, (site, online, offline) in enumerate([("Head Office", 8, 0), ("Warehouse", 4, 4)] * 2):
            demo.alive(f"the wall of {site} opened")
            wall(Atspi, app, site, online, offline, os.path.join(shots, f"demo_wall_{turn + 1}.png"))

    # The warehouse's wall, kept as a preset.
    demo.on_screen("push button", "Play all cameras at Warehouse", 30).do_action(0)
    demo.on_screen("push button", "Save as preset", 30).do_action(0)
    naming = demo.dialog("Save as preset")
    showing(Atspi, naming, "text", "Preset name").set_text_contents(PRESET)
    showing(Atspi, naming, "push button", "OK").do_action(0)
    saved = demo.dialog("Presets")
    if not showing_where(Atspi, saved, lambda n: text_of(n) == f"Saved “{PRESET}”."):
        raise Failure("saving the preset did not say it was saved")
    showing(Atspi, saved, "push button", "OK").do_action(0)
    demo.on_screen("push button", "Stop all", 10).do_action(0)


def restarted(demo, shots):
    """The remembered sign-in opens the catalogue at once; the preset saved
    before plays."""
    Atspi = demo.Atspi
    demo.on_screen("tree", "Catalog", 120)
    with open(os.path.join(demo.work, "logs", "server.txt"), errors="replace") as f:
        asked = f.read()
    if "POST /v2/token/refresh/" not in asked or "POST /v2/login/" in asked:
        raise Failure("the catalogue did not come from the remembered sign-in")
    app = demo.app()
    demo.on_screen("push button", "Presets", 10).do_action(0)
    presets = demo.dialog("Presets")
    item = wait_until(f"the preset \"{PRESET}\"", 30, lambda: showing_where(
        Atspi, presets, lambda n: n.get_role_name() == "list item" and n.get_name().startswith(PRESET + "\n")))
    click_on(Atspi, item)
    showing(Atspi, presets, "push button", "Play on wall").do_action(0)
    watch_wall(Atspi, app, PRESET, 4, 4, os.path.join(shots, "demo_preset.png"))


def native_start(demo, shots):
    """A recorder's snapshots are the test camera's picture; a report is
    exported into the demo's Documents folder, and the toast says so."""
    Atspi = demo.Atspi
    table = demo.on_screen("table", "Devices", 120)

    def details_of(name):
        cells = [table.get_child_at_index(i) for i in range(table.get_child_count())]
        names = [c.get_name() if c is not None else "" for c in cells]
        return name in names and cells[names.index(name) + 8]

    cell = wait_until("the Main gate NVR's details link", 30, lambda: details_of("Main gate NVR"))
    click_on(Atspi, cell)
    details = demo.dialog("Device details · Main gate NVR")
    wait_until("Get snapshots", 10, lambda: showing(Atspi, details, "push button", "Get snapshots")).do_action(0)
    snapshots = demo.dialog("Snapshots · Main gate NVR")

    def pictures():
        said = [text_of(n) for n in nodes(snapshots) if n.get_role_name() == "label"
                and text_of(n).startswith(("No snapshot", "Checking"))]
        shown = [n for n in nodes(snapshots) if n.get_role_name() == "image"]
        return not said and len(shown) == 4 and shown

    try:
        shown = wait_until("four snapshots", 30, pictures, pause=0.5)
    except Failure:
        said = [text_of(n) for n in nodes(snapshots) if n.get_role_name() == "label"]
        raise Failure(f"the snapshots are no pictures; the cards say {said}")
    x, y, w, h = extents(Atspi, snapshots)
    write_png(os.path.join(shots, "demo_snapshots.png"), w, h, grab(x, y, w, h))
    for picture in shown:
        x, y, w, h = extents(Atspi, picture)
        if not 0 < bright_spot(grab(x, y, w, h), w, h)[2] < w * h // 100:
            raise Failure("a snapshot is not the test camera's picture (a white ball on black)")
    showing(Atspi, snapshots, "push button", "Close").do_action(0)
    wait_until("the details' Close", 10, lambda: showing(Atspi, details, "push button", "Close")).do_action(0)

    demo.on_screen("push button", "Reports", 10).do_action(0)
    reports = demo.dialog("Reports")
    showing(Atspi, reports, "push button", "Export").do_action(0)
    chooser = demo.dialog("Export report")
    documents = os.path.join(demo.work, "home", "Documents")
    folder = showing_where(Atspi, chooser, lambda n: n.get_role_name() == "combo box")
    if folder is None or folder.get_name() != documents:
        raise Failure(f"the report is proposed in {folder and folder.get_name()}, not {documents}")
    # The toast stands for a few seconds: it is heard as it shows, however
    # long a walk of the program's tree takes meanwhile.
    messages = Messages(Atspi)
    try:
        showing(Atspi, chooser, "push button", "Save").do_action(0)
        # What the toast reports, then the toast as it was heard.
        written = wait_until("the report in the demo's Documents", 60, lambda: demo.alive("the report was written")
                             or glob.glob(os.path.join(documents, "vigilo-uptime-*.csv")))
        toast = messages.wait_for("the export's toast", 30, lambda t: t.startswith("Report exported"))
    finally:
        messages.close()
    if len(written) != 1 or toast != f"Report exported to {written[0]}":
        raise Failure(f"the toast says \"{toast}\"; the demo's Documents hold {written}")
    with open(written[0], "rb") as f:
        if not f.read().startswith("\ufeffdate,site,device".encode()):
            raise Failure("the exported report is not the uptime report")


def run(build, work):
    Atspi = atspi()
    prepare(work)
    shots = os.path.join(build, "screenshots")
    for turn, (args, drive) in enumerate([([], first_start), ([], restarted), (["--native"], native_start)], 1):
        demo = Demo(Atspi, build, work, turn, args)
        try:
            drive(demo, shots)
            demo.quit()
        except BaseException:
            demo.stop()
            print(f"--- the demo's start {turn} ({drive.__name__}) failed")
            demo.report()
            raise


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    status = under_private_bus("KVR_DEMO_RUN_BUS")
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
