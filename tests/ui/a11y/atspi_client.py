#!/usr/bin/env python3
"""Reads and drives the running Korvane window as a screen-reader user would:
through AT-SPI (pyatspi) for what is shown, and X key events only (xdotool key)
for what is done. No pointer event is sent.

  atspi_client.py DOWNLOAD_FOLDER [--read]

With --read the client only reads, and presses buttons through their AT-SPI
actions (as a screen reader's own commands do) instead of keys: the start page's
buttons, Scan Now, the results rows with their state, Close.

Steps: the start page's buttons by name and role; Tab to "Scan Now" and Enter;
the results list's rows with their state; Down to an out-of-date driver, Enter
for its information dialog, Enter on its Download button, Enter in the save
dialog; Esc on the download dialog once the package is there; Tab to the main
window's Close button and Enter. Prints one line per step; exits non-zero at
the first step that fails."""
import os
import subprocess
import sys
import time

import pyatspi
from gi.repository import Atspi

STEP_TIMEOUT = 60.0


def fail(message):
    print("FAIL: " + message, flush=True)
    sys.exit(1)


def step(message):
    print("ok: " + message, flush=True)


def key(*names):
    for name in names:
        subprocess.run(["xdotool", "key", "--clearmodifiers", name], check=True)
        time.sleep(0.25)


def korvane_app():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is None:
            continue
        try:
            app.set_cache_mask(Atspi.Cache.NONE)
            app.clear_cache()
        except Exception:
            pass
        if app.name and "korvane" in app.name.lower():
            return app
    return None


def walk(acc, depth=0):
    if acc is None or depth > 40:
        return
    yield acc
    try:
        n = acc.childCount
    except Exception:
        return
    for i in range(n):
        try:
            child = acc.getChildAtIndex(i)
        except Exception:
            continue
        yield from walk(child, depth + 1)


def showing(acc):
    try:
        return acc.getState().contains(pyatspi.STATE_SHOWING)
    except Exception:
        return False


def find_all(role=None, name=None, contains=None, only_showing=True):
    app = korvane_app()
    if app is None:
        return []
    found = []
    for acc in walk(app):
        try:
            if role and acc.getRoleName() != role:
                continue
            if name is not None and acc.name != name:
                continue
            if contains is not None and contains not in (acc.name or ""):
                continue
            if only_showing and not showing(acc):
                continue
            found.append(acc)
        except Exception:
            continue
    return found


def wait_for(what, predicate, timeout=STEP_TIMEOUT):
    end = time.time() + timeout
    while time.time() < end:
        value = predicate()
        if value:
            return value
        time.sleep(0.3)
    fail("timed out waiting for " + what)


def focused():
    app = korvane_app()
    if app is None:
        return None
    for acc in walk(app):
        try:
            st = acc.getState()
            if st.contains(pyatspi.STATE_FOCUSED) and showing(acc):
                return acc
        except Exception:
            continue
    return None


def top_level_dialogs():
    app = korvane_app()
    if app is None:
        return []
    return [w for w in (app.getChildAtIndex(i) for i in range(app.childCount))
            if w is not None and w.getRoleName() == "dialog" and showing(w)]


def focus_main_window():
    """The X focus on the program's 750 x 550 window (the only input this sends
    besides keys: what a window manager does when a window is mapped, and again
    when the modal splash above it closes)."""
    wait_for("the splash to close", lambda: not top_level_dialogs(), timeout=20)
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Korvane$"], capture_output=True,
                           text=True, timeout=20).stdout.split()
    for window in found:
        geometry = subprocess.run(["xdotool", "getwindowgeometry", window], capture_output=True, text=True).stdout
        if "750x550" in geometry:
            subprocess.run(["xdotool", "windowfocus", "--sync", window], check=False, timeout=20)
            time.sleep(0.5)
            return
    fail("no 750 x 550 Korvane window among %s" % found)


def tab_to(role, name, limit=25):
    for _ in range(limit):
        f = focused()
        if f is not None and f.getRoleName() == role and f.name == name:
            return
        key("Tab")
    fail("Tab never reached the %s \"%s\"" % (role, name))


def tree_rows():
    trees = find_all(role="tree")
    if not trees:
        return []
    tree = trees[0]
    rows = []
    for i in range(tree.childCount):
        row = tree.getChildAtIndex(i)
        st = row.getState()
        rows.append((row.getRoleName(), row.name, st.contains(pyatspi.STATE_SELECTED)))
    return rows


