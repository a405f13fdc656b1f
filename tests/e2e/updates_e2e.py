"""Helpers for the end-to-end tests of the installed-build watch and the updater: copies of
the built bundle that a test may change, update archives and the feeds that sign their offers
(or were changed after signing), the processes that the relaunch helper starts behind the
test's back, and the updater's dialogs."""

import hashlib
import io
import json
import os
import plistlib
import shutil
import signal
import subprocess
import tarfile
import time

import velmora_e2e as e2e

SIGN_UPDATE = os.path.abspath(os.path.join(e2e.BUILD_DIR, "tools", "sign-update"))
SWAP_CRASH = os.path.abspath(os.path.join(e2e.BUILD_DIR, "tests", "e2e", "velmora-swap-crash"))
UPDATE_BASE = "https://%s/mises-a-jour/" % e2e.PUBLIC_HOST
FEED_NAME = "linux.json"
# The offer and, once it is accepted, the download's dialog.
OFFER_TITLE = "Mise à jour de Velmóra"
OUTCOME_TITLE = "Mises à jour de Velmóra"
LOG_CHECK_FAILED = "Velmóra: recherche de mises à jour impossible: "
NOT_SIGNED = "la description de la mise à jour n’est pas signée correctement."
NOT_HTTPS = "le serveur des mises à jour a renvoyé vers une adresse non sécurisée."


def info_path(bundle):
    return os.path.join(bundle, "Contents", "Info.plist")


def read_info(bundle):
    with open(info_path(bundle), "rb") as source:
        return plistlib.load(source)


def change_info(bundle, **changes):
    """Rewrites the bundle's Info.plist with `changes`, in one rename, as an installer would."""
    info = read_info(bundle)
    info.update(changes)
    temporary = info_path(bundle) + ".nouveau"
    with open(temporary, "wb") as out:
        plistlib.dump(info, out)
    os.replace(temporary, info_path(bundle))


def copy_bundle(destination, **changes):
    """A copy of the built bundle at `destination`, its Info.plist changed; build/Velmora.app
    itself is never touched."""
    os.makedirs(os.path.dirname(destination), exist_ok=True)
    shutil.copytree(e2e.BUNDLE, destination, symlinks=True)
    if changes:
        change_info(destination, **changes)
    return destination


def tree_digest(bundle):
    """One digest over every path, mode and content of the bundle, to tell it is unchanged."""
    digest = hashlib.sha256()
    for folder, folders, files in sorted(os.walk(bundle)):
        folders.sort()
        for name in sorted(files):
            path = os.path.join(folder, name)
            digest.update(os.path.relpath(path, bundle).encode())
            digest.update(str(os.lstat(path).st_mode).encode())
            with open(path, "rb") as content:
                digest.update(content.read())
    return digest.hexdigest()


def tar_gz(bundle, extra=()):
    """The bundle as a gzip-compressed tar with "Velmora.app" at its top, followed by `extra`
    entries given as (name, bytes)."""
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w:gz") as archive:
        archive.add(bundle, arcname="Velmora.app")
        for name, data in extra:
            member = tarfile.TarInfo(name)
            member.size = len(data)
            member.mode = 0o644
            archive.addfile(member, io.BytesIO(data))
    return buffer.getvalue()


class Signer:
    """An Ed25519 key pair made by tools/sign-update, and the feeds it signs."""

    def __init__(self, folder, name="cle"):
        self.secret = os.path.join(folder, name + ".secret")
        self.public = subprocess.check_output([SIGN_UPDATE, "generate-key", self.secret], text=True).strip()

    def feed(self, archive_path, url, version, build, notes=""):
        output = subprocess.check_output([SIGN_UPDATE, "sign", self.secret, archive_path, "--url", url, "--version",
                                          version, "--build", build, "--notes", notes], text=True)
        return output


def altered_feed(feed, signature=True, **members):
    """The feed with members of its offer changed after signing, the signature kept (or left
    out when `signature` is false): what someone on the way could make of it."""
    document = json.loads(feed)
    offer = json.loads(document["offer"])
    offer.update(members)
    document["offer"] = json.dumps(offer, ensure_ascii=False)
    if not signature:
        del document["signature"]
    return json.dumps(document, ensure_ascii=False)


class BundleApp(e2e.App):
    """One run of Velmora from a copy of the bundle rather than from the build tree."""

    def __init__(self, environment, home, bundle, arguments=(), env=None):
        self.environment = environment
        self.home = home
        self.bundle = bundle
        self.env = env or environment.env(home)
        self.log = open(os.path.join(home, "velmora.log"), "ab")
        program = os.path.join(bundle, "Contents", "MacOS", "Velmora")
        self.process = subprocess.Popen([program] + list(arguments), env=self.env, stdout=self.log,
                                        stderr=self.log, preexec_fn=getattr(e2e, "_die_with_parent", None))


def bus_owner_pid(env):
    """The process that owns the application's name on the test's bus, or None."""
    result = subprocess.run(["gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                             "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.GetConnectionUnixProcessID",
                             e2e.APP_ID], env=env, capture_output=True, text=True, timeout=10)
    if result.returncode != 0 or "uint32" not in result.stdout:
        return None
    return int(result.stdout.split("uint32")[1].strip(" ,)\n"))


def running(pid):
    """Whether the process exists and has not ended (a zombie has ended)."""
    try:
        with open("/proc/%d/stat" % pid) as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (FileNotFoundError, ProcessLookupError):
        return False


def executable_of(pid):
    return os.readlink("/proc/%d/exe" % pid)


def command_line_of(pid):
    with open("/proc/%d/cmdline" % pid, "rb") as source:
        return [part.decode() for part in source.read().split(b"\0") if part]


def stop_pid(pid, timeout=10.0):
    """Ends a process that the relaunch helper started (not a child of ours) as the session
    would, and waits until it is gone."""
    if not running(pid):
        return
    os.kill(pid, signal.SIGTERM)
    deadline = time.monotonic() + timeout
    while running(pid) and time.monotonic() < deadline:
        time.sleep(0.1)
    if running(pid):
        os.kill(pid, signal.SIGKILL)


def dialogs(env, title):
    return e2e.visible_window_ids(env, name=title)


def press_return_in(env, window_id):
    """Return in the dialog: its default button."""
    e2e.type_keys(env, window_id, keys=["Return"])
