"""What a user does with Velmóra's notifications and window on a real desktop, written once for
every desktop of desktops_e2e: a test file picks the desktop, and leaves out what its
notification server does not allow."""

import re
import time

import dialogs_e2e as dialogs
import velmora_e2e as e2e

HOST = e2e.INSTANCE_HOST
WINDOW = "Velmóra"
STATUS_ACTIVE = "Notifications synchronisées : actives"


def status(app):
    """The title of the notification status item in the application menu."""
    found = re.search(r"'label': <'(Notifications[^']*)'>", app.menu_items())
    return found.group(1) if found else None


class Scenarios(e2e.EndToEndTest):
    """The scenarios; a subclass sets `desktop` to a class of desktops_e2e."""

    desktop = None

    @classmethod
    def setUpClass(cls):
        cls.environment = cls.desktop(cls.loopback)
        cls.service = e2e.Service(cls.environment)

    def setUp(self):
        super().setUp()
        # The desktop's own user, whose application is new at every test.
        self.home = self.environment.user_home()
        self.environment.forget_application()
        self.service.control("reset", {})
        self.environment.clear()

    # Helpers.
    def start_signed_in(self, *arguments, again=False):
        """Velmóra for a user who signed in before, on the console, its first poll done; `again`
        for the user's next start, whose session and settings are there already."""
        if not again:
            dialogs.seed_returning_user(self.home)
            self.service.control("redirect", {"host": HOST, "path": "/admin",
                                              "location": dialogs.sign_in_link(self.service)})
        since = dialogs.now_ms()
        app = self.start_app(*arguments)
        e2e.wait_for(lambda: dialogs.beacons(self.service, HOST, "load", since), what="the console")
        e2e.wait_for(lambda: status(app) == STATUS_ACTIVE, what="the first poll")
        return app

    def shown(self, title):
        return [n for n in self.environment.shown() if n["title"] == title]

    def wait_shown(self, title, what=None):
        return e2e.wait_for(lambda: self.shown(title), what=what or "%r on screen" % title)[0]

    def wait_gone(self, title, what=None):
        e2e.wait_for(lambda: not self.shown(title), what=what or "%r off the screen" % title)

    def announce(self, app, title, **entry):
        """Adds an inbox entry and has the console poll, as after every load; returns the
        notification the server shows for it."""
        self.service.control("inbox/add", dict(entry, host=HOST, title=title))
        app.activate("reload")
        return self.wait_shown(title)

    def entry_page_requests(self, entry_id):
        query = "notification=notice&noticeId=" + entry_id.replace(":", "%3A")
        return [r for r in self.requested(HOST, "/admin") if r.get("query") == query]

    def assert_window_back_with_the_keyboard(self):
        e2e.wait_for(lambda: WINDOW in self.environment.windows(), what="the window on screen")
        e2e.wait_for(lambda: self.environment.focused() == WINDOW, what="the window with the keyboard")

    # Scenarios.
    def test_a_fresh_entry_is_shown_and_rings_once(self):
        app = self.start_signed_in("--background")
        recording = self.environment.audio.record()
        shown = self.announce(app, "Nouvelle réservation", id="notice:601", body="Marie Curie — samedi 10 h")
        self.assertEqual(shown["body"], "Marie Curie — samedi 10 h")
        self.assertEqual(recording.stop(), 1, "one chime, by the server or by Velmóra")

    def test_a_click_brings_the_window_back_with_the_keyboard_and_the_entrys_page(self):
        app = self.start_signed_in("--background")
        self.assertEqual(self.environment.windows(), [])
        self.announce(app, "Avis à ouvrir", id="notice:602")
        self.environment.click("Avis à ouvrir")
        self.assert_window_back_with_the_keyboard()
        e2e.wait_for(lambda: self.entry_page_requests("notice:602"), what="the entry's page")

    def test_a_payment_request_stays_on_screen_and_comes_back_silently(self):
        app = self.start_signed_in("--background")
        recording = self.environment.audio.record()
        self.announce(app, "Paiement en attente", id="payable:603", kind="payable", body="Acompte de 20,00 €")
        # A click opens it and leaves it on screen (or brings it back a second later).
        self.environment.click("Paiement en attente")
        e2e.wait_for(lambda: self.entry_page_requests("payable:603"), what="the payment request's page")
        time.sleep(1.5)
        self.wait_shown("Paiement en attente", what="the payment request still on screen")
        # Closed by the user, it is announced again at the next poll.
        self.environment.dismiss("Paiement en attente")
        self.wait_gone("Paiement en attente")
        app.activate("reload")
        self.wait_shown("Paiement en attente", what="the payment request back")
        self.assertEqual(recording.stop(), 1, "the chime only when it first came")

    def test_an_entry_read_elsewhere_is_withdrawn(self):
        app = self.start_signed_in("--background")
        self.announce(app, "Avis lu ailleurs", id="notice:604")
        self.service.control("inbox/read", {"host": HOST, "id": "notice:604"})
        app.activate("reload")
        self.wait_gone("Avis lu ailleurs", what="the read entry withdrawn")

    def test_the_window_hides_when_closed_and_comes_back_when_opened_again(self):
        app = self.start_signed_in()
        self.assert_window_back_with_the_keyboard()
        self.environment.close_window(WINDOW)
        e2e.wait_for(lambda: WINDOW not in self.environment.windows(), what="the window hidden")
        time.sleep(0.5)
        self.assertTrue(app.alive())
        second = e2e.App(self.environment, self.home)
        self.assertEqual(second.process.wait(timeout=20), 0, "the second launch hands over and ends")
        self.assert_window_back_with_the_keyboard()
        self.assertTrue(app.alive())

    def test_the_test_notification_appears_and_rings_once(self):
        app = self.start_signed_in("--background")
        recording = self.environment.audio.record()
        app.activate("testNativeNotice")
        shown = self.wait_shown("Essai Velmóra")
        self.assertEqual(shown["body"], "Les notifications sont assurées par Velmóra sur cet ordinateur.")
        self.assertEqual(recording.stop(), 1)

    def test_notifications_of_an_earlier_run_keep_working_after_a_restart(self):
        app = self.start_signed_in("--background")
        self.announce(app, "Paiement d’avant", id="payable:606", kind="payable")
        self.announce(app, "Avis d’avant", id="notice:605")
        self.environment.settle()
        self.assertEqual(app.stop(), 0)
        recording = self.environment.audio.record()
        again = self.start_signed_in("--background", again=True)
        # Still on screen, and heard by the new run: a click opens its page, a close is noticed.
        self.wait_shown("Avis d’avant")
        self.environment.click("Avis d’avant")
        self.assert_window_back_with_the_keyboard()
        e2e.wait_for(lambda: self.entry_page_requests("notice:605"), what="the earlier entry's page")
        self.environment.dismiss("Paiement d’avant")
        self.wait_gone("Paiement d’avant")
        again.activate("reload")
        self.wait_shown("Paiement d’avant", what="the earlier payment request back")
        self.assertEqual(recording.stop(), 0, "nothing rings again after a restart")
