#!/usr/bin/python3
"""The real program as a user meets it: the built vrksearch binary, copied
beside a VRK.ini and an aliases.ini of this test's own, on a demo catalogue,
with a demo mirror (nginx) and a proxy (tinyproxy) on free 127.0.0.1 ports,
under Xvfb, driven only from outside with xdotool.

It ticks "Delphi 5", clicks "submit", double-clicks the first result row,
answers the "Bestätigung" box from the keyboard and waits for the entry's
members in Download; then runs "File" → "Get Database", answers "Warnung",
waits for the refreshed catalogue; closes the window and checks VRK.ini.

  real_window_test.py BIN_DIR [SHOT_DIR]
"""
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vrkdrive  # noqa: E402
from vrkdrive import DriveError, wait_for  # noqa: E402

INSTALLED_ROWS = 120
MIRROR_ROWS = 150  # the mirror's catalogue has more rows: the refresh shows


def rows(db_dir):
    with sqlite3.connect("file:%s/FILES.DB?mode=ro" % db_dir, uri=True) as c:
        return c.execute("SELECT count(*) FROM FILES").fetchone()[0]


def main():
    bin_dir = os.path.abspath(sys.argv[1])
    shots = sys.argv[2] if len(sys.argv) > 2 else None
    base = tempfile.mkdtemp(prefix="vrk-e2e-")
    procs = vrkdrive.Processes()
    desktop = None
    started = time.monotonic()
    try:
        prog = os.path.join(base, "prog")
        work = os.path.join(base, "work")
        db = os.path.join(base, "db")
        mirror = os.path.join(base, "mirror")
        os.makedirs(prog)
        os.makedirs(os.path.join(work, "Download"))
        shutil.copy2(os.path.join(bin_dir, "vrksearch"), prog)
        demogen = os.path.join(bin_dir, "demogen")
        # The same seed: the installed catalogue is the first rows of the
        # mirror's, so every installed entry is on the mirror.
        subprocess.run([demogen, "--out", os.path.join(base, "mirror-db"), "--rows", str(MIRROR_ROWS), "--seed", "5",
                        "--mirror", mirror], check=True, stdout=subprocess.DEVNULL)
        subprocess.run([demogen, "--out", db, "--rows", str(INSTALLED_ROWS), "--seed", "5",
                        "--aliases", os.path.join(prog, "aliases.ini")], check=True, stdout=subprocess.DEVNULL)
        web, proxy = vrkdrive.free_port(), vrkdrive.free_port()
        vrkdrive.start_nginx(procs, mirror, web, os.path.join(base, "nginx"))
        vrkdrive.start_tinyproxy(procs, proxy, os.path.join(base, "tinyproxy"))
        with open(os.path.join(prog, "VRK.ini"), "w") as f:
            f.write("[Options]\nMirror=http://127.0.0.1:%d\nProxy=127.0.0.1\nProxyport=%d\nUseProxy=1\n"
                    "AskConnect=1\nOverwriteData=0\nUnzipFile=1\nDeleteUnzip=1\n" % (web, proxy))

        desktop = vrkdrive.Desktop(procs, base)
        env = dict(desktop.env, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        env.pop("QT_QPA_PLATFORMTHEME", None)
        log = open(os.path.join(base, "vrksearch.log"), "w")
        program = procs.start([os.path.join(prog, "vrksearch")], cwd=work, env=env, stdout=log, stderr=log)
        window = desktop.wait_window("Form1")
        ui = vrkdrive.Ui()
        wait_for("the window's controls", lambda: ui.find("push button", "submit"))

        def shot(name):
            if shots:
                desktop.screenshot(os.path.join(shots, "demo-%s.png" % name), window)

        # "Delphi 5" of the criteria panel: the upper of the two boxes of
        # that caption (the lower one is the detail panel's).
        boxes = [n for n in ui.nodes() if n.getRoleName() == "check box" and n.name == "Delphi 5"]
        delphi5 = min(boxes, key=lambda n: ui.centre(n)[1])
        desktop.click(*ui.centre(delphi5))
        wait_for("Delphi 5 ticked", lambda: ui.checked(delphi5))
        desktop.click(*ui.centre(ui.find("push button", "submit")))
        wait_for("the search total", lambda: (ui.status_panels() + ["", ""])[1].startswith(" Total Files "))
        total = ui.status_panels()[1]
        print("search: Delphi 5 ->", total.strip())
        shot("1-search")

        row = wait_for("a result row", ui.first_grid_row)
        desktop.click(*row)
        desktop.click(*row, double=True)
        box = desktop.wait_window("Bestätigung")
        desktop.key(box, "Return")
        downloaded = wait_for("the entry's members in Download", lambda: sorted(
            f for f in os.listdir(os.path.join(work, "Download"))) if any(
            f.endswith(".pas") for f in os.listdir(os.path.join(work, "Download"))) else None, timeout=30)
        wait_for("Ready", lambda: (ui.status_panels() + ["", ""])[1] == "Ready")
        print("download: Download holds", ", ".join(downloaded), "| status bar:", ui.status_panels()[:2])
        if "readme.txt" not in downloaded or any(f.endswith(".zip") for f in downloaded):
            raise DriveError("unexpected Download content: %s" % downloaded)
        shot("2-download")

        desktop.click(*ui.centre(ui.find("menu", "File")))
        item = wait_for("the Get Database item", lambda: ui.find("menu item", "Get Database"))
        desktop.click(*ui.centre(item))
        box = desktop.wait_window("Bestätigung")
        desktop.key(box, "Return")
        box = desktop.wait_window("Warnung", timeout=30)
        desktop.key(box, "Return")
        wait_for("the refreshed catalogue", lambda: rows(db) == MIRROR_ROWS, timeout=30)
        wait_for("Ready", lambda: (ui.status_panels() + ["", ""])[1] == "Ready")
        print("Get Database: the catalogue now holds %d rows (was %d) | status bar: %s"
              % (rows(db), INSTALLED_ROWS, ui.status_panels()[:2]))
        shot("3-getdb")

        desktop.key(window, "alt+F4")
        wait_for("the program to end", lambda: program.poll() is not None, timeout=20)
        if program.returncode != 0:
            raise DriveError("vrksearch exited with %d" % program.returncode)
        with open(os.path.join(prog, "VRK.ini")) as f:
            ini = f.read()
        keys = ["Mirror", "Host", "Proxy", "Proxyport", "UseProxy", "DeleteUnzip", "AskConnect", "OverwriteData",
                "UnzipFile"]
        missing = [k for k in keys if "\n%s=" % k not in "\n" + ini]
        if missing:
            raise DriveError("VRK.ini lacks %s:\n%s" % (missing, ini))
        print("VRK.ini holds the nine keys; %.1f s" % (time.monotonic() - started))
        return 0
    except Exception as e:  # report, then clean up
        print("FAILED:", e, file=sys.stderr)
        logfile = os.path.join(base, "vrksearch.log")
        if os.path.exists(logfile):
            print(open(logfile).read()[-3000:], file=sys.stderr)
        if desktop is not None and shots:
            try:
                desktop.screenshot(os.path.join(shots, "demo-failed.png"))
            except Exception:
                pass
        return 1
    finally:
        procs.stop_all()
        if desktop is not None:
            desktop.close()
        shutil.rmtree(base, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
