"""The notification server of the notification tests: the built velmora-notification-server on
the test's private bus, its log of JSON lines, and clicks on what it shows."""

import ctypes
import json
import os
import signal
import subprocess
import tempfile

import velmora_e2e as e2e

SERVER = os.path.abspath(os.path.join(e2e.BUILD_DIR, "tests", "e2e", "velmora-notification-server"))


def _end_with_parent():
    """Makes the server end when the test program ends, however it ends."""
    ctypes.CDLL("libc.so.6", use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


class NotificationServer:
    """One run of the server. Events: Notify, CloseNotification, GetCapabilities, Click and
    Closed, each a dictionary with at least "event", "time" (the server's monotonic clock) and,
    but for GetCapabilities, the notification's "id"."""

    def __init__(self, environment, capabilities="actions,body,sound,persistence"):
        self.env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=environment.bus_address)
        handle, self.log_path = tempfile.mkstemp(prefix="notifications-", suffix=".jsonl", dir=environment.dir)
        os.close(handle)
        self.process = subprocess.Popen([SERVER, "--log", self.log_path, "--capabilities", capabilities],
                                        env=self.env, stdout=subprocess.PIPE, preexec_fn=_end_with_parent)
        line = self.process.stdout.readline().decode()
        if not line.startswith("ready"):
            raise RuntimeError("the notification server did not start: %r" % line)

    def events(self, kind=None):
        with open(self.log_path) as log:
            events = [json.loads(line) for line in log if line.strip()]
        return [event for event in events if kind is None or event["event"] == kind]

    def notifications(self, **fields):
        """The Notify calls whose fields have these values."""
        return [event for event in self.events("Notify")
                if all(event.get(key) == value for key, value in fields.items())]

    def wait_for_notification(self, what="a notification", **fields):
        return e2e.wait_for(lambda: self.notifications(**fields), what=what)[-1]

    def shown(self):
        """The ids on screen now: posted and not closed since."""
        ids = set()
        for event in self.events():
            if event["event"] == "Notify":
                ids.add(event["id"])
            elif event["event"] == "Closed":
                ids.discard(event["id"])
        return ids

    def click(self, notification_id):
        """Clicks the notification, as the user on the desktop."""
        subprocess.run(["gdbus", "call", "--session", "--dest", "org.freedesktop.Notifications", "--object-path",
                        "/fr/velmora/test", "--method", "fr.velmora.test.NotificationServer.Click",
                        str(notification_id)], env=self.env, check=True, capture_output=True, timeout=10)

    def stop(self):
        self.process.stdout.close()
        self.process.terminate()
        try:
            self.process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
