#!/usr/bin/python3
"""A desktop's half of the GlobalShortcuts and RemoteDesktop portals, for the portal tests.

    portal-test-backend.py CALLS_FILE [--trigger TEXT] [--refuse-start] [--restore-token TOKEN]

Owns org.freedesktop.impl.portal.desktop.mock, which the real xdg-desktop-portal frontend
talks to. Every call that matters to a test is appended to CALLS_FILE as one JSON line
({"call": "SelectDevices", "options": {...}} and the like), so a test reads what the frontend
passed on, in order.

BindShortcuts binds each shortcut with TEXT as its trigger_description (its preferred trigger
when TEXT is "preferred", no shortcut at all when TEXT is "none"). Start answers 1 (refused)
with --refuse-start, and otherwise shares the keyboard, with TOKEN as its restore_token: the
frontend passes Start's results on (newer frontends make the token themselves).

org.parlwick.Test on the same object drives the signals: Activate(s id), Deactivate(s id)
CloseSessions() (the desktop ends every session, as when the user revokes it), and
SetTrigger(s TEXT) for the next BindShortcuts.
"""
import argparse
import json
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

BUS_NAME = "org.freedesktop.impl.portal.desktop.mock"
PATH = "/org/freedesktop/portal/desktop"
SHORTCUTS = "org.freedesktop.impl.portal.GlobalShortcuts"
REMOTE = "org.freedesktop.impl.portal.RemoteDesktop"
SESSION = "org.freedesktop.impl.portal.Session"
PROPERTIES = "org.freedesktop.DBus.Properties"
KEYBOARD = 1

parser = argparse.ArgumentParser()
parser.add_argument("calls_file")
parser.add_argument("--trigger", default="preferred")
parser.add_argument("--refuse-start", action="store_true")
parser.add_argument("--restore-token", default="")
args = parser.parse_args()


def plain(value):
    """D-Bus values as JSON ones."""
    if isinstance(value, dbus.Dictionary) or isinstance(value, dict):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, (dbus.Array, dbus.Struct, list, tuple)):
        return [plain(v) for v in value]
    if isinstance(value, (dbus.String, dbus.ObjectPath)):
        return str(value)
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, (int, float)):
        return value
    return str(value)


def record(call, **fields):
    with open(args.calls_file, "a") as f:
        f.write(json.dumps({"call": call, **plain(fields)}) + "\n")


class Session(dbus.service.Object):
    def __init__(self, backend, path, kind):
        super().__init__(backend.bus, path)
        self.backend = backend
        self.path = path
        self.kind = kind

    @dbus.service.method(SESSION, in_signature="", out_signature="")
    def Close(self):
        record("SessionClose", kind=self.kind)
        self.end()

    @dbus.service.signal(SESSION, signature="")
    def Closed(self):
        pass

    def end(self):
        self.backend.sessions.pop(self.path, None)
        self.remove_from_connection()


class RemoteDesktop(dbus.service.Object):
    """RemoteDesktop's methods. Both interfaces have a CreateSession: dbus-python finds a
    method by name class by class, so each interface's lives in a class of its own."""

    @dbus.service.method(REMOTE, in_signature="oosa{sv}", out_signature="ua{sv}")
    def CreateSession(self, handle, session_handle, app_id, options):
        record("RemoteCreateSession", options=options)
        self.sessions[session_handle] = Session(self, session_handle, "remote")
        return dbus.UInt32(0), dbus.Dictionary({}, signature="sv")

    @dbus.service.method(REMOTE, in_signature="oosa{sv}", out_signature="ua{sv}")
    def SelectDevices(self, handle, session_handle, app_id, options):
        record("SelectDevices", options=options)
        return dbus.UInt32(0), dbus.Dictionary({}, signature="sv")

    @dbus.service.method(REMOTE, in_signature="oossa{sv}", out_signature="ua{sv}")
    def Start(self, handle, session_handle, app_id, parent_window, options):
        record("Start")
        if args.refuse_start:
            return dbus.UInt32(1), dbus.Dictionary({}, signature="sv")
        results = {"devices": dbus.UInt32(KEYBOARD)}
        if args.restore_token:
            results["persist_mode"] = dbus.UInt32(2)
            results["restore_token"] = dbus.String(args.restore_token)
        return dbus.UInt32(0), dbus.Dictionary(results, signature="sv")

    @dbus.service.method(REMOTE, in_signature="oa{sv}iu", out_signature="")
    def NotifyKeyboardKeysym(self, session_handle, options, keysym, state):
        record("NotifyKeyboardKeysym", keysym=int(keysym), state=int(state))


