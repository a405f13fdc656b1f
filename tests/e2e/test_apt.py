"""Updates of the Debian package through APT end to end: the package at two build numbers,
published with scripts/apt-repo into a signed repository on a local folder; the older one is
installed and runs in the background, the system's `apt-get update` and `apt-get install` bring
the newer one, and the running Velmóra relaunches into it on its own, still signed in and
polling, with nothing of the user's lost. Purging leaves neither source, key nor lists."""

import os
import plistlib
import re
import shutil
import tempfile

import apt_e2e as apt
import desktop_e2e as desktop
import dialogs_e2e as dialogs
import notifications_e2e as notifications
import updates_e2e as updates
import velmora_e2e as e2e

INSTALLED_BUNDLE = "/opt/velmora/Velmora.app"
INSTALLED_PROGRAM = INSTALLED_BUNDLE + "/Contents/MacOS/Velmora"
HOST = e2e.INSTANCE_HOST
INBOX = "/api/admin/notification-inbox"
STATUS_ACTIVE = "Notifications synchronisées : actives"
AGENT_ENTRY = "fr.velmora.universal.background.desktop"
FEED_PATH = "/mises-a-jour/" + updates.FEED_NAME


def installed_build():
    with open(INSTALLED_BUNDLE + "/Contents/Info.plist", "rb") as info:
        return plistlib.load(info)["CFBundleVersion"]


def stored_list(defaults, key):
    """One string array of the application's settings file, as a set."""
    found = re.search(r"^stringArray:%s=(.*)$" % key, defaults, re.MULTILINE)
    return {item for item in found.group(1).split(";") if item} if found else set()


