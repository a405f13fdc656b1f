"""Helpers for the end-to-end test of updates through APT: the package at another build number
without compiling again, an OpenPGP key made for the test, the repository that scripts/apt-repo
makes, and apt-get asked about that repository alone."""

import os
import re
import shutil
import subprocess
import tempfile

import desktop_e2e as desktop
import velmora_e2e as e2e

APT_REPO = os.path.join(e2e.SOURCE_DIR, "scripts", "apt-repo")
SOURCE_FILE = "/etc/apt/sources.list.d/velmora.sources"
APT_LISTS = "/var/lib/apt/lists"
# The files of the bundle that configure writes; everything else in it is compiled or copied.
CONFIGURED_IN_BUNDLE = {"Info.plist": "Contents/Info.plist",
                        "fr.velmora.universal.desktop": "Contents/Resources/fr.velmora.universal.desktop"}
# Only this source is read and updated, so that no mirror is asked and the other lists stay.
ONLY_THIS_SOURCE = ["-o", "Dir::Etc::sourcelist=" + SOURCE_FILE, "-o", "Dir::Etc::sourceparts=-",
                    "-o", "APT::Get::List-Cleanup=0"]


def main_build_cache():
    """The main build's cache entries that shape what configure writes: the project's own
    variables (the build number and the APT ones aside), the compilers and the build type."""
    entries = {}
    with open(os.path.join(e2e.BUILD_DIR, "CMakeCache.txt"), encoding="utf-8") as cache:
        for line in cache:
            found = re.match(r"^(VELMORA_\w+|CMAKE_BUILD_TYPE|CMAKE_C_COMPILER|CMAKE_CXX_COMPILER|"
                             r"CMAKE_GENERATOR):(\w+)=(.*)$", line.rstrip("\n"))
            if found and found.group(1) not in ("VELMORA_BUILD_NUMBER", "VELMORA_APT_REPOSITORY", "VELMORA_APT_KEY"):
                entries[found.group(1)] = found.group(3)
    return entries


class PackageBuilder:
    """The Debian package of the main build's compiled bundle at any build number: a build
    directory of its own, configured from the same source, takes a copy of the compiled bundle
    with its own configured files and runs CPack, so nothing is compiled again. `cache` holds
    the entries that differ from the main build's."""

    def __init__(self, folder, **cache):
        self.folder = folder
        self.scratch = os.path.join(folder, "construction")
        entries = main_build_cache()
        generator = entries.pop("CMAKE_GENERATOR", "Ninja")
        entries.update(cache)
        # CPack's install step then builds nothing: the bundle is copied, not made.
        entries["CMAKE_SKIP_INSTALL_ALL_DEPENDENCY"] = "ON"
        self.options = ["-G", generator] + ["-D%s=%s" % item for item in entries.items()]

    def build(self, build_number):
        """The package's path for `build_number`."""
        run(["cmake", "-S", e2e.SOURCE_DIR, "-B", self.scratch, "-DVELMORA_BUILD_NUMBER=%d" % build_number]
            + self.options, "configure")
        bundle = os.path.join(self.scratch, "Velmora.app")
        shutil.rmtree(bundle, ignore_errors=True)
        shutil.copytree(e2e.BUNDLE, bundle, symlinks=True)
        for name, place in CONFIGURED_IN_BUNDLE.items():
            shutil.copyfile(os.path.join(self.scratch, "bundle", name), os.path.join(bundle, place))
        out = os.path.join(self.folder, str(build_number))
        run(["cpack", "-G", "DEB", "-B", out], "cpack", cwd=self.scratch)
        debs = [name for name in os.listdir(out) if name.endswith(".deb")]
        if len(debs) != 1:
            raise AssertionError("cpack wrote %r into %s" % (debs, out))
        return os.path.join(out, debs[0])


class TestKey:
    """An Ed25519 signing key without passphrase in a GnuPG home of the test's own, exported as
    the release command and the build take it: the secret armoured, the public armoured too."""

    def __init__(self, folder):
        self.home = os.path.join(folder, "gnupg")
        os.makedirs(self.home, mode=0o700)
        self.env = dict(os.environ, GNUPGHOME=self.home)
        self.gpg("--passphrase", "", "--quick-gen-key", "Dépôt d’essai de Velmóra <depot@velmora.fr>", "ed25519",
                 "sign", "never")
        self.secret = os.path.join(folder, "depot.secret.asc")
        self.public = os.path.join(folder, "depot.asc")
        with open(self.secret, "wb") as out:
            out.write(self.gpg("--armor", "--export-secret-keys"))
        with open(self.public, "wb") as out:
            out.write(self.gpg("--armor", "--export"))

    def gpg(self, *arguments):
        return subprocess.run(["gpg", "--batch", "--quiet"] + list(arguments), env=self.env, check=True,
                              capture_output=True, timeout=60).stdout

    def close(self):
        subprocess.run(["gpgconf", "--kill", "gpg-agent"], env=self.env, capture_output=True, timeout=30)


def run(command, what, **options):
    result = subprocess.run(command, capture_output=True, text=True, timeout=300, **options)
    if result.returncode != 0:
        raise AssertionError("%s failed:\n%s%s" % (what, result.stdout, result.stderr))
    return result


def publish(repository, key, *debs):
    run([APT_REPO, repository, key.secret] + list(debs), "scripts/apt-repo")


def apt_get(*arguments):
    """apt-get as the system's updates run it, without questions."""
    return subprocess.run(["apt-get"] + desktop.APT_OPTIONS + list(arguments), env=desktop.APT_ENV,
                          capture_output=True, text=True, timeout=180)


def update_this_source():
    return apt_get("update", *ONLY_THIS_SOURCE)


def policy(name=desktop.PACKAGE):
    return subprocess.run(["apt-cache", "policy", name], capture_output=True, text=True, timeout=60).stdout


def deb822_fields(text):
    """The fields of a one-stanza deb822 file; a multi-line value with its lines unindented and
    "." lines made empty again."""
    fields, name = {}, None
    for line in text.splitlines():
        if line.startswith("#"):
            continue
        if line.startswith(" ") and name:
            fields[name] += ("\n" if fields[name] else "") + ("" if line.strip() == "." else line[1:])
        else:
            name, value = line.split(":", 1)
            fields[name] = value.strip()
    return fields


def fingerprints(key_file):
    """The fingerprints of the keys in a key file, armoured or not, as gpg reads them."""
    with tempfile.TemporaryDirectory() as home:
        out = subprocess.run(["gpg", "--batch", "--no-options", "--homedir", home, "--with-colons", "--show-keys",
                              key_file], capture_output=True, text=True, check=True).stdout
    return [line.split(":")[9] for line in out.splitlines() if line.startswith("fpr:")]


def conffiles(name=desktop.PACKAGE):
    """The paths dpkg keeps as the package's configuration files."""
    out = subprocess.run(["dpkg-query", "-W", "-f=${Conffiles}", name], capture_output=True, text=True,
                         check=True).stdout
    return [line.split()[0] for line in out.splitlines() if line.strip()]


def lists_of(repository):
    """The index files apt keeps for a file: repository: named after its path, with "/" made "_"
    and "_" itself, among others, percent-encoded as apt's URItoFileName does."""
    quoted = "".join("%%%02x" % ord(char) if char in "\\|{}[]<>\"^~_=!@#$%*" or not " " < char < "\x7f" else char
                     for char in repository.rstrip("/") + "/")
    prefix = quoted.replace("/", "_")
    return [os.path.join(APT_LISTS, name) for name in os.listdir(APT_LISTS) if name.startswith(prefix)]
