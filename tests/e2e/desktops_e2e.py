"""Real desktops for the end-to-end tests, each with its own notification server: GNOME Shell 43
headless on Wayland, and dunst and xfce4-notifyd on X11 (Xvfb). Each runs on the test's private
buses inside the test's mount namespace, as velmora_e2e does for the rest.

Every desktop offers the same face to the scenarios: what its notification server shows, a click
on a notification, the user closing one, the application's windows and which has the keyboard,
and the window manager's close button. Beside them runs an audio server of the test's own
(PipeWire with a null sink, recorded), so that a test hears the chime whoever plays it."""

import ast
import json
import os
import shutil
import struct
import subprocess
import time
import wave

import velmora_e2e as e2e

# python3-dbusmock and python3-gi are Debian's, for Debian's own Python.
SYSTEM_PYTHON = "/usr/bin/python3"
DBUS_SERVICES = "/usr/share/dbus-1/services"


def _spawn(arguments, env, log=None):
    return subprocess.Popen(arguments, env=env, stdout=log or subprocess.DEVNULL, stderr=log or subprocess.DEVNULL,
                            preexec_fn=e2e._die_with_parent)


class Audio:
    """A PipeWire server with a null sink, in the desktop's runtime folder: what the shell and the
    application play goes there (through PipeWire's PulseAudio and ALSA faces) and can be recorded."""

    SINK = "velmora-e2e"

    def __init__(self, environment, runtime):
        self.env = dict(os.environ, XDG_RUNTIME_DIR=runtime, DBUS_SESSION_BUS_ADDRESS=environment.bus_address,
                        HOME=os.path.join(environment.dir, "audio"), PIPEWIRE_LOG_SYSTEMD="false")
        os.makedirs(self.env["HOME"], exist_ok=True)
        self.folder = self.env["HOME"]
        for program in ("pipewire", "wireplumber", "pipewire-pulse"):
            environment.processes.append(_spawn([program], self.env))
            if program == "pipewire":
                e2e.wait_for(lambda: os.path.exists(os.path.join(runtime, "pipewire-0")), what="PipeWire")
        subprocess.run(["pw-cli", "create-node", "adapter",
                        "{ factory.name=support.null-audio-sink node.name=%s media.class=Audio/Sink "
                        "object.linger=true audio.position=[FL FR] }" % self.SINK],
                       env=self.env, capture_output=True, timeout=10)
        e2e.wait_for(lambda: self.SINK in self._nodes() and os.path.exists(os.path.join(runtime, "pulse", "native")),
                     what="the null sink")

    def _nodes(self):
        return subprocess.run(["pw-cli", "ls", "Node"], env=self.env, capture_output=True, text=True,
                              timeout=10).stdout

    def record(self):
        return Recording(self)


class Recording:
    """What the null sink plays from now until stop(): the chimes are counted in it."""

    RATE = 8000

    def __init__(self, audio):
        self.path = os.path.join(audio.folder, "enregistrement-%d.wav" % time.monotonic_ns())
        self.process = _spawn(["pw-record", "--target", Audio.SINK, "--properties", "{ stream.capture.sink=true }",
                               "--rate", str(self.RATE), "--channels", "1", "--format", "s16", self.path], audio.env)
        time.sleep(0.5)  # the stream is linked to the sink

    def stop(self):
        """Stops recording and returns the number of chimes heard: bursts of sound apart from one
        another by at least a quarter of a second of silence."""
        time.sleep(1.0)  # the last chime's playback
        self.process.send_signal(2)  # SIGINT: the file is finished properly
        self.process.wait(timeout=10)
        with wave.open(self.path) as recorded:
            data = recorded.readframes(recorded.getnframes())
        samples = struct.unpack("<%dh" % (len(data) // 2), data)
        window = self.RATE // 50
        loud = [max((abs(s) for s in samples[i:i + window]), default=0) > 500
                for i in range(0, len(samples), window)]
        chimes, quiet = 0, 99
        for step in loud:
            if step and quiet >= 12:
                chimes += 1
            quiet = 0 if step else quiet + 1
        return chimes


class BusWatch:
    """What goes over a bus between the notification servers and their clients, as
    notification_watch.py records it as a bus monitor."""

    def __init__(self, bus_address, folder, processes):
        self.log = os.path.join(folder, "notifications-%d.jsonl" % time.monotonic_ns())
        self.errors = open(self.log + ".err", "w")
        self.process = _spawn([SYSTEM_PYTHON, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                           "notification_watch.py"), bus_address, self.log],
                              dict(os.environ), self.errors)
        processes.append(self.process)
        e2e.wait_for(lambda: os.path.exists(self.log) and "ready" in open(self.log).read(), what="the bus watch")

    def events(self, kind=None):
        with open(self.log) as lines:
            events = [json.loads(line) for line in lines if line.strip()]
        return [event for event in events if kind is None or event["event"] == kind]

    def live(self):
        """The notifications shown now, oldest first: posted, and not closed since."""
        shown = {}  # by id, in the order they came; a replacement keeps its place
        for event in self.events():
            if event["event"] == "notify":
                shown[event["id"]] = event
            elif event["event"] == "closed":
                shown.pop(event["id"], None)
        return list(shown.values())

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=5)
        self.errors.close()


