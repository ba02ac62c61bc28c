#!/usr/bin/env python3
"""The crash-consistency script's choice of command, with and without profiles in the list."""

import json
import os
import random
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "../../bench"))
import crash_consistency  # noqa: E402


class Box:
    def __init__(self, root):
        self.support = os.path.join(root, "Korvel")
        os.makedirs(self.support)

    def give_account(self, profile_id):
        pass


def main():
    with tempfile.TemporaryDirectory() as root:
        box = Box(root)
        # Seeds whose first choice is each of the three open to an empty list (424242 picks sync).
        for seed in range(40):
            kind, subject, arguments = crash_consistency.pick(random.Random(seed), box, [0])
            assert kind in ("create", "create-import", "sync"), (seed, kind)
            assert arguments[0] == ("sync" if kind == "sync" else "create"), (seed, arguments)
        with open(os.path.join(box.support, "profiles.json"), "w") as handle:
            json.dump({"version": 1, "profiles": [{"id": "A", "name": "Work"}]}, handle)
        kinds = {crash_consistency.pick(random.Random(seed), box, [0])[0] for seed in range(40)}
        assert kinds == {"create", "create-import", "sync", "rebuild", "rename", "delete"}, kinds
    return 0


if __name__ == "__main__":
    sys.exit(main())
