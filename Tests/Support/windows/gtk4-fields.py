#!/usr/bin/python3
"""A GTK 4 window with text fields for the Wayland desktop tests.

Usage: gtk4-fields.py FOLDER TITLE APP_ID
Fields: normal (an entry), password (a password entry), multiline (a text view, as a mail body
is). Each change writes the field's text to FOLDER/<field>.txt. Reads commands from standard
input: "focus <field>" and "quit". Writes FOLDER/ready once shown and focused. Every key press
and release the window gets goes to FOLDER/keys.log as "down <key>" / "up <key>"; every paste
from the clipboard adds a line to FOLDER/clipboard-reads.log.
"""
import os
import sys

os.environ.setdefault("GDK_BACKEND", "wayland")

import gi  # noqa: E402

gi.require_version("Gdk", "4.0")
gi.require_version("Gtk", "4.0")
from gi.repository import Gdk, Gio, GLib, Gtk  # noqa: E402

folder, title, app_id = sys.argv[1:4]


def write(name, text):
    path = os.path.join(folder, name)
    with open(path + ".part", "w", encoding="utf-8") as out:
        out.write(text)
    os.replace(path + ".part", path)


def append(name, line):
    with open(os.path.join(folder, name), "a", encoding="utf-8") as out:
        out.write(line + "\n")


def key_name(keyval):
    return Gdk.keyval_name(keyval) or "0x%x" % keyval


def build(app):
    window = Gtk.ApplicationWindow(application=app, title=title)
    window.set_default_size(500, 300)
    box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
    window.set_child(box)
    fields = {}

    normal = Gtk.Entry()
    normal.connect("changed", lambda e: write("normal.txt", e.get_text()))
    password = Gtk.PasswordEntry()
    password.connect("changed", lambda e: write("password.txt", e.get_text()))
    body = Gtk.TextView()
    body.set_size_request(400, 120)
    body.get_buffer().connect(
        "changed",
        lambda b: write("multiline.txt", b.get_text(b.get_start_iter(), b.get_end_iter(), True)))
    for name, widget in [("normal", normal), ("password", password), ("multiline", body)]:
        box.append(widget)
        fields[name] = widget

    # The paste signals run before the widget asks the clipboard for its text.
    normal.get_delegate().connect(
        "paste-clipboard", lambda *a: append("clipboard-reads.log", "normal"))
    body.connect("paste-clipboard", lambda *a: append("clipboard-reads.log", "multiline"))

    keys = Gtk.EventControllerKey()
    keys.set_propagation_phase(Gtk.PropagationPhase.CAPTURE)
    def pressed(controller, keyval, keycode, state):
        append("keys.log", "down " + key_name(keyval))
        return False

    keys.connect("key-pressed", pressed)
    keys.connect("key-released", lambda c, keyval, *a: append("keys.log", "up " + key_name(keyval)))
    window.add_controller(keys)

    def command(channel, condition):
        line = channel.readline()
        if not line or line.strip() == "quit":
            app.quit()
            return False
        words = line.split()
        if len(words) == 2 and words[0] == "focus" and words[1] in fields:
            window.present()
            fields[words[1]].grab_focus()
            write("focused", words[1])
        return True

    GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.PRIORITY_DEFAULT,
                      GLib.IOCondition.IN | GLib.IOCondition.HUP, command)

    # Ready once the compositor has given the window the keyboard focus.
    def focused(*args):
        if window.is_active() and not os.path.exists(os.path.join(folder, "ready")):
            write("ready", "1")

    window.connect("notify::is-active", focused)
    normal.grab_focus()
    window.present()


app = Gtk.Application(application_id=app_id, flags=Gio.ApplicationFlags.NON_UNIQUE)
app.connect("activate", build)
app.run([sys.argv[0]])
