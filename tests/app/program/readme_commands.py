#!/usr/bin/python3
"""Every command of the READMEs, run as written.

The indented command blocks of every README*.md of the tree are read, and
each must be run somewhere: here, or by the suite this table names (which
must mention it), or be one this machine cannot run, with the reason. A block
no one runs fails the suite, as does an entry of the table that no README
holds any more.

Run here, as a person types them, in interactive shells on terminals of
their own (where a program started in the background that reads the
terminal is stopped): the recipe of a server on this machine in one shell,
and the fake server's own recipe in three; each peer must then answer (the
camera an RTSP DESCRIBE, the server an HTTP request), and Kavira must sign in
and play the camera's moving picture. Then the HLS recipe of the fake
server's README, and the command that runs one suite. Only the fixed ports
(8554, 8480) and the fixed folder of the HLS recipe are replaced by free
ones, so runs side by side never meet; "build" is the build folder under
test. Everything the shells started is stopped.

  readme_commands.py BUILD_DIR
"""
import os
import pty
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request

from desktop_kit import (Failure, atspi, free_port, kavira_app, processes_of, showing, sign_in_and_watch,
                         under_private_bus, wait_until)

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
HERE = os.path.dirname(os.path.abspath(__file__))

# Blocks run by another suite, which runs the command as written: the suite,
# its script, and what the script must mention.
ELSEWHERE = {
    ("bash tools/demo.sh",): ("kavira_demo", "demo_run.py", "demo.sh"),
    ("bash tools/demo.sh --native",): ("kavira_demo", "demo_run.py", "--native"),
    ("bash tools/run.sh",): ("kavira_demo_build", "demo_build.sh", "tools/run.sh"),
    ("bash tools/run.sh", "KVR_BUILD_TARGETS=kavira bash tools/build.sh", "open build/app/kavira.app"):
        ("kavira_demo_build", "demo_build.sh", "open build/app/kavira.app"),
    ("bash tools/test.sh",): ("kavira_demo_build", "demo_build.sh", "tools/test.sh"),
}



# A shell says a job stopped on a line of its own ("[2]+  Stopped  ..."); the
# programs' own output may hold the word too (the server's answer to a
# stream's stop says "Stopped.").
JOB_STOPPED = re.compile(r"^\[\d+\][+-]?\s+Stopped\b", re.MULTILINE)


def job_stopped(text):
    return JOB_STOPPED.search(text) is not None


def readme_blocks():
    """Each README's indented command blocks: (file, [commands]), a command's
    continued lines joined and its comment left out."""
    found = []
    for folder, dirs, files in os.walk(ROOT):
        dirs[:] = sorted(d for d in dirs if not d.startswith((".", "build")))
        for name in sorted(files):
            if not (name.startswith("README") and name.endswith(".md")):
                continue
            path = os.path.join(folder, name)
            blocks, current, fenced, blank = [], None, False, True
            with open(path, encoding="utf-8") as f:
                for line in f.read().split("\n"):
                    if line.lstrip().startswith("```"):
                        fenced, current, blank = not fenced, None, False
                    elif fenced:
                        continue
                    elif not line.strip():
                        blank = True
                    elif line.startswith("    ") and (blank or current is not None):
                        if current is None:
                            current = []
                            blocks.append(current)
                        current.append(line.strip())
                        blank = False
                    else:
                        current, blank = None, False
            for block in blocks:
                joined = []
                for line in block:
                    if joined and joined[-1].endswith("\\"):
                        joined[-1] = joined[-1][:-1].rstrip() + " " + line
                    else:
                        joined.append(line)
                found.append((os.path.relpath(path, ROOT), [re.sub(r"\s+#.*$", "", c).strip() for c in joined]))
    return found


class Terminal:
    """An interactive bash on a terminal of its own, in a folder laid out as
    a checkout (its "build" the build folder under test), typed into."""

    def __init__(self, checkout, env, name):
        self.name = name
        self.said = b""
        self.lock = threading.Lock()
        self.pid, self.fd = pty.fork()
        if self.pid == 0:  # the shell, leading a session with the terminal as its own
            os.chdir(checkout)
            os.execvpe("bash", ["bash", "--norc", "--noprofile", "-i"], dict(env, PS1="$ ", TERM="dumb"))
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        while True:
            try:
                chunk = os.read(self.fd, 65536)
            except OSError:
                return
            if not chunk:
                return
            with self.lock:
                self.said += chunk

    def text(self):
        with self.lock:
            return self.said.decode(errors="replace")

    def type(self, line):
        os.write(self.fd, line.encode() + b"\n")

    def interrupt(self):
        os.write(self.fd, b"\x03")

    def close(self):
        """Leaves the shell and ends whatever it started that is left."""
        try:
            self.type("exit")
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and os.waitpid(self.pid, os.WNOHANG) == (0, 0):
                time.sleep(0.1)
        except OSError:
            pass
        left = processes_of(self.pid)
        for pid in left:
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        try:
            os.waitpid(self.pid, 0)
        except OSError:
            pass
        os.close(self.fd)
        return left


