"""The parts of a desktop that Velmóra's icon and badge speak to, as small programs on a test's bus,
each writing what it sees as JSON lines to a file ("ready" first, once it is on the bus):

  python3 tray_desktop.py watcher BUS_ADDRESS LOG
      a StatusNotifierWatcher, as a tray runs it: owns org.kde.StatusNotifierWatcher and records
      every item that registers ("register": service, sender).
  python3 tray_desktop.py dock BUS_ADDRESS LOG
      a dock, as Ubuntu's dock and Dash to Dock are: owns com.canonical.Unity and records every
      launcher entry update it hears ("update": sender, path, uri, count, visible).

Both run with Debian's own Python and PyGObject, until SIGTERM. And a tray's host, for one call:

  python3 tray_desktop.py call BUS_ADDRESS SERVICE PATH INTERFACE METHOD [ARGUMENTS]
      calls METHOD with ARGUMENTS (a GVariant tuple in text form) and prints the answer as JSON
      (tuples as lists)."""

import json
import signal
import sys
import time

from gi.repository import Gio, GLib

WATCHER_XML = """<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  </interface>
</node>"""


class Recorder:
    def __init__(self, path):
        self.log = open(path, "a", buffering=1)

    def write(self, event):
        event["time"] = time.monotonic()
        self.log.write(json.dumps(event, ensure_ascii=False) + "\n")


def connect(address):
    return Gio.DBusConnection.new_for_address_sync(
        address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
        None, None)


def own(connection, name, recorder):
    """Takes `name`, and says so ("ready") once the bus gave it."""
    def acquired(*_):
        recorder.write({"event": "ready", "name": name})

    def lost(*_):
        recorder.write({"event": "lost", "name": name})

    return Gio.bus_own_name_on_connection(connection, name, Gio.BusNameOwnerFlags.DO_NOT_QUEUE, acquired, lost)


def watcher(connection, recorder):
    items = []
    interface = Gio.DBusNodeInfo.new_for_xml(WATCHER_XML).interfaces[0]

    def on_call(connection, sender, path, interface_name, method, parameters, invocation):
        if method == "RegisterStatusNotifierItem":
            service = parameters.unpack()[0]
            recorder.write({"event": "register", "service": service, "sender": sender})
            items.append(service)
            connection.emit_signal(None, path, interface_name, "StatusNotifierItemRegistered",
                                   GLib.Variant("(s)", (service,)))
        invocation.return_value(None)

    def on_property(connection, sender, path, interface_name, name):
        if name == "RegisteredStatusNotifierItems":
            return GLib.Variant("as", items)
        if name == "IsStatusNotifierHostRegistered":
            return GLib.Variant("b", True)
        return GLib.Variant("i", 0)

    connection.register_object("/StatusNotifierWatcher", interface, on_call, on_property, None)
    return own(connection, "org.kde.StatusNotifierWatcher", recorder)


def dock(connection, recorder):
    def on_update(connection, sender, path, interface, signal_name, parameters):
        uri, properties = parameters.unpack()
        recorder.write({"event": "update", "sender": sender, "path": path, "uri": uri,
                        "count": properties.get("count"), "visible": properties.get("count-visible")})

    connection.signal_subscribe(None, "com.canonical.Unity.LauncherEntry", "Update", None, None,
                                Gio.DBusSignalFlags.NONE, on_update)
    return own(connection, "com.canonical.Unity", recorder)


def call(address, service, path, interface, method, arguments=None):
    connection = connect(address)
    parameters = GLib.Variant.parse(None, arguments, None, None) if arguments else None
    reply = connection.call_sync(service, path, interface, method, parameters, None, Gio.DBusCallFlags.NONE,
                                 10000, None)
    print(json.dumps(reply.unpack(), ensure_ascii=False))


def main():
    if sys.argv[1] == "call":
        call(*sys.argv[2:])
        return
    role, address, log = sys.argv[1:4]
    recorder = Recorder(log)
    connection = connect(address)
    {"watcher": watcher, "dock": dock}[role](connection, recorder)
    loop = GLib.MainLoop()
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
    loop.run()


if __name__ == "__main__":
    main()
