#!/bin/sh
# Checks the assembled bundle: every file in its place, the programs executable, both
# property lists readable by libplist (the reader the programs use) with the values the
# programs rely on, and the chime in the format the notification server is handed.
# Usage: check_layout.sh PATH/Velmora.app
set -eu

bundle=${1:?usage: check_layout.sh PATH/Velmora.app}
failures=0

fail() {
    echo "bundle_layout: $*" >&2
    failures=$((failures + 1))
}

agent=Contents/Library/LaunchAgents/fr.velmora.universal.background.plist
for file in Contents/Info.plist "$agent" Contents/Resources/carillon-doux.wav \
    Contents/Resources/fr.velmora.universal.desktop Contents/Resources/fr.velmora.universal.svg \
    Contents/Resources/fr.velmora.universal-128.png Contents/Resources/fr.velmora.universal-256.png; do
    [ -f "$bundle/$file" ] || fail "missing $file"
done
for program in Velmora VelmoraBackground VelmoraRelaunch; do
    [ -f "$bundle/Contents/MacOS/$program" ] && [ -x "$bundle/Contents/MacOS/$program" ] ||
        fail "Contents/MacOS/$program is missing or not executable"
done

# plistutil proves that libplist reads the files; Python's plistlib then judges the values
# in the XML it writes, which is sturdier than matching lines of it.
check_plist() {
    file=$1
    script=$2
    xml=$(plistutil -i "$bundle/$file" -f xml) || { fail "libplist cannot read $file"; return; }
    printf '%s\n' "$xml" | python3 -c "$script" "$bundle" || fail "unexpected content in $file"
}

check_plist Contents/Info.plist '
import plistlib, sys
info = plistlib.loads(sys.stdin.buffer.read())
problems = []
if info.get("CFBundleIdentifier") != "fr.velmora.universal":
    problems.append("CFBundleIdentifier %r" % info.get("CFBundleIdentifier"))
if info.get("CFBundleExecutable") != "Velmora":
    problems.append("CFBundleExecutable %r" % info.get("CFBundleExecutable"))
version = info.get("CFBundleVersion")
if not isinstance(version, str) or not version.isascii() or not version.isdigit():
    problems.append("CFBundleVersion %r is not an integer written as a string" % version)
if not isinstance(info.get("CFBundleShortVersionString"), str):
    problems.append("CFBundleShortVersionString missing")
for problem in problems:
    print("bundle_layout: Info.plist: " + problem, file=sys.stderr)
sys.exit(1 if problems else 0)
'

check_plist "$agent" '
import os, plistlib, sys
agent = plistlib.loads(sys.stdin.buffer.read())
arguments = agent.get("ProgramArguments")
ok = (agent.get("Label") == "fr.velmora.universal.background" and agent.get("RunAtLoad") is True
      and arguments == ["Contents/MacOS/VelmoraBackground"]
      and os.access(os.path.join(sys.argv[1], arguments[0]), os.X_OK))
if not ok:
    print("bundle_layout: launch agent: %r" % agent, file=sys.stderr)
sys.exit(0 if ok else 1)
'

chime=$bundle/Contents/Resources/carillon-doux.wav
python3 - "$chime" <<'PY' || fail "the chime is not 44.1 kHz 16-bit mono under 1 s"
import sys, wave
with wave.open(sys.argv[1]) as chime:
    seconds = chime.getnframes() / chime.getframerate()
    ok = (chime.getframerate() == 44100 and chime.getsampwidth() == 2 and chime.getnchannels() == 1
          and 0 < seconds < 1.0)
    if not ok:
        print("bundle_layout: chime: %d Hz, %d bytes, %d channels, %.3f s"
              % (chime.getframerate(), chime.getsampwidth(), chime.getnchannels(), seconds), file=sys.stderr)
sys.exit(0 if ok else 1)
PY

[ "$failures" -eq 0 ]