DUNST_CONFIG = """[global]
    font = DejaVu Sans 10
    sort = no
    notification_limit = 20
    idle_threshold = 0
    show_age_threshold = -1
    format = "%s %b"
    word_wrap = no
    ellipsize = end
    mouse_left_click = close_current
    mouse_middle_click = do_action, close_current
[urgency_low]
    timeout = 0
[urgency_normal]
    timeout = 0
[urgency_critical]
    timeout = 0
"""


def start_dunst(env, folder, log):
    """Starts dunst with the tests' settings: what it shows stays until dealt with, one line a
    notification in the order they came, twenty at a time (the others wait their turn: drawing
    hundreds at once would make dunst the slow one)."""
    config = os.path.join(folder, "dunstrc")
    with open(config, "w") as out:
        out.write(DUNST_CONFIG)
    return _spawn(["dunst", "-config", config], env, log)


class Desktop(e2e.Environment):
    """The environment of velmora_e2e with a desktop of its own; subclasses start the desktop."""

    def __init__(self, loopback):
        try:
            super().__init__(loopback)
        except BaseException:
            self.close()
            raise

    def user_home(self):
        """The home of the session's user, which the desktop and the application share, as on a
        desktop: the shell finds the application's desktop entry in the user's data folder."""
        home = os.path.join(self.dir, "user")
        os.makedirs(home, exist_ok=True)
        return home

    def forget_application(self):
        """Removes what the application keeps in the user's home, as for a user who never ran it."""
        home = self.user_home()
        for folder in ("config", "data", "cache", "state"):
            shutil.rmtree(os.path.join(home, folder, e2e.APP_ID), ignore_errors=True)
        for path in (os.path.join(home, "config", "autostart"),):
            shutil.rmtree(path, ignore_errors=True)
        entry = os.path.join(home, "data", "applications", e2e.APP_ID + ".desktop")
        if os.path.exists(entry):
            os.remove(entry)

    def shared_runtime(self):
        """The runtime folder of the session: the application, the desktop and the audio server
        meet there (the web process's sandbox sees only the Wayland socket of its own runtime
        folder)."""
        runtime = os.path.join(self.dir, "runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        return runtime

    def env(self, home):
        env = super().env(home)
        env["XDG_RUNTIME_DIR"] = self.shared_runtime()
        return env

    # The face every desktop offers to the scenarios.
    def clear(self):
        """Takes every notification off the screen, as before a test."""
        raise NotImplementedError

    def shown(self):
        """The notifications on screen now, oldest first, each {"title", "body"}."""
        raise NotImplementedError

    def settle(self):
        """Waits until every notification posted has been presented, its sound played."""
        time.sleep(1.0)

    def click(self, title):
        """Clicks the notification titled `title`, as the user would."""
        raise NotImplementedError

    def dismiss(self, title):
        """Closes the notification titled `title`, as the user would."""
        raise NotImplementedError

    def windows(self):
        """The titles of the application's windows on screen."""
        raise NotImplementedError

    def focused(self):
        """The title of the window that has the keyboard, or None."""
        raise NotImplementedError

    def close_window(self, title):
        """Closes the window titled `title` with the window manager's close button."""
        raise NotImplementedError


class Gnome(Desktop):
    """GNOME Shell 43 headless on Wayland. The shell needs logind, stood in for by dbusmock on a
    system bus of the test's own; org.freedesktop.Notifications is owned by a gjs service the
    session bus starts from GNOME's service files. With --unsafe-mode, org.gnome.Shell.Eval reads
    and drives the shell, through GNOME's own code paths."""

    def _display(self):
        self.display = None

    def _bus(self):
        services = os.path.join(self.dir, "services")
        os.mkdir(services)
        for name in os.listdir(DBUS_SERVICES):
            if name.startswith("org.gnome.Shell.") or name == "ca.desrt.dconf.service":
                shutil.copy(os.path.join(DBUS_SERVICES, name), services)
        system, self.system_address = e2e.start_bus(self.dir, "system", "system")
        self.processes.append(system)
        self.processes.append(_spawn([SYSTEM_PYTHON, "-m", "dbusmock", "--system", "--template", "logind"],
                                     dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=self.system_address)))
        session, self.bus_address = e2e.start_bus(self.dir, "session", service_dir=services)
        self.processes.append(session)
        runtime = self.shared_runtime()
        self.audio = Audio(self, runtime)
        env = e2e.Environment.env(self, self.user_home())
        env.update({"DBUS_SYSTEM_BUS_ADDRESS": self.system_address, "XDG_RUNTIME_DIR": runtime})
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "GDK_BACKEND"):
            env.pop(name, None)
        self.shell_log = open(os.path.join(self.dir, "gnome-shell.log"), "w")
        self.processes.append(_spawn(["gnome-shell", "--headless", "--wayland", "--no-x11", "--virtual-monitor",
                                      "1600x1000", "--unsafe-mode", "--sm-disable"], env, self.shell_log))
        e2e.wait_for(lambda: os.path.exists(os.path.join(runtime, "wayland-0")) and self.eval("1") == 1,
                     timeout=40, what="GNOME Shell")
        # The shell starts in the overview, as after a login; the user leaves it to work, and
        # until then no window takes the keyboard.
        e2e.wait_for(lambda: self.eval("!Main.layoutManager._startingUp && Main.overview.visible"), what="the overview")
        self.eval("Main.overview.hide()")
        e2e.wait_for(lambda: self.eval("Main.overview.visible") is False, what="the overview left")
        # A banner stays until the user has been seen at the computer (the idle monitor), and the
        # next one waits behind it, with its sound. Nobody touches a headless shell: its idle
        # monitor is made to tell that the user is there, as at a desktop in use.
        self.eval("{ const tray = Main.messageTray; tray.idleMonitor = {get_idletime: () => 0, "
                  "add_user_active_watch: () => 0, remove_watch: () => {}}; return true; }")
        self.clear()

    def env(self, home):
        env = super().env(home)
        env.pop("DISPLAY", None)
        env.update({"WAYLAND_DISPLAY": "wayland-0", "GDK_BACKEND": "wayland"})
        return env

    def eval(self, expression):
        """The value of the JavaScript `expression` in the shell, or None when it failed."""
        result = subprocess.run(["gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
                                 "/org/gnome/Shell", "--method", "org.gnome.Shell.Eval",
                                 json.dumps("(() => %s)()" % expression)],
                                env=dict(os.environ, DBUS_SESSION_BUS_ADDRESS=self.bus_address),
                                capture_output=True, text=True, timeout=10)
        answer = result.stdout.strip()
        if not answer.startswith("(true, "):
            return None
        text = ast.literal_eval(answer[len("(true, "):-1])
        return json.loads(text) if text else None

    # The notifications of every source but the shell's own ("System Information").
    NOTIFICATIONS = "Main.messageTray.getSources().filter(s => s.constructor.name !== 'SystemNotificationSource')" \
                    ".flatMap(s => s.notifications.map(n => ({source: s, n})))"

    def clear(self):
        self.eval("{ Main.messageTray.getSources().forEach(s => s.destroy()); return true; }")

    def settle(self):
        # Banners come one after another, each with its sound; a critical one stays shown.
        e2e.wait_for(lambda: self.eval("Main.messageTray._notificationQueue.length === 0"), timeout=30,
                     what="every banner shown")
        time.sleep(1.0)

    def shown(self):
        return self.eval("%s.map(({source, n}) => ({title: n.title, body: n.bannerBodyText, source: source.title, "
                         "resident: n.resident}))" % self.NOTIFICATIONS) or []

    def _act(self, title, action):
        done = self.eval("{ const found = %s.find(({n}) => n.title === %s); if (!found) return false; %s; "
                         "return true; }" % (self.NOTIFICATIONS, json.dumps(title), action))
        if not done:
            raise AssertionError("no notification titled %r on screen" % title)

    def click(self, title):
        self._act(title, "found.n.activate()")

    def dismiss(self, title):
        self._act(title, "found.n.destroy(imports.ui.messageTray.NotificationDestroyedReason.DISMISSED)")

    def windows(self):
        return self.eval("global.get_window_actors().map(a => a.meta_window).filter(w => w.showing_on_its_workspace())"
                         ".map(w => w.get_title())") or []

    def focused(self):
        return self.eval("global.display.focus_window ? global.display.focus_window.get_title() : null")

    def close_window(self, title):
        self.eval("global.get_window_actors().map(a => a.meta_window).filter(w => w.get_title() === %s)"
                  ".forEach(w => w.delete(global.get_current_time()))" % json.dumps(title))

    def close(self):
        super().close()
        if getattr(self, "shell_log", None):
            self.shell_log.close()


