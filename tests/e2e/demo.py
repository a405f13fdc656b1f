"""The demo: Velmóra against the stand-in service, in the same isolated environment as the
end-to-end tests. With a display it opens there and runs until Velmóra is stopped; without
one it runs under a virtual display, signs in as a user would, and saves screenshots."""

import os
import sys
import time

import velmora_e2e as e2e


def main():
    headless = not os.environ.get("DISPLAY") or os.environ.get("VELMORA_DEMO_HEADLESS") == "1"
    out = os.path.abspath(os.environ.get("VELMORA_DEMO_DIR", os.path.join(e2e.BUILD_DIR, "demo")))
    e2e.reexec_in_sandbox()
    os.makedirs(out, exist_ok=True)
    environment = e2e.Environment("127.0.0.9", display=None if headless else os.environ["DISPLAY"])
    service = e2e.Service(environment)
    home = os.path.join(out, "utilisateur")
    os.makedirs(home, exist_ok=True)
    app = e2e.App(environment, home)
    try:
        app.wait_until_running()
        window = e2e.wait_for(app.windows, timeout=30, what="the window")[0]
        loaded = lambda host: service.control("beacons?host=%s&name=load" % host)["beacons"]
        if not headless:
            print("Velmóra tourne sur l’écran %s ; identifiants de démonstration : admin@salon.velmora.fr / demo"
                  % environment.display)
            app.process.wait()
            return 0
        e2e.wait_for(lambda: loaded(e2e.PUBLIC_HOST) or loaded(e2e.INSTANCE_HOST), timeout=30, what="a page")
        time.sleep(1.0)
        if loaded(e2e.PUBLIC_HOST):
            app.screenshot(os.path.join(out, "connexion.png"))
            e2e.fill_form(app.env, window, ["admin@salon.velmora.fr", "demo", "salon.velmora.fr"])
            e2e.wait_for(lambda: loaded(e2e.INSTANCE_HOST), timeout=30, what="the console after signing in")
        service.control("beacons/clear", {})
        service.control("inbox/add", {"host": e2e.INSTANCE_HOST, "kind": "appointment", "title": "Nouveau rendez-vous",
                                      "body": "Camille Durand — coupe et brushing, demain à 9 h 30."})
        app.activate("reload")
        e2e.wait_for(lambda: loaded(e2e.INSTANCE_HOST), timeout=30, what="the console")
        time.sleep(1.5)
        app.screenshot(os.path.join(out, "console.png"))
        print("Captures : %s/connexion.png, %s/console.png" % (out, out))
        return 0
    finally:
        app.stop()
        service.close()
        environment.close()


if __name__ == "__main__":
    sys.exit(main())