def press(name):
    buttons = find_all(role="push button", name=name)
    if not buttons:
        fail("no push button \"%s\" to press" % name)
    action = buttons[0].queryAction()
    for i in range(action.nActions):
        if action.getName(i).lower() == "press":
            action.doAction(i)
            return
    fail("the push button \"%s\" has no press action" % name)


def read_rows():
    rows = wait_for("the results list's rows", lambda: [r for r in tree_rows() if "out of date" in r[1]] and tree_rows(),
                    timeout=120)
    # Qt gives a tree's items the role AT-SPI calls "table cell" (as GTK's tree views do).
    for role, name, selected in rows:
        if role not in ("tree item", "table cell"):
            fail("a results row is a %s, not a tree item" % role)
    out_of_date = [r for r in rows if ", out of date, newer driver: date " in r[1] and ", version " in r[1]]
    up_to_date = [r for r in rows if r[1].endswith(", up to date")]
    classes = [r for r in rows if "out of date" not in r[1] and "up to date" not in r[1] and r[1]]
    if not out_of_date or not classes:
        fail("results rows lack an out-of-date driver or a class: %s" % rows)
    step("results rows: %d (%d classes, %d out of date, %d up to date); e.g. \"%s\", selected: \"%s\"" %
         (len(rows), len(classes), len(out_of_date), len(up_to_date), out_of_date[0][1],
          ([r[1] for r in rows if r[2]] or ["none"])[0]))
    return rows


def main():
    downloads = sys.argv[1]
    read_only = "--read" in sys.argv[2:]
    wait_for("the Korvane application on the accessibility bus", korvane_app)
    wait_for("the \"Scan Now\" button", lambda: find_all(role="push button", name="Scan Now"))
    buttons = {b.name for b in find_all(role="push button")}
    for want in ["Scan Now", "Settings", "Help", "About", "Minimize", "Close"]:
        if want not in buttons:
            fail("no push button \"%s\" on the start page (found %s)" % (want, sorted(buttons)))
    step("start page push buttons: " + ", ".join(sorted(buttons)))
    frames = find_all(role="frame") or find_all(role="window")
    if frames and frames[0].description:
        step("window description: " + frames[0].description)

    if read_only:
        press("Scan Now")
        read_rows()
        press("Close")
        step("Close pressed")
        return

    # Without a window manager nothing gives the window the keyboard: the X focus is
    # set on it as a window manager would (a dialog the program opens takes it itself).
    focus_main_window()
    tab_to("push button", "Scan Now")
    step("Tab reached Scan Now")
    key("Return")
    rows = read_rows()

    # The list has the focus; Down until an out-of-date driver with a package is selected.
    target = None
    for _ in range(len(rows) + 1):
        current = [r for r in tree_rows() if r[2]]
        if current and ", out of date, " in current[0][1] and "NVIDIA" in current[0][1]:
            target = current[0][1]
            break
        key("Down")
    if target is None:
        fail("Down never selected the NVIDIA driver's row")
    step("selected: " + target)
    key("Return")
    wait_for("the driver's information dialog", lambda: find_all(role="push button", name="Download"))
    step("the information dialog is open")
    wait_for("the focus on Download", lambda: (focused() is not None and focused().name == "Download"), timeout=10)
    key("Return")
    # The save dialog: its proposed name in the user's download folder, Enter saves.
    wait_for("the save dialog", lambda: find_all(role="push button", name="Save") or find_all(role="dialog",
             contains="Save"), timeout=20)
    time.sleep(0.5)
    key("Return")
    step("the save dialog accepted its proposed name")

    def package():
        for name in os.listdir(downloads):
            path = os.path.join(downloads, name)
            if name.endswith(".zip") and os.path.getsize(path) > 0:
                return path
        return None

    path = wait_for("the package in " + downloads, package, timeout=60)
    step("downloaded " + os.path.basename(path))
    time.sleep(1.0)
    # The download dialog: Esc is its Cancel or Close.
    if find_all(role="push button", name="Cancel") or find_all(role="dialog"):
        key("Escape")
    wait_for("the download dialog to close", lambda: not find_all(role="push button", name="Download"), timeout=10)
    step("the dialogs are closed")
    focus_main_window()
    tab_to("push button", "Close")
    key("Return")
    step("Close pressed")


if __name__ == "__main__":
    main()
