"""Watches the org.freedesktop.Notifications traffic of a session bus as a bus monitor and writes
one JSON line per event to a file: what was posted and shown ("notify": sender, id, replaces_id,
app_name, app_icon, summary, body, actions, hints, expire_timeout), closed ("closed": id, reason)
and clicked ("action": id, action); each with "time", the monotonic clock. It runs with Debian's
own Python, which has PyGObject: python3 notification_watch.py BUS_ADDRESS LOG."""

import json
import sys
import time

from gi.repository import Gio, GLib

INTERFACE = "org.freedesktop.Notifications"


def plain(value):
    """A hint's value as JSON can carry it."""
    return value if isinstance(value, (bool, int, float, str)) else str(value)


def main():
    address, log_path = sys.argv[1], sys.argv[2]
    log = open(log_path, "a", buffering=1)
    connection = Gio.DBusConnection.new_for_address_sync(
        address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
        None, None)
    calls = {}  # (sender, serial) of a Notify call -> what it asked for

    def write(event):
        event["time"] = time.monotonic()
        log.write(json.dumps(event, ensure_ascii=False) + "\n")

    def on_message(connection, message, incoming):
        # What this connection sends, and the bus's answers to it, go on to GDBus; every other
        # message is a copy of someone else's, read here and dropped.
        if not incoming or message.get_destination() == connection.get_unique_name():
            return message
        kind = message.get_message_type()
        body = message.get_body()
        if kind == Gio.DBusMessageType.METHOD_CALL and message.get_interface() == INTERFACE \
                and message.get_member() == "Notify" and body is not None:
            app, replaces, icon, summary, text, actions, hints, timeout = body.unpack()
            calls[(message.get_sender(), message.get_serial())] = {
                "event": "notify", "sender": message.get_sender(), "replaces_id": replaces, "app_name": app,
                "app_icon": icon, "summary": summary, "body": text, "actions": list(actions),
                "hints": {key: plain(value) for key, value in hints.items()}, "expire_timeout": timeout}
        elif kind == Gio.DBusMessageType.METHOD_RETURN:
            call = calls.pop((message.get_destination(), message.get_reply_serial()), None)
            if call and body is not None:
                call["id"] = body.unpack()[0]
                write(call)
        elif kind == Gio.DBusMessageType.SIGNAL and message.get_interface() == INTERFACE and body is not None:
            if message.get_member() == "NotificationClosed":
                notification, reason = body.unpack()
                write({"event": "closed", "id": notification, "reason": reason})
            elif message.get_member() == "ActionInvoked":
                notification, action = body.unpack()
                write({"event": "action", "id": notification, "action": action})
        return None

    connection.add_filter(on_message)
    connection.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.Monitoring",
                         "BecomeMonitor", GLib.Variant("(asu)", ([], 0)), None, Gio.DBusCallFlags.NONE, -1, None)
    write({"event": "ready"})
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
