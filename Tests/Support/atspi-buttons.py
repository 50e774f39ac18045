#!/usr/bin/python3
"""Finds a program's buttons through AT-SPI, as a screen reader or a user's tool would.

    atspi-buttons.py state APP LABEL
        Prints "showing" or "hidden" for the first button named LABEL in the application named
        APP; exits 1 when there is none.
    atspi-buttons.py press APP LABEL
        Runs the first action ("Press") of the first showing button or tab named LABEL in APP,
        waiting up to 15 seconds for one to show; exits 1 when none does.
    atspi-buttons.py labels APP
        Prints the name and the description of every showing label in APP, a tab between them,
        one label a line, as a screen reader would read them.
"""
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

BUTTONS = {Atspi.Role.PUSH_BUTTON, Atspi.Role.PAGE_TAB}


def application(name):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == name:
            return app
    return None


def buttons(node, label, depth=0):
    if node is None or depth > 40:
        return
    try:
        if node.get_role() in BUTTONS and node.get_name() == label:
            yield node
        for i in range(node.get_child_count()):
            yield from buttons(node.get_child_at_index(i), label, depth + 1)
    except GLib.Error:
        return  # a window that went away while we walked it


def showing(node):
    return node.get_state_set().contains(Atspi.StateType.SHOWING)


def state(app_name, label):
    app = application(app_name)
    if app is None:
        sys.exit(f"no application {app_name!r}")
    found = list(buttons(app, label))
    if not found:
        sys.exit(f"no button {label!r}")
    print("showing" if any(showing(b) for b in found) else "hidden")


def press(app_name, label):
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline:
        app = application(app_name)
        for button in buttons(app, label) if app is not None else []:
            if showing(button):
                button.do_action(0)
                return
        time.sleep(0.2)
    sys.exit(f"no showing button {label!r} in {app_name!r}")


def labels_of(node, depth=0):
    if node is None or depth > 40:
        return
    try:
        if node.get_role() == Atspi.Role.LABEL and showing(node):
            yield node
        for i in range(node.get_child_count()):
            yield from labels_of(node.get_child_at_index(i), depth + 1)
    except GLib.Error:
        return


def labels(app_name):
    app = application(app_name)
    if app is None:
        sys.exit(f"no application {app_name!r}")
    for label in labels_of(app):
        print(f"{label.get_name()}\t{label.get_description()}")


{"state": state, "press": press, "labels": labels}[sys.argv[1]](*sys.argv[2:4])
