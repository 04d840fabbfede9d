#!/usr/bin/env python3
"""The virtual display of with-display.sh keeps a client that has connected
but not yet said hello while another client comes and goes: a program
starting while a helper that only read a property of the screen leaves is
such a client. Run inside with-display.sh; skipped (77) off X."""
import os
import socket
import struct
import sys
import time

display = os.environ.get("DISPLAY", "")
if os.environ.get("QT_QPA_PLATFORM", "xcb") != "xcb" or not display.startswith(":"):
    print("SKIP: no virtual X display")
    sys.exit(77)
path = "/tmp/.X11-unix/X" + display[1:].split(".")[0]
HELLO = struct.pack("<BxHHHHxx", ord("l"), 11, 0, 0, 0)


def connect():
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.settimeout(10)
    s.connect(path)
    return s


def greeted(s):
    s.sendall(HELLO)
    answer = s.recv(8)
    return bool(answer) and answer[0] == 1


failures = 0
for attempt in range(3):
    late = connect()
    other = connect()
    if not greeted(other):
        print("FAIL: a client was not let in")
        sys.exit(1)
    other.close()
    # The server notices the other client left before it hears from this one.
    time.sleep(0.3)
    try:
        ok = greeted(late)
    except OSError:
        ok = False
    late.close()
    if not ok:
        failures += 1
if failures:
    print(f"FAIL: {failures} of 3 clients dropped before their hello when another client left")
    print("0 passed, 1 failed")
    sys.exit(1)
print("1 passed, 0 failed")
