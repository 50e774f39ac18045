#!/usr/bin/python3
"""A GTK 3 window with text fields for the desktop tests.

Usage: gtk-fields.py FOLDER TITLE CLASS
Fields: normal, password, nopaste (ignores paste), secretnopaste (a password field that
ignores paste), multiline (a text view, as a mail body is). Each change writes the field's text to FOLDER/<field>.txt. Reads commands
from standard input: "focus <field>" and "quit". Writes FOLDER/ready once shown.
"""
import os
import sys

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

folder, title, window_class = sys.argv[1:4]
GLib.set_prgname(window_class.lower())
Gdk.set_program_class(window_class)


def write(name, text):
    path = os.path.join(folder, name)
    with open(path + ".part", "w", encoding="utf-8") as out:
        out.write(text)
    os.replace(path + ".part", path)


window = Gtk.Window(title=title)
window.connect("destroy", Gtk.main_quit)
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
window.add(box)
fields = {}
for name, secret, pastes in [
    ("normal", False, True),
    ("password", True, True),
    ("nopaste", False, False),
    ("secretnopaste", True, False),
]:
    entry = Gtk.Entry()
    entry.set_visibility(not secret)
    if not pastes:
        entry.connect("paste-clipboard", lambda e: e.stop_emission_by_name("paste-clipboard"))
    entry.connect("changed", lambda e, n=name: write(n + ".txt", e.get_text()))
    box.add(entry)
    fields[name] = entry

body = Gtk.TextView()
body.set_size_request(400, 120)
body.get_buffer().connect(
    "changed", lambda b: write("multiline.txt", b.get_text(b.get_start_iter(), b.get_end_iter(), True)))
box.add(body)
fields["multiline"] = body


def command(source, condition):
    line = source.readline()
    if not line or line.strip() == "quit":
        Gtk.main_quit()
        return False
    words = line.split()
    if len(words) == 2 and words[0] == "focus" and words[1] in fields:
        window.present()
        fields[words[1]].grab_focus()
        write("focused", words[1])
    return True


GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, command)
window.connect("map-event", lambda *a: write("ready", "1"))
window.show_all()
Gtk.main()
