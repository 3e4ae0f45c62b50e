#!/usr/bin/python3
"""A StatusNotifier watcher and host on the session bus, as KDE, GNOME's
AppIndicator extension and waybar run one, and the calls such a host makes
on an item's exported menu.

  status_notifier_host.py host              watcher and host; prints "ready",
                                            then "registered NAME" and
                                            "gone NAME" for the items
  status_notifier_host.py show NAME         the item's menu path, then its
                                            entries as a host shows them
  status_notifier_host.py click NAME LABEL  chooses the entry shown as LABEL
  status_notifier_host.py activate NAME     a left click on the item
"""
import sys

import dbus
import dbus.service

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"
PROPERTIES = "org.freedesktop.DBus.Properties"

# Qt reads IsStatusNotifierHostRegistered through an interface it builds from
# the introspection data, so the properties must be in it.
WATCHER_XML = """<node>
 <interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
  <signal name="StatusNotifierHostRegistered"/>
 </interface>
 <interface name="org.freedesktop.DBus.Properties">
  <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/></method>
  <method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
 </interface>
 <interface name="org.freedesktop.DBus.Introspectable">
  <method name="Introspect"><arg type="s" direction="out"/></method>
 </interface>
</node>"""


def say(line):
    print(line, flush=True)


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.bus = bus
        self.items = []
        bus.add_signal_receiver(self.owner_changed, "NameOwnerChanged", "org.freedesktop.DBus")

    @dbus.service.method("org.freedesktop.DBus.Introspectable", out_signature="s")
    def Introspect(self):
        return WATCHER_XML

    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        # Qt names its connection; others name an object path on theirs.
        name = sender if service.startswith("/") else str(service)
        if name not in self.items:
            self.items.append(name)
            self.StatusNotifierItemRegistered(name)
            say("registered " + name)

    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, name):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemUnregistered(self, name):
        pass

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {"RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
                "IsStatusNotifierHostRegistered": dbus.Boolean(True),
                "ProtocolVersion": dbus.Int32(0)}

    def owner_changed(self, name, old, new):
        if not new and name in self.items:
            self.items.remove(name)
            self.StatusNotifierItemUnregistered(name)
            say("gone " + name)


def host():
    from dbus.mainloop.glib import DBusGMainLoop
    from gi.repository import GLib
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    watcher = Watcher(bus)
    names = [dbus.service.BusName(WATCHER, bus), dbus.service.BusName("org.kde.StatusNotifierHost-1", bus)]
    say("ready")
    GLib.MainLoop().run()
    del watcher, names


def menu_of(bus, name):
    item = bus.get_object(name, "/StatusNotifierItem")
    path = item.Get(ITEM, "Menu", dbus_interface=PROPERTIES)
    return str(path), dbus.Interface(bus.get_object(name, path), MENU)


def entries(layout, depth=0):
    """(id, line) for every entry below `layout`: the label indented by depth,
    " [x]" when ticked, " (off)" when disabled, "-" for a separator."""
    for child in layout[2]:
        ident, props, _ = child
        if not props.get("visible", True):
            continue
        if props.get("type") == "separator":
            line = "-"
        else:
            line = str(props.get("label", ""))
            if props.get("toggle-state", 0) == 1:
                line += " [x]"
            if not props.get("enabled", True):
                line += " (off)"
        yield int(ident), "  " * depth + line
        yield from entries(child, depth + 1)


def opened(menu):
    # A host asks the item to get its menu ready, then reads it whole.
    menu.AboutToShow(0)
    _, layout = menu.GetLayout(0, -1, dbus.Array([], signature="s"))
    return list(entries(layout))


def main(args):
    if args[:1] == ["host"]:
        return host()
    bus = dbus.SessionBus()
    if len(args) == 2 and args[0] == "show":
        path, menu = menu_of(bus, args[1])
        say("menu " + path)
        if path != "/NO_DBUSMENU":
            for _, line in opened(menu):
                say(line)
        return 0
    if len(args) == 2 and args[0] == "activate":
        bus.get_object(args[1], "/StatusNotifierItem").Activate(0, 0, dbus_interface=ITEM)
        say("activated")
        return 0
    if len(args) == 3 and args[0] == "click":
        _, menu = menu_of(bus, args[1])
        for ident, line in opened(menu):
            if line.strip() == args[2]:
                menu.Event(ident, "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0))
                say("clicked " + args[2])
                return 0
        say("no entry " + args[2])
        return 1
    say(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
