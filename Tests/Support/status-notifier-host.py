#!/usr/bin/python3
"""A tray host of the tests' own, speaking the StatusNotifierItem protocol on the session bus.

    status-notifier-host.py watch READY_FILE ITEMS_FILE NOTICES_FILE
        Owns org.kde.StatusNotifierWatcher with a host registered, as a desktop's panel does,
        and org.freedesktop.Notifications, writes READY_FILE once both names are owned,
        appends every item that registers to ITEMS_FILE as "bus-name object-path" lines and
        every notification to NOTICES_FILE as a JSON line {"summary", "body"}.
    status-notifier-host.py read BUS_NAME OBJECT_PATH
        Prints the item's properties and its menu (after AboutToShow, as a panel opening it
        does) as one JSON object.
    status-notifier-host.py click BUS_NAME OBJECT_PATH LABEL
        Sends the menu item with that label a "clicked" event.
    status-notifier-host.py activate BUS_NAME OBJECT_PATH
        Activates the item, as a panel does on a left click.
"""
import json
import sys
import time

from gi.repository import Gio, GLib

WATCHER = """
<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem">
      <arg type="s" name="service" direction="in"/>
    </method>
    <method name="RegisterStatusNotifierHost">
      <arg type="s" name="service" direction="in"/>
    </method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered">
      <arg type="s" name="service"/>
    </signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
</node>
"""

NOTIFICATIONS = """
<node>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
      <arg type="u" direction="out"/>
    </method>
    <method name="CloseNotification"><arg type="u" direction="in"/></method>
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
    </method>
  </interface>
</node>
"""

ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"


def watch(ready_file, items_file, notices_file):
    items = []
    owned = set()
    notices = []

    def on_call(conn, sender, path, interface, method, parameters, invocation):
        if method == "RegisterStatusNotifierItem":
            (service,) = parameters.unpack()
            # An item names either its bus name or only its object path.
            if service.startswith("/"):
                name, item_path = sender, service
            else:
                name, item_path = service, "/StatusNotifierItem"
            items.append(name + item_path)
            with open(items_file, "a") as f:
                f.write(f"{name} {item_path}\n")
            conn.emit_signal(None, "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher",
                             "StatusNotifierItemRegistered", GLib.Variant("(s)", (name + item_path,)))
        invocation.return_value(None)

    def on_property(conn, sender, path, interface, name):
        if name == "RegisteredStatusNotifierItems":
            return GLib.Variant("as", items)
        if name == "IsStatusNotifierHostRegistered":
            return GLib.Variant("b", True)
        return GLib.Variant("i", 0)

    def on_notification(conn, sender, path, interface, method, parameters, invocation):
        if method == "Notify":
            _, _, _, summary, body, _, _, _ = parameters.unpack()
            notices.append(summary)
            with open(notices_file, "a") as f:
                f.write(json.dumps({"summary": summary, "body": body}) + "\n")
            invocation.return_value(GLib.Variant("(u)", (len(notices),)))
        elif method == "GetCapabilities":
            invocation.return_value(GLib.Variant("(as)", (["body", "actions"],)))
        elif method == "GetServerInformation":
            invocation.return_value(GLib.Variant("(ssss)", ("test", "test", "1", "1.2")))
        else:
            invocation.return_value(None)

    def on_watcher_bus(conn, name):
        info = Gio.DBusNodeInfo.new_for_xml(WATCHER)
        conn.register_object("/StatusNotifierWatcher", info.interfaces[0], on_call, on_property,
                             None)

    def on_notifications_bus(conn, name):
        info = Gio.DBusNodeInfo.new_for_xml(NOTIFICATIONS)
        conn.register_object("/org/freedesktop/Notifications", info.interfaces[0],
                             on_notification, None, None)

    def on_name(conn, name):
        owned.add(name)
        if len(owned) == 2:
            with open(ready_file, "w") as f:
                f.write("ready\n")

    Gio.bus_own_name(Gio.BusType.SESSION, "org.kde.StatusNotifierWatcher",
                     Gio.BusNameOwnerFlags.NONE, on_watcher_bus, on_name, lambda *a: sys.exit(1))
    Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.Notifications",
                     Gio.BusNameOwnerFlags.NONE, on_notifications_bus, on_name,
                     lambda *a: sys.exit(1))
    GLib.MainLoop().run()


def call(bus, name, path, interface, method, args, reply):
    return bus.call_sync(name, path, interface, method, args, GLib.VariantType(reply),
                         Gio.DBusCallFlags.NONE, 10000, None).unpack()


def prop(bus, name, path, interface, key):
    (value,) = call(bus, name, path, "org.freedesktop.DBus.Properties", "Get",
                    GLib.Variant("(ss)", (interface, key)), "(v)")
    return value


def pixmap_summary(pixmaps):
    """The largest picture's size and the share of its visible pixels that are red."""
    if not pixmaps:
        return None
    width, height, data = max(pixmaps, key=lambda p: p[0] * p[1])
    data = bytes(data)
    visible = red = 0
    for i in range(0, len(data) - 3, 4):
        a, r, g, b = data[i], data[i + 1], data[i + 2], data[i + 3]  # ARGB, network order
        if a < 128:
            continue
        visible += 1
        if r > 150 and g < 110 and b < 110:
            red += 1
    return {"width": width, "height": height, "visible": visible,
            "red": red / visible if visible else 0}


def menu_items(layout):
    item_id, properties, children = layout
    items = []
    for child in children:
        child_id, child_properties, _ = child
        items.append({"id": child_id,
                      "type": child_properties.get("type", "standard"),
                      "label": child_properties.get("label", ""),
                      "enabled": child_properties.get("enabled", True),
                      "visible": child_properties.get("visible", True),
                      "shortcut": child_properties.get("shortcut", [])})
    return items


def read_menu(bus, name, path):
    menu_path = prop(bus, name, path, ITEM, "Menu")
    call(bus, name, menu_path, MENU, "AboutToShow", GLib.Variant("(i)", (0,)), "(b)")
    _, layout = call(bus, name, menu_path, MENU, "GetLayout",
                     GLib.Variant("(iias)", (0, -1, [])), "(u(ia{sv}av))")
    return menu_path, menu_items(layout)


def read(name, path):
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    tooltip = prop(bus, name, path, ITEM, "ToolTip")
    _, items = read_menu(bus, name, path)
    print(json.dumps({
        "IconName": prop(bus, name, path, ITEM, "IconName"),
        "IconPixmap": pixmap_summary(prop(bus, name, path, ITEM, "IconPixmap")),
        "ToolTip": tooltip[2],
        "Status": prop(bus, name, path, ITEM, "Status"),
        "menu": items,
    }))


def click(name, path, label):
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    menu_path, items = read_menu(bus, name, path)
    for item in items:
        if item["label"] == label:
            call(bus, name, menu_path, MENU, "Event",
                 GLib.Variant("(isvu)", (item["id"], "clicked", GLib.Variant("i", 0),
                                         int(time.time()) & 0xFFFFFFFF)), "()")
            return
    sys.exit(f"no item {label!r}")


def activate(name, path):
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    call(bus, name, path, "org.kde.StatusNotifierItem", "Activate", GLib.Variant("(ii)", (0, 0)),
         "()")


if sys.argv[1] == "watch":
    watch(sys.argv[2], sys.argv[3], sys.argv[4])
elif sys.argv[1] == "read":
    read(sys.argv[2], sys.argv[3])
elif sys.argv[1] == "click":
    click(sys.argv[2], sys.argv[3], sys.argv[4])
elif sys.argv[1] == "activate":
    activate(sys.argv[2], sys.argv[3])
