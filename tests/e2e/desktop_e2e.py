"""Helpers for the end-to-end tests of desktop integration: the Debian package built by CPack and
installed on the machine, the menu entry and its Exec line, the icon theme and the window's X11
class."""

import configparser
import os
import shlex
import shutil
import subprocess

import velmora_e2e as e2e

PACKAGE = "velmora"
DESKTOP_ID = e2e.APP_ID
ENTRY = "/usr/share/applications/%s.desktop" % DESKTOP_ID
HICOLOR = "/usr/share/icons/hicolor"
APT_ENV = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
# Another apt-get or dpkg on the machine holds the lock for a while; wait for it rather than fail.
APT_OPTIONS = ["-o", "DPkg::Lock::Timeout=120", "-q"]


def package_installed(name=PACKAGE):
    result = subprocess.run(["dpkg-query", "-W", "-f=${Status}", name], capture_output=True, text=True)
    return result.returncode == 0 and "install ok installed" in result.stdout


def build_package(out_dir):
    """Runs CPack in the build directory, as the README says, writing the .deb into `out_dir`."""
    cpack = shutil.which("cpack")
    result = subprocess.run([cpack, "-G", "DEB", "-B", out_dir], cwd=e2e.BUILD_DIR, capture_output=True, text=True,
                            timeout=120)
    if result.returncode != 0:
        raise AssertionError("cpack failed:\n" + result.stdout + result.stderr)
    debs = [name for name in os.listdir(out_dir) if name.startswith(PACKAGE + "_") and name.endswith(".deb")]
    if len(debs) != 1:
        raise AssertionError("cpack wrote %r into %s" % (debs, out_dir))
    return os.path.join(out_dir, debs[0])


def package_contents(deb):
    """The absolute paths the package holds, directories included, as dpkg-deb lists them."""
    out = subprocess.run(["dpkg-deb", "--fsys-tarfile", deb], capture_output=True, check=True).stdout
    listing = subprocess.run(["tar", "-t"], input=out, capture_output=True, check=True).stdout.decode()
    paths = [line[1:].rstrip("/") for line in listing.splitlines() if line.startswith("./")]
    return [path for path in paths if path]


def apt_install(deb):
    # Without recommends: everything the package needs is on a machine set up by scripts/setup,
    # so apt-get has nothing to fetch and the test asks no mirror.
    result = subprocess.run(["apt-get", "install", "-y", "--no-install-recommends"] + APT_OPTIONS + [deb],
                            env=APT_ENV, capture_output=True, text=True, timeout=180)
    if result.returncode != 0:
        raise AssertionError("apt-get install failed:\n" + result.stdout + result.stderr)


def apt_purge(name=PACKAGE):
    return subprocess.run(["apt-get", "purge", "-y"] + APT_OPTIONS + [name], env=APT_ENV, capture_output=True,
                          text=True, timeout=180)


def installed_files(name=PACKAGE):
    """What dpkg records as installed by the package."""
    out = subprocess.run(["dpkg", "-L", name], capture_output=True, text=True, check=True).stdout
    return [line for line in out.splitlines() if line.startswith("/")]


def read_desktop_entry(path):
    """The [Desktop Entry] group of a desktop file, keys with their case."""
    parser = configparser.ConfigParser(interpolation=None, strict=True)
    parser.optionxform = str
    with open(path, encoding="utf-8") as entry:
        parser.read_file(entry)
    return dict(parser["Desktop Entry"])


def exec_command(entry):
    """The Exec line as a command: field codes (%f, %U, ...) are dropped as a launcher without files does."""
    return [word for word in shlex.split(entry["Exec"]) if not (len(word) == 2 and word.startswith("%"))]


def theme_directories(theme=HICOLOR):
    parser = configparser.ConfigParser(interpolation=None, strict=False)
    parser.optionxform = str
    parser.read(os.path.join(theme, "index.theme"), encoding="utf-8")
    main = parser["Icon Theme"]
    names = main.get("Directories", "").split(",") + main.get("ScaledDirectories", "").split(",")
    return [name.strip() for name in names if name.strip()]


def icon_lookup(name, theme=HICOLOR):
    """The files an icon theme lookup finds for `name`, as the icon theme rules search: only the
    folders the theme's index names, only the extensions PNG, SVG and XPM. When the theme has a
    cache, GTK believes it over the folders, so a cache that lacks the name finds nothing."""
    cache = os.path.join(theme, "icon-theme.cache")
    if os.path.exists(cache):
        with open(cache, "rb") as data:
            if (name.encode() + b"\0") not in data.read():
                return []
    found = []
    for directory in theme_directories(theme):
        for extension in ("png", "svg", "xpm"):
            path = os.path.join(theme, directory, "%s.%s" % (name, extension))
            if os.path.isfile(path):
                found.append(os.path.relpath(path, theme))
    return sorted(found)


def window_property(env, window_id, name):
    """One X11 property of a window as xprop prints its value, e.g. '"Velmora", "Velmora"'."""
    out = subprocess.run(["xprop", "-id", str(window_id), name], env=env, capture_output=True, text=True).stdout
    return out.split("=", 1)[1].strip() if "=" in out else None


def wm_class(env, window_id):
    """The (instance, class) pair of WM_CLASS, which X11 task bars match against StartupWMClass."""
    value = window_property(env, window_id, "WM_CLASS")
    return tuple(shlex.split(value.replace(",", " "))) if value else None


def window_ids_named(env, name):
    return e2e.visible_window_ids(env, name)


class CommandApp(e2e.App):
    """One run of Velmóra from a command of its own (the menu entry's Exec line) rather than
    from the build tree."""

    def __init__(self, environment, home, command, env=None):
        self.environment = environment
        self.home = home
        self.env = env or environment.env(home)
        self.log = open(os.path.join(home, "velmora.log"), "ab")
        self.process = subprocess.Popen(list(command), env=self.env, stdout=self.log, stderr=self.log,
                                        preexec_fn=e2e._die_with_parent)
