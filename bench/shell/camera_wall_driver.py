#!/usr/bin/python3
"""Plays and stops a camera wall in the running program, through the
accessibility tree, as a person would; driven by bench_idle_memory.

Reads commands on standard input, one a line, and answers each on standard
output once done:

  play N   clicks the recorder "Recorder 1-1" in the catalogue, its "Play all
           channels" and N cameras per page; answers "playing" once N tiles
           show pictures (their videos say nothing over them)
  stop     clicks "Stop all"; answers "stopped" once no video is shown

Anything that does not come about in time is answered "failed: <what>", with
what the tiles said on standard error. Needs the system's Python bindings for
the accessibility bus (gir1.2-atspi-2.0) and a session bus.
"""
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


class Failed(Exception):
    pass


def nodes(node, depth=0):
    if node is None or depth > 30:
        return
    yield node
    try:
        count = node.get_child_count()
    except Exception:  # the widget went away while we walked
        return
    for i in range(count):
        try:
            child = node.get_child_at_index(i)
        except Exception:
            continue
        yield from nodes(child, depth + 1)


def showing(test):
    """What the program's windows show now, read afresh."""
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == "Kavira":
            app.clear_cache()
            found = []
            for n in nodes(app):
                try:
                    if n.get_state_set().contains(Atspi.StateType.SHOWING) and test(n):
                        found.append(n)
                except Exception:
                    pass
            return found
    return []


def videos():
    return showing(lambda n: n.get_role_name() == "filler" and n.get_name() == "Video")


def named(roles, name):
    return lambda: showing(lambda n: n.get_role_name() in roles and n.get_name() == name)


def wait_for(what, probe, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        found = probe()
        if found:
            return found
        time.sleep(0.3)
    said = [v.get_description() or "(playing)" for v in videos()]
    print(f"  {len(said)} tiles: " + "; ".join(sorted(set(said))), file=sys.stderr, flush=True)
    raise Failed(what)


def click(node):
    box = node.get_extents(Atspi.CoordType.SCREEN)
    Atspi.generate_mouse_event(box.x + box.width // 2, box.y + box.height // 2, "b1c")


def play(tiles):
    play_all = named(("push button",), "Play all channels")
    for _ in range(3):  # the catalogue may still be filling when first clicked
        click(wait_for("the recorder in the catalogue", named(("table cell",), "Recorder 1-1"), 120)[0])
        try:
            wait_for("the recorder's Play all channels", play_all, 20)[0].do_action(0)
            break
        except Failed:
            continue
    else:
        raise Failed("the recorder's Play all channels")
    # A checkable button: the accessibility action toggles it without a
    # click, so it is clicked as a person does.
    click(wait_for(f"{tiles} per page", named(("push button", "toggle button", "check box"), str(tiles)), 60)[0])

    def all_playing():
        said = [v.get_description() for v in videos()]
        return len(said) == tiles and not any(said)

    wait_for(f"{tiles} tiles playing", all_playing, 180)


def stop():
    wait_for("Stop all", named(("push button",), "Stop all"), 60)[0].do_action(0)
    wait_for("no video shown", lambda: not videos() or None, 60)


for line in sys.stdin:
    words = line.split()
    if not words:
        continue
    try:
        if words[0] == "play":
            play(int(words[1]))
            print("playing", flush=True)
        elif words[0] == "stop":
            stop()
            print("stopped", flush=True)
    except Failed as e:
        print(f"failed: {e}", flush=True)
