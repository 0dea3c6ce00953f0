#!/usr/bin/python3
"""What a screen reader gets from the launcher, through AT-SPI (Debian's python3-pyatspi).

    atspi_reader.py APP tree          the application's objects, one JSON object a line
    atspi_reader.py APP press NAME    the press action of the first showing object named NAME
    atspi_reader.py APP focus NAME    gives the keyboard to the first showing object named NAME
    atspi_reader.py APP listen        the events a screen reader acts on, one JSON object a line

APP is the start of the application's name. The session bus and the accessibility bus are the
caller's (DBUS_SESSION_BUS_ADDRESS)."""

import json
import sys

import pyatspi


def application(prefix):
    desktop = pyatspi.Registry.getDesktop(0)
    for index in range(desktop.childCount):
        app = desktop.getChildAtIndex(index)
        if app is not None and (app.name or "").startswith(prefix):
            return app
    return None


def describe(node, depth, path):
    states = node.getState().getStates()
    return {
        "depth": depth,
        "path": path,
        "role": node.getRoleName(),
        "name": node.name or "",
        "description": node.description or "",
        "children": node.childCount,
        "showing": pyatspi.STATE_SHOWING in states,
        "focused": pyatspi.STATE_FOCUSED in states,
        "checked": pyatspi.STATE_CHECKED in states,
        "sensitive": pyatspi.STATE_SENSITIVE in states,
        "active": pyatspi.STATE_ACTIVE in states,
    }


def walk(node, depth=0, path="0"):
    yield node, depth, path
    for index in range(node.childCount):
        child = node.getChildAtIndex(index)
        if child is not None:
            yield from walk(child, depth + 1, "%s.%d" % (path, index))


def tree(app):
    for node, depth, path in walk(app):
        print(json.dumps(describe(node, depth, path), ensure_ascii=False))


def press(app, name):
    for node, _, _ in walk(app):
        if node.name != name or pyatspi.STATE_SHOWING not in node.getState().getStates():
            continue
        action = node.queryAction()
        for index in range(action.nActions):
            if action.getName(index) in ("Press", "press", "click"):
                action.doAction(index)
                print("pressed")
                return 0
    print("not found")
    return 1


def focus(app, name):
    for node, _, _ in walk(app):
        if node.name == name and pyatspi.STATE_SHOWING in node.getState().getStates():
            node.queryComponent().grabFocus()
            print("focused")
            return 0
    print("not found")
    return 1


def listen(prefix):
    def heard(event):
        try:
            host = event.host_application
            if host is None or not (host.name or "").startswith(prefix):
                return
            source = event.source
            record = {
                "type": event.type,
                "detail1": event.detail1,
                "role": source.getRoleName(),
                "name": source.name or "",
                "description": source.description or "",
                # What Orca speaks of a changed description: the event's own text.
                "data": event.any_data if isinstance(event.any_data, str) else "",
            }
        except Exception:  # an object gone while the event travelled
            return
        print(json.dumps(record, ensure_ascii=False), flush=True)

    pyatspi.Registry.registerEventListener(
        heard, "object:state-changed:focused", "object:state-changed:showing",
        "object:state-changed:checked", "object:state-changed:active", "window:activate",
        "object:property-change:accessible-description",
        "object:property-change:accessible-name")
    print(json.dumps({"type": "listening"}), flush=True)
    pyatspi.Registry.start()


def main():
    prefix, command = sys.argv[1], sys.argv[2]
    if command == "listen":
        return listen(prefix)
    app = application(prefix)
    if app is None:
        print("no application")
        return 2
    if command == "tree":
        tree(app)
        return 0
    if command == "press":
        return press(app, sys.argv[3])
    if command == "focus":
        return focus(app, sys.argv[3])
    return 3


if __name__ == "__main__":
    sys.exit(main())
