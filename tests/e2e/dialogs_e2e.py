"""Helpers for driving the application's dialogs end to end: finding the dialog windows of the
running Velmora, answering them at the keyboard, taking the web view to a page, and reading what
the test pages reported."""

import json
import os
import subprocess
import time
import urllib.request

import velmora_e2e as e2e


def xdotool(env, *arguments):
    return subprocess.run(["xdotool"] + list(arguments), env=env, capture_output=True, text=True).stdout


def dialog_windows(app):
    """The shown windows of the application other than its main window: its dialogs."""
    main = set(app.windows())
    ours = xdotool(app.env, "search", "--onlyvisible", "--pid", str(app.process.pid)).split()
    return [window for window in ours if window not in main]


def window_name(app, window):
    return xdotool(app.env, "getwindowname", window).strip()


def wait_for_dialog(app, what="a dialog", timeout=20.0):
    """Waits until exactly one dialog is shown and returns its window id."""
    found = e2e.wait_for(lambda: dialog_windows(app) if len(dialog_windows(app)) == 1 else None, timeout=timeout,
                         what=what)
    return found[0]


def wait_for_no_dialog(app, what="the dialog closed"):
    e2e.wait_for(lambda: dialog_windows(app) == [], what=what)


def answer(app, window, text=None, keys=()):
    """Types `text` and then presses `keys` in the dialog, as a user at the keyboard. The dialog
    gets the keyboard first; a moment passes so that GTK has seen the focus change."""
    subprocess.check_call(["xdotool", "windowfocus", "--sync", str(window)], env=app.env)
    time.sleep(0.3)
    if text:
        subprocess.check_call(["xdotool", "type", "--delay", "40", text], env=app.env)
        time.sleep(0.2)
    for key in keys:
        subprocess.check_call(["xdotool", "key", key], env=app.env)
        time.sleep(0.15)


def print_to_file(app, dialog):
    """Prints as a user does in GTK's print dialog, where no print server offers more than the
    file printer: picks "Print to File" (first in the list) and presses "Print" (at the right of the
    dialog's foot). The file goes where the dialog says, which the application sets."""
    geometry = xdotool(app.env, "getwindowgeometry", "--shell", dialog)
    values = dict(line.split("=") for line in geometry.split() if "=" in line)
    time.sleep(0.5)
    xdotool(app.env, "mousemove", "--window", dialog, "86", "90", "click", "1")
    time.sleep(0.5)
    xdotool(app.env, "mousemove", "--window", dialog, str(int(values["WIDTH"]) - 45), str(int(values["HEIGHT"]) - 29),
            "click", "1")


def open_page(test, app, url):
    """Takes the web view to `url`: the menu's "Changer d'espace" loads the sign-in page, which
    the service sends on to `url` once."""
    test.service.control("redirect", {"host": e2e.PUBLIC_HOST, "path": "/connexion.html", "location": url})
    result = app.activate("changeSpace")
    if result.returncode != 0:
        raise AssertionError("changeSpace failed: %s" % result.stderr)


def instance_url(path):
    return "https://%s%s" % (e2e.INSTANCE_HOST, path)


def reports(service, page, since=0):
    """What the test page `page` reported, oldest first, as the pages' own objects."""
    listed = service.control("reports?page=%s" % page)["reports"]
    return [entry["report"] for entry in listed if entry["epoch_ms"] >= since]


def wait_for_report(service, page, predicate, since=0, what="a report"):
    def found():
        matching = [report for report in reports(service, page, since) if predicate(report)]
        return matching[-1] if matching else None
    return e2e.wait_for(found, what=what)


def now_ms():
    return int(time.time() * 1000)


def beacons(service, host, name, since=0):
    listed = service.control("beacons?host=%s&name=%s" % (host, name))["beacons"]
    return [beacon for beacon in listed if beacon["epoch_ms"] >= since]


def seed_returning_user(home, host=e2e.INSTANCE_HOST):
    """Writes the defaults a user has after signing in once on `host`: the host is known and the
    console of that host is the start page. (The file's format is the application's own.)"""
    folder = os.path.join(home, "config", e2e.APP_ID)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "defaults.ini"), "w") as out:
        out.write("[Velmora]\nstringArray:velmoraKnownHosts=%s;\nstring:velmoraInstanceHost=%s\n" % (host, host))


def sign_in_link(service, email="admin@" + e2e.INSTANCE_HOST, password="demo", host=e2e.INSTANCE_HOST):
    """The one-time sign-in link the public site gives after a successful sign-in."""
    body = json.dumps({"email": email, "password": password, "espace": host}).encode()
    request = urllib.request.Request("https://%s/api/login" % e2e.PUBLIC_HOST, data=body, method="POST",
                                     headers={"Content-Type": "application/json"})
    with urllib.request.urlopen(request, context=service.context, timeout=10) as reply:
        return json.loads(reply.read().decode())["next"]


def pdf_info(path):
    """pdfinfo's page count and page sizes (points) of a PDF file, or None while it does not read."""
    result = subprocess.run(["pdfinfo", "-f", "1", "-l", "1000", path], capture_output=True, text=True)
    if result.returncode != 0:
        return None
    pages, sizes = 0, []
    for line in result.stdout.splitlines():
        if line.startswith("Pages:"):
            pages = int(line.split()[1])
        elif line.startswith("Page") and "size:" in line:
            words = line.split("size:")[1].split()
            sizes.append((float(words[0]), float(words[2])))
    return pages, sizes


def pdf_text(path):
    """The text of a PDF file without any white space: the words of a printed page come out of
    pdftotext with spaces inside them where letters are kerned."""
    text = subprocess.run(["pdftotext", path, "-"], capture_output=True, text=True).stdout
    return "".join(text.split())


def squeezed(text):
    return "".join(text.split())
