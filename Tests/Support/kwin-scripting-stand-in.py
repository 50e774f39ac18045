#!/usr/bin/python3
"""KWin's scripting interface, for the KDE window probe tests (KWin itself cannot run here).

    kwin-scripting-stand-in.py CALLS_FILE [--plasma5] [--no-scripting] [--refuse]
                               [--active CLASS NAME CAPTION PID]

Owns org.kde.KWin. /Scripting (org.kde.kwin.Scripting) implements loadScript(path, plugin),
which reads the script at once, and unloadScript(plugin); the loaded script's object takes
run() at /Scripting/Script<id> as Plasma 6 places it, or at /<id> with --plasma5. Running a
script reports the active window once (the --active one, else none) to the bus name the
script names, as the real script would. --no-scripting offers no /Scripting object; --refuse
answers loadScript with -1.

Every call is appended to CALLS_FILE as one JSON line ({"call": "loadScript", ...}), and each
answer to our reports as {"call": "reply", "member": ..., "error": ...}.

org.parlwick.Test at /Test drives the reports: Activate(s class, s name, s caption, d pid,
b pidAsInteger) and Close(). Like KWin's callDBus, reports are sent without waiting.
"""
import argparse
import json
import os
import re
import stat

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

SCRIPTING = "org.kde.kwin.Scripting"
SCRIPT = "org.kde.kwin.Script"
TEST = "org.parlwick.Test"

parser = argparse.ArgumentParser()
parser.add_argument("calls_file")
parser.add_argument("--plasma5", action="store_true")
parser.add_argument("--no-scripting", action="store_true")
parser.add_argument("--refuse", action="store_true")
parser.add_argument("--active", nargs=4, metavar=("CLASS", "NAME", "CAPTION", "PID"))
args = parser.parse_args()


def record(call, **fields):
    with open(args.calls_file, "a") as f:
        f.write(json.dumps({"call": call, **fields}) + "\n")


class Reporter:
    """Sends what the running script would: Activated or Closed to the bus name it names."""

    def __init__(self, bus):
        self.bus = bus
        self.service = None
        self.path = None
        self.interface = None

    def take(self, text):
        def value(name):
            found = re.search(r'var %s = "([^"]*)";' % name, text)
            return found.group(1) if found else None

        self.service, self.path, self.interface = value("service"), value("path"), value("iface")

    def send(self, member, arguments, signature):
        if not self.service:
            record("reply", member=member, error="no script is running")
            return
        self.bus.call_async(
            self.service, self.path, self.interface, member, signature, arguments,
            reply_handler=lambda *_: record("reply", member=member, error=None),
            error_handler=lambda e: record("reply", member=member, error=e.get_dbus_name()))

    def activate(self, cls, name, caption, pid, as_integer=True):
        signature = "sssi" if as_integer else "sssd"
        number = dbus.Int32(int(pid)) if as_integer else dbus.Double(float(pid))
        self.send("Activated", [cls, name, caption, number], signature)

    def close(self):
        self.send("Closed", [], "")


class Script(dbus.service.Object):
    def __init__(self, bus, path, reporter, text):
        super().__init__(bus, path)
        self.path = path
        self.reporter = reporter
        self.text = text

    @dbus.service.method(SCRIPT, in_signature="", out_signature="")
    def run(self):
        record("run", path=self.path)
        self.reporter.take(self.text)
        if args.active:
            self.reporter.activate(*args.active)
        else:
            self.reporter.close()

    @dbus.service.method(SCRIPT, in_signature="", out_signature="")
    def stop(self):
        record("stop", path=self.path)


class Scripting(dbus.service.Object):
    def __init__(self, bus, reporter):
        super().__init__(bus, "/Scripting")
        self.bus = bus
        self.reporter = reporter
        self.scripts = {}
        self.next_id = 0

    @dbus.service.method(SCRIPTING, in_signature="ss", out_signature="i")
    def loadScript(self, path, plugin):
        try:
            with open(path) as f:
                text = f.read()
            modes = [oct(stat.S_IMODE(os.stat(p).st_mode)) for p in (path, os.path.dirname(path))]
        except OSError as error:
            text, modes = None, [str(error)]
        record("loadScript", path=str(path), plugin=str(plugin), text=text, modes=modes)
        if args.refuse or plugin in self.scripts or text is None:
            return -1
        number = self.next_id
        self.next_id += 1
        where = "/%d" % number if args.plasma5 else "/Scripting/Script%d" % number
        self.scripts[str(plugin)] = Script(self.bus, where, self.reporter, text)
        return number

    @dbus.service.method(SCRIPTING, in_signature="s", out_signature="b")
    def unloadScript(self, plugin):
        record("unloadScript", plugin=str(plugin))
        script = self.scripts.pop(str(plugin), None)
        if script is None:
            return False
        script.remove_from_connection()
        return True


class Control(dbus.service.Object):
    def __init__(self, bus, reporter):
        super().__init__(bus, "/Test")
        self.reporter = reporter

    @dbus.service.method(TEST, in_signature="sssdb", out_signature="")
    def Activate(self, cls, name, caption, pid, pid_as_integer):
        self.reporter.activate(cls, name, caption, pid, bool(pid_as_integer))

    @dbus.service.method(TEST, in_signature="", out_signature="")
    def Close(self):
        self.reporter.close()


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
session = dbus.SessionBus()
reporter = Reporter(session)
keep = [Control(session, reporter)]
if not args.no_scripting:
    keep.append(Scripting(session, reporter))
name = dbus.service.BusName("org.kde.KWin", session)
GLib.MainLoop().run()