class X11Desktop(Desktop):
    """A notification server on Xvfb, without a window manager; what the server shows and what it
    tells its posters is read from the bus (notification_watch.py as a bus monitor)."""

    def _bus(self):
        services = os.path.join(self.dir, "services")
        os.mkdir(services)
        for name in self.SERVICE_FILES:
            shutil.copy(os.path.join(DBUS_SERVICES, name), services)
        session, self.bus_address = e2e.start_bus(self.dir, "session", service_dir=services)
        self.processes.append(session)
        self.audio = Audio(self, self.shared_runtime())
        self.watch = BusWatch(self.bus_address, self.dir, self.processes)
        self.server_env = dict(e2e.Environment.env(self, self.user_home()), XDG_RUNTIME_DIR=self.shared_runtime())
        self.server_log = open(os.path.join(self.dir, "notification-server.log"), "w")
        self.start_server()
        e2e.wait_for(self._server_on_bus, what="the notification server")

    def _server_on_bus(self):
        result = subprocess.run(["gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                                 "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.NameHasOwner",
                                 "org.freedesktop.Notifications"], env=self.server_env, capture_output=True, text=True)
        return "true" in result.stdout

    def live(self):
        return self.watch.live()

    def shown(self):
        return [{"title": n["summary"], "body": n["body"], "id": n["id"]} for n in self.live()]

    def _id_of(self, title):
        found = [n for n in self.live() if n["summary"] == title]
        if not found:
            raise AssertionError("no notification titled %r on screen" % title)
        return found[-1]["id"]

    def _xdotool(self, *arguments):
        return subprocess.run(["xdotool"] + list(arguments), env=self.server_env, capture_output=True,
                              text=True).stdout

    def windows(self):
        return [self._xdotool("getwindowname", window).strip() for window in e2e.visible_window_ids(self.server_env)]

    def focused(self):
        focused = self._xdotool("getwindowfocus", "-f").strip()
        return self._xdotool("getwindowname", focused).strip() if focused else None

    def close_window(self, title):
        for window in e2e.visible_window_ids(self.server_env, title):
            e2e.close_window(self.server_env, window)

    def close(self):
        super().close()
        if getattr(self, "server_log", None):
            self.server_log.close()


