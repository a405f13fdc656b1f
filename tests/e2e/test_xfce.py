"""Velmóra on X11 with xfce4-notifyd, the notification server of XFCE: a window a notification,
which a click opens and closes, and no sound of its own."""

import desktop_scenarios
import desktops_e2e
import velmora_e2e as e2e


class Xfce(desktop_scenarios.Scenarios):
    loopback = "127.0.0.23"
    desktop = desktops_e2e.Xfce


if __name__ == "__main__":
    e2e.main()
