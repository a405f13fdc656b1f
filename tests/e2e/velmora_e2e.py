"""End-to-end harness: the built bundle under Xvfb, on a private session bus, against the
stand-in service over HTTPS on loopback.

Everything runs inside a private mount namespace (unshare -m as root): a copy of the system CA
bundle with the test CA appended is bind-mounted over /etc/ssl/certs/ca-certificates.crt, and a
private hosts file maps the service's host names to a loopback address of the test's own, so
nothing on the machine changes and tests can run side by side.
"""

import json
import os
import shutil
import signal
import ssl
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

BUILD_DIR = os.environ.get("VELMORA_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "build"))
SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUNDLE = os.path.abspath(os.path.join(BUILD_DIR, "Velmora.app"))
APP = os.path.join(BUNDLE, "Contents", "MacOS", "Velmora")
SERVICE = os.path.abspath(os.path.join(BUILD_DIR, "service", "velmora-service"))
PUBLIC_HOST = "velmora.fr"
INSTANCE_HOST = "salon.velmora.fr"
OTHER_HOST = "autre-site.example"
HOSTS = [PUBLIC_HOST, INSTANCE_HOST, "cabinet.velmora.fr", OTHER_HOST]
APP_ID = "fr.velmora.universal"
# The same site over plain HTTP, and over HTTPS on another port: what anyone on the network
# could serve under the service's names.
HTTP_PORT = 80
OTHER_HTTPS_PORT = 8443

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%s</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""


def _die_with_parent():
    """Makes a child end when the test program ends, however it ends."""
    import ctypes
    ctypes.CDLL("libc.so.6", use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def in_sandbox():
    return os.environ.get("VELMORA_E2E_SANDBOX") == "1"


def reexec_in_sandbox():
    """Runs this very program again inside a private mount namespace."""
    if in_sandbox():
        return
    env = dict(os.environ, VELMORA_E2E_SANDBOX="1")
    command = ["unshare", "-m", "--propagation", "private", sys.executable] + sys.argv
    sys.exit(subprocess.call(command, env=env))


def start_bus(folder, name, kind="session", service_dir=None):
    """Starts a private message bus of `kind` ("session" or "system") with its socket and
    configuration in `folder`, under `name`; returns the dbus-daemon process and the bus's address.
    The bus starts only the services of `service_dir`: by default none, so that nothing is started
    behind the test's back, not even a notification daemon of the machine."""
    config = os.path.join(folder, name + ".conf")
    socket_dir = os.path.join(folder, name)
    os.mkdir(socket_dir)
    text = BUS_CONFIG.replace("<type>session</type>", "<type>%s</type>" % kind) % socket_dir
    if service_dir:
        text = text.replace("<auth>", "<servicedir>%s</servicedir>\n  <auth>" % service_dir)
    with open(config, "w") as out:
        out.write(text)
    bus = subprocess.Popen(["dbus-daemon", "--config-file", config, "--print-address", "--nofork"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, preexec_fn=_die_with_parent)
    address = bus.stdout.readline().decode().strip()
    bus.stdout.close()
    return bus, address


def wait_for(predicate, timeout=20.0, interval=0.1, what="condition"):
    deadline = time.monotonic() + timeout
    last = None
    while time.monotonic() < deadline:
        last = predicate()
        if last:
            return last
        time.sleep(interval)
    raise AssertionError("timed out after %.0f s waiting for %s (last: %r)" % (timeout, what, last))


class Environment:
    """The machine-wide pieces of one test run: trust, names, display and bus."""

    def __init__(self, loopback, display=None):
        self.loopback = loopback
        self.dir = tempfile.mkdtemp(prefix="velmora-e2e-")
        self.processes = []
        self._trust_and_names()
        if display:
            self.display = display  # a real screen, for the demo
        else:
            self._display()
        self._bus()

    def _trust_and_names(self):
        ca_dir = os.path.join(self.dir, "ca")
        subprocess.check_call(["bash", os.path.join(SOURCE_DIR, "service", "make-test-ca.sh"), ca_dir],
                              stdout=subprocess.DEVNULL)
        self.ca_dir = ca_dir
        bundle = os.path.join(self.dir, "ca-certificates.crt")
        with open(bundle, "w") as out:
            with open("/etc/ssl/certs/ca-certificates.crt") as system:
                out.write(system.read())
            with open(os.path.join(ca_dir, "ca.pem")) as ca:
                out.write(ca.read())
        subprocess.check_call(["mount", "--bind", bundle, "/etc/ssl/certs/ca-certificates.crt"])
        hosts = os.path.join(self.dir, "hosts")
        with open(hosts, "w") as out:
            out.write("127.0.0.1 localhost\n")
            for host in HOSTS:
                out.write("%s %s\n" % (self.loopback, host))
        subprocess.check_call(["mount", "--bind", hosts, "/etc/hosts"])

    def _display(self):
        # A display number of the test file's own, from its loopback address: files run side by
        # side in mount namespaces of their own, while X11's abstract sockets are shared by all,
        # so two servers that each took the first free number could answer each other's clients.
        number = ":%d" % (100 + int(self.loopback.rsplit(".", 1)[1]))
        read, write = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", number, "-displayfd", str(write), "-screen", "0", "1400x1000x24", "-nolisten",
                                 "tcp"],
                                pass_fds=[write], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                preexec_fn=_die_with_parent)
        os.close(write)
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(read, 16)
            if not chunk:
                raise RuntimeError("Xvfb did not start")
            number += chunk
        os.close(read)
        self.processes.append(xvfb)
        self.display = ":" + number.decode().strip()

    def _bus(self):
        bus, self.bus_address = start_bus(self.dir, "bus")
        self.processes.append(bus)

    def env(self, home):
        env = dict(os.environ)
        env.update({
            "DISPLAY": self.display,
            "DBUS_SESSION_BUS_ADDRESS": self.bus_address,
            "XDG_CONFIG_HOME": os.path.join(home, "config"),
            "XDG_DATA_HOME": os.path.join(home, "data"),
            "XDG_CACHE_HOME": os.path.join(home, "cache"),
            "XDG_STATE_HOME": os.path.join(home, "state"),
            "XDG_RUNTIME_DIR": os.path.join(home, "runtime"),
            "HOME": home,
            "GTK_A11Y": "none",
            "NO_AT_BRIDGE": "1",
            "LANG": os.environ.get("VELMORA_E2E_LANG", "C.UTF-8"),
        })
        env.pop("DESKTOP_AUTOSTART_ID", None)
        os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
        return env

    def close(self):
        for process in reversed(self.processes):
            process.terminate()
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
        shutil.rmtree(self.dir, ignore_errors=True)


class Service:
    """The stand-in service on port 443 of the test's loopback address, over plain HTTP on HTTP_PORT
    and over HTTPS on OTHER_HTTPS_PORT."""

    def __init__(self, environment, extra=(), cert="server"):
        """`cert` names the certificate of make-test-ca.sh to serve: "server" (signed by the test
        CA) or "untrusted" (self-signed; the control calls then trust that certificate alone)."""
        self.environment = environment
        ca = environment.ca_dir
        self.process = subprocess.Popen(
            [SERVICE, "--listen", environment.loopback, "--port", "443", "--cert", os.path.join(ca, cert + ".pem"),
             "--key", os.path.join(ca, cert + ".key"), "--http-port", str(HTTP_PORT), "--other-https-port",
             str(OTHER_HTTPS_PORT), "--public-host", PUBLIC_HOST, "--instance", INSTANCE_HOST, "--instance",
             "cabinet.velmora.fr"] + list(extra),
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, preexec_fn=_die_with_parent)
        line = self.process.stdout.readline().decode()
        if not line.startswith("ready"):
            raise RuntimeError("the service did not start: %r" % line)
        trusted = "ca.pem" if cert == "server" else cert + ".pem"
        self.context = ssl.create_default_context(cafile=os.path.join(ca, trusted))

    def control(self, path, body=None):
        """Calls the service's control interface and returns the parsed JSON answer."""
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request("https://%s/control/%s" % (PUBLIC_HOST, path), data=data,
                                         method="POST" if data is not None else "GET",
                                         headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, context=self.context, timeout=10) as answer:
            text = answer.read().decode()
            return json.loads(text) if text else None

    def requests(self):
        return self.control("requests")["requests"]

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=5)


