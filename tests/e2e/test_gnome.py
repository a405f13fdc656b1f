"""Velmóra on GNOME Shell 43, headless on Wayland: the notifications are GNOME's own, clicked and
closed through the shell's code paths, and the window is the compositor's."""

import desktop_scenarios
import desktops_e2e
import velmora_e2e as e2e


class Gnome(desktop_scenarios.Scenarios):
    loopback = "127.0.0.21"
    desktop = desktops_e2e.Gnome

    def test_the_window_and_the_notifications_are_named_after_the_application(self):
        # With its window on screen, the shell takes the application from the window; without a
        # desktop entry of its id, it would name both after the bare id.
        app = self.start_signed_in()
        self.assert_window_back_with_the_keyboard()
        self.assertEqual(self.environment.eval(
            "global.get_window_actors().map(a => imports.gi.Shell.WindowTracker.get_default()"
            ".get_window_app(a.meta_window).get_name())"), ["Velmóra"])
        self.announce(app, "Avis nommé", id="notice:620")
        self.assertEqual(self.shown("Avis nommé")[0]["source"], "Velmóra")


if __name__ == "__main__":
    e2e.main()
