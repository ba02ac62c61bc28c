#!/usr/bin/env python3
"""Kills `korvel` at random points of create, create --import, rebuild, rename, delete and sync, and checks after
every run what must hold however a command ends:

  - the profile list parses and holds every profile whose creation was confirmed (and that no later delete touched);
  - no app is reported Ready unless its seal verifies (korvel-tool codesign --verify --deep --strict);
  - Claude Desktop's bundle and data folder are exactly as they were;
  - no session file in a profile differs from its source (a truncated copy under its name), except in a data folder
    whose import broke off (its marker is there): the next start of a changing command empties it, which is
    checked after every command that ran to its end.

usage: bench/crash_consistency.py [--runs N] [--seed S] [--build build/default] [--keep]
Not a test and not in CI: a few hundred runs take minutes. Prints the runs, kills and faults found.
"""

import argparse
import hashlib
import json
import os
import random
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time

ACCOUNT = "6F1D2C3B-4A59-4E6D-8C7B-9A0B1C2D3E4F"
SESSIONS = "claude-code-sessions"


def tree_digest(root):
    """Every entry below root: type, mode, link target or content hash."""
    entries = {}
    for folder, names, files in os.walk(root):
        for name in sorted(names + files):
            path = os.path.join(folder, name)
            info = os.lstat(path)
            if stat.S_ISLNK(info.st_mode):
                what = "link " + os.readlink(path)
            elif stat.S_ISREG(info.st_mode):
                with open(path, "rb") as handle:
                    what = "file " + hashlib.sha256(handle.read()).hexdigest()
            else:
                what = "folder"
            entries[os.path.relpath(path, root)] = (what, stat.S_IMODE(info.st_mode))
    info = os.lstat(root)
    entries["."] = ("top", stat.S_IMODE(info.st_mode))
    return entries


class Sandbox:
    def __init__(self, build, root):
        self.build = os.path.realpath(build)
        self.root = root
        self.home = os.path.join(root, "home")
        self.data = os.path.join(self.home, ".local/share")
        self.config = os.path.join(self.home, ".config")
        self.runtime = os.path.join(root, "run")
        for folder in (self.data, self.config, self.runtime):
            os.makedirs(folder, exist_ok=True)
        os.chmod(self.runtime, 0o700)
        subprocess.run([os.path.join(self.build, "../../demo/make-claude-app"), os.path.join(root, "Applications"),
                        "--build", self.build], check=True, stdout=subprocess.DEVNULL)
        self.claude_app = os.path.join(root, "Applications/Claude.app")
        self.claude_data = os.path.join(self.config, "Claude")
        self.support = os.path.join(self.data, "Korvel")
        self.apps = os.path.join(self.home, "Applications/Claude Profiles")
        self.make_claude_data()
        self.env = dict(os.environ, HOME=self.home, XDG_DATA_HOME=self.data, XDG_CONFIG_HOME=self.config,
                        XDG_RUNTIME_DIR=self.runtime, KORVEL_CLAUDE_APP=self.claude_app, TERMINAL="/bin/true",
                        QT_QPA_PLATFORM="offscreen")
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"):
            self.env.pop(name, None)
        self.korvel = os.path.join(self.build, "korvel")
        self.tool = os.path.join(self.build, "Korvel.app/Contents/Helpers/korvel-tool")

    def make_claude_data(self):
        sessions = os.path.join(self.claude_data, SESSIONS, ACCOUNT)
        os.makedirs(sessions, exist_ok=True)
        with open(os.path.join(self.claude_data, "Local State"), "w") as handle:
            handle.write('{"profile": {}}')
        os.symlink("workstation-4242", os.path.join(self.claude_data, "SingletonLock"))
        payload = os.urandom(2_000_000)
        for n in range(12):  # large enough that a kill can land inside a copy
            with open(os.path.join(sessions, "local_%02d.json" % n), "wb") as handle:
                handle.write(payload[n * 1000:] + bytes([n]))
        pins = ["local_%02d" % n for n in range(0, 12, 3)]
        with open(os.path.join(self.claude_data, "claude_desktop_config.json"), "w") as handle:
            json.dump({"preferences": {"epitaxyPrefs": {"starred-local-code-sessions": pins}}}, handle)

    def start(self, arguments):
        return subprocess.Popen([self.korvel] + arguments, env=self.env, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, start_new_session=True)

    def run(self, arguments):
        return subprocess.run([self.korvel] + arguments, env=self.env, capture_output=True, text=True, timeout=120)

    def give_account(self, profile_id):
        os.makedirs(os.path.join(self.support, "Profiles", profile_id, "Data", SESSIONS, ACCOUNT), exist_ok=True)


def stored_profiles(box):
    path = os.path.join(box.support, "profiles.json")
    if not os.path.lexists(path):
        return []
    with open(path) as handle:
        return json.load(handle)["profiles"]


