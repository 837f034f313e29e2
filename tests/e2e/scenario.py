"""The user's way through the program, driven from outside (vrkdrive): a
search for "Delphi 5", a double click on the first result row with the
"Bestätigung" box answered from the keyboard, "File" → "Get Database" with
its questions answered, and the window closed. Shared by the real-window test
and the demo without a display.
"""
import os
import sqlite3

from vrkdrive import DriveError, wait_for


def catalogue_rows(db_dir):
    with sqlite3.connect("file:%s/FILES.DB?mode=ro" % db_dir, uri=True) as c:
        return c.execute("SELECT count(*) FROM FILES").fetchone()[0]


def _panel(ui, i):
    panels = ui.status_panels()
    return panels[i] if len(panels) > i else ""


def double_click_first_row(desktop, ui):
    row = wait_for("a result row", ui.first_grid_row)
    desktop.click(*row)
    desktop.click(*row, double=True)
    box = desktop.wait_window("Bestätigung")
    desktop.key(box, "Return")


def run(desktop, ui, window, program, download, db_dir, overwrite_question, shots=None, say=print, more=None,
        seen=None):
    """Runs the scenario on the started program, whose downloads land in the
    directory download; returns what it saw (added to seen, if given). more,
    if given, is called with (ui, shot, seen) before the window is closed."""
    seen = {} if seen is None else seen

    def shot(name):
        if shots:
            path = os.path.join(shots, "demo-%s.png" % name)
            desktop.screenshot(path, window)
            seen.setdefault("screenshots", []).append(path)

    wait_for("the window's controls", lambda: ui.find("push button", "submit"))
    shot("0-start")
    # "Delphi 5" of the criteria panel: the upper of the two boxes of that
    # caption (the lower one is the detail panel's).
    boxes = [n for n in ui.nodes() if n.getRoleName() == "check box" and n.name == "Delphi 5"]
    if not boxes:
        raise DriveError("no Delphi 5 box")
    delphi5 = min(boxes, key=lambda n: ui.centre(n)[1])
    desktop.click(*ui.centre(delphi5))
    wait_for("Delphi 5 ticked", lambda: ui.checked(delphi5))
    desktop.click(*ui.centre(ui.find("push button", "submit")))
    wait_for("the search total", lambda: _panel(ui, 1).startswith(" Total Files "))
    seen["search"] = _panel(ui, 1)
    say("search (Delphi 5): status bar %r" % ui.status_panels()[:2])
    shot("1-search")

    double_click_first_row(desktop, ui)

    def members():
        names = sorted(os.listdir(download))
        return names if any(n.endswith(".pas") for n in names) else None

    seen["download"] = wait_for("the entry's members in Download", members, timeout=30)
    wait_for("Ready after the download", lambda: _panel(ui, 1) == "Ready", timeout=30)
    say("download: Download holds %s; status bar %r" % (", ".join(seen["download"]), ui.status_panels()[:2]))
    shot("2-download")

    before = catalogue_rows(db_dir)
    menu_bar = ui.find("menu bar")
    desktop.click(*ui.centre(ui.find("menu item", "File", within=menu_bar)))
    # The item has its place once the drop-down is open (below the menu bar).
    item = wait_for("the open File menu", lambda: next(
        (n for n in ui.nodes() if n.getRoleName() == "menu item" and n.name == "Get Database"
         and ui.centre(n)[1] > ui.centre(menu_bar)[1]), None))
    desktop.click(*ui.centre(item))
    box = desktop.wait_window("Bestätigung")
    desktop.key(box, "Return")
    if overwrite_question:
        box = desktop.wait_window("Warnung", timeout=30)
        desktop.key(box, "Return")
    wait_for("Ready after Get Database", lambda: _panel(ui, 1) == "Ready", timeout=60)
    seen["rows_before"], seen["rows_after"] = before, catalogue_rows(db_dir)
    say("Get Database: the catalogue holds %d rows (was %d); status bar %r"
        % (seen["rows_after"], before, ui.status_panels()[:2]))
    # The new catalogue's rows after the next search.
    desktop.click(*ui.centre(ui.find("push button", "submit")))
    wait_for("the search total", lambda: _panel(ui, 1).startswith(" Total Files "))
    seen["search_after"] = _panel(ui, 1)
    say("search again (Delphi 5): status bar %r" % ui.status_panels()[:2])
    shot("3-getdb")
    if more:
        more(ui, shot, seen)

    desktop.key(window, "alt+F4")
    wait_for("the program to end", lambda: program.poll() is not None, timeout=20)
    seen["exit"] = program.returncode
    return seen
