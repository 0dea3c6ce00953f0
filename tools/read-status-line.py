#!/usr/bin/python3
"""Reads the launcher's status line as a screen reader does, through AT-SPI.

    read-status-line.py SECONDS TEXT [ALSO...]

Waits up to SECONDS for the status line of the running launcher (the application whose name starts
with "VestrahalLauncher" on the session's accessibility bus) to read TEXT, and for every ALSO to
start the name of another object that is showing (the version label, the text of a message box);
exits 0 then, else prints what it last read and exits 1. The status line is the window's
notification: its text is its name.
"""
import sys
import time

import pyatspi

APPLICATION = "VestrahalLauncher"


def walk(accessible, depth=0):
    if accessible is None or depth > 40:
        return
    yield accessible
    for child in accessible:
        yield from walk(child, depth + 1)


def read_once():
    """The status line's text and the names of the showing objects, or None."""
    for application in pyatspi.Registry.getDesktop(0):
        if application is None or not (application.name or "").startswith(APPLICATION):
            continue
        status, names = None, []
        try:
            for accessible in walk(application):
                if accessible.getRole() == pyatspi.ROLE_NOTIFICATION and status is None:
                    status = accessible.name
                elif pyatspi.STATE_SHOWING in accessible.getState().getStates():
                    names.append(accessible.name or "")
        except Exception:  # the window changes while it is read
            return None, []
        return status, names
    return None, []


def main():
    deadline = time.monotonic() + float(sys.argv[1])
    wanted, also = sys.argv[2], sys.argv[3:]
    last = None, []
    while time.monotonic() < deadline:
        last = read_once()
        status, names = last
        missing = [start for start in also if not any(n.startswith(start) for n in names)]
        if status == wanted and not missing:
            print(status)
            return 0
        time.sleep(0.2)
    status, names = last
    print("status line: %r; showing: %r" % (status, names))
    return 1


if __name__ == "__main__":
    sys.exit(main())
