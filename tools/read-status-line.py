#!/usr/bin/python3
"""Reads the launcher's status line as a screen reader does, through AT-SPI.

    read-status-line.py SECONDS TEXT

Waits up to SECONDS for the status line of the running launcher (the application whose name starts
with "VestrahalLauncher" on the session's accessibility bus) to read TEXT; exits 0 then, else prints
what it last read and exits 1. The status line is the window's notification: its text is its name.
"""
import sys
import time

import pyatspi

APPLICATION = "VestrahalLauncher"


def status_line(accessible, depth=0):
    if accessible is None or depth > 40:
        return None
    try:
        if accessible.getRole() == pyatspi.ROLE_NOTIFICATION:
            return accessible.name
        for child in accessible:
            found = status_line(child, depth + 1)
            if found is not None:
                return found
    except Exception:  # the window changes while it is read
        return None
    return None


def read_once():
    for application in pyatspi.Registry.getDesktop(0):
        if application is not None and (application.name or "").startswith(APPLICATION):
            return status_line(application)
    return None


def main():
    deadline = time.monotonic() + float(sys.argv[1])
    wanted = sys.argv[2]
    last = None
    while time.monotonic() < deadline:
        last = read_once()
        if last == wanted:
            print(last)
            return 0
        time.sleep(0.2)
    print("status line: %r" % (last,))
    return 1


if __name__ == "__main__":
    sys.exit(main())
