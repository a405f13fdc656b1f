"""A real notification server for the end-to-end tests that are about something else (outages,
hardening, the page bridge, the package): dunst on the test's display and bus, with what it is
asked and what it answers read from the bus. The scenarios of notifications themselves run on
several desktops, in desktop_scenarios.py."""

import os
import subprocess

import desktops_e2e
import velmora_e2e as e2e


class NotificationServer:
    """One run of dunst. Its events, as notification_watch.py records them: "notify" (with the
    notification's fields and the id it got), "closed" and "action"."""

    def __init__(self, environment):
        self.folder = os.path.join(environment.dir, "dunst-%d" % len(os.listdir(environment.dir)))
        os.makedirs(self.folder)
        self.processes = []
        self.watch = desktops_e2e.BusWatch(environment.bus_address, self.folder, self.processes)
        env = dict(os.environ, DISPLAY=environment.display, DBUS_SESSION_BUS_ADDRESS=environment.bus_address,
                   HOME=self.folder, XDG_RUNTIME_DIR=self.folder)
        self.log = open(os.path.join(self.folder, "dunst.log"), "w")
        self.process = desktops_e2e.start_dunst(env, self.folder, self.log)
        self.env = env
        e2e.wait_for(self._owns_the_name, what="dunst on the bus")

    def _owns_the_name(self):
        result = subprocess.run(["gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                                 "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.GetNameOwner",
                                 "org.freedesktop.Notifications"], env=self.env, capture_output=True, text=True)
        return result.returncode == 0

    def events(self, kind=None):
        return self.watch.events(kind)

    def notifications(self, **fields):
        """The notifications posted and shown whose fields have these values."""
        return [event for event in self.events("notify")
                if all(event.get(key) == value for key, value in fields.items())]

    def wait_for_notification(self, what="a notification", **fields):
        return e2e.wait_for(lambda: self.notifications(**fields), what=what)[-1]

    def shown(self):
        """The ids on screen now: posted and not closed since."""
        return {event["id"] for event in self.watch.live()}

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=5)
        self.watch.stop()
        self.log.close()
