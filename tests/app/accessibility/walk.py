#!/usr/bin/python3
"""What a screen reader meets: one application's tree on the desktop's accessibility bus.

  walk.py dump PID             prints the tree as JSON: role, name, description, states,
                               actions and children of every node the application exposes
  walk.py press PID NAME [ROLE]
                               performs the press action of the first node of that name
                               (and role), scrolled into view or not, as a screen reader's
                               user would
  walk.py listen PID           prints "listening" once it hears the application's events,
                               then one JSON line per node that comes to show or takes the
                               keyboard: the event ("showing" or "focused"), its role and
                               name, and the labels under it that show, which a screen
                               reader says with a notification as it shows; until its input
                               closes

Exits 2 when the application or the node is not on the bus.
"""
import json
import sys
import time

import pyatspi
from gi.repository import Atspi, GLib

STATES = {
    "showing": pyatspi.STATE_SHOWING,
    "visible": pyatspi.STATE_VISIBLE,
    "enabled": pyatspi.STATE_ENABLED,
    "focusable": pyatspi.STATE_FOCUSABLE,
    "selected": pyatspi.STATE_SELECTED,
    "checked": pyatspi.STATE_CHECKED,
    "focused": pyatspi.STATE_FOCUSED,
}


def application(pid):
    # The application registers with the bus shortly after its window appears; a minute
    # without it stands for a hang, however loaded the machine.
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for index in range(desktop.childCount):
            app = desktop.getChildAtIndex(index)
            if app is not None and app.get_process_id() == pid:
                return app
        time.sleep(0.1)
    return None


def actions_of(node):
    try:
        action = node.queryAction()
    except NotImplementedError:
        return []
    return [action.getName(index) for index in range(action.nActions)]


def describe(node, depth=0):
    states = node.getState()
    children = []
    if depth < 200:
        for index in range(node.childCount):
            child = node.getChildAtIndex(index)
            if child is not None:
                children.append(describe(child, depth + 1))
    return {
        "role": node.getRoleName(),
        "name": node.name,
        "description": node.description,
        "states": [name for name, state in STATES.items() if states.contains(state)],
        "actions": actions_of(node),
        "children": children,
    }


def find(node, name, role):
    # Hidden nodes are not in the tree; one scrolled out of view still counts.
    if node.name == name and (role is None or node.getRoleName() == role):
        return node
    for index in range(node.childCount):
        child = node.getChildAtIndex(index)
        if child is not None:
            found = find(child, name, role)
            if found is not None:
                return found
    return None


def press(app, name, role):
    node = find(app, name, role)
    if node is None:
        return False
    action = node.queryAction()
    names = [action.getName(index) for index in range(action.nActions)]
    for wanted in ("press", "Press", "click", "toggle", "Toggle"):
        if wanted in names:
            return action.doAction(names.index(wanted))
    return False


def labels_under(node, depth=0):
    labels = []
    if depth > 50:
        return labels
    for index in range(node.childCount):
        child = node.getChildAtIndex(index)
        if child is None:
            continue
        if child.getRole() == pyatspi.ROLE_LABEL and child.getState().contains(pyatspi.STATE_SHOWING):
            labels.append(child.name)
        labels.extend(labels_under(child, depth + 1))
    return labels


def listen(app, pid):
    def heard(event):
        try:
            source = event.source
            if source.get_process_id() != pid or not event.detail1:
                return
            kind = "showing" if event.type.endswith("showing") else "focused"
            line = {"event": kind, "role": source.getRoleName(), "name": source.name,
                    "labels": labels_under(source) if kind == "showing" else []}
        except Exception:  # a node that went before it was read
            return
        print(json.dumps(line), flush=True)

    def closed(*_):
        pyatspi.Registry.stop()
        return False

    # Nothing read is kept: a label says what it says now, not what it said when last read.
    app.set_cache_mask(Atspi.Cache.NONE)
    pyatspi.Registry.registerEventListener(
        heard, "object:state-changed:showing", "object:state-changed:focused")
    # The registry tells the application of a new listener before it answers this one: a
    # question to the application after that reaches it after the news.
    app.clear_cache()
    app.childCount
    print("listening", flush=True)
    GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP | GLib.IO_ERR, closed)
    pyatspi.Registry.start()
    return 0


def main(arguments):
    if len(arguments) < 3:
        print(__doc__, file=sys.stderr)
        return 64
    command, pid = arguments[1], int(arguments[2])
    app = application(pid)
    if app is None:
        print("the application is not on the accessibility bus", file=sys.stderr)
        return 2
    if command == "dump":
        json.dump(describe(app), sys.stdout)
        return 0
    if command == "listen":
        return listen(app, pid)
    if command == "press" and len(arguments) >= 4:
        role = arguments[4] if len(arguments) > 4 else None
        return 0 if press(app, arguments[3], role) else 2
    print(__doc__, file=sys.stderr)
    return 64


if __name__ == "__main__":
    sys.exit(main(sys.argv))
