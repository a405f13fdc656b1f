"""Velmóra on X11 with dunst, the notification server of many tiling window managers: no sound of
its own, and what is shown stays until the user deals with it."""

import desktop_scenarios
import desktops_e2e
import velmora_e2e as e2e


class Dunst(desktop_scenarios.Scenarios):
    loopback = "127.0.0.22"
    desktop = desktops_e2e.Dunst


if __name__ == "__main__":
    e2e.main()
