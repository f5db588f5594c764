#!/usr/bin/python3
"""Walks the running window "TANDEL" over AT-SPI, as a screen reader sees it.

Fails on a control without a role or a name, on a control of a page not shown that reports
itself as showing, and on the port box and the logo when they are not what they are: a
combo box named for what it is with its hint as description, a link that can be pressed.
Then presses DALEJ through AT-SPI and checks that only the device-type page shows.
"""
import sys
import time

import pyatspi

# Parts of other controls or bare containers: a scroll bar belongs to its log, a filler is a page.
STRUCTURE = {"application", "frame", "filler", "layered pane", "panel", "scroll bar"}
faults = []


def app_named(name, seconds=20):
    end = time.time() + seconds
    while time.time() < end:
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            child = desktop.getChildAtIndex(i)
            if child is not None and child.name == name:
                return child
        time.sleep(0.2)
    sys.exit("no application named %s on the accessibility bus" % name)


def controls(node, found=None):
    found = [] if found is None else found
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is None:
            continue
        if child.getRoleName() not in STRUCTURE:
            found.append(child)
        controls(child, found)
    return found


def showing(node):
    return node.getState().contains(pyatspi.STATE_SHOWING)


def check(condition, text):
    if not condition:
        faults.append(text)


def settle(predicate, seconds=5):
    end = time.time() + seconds
    while time.time() < end and not predicate():
        time.sleep(0.1)


app = app_named("TANDEL")
everything = controls(app)
for c in everything:
    role = c.getRoleName()
    check(role not in ("", "unknown", "invalid"), "a control without a role: %r" % c.name)
    check(c.name.strip() != "", "a %s without a name" % role)

start_page = {"Czy sprawdzić dostępność nowych wersji oprogramowania", "DALEJ"}
shown = [c for c in everything if showing(c)]
check({c.name for c in shown if c.getRoleName() == "push button"} == start_page,
      "start page: other buttons show: %s" % sorted(c.name for c in shown))
check(not any(c.getRoleName() in ("list", "list item", "text", "combo box") for c in shown),
      "start page: controls of hidden pages show: %s" % sorted(c.name for c in shown))

logo = [c for c in everything if c.getRoleName() == "link"]
check(len(logo) == 1 and logo[0].getState().contains(pyatspi.STATE_FOCUSABLE)
      and logo[0].queryAction().nActions >= 1, "the logo is no focusable link with an action")

port = [c for c in everything if c.getRoleName() == "combo box"]
check(len(port) == 1 and port[0].name == "Port szeregowy" and port[0].description.startswith("COM1"),
      "port box: %r" % [(c.name, c.description) for c in port])

# DALEJ through AT-SPI: the device-type page and its rows show, nothing of the start page.
dalej = [c for c in shown if c.name == "DALEJ"][0].queryAction()
dalej.doAction(0)
types = [c for c in everything if c.getRoleName() == "list" and c.name.startswith("Proszę wybrać")]
settle(lambda: showing(types[0]))
shown = [c for c in everything if showing(c)]
check(showing(types[0]) and all(showing(types[0].getChildAtIndex(i))
                                for i in range(types[0].childCount)),
      "device-type page: its list does not show")
check(sorted(c.name for c in shown if c.getRoleName() == "push button") == ["DALEJ", "POWRÓT"],
      "device-type page: other buttons show: %s" % sorted(c.name for c in shown))
check(not any(c.getRoleName() == "list item" and c.parent.name != types[0].name
              for c in shown), "device-type page: rows of hidden lists show")

print("%d controls walked" % len(everything))
for fault in faults:
    print("FAULT: " + fault)
sys.exit(1 if faults else 0)