class App:
    """One run of the bundle's Velmora."""

    def __init__(self, environment, home, arguments=(), env=None):
        self.environment = environment
        self.home = home
        self.env = env or environment.env(home)
        self.log = open(os.path.join(home, "velmora.log"), "ab")
        self.process = subprocess.Popen([APP] + list(arguments), env=self.env, stdout=self.log, stderr=self.log,
                                        preexec_fn=_die_with_parent)

    def gdbus(self, *arguments):
        return subprocess.run(["gdbus"] + list(arguments), env=self.env, capture_output=True, text=True, timeout=10)

    def on_bus(self):
        result = self.gdbus("call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                            "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.NameHasOwner", APP_ID)
        return "true" in result.stdout

    def wait_until_running(self):
        wait_for(self.on_bus, what="Velmora on the bus")

    def menu_items(self):
        """The exported menu bar as a list of (menu title, [item labels, '-' for separators])."""
        result = self.gdbus("call", "--session", "--dest", APP_ID, "--object-path",
                            "/fr/velmora/universal/menus/menubar", "--method", "org.gtk.Menus.Start", "[0,1,2,3,4,5,6,7,8,9]")
        return result.stdout

    def activate(self, action):
        """Activates an application action over the bus, as a script or a menu would."""
        return self.gdbus("call", "--session", "--dest", APP_ID, "--object-path", "/fr/velmora/universal",
                          "--method", "org.gtk.Actions.Activate", action, "[]", "{}")

    def windows(self):
        """The ids of the application's mapped main windows."""
        return visible_window_ids(self.env)

    def window_size(self, window_id):
        out = subprocess.run(["xwininfo", "-id", str(window_id)], env=self.env, capture_output=True, text=True).stdout
        values = dict(line.strip().split(":", 1) for line in out.splitlines() if ":" in line)
        return int(values["Width"]), int(values["Height"])

    def screenshot(self, path):
        subprocess.check_call(["import", "-window", "root", path], env=self.env)

    def alive(self):
        return self.process.poll() is None

    def stop(self):
        if self.alive():
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()
        return self.process.returncode


class EndToEndTest(unittest.TestCase):
    """Each test gets a fresh user (config, data, cache) and a running service."""

    loopback = "127.0.0.2"

    @classmethod
    def setUpClass(cls):
        cls.environment = Environment(cls.loopback)
        cls.service = Service(cls.environment)

    @classmethod
    def tearDownClass(cls):
        cls.service.close()
        cls.environment.close()

    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="velmora-user-", dir=self.environment.dir)
        self.apps = []

    def tearDown(self):
        for app in self.apps:
            app.stop()
        if self._outcome_failed():
            log = os.path.join(self.home, "velmora.log")
            if os.path.exists(log):
                with open(log, errors="replace") as text:
                    sys.stderr.write("--- velmora.log ---\n" + text.read()[-4000:] + "\n")

    def _outcome_failed(self):
        result = getattr(self._outcome, "result", None)
        return bool(result and (result.failures or result.errors))

    def start_app(self, *arguments, env=None):
        app = App(self.environment, self.home, arguments, env=env)
        self.apps.append(app)
        app.wait_until_running()
        return app

    def requested(self, host, path):
        return [r for r in self.service.requests() if r.get("host") == host and r.get("path") == path]


