#!/usr/bin/python3
"""Walks the running window "TANDEL" over AT-SPI as a screen reader does. Fails on a control
without a role or a name, on controls of hidden pages that report themselves as showing, on a
port box not named for what it is with its hint as description, and on a logo that is no
focusable link; then presses DALEJ over AT-SPI and checks that only its page shows."""
import sys
import time

import pyatspi


def walk(node):
    for child in filter(None, (node.getChildAtIndex(i) for i in range(node.childCount))):
        if child.getRoleName() not in ("filler", "layered pane", "panel", "scroll bar"):
            yield child
        yield from walk(child)


def showing(node):
    return node.getState().contains(pyatspi.STATE_SHOWING)


def shown(role):
    return sorted(c.name for c in everything if showing(c) and c.getRoleName() == role)


for _ in range(100):
    desktop = pyatspi.Registry.getDesktop(0)
    apps = [a for a in map(desktop.getChildAtIndex, range(desktop.childCount)) if a and a.name == "TANDEL"]
    if apps:
        break
    time.sleep(0.2)
everything = list(walk(apps[0]))
faults = ["%s %r has no role or name" % (c.getRoleName(), c.name) for c in everything
          if c.getRoleName() in ("", "unknown", "invalid") or not c.name.strip()]
if shown("push button") != ["Czy sprawdzić dostępność nowych wersji oprogramowania", "DALEJ"] or \
        shown("list item") or shown("text") or shown("combo box"):
    faults.append("start page: controls of hidden pages show")
if [(c.name, c.description[:4]) for c in everything if c.getRoleName() == "combo box"] != \
        [("Port szeregowy", "COM1")]:
    faults.append("the port box is not named with its hint")
if [c.getState().contains(pyatspi.STATE_FOCUSABLE) and c.queryAction().nActions
        for c in everything if c.getRoleName() == "link"] != [1]:
    faults.append("the logo is no focusable link that can be pressed")

[c for c in everything if c.name == "DALEJ" and showing(c)][0].queryAction().doAction(0)
types = [c for c in everything if c.getRoleName() == "list" and c.name.startswith("Proszę")][0]
time.sleep(1)
rows = sorted(types.getChildAtIndex(i).name for i in range(types.childCount))
if shown("push button") != ["DALEJ", "POWRÓT"] or not rows or shown("list item") != rows:
    faults.append("device-type page: %r, rows %r" % (shown("push button"), shown("list item")))
print("%d controls walked" % len(everything), *faults, sep="\nFAULT: ")
sys.exit(1 if faults else 0)
