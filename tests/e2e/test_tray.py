"""Velmóra's icon in the tray and its badge in the docks, end to end: a StatusNotifierWatcher and a
dock of the test's own (tray_desktop.py) on the test's bus, the item read and clicked over the bus
as a tray's host does, the badge's updates heard as a dock hears them."""

import json
import os
import signal
import subprocess
import time

import desktops_e2e
import dialogs_e2e as dialogs
import notifications_e2e
import velmora_e2e as e2e

HOST = e2e.INSTANCE_HOST
ITEM = "org.kde.StatusNotifierItem"
ITEM_PATH = "/StatusNotifierItem"
MENU = "com.canonical.dbusmenu"
APP_URI = "application://fr.velmora.universal.desktop"
TRAY_DESKTOP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "tray_desktop.py")
STATUS_ACTIVE = "Notifications synchronisées : actives"


class DesktopPart:
    """One run of tray_desktop.py: the watcher or the dock, and what it recorded."""

    def __init__(self, environment, role):
        self.log = os.path.join(environment.dir, "%s-%d.jsonl" % (role, time.monotonic_ns()))
        self.errors = open(self.log + ".err", "w")
        self.process = subprocess.Popen([desktops_e2e.SYSTEM_PYTHON, TRAY_DESKTOP, role, environment.bus_address,
                                         self.log], stdout=self.errors, stderr=self.errors,
                                        preexec_fn=e2e._die_with_parent)
        e2e.wait_for(lambda: self.events("ready"), what="the %s on the bus" % role)

    def events(self, kind):
        if not os.path.exists(self.log):
            return []
        with open(self.log) as lines:
            return [event for event in map(json.loads, filter(str.strip, lines)) if event["event"] == kind]

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            self.process.wait(timeout=5)
        self.errors.close()


