"""The background service end to end: quitting hides, the process ends only for a reason; login
start through an autostart entry that the session runs; one instance also without a session bus."""

import importlib.machinery
import importlib.util
import os
import shutil
import signal
import subprocess
import time

import notifications_e2e
import velmora_e2e as e2e

AGENT_ENTRY = "fr.velmora.universal.background.desktop"
APP_ENTRY = "fr.velmora.universal.desktop"
INBOX = "/api/admin/notification-inbox"
START_PAGE = "/connexion.html"
LOGIN_ON = "Démarrage automatique : activé"
LOGIN_OFF = "Activer le démarrage automatique"
# Blanks, a quote and shell characters that the Exec line must quote; dex, unlike GLib, cannot
# read backslash escapes inside quotes, so "$", "`", '"' and "\\" are left to the unit tests.
ODD_FOLDER = "Mes applis (essai) & l'équipe #1"
SESSION_SERVICES = os.path.abspath(os.path.join(e2e.BUILD_DIR, "tests", "e2e", "velmora-session-services"))


def load_dex():
    """dex itself, to learn the command it makes of an entry (it does not report its child's status)."""
    loader = importlib.machinery.SourceFileLoader("dex", shutil.which("dex") or "/usr/bin/dex")
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader("dex", loader))
    loader.exec_module(module)
    return module


def dex_command(entry):
    application = load_dex().Application(entry)
    return application._build_cmd(exec_string=application.Exec)


class SessionServices:
    """A system bus of the test's own with logind on it, and the GNOME session manager on the
    session bus: the built velmora-session-services."""

    def __init__(self, environment, folder):
        self.bus, self.system_address = e2e.start_bus(folder, "system-bus", kind="system")
        self.log = os.path.join(folder, "session-services.log")
        self.env = dict(environment.env(folder), DBUS_SYSTEM_BUS_ADDRESS=self.system_address)
        self.process = subprocess.Popen([SESSION_SERVICES, "--log", self.log], env=self.env, stdout=subprocess.PIPE,
                                        preexec_fn=e2e._die_with_parent)
        if self.process.stdout.readline().decode().strip() != "ready":
            raise RuntimeError("the session services did not start")

    def lines(self):
        with open(self.log, encoding="utf-8") as log:
            return log.read().splitlines()

    def call(self, method):
        subprocess.run(["gdbus", "call", "--session", "--dest", "org.gnome.SessionManager", "--object-path",
                        "/fr/velmora/test", "--method", "fr.velmora.test.Session." + method], env=self.env,
                       check=True, capture_output=True, timeout=10)

    def close(self):
        for process in (self.process, self.bus):
            process.terminate()
            process.wait(timeout=5)
            process.stdout.close()


class BundleApp(e2e.App):
    """A run of the Velmora of another copy of the bundle."""

    def __init__(self, environment, home, bundle, arguments=(), env=None):
        self.environment = environment
        self.home = home
        self.env = env or environment.env(home)
        self.log = open(os.path.join(home, "velmora.log"), "ab")
        program = os.path.join(bundle, "Contents", "MacOS", "Velmora")
        self.process = subprocess.Popen([program] + list(arguments), env=self.env, stdout=self.log,
                                        stderr=self.log, preexec_fn=e2e._die_with_parent)


