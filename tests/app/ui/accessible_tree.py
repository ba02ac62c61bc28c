#!/usr/bin/env python3
"""Prints what assistive technology sees of one application through AT-SPI: a line per showing object,
"<role>\t<name>\t<checked>", in tree order. Usage: accessible_tree.py APPLICATION-NAME"""
import sys
import time

import pyatspi


def application(name):
    # The application registers with the accessibility bus a moment after its first window shows.
    for _ in range(100):
        desktop = pyatspi.Registry.getDesktop(0)
        for index in range(desktop.childCount):
            app = desktop.getChildAtIndex(index)
            if app is not None and app.name == name:
                return app
        time.sleep(0.1)
    sys.exit(f"accessible_tree: no application named {name!r} on the accessibility bus")


def walk(node, depth=0):
    if depth > 40:
        return
    states = node.getState()
    if states.contains(pyatspi.STATE_SHOWING):
        checked = "checked" if states.contains(pyatspi.STATE_CHECKED) else ""
        name = (node.name or "").replace("\t", " ").replace("\n", " ")
        print(f"{node.getRoleName()}\t{name}\t{checked}")
    for index in range(node.childCount):
        child = node.getChildAtIndex(index)
        if child is not None:
            walk(child, depth + 1)


walk(application(sys.argv[1]))