class Dunst(X11Desktop):
    """dunst, as on a tiling window manager's desktop, driven with dunstctl as its users do. Its
    notifications stay until dealt with, so that a test sees them; it has no "sound" capability,
    so Velmóra plays the chime itself."""

    SERVICE_FILES = ()

    def start_server(self):
        self.processes.append(start_dunst(self.server_env, self.dir, self.server_log))

    def _dunstctl(self, *arguments):
        return subprocess.run(["dunstctl"] + list(arguments), env=self.server_env, capture_output=True,
                              text=True, timeout=10)

    def clear(self):
        self._dunstctl("close-all")
        e2e.wait_for(lambda: self._dunstctl("count", "displayed").stdout.strip() == "0", what="dunst emptied")

    def _press(self, title, button):
        # dunst draws what it shows in one window, one line a notification in the order they came
        # (sort = no, no wrapping); the mouse goes to the middle of the notification's line.
        ids = [n["id"] for n in self.live()]
        position = ids.index(self._id_of(title))
        window = e2e.wait_for(lambda: self._xdotool("search", "--onlyvisible", "--class", "Dunst").split(),
                              what="dunst's window")[0]
        geometry = self._xdotool("getwindowgeometry", "--shell", window)
        values = dict(line.split("=") for line in geometry.split() if "=" in line)
        x = int(values["X"]) + int(values["WIDTH"]) // 2
        y = int(values["Y"]) + int((position + 0.5) * int(values["HEIGHT"]) / len(ids))
        self._xdotool("mousemove", str(x), str(y), "click", str(button))

    def click(self, title):
        self._press(title, 2)  # the middle button: the notification's action, as dunst is set up

    def dismiss(self, title):
        self._press(title, 1)  # the left button closes it


