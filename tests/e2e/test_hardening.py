"""Velmora under faults end to end: the service gone for a while, a certificate nobody trusts, a
poll answered with garbage or never, a damaged settings file, a notification server that comes
and goes, a flood of inbox entries and a web content process killed in the background."""

import os
import re
import signal
import tempfile
import time

import notifications_e2e
import velmora_e2e as e2e

HOST = e2e.INSTANCE_HOST
STATUS_ACTIVE = "Notifications synchronisées : actives"
STATUS_OPEN_TO_SIGN_IN = "Notifications : ouvrez Velmóra pour vous connecter"
STATUS_CHECK = "Notifications : autorisation à vérifier"
STATUS_RETRYING = "Connexion en cours — nouvelle tentative automatique"
LOG_UNAVAILABLE = "Velmóra: connexion temporairement indisponible: "
# The application tries a failed load again 15 s later; a loaded machine adds to that.
RETRY_TIMEOUT = 45


def status(app):
    """The title of the notification status item in the application menu."""
    found = re.search(r"'label': <'((?:Notifications|Connexion en cours)[^']*)'>", app.menu_items())
    return found.group(1) if found else None


def descendants(pid):
    """The process ids below `pid`, at any depth, read from /proc."""
    parents = {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % name) as stat:
                text = stat.read()
        except OSError:
            continue
        # The command name is in parentheses and may hold spaces; the parent follows the state.
        after = text[text.rindex(")") + 2:].split()
        parents[int(name)] = int(after[1])
    found, frontier = [], [pid]
    while frontier:
        parent = frontier.pop()
        children = [child for child, ppid in parents.items() if ppid == parent]
        found += children
        frontier += children
    return found


def command_name(pid):
    try:
        with open("/proc/%d/comm" % pid) as comm:
            return comm.read().strip()
    except OSError:
        return ""