def camera_serves(port):
    """The RTSP camera answers a DESCRIBE of /live with its stream."""
    def describe():
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=3) as s:
                s.sendall(f"DESCRIBE rtsp://127.0.0.1:{port}/live RTSP/1.0\r\nCSeq: 1\r\n"
                          "Accept: application/sdp\r\n\r\n".encode())
                answer = b""
                while b"m=video" not in answer:
                    chunk = s.recv(4096)
                    if not chunk:
                        break
                    answer += chunk
                return answer.startswith(b"RTSP/1.0 200") and b"m=video" in answer
        except OSError:
            return False

    wait_until(f"the camera serving on port {port}", 30, describe, pause=0.5)


def server_answers(port):
    """The fake server answers, as it does a request without a sign-in."""
    def ask():
        try:
            urllib.request.urlopen(f"http://127.0.0.1:{port}/v2/auth/me/", timeout=3)
        except urllib.error.HTTPError as e:
            return e.code == 401
        except OSError:
            return False
        return False

    wait_until(f"the server answering on port {port}", 30, ask, pause=0.3)


class Recipes:
    def __init__(self, build, work):
        self.build = build
        self.work = work
        self.checkout = os.path.join(work, "checkout")
        os.makedirs(self.checkout)
        for name in ("tests", "tools"):
            os.symlink(os.path.join(ROOT, name), os.path.join(self.checkout, name))
        os.symlink(build, os.path.join(self.checkout, "build"))
        home = os.path.join(work, "home")
        self.env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=f"{home}/.config",
                        XDG_DATA_HOME=f"{home}/.local/share", XDG_STATE_HOME=f"{home}/.local/state",
                        XDG_CACHE_HOME=f"{home}/.cache", KVR_RENDER="cpu")
        for name in ("KVR_API_BASE", "KVR_RTSP_HOST", "KVR_RTSP_PORT", "KVR_RTSP_USER", "KVR_RTSP_PASS"):
            self.env.pop(name, None)
        self.ports = {}
        self.Atspi = None

    def as_run(self, command):
        """The command as run here: its fixed ports and folder, free ones."""
        for fixed in ("8554", "8480"):
            if fixed not in self.ports:
                self.ports[fixed] = str(free_port())
            command = re.sub(rf"\b{fixed}\b", self.ports[fixed], command)
        return command.replace("/tmp/kvr-hls", os.path.join(self.work, "kvr-hls"))

    def port(self, fixed):
        return int(self.ports[fixed])

    def kavira_plays(self, terminals, screenshot):
        """The program started last signs in and plays the camera's picture."""
        if self.Atspi is None:
            self.Atspi = atspi()
        Atspi = self.Atspi

        def on_screen(role, name, seconds):
            def probe():
                for t in terminals:
                    if job_stopped(t.text()):
                        raise Failure(f"in the {t.name}, a job was stopped:\n{t.text()[-1500:]}")
                a = kavira_app(Atspi)
                return a and showing(Atspi, a, role, name)

            return wait_until(f"{role} \"{name}\"", seconds, probe)

        sign_in_and_watch(Atspi, on_screen, screenshot)

    def one_shell(self, commands):
        """The recipe of README.md: the camera and the server in the
        background of one interactive shell, Kavira in its foreground."""
        t = Terminal(self.checkout, self.env, "shell")
        try:
            t.type(self.as_run(commands[0]))
            camera_serves(self.port("8554"))
            t.type(self.as_run(commands[1]))
            server_answers(self.port("8480"))
            t.type(self.as_run(commands[2]))
            self.kavira_plays([t], os.path.join(self.build, "screenshots", "readme_one_shell.png"))
            t.interrupt()
            wait_until("Kavira to end at Ctrl+C", 20, lambda: kavira_app(self.Atspi) is None)
            t.type("kill %1 %2; wait")
        except Failure as e:
            raise Failure(f"{e}; the terminal says:\n{t.text()[-1500:]}")
        finally:
            said = t.text()
            left = t.close()
        if job_stopped(said):
            raise Failure(f"a job of the shell was stopped:\n{said[-1500:]}")
        if left:
            raise Failure(f"left running: {left}")

    def three_terminals(self, commands):
        """The recipe of the fake server's README: each program in the
        foreground of a terminal of its own."""
        terminals = []
        try:
            for name, command in zip(("camera's terminal", "server's terminal", "application's terminal"), commands):
                terminals.append(Terminal(self.checkout, self.env, name))
                terminals[-1].type(self.as_run(command))
                if len(terminals) == 1:
                    camera_serves(self.port("8554"))
                elif len(terminals) == 2:
                    server_answers(self.port("8480"))
            self.kavira_plays(terminals, os.path.join(self.build, "screenshots", "readme_three_terminals.png"))
        except Failure as e:
            raise Failure(f"{e}; the {terminals[-1].name} says:\n{terminals[-1].text()[-1500:]}")
        finally:
            left = {}
            for t in reversed(terminals):
                t.interrupt()
                time.sleep(0.5)
                left.update(t.close())
        if left:
            raise Failure(f"left running after Ctrl+C in each terminal: {left}")

    def live_hls(self, commands):
        """The HLS recipe: the ffmpeg tool writes a live playlist and its
        segments until it is interrupted."""
        folder = os.path.join(self.work, "kvr-hls")
        t = Terminal(self.checkout, self.env, "shell")
        try:
            for command in commands:
                t.type(self.as_run(command))

            def written():
                playlist = os.path.join(folder, "index.m3u8")
                if not os.path.exists(playlist):
                    return False
                with open(playlist) as f:
                    return len(re.findall(r"^index\d+\.ts$", f.read(), re.M)) >= 2

            try:
                wait_until("the live playlist with two segments", 30, written, pause=0.5)
            except Failure:
                raise Failure(f"no live playlist; the terminal says:\n{t.text()[-1500:]}")
            t.interrupt()
        finally:
            left = t.close()
        if left:
            raise Failure(f"left running: {left}")

    def one_suite(self, commands):
        """The command that runs the suites whose names match, with a
        suite's name for NAME. Its "build" holds the build folder's lists of
        suites alone, so that what this run logs there never overwrites the
        log of the run this suite is part of."""
        lists = os.path.join(self.work, "suites")
        for folder, _, files in os.walk(self.build):
            if "CTestTestfile.cmake" in files:
                copy = os.path.join(lists, os.path.relpath(folder, self.build))
                os.makedirs(copy, exist_ok=True)
                shutil.copy(os.path.join(folder, "CTestTestfile.cmake"), copy)
        os.remove(os.path.join(self.checkout, "build"))
        os.symlink(lists, os.path.join(self.checkout, "build"))
        command = self.as_run(commands[0]).replace("NAME", "tst_testkit")
        done = subprocess.run(["bash", "-c", command], cwd=self.checkout, env=self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
        said = done.stdout.decode(errors="replace")
        if done.returncode != 0 or "100% tests passed, 0 tests failed out of 1" not in said:
            raise Failure(f"it ended with status {done.returncode}:\n{said[-1500:]}")


# Blocks run here.
HERE_RUN = {
    ("/usr/bin/python3 tests/fixtures/rtsp/rtsp_server.py --port 8554 &",
     "KVR_FAKE_PORT=8480 build/tests/fixtures/kvr-fake-server &",
     "KVR_API_BASE=http://127.0.0.1:8480 KVR_RTSP_HOST=127.0.0.1 KVR_RTSP_PORT=8554 build/app/kavira"):
        Recipes.one_shell,
    ("/usr/bin/python3 tests/fixtures/rtsp/rtsp_server.py --port 8554",): Recipes.three_terminals,
    ("KVR_FAKE_PORT=8480 build/tests/fixtures/kvr-fake-server",): Recipes.three_terminals,
    ("KVR_API_BASE=http://127.0.0.1:8480 KVR_RTSP_HOST=127.0.0.1 KVR_RTSP_PORT=8554 build/app/kavira",):
        Recipes.three_terminals,
    ("mkdir -p /tmp/kvr-hls",
     "ffmpeg -re -f lavfi -i testsrc=size=640x360:rate=25 -pix_fmt yuv420p -c:v libx264 -g 50 -f hls -hls_time 2 "
     "-hls_list_size 6 -hls_flags delete_segments /tmp/kvr-hls/index.m3u8"): Recipes.live_hls,
    ("ctest --test-dir build -R NAME",): Recipes.one_suite,
}


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    status = under_private_bus("KVR_README_RUN_BUS")
    if status is not None:
        return status
    build = os.path.abspath(sys.argv[1])
    blocks = readme_blocks()
    passed = failed = 0
    problems = []
    seen = set()
    runs = {}  # handler -> the commands of its blocks, in README order
    for path, commands in blocks:
        key = tuple(commands)
        seen.add(key)
        if key in HERE_RUN:
            handler = HERE_RUN[key]
            runs.setdefault(handler, []).extend(commands)
        elif key in ELSEWHERE:
            suite, script, mention = ELSEWHERE[key]
            with open(os.path.join(HERE, script)) as f:
                if mention not in f.read():
                    problems.append(f"{path}: {suite} ({script}) is said to run {commands}, but never mentions it")
        else:
            problems.append(f"{path}: no suite runs {commands}")
    for key in list(HERE_RUN) + list(ELSEWHERE):
        if key not in seen:
            problems.append(f"no README holds {list(key)} any more")
    if problems:
        failed += 1
        for p in problems:
            print(f"FAIL: every command is run: {p}")
    else:
        passed += 1
        print("PASS: every README command block is run by a suite")

    for handler, commands in runs.items():
        with tempfile.TemporaryDirectory() as work:
            try:
                handler(Recipes(build, work), commands)
                passed += 1
                print(f"PASS: {handler.__name__}: {commands}")
            except (Failure, OSError, subprocess.TimeoutExpired) as e:
                failed += 1
                print(f"FAIL: {handler.__name__}: {commands}: {e}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
