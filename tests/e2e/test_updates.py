"""The installed-build watch and the updater end to end, on copies of the built bundle: a newer
build put over a running copy is relaunched by the helper, a signed update from the stand-in
service is installed and started, a download can be cancelled, an offer changed after signing
is never offered, and a bad update changes nothing."""

import os
import shutil
import signal
import subprocess
import tempfile
import time

import updates_e2e as updates
import velmora_e2e as e2e


class Updates(e2e.EndToEndTest):
    loopback = "127.0.0.15"

    @classmethod
    def setUpClass(cls):
        cls.environment = e2e.Environment(cls.loopback)
        cls.update_files = os.path.join(cls.environment.dir, "mises-a-jour")
        os.mkdir(cls.update_files)
        cls.service = e2e.Service(cls.environment, extra=["--files", cls.update_files])
        cls.keys_dir = tempfile.mkdtemp(prefix="cles-", dir=cls.environment.dir)
        cls.signer = updates.Signer(cls.keys_dir)

    def setUp(self):
        super().setUp()
        self.relaunched = []
        for name in os.listdir(self.update_files):
            os.remove(os.path.join(self.update_files, name))
        # The copy lives alone in a folder, so that anything an installation leaves beside it shows.
        self.apps_dir = os.path.join(self.home, "Applications")
        self.bundle = os.path.join(self.apps_dir, "Velmora.app")

    def tearDown(self):
        for pid in self.relaunched:
            updates.stop_pid(pid)
        super().tearDown()

    # --- helpers ---

    def copy_running_bundle(self, build="100", **changes):
        info = dict(CFBundleVersion=build, SUFeedURL=updates.UPDATE_BASE + updates.FEED_NAME,
                    SUPublicEDKey=self.signer.public, SUEnableAutomaticChecks=False)
        info.update(changes)
        return updates.copy_bundle(self.bundle, **info)

    def start_copy(self, *arguments):
        app = updates.BundleApp(self.environment, self.home, self.bundle, arguments)
        self.apps.append(app)
        app.wait_until_running()
        return app

    def newer_archive(self, build="101", extra=(), programs=None):
        """An archive of the bundle at a higher build, its programs in Contents/MacOS replaced by
        `programs` (name: script), with `extra` entries after it."""
        return self.newer_archive_and_digest(build, extra, programs)[0]

    def newer_archive_and_digest(self, build="101", extra=(), programs=None):
        folder = tempfile.mkdtemp(prefix="build-%s-" % build, dir=self.home)
        newer = updates.copy_bundle(os.path.join(folder, "Velmora.app"), CFBundleVersion=build,
                                    CFBundleShortVersionString="1.1.0",
                                    SUFeedURL=updates.UPDATE_BASE + updates.FEED_NAME,
                                    SUPublicEDKey=self.signer.public, SUEnableAutomaticChecks=False)
        for name, script in (programs or {}).items():
            program = os.path.join(newer, "Contents", "MacOS", name)
            with open(program, "w") as out:
                out.write(script)
            os.chmod(program, 0o755)
        data = updates.tar_gz(newer, extra)
        digest = updates.tree_digest(newer)
        shutil.rmtree(folder)
        return data, digest

    def publish(self, archive, signer=None, build="101", served=None, alter=None):
        """Puts the archive and a feed for it on the stand-in service; the feed describes
        `archive`, while `served` (when given) is what the service hands out instead, and
        `alter` (when given) changes the signed feed's text."""
        name = "Velmora-%s.tar.gz" % build
        path = os.path.join(self.update_files, name)
        with open(path, "wb") as out:
            out.write(archive)
        feed = (signer or self.signer).feed(path, updates.UPDATE_BASE + name, "1.1.0", build,
                                            "Nouvelles notifications et corrections.")
        if served is not None:
            with open(path, "wb") as out:
                out.write(served)
        with open(os.path.join(self.update_files, updates.FEED_NAME), "w") as out:
            out.write(alter(feed) if alter else feed)

    def wait_for_hand_over(self, app, timeout):
        """Waits for the running copy to end and its successor to own the bus name; returns
        (exit status, seconds until it ended, the new process)."""
        started = time.monotonic()
        # Waiting reaps the process at once: the helper waits for its identifier to vanish,
        # which a zombie of ours would keep.
        status = app.process.wait(timeout=timeout)
        ended = time.monotonic() - started

        def successor():
            pid = updates.bus_owner_pid(app.env)
            return pid if pid and pid != app.process.pid else None

        new_pid = e2e.wait_for(successor, timeout=30, what="the relaunched Velmora on the bus")
        self.relaunched.append(new_pid)
        return status, ended, new_pid

    def assert_runs_from_the_copy_with_its_window(self, pid, env):
        self.assertEqual(updates.executable_of(pid), os.path.join(self.bundle, "Contents", "MacOS", "Velmora"))
        # Opened by the helper without arguments: normal mode, not "--background".
        self.assertEqual(updates.command_line_of(pid)[1:], [])
        e2e.wait_for(lambda: e2e.visible_window_ids(env), timeout=30, what="the relaunched window")

    def accept_offer(self, app):
        """Installs what is offered; returns the offer's window, which the download's dialog
        follows under the same title."""
        offer = e2e.wait_for(lambda: updates.dialogs(app.env, updates.OFFER_TITLE), what="the update offer")
        updates.press_return_in(app.env, offer[0])
        e2e.wait_for(lambda: offer[0] not in updates.dialogs(app.env, updates.OFFER_TITLE), what="the offer closed")
        return offer[0]

    def redirect(self, path, location):
        """The next request for `path` on the public host, over any port, is sent to `location`."""
        self.service.control("redirect", {"host": e2e.PUBLIC_HOST, "path": path, "location": location})

    def log_lines(self, text):
        path = os.path.join(self.home, "velmora.log")
        if not os.path.exists(path):
            return []
        with open(path, errors="replace") as log:
            return [line for line in log if text in line]

    def paced_archive_answers(self, name="Velmora-101.tar.gz"):
        return [answer for answer in self.service.control("update-pace")["answers"]
                if answer["path"] == "/mises-a-jour/" + name]

    def install_and_run_build_101(self, app):
        """Asks for a check, accepts the offer and waits until build 101, now in the bundle's
        place, runs from it with its window."""
        app.activate("checkForUpdates")
        self.accept_offer(app)
        status, _, new_pid = self.wait_for_hand_over(app, timeout=60)
        self.assertEqual(status, 0)
        self.assertEqual(updates.read_info(self.bundle)["CFBundleVersion"], "101")
        self.assert_runs_from_the_copy_with_its_window(new_pid, app.env)

    def dismiss_outcome(self, app):
        outcome = e2e.wait_for(lambda: updates.dialogs(app.env, updates.OUTCOME_TITLE), timeout=30,
                               what="the updater's message")
        updates.press_return_in(app.env, outcome[0])
        e2e.wait_for(lambda: not updates.dialogs(app.env, updates.OUTCOME_TITLE), what="the message closed")

    # --- the installed-build watch ---

    def check_relaunch_of_a_replaced_build(self, *arguments):
        self.copy_running_bundle()
        app = self.start_copy(*arguments)
        if arguments:
            time.sleep(1.0)
            self.assertEqual(app.windows(), [], "a background launch shows no window")
        else:
            e2e.wait_for(app.windows, what="the window of the running copy")
        updates.change_info(self.bundle, CFBundleVersion="101")
        status, ended, new_pid = self.wait_for_hand_over(app, timeout=20)
        self.assertEqual(status, 0, "the old copy quits, it does not merely hide")
        # Two ticks two seconds apart see the new build; a little more for a loaded machine.
        self.assertLess(ended, 6.5)
        self.assert_runs_from_the_copy_with_its_window(new_pid, app.env)

    def test_a_newer_build_put_over_the_running_copy_is_relaunched(self):
        self.check_relaunch_of_a_replaced_build()

    def test_a_copy_running_in_the_background_comes_back_with_its_window(self):
        self.check_relaunch_of_a_replaced_build("--background")

    # --- the updater ---

    def test_a_signed_update_is_installed_and_the_new_build_runs(self):
        self.copy_running_bundle()
        self.publish(self.newer_archive())
        app = self.start_copy()
        e2e.wait_for(app.windows, what="the window of the running copy")
        self.service.control("requests/clear", {})
        self.install_and_run_build_101(app)
        # The staging folder and the old copy are gone, at the latest once the new build started.
        e2e.wait_for(lambda: os.listdir(self.apps_dir) == ["Velmora.app"], what="nothing left beside the bundle")
        self.assertTrue(self.requested(e2e.PUBLIC_HOST, "/mises-a-jour/linux.json"))
        self.assertTrue(self.requested(e2e.PUBLIC_HOST, "/mises-a-jour/Velmora-101.tar.gz"))

    def test_a_bad_update_leaves_the_old_build_running_and_intact(self):
        self.copy_running_bundle()
        before = updates.tree_digest(self.bundle)
        good = self.newer_archive()
        tampered = bytearray(good)
        tampered[len(tampered) // 2] ^= 0x01
        truncated = good[:len(good) // 2]
        outside = os.path.join(self.home, "velmora-evil")
        cases = [
            ("a byte of the archive changed on the way", lambda: self.publish(good, served=bytes(tampered))),
            ("a byte more than announced", lambda: self.publish(good, served=good + b"\0")),
            ("an entry that climbs out of the folder",
             lambda: self.publish(self.newer_archive(extra=[("../../velmora-evil", b"x")]))),
            ("an archive cut off, though signed as it is", lambda: self.publish(truncated)),
        ]
        app = self.start_copy()
        e2e.wait_for(app.windows, what="the window of the running copy")
        for behaviour, publish in cases:
            with self.subTest(behaviour):
                publish()
                app.activate("checkForUpdates")
                self.accept_offer(app)
                self.dismiss_outcome(app)
                self.assertTrue(app.alive())
                self.assertEqual(updates.bus_owner_pid(app.env), app.process.pid)
                self.assertEqual(updates.tree_digest(self.bundle), before)
                self.assertEqual(os.listdir(self.apps_dir), ["Velmora.app"])
                self.assertFalse(os.path.exists(outside))
        self.assertEqual(len(e2e.visible_window_ids(app.env)), 1)

    def test_an_offer_not_exactly_as_signed_by_the_bundles_key_is_never_offered(self):
        """Whatever is changed on the way fails the check itself: nothing is offered and the
        archive is never asked for. The copies check at launch, where a failure shows nothing
        and writes its reason to the log."""
        self.copy_running_bundle(SUEnableAutomaticChecks=True)
        before = updates.tree_digest(self.bundle)
        archive = self.newer_archive()
        other = updates.Signer(self.keys_dir, name="autre-cle")
        feed = updates.UPDATE_BASE + updates.FEED_NAME
        relay = "http://%s/mises-a-jour/relais.json" % e2e.PUBLIC_HOST
        # A redirect that a failed case left unused would lead the next tests astray.
        self.addCleanup(self.service.control, "reset", {})
        cases = [
            ("signed with another key", lambda: self.publish(archive, signer=other), updates.NOT_SIGNED),
            ("the notes changed after signing",
             lambda: self.publish(archive, alter=lambda text: updates.altered_feed(
                 text, notes="Mise à jour urgente : installez-la tout de suite.")), updates.NOT_SIGNED),
            ("the build changed after signing",
             lambda: self.publish(archive, alter=lambda text: updates.altered_feed(text, build="999")),
             updates.NOT_SIGNED),
            ("the archive's address changed after signing",
             lambda: self.publish(archive, alter=lambda text: updates.altered_feed(
                 text, archive=updates.UPDATE_BASE + "Autre.tar.gz")), updates.NOT_SIGNED),
            ("the signature left out",
             lambda: self.publish(archive, alter=lambda text: updates.altered_feed(text, signature=False)),
             updates.NOT_SIGNED),
            # The feed as signed, but reached over plain HTTP on the way, or in the end.
            ("a redirect through plain HTTP and back",
             lambda: (self.publish(archive), self.redirect("/mises-a-jour/linux.json", relay),
                      self.redirect("/mises-a-jour/relais.json", feed)), updates.NOT_HTTPS),
            ("a redirect to plain HTTP",
             lambda: (self.publish(archive), self.redirect("/mises-a-jour/linux.json", feed.replace("https:", "http:"))),
             updates.NOT_HTTPS),
        ]
        for behaviour, publish, reason in cases:
            with self.subTest(behaviour):
                self.service.control("requests/clear", {})
                publish()
                logged = len(self.log_lines(updates.LOG_CHECK_FAILED))
                for_reason = len(self.log_lines(updates.LOG_CHECK_FAILED + reason))
                app = self.start_copy()
                e2e.wait_for(lambda: len(self.log_lines(updates.LOG_CHECK_FAILED)) > logged, what="the failed check")
                e2e.wait_for(app.windows, what="the window of the running copy")
                time.sleep(1.0)
                self.assertEqual(len(self.log_lines(updates.LOG_CHECK_FAILED)), logged + 1)
                self.assertEqual(len(self.log_lines(updates.LOG_CHECK_FAILED + reason)), for_reason + 1)
                self.assertEqual(updates.dialogs(app.env, updates.OFFER_TITLE), [])
                self.assertEqual(updates.dialogs(app.env, updates.OUTCOME_TITLE), [])
                self.assertEqual(self.requested(e2e.PUBLIC_HOST, "/mises-a-jour/Velmora-101.tar.gz"), [])
                if behaviour == "a redirect through plain HTTP and back":
                    self.assertTrue(self.requested(e2e.PUBLIC_HOST, "/mises-a-jour/relais.json"), "the hop was taken")
                self.assertEqual(app.stop(), 0)
                self.assertEqual(updates.tree_digest(self.bundle), before)

    def test_a_download_can_be_cancelled_and_changes_nothing(self):
        self.copy_running_bundle()
        before = updates.tree_digest(self.bundle)
        archive = self.newer_archive()
        self.publish(archive)
        app = self.start_copy()
        e2e.wait_for(app.windows, what="the window of the running copy")
        # As over a slow line: the whole archive would take about a minute.
        self.service.control("update-pace", {"bytes_per_second": max(1, len(archive) // 60)})
        try:
            for behaviour, cancel in [("Annuler", lambda window: updates.press_return_in(app.env, window)),
                                      ("the dialog closed", lambda window: e2e.close_window(app.env, window))]:
                with self.subTest(behaviour):
                    answers = len(self.paced_archive_answers())
                    app.activate("checkForUpdates")
                    offer = self.accept_offer(app)
                    download = e2e.wait_for(
                        lambda: [w for w in updates.dialogs(app.env, updates.OFFER_TITLE) if w != offer],
                        what="the download's dialog")
                    e2e.wait_for(lambda: self.paced_archive_answers()[answers:] and
                                 self.paced_archive_answers()[answers]["written"] > 0, what="the download under way")
                    cancel(download[0])
                    e2e.wait_for(lambda: not updates.dialogs(app.env, updates.OFFER_TITLE), what="the dialog closed")
                    # The download stops: the service sees the answer given up part-way.
                    e2e.wait_for(lambda: self.paced_archive_answers()[answers]["ended"], what="the download stopped")
                    self.assertFalse(self.paced_archive_answers()[answers]["complete"])
                    time.sleep(1.0)
                    self.assertEqual(updates.dialogs(app.env, updates.OUTCOME_TITLE), [], "no error is shown")
                    self.assertTrue(app.alive())
                    self.assertEqual(updates.tree_digest(self.bundle), before)
                    self.assertEqual(os.listdir(self.apps_dir), ["Velmora.app"])
        finally:
            self.service.control("update-pace", {"bytes_per_second": 0})
        # Back to idle: a later check offers the update again, and it installs.
        self.install_and_run_build_101(app)

    def test_a_crash_at_any_step_of_the_swap_leaves_a_whole_bundle_that_launches(self):
        """The installation stops dead after each step in turn. The bundle's place always holds
        one whole build, the old one until the exchange and the new one from then on; the next
        launch (by the helper once it has been started, else by the user) runs that build and
        leaves nothing beside it."""
        old_digest = updates.tree_digest(self.copy_running_bundle())
        archive, new_digest = self.newer_archive_and_digest()
        archive_path = os.path.join(self.home, "Velmora-101.tar.gz")
        with open(archive_path, "wb") as out:
            out.write(archive)
        env = self.environment.env(self.home)
        for step, whole, started_by_helper in [("unpacked", old_digest, False), ("flushed", old_digest, False),
                                               ("exchanged", new_digest, False),
                                               ("helper-started", new_digest, True)]:
            with self.subTest(step):
                if updates.tree_digest(self.bundle) != old_digest:
                    shutil.rmtree(self.bundle)
                    self.copy_running_bundle()
                # Not through a pipe: the helper and the build it starts would hold it open.
                with open(os.path.join(self.home, "swap.log"), "w+") as log:
                    crash = subprocess.run([updates.SWAP_CRASH, self.bundle, archive_path, step], env=env,
                                           stdout=log, stderr=log, timeout=60)
                    log.seek(0)
                    self.assertEqual(crash.returncode, -signal.SIGKILL, log.read())
                self.assertEqual(updates.tree_digest(self.bundle), whole)
                if started_by_helper:
                    pid = e2e.wait_for(lambda: updates.bus_owner_pid(env), timeout=30, what="the helper's launch")
                    self.relaunched.append(pid)
                else:
                    pid = self.start_copy().process.pid
                self.assertEqual(updates.executable_of(pid),
                                 os.path.join(self.bundle, "Contents", "MacOS", "Velmora"))
                e2e.wait_for(lambda: os.listdir(self.apps_dir) == ["Velmora.app"], what="nothing left beside it")
                self.assertEqual(updates.tree_digest(self.bundle), whole)
                for app in self.apps:
                    app.stop()
                for relaunched in self.relaunched:
                    updates.stop_pid(relaunched)
                e2e.wait_for(lambda: updates.bus_owner_pid(env) is None, what="the copy gone from the bus")

    def install_a_build_with(self, programs):
        """Installs, through the offer, a newer build whose `programs` are replaced; the running
        copy and the digest of its bundle before."""
        self.copy_running_bundle()
        before = updates.tree_digest(self.bundle)
        self.publish(self.newer_archive(programs=programs))
        app = self.start_copy()
        e2e.wait_for(app.windows, what="the window of the running copy")
        app.activate("checkForUpdates")
        self.accept_offer(app)
        return app, before

    def test_a_new_build_that_cannot_start_gives_way_to_the_old_one(self):
        app, before = self.install_a_build_with({"Velmora": "#!/bin/sh\nexit 1\n"})
        status, _, old_again = self.wait_for_hand_over(app, timeout=60)
        self.assertEqual(status, 0)
        self.assertEqual(updates.tree_digest(self.bundle), before)
        self.assert_runs_from_the_copy_with_its_window(old_again, app.env)
        e2e.wait_for(lambda: os.listdir(self.apps_dir) == ["Velmora.app"], what="the broken build removed")

    def test_a_failed_installation_leaves_quitting_and_the_watch_as_they_were(self):
        # The new build's relaunch helper names an interpreter that does not exist: it cannot be
        # started, so the installation is undone after the exchange.
        app, before = self.install_a_build_with({"VelmoraRelaunch": "#!/nonexistent/sh\n"})
        self.dismiss_outcome(app)
        self.assertEqual(updates.tree_digest(self.bundle), before)
        self.assertEqual(os.listdir(self.apps_dir), ["Velmora.app"])

        # An ordinary quit hides the window again and keeps the process.
        self.assertEqual(app.activate("terminate").returncode, 0)
        e2e.wait_for(lambda: not app.windows(), what="the window hidden")
        time.sleep(1.0)
        self.assertTrue(app.alive())
        # The installed-build watch runs again.
        updates.change_info(self.bundle, CFBundleVersion="102")
        status, _, new_pid = self.wait_for_hand_over(app, timeout=20)
        self.assertEqual(status, 0)
        self.assert_runs_from_the_copy_with_its_window(new_pid, app.env)

    def test_checks_that_find_nothing_to_install_say_so_and_change_nothing(self):
        self.copy_running_bundle()
        before = updates.tree_digest(self.bundle)
        app = self.start_copy()
        e2e.wait_for(app.windows, what="the window of the running copy")
        # No feed on the service at all; the service not answering; a feed of the running build.
        app.activate("checkForUpdates")
        self.dismiss_outcome(app)
        self.service.control("refuse", {"seconds": 60, "mode": "drop"})
        try:
            app.activate("checkForUpdates")
            self.dismiss_outcome(app)
        finally:
            self.service.control("refuse", {"seconds": 0, "mode": "drop"})
        self.publish(self.newer_archive(build="100"), build="100")
        app.activate("checkForUpdates")
        self.dismiss_outcome(app)
        self.assertEqual(updates.dialogs(app.env, updates.OFFER_TITLE), [])
        self.assertTrue(app.alive())
        self.assertEqual(updates.tree_digest(self.bundle), before)
        self.assertEqual(self.log_lines(updates.LOG_CHECK_FAILED), [], "checks the user asked for answer in a dialog")

    def test_the_check_at_launch_is_silent_unless_it_finds_an_update(self):
        self.copy_running_bundle(SUEnableAutomaticChecks=True)
        self.service.control("requests/clear", {})
        app = self.start_copy()
        e2e.wait_for(lambda: self.requested(e2e.PUBLIC_HOST, "/mises-a-jour/linux.json"), what="the launch check")
        e2e.wait_for(app.windows, what="the window of the running copy")
        time.sleep(1.0)
        self.assertEqual(updates.dialogs(app.env, updates.OUTCOME_TITLE), [], "a failed launch check stays silent")
        self.assertEqual(app.stop(), 0)
        # It leaves one line in the log, with the reason.
        self.assertEqual([line.split(updates.LOG_CHECK_FAILED)[1] for line in self.log_lines(updates.LOG_CHECK_FAILED)],
                         ["le serveur des mises à jour a répondu par l’erreur 404.\n"])

        self.publish(self.newer_archive())
        again = self.start_copy()
        offer = e2e.wait_for(lambda: updates.dialogs(again.env, updates.OFFER_TITLE), what="the offer at launch")
        # "Plus tard", or closing the offer, installs nothing.
        e2e.type_keys(again.env, offer[0], keys=["Escape"])
        e2e.wait_for(lambda: not updates.dialogs(again.env, updates.OFFER_TITLE), what="the offer closed")
        time.sleep(1.0)
        self.assertTrue(again.alive())
        self.assertEqual(updates.read_info(self.bundle)["CFBundleVersion"], "100")
        self.assertEqual(os.listdir(self.apps_dir), ["Velmora.app"])


if __name__ == "__main__":
    e2e.main()
