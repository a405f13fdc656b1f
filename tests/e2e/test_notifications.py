"""Native notifications end to end: inbox entries of the stand-in service become notifications
on a notification server of the test's own, go away when read, open their page when clicked,
and are announced once only, also across a restart."""

import os
import re
import time

import notifications_e2e
import velmora_e2e as e2e

HOST = e2e.INSTANCE_HOST
STATUS_ACTIVE = "Notifications synchronisées : actives"
STATUS_CHECK = "Notifications : autorisation à vérifier"
CHIME = os.path.join(e2e.BUNDLE, "Contents", "Resources", "carillon-doux.wav")


def status(app):
    """The title of the notification status item in the application menu."""
    found = re.search(r"'label': <'(Notifications[^']*)'>", app.menu_items())
    return found.group(1) if found else None


class Notifications(e2e.EndToEndTest):
    loopback = "127.0.0.13"

    def setUp(self):
        super().setUp()
        self.service.control("reset", {})

    def start_server(self, capabilities="actions,body,sound,persistence"):
        server = notifications_e2e.NotificationServer(self.environment, capabilities)
        self.addCleanup(server.stop)
        return server

    def wait_until_loaded(self, host):
        e2e.wait_for(lambda: self.service.control("beacons?host=%s&name=load" % host)["beacons"],
                     what="the page of %s loaded" % host)

    def sign_in(self, app):
        window = e2e.wait_for(app.windows, what="a visible window")[0]
        self.wait_until_loaded(e2e.PUBLIC_HOST)
        time.sleep(1.0)  # the field's autofocus after the load event
        e2e.fill_form(app.env, window, ["admin@%s" % HOST, "demo", HOST])
        e2e.wait_for(lambda: self.requested(HOST, "/admin"), what="the console after signing in")

    def wait_for_status(self, app, title):
        e2e.wait_for(lambda: status(app) == title, what="the status %r" % title)

    def add_entry(self, **members):
        self.service.control("inbox/add", dict(members, host=HOST))

    def announce(self, app, server, title, **entry):
        """Adds an entry on the service and has the console poll the inbox, as it does after
        every load; returns the notification the entry became."""
        self.add_entry(title=title, **entry)
        app.activate("reload")
        return server.wait_for_notification(what="the notification %r" % title, summary=title)

    def ledger(self):
        """What the application keeps of the notifications it has shown."""
        try:
            with open(os.path.join(self.home, "state", "fr.velmora.universal", "notifications")) as ledger:
                return ledger.read()
        except FileNotFoundError:
            return ""

    def console_requests(self, notice_id):
        return [r for r in self.requested(HOST, "/admin")
                if r.get("query") == "notification=notice&noticeId=" + notice_id]

    def test_inbox_entries_come_and_go_as_notifications(self):
        server = self.start_server()
        # Too old to be announced on the first poll, like the seeded entries.
        self.add_entry(id="notice:ancien", title="Avis ancien", created_ago=600)
        app = self.start_app()
        self.sign_in(app)
        self.wait_for_status(app, STATUS_ACTIVE)

        first = self.announce(app, server, "Nouvelle réservation", id="notice:501", body="Marie Curie — samedi 10 h")
        # Posts go out one at a time, so anything the first poll posted came before this one.
        self.assertEqual([n["summary"] for n in server.notifications()], ["Nouvelle réservation"])
        self.assertEqual(first["app_name"], "Velmóra")
        self.assertEqual(first["app_icon"], "fr.velmora.universal")
        self.assertEqual(first["body"], "Marie Curie — samedi 10 h")
        self.assertEqual(first["replaces_id"], 0)
        self.assertEqual(first["actions"], ["default", "Ouvrir"])
        self.assertEqual(first["expire_timeout"], -1)
        self.assertEqual(first["hints"]["desktop-entry"], "fr.velmora.universal")
        self.assertEqual(os.path.realpath(first["hints"]["sound-file"]), os.path.realpath(CHIME))
        self.assertTrue(os.path.isfile(first["hints"]["sound-file"]))
        # The user info stays with the application, in its record of what it has shown, written
        # once the server's answer is in.
        url = "https://%s/admin?notification=notice&noticeId=notice%%3A501" % HOST
        e2e.wait_for(lambda: url in self.ledger(), what="the notification's url in the ledger")

        # Read in the console of another device: gone at the next poll.
        self.service.control("inbox/read", {"host": HOST, "id": "notice:501"})
        app.activate("reload")
        e2e.wait_for(lambda: [c for c in server.events("CloseNotification") if c["id"] == first["id"]],
                     what="the read entry's notification closed")
        e2e.wait_for(lambda: first["id"] not in server.shown(), what="the read entry's notification gone")

        # Quitting only hides the window; the inbox is still watched.
        app.activate("terminate")
        e2e.wait_for(lambda: app.windows() == [], what="the window hidden")
        hidden = self.announce(app, server, "Avis en arrière-plan", id="notice:502")
        self.assertEqual(app.windows(), [])
        self.assertTrue(hidden["hints"]["sound-file"])

        # A click brings the window back with the entry's page.
        server.click(hidden["id"])
        e2e.wait_for(app.windows, what="the window shown by the click")
        e2e.wait_for(lambda: self.console_requests("notice%3A502"), what="the entry's page opened")

        # An open payment request stays, and a click brings it back a second later, silent.
        payable = self.announce(app, server, "Paiement en attente", id="payable:77", kind="payable",
                                body="Acompte de 20,00 €")
        self.assertEqual(payable["expire_timeout"], 0)
        self.assertEqual(payable["hints"]["resident"], True)
        self.assertNotIn("urgency", payable["hints"])
        server.click(payable["id"])
        again = server.wait_for_notification(what="the payment request posted again", replaces_id=payable["id"])
        click = [c for c in server.events("Click") if c["id"] == payable["id"]][-1]
        self.assertGreaterEqual(again["time"] - click["time"], 0.9)
        self.assertEqual(again["id"], payable["id"])
        self.assertEqual(again["hints"].get("suppress-sound"), True)
        self.assertNotIn("sound-file", again["hints"])
        self.assertIn(payable["id"], server.shown())
        e2e.wait_for(lambda: self.console_requests("payable%3A77"), what="the payment request's page opened")

        # After a restart nothing is announced again: not the entries seen, not the payment
        # request the server still shows, which the new run takes over, silently, in place.
        self.assertEqual(app.stop(), 0)
        before = len(server.notifications())
        again = self.start_app()
        self.wait_for_status(again, STATUS_ACTIVE)
        self.announce(again, server, "Après le redémarrage", id="notice:503")
        after = server.notifications()[before:]
        self.assertEqual([n["summary"] for n in after], ["Paiement en attente", "Après le redémarrage"])
        self.assertEqual((after[0]["replaces_id"], after[0]["id"]), (payable["id"], payable["id"]))
        self.assertEqual(after[0]["hints"].get("suppress-sound"), True)
        self.assertNotIn("sound-file", after[0]["hints"])
        self.assertNotIn("Avis ancien", [n["summary"] for n in server.notifications()])

    def test_a_server_that_cannot_play_sounds_gets_a_silent_test_notification(self):
        server = self.start_server("actions,body")
        app = self.start_app()
        e2e.wait_for(app.windows, what="a visible window")
        self.wait_until_loaded(e2e.PUBLIC_HOST)
        app.activate("testNativeNotice")
        notice = server.wait_for_notification(what="the test notification", summary="Essai Velmóra")
        self.assertEqual(notice["body"], "Les notifications sont assurées par Velmóra sur cet ordinateur.")
        # The chime is played by the application itself, so the server must add none.
        self.assertEqual(notice["hints"].get("suppress-sound"), True)
        self.assertNotIn("sound-file", notice["hints"])
        time.sleep(1.0)  # the chime's playback, whether or not there is an audio output
        self.assertTrue(app.alive())
        self.assertNotEqual(status(app), STATUS_CHECK)

    def test_without_a_notification_server_the_status_asks_to_check(self):
        app = self.start_app()
        e2e.wait_for(app.windows, what="a visible window")
        self.wait_until_loaded(e2e.PUBLIC_HOST)
        app.activate("testNativeNotice")
        self.wait_for_status(app, STATUS_CHECK)
        self.assertTrue(app.alive())


if __name__ == "__main__":
    e2e.main()