class Background(e2e.EndToEndTest):
    loopback = "127.0.0.14"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        # A copy of the bundle at a path the autostart entry has to quote.
        cls.bundle = os.path.join(cls.environment.dir, ODD_FOLDER, "Velmora.app")
        shutil.copytree(e2e.BUNDLE, cls.bundle, symlinks=True)

    def autostart(self, name=AGENT_ENTRY):
        return os.path.join(self.home, "config", "autostart", name)

    def launcher(self, bundle=None):
        return os.path.join(bundle or self.bundle, "Contents", "MacOS", "VelmoraBackground")

    def env(self):
        return self.environment.env(self.home)

    def owner_pid(self, env):
        """The process that owns the application's name on the bus, or None."""
        result = subprocess.run(["gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                                 "/org/freedesktop/DBus", "--method",
                                 "org.freedesktop.DBus.GetConnectionUnixProcessID", e2e.APP_ID],
                                env=env, capture_output=True, text=True, timeout=10)
        words = result.stdout.strip("()\n ,").split()
        return int(words[-1]) if result.returncode == 0 and words else None

    def end_foreign(self, pid, env):
        """Ends a Velmora that the test did not start itself (the session's) and waits for it."""
        os.kill(pid, signal.SIGTERM)
        e2e.wait_for(lambda: self.owner_pid(env) is None and self.ended(pid), what="the background Velmora ended")

    @staticmethod
    def ended(pid):
        try:
            with open("/proc/%d/status" % pid) as status:
                return "State:\tZ" in status.read()
        except FileNotFoundError:
            return True

    def menu_shows(self, app, title):
        return "'label': <'%s'>" % title in app.menu_items()

    def sign_in(self, app, window):
        e2e.wait_for(lambda: self.service.control("beacons?host=%s&name=load" % e2e.PUBLIC_HOST)["beacons"],
                     what="the sign-in page loaded")
        time.sleep(1.0)  # the field's autofocus after the load event
        e2e.fill_form(app.env, window, ["admin@salon.velmora.fr", "demo", "salon.velmora.fr"])
        e2e.wait_for(lambda: self.requested(e2e.INSTANCE_HOST, "/admin"), what="the console after signing in")

    def hide_and_keep_polling(self, app, what, trigger):
        self.assertTrue(app.windows(), "the window is shown before " + what)
        trigger()
        e2e.wait_for(lambda: app.windows() == [], what="the window hidden by " + what)
        self.assertTrue(app.alive())
        # The console asks for the inbox after every load: a reload while hidden shows that the
        # page and the poll live on.
        self.service.control("requests/clear", {})
        self.assertEqual(app.activate("reload").returncode, 0)
        e2e.wait_for(lambda: self.requested(e2e.INSTANCE_HOST, INBOX), what="the inbox polled while hidden")
        self.assertEqual(app.windows(), [])
        self.assertTrue(app.alive())

    def reopen(self, app):
        second = e2e.App(self.environment, self.home, env=app.env)
        self.assertEqual(second.process.wait(timeout=20), 0)
        second.log.close()
        e2e.wait_for(app.windows, what="the window after a reopen")

    def test_quitting_hides_the_window_and_sigterm_ends_the_process(self):
        self.service.control("beacons/clear", {})
        app = self.start_app()
        window = e2e.wait_for(app.windows, what="a visible window")[0]
        self.sign_in(app, window)
        # Ctrl+Q, the "Quitter Velmóra" item's action, and a script's quit over the bus.
        triggers = [
            ("Ctrl+Q", lambda: e2e.type_keys(app.env, window, keys=["ctrl+q"])),
            ("the quit item", lambda: self.assertEqual(app.activate("terminate").returncode, 0)),
            ("a script's quit", lambda: self.assertEqual(app.activate("quit").returncode, 0)),
        ]
        for number, (what, trigger) in enumerate(triggers):
            if number:
                self.reopen(app)
            self.hide_and_keep_polling(app, what, trigger)

        started = time.monotonic()
        app.process.send_signal(signal.SIGTERM)
        self.assertEqual(app.process.wait(timeout=10), 0)
        self.assertLess(time.monotonic() - started, 5.0)

    def test_a_minute_in_the_background_rests_the_process_and_the_page_lives_on(self):
        self.service.control("beacons/clear", {})
        app = self.start_app()
        window = e2e.wait_for(app.windows, what="a visible window")[0]
        self.sign_in(app, window)
        e2e.wait_for(lambda: self.service.control("beacons?host=%s&name=load" % e2e.INSTANCE_HOST)["beacons"],
                     what="the console loaded")
        loads = len(self.service.control("beacons?host=%s&name=load" % e2e.INSTANCE_HOST)["beacons"])
        self.assertEqual(app.activate("terminate").returncode, 0)
        e2e.wait_for(lambda: app.windows() == [], what="the window hidden")
        # The rest comes a minute after the window went.
        time.sleep(65)
        self.assertTrue(app.alive())
        self.assertEqual(len(self.service.control("beacons?host=%s&name=load" % e2e.INSTANCE_HOST)["beacons"]), loads,
                         "resting reloads nothing")
        self.hide_and_keep_polling_after_rest(app)
        self.reopen(app)
        time.sleep(1.0)  # the first frame after the window was realised again
        shot = os.path.join(self.home, "apres-repos.png")
        app.screenshot(shot)
        colours = int(subprocess.check_output(["identify", "-format", "%k", shot], text=True))
        self.assertGreater(colours, 10, "the window draws its page again")

    def hide_and_keep_polling_after_rest(self, app):
        self.service.control("requests/clear", {})
        self.assertEqual(app.activate("reload").returncode, 0)
        e2e.wait_for(lambda: self.requested(e2e.INSTANCE_HOST, INBOX), what="the inbox polled after the rest")
        self.assertEqual(app.windows(), [])

    def test_stopping_the_service_ends_the_process_and_keeps_login_start(self):
        app = self.start_app()
        e2e.wait_for(app.windows, what="a visible window")
        e2e.wait_for(lambda: os.path.exists(self.autostart()), what="the autostart entry")
        self.assertEqual(app.activate("stopNativeService").returncode, 0)
        self.assertEqual(app.process.wait(timeout=10), 0)
        self.assertTrue(os.path.exists(self.autostart()), "the login registration is left as it is")

    def test_a_system_quit_ends_the_process_while_an_alert_waits(self):
        # A file where the autostart folder belongs: registering fails and the menu shows the alert.
        os.makedirs(os.path.join(self.home, "config"))
        with open(os.path.join(self.home, "config", "autostart"), "w"):
            pass
        app = self.start_app()
        e2e.wait_for(app.windows, what="a visible window")
        e2e.wait_for(lambda: self.menu_shows(app, LOGIN_OFF), what="login start shown as off")
        # The action returns only once the alert is answered, so its call is not waited for.
        toggle = subprocess.Popen(["gdbus", "call", "--session", "--dest", e2e.APP_ID, "--object-path",
                                   "/fr/velmora/universal", "--method", "org.gtk.Actions.Activate",
                                   "toggleLoginStart", "[]", "{}"], env=app.env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        e2e.wait_for(lambda: len(self.visible_windows_of(app)) == 2, what="the alert over the window")
        started = time.monotonic()
        app.process.send_signal(signal.SIGTERM)
        self.assertEqual(app.process.wait(timeout=10), 0)
        self.assertLess(time.monotonic() - started, 5.0)
        toggle.wait(timeout=10)

    def visible_windows_of(self, app):
        result = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(app.process.pid)],
                                env=app.env, capture_output=True, text=True)
        return result.stdout.split()

    def test_login_start_runs_through_the_sessions_autostart(self):
        # The application itself was a login item in an older arrangement; the agent replaces it.
        os.makedirs(os.path.dirname(self.autostart()))
        with open(self.autostart(APP_ENTRY), "w") as old:
            old.write("[Desktop Entry]\nType=Application\nName=Velmóra\nExec=Velmora\n")
        app = BundleApp(self.environment, self.home, self.bundle)
        self.apps.append(app)
        app.wait_until_running()
        e2e.wait_for(app.windows, what="a visible window")
        e2e.wait_for(lambda: os.path.exists(self.autostart()), what="the agent's autostart entry")
        self.assertFalse(os.path.exists(self.autostart(APP_ENTRY)), "the old login item is removed")
        e2e.wait_for(lambda: self.menu_shows(app, LOGIN_ON), what="login start shown as on")
        validation = subprocess.run(["desktop-file-validate", self.autostart()], capture_output=True, text=True)
        self.assertEqual((validation.returncode, validation.stdout), (0, ""))
        self.assertEqual(dex_command(self.autostart()), [self.launcher()])
        self.assertEqual(app.stop(), 0)

        # The session's autostart: the launcher starts Velmora in the background.
        env = self.env()
        self.service.control("requests/clear", {})
        session = subprocess.run(["dex", "--autostart", "--search-paths", os.path.dirname(self.autostart())],
                                 env=env, capture_output=True, text=True, timeout=20)
        self.assertEqual(session.returncode, 0, session.stderr)
        pid = e2e.wait_for(lambda: self.owner_pid(env), what="Velmora started at login")
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as cmdline:
                self.assertEqual(cmdline.read().split(b"\0")[:-1],
                                 [os.path.join(self.bundle, "Contents", "MacOS", "Velmora").encode(), b"--background"])
            e2e.wait_for(lambda: self.requested(e2e.PUBLIC_HOST, START_PAGE), what="the start page while hidden")
            time.sleep(1.0)
            self.assertEqual(e2e.visible_window_ids(env), [], "no window at login")

            # The launcher again, while Velmora runs: nothing is opened.
            self.service.control("requests/clear", {})
            again = subprocess.run(dex_command(self.autostart()), env=env, timeout=20)
            self.assertEqual(again.returncode, 0)
            time.sleep(1.0)
            self.assertEqual(self.owner_pid(env), pid)
            self.assertEqual(e2e.visible_window_ids(env), [])
            self.assertEqual(self.requested(e2e.PUBLIC_HOST, START_PAGE), [])
        finally:
            self.end_foreign(pid, env)

        # Started with nothing running, the launcher ends with 0 once it has started Velmora.
        started = subprocess.run(dex_command(self.autostart()), env=env, timeout=20)
        self.assertEqual(started.returncode, 0)
        pid = e2e.wait_for(lambda: self.owner_pid(env), what="Velmora started by the launcher")
        self.end_foreign(pid, env)

    def test_switching_login_start_off_removes_the_entry_for_good(self):
        app = self.start_app()
        e2e.wait_for(app.windows, what="a visible window")
        e2e.wait_for(lambda: self.menu_shows(app, LOGIN_ON), what="login start shown as on")
        self.assertTrue(os.path.exists(self.autostart()))
        self.assertEqual(app.activate("toggleLoginStart").returncode, 0)
        e2e.wait_for(lambda: self.menu_shows(app, LOGIN_OFF), what="login start shown as off")
        self.assertFalse(os.path.exists(self.autostart()))
        self.assertEqual(app.stop(), 0)

        again = self.start_app()
        e2e.wait_for(again.windows, what="the window of the next launch")
        e2e.wait_for(lambda: self.menu_shows(again, LOGIN_OFF), what="login start still off")
        self.assertFalse(os.path.exists(self.autostart()), "a later launch does not register the agent again")
        # Switched on again from the menu, the entry is back.
        self.assertEqual(again.activate("toggleLoginStart").returncode, 0)
        e2e.wait_for(lambda: self.menu_shows(again, LOGIN_ON), what="login start shown as on again")
        self.assertTrue(os.path.exists(self.autostart()))

    def test_an_entry_of_a_deleted_copy_is_taken_over_and_one_of_another_copy_kept(self):
        # Login start was configured long ago, by a copy of the bundle that is gone or elsewhere.
        os.makedirs(os.path.join(self.home, "config", e2e.APP_ID))
        with open(os.path.join(self.home, "config", e2e.APP_ID, "defaults.ini"), "w") as defaults:
            defaults.write("[Velmora]\nboolean:velmoraBackgroundAgentMigrated=true\n"
                           "boolean:velmoraLoginStartConfigured=true\n")
        os.makedirs(os.path.dirname(self.autostart()))
        this = self.launcher(e2e.BUNDLE)
        cases = [
            ("a deleted copy", os.path.join(self.home, "Supprimée", "Velmora.app"), LOGIN_ON, [this]),
            ("another installed copy", self.bundle, LOGIN_OFF, [self.launcher()]),
        ]
        for what, bundle, title, command in cases:
            with self.subTest(what):
                with open(self.autostart(), "w") as entry:
                    entry.write("[Desktop Entry]\nType=Application\nName=Velmóra\nTryExec=%s\nExec=\"%s\"\n"
                                % (self.launcher(bundle), self.launcher(bundle)))
                app = self.start_app()
                e2e.wait_for(lambda: self.menu_shows(app, title), what="login start shown as " + title)
                self.assertEqual(dex_command(self.autostart()), command)
                self.assertEqual(app.stop(), 0)

    def session_services(self):
        services = SessionServices(self.environment, self.home)
        self.addCleanup(services.close)
        return services

    def test_the_end_of_the_session_ends_the_process_at_once(self):
        services = self.session_services()
        # Started by the session: with its start id, and in the background.
        env = dict(self.env(), DBUS_SYSTEM_BUS_ADDRESS=services.system_address, DESKTOP_AUTOSTART_ID="e2e-start-42")
        self.service.control("requests/clear", {})
        app = self.start_app(env=env)
        e2e.wait_for(lambda: "register fr.velmora.universal e2e-start-42" in services.lines(),
                     what="the registration with the session manager")
        e2e.wait_for(lambda: self.requested(e2e.PUBLIC_HOST, START_PAGE), what="the start page while hidden")
        self.assertEqual(app.windows(), [], "a launch by the session shows no window")
        started = time.monotonic()
        services.call("EndSession")
        self.assertEqual(app.process.wait(timeout=10), 0)
        self.assertLess(time.monotonic() - started, 5.0)
        # Both the query and the end itself were agreed to.
        answers = [line for line in services.lines() if line.startswith("response ")]
        self.assertEqual(answers, ["response /org/gnome/SessionManager/Client1 true "] * 2)

    def test_a_shutdown_ends_the_process_and_lets_the_inhibitor_go(self):
        services = self.session_services()
        app = self.start_app(env=dict(self.env(), DBUS_SYSTEM_BUS_ADDRESS=services.system_address))
        e2e.wait_for(app.windows, what="a visible window")
        e2e.wait_for(lambda: "inhibit shutdown|Velmóra|Fermeture propre|delay" in services.lines(),
                     what="the delay inhibitor taken")
        self.assertFalse([line for line in services.lines() if line.startswith("released")])
        started = time.monotonic()
        services.call("Shutdown")
        self.assertEqual(app.process.wait(timeout=10), 0)
        self.assertLess(time.monotonic() - started, 5.0)
        e2e.wait_for(lambda: [line for line in services.lines() if line.startswith("released")],
                     what="the inhibitor released")

    def user_files(self):
        """Every file of the application in the user's configuration and state folders, with
        its bytes: the settings, the autostart entry, the notification ledger."""
        files = {}
        for top in ("config", "state"):
            for folder, _, names in os.walk(os.path.join(self.home, top)):
                for name in names:
                    with open(os.path.join(folder, name), "rb") as data:
                        files[os.path.relpath(os.path.join(folder, name), self.home)] = data.read()
        return files

    def test_a_second_copy_changes_nothing_of_the_running_instances_files(self):
        server = notifications_e2e.NotificationServer(self.environment)
        self.addCleanup(server.stop)
        app = self.start_app()
        e2e.wait_for(app.windows, what="a visible window")
        self.assertEqual(app.activate("testNativeNotice").returncode, 0)
        server.wait_for_notification(what="the test notification", summary="Essai Velmóra")
        ledger = os.path.join("state", e2e.APP_ID, "notifications")
        defaults = os.path.join("config", e2e.APP_ID, "defaults.ini")
        e2e.wait_for(lambda: b"[Notification 0]" in self.user_files().get(ledger, b"") and
                     defaults in self.user_files(), what="the notification in the ledger and the settings saved")
        before = self.user_files()
        # Started from another session, an SSH login say: the same user's folders on another bus,
        # where the running instance cannot be reached. The lock tells it that one runs.
        other_bus, other_address = e2e.start_bus(self.home, "other-bus")
        self.addCleanup(other_bus.wait)
        self.addCleanup(other_bus.terminate)
        launches = [("another bus", dict(app.env, DBUS_SESSION_BUS_ADDRESS=other_address)), ("the same bus", app.env)]
        for what, env in launches:
            with self.subTest(what):
                second = e2e.App(self.environment, self.home, env=env)
                self.apps.append(second)
                self.assertEqual(second.process.wait(timeout=20), 0)
                self.assertEqual(self.user_files(), before)
                self.assertTrue(app.alive())

    def test_without_a_session_bus_one_instance_runs(self):
        env = dict(self.env(), DBUS_SESSION_BUS_ADDRESS="unix:path=" + os.path.join(self.home, "no-bus"))
        first = e2e.App(self.environment, self.home, env=env)
        self.apps.append(first)
        e2e.wait_for(first.windows, what="the window without a bus")
        second = e2e.App(self.environment, self.home, env=env)
        self.apps.append(second)
        self.assertEqual(second.process.wait(timeout=20), 0)
        self.assertTrue(first.alive())
        self.assertEqual(len(first.windows()), 1)
        # The session's hang-up is a quit with a reason too.
        first.process.send_signal(signal.SIGHUP)
        self.assertEqual(first.process.wait(timeout=10), 0)


if __name__ == "__main__":
    e2e.main()