def interrupted(box, profile_id):
    return os.path.lexists(os.path.join(box.support, "Profiles", profile_id, "Data.import-incomplete"))


def check(box, confirmed, sources_before, completed):
    faults = []
    try:
        ids = {profile["id"] for profile in stored_profiles(box)}
    except (OSError, ValueError, KeyError) as error:
        return ["profile list unreadable: %s" % error]
    missing = confirmed - ids
    if missing:
        faults.append("confirmed profiles missing from the list: %s" % sorted(missing))
    status = box.run(["status", "--json"])
    if status.returncode != 0:
        faults.append("status failed: %s" % status.stderr.strip())
    else:
        for profile in json.loads(status.stdout)["profiles"]:
            if profile["status"]["kind"] != "ready":
                continue
            app = os.path.join(box.apps, "Claude %s.app" % profile["name"])
            verify = subprocess.run([box.tool, "codesign", "--verify", "--deep", "--strict", app],
                                    capture_output=True, text=True)
            if verify.returncode != 0:
                faults.append("%s reported Ready but its seal fails: %s" % (app, verify.stderr.strip()))
    for name, before in sources_before.items():
        if tree_digest(name) != before:
            faults.append("source changed: %s" % name)
    source_sessions = os.path.join(box.claude_data, SESSIONS, ACCOUNT)
    for profile_id in ids:
        if interrupted(box, profile_id):
            if completed:
                faults.append("an interrupted import of %s is still there after a whole command" % profile_id)
            continue
        folder = os.path.join(box.support, "Profiles", profile_id, "Data", SESSIONS, ACCOUNT)
        if not os.path.isdir(folder):
            continue
        for name in os.listdir(folder):
            source = os.path.join(source_sessions, name)
            if name.startswith("local_") and os.path.isfile(source):
                with open(source, "rb") as a, open(os.path.join(folder, name), "rb") as b:
                    if a.read() != b.read():
                        faults.append("session %s of %s differs from its source" % (name, profile_id))
    return faults


def pick(rng, box, counter):
    profiles = stored_profiles(box)
    choices = ["create", "create-import", "sync"]
    if profiles:
        choices += ["rebuild", "rename", "delete"]
    kind = rng.choice(choices)
    if kind in ("create", "create-import"):
        counter[0] += 1
        name = "P%d" % counter[0]
        return kind, name, ["create", name] + (["--import"] if kind == "create-import" else [])
    if kind == "sync":
        for entry in profiles:
            box.give_account(entry["id"])
        return kind, None, ["sync"]
    profile = rng.choice(profiles)
    if kind == "rename":
        counter[0] += 1
        return kind, profile["id"], ["rename", profile["id"], "R%d" % counter[0]]
    return kind, profile["id"], [kind, profile["id"]]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=200)
    parser.add_argument("--seed", type=int, default=int(time.time()))
    parser.add_argument("--build", default=os.path.join(os.path.dirname(__file__), "../build/default"))
    parser.add_argument("--keep", action="store_true", help="keep the sandbox for a look afterwards")
    options = parser.parse_args()
    rng = random.Random(options.seed)
    root = tempfile.mkdtemp(prefix="korvel-crash-")
    box = Sandbox(options.build, root)
    sources_before = {box.claude_app: tree_digest(box.claude_app), box.claude_data: tree_digest(box.claude_data)}
    confirmed = set()
    counter = [0]
    kills = finished = 0
    faults = []
    durations = {}
    for run in range(options.runs):
        kind, subject, arguments = pick(rng, box, counter)
        # Kill somewhere inside what such a command usually takes (learnt from the ones that finished).
        delay = rng.uniform(0, durations.get(kind, 1.0) * 1.2)
        began = time.monotonic()
        process = box.start(arguments)
        try:
            output, _ = process.communicate(timeout=delay)
            finished += 1
            durations[kind] = max(durations.get(kind, 0.0), time.monotonic() - began)
            if kind.startswith("create") and process.returncode in (0, 1, 3) and output.strip():
                confirmed.add(output.decode().strip())
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.communicate()
            kills += 1
        if kind == "delete":
            confirmed.discard(subject)  # deleted or not, both are fine
        found = check(box, confirmed, sources_before, process.returncode is not None and process.returncode >= 0)
        for fault in found:
            faults.append("run %d (%s, killed=%s): %s" % (run, " ".join(arguments), process.returncode < 0, fault))
        if found:
            print("\n".join(faults[-len(found):]), file=sys.stderr)
    print("seed %d: %d runs, %d killed, %d finished, %d faults" % (options.seed, options.runs, kills, finished,
                                                                     len(faults)))
    if options.keep:
        print("sandbox kept in", root)
    else:
        shutil.rmtree(root, ignore_errors=True)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