class Backend(RemoteDesktop):
    def __init__(self, connection):
        super().__init__(connection, PATH)
        self.bus = connection
        self.sessions = {}
        # Per GlobalShortcuts session: the shortcuts bound.
        self.bound = {}

    def properties(self, interface):
        if interface == SHORTCUTS:
            return {"version": dbus.UInt32(1)}
        if interface == REMOTE:
            return {"version": dbus.UInt32(1), "AvailableDeviceTypes": dbus.UInt32(KEYBOARD)}
        return {}

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.properties(interface)[name]

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return dbus.Dictionary(self.properties(interface), signature="sv")

    # GlobalShortcuts

    @dbus.service.method(SHORTCUTS, in_signature="oosa{sv}", out_signature="ua{sv}")
    def CreateSession(self, handle, session_handle, app_id, options):
        record("ShortcutsCreateSession", options=options)
        self.sessions[session_handle] = Session(self, session_handle, "shortcuts")
        self.bound[session_handle] = []
        return dbus.UInt32(0), dbus.Dictionary({}, signature="sv")

    @dbus.service.method(SHORTCUTS, in_signature="ooa(sa{sv})sa{sv}", out_signature="ua{sv}")
    def BindShortcuts(self, handle, session_handle, shortcuts, parent_window, options):
        record("BindShortcuts", shortcuts=shortcuts)
        bound = []
        if args.trigger != "none":
            for shortcut_id, details in shortcuts:
                trigger = details.get("preferred_trigger", "") if args.trigger == "preferred" \
                    else args.trigger
                bound.append(dbus.Struct((shortcut_id, dbus.Dictionary({
                    "description": details.get("description", ""),
                    "trigger_description": dbus.String(trigger),
                }, signature="sv"))))
        self.bound[session_handle] = bound
        return dbus.UInt32(0), dbus.Dictionary(
            {"shortcuts": dbus.Array(bound, signature="(sa{sv})")}, signature="sv")

    @dbus.service.method(SHORTCUTS, in_signature="oo", out_signature="ua{sv}")
    def ListShortcuts(self, handle, session_handle):
        bound = self.bound.get(session_handle, [])
        return dbus.UInt32(0), dbus.Dictionary(
            {"shortcuts": dbus.Array(bound, signature="(sa{sv})")}, signature="sv")

    @dbus.service.signal(SHORTCUTS, signature="osta{sv}")
    def Activated(self, session_handle, shortcut_id, timestamp, options):
        pass

    @dbus.service.signal(SHORTCUTS, signature="osta{sv}")
    def Deactivated(self, session_handle, shortcut_id, timestamp, options):
        pass

    # The test's controls

    @dbus.service.method("org.parlwick.Test", in_signature="s", out_signature="")
    def Activate(self, shortcut_id):
        for path, session in list(self.sessions.items()):
            if session.kind == "shortcuts":
                self.Activated(path, shortcut_id, dbus.UInt64(0), dbus.Dictionary({}, "sv"))

    @dbus.service.method("org.parlwick.Test", in_signature="s", out_signature="")
    def Deactivate(self, shortcut_id):
        for path, session in list(self.sessions.items()):
            if session.kind == "shortcuts":
                self.Deactivated(path, shortcut_id, dbus.UInt64(0), dbus.Dictionary({}, "sv"))

    @dbus.service.method("org.parlwick.Test", in_signature="s", out_signature="")
    def SetTrigger(self, trigger):
        args.trigger = str(trigger)

    @dbus.service.method("org.parlwick.Test", in_signature="", out_signature="")
    def CloseSessions(self):
        for session in list(self.sessions.values()):
            session.Closed()
            session.end()


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    backend = Backend(bus)
    name = dbus.service.BusName(BUS_NAME, bus, do_not_queue=True)
    record("ready")
    GLib.MainLoop().run()
    del name


if __name__ == "__main__":
    sys.exit(main())
