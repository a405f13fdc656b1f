"""The desktop shell end to end: window, menus, background launch, reopen, closing, sign-in."""

import os
import subprocess
import tempfile
import time

import desktop_e2e as desktop
import velmora_e2e as e2e

EXPECTED_MENU = [
    "'label': <'Velmóra'>", "'label': <'Édition'>", "'label': <'Navigation'>",
    "'label': <'À propos de Velmóra — version ",
    "'label': <'Rechercher les mises à jour…'>",
    "'label': <'Quitter Velmóra'>",
    "'label': <'Tester la notification Velmóra'>",
    "'label': <'Arrêter Velmóra et les notifications'>",
    "'label': <'Annuler'>", "'label': <'Couper'>", "'label': <'Copier'>", "'label': <'Coller'>",
    "'label': <'Tout sélectionner'>",
    "'label': <'Changer d’espace'>", "'label': <'Actualiser'>", "'label': <'Ouvrir dans le navigateur'>",
]


class Shell(e2e.EndToEndTest):
    loopback = "127.0.0.11"

    def sign_in_requests(self):
        return self.requested(e2e.PUBLIC_HOST, "/connexion.html")

    def wait_until_loaded(self, host):
        """Waits for the page on `host` to report its load event."""
        e2e.wait_for(lambda: self.service.control("beacons?host=%s&name=load" % host)["beacons"],
                     what="the page of %s loaded" % host)

    def test_normal_launch_shows_the_sign_in_page_and_the_menus(self):
        self.service.control("requests/clear", {})
        app = self.start_app()
        windows = e2e.wait_for(app.windows, what="a visible window")
        self.assertEqual(len(windows), 1)
        self.assertEqual(app.window_size(windows[0]), (1200, 820))
        e2e.wait_for(self.sign_in_requests, what="the sign-in page requested")
        menu = app.menu_items()
        positions = [menu.find(item) for item in EXPECTED_MENU]
        self.assertNotIn(-1, positions, menu)
        self.assertEqual(positions, sorted(positions), "menu items out of order: " + menu)
        # The status item has no action, so it is shown insensitive.
        self.assertRegex(menu, r"\{'label': <'(Notifications : connexion nécessaire|Connexion en cours[^']*)'>\}")
        # Login start shows its state and is a stateful action.
        self.assertIn("'action': <'app.toggleLoginStart'>", menu)
        app.screenshot(os.path.join(self.environment.dir, "..", "shell-normal.png"))

    def test_an_unpackaged_copy_gives_the_desktop_an_entry_and_icon_that_name_it(self):
        # test_desktop.py may install the package on the machine meanwhile: in this test's own
        # view of the machine no package's entry exists.
        no_entries = tempfile.mkdtemp(dir=self.environment.dir)
        subprocess.check_call(["mount", "--bind", no_entries, "/usr/share/applications"])
        self.addCleanup(subprocess.call, ["umount", "/usr/share/applications"])
        app = self.start_app()
        window = e2e.wait_for(app.windows, what="a visible window")[0]
        data = os.path.join(self.home, "data")
        path = os.path.join(data, "applications", desktop.DESKTOP_ID + ".desktop")
        entry = desktop.read_desktop_entry(path)
        program = os.path.realpath(e2e.APP)
        self.assertEqual(desktop.exec_command(entry), [program])
        self.assertEqual(entry["TryExec"], program)
        self.assertEqual(entry["Name"], "Velmóra")
        validation = subprocess.run(["desktop-file-validate", path], capture_output=True, text=True)
        self.assertEqual(validation.returncode, 0, validation.stdout + validation.stderr)
        self.assertNotRegex(validation.stdout + validation.stderr, "(error|warning): ")
        icons = os.path.join(data, "icons", "hicolor")
        for theme_file, resource in (("scalable/apps/%s.svg", "%s.svg"), ("128x128/apps/%s.png", "%s-128.png"),
                                     ("256x256/apps/%s.png", "%s-256.png")):
            with open(os.path.join(icons, theme_file % entry["Icon"]), "rb") as icon, \
                    open(os.path.join(e2e.BUNDLE, "Contents", "Resources", resource % desktop.DESKTOP_ID), "rb") as ours:
                self.assertEqual(icon.read(), ours.read(), theme_file)
        # The desktop matches the window to the entry by its application id.
        self.assertEqual(desktop.window_property(app.env, window, "_GTK_APPLICATION_ID"), '"%s"' % desktop.DESKTOP_ID)

    def test_background_launch_stays_hidden_and_a_second_launch_reopens(self):
        self.service.control("requests/clear", {})
        app = self.start_app("--background")
        e2e.wait_for(self.sign_in_requests, what="the start page requested while hidden")
        time.sleep(1.0)
        self.assertEqual(app.windows(), [])
        # Launching Velmora again activates the running one: the window comes back.
        second = e2e.App(self.environment, self.home, env=app.env)
        self.assertEqual(second.process.wait(timeout=20), 0)
        e2e.wait_for(app.windows, what="the window after a reopen")
        self.assertTrue(app.alive())
        time.sleep(1.0)
        self.assertEqual(len(self.sign_in_requests()), 1, "the page must not be reloaded on reopen")

    def test_a_login_launch_while_running_changes_nothing(self):
        self.service.control("beacons/clear", {})
        app = self.start_app()
        e2e.wait_for(app.windows, what="a visible window")
        self.wait_until_loaded(e2e.PUBLIC_HOST)
        self.service.control("requests/clear", {})
        second = e2e.App(self.environment, self.home, arguments=["--background"], env=app.env)
        self.assertEqual(second.process.wait(timeout=20), 0)
        time.sleep(1.0)
        self.assertEqual(len(app.windows()), 1)
        self.assertEqual(self.sign_in_requests(), [])

    def test_signing_in_is_remembered_across_a_restart(self):
        self.service.control("beacons/clear", {})
        app = self.start_app()
        window = e2e.wait_for(app.windows, what="a visible window")[0]
        self.wait_until_loaded(e2e.PUBLIC_HOST)
        time.sleep(1.0)  # the field's autofocus after the load event
        e2e.fill_form(app.env, window, ["admin@salon.velmora.fr", "demo", "salon.velmora.fr"])
        e2e.wait_for(lambda: self.requested(e2e.INSTANCE_HOST, "/admin"), what="the console after signing in")
        time.sleep(2.0)  # the cookie reaches its store
        app.screenshot(os.path.join(self.environment.dir, "..", "shell-console.png"))
        self.assertEqual(app.stop(), 0)

        self.service.control("requests/clear", {})
        again = self.start_app()
        e2e.wait_for(again.windows, what="the window after the restart")
        # The admitted instance is remembered: the start page is its console, and the
        # session cookie kept the user signed in (no redirect to the sign-in page).
        e2e.wait_for(lambda: self.requested(e2e.INSTANCE_HOST, "/admin"), what="the remembered console")
        time.sleep(1.5)
        self.assertEqual(self.sign_in_requests(), [])
        self.assertTrue(self.requested(e2e.INSTANCE_HOST, "/api/session"))


if __name__ == "__main__":
    e2e.main()
