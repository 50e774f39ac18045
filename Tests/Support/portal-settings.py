#!/usr/bin/python3
"""The settings half of a desktop portal on the session bus, for the appearance tests.

    portal-settings.py SCHEME READY_FILE [ANIMATIONS]

Answers org.freedesktop.portal.Settings.Read for org.freedesktop.appearance color-scheme with
SCHEME (0 no preference, 1 dark, 2 light) and, given ANIMATIONS ("true" or "false"), for
org.gnome.desktop.interface enable-animations with it. org.parlwick.Test.SetScheme(u) changes it and emits
SettingChanged as a desktop does. READY_FILE is written once the name is owned.
"""
import sys

from gi.repository import Gio, GLib

INTERFACES = """
<node>
  <interface name="org.freedesktop.portal.Settings">
    <method name="Read">
      <arg type="s" name="namespace" direction="in"/>
      <arg type="s" name="key" direction="in"/>
      <arg type="v" name="value" direction="out"/>
    </method>
    <signal name="SettingChanged">
      <arg type="s" name="namespace"/>
      <arg type="s" name="key"/>
      <arg type="v" name="value"/>
    </signal>
  </interface>
  <interface name="org.parlwick.Test">
    <method name="SetScheme">
      <arg type="u" name="scheme" direction="in"/>
    </method>
  </interface>
</node>
"""

scheme = int(sys.argv[1])
ready_file = sys.argv[2]
animations = sys.argv[3] == "true" if len(sys.argv) > 3 else None
connection = None


def on_call(conn, sender, path, interface, method, parameters, invocation):
    global scheme
    if method == "Read":
        namespace, key = parameters.unpack()
        if namespace == "org.freedesktop.appearance" and key == "color-scheme":
            # Read answers with the value wrapped in one more variant.
            inner = GLib.Variant("v", GLib.Variant("u", scheme))
            invocation.return_value(GLib.Variant("(v)", (inner,)))
        elif (namespace == "org.gnome.desktop.interface" and key == "enable-animations"
              and animations is not None):
            inner = GLib.Variant("v", GLib.Variant("b", animations))
            invocation.return_value(GLib.Variant("(v)", (inner,)))
        else:
            invocation.return_dbus_error("org.freedesktop.portal.Error.NotFound", "no such setting")
    elif method == "SetScheme":
        (scheme,) = parameters.unpack()
        conn.emit_signal(None, "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Settings",
                         "SettingChanged",
                         GLib.Variant("(ssv)", ("org.freedesktop.appearance", "color-scheme",
                                                GLib.Variant("u", scheme))))
        invocation.return_value(None)


def on_bus(conn, name):
    global connection
    connection = conn
    info = Gio.DBusNodeInfo.new_for_xml(INTERFACES)
    for interface in info.interfaces:
        conn.register_object("/org/freedesktop/portal/desktop", interface, on_call, None, None)


def on_name(conn, name):
    with open(ready_file, "w") as f:
        f.write("ready\n")


Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.portal.Desktop",
                 Gio.BusNameOwnerFlags.NONE, on_bus, on_name, lambda *a: sys.exit(1))
GLib.MainLoop().run()
