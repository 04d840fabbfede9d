#!/usr/bin/python3
"""The demo's organisation server keeps what a real one keeps across its
restarts: the program kvr-fake-server, given KVR_FAKE_STATE, is signed in to,
refreshed, given a preset, stopped and started again, and the application's
latest refresh token still works and the preset is still there. A state file
it cannot read is kept aside and said so, and the server starts afresh.

  demo_server.py SERVER_PROGRAM
"""
import json
import os
import signal
import stat
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

from desktop_kit import Failure, free_port

SECRET = "5e1b7c0a93d24f68b0ce7a19d3f25b84"  # the fake server's shared API secret


class Server:
    """The program on a port of its own, with its output in a file."""

    def __init__(self, program, work, state):
        self.port = free_port()
        self.log = os.path.join(work, f"server-{self.port}.txt")
        env = dict(os.environ, KVR_FAKE_PORT=str(self.port))
        if state:
            env["KVR_FAKE_STATE"] = state
        with open(self.log, "wb") as out:
            self.process = subprocess.Popen([program], env=env, stdout=out, stderr=subprocess.STDOUT,
                                            stdin=subprocess.DEVNULL)
        deadline = time.monotonic() + 20
        while "listening" not in self.output():
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise Failure(f"the server did not start: {self.output()}")
            time.sleep(0.05)

    def output(self):
        with open(self.log, errors="replace") as f:
            return f.read()

    def stop(self):
        # Stopped as the demo stops it: a signal, no goodbye.
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        self.process.wait(10)

    def call(self, method, path, body=None, token=None):
        request = urllib.request.Request(f"http://127.0.0.1:{self.port}{path}", method=method,
                                         data=json.dumps(body).encode() if body is not None else None,
                                         headers={"Content-Type": "application/json", "X-Spa-Secret": SECRET})
        if token:
            request.add_header("Authorization", f"Bearer {token}")
        try:
            with urllib.request.urlopen(request, timeout=10) as reply:
                return reply.status, json.loads(reply.read() or b"{}")
        except urllib.error.HTTPError as e:
            return e.code, json.loads(e.read() or b"{}")

    def sign_in(self):
        status, answer = self.call("POST", "/v2/login/", {"username": "demo", "password": "demo", "remember_me": True})
        if status != 200:
            raise Failure(f"sign-in answered {status}: {answer}")
        return answer["data"]["access_token"], answer["data"]["refresh_token"]

    def refresh(self, token):
        status, answer = self.call("POST", "/v2/token/refresh/", {"refresh_token": token})
        return status, answer.get("data", {})

    def presets(self, access):
        status, answer = self.call("GET", "/v2/api/organisation/presets/?org_id=7", token=access)
        if status != 200:
            raise Failure(f"the presets answered {status}")
        return [p["preset_name"] for p in answer["preset_data"]]


def check(cond, what):
    if not cond:
        raise Failure(what)


def kept_across_a_restart(program, work):
    """A sign-in the application remembers, refreshed meanwhile, and a preset
    saved: all there after a restart, and only the token that is still
    current works."""
    state = os.path.join(work, "kept", "server-state.json")
    first = Server(program, work, state)
    try:
        access, refresh = first.sign_in()
        status, data = first.refresh(refresh)
        check(status == 200, f"a refresh before the restart answered {status}")
        rotated, current = refresh, data["refresh_token"]
        status, _ = first.call("POST", "/v2/api/create/preset/",
                               {"preset_name": "Loading docks", "camera_ids": [5000005, 5000006]}, token=access)
        check(status == 201, f"saving a preset answered {status}")
    finally:
        first.stop()
    check(stat.S_IMODE(os.stat(state).st_mode) == 0o600, "the state file is readable by others")
    check(rotated not in open(state).read(), "the state keeps a refresh token already used")

    again = Server(program, work, state)
    try:
        check(again.refresh(rotated)[0] == 401, "a refresh token used before the restart works again")
        status, data = again.refresh(current)
        check(status == 200, f"the remembered sign-in was refused after the restart ({status})")
        check(again.presets(data["access_token"]) == ["Entrances", "Loading docks"],
              "the presets after the restart are not the demo's and the saved one")
    finally:
        again.stop()
    # What the second run changed is kept too: a third run takes its token.
    third = Server(program, work, state)
    try:
        check(third.refresh(data["refresh_token"])[0] == 200, "a token issued after a restart is lost at the next")
    finally:
        third.stop()


def unreadable_state_is_kept_aside(program, work):
    """Garbage, a state of the wrong shape, and a file too large to read:
    each is moved aside untouched and said so, and the server serves afresh."""
    samples = {
        "garbage": b"\x00\xff not json",
        "shape": json.dumps({"version": 1, "sessions": [{"refresh_token": "x"}], "presets": []}).encode(),
        "huge": b"[" + b"0," * (3 * 1024 * 1024) + b"0]",
    }
    for name, content in samples.items():
        state = os.path.join(work, name, "server-state.json")
        os.makedirs(os.path.dirname(state))
        with open(state, "wb") as f:
            f.write(content)
        server = Server(program, work, state)
        try:
            said = server.output()
            check(f"{state} could not be read" in said and f"kept as {state}.unreadable" in said,
                  f"{name}: not said in words: {said[:300]}")
            access, _ = server.sign_in()
            check(server.presets(access) == ["Entrances"], f"{name}: not the demo's presets afresh")
        finally:
            server.stop()
        with open(state + ".unreadable", "rb") as f:
            check(f.read() == content, f"{name}: the unreadable file was not kept as it was")
        check(json.load(open(state))["version"] == 1, f"{name}: no fresh state written")


def nothing_kept_unless_asked(program, work):
    """Without KVR_FAKE_STATE the server keeps nothing, as the tests expect."""
    server = Server(program, work, None)
    try:
        _, refresh = server.sign_in()
    finally:
        server.stop()
    again = Server(program, work, None)
    try:
        check(again.refresh(refresh)[0] == 401, "a server told to keep nothing kept a sign-in")
    finally:
        again.stop()


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    program = os.path.abspath(sys.argv[1])
    passed = failed = 0
    for case in (kept_across_a_restart, unreadable_state_is_kept_aside, nothing_kept_unless_asked):
        with tempfile.TemporaryDirectory() as work:
            try:
                case(program, work)
                passed += 1
                print(f"PASS: {case.__name__}")
            except (Failure, OSError, ValueError, KeyError, subprocess.TimeoutExpired) as e:
                failed += 1
                print(f"FAIL: {case.__name__}: {e}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