class Tray(e2e.EndToEndTest):
    loopback = "127.0.0.24"

    def setUp(self):
        super().setUp()
        self.service.control("reset", {})

    def desktop_part(self, role):
        part = DesktopPart(self.environment, role)
        self.addCleanup(part.stop)
        return part

    # The tray's host: what it reads of the item and its menu, and what it sends.
    def call(self, service, path, interface, method, arguments=None):
        """The answer of METHOD, called with `arguments` (a GVariant tuple in text form), as JSON
        gives it back: tuples as lists."""
        command = [desktops_e2e.SYSTEM_PYTHON, TRAY_DESKTOP, "call", self.environment.bus_address, service, path,
                   interface, method] + ([arguments] if arguments else [])
        result = subprocess.run(command, capture_output=True, text=True, timeout=20)
        self.assertEqual(result.returncode, 0, result.stderr)
        return json.loads(result.stdout)

    def item_properties(self, service):
        return self.call(service, ITEM_PATH, "org.freedesktop.DBus.Properties", "GetAll", "('%s',)" % ITEM)[0]

    def menu_items(self, service, path):
        """The items of the menu's first level: [id, properties]."""
        return [child[:2] for child in self.call(service, path, MENU, "GetLayout", "(0, -1, @as [])")[1][2]]

    def click(self, service, path, item):
        self.call(service, path, MENU, "Event", "(%d, 'clicked', <0>, uint32 0)" % item)

    def registered(self, watcher, app):
        """The item's bus name, once it registered with `watcher` from the application's connection."""
        owner = self.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner",
                          "('%s',)" % e2e.APP_ID)[0]
        events = e2e.wait_for(lambda: watcher.events("register"), what="the item registered with the watcher")
        self.assertEqual([event["sender"] for event in events], [owner])
        return events[0]["service"]

    def start_signed_in(self, *arguments):
        """Velmóra for a user who signed in before, on the console, its first poll done."""
        dialogs.seed_returning_user(self.home)
        self.service.control("redirect", {"host": HOST, "path": "/admin",
                                          "location": dialogs.sign_in_link(self.service)})
        app = self.start_app(*arguments)
        e2e.wait_for(lambda: STATUS_ACTIVE in app.menu_items(), timeout=30, what="the first poll")
        return app

    def test_the_item_registers_and_describes_the_application(self):
        watcher = self.desktop_part("watcher")
        app = self.start_signed_in()
        service = self.registered(watcher, app)
        properties = self.item_properties(service)
        self.assertEqual({key: properties[key] for key in ("Id", "Title", "Category", "Status", "IconName")},
                         {"Id": e2e.APP_ID, "Title": "Velmóra", "Category": "ApplicationStatus", "Status": "Active",
                          "IconName": e2e.APP_ID})
        # Hosts that do not find the icon in their theme find it in the bundle, or take its pixels.
        self.assertTrue(os.path.exists(os.path.join(properties["IconThemePath"], e2e.APP_ID + ".svg")))
        self.assertEqual([[width, height, len(argb)] for width, height, argb in properties["IconPixmap"]],
                         [[size, size, size * size * 4] for size in (22, 32, 48, 64)])
        self.assertFalse(properties["ItemIsMenu"])
        # The tooltip: the application menu's status and the unread count of the seeded inbox.
        expected_count = self.unread_in_service()
        self.assertEqual(properties["ToolTip"][2:], ["Velmóra", STATUS_ACTIVE + "\n" + unread_text(expected_count)])

        # The open item, then the application menu's status line (insensitive), test and stop.
        items = [props for _, props in self.menu_items(service, properties["Menu"])]
        self.assertEqual(items, [{"label": "Ouvrir Velmóra"}, {"type": "separator"},
                                 {"label": STATUS_ACTIVE, "enabled": False},
                                 {"label": "Tester la notification Velmóra"},
                                 {"label": "Arrêter Velmóra et les notifications"}])
        self.assertIn("'label': <'%s'>" % STATUS_ACTIVE, app.menu_items())

    def unread_in_service(self):
        inbox = self.service.control("inbox?host=%s" % HOST)
        read = set(inbox.get("readIds", []))
        return len([entry for entry in inbox["notifications"]
                    if not entry.get("read_at") and entry.get("dismissed") != 1 and entry["id"] not in read])

    def test_the_menu_and_the_icon_do_what_the_application_menu_does(self):
        server = notifications_e2e.NotificationServer(self.environment)
        self.addCleanup(server.stop)
        watcher = self.desktop_part("watcher")
        app = self.start_app("--background")
        service = self.registered(watcher, app)
        menu = self.item_properties(service)["Menu"]
        items = self.menu_items(service, menu)
        ids = {props.get("label"): item for item, props in items}
        self.assertEqual(app.windows(), [], "a background launch shows no window")

        self.click(service, menu, ids["Ouvrir Velmóra"])
        window = e2e.wait_for(app.windows, what="the window opened from the menu")[0]
        e2e.close_window(app.env, window)
        e2e.wait_for(lambda: app.windows() == [], what="the window hidden on close")
        # The icon itself brings the hidden window back, as a reopen does.
        self.call(service, ITEM_PATH, ITEM, "Activate", "(0, 0)")
        e2e.wait_for(app.windows, what="the window shown by the icon")

        status = [item for item, props in items if props.get("enabled") is False]
        self.assertEqual(len(status), 1)
        self.click(service, menu, status[0])
        self.click(service, menu, ids["Tester la notification Velmóra"])
        server.wait_for_notification(what="the test notification", summary="Essai Velmóra")
        self.assertEqual(len(server.notifications(summary="Essai Velmóra")), 1, "the status line does nothing")

        self.click(service, menu, ids["Arrêter Velmóra et les notifications"])
        self.assertEqual(app.process.wait(timeout=10), 0)

    def test_the_item_registers_with_each_watcher_that_comes(self):
        app = self.start_app()
        e2e.wait_for(app.windows, what="a visible window")
        # The tray starts after the application, then restarts.
        first = self.desktop_part("watcher")
        service = self.registered(first, app)
        first.stop()
        second = self.desktop_part("watcher")
        self.assertEqual(self.registered(second, app), service)
        self.assertEqual(self.item_properties(service)["Title"], "Velmóra")

    def test_without_a_watcher_the_application_runs_without_error_lines(self):
        self.service.control("beacons/clear", {})
        app = self.start_app()
        e2e.wait_for(app.windows, what="a visible window")
        e2e.wait_for(lambda: self.service.control("beacons?host=%s&name=load" % e2e.PUBLIC_HOST)["beacons"],
                     what="the sign-in page loaded")
        time.sleep(1.0)
        self.assertTrue(app.alive())
        self.assertEqual(app.activate("testNativeNotice").returncode, 0)
        self.assertEqual(app.stop(), 0)
        # GLib's criticals and warnings, and whatever speaks of the tray; the machine has no
        # accessibility bus, which GTK says once.
        with open(os.path.join(self.home, "velmora.log"), errors="replace") as log:
            lines = [line for line in log.read().splitlines()
                     if any(word in line for word in ("CRITICAL", "WARNING", "StatusNotifier", "dbusmenu",
                                                      "LauncherEntry", "zone de notification"))
                     and "a11y bus" not in line]
        self.assertEqual(lines, [])

    def test_the_badge_counts_the_unread_entries_until_signed_out(self):
        dock = self.desktop_part("dock")
        self.service.control("inbox/clear", {"host": HOST})
        app = self.start_signed_in("--background")

        def counts():
            """What the docks were told, in order: the count, or None for a hidden badge."""
            for event in dock.events("update"):
                self.assertEqual((event["uri"], event["path"]), (APP_URI, "/fr/velmora/universal/LauncherEntry"))
            return [event["count"] if event["visible"] else None for event in dock.events("update")]

        def poll_and_expect(expected):
            # The console's reload polls once it has loaded.
            self.assertEqual(app.activate("reload").returncode, 0)
            e2e.wait_for(lambda: counts()[-1:] == [expected], what="the badge at %r" % expected)

        def changes():
            """The same, each value once until it changes."""
            told = counts()
            return [value for index, value in enumerate(told) if index == 0 or told[index - 1] != value]

        # At launch the badge is hidden, whatever an earlier run left; an empty inbox keeps it so.
        self.assertEqual(changes(), [None])
        added = self.service.control("inbox/add", {"host": HOST, "entries": [
            {"title": "Ancienne", "created_ago": 3600} for _ in range(3)]})["ids"]
        poll_and_expect(3)
        self.service.control("inbox/read", {"host": HOST, "id": added[0]})
        poll_and_expect(2)
        self.service.control("inbox/dismiss", {"host": HOST, "id": added[1]})
        poll_and_expect(1)
        # A poll that finds the same count tells the docks again, for one started since.
        told = counts().count(1)
        self.assertEqual(app.activate("reload").returncode, 0)
        e2e.wait_for(lambda: counts().count(1) > told, what="the same count told again")
        self.assertEqual(changes(), [None, 3, 2, 1])

        # A dock that restarts is told the count at once.
        dock.stop()
        dock = self.desktop_part("dock")
        e2e.wait_for(lambda: counts()[:1] == [1], what="the badge sent to the restarted dock")

        # Signed out elsewhere: the next timed poll finds no signed-in console, and the badge is
        # hidden once.
        self.service.control("signout", {"host": HOST})
        e2e.wait_for(lambda: counts()[-1:] == [None], timeout=90, what="the badge hidden once signed out")
        time.sleep(2.0)
        self.assertEqual(set(counts()), {1, None})
        self.assertEqual(counts().count(None), 1)
        self.assertIn("Notifications : ouvrez Velmóra pour vous connecter", app.menu_items())


def unread_text(count):
    if count == 0:
        return "Aucune notification non lue"
    return "1 notification non lue" if count == 1 else "%d notifications non lues" % count


if __name__ == "__main__":
    e2e.main()