def main():
    reexec_in_sandbox()
    unittest.main(module="__main__", verbosity=2)


def close_window(env, window_id):
    """Asks a window to close as a window manager's close button does (WM_DELETE_WINDOW);
    xdotool's windowclose would destroy it instead."""
    import ctypes

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

    class Event(ctypes.Union):
        _fields_ = [("client", ClientMessage), ("pad", ctypes.c_long * 24)]

    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(env["DISPLAY"].encode())
    event = Event()
    event.client.type = 33  # ClientMessage
    event.client.window = int(window_id)
    event.client.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.client.format = 32
    event.client.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    event.client.data[1] = 0  # CurrentTime
    x11.XSendEvent(display, int(window_id), 0, 0, ctypes.byref(event))
    x11.XFlush(display)
    x11.XCloseDisplay(display)


def visible_window_ids(env, name="Velmóra"):
    result = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % name], env=env,
                            capture_output=True, text=True)
    return result.stdout.split()


def type_keys(env, window_id, text=None, keys=()):
    """Types `text` and then presses `keys` in the given window, as a user at the keyboard."""
    subprocess.check_call(["xdotool", "windowfocus", "--sync", str(window_id)], env=env)
    time.sleep(0.2)
    if text:
        subprocess.check_call(["xdotool", "type", "--delay", "60", text], env=env)
    for key in keys:
        time.sleep(0.1)
        subprocess.check_call(["xdotool", "key", "--delay", "60", key], env=env)


def fill_form(env, window_id, fields, submit_key="Return"):
    """Types each field's text, moving on with Tab, then presses `submit_key` on the control
    after the last field (the form's button): one focus for the whole form."""
    subprocess.check_call(["xdotool", "windowfocus", "--sync", str(window_id)], env=env)
    time.sleep(0.2)
    # Tab after the last field too: it may offer suggestions that a Return would only pick.
    for text in fields:
        subprocess.check_call(["xdotool", "type", "--delay", "60", text], env=env)
        time.sleep(0.2)
        subprocess.check_call(["xdotool", "key", "Tab"], env=env)
        time.sleep(0.2)
    subprocess.check_call(["xdotool", "key", submit_key], env=env)