class Hardening(e2e.EndToEndTest):
    loopback = "127.0.0.18"

    def setUp(self):
        super().setUp()
        self.service.control("reset", {})
        for log in ("requests", "beacons"):
            self.service.control(log + "/clear", {})

    # Helpers.
    def start_server(self):
        server = notifications_e2e.NotificationServer(self.environment)
        self.addCleanup(server.stop)
        return server

    def beacons(self, host, service=None):
        """The load beacons of `host`, or False while the service does not answer."""
        try:
            return (service or self.service).control("beacons?host=%s&name=load" % host)["beacons"]
        except OSError:
            return False

    def wait_until_loaded(self, host, timeout=20.0):
        e2e.wait_for(lambda: self.beacons(host), timeout=timeout, what="the page of %s loaded" % host)

    def sign_in(self, app):
        window = e2e.wait_for(app.windows, what="a visible window")[0]
        self.wait_until_loaded(e2e.PUBLIC_HOST)
        time.sleep(1.0)  # the field's autofocus after the load event
        e2e.fill_form(app.env, window, ["admin@%s" % HOST, "demo", HOST])
        self.wait_until_loaded(HOST)

    def wait_for_status(self, app, title, timeout=20.0):
        e2e.wait_for(lambda: status(app) == title, timeout=timeout, what="the status %r" % title)

    def add_entry(self, **members):
        self.service.control("inbox/add", dict(members, host=HOST))

    def log_lines(self, text):
        with open(os.path.join(self.home, "velmora.log"), errors="replace") as log:
            return [line for line in log if text in line]

    def defaults_path(self):
        return os.path.join(self.home, "config", e2e.APP_ID, "defaults.ini")

    # Scenarios.
    def test_the_console_comes_back_by_itself_after_an_outage(self):
        app = self.start_app()
        self.sign_in(app)
        self.service.control("beacons/clear", {})
        # Connections are dropped unanswered, those the engine keeps open from the sign-in too
        # (a closed listener alone would let a kept connection serve the reload).
        self.service.control("refuse", {"seconds": 5, "mode": "drop"})
        app.activate("reload")
        # The reload fails while the service does not answer, and the menu says so.
        self.wait_for_status(app, STATUS_RETRYING)
        self.wait_until_loaded(HOST, timeout=RETRY_TIMEOUT)
        self.assertTrue(app.alive())

    def test_a_certificate_the_ca_did_not_sign_shows_no_page(self):
        type(self).service.close()
        type(self).service.process.stdout.close()
        untrusted = e2e.Service(self.environment, cert="untrusted")
        try:
            app = self.start_app()
            self.wait_for_status(app, STATUS_RETRYING)
            e2e.wait_for(lambda: self.log_lines(LOG_UNAVAILABLE), what="the connection failure logged")
            time.sleep(1.0)
            self.assertTrue(app.alive())
            # The handshake fails before any request, so the service saw none and no page loaded.
            self.assertEqual(untrusted.control("beacons")["beacons"], [])
            self.assertEqual(untrusted.requests(), [])
        finally:
            untrusted.close()
            untrusted.process.stdout.close()
            type(self).service = e2e.Service(self.environment)

    def test_a_poll_answered_with_garbage_fails_quietly_and_the_next_one_works(self):
        server = self.start_server()
        app = self.start_app()
        self.sign_in(app)
        self.wait_for_status(app, STATUS_ACTIVE)
        for number, mode in enumerate(("malformed", "500"), start=1):
            with self.subTest(mode=mode):
                title = "Avis après la panne %d" % number
                self.service.control("api-fault", {"mode": mode})
                self.add_entry(id="notice:panne%d" % number, title=title)
                app.activate("reload")
                self.wait_for_status(app, STATUS_OPEN_TO_SIGN_IN)
                self.assertEqual(server.notifications(summary=title), [])
                self.service.control("api-fault", {"mode": "none"})
                app.activate("reload")
                self.wait_for_status(app, STATUS_ACTIVE)
                server.wait_for_notification(what="the pending entry announced", summary=title)
        self.assertTrue(app.alive())

    def test_a_poll_never_answered_stays_in_flight_until_the_service_heals(self):
        server = self.start_server()
        app = self.start_app()
        self.sign_in(app)
        self.wait_for_status(app, STATUS_ACTIVE)
        title = "Avis après l’attente"
        self.service.control("api-fault", {"mode": "hang"})
        self.add_entry(id="notice:attente", title=title)
        app.activate("reload")
        e2e.wait_for(lambda: self.service.control("status").get("hanging"), what="the poll's requests held")
        time.sleep(1.0)
        self.assertEqual(status(app), STATUS_ACTIVE)
        self.assertEqual(server.notifications(summary=title), [])
        self.assertTrue(app.alive())
        # Healing answers the held requests with 503: that evaluation fails, the next one works.
        self.service.control("api-fault", {"mode": "none"})
        e2e.wait_for(lambda: not self.service.control("status").get("hanging"), what="the held requests answered")
        self.wait_for_status(app, STATUS_OPEN_TO_SIGN_IN)
        app.activate("reload")
        self.wait_for_status(app, STATUS_ACTIVE)
        server.wait_for_notification(what="the pending entry announced", summary=title)

    def test_a_damaged_defaults_file_is_kept_aside_and_the_settings_start_anew(self):
        def write(contents):
            def make(path):
                with open(path, "wb") as out:
                    out.write(contents)
            return make

        def folder(path):
            # Root reads any file whatever its mode, so a folder in its place makes it unreadable.
            os.mkdir(path)
            with open(os.path.join(path, "garde"), "wb") as out:
                out.write(b"garde\n")

        def snapshot(path):
            if os.path.isdir(path):
                return sorted(os.listdir(path)), self.file_bytes(os.path.join(path, "garde"))
            return self.file_bytes(path)

        cases = [
            ("truncated", write("[Velmora]\nallowedInstanceHosts=cabinet.velmora.fr;salon.vel".encode())),
            ("binary", write(bytes(range(256)) * 4 + b"\n")),
            ("a folder in its place", folder),
        ]
        for what, make in cases:
            with self.subTest(what):
                self.home = tempfile.mkdtemp(prefix="velmora-user-", dir=self.environment.dir)
                for log in ("requests", "beacons"):
                    self.service.control(log + "/clear", {})
                os.makedirs(os.path.dirname(self.defaults_path()))
                make(self.defaults_path())
                before = snapshot(self.defaults_path())
                app = self.start_app()
                # Nothing of the damaged file is read: the public sign-in page, as on a first launch.
                e2e.wait_for(lambda: self.requested(e2e.PUBLIC_HOST, "/connexion.html"),
                             what="the sign-in page requested")
                folder_path = os.path.dirname(self.defaults_path())
                kept = [name for name in os.listdir(folder_path) if name.startswith("defaults.ini.illisible-")]
                self.assertEqual(len(kept), 1, os.listdir(folder_path))
                self.assertEqual(snapshot(os.path.join(folder_path, kept[0])), before)
                self.assertEqual(len(self.log_lines("Velmóra: réglages illisibles mis de côté: " +
                                                    os.path.join(folder_path, kept[0]))), 1)
                # Signing in admits the instance, and the new file keeps it.
                self.sign_in(app)
                e2e.wait_for(lambda: os.path.isfile(self.defaults_path()) and
                             HOST.encode() in self.file_bytes(self.defaults_path()),
                             what="the instance saved in the new settings file")
                self.assertEqual(app.stop(), 0)
                self.assertEqual(len(self.log_lines("réglages illisibles")), 1)

    @staticmethod
    def file_bytes(path):
        with open(path, "rb") as data:
            return data.read()

    def test_a_notification_server_that_goes_away_and_comes_back(self):
        server = self.start_server()
        app = self.start_app()
        e2e.wait_for(app.windows, what="a visible window")
        self.wait_until_loaded(e2e.PUBLIC_HOST)
        app.activate("testNativeNotice")
        server.wait_for_notification(what="the first test notification", summary="Essai Velmóra")
        server.stop()
        app.activate("testNativeNotice")
        self.wait_for_status(app, STATUS_CHECK)
        self.assertTrue(app.alive())
        again = self.start_server()
        app.activate("testNativeNotice")
        again.wait_for_notification(what="the test notification at the new server", summary="Essai Velmóra")
        self.assertTrue(app.alive())

    def test_two_thousand_entries_at_once(self):
        server = self.start_server()
        app = self.start_app()
        self.sign_in(app)
        self.wait_for_status(app, STATUS_ACTIVE)
        old = [{"id": "notice:ancien%d" % n, "title": "Ancien %d" % n, "created_ago": 3600,
                "read_at": "2026-01-01T00:00:00.000Z"} for n in range(1500)]
        recent = [{"id": "notice:masse%d" % n, "title": "Avis en masse %d" % n} for n in range(500)]
        answer = self.service.control("inbox/add", {"host": HOST, "entries": old + recent})
        self.assertEqual(len(answer["ids"]), 2000)
        app.activate("reload")

        def announced():
            return {n["summary"] for n in server.notifications() if n["summary"].startswith("Avis en masse ")}

        def delivered_and_responsive():
            began = time.monotonic()
            menu = app.menu_items()
            self.assertLess(time.monotonic() - began, 2.0, "the menu took too long to answer")
            self.assertIn("Quitter", menu)
            return len(announced()) >= 500
        e2e.wait_for(delivered_and_responsive, timeout=120, interval=0.5, what="500 notifications")
        time.sleep(1.0)
        self.assertEqual(len(announced()), 500)
        self.assertEqual(len([n for n in server.notifications() if n["summary"].startswith("Avis en masse ")]), 500)
        self.assertEqual([n for n in server.notifications() if n["summary"].startswith("Ancien ")], [])
        self.assertTrue(app.alive())

    def test_notifications_resume_after_the_web_process_is_killed_in_the_background(self):
        server = self.start_server()
        app = self.start_app()
        self.sign_in(app)
        self.wait_for_status(app, STATUS_ACTIVE)
        app.activate("terminate")
        e2e.wait_for(lambda: app.windows() == [], what="the window hidden")
        # The command name is cut to 15 characters by the kernel.
        web = [pid for pid in descendants(app.process.pid) if command_name(pid).startswith("WebKitWebProces")]
        self.assertTrue(web, "no web content process below the application")
        self.service.control("beacons/clear", {})
        title = "Avis après la relance"
        self.add_entry(id="notice:relance", title=title)
        for pid in web:
            os.kill(pid, signal.SIGKILL)
        self.wait_until_loaded(HOST)
        server.wait_for_notification(what="the entry announced by the reloaded console", summary=title)
        self.assertEqual(app.windows(), [])
        self.assertTrue(app.alive())


if __name__ == "__main__":
    e2e.main()
