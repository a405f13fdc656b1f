"""The page bridge, the navigation policy and the connection retry, end to end."""

import os
import plistlib
import stat
import time

import dialogs_e2e as dialogs
import notifications_e2e
import velmora_e2e as e2e

PROBE = "/test/bridge-probe.html"
STATUS_RETRYING = "Connexion en cours — nouvelle tentative automatique"
LOG_UNAVAILABLE = "Velmóra: connexion temporairement indisponible: "


class Bridge(e2e.EndToEndTest):
    loopback = "127.0.0.12"

    def setUp(self):
        super().setUp()
        for log in ("requests", "beacons", "reports"):
            self.service.control(log + "/clear", {})

    # What the pages report to the service.
    def reports(self, **match):
        found = []
        for record in self.service.control("reports")["reports"]:
            report = record.get("report", {})
            if all(report.get(key) == value for key, value in match.items()):
                found.append(report)
        return found

    def wait_for_reports(self, count, **match):
        return e2e.wait_for(lambda: len(self.reports(**match)) >= count and self.reports(**match),
                            what="%d reports %r" % (count, match))

    def defaults_text(self):
        path = os.path.join(self.home, "config", "fr.velmora.universal", "defaults.ini")
        if not os.path.exists(path):
            return ""
        with open(path, encoding="utf-8") as text:
            return text.read()

    def signed_in(self):
        """Velmora showing the console of the instance after signing in through the page."""
        app = self.start_app()
        window = e2e.wait_for(app.windows, what="the window")[0]
        e2e.wait_for(lambda: self.service.control("beacons?host=%s&name=load" % e2e.PUBLIC_HOST)["beacons"],
                     what="the sign-in page")
        time.sleep(1.0)
        e2e.fill_form(app.env, window, ["admin@salon.velmora.fr", "demo", "salon.velmora.fr"])
        e2e.wait_for(lambda: self.service.control("beacons?host=%s&name=load" % e2e.INSTANCE_HOST)["beacons"],
                     what="the console")
        return app, window

    def open_via(self, app, action, host, path, location):
        """Takes the application to `location` the way a link would: the next request for
        `path` on `host` redirects there, and the menu action makes that request."""
        self.service.control("redirect", {"host": host, "path": path, "location": location})
        app.activate(action)

    def test_desktop_object_is_frozen_carries_the_build_and_is_absent_in_frames(self):
        app, _ = self.signed_in()
        self.open_via(app, "reload", e2e.INSTANCE_HOST, "/admin", PROBE + "?post=none")
        top = self.wait_for_reports(1, page="bridge-probe", frame="top")[0]
        subs = self.wait_for_reports(2, page="bridge-probe", frame="sub")
        with open(os.path.join(e2e.BUNDLE, "Contents", "Info.plist"), "rb") as info:
            plist = plistlib.load(info)
        desktop = top["desktop"]
        self.assertTrue(desktop["present"])
        self.assertEqual(desktop["value"],
                         '{"build":"%s","version":"%s"}' % (plist["CFBundleVersion"],
                                                           plist["CFBundleShortVersionString"]))
        self.assertTrue(desktop["frozen"])
        self.assertFalse(desktop["descriptor"]["writable"])
        self.assertFalse(desktop["descriptor"]["configurable"])
        self.assertTrue(desktop["unchanged"], desktop["attempts"])
        self.assertTrue(top["printHooked"])
        for sub in subs:
            self.assertFalse(sub["desktop"]["present"], sub)
            self.assertFalse(sub["printHooked"], sub)
            # Every frame has the handlers: the application tells frames apart, not the page.
            self.assertTrue(all(state == "présent" for state in sub["handlers"].values()), sub)

    def test_only_the_main_frame_of_the_public_site_admits_hosts(self):
        app, _ = self.signed_in()
        # Frames of the public site and of an allowed instance post; the top document does not.
        self.open_via(app, "changeSpace", e2e.PUBLIC_HOST, "/connexion.html",
                      PROBE + "?top=none&post=velmoraInstance&instance=https://cadre.velmora.fr"
                      "&cross=https://salon.velmora.fr")
        self.wait_for_reports(2, page="bridge-probe", frame="sub")
        # An allowed customer instance's own page cannot add hosts either.
        self.open_via(app, "reload", e2e.PUBLIC_HOST, "/test/bridge-probe.html",
                      "https://salon.velmora.fr" + PROBE + "?post=velmoraInstance&instance=https://client.velmora.fr"
                      "&frames=0")
        e2e.wait_for(lambda: self.reports(page="bridge-probe", frame="top", host=e2e.INSTANCE_HOST),
                     what="the probe on the instance")
        # The public site's main frame does.
        self.open_via(app, "changeSpace", e2e.PUBLIC_HOST, "/connexion.html",
                      PROBE + "?post=velmoraInstance&instance=https://principal.velmora.fr&frames=0")
        e2e.wait_for(lambda: "principal.velmora.fr" in self.defaults_text(), what="the admitted host stored")
        self.assertIn("salon.velmora.fr", self.defaults_text())
        self.assertNotIn("cadre.velmora.fr", self.defaults_text())
        self.assertNotIn("client.velmora.fr", self.defaults_text())

    def test_console_messages_count_only_from_the_main_frame_of_an_allowed_host(self):
        app, _ = self.signed_in()
        # Frames on the allowed instance and on another instance ask to print: ignored.
        self.open_via(app, "reload", e2e.INSTANCE_HOST, "/admin",
                      PROBE + "?top=none&post=velmoraPrint&cross=https://cabinet.velmora.fr")
        self.wait_for_reports(2, page="bridge-probe", frame="sub")
        # A top-level page on an instance that is not allowed asks to print: ignored.
        self.open_via(app, "reload", e2e.INSTANCE_HOST, PROBE,
                      "https://cabinet.velmora.fr" + PROBE + "?post=velmoraPrint&frames=0")
        e2e.wait_for(lambda: self.reports(page="bridge-probe", frame="top", host="cabinet.velmora.fr"),
                     what="the probe on the other instance")
        time.sleep(1.5)
        self.assertEqual(dialogs.dialog_windows(app), [])
        self.assertEqual(self.reports(event="afterprint"), [])
        # The allowed console's main frame is heard: the print dialog, and "afterprint" in the
        # page once it is closed.
        self.open_via(app, "reload", "cabinet.velmora.fr", PROBE,
                      "https://salon.velmora.fr" + PROBE + "?post=velmoraPrint&frames=0")
        dialog = dialogs.wait_for_dialog(app, what="the print dialog")
        dialogs.answer(app, dialog, keys=["Escape"])
        e2e.wait_for(lambda: self.reports(event="afterprint", host=e2e.INSTANCE_HOST), what="afterprint")

    def test_a_message_larger_than_its_handler_takes_is_dropped_unread(self):
        app, _ = self.signed_in()
        # An update request's body is never read, and the check shows its outcome in a dialog.
        for pad, heard in ((2 * 1024 * 1024, False), (1000, True)):
            with self.subTest(pad=pad):
                tops = len(self.reports(page="bridge-probe", frame="top"))
                self.open_via(app, "changeSpace", e2e.PUBLIC_HOST, "/connexion.html",
                              "https://%s%s?post=velmoraUpdate&frames=0&pad=%d" % (e2e.INSTANCE_HOST, PROBE, pad))
                self.wait_for_reports(tops + 1, page="bridge-probe", frame="top")
                if heard:
                    dialog = dialogs.wait_for_dialog(app, what="the outcome of the update check")
                    dialogs.answer(app, dialog, keys=["Escape"])
                    dialogs.wait_for_no_dialog(app)
                else:
                    time.sleep(2.0)
                    self.assertEqual(dialogs.dialog_windows(app), [])

    def install_handlers(self, schemes):
        """Makes a program of the test's own the user's default for each URL scheme, in the
        user's own XDG folders, as a desktop would; returns the file where each scheme's program
        writes the URLs it was started with."""
        applications = os.path.join(self.home, "data", "applications")
        os.makedirs(applications)
        written = {}
        defaults = ["[Default Applications]"]
        for scheme in schemes:
            written[scheme] = os.path.join(self.home, "ouvert-%s.txt" % scheme)
            program = os.path.join(self.home, "ouvrir-%s.sh" % scheme)
            with open(program, "w") as out:
                out.write('#!/bin/sh\nprintf "%%s\\n" "$@" >> "%s"\n' % written[scheme])
            os.chmod(program, stat.S_IRWXU)
            with open(os.path.join(applications, "essai-%s.desktop" % scheme), "w") as out:
                out.write("[Desktop Entry]\nType=Application\nName=Essai %s\nExec=%s %%u\nNoDisplay=true\n"
                          "MimeType=x-scheme-handler/%s;\n" % (scheme, program, scheme))
            defaults.append("x-scheme-handler/%s=essai-%s.desktop" % (scheme, scheme))
        os.makedirs(os.path.join(self.home, "config"), exist_ok=True)
        with open(os.path.join(self.home, "config", "mimeapps.list"), "w") as out:
            out.write("\n".join(defaults) + "\n")
        return written

    @staticmethod
    def opened(path):
        if not os.path.exists(path):
            return []
        with open(path) as lines:
            return lines.read().split()

    def test_only_web_pages_mail_and_telephone_reach_the_desktops_programs(self):
        written = self.install_handlers(["https", "mailto", "velmora-essai"])
        app, window = self.signed_in()
        self.open_via(app, "reload", e2e.INSTANCE_HOST, "/admin", "/test/links.html")
        self.wait_for_reports(1, page="links", event="load")
        self.service.control("requests/clear", {})
        # The links in order: mailto, tel, the console in a new tab, another program's scheme
        # in a new tab, each reached with Tab from the one before.
        clicks = [("mailto", ["Tab", "Return"]), ("blank", ["Tab", "Tab", "Return"]), ("foreign", ["Tab", "Return"])]
        for link, keys in clicks:
            e2e.type_keys(app.env, window, None, keys)
            self.wait_for_reports(1, page="links", clicked=link)
        e2e.wait_for(lambda: self.opened(written["https"]), what="the console in the default browser")
        time.sleep(1.5)
        self.assertEqual(self.opened(written["mailto"]), ["mailto:contact@velmora.fr?subject=Rendez-vous"])
        self.assertEqual(self.opened(written["https"]), ["https://%s/admin" % e2e.INSTANCE_HOST])
        self.assertEqual(self.opened(written["velmora-essai"]), [])
        # Nothing was loaded in the application: the page stayed, and the console did not
        # open inside it.
        self.assertEqual([r for r in self.service.requests() if not r["path"].startswith("/control")
                          and r["path"] != "/favicon.ico"], [])
        self.assertEqual(len(self.reports(page="links", event="load")), 1)
        self.assertNotIn(STATUS_RETRYING, app.menu_items())
        self.assertTrue(app.alive())

    def test_a_page_over_plain_http_or_another_port_speaks_for_no_host(self):
        """Whoever answers a plain-HTTP load, or one on another port, under the service's names
        can serve any page: it must not be admitted, remembered, polled, printed or obeyed."""
        server = notifications_e2e.NotificationServer(self.environment)
        self.addCleanup(server.stop)
        self.service.control("reset", {})
        app, _ = self.signed_in()
        # A real notice on screen, which the impostor reports as read.
        self.service.control("inbox/add", {"host": e2e.INSTANCE_HOST, "id": "notice:reel", "title": "Avis réel"})
        app.activate("reload")
        real = server.wait_for_notification(what="the real notice", summary="Avis réel")
        remembered = e2e.wait_for(lambda: "salon.velmora.fr" in self.defaults_text() and self.defaults_text(),
                                  what="the console remembered")
        # The impostor's page is the console of the public site or of the instance, over plain
        # HTTP on the default port, or over HTTPS on another port.
        origins = [("http://%s" % host, host) for host in (e2e.PUBLIC_HOST, e2e.INSTANCE_HOST)]
        origins += [("https://%s:%d" % (host, e2e.OTHER_HTTPS_PORT), "%s:%d" % (host, e2e.OTHER_HTTPS_PORT))
                    for host in (e2e.PUBLIC_HOST, e2e.INSTANCE_HOST)]
        for (origin, shown), host in zip(origins, [e2e.PUBLIC_HOST, e2e.INSTANCE_HOST] * 2):
            with self.subTest(origin=origin):
                self.service.control("serve", {"host": host, "path": "/admin", "page": "imposteur.html"})
                self.open_via(app, "changeSpace", e2e.PUBLIC_HOST, "/connexion.html",
                              origin + "/admin?instance=https://pirate.example&ids=notice:reel")
                posted = self.wait_for_reports(1, page="imposteur", event="posted", host=shown)[0]
                self.assertEqual(len(posted["posted"]), 5, posted)
        time.sleep(2.0)
        self.assertEqual([r for r in self.reports(page="imposteur") if "api" in r], [], "the impostor was polled")
        self.assertEqual(self.defaults_text(), remembered)
        self.assertNotIn("pirate.example", self.defaults_text())
        self.assertEqual(server.notifications(summary="Avis de l’imposteur"), [])
        self.assertIn(real["id"], server.shown())
        self.assertEqual(dialogs.dialog_windows(app), [])
        self.assertTrue(app.alive())

    def test_a_page_cut_off_part_way_is_loaded_again(self):
        app, _ = self.signed_in()
        since = dialogs.now_ms()
        self.service.control("cut", {"host": e2e.INSTANCE_HOST, "path": "/admin"})
        app.activate("reload")
        e2e.wait_for(lambda: STATUS_RETRYING in app.menu_items(), what="the retry status in the menu")
        with open(os.path.join(self.home, "velmora.log"), errors="replace") as log:
            self.assertEqual(len([line for line in log if LOG_UNAVAILABLE in line]), 1)
        # The console comes back with the retry, 15 s later.
        e2e.wait_for(lambda: dialogs.beacons(self.service, e2e.INSTANCE_HOST, "load", since), timeout=40,
                     what="the console loaded again")


if __name__ == "__main__":
    e2e.main()