class Xfce(X11Desktop):
    """xfce4-notifyd, as on an XFCE desktop: one small window a notification, the newest below the
    others, the notification's action as a button at its foot ("Ouvrir"); a click elsewhere on it
    closes it. Its settings come from xfconf, which the bus starts; it has no "sound" capability
    either."""

    SERVICE_FILES = ("org.xfce.Xfconf.service",)
    SERVER = "/usr/lib/x86_64-linux-gnu/xfce4/notifyd/xfce4-notifyd"

    def start_server(self):
        for prop, kind, value in (("/expire-timeout", "int", "600"), ("/do-not-disturb", "bool", "false")):
            subprocess.run(["xfconf-query", "-c", "xfce4-notifyd", "-p", prop, "-n", "-t", kind, "-s", value],
                           env=self.server_env, capture_output=True, timeout=10)
        self.processes.append(_spawn([self.SERVER], self.server_env, self.server_log))

    def popups(self):
        """The notification windows, top to bottom."""
        found = self._xdotool("search", "--onlyvisible", "--class", "xfce4-notifyd").split()

        def top(window):
            geometry = self._xdotool("getwindowgeometry", window)
            return int(geometry.split("Position: ")[1].split(",")[1].split(" ")[0])
        return sorted(found, key=top)

    def clear(self):
        for notification in self.live():
            subprocess.run(["gdbus", "call", "--session", "--dest", "org.freedesktop.Notifications", "--object-path",
                            "/org/freedesktop/Notifications", "--method",
                            "org.freedesktop.Notifications.CloseNotification", str(notification["id"])],
                           env=self.server_env, capture_output=True, timeout=10)
        e2e.wait_for(lambda: not self.popups(), what="xfce4-notifyd emptied")

    def _press(self, title, at_foot):
        ids = [n["id"] for n in self.live()]
        popups = e2e.wait_for(lambda: len(self.popups()) == len(ids) and self.popups(), what="the popups")
        window = popups[ids.index(self._id_of(title))]
        geometry = self._xdotool("getwindowgeometry", "--shell", window)
        values = dict(line.split("=") for line in geometry.split() if "=" in line)
        # The button sits at the right of the foot; the title line runs along the top.
        x = int(values["X"]) + int(values["WIDTH"]) - (40 if at_foot else int(values["WIDTH"]) // 2)
        y = int(values["Y"]) + (int(values["HEIGHT"]) - 22 if at_foot else 12)
        self._xdotool("mousemove", str(x), str(y), "click", "1")

    def click(self, title):
        self._press(title, at_foot=True)  # the "Ouvrir" button

    def dismiss(self, title):
        self._press(title, at_foot=False)  # the title line