class Apt(e2e.EndToEndTest):
    loopback = "127.0.0.19"

    def user_file(self, *path):
        with open(os.path.join(self.home, *path), "rb") as data:
            return data.read()

    def defaults(self):
        return self.user_file("config", e2e.APP_ID, "defaults.ini").decode()

    def test_a_newer_build_from_the_repository_replaces_the_running_one_and_keeps_the_users_state(self):
        if os.geteuid() != 0:
            self.skipTest("installing the package on the machine needs root (the CI runs as root)")
        if desktop.package_installed():
            self.skipTest("a velmora package is installed on this machine; the test would replace and remove it")
        if os.path.lexists(apt.SOURCE_FILE):
            self.skipTest("%s is on this machine; the package would replace it" % apt.SOURCE_FILE)
        work = os.path.join(self.environment.dir, "apt")
        os.mkdir(work)
        key = apt.TestKey(work)
        self.addCleanup(key.close)
        # apt reads a file: repository as its own user, so the folder is open to everyone.
        repository = tempfile.mkdtemp(prefix="velmora-apt-")
        os.chmod(repository, 0o755)
        self.addCleanup(shutil.rmtree, repository, ignore_errors=True)
        # With a key for the own-feed updater, which a copy of the package must never use.
        signer = updates.Signer(work)
        builder = apt.PackageBuilder(work, VELMORA_APT_REPOSITORY="file://" + repository, VELMORA_APT_KEY=key.public,
                                     VELMORA_UPDATE_PUBLIC_KEY=signer.public,
                                     VELMORA_UPDATE_FEED=updates.UPDATE_BASE + updates.FEED_NAME)
        older, newer = builder.build(100), builder.build(101)
        apt.publish(repository, key, older)

        server = notifications.NotificationServer(self.environment)
        try:
            desktop.apt_install(older)
            self.check_source(repository)
            app = self.start_signed_in_in_the_background(server)
            self.check_updates_come_from_the_system(app)
            before = self.defaults()
            autostart = self.user_file("config", "autostart", AGENT_ENTRY)
            self.assertEqual(stored_list(before, "velmoraKnownHosts"), {HOST})
            self.assertIn("shared:%s:avant" % HOST, stored_list(before, "velmoraSharedNotificationSeen"))

            # The vendor publishes the next build into the same repository; the machine's updates
            # find it there.
            apt.publish(repository, key, newer)
            update = apt.update_this_source()
            self.assertEqual(update.returncode, 0, update.stdout + update.stderr)
            self.assertEqual(re.findall(r"^[WE]:.*", update.stdout + update.stderr, re.MULTILINE), [])
            self.assertTrue(apt.lists_of(repository), "apt keeps no index of the repository")
            policy = apt.policy()
            self.assertRegex(policy, r"Candidate: 1\.0\.0\+101\n")
            self.assertRegex(policy, r"500 file:%s stable/main amd64 Packages" % re.escape(repository))
            self.service.control("requests/clear", {})
            since = dialogs.now_ms()
            install = apt.apt_get("install", "-y", "--no-install-recommends", desktop.PACKAGE)
            self.assertEqual(install.returncode, 0, install.stdout + install.stderr)
            self.assertEqual(installed_build(), "101")

            new_pid = self.wait_for_hand_over(app)
            # The program that runs is the one the newer package installed, not the old file.
            self.assertEqual(updates.executable_of(new_pid), INSTALLED_PROGRAM)
            e2e.wait_for(lambda: dialogs.beacons(self.service, HOST, "load", since), timeout=30,
                         what="the console in the relaunched Velmóra")
            self.assertEqual(self.requested(e2e.PUBLIC_HOST, "/connexion.html"), [], "the sign-in cookie is lost")
            e2e.wait_for(lambda: self.requested(HOST, INBOX), what="the inbox polled by the relaunched Velmóra")
            self.service.control("inbox/add", {"host": HOST, "id": "apres", "title": "Après la mise à jour"})
            app.activate("reload")
            server.wait_for_notification(what="a new entry notified after the update", summary="Après la mise à jour")
            # The new run takes over what the old one showed, as a replacement of itself; a seen
            # entry is never announced as a second notification.
            earlier = server.notifications(summary="Avant la mise à jour")
            self.assertEqual({notice["id"] for notice in earlier}, {earlier[0]["id"]}, earlier)
            after = self.defaults()
            self.assertEqual(stored_list(after, "velmoraKnownHosts"), {HOST})
            self.assertLessEqual(stored_list(before, "velmoraSharedNotificationSeen"),
                                 stored_list(after, "velmoraSharedNotificationSeen"))
            self.assertEqual(self.user_file("config", "autostart", AGENT_ENTRY), autostart)
            self.assertEqual(self.requested(e2e.PUBLIC_HOST, FEED_PATH), [], "the newer build asked the feed")

            # Removed without purging, the package leaves its source, which apt can still check.
            for started in self.apps:
                started.stop()
            updates.stop_pid(new_pid)
            removal = apt.apt_get("remove", "-y", desktop.PACKAGE)
            self.assertEqual(removal.returncode, 0, removal.stdout + removal.stderr)
            self.assertTrue(os.path.exists(apt.SOURCE_FILE))
            update = apt.update_this_source()
            self.assertEqual(update.returncode, 0, update.stdout + update.stderr)
            self.assertEqual(re.findall(r"^[WE]:.*", update.stdout + update.stderr, re.MULTILINE), [])
        finally:
            for started in self.apps:
                started.stop()
            # What still owns the name was started by the relaunch helper, not by the test.
            relaunched = updates.bus_owner_pid(self.environment.env(self.home))
            if relaunched:
                updates.stop_pid(relaunched)
            server.stop()
            purge = desktop.apt_purge()
            for path in apt.lists_of(repository):
                os.remove(path)
        self.assertEqual(purge.returncode, 0, purge.stdout + purge.stderr)
        self.assertFalse(desktop.package_installed())
        for path in (apt.SOURCE_FILE, "/opt/velmora"):
            self.assertFalse(os.path.lexists(path), path + " is left after the purge")
        self.assertNotIn(repository, apt.policy())

    def check_source(self, repository):
        """The source the package installed names the repository and the key it signs with."""
        with open(apt.SOURCE_FILE, encoding="utf-8") as source:
            fields = apt.deb822_fields(source.read())
        key = fields.pop("Signed-By")
        self.assertEqual(fields, {"Types": "deb", "URIs": "file://" + repository, "Suites": "stable",
                                  "Components": "main", "Architectures": "amd64"})
        # The key is the source's own, in armour: the one the repository is signed with.
        embedded = os.path.join(self.home, "cle-de-la-source.asc")
        with open(embedded, "w") as out:
            out.write(key)
        self.assertEqual(apt.fingerprints(embedded), apt.fingerprints(os.path.join(repository, "velmora.gpg")))
        self.assertEqual(apt.conffiles(), [apt.SOURCE_FILE])

    def check_updates_come_from_the_system(self, app):
        """A copy of the package says that the system updates it, and never asks the feed."""
        app.activate("checkForUpdates")
        message = e2e.wait_for(lambda: updates.dialogs(app.env, updates.OUTCOME_TITLE), what="the updater's message")
        self.assertEqual(updates.dialogs(app.env, updates.OFFER_TITLE), [])
        updates.press_return_in(app.env, message[0])
        e2e.wait_for(lambda: not updates.dialogs(app.env, updates.OUTCOME_TITLE), what="the message closed")
        # Neither the check at launch nor the one asked for fetched the feed.
        self.assertEqual(self.requested(e2e.PUBLIC_HOST, FEED_PATH), [])

    def start_signed_in_in_the_background(self, server):
        """The installed Velmóra started at login for a user who signed in before, with one entry
        of the inbox notified, its known hosts, seen list and autostart entry written."""
        dialogs.seed_returning_user(self.home)
        self.service.control("redirect", {"host": HOST, "path": "/admin",
                                          "location": dialogs.sign_in_link(self.service)})
        self.service.control("inbox/add", {"host": HOST, "id": "avant", "title": "Avant la mise à jour"})
        app = desktop.CommandApp(self.environment, self.home, [INSTALLED_PROGRAM, "--background"])
        self.apps.append(app)
        app.wait_until_running()
        e2e.wait_for(lambda: STATUS_ACTIVE in app.menu_items(), timeout=30, what="the first poll")
        self.assertEqual(app.windows(), [], "a background launch shows no window")
        server.wait_for_notification(what="the entry notified", summary="Avant la mise à jour")
        e2e.wait_for(lambda: "shared:%s:avant" % HOST in self.defaults(), what="the entry in the seen list")
        e2e.wait_for(lambda: os.path.exists(os.path.join(self.home, "config", "autostart", AGENT_ENTRY)),
                     what="the autostart entry")
        return app

    def wait_for_hand_over(self, app):
        """Waits for the running Velmóra to end on its own and its successor, which the relaunch
        helper started, to own the bus name; returns the successor's process id."""
        # Waiting reaps the process at once: the helper waits for its identifier to vanish,
        # which a zombie of ours would keep.
        self.assertEqual(app.process.wait(timeout=30), 0, "the old build quits, it does not merely hide")

        def successor():
            pid = updates.bus_owner_pid(app.env)
            return pid if pid and pid != app.process.pid else None

        return e2e.wait_for(successor, timeout=30, what="the relaunched Velmóra on the bus")


if __name__ == "__main__":
    e2e.main()
