#!/usr/bin/python3
"""Stand-ins for the desktop's services on private buses, for tests and benchmarks.

--login1 ADDRESS: org.freedesktop.login1's Manager.Inhibit, handing out the write end of a
pipe and noting when every copy of it is closed, as logind does.
--notifications ADDRESS: org.freedesktop.Notifications (Notify, and org.k9.StandIn.Invoke to
click a notification), and a listener for com.canonical.Unity.LauncherEntry's Update.

Each call and event is one line of --log: the name, then its arguments as JSON. Prints
"K9DBUS READY" once the names are taken; ends when standard input closes.
"""

import argparse
import json
import os
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib


def plain(value):
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, dbus.Double):
        return float(value)
    if isinstance(value, (dbus.Array, dbus.Struct, list, tuple)):
        return [plain(v) for v in value]
    if isinstance(value, dict):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, str):
        return str(value)
    return int(value)


class Log:
    def __init__(self, path):
        self.file = open(path, "a", buffering=1)

    def note(self, name, *args):
        self.file.write(name + " " + json.dumps(plain(list(args))) + "\n")


class Login1(dbus.service.Object):
    def __init__(self, bus, log):
        super().__init__(bus, "/org/freedesktop/login1")
        self.log = log
        self.released = 0

    @dbus.service.method("org.freedesktop.login1.Manager", in_signature="ssss", out_signature="h")
    def Inhibit(self, what, who, why, mode):
        self.log.note("Inhibit", what, who, why, mode)
        read_end, write_end = os.pipe()
        GLib.io_add_watch(read_end, GLib.IO_IN | GLib.IO_HUP, self.closed)
        handed = dbus.types.UnixFd(write_end)  # a copy of its own
        os.close(write_end)
        return handed

    def closed(self, fd, condition):
        if os.read(fd, 64):
            return True
        os.close(fd)
        self.released += 1
        self.log.note("Released", self.released)
        return False


class Notifications(dbus.service.Object):
    def __init__(self, bus, log):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.log = log
        self.last = 0

    @dbus.service.method("org.freedesktop.Notifications", in_signature="susssasa{sv}i",
                         out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        self.log.note("Notify", app, replaces, icon, summary, body, actions, hints, timeout)
        self.last += 1
        return self.last

    @dbus.service.method("org.freedesktop.Notifications", out_signature="as")
    def GetCapabilities(self):
        return ["actions", "body"]

    @dbus.service.method("org.k9.StandIn", in_signature="us")
    def Invoke(self, notification, action):
        self.ActionInvoked(notification, action)

    @dbus.service.signal("org.freedesktop.Notifications", signature="us")
    def ActionInvoked(self, notification, action):
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--log", required=True)
    parser.add_argument("--login1")
    parser.add_argument("--notifications")
    options = parser.parse_args()
    DBusGMainLoop(set_as_default=True)
    log = Log(options.log)
    keep = []
    if options.login1:
        bus = dbus.bus.BusConnection(options.login1)
        keep.append(dbus.service.BusName("org.freedesktop.login1", bus))
        keep.append(Login1(bus, log))
    if options.notifications:
        bus = dbus.bus.BusConnection(options.notifications)
        keep.append(dbus.service.BusName("org.freedesktop.Notifications", bus))
        keep.append(Notifications(bus, log))
        bus.add_signal_receiver(lambda uri, properties: log.note("Update", uri, properties),
                                dbus_interface="com.canonical.Unity.LauncherEntry",
                                signal_name="Update")
    loop = GLib.MainLoop()
    GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, lambda *_: loop.quit())
    print("K9DBUS READY", flush=True)
    loop.run()


if __name__ == "__main__":
    main()
