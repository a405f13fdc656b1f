"""Desktop integration end to end: the Debian package installs, Velmóra starts from its menu
entry's Exec line and is matched to that entry, its notifications name the entry and an icon the
theme finds, and purging leaves nothing behind; under a French locale GTK's own dialogs are French."""

import os
import subprocess
import time

import desktop_e2e as desktop
import notifications_e2e as notifications
import velmora_e2e as e2e

ABOUT_TITLE_FR = "À propos de Velmóra"  # GTK's "About %s" in its French catalogue
INSTALLED_PROGRAM = "/opt/velmora/Velmora.app/Contents/MacOS/Velmora"
EXPECTED_ICONS = ["128x128/apps/fr.velmora.universal.png", "256x256/apps/fr.velmora.universal.png",
                  "scalable/apps/fr.velmora.universal.svg"]


class Desktop(e2e.EndToEndTest):
    loopback = "127.0.0.17"

    def sign_in(self, app, window):
        """Signs in on the public sign-in page as a user would, and waits for the console."""
        e2e.wait_for(lambda: self.service.control("beacons?host=%s&name=load" % e2e.PUBLIC_HOST)["beacons"],
                     what="the sign-in page loaded")
        time.sleep(1.0)  # the field's autofocus after the load event
        e2e.fill_form(app.env, window, ["admin@salon.velmora.fr", "demo", "salon.velmora.fr"])
        e2e.wait_for(lambda: self.requested(e2e.INSTANCE_HOST, "/admin"), what="the console after signing in")
        e2e.wait_for(lambda: self.service.control("beacons?host=%s&name=load" % e2e.INSTANCE_HOST)["beacons"],
                     what="the console loaded")

    def test_the_package_installs_starts_from_its_menu_entry_and_purges_without_a_trace(self):
        if os.geteuid() != 0:
            self.skipTest("installing the package on the machine needs root (the CI runs as root)")
        if desktop.package_installed():
            self.skipTest("a velmora package is installed on this machine; the test would replace and remove it")
        self.service.control("beacons/clear", {})
        deb = desktop.build_package(os.path.join(self.environment.dir, "paquet"))
        contents = desktop.package_contents(deb)
        there_before = {path for path in contents if os.path.lexists(path)}
        recorded = []
        server = notifications.NotificationServer(self.environment)
        try:
            desktop.apt_install(deb)
            recorded = desktop.installed_files()
            self.check_installed_files(recorded)
            entry = desktop.read_desktop_entry(desktop.ENTRY)
            command = desktop.exec_command(entry)
            self.assertEqual(command, [INSTALLED_PROGRAM])

            app = desktop.CommandApp(self.environment, self.home, command)
            self.apps.append(app)
            app.wait_until_running()
            window = e2e.wait_for(app.windows, timeout=30, what="the installed Velmóra's window")[0]
            self.assertEqual(os.path.realpath("/proc/%d/exe" % app.process.pid), INSTALLED_PROGRAM)
            # A task bar matches the window to its entry by the X11 class, or by GTK's application id.
            self.assertEqual(desktop.wm_class(app.env, window)[1], entry["StartupWMClass"])
            application_id = desktop.window_property(app.env, window, "_GTK_APPLICATION_ID")
            self.assertEqual(application_id, '"%s"' % desktop.DESKTOP_ID)

            self.sign_in(app, window)
            app.activate("testNativeNotice")
            call = server.wait_for_notification(what="a notification from the installed Velmóra")
            self.assertEqual(call["app_name"], "Velmóra")
            self.assertEqual(call["hints"].get("desktop-entry"), desktop.DESKTOP_ID)
            # The server finds the entry by that name, and through it (or app_icon) the icon.
            named = desktop.read_desktop_entry("/usr/share/applications/%s.desktop" % call["hints"]["desktop-entry"])
            self.assertEqual(named["Icon"], desktop.DESKTOP_ID)
            self.assertIn(call["app_icon"], ("", named["Icon"]))
            self.assertEqual(desktop.icon_lookup(named["Icon"]), EXPECTED_ICONS)
        finally:
            for app in self.apps:
                app.stop()
            server.stop()
            purge = desktop.apt_purge()
        self.assertEqual(purge.returncode, 0, purge.stdout + purge.stderr)
        self.assertFalse(desktop.package_installed())
        self.assertEqual([path for path in recorded if os.path.lexists(path) and not os.path.isdir(path)], [])
        self.assertEqual(sorted(path for path in contents if os.path.lexists(path) and path not in there_before), [])
        self.assertFalse(os.path.exists("/opt/velmora"))
        self.assertEqual(desktop.icon_lookup(desktop.DESKTOP_ID), [], "the icon theme still offers the icon")

    def check_installed_files(self, recorded):
        expected = [INSTALLED_PROGRAM, desktop.ENTRY, "/usr/share/metainfo/fr.velmora.universal.metainfo.xml",
                    "/opt/velmora/Velmora.app/Contents/MacOS/VelmoraBackground",
                    "/opt/velmora/Velmora.app/Contents/MacOS/VelmoraRelaunch",
                    "/opt/velmora/Velmora.app/Contents/PlugIns/libvelmora-web-extension.so",
                    "/opt/velmora/Velmora.app/Contents/Resources/carillon-doux.wav",
                    "/opt/velmora/Velmora.app/Contents/Resources/fr.velmora.universal.desktop",
                    "/opt/velmora/Velmora.app/Contents/Resources/fr.velmora.universal.svg",
                    "/opt/velmora/Velmora.app/Contents/Info.plist"]
        expected += [os.path.join(desktop.HICOLOR, icon) for icon in EXPECTED_ICONS]
        self.assertEqual([path for path in expected if path not in recorded or not os.path.isfile(path)], [])
        for program in ("Velmora", "VelmoraBackground", "VelmoraRelaunch"):
            self.assertTrue(os.access("/opt/velmora/Velmora.app/Contents/MacOS/" + program, os.X_OK), program)
        validation = subprocess.run(["desktop-file-validate", desktop.ENTRY], capture_output=True, text=True)
        self.assertEqual(validation.returncode, 0, validation.stdout + validation.stderr)

    def test_gtk_draws_its_own_dialogs_in_french_under_a_french_locale(self):
        locales = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.split()
        self.assertIn("fr_FR.utf8", locales, "the locale fr_FR.UTF-8 is missing: run scripts/setup")
        env = self.environment.env(self.home)
        env.update(LANG="fr_FR.UTF-8", LC_ALL="fr_FR.UTF-8", LANGUAGE="")
        app = self.start_app(env=env)
        e2e.wait_for(app.windows, what="a visible window")
        app.activate("orderFrontStandardAboutPanel")
        dialogs = e2e.wait_for(lambda: desktop.window_ids_named(app.env, ABOUT_TITLE_FR),
                               what="the about dialog titled %r" % ABOUT_TITLE_FR)
        self.assertEqual(len(dialogs), 1)
        # Velmóra's own texts are French whatever the locale; GTK translates none of them.
        self.assertIn("'label': <'Quitter Velmóra'>", app.menu_items())


if __name__ == "__main__":
    e2e.main()
