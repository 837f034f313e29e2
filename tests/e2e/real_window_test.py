#!/usr/bin/python3
"""The real program as a user meets it: the built vrksearch binary, copied
beside a VRK.ini and an aliases.ini of this test's own, on a demo catalogue,
with a demo mirror (nginx) and a proxy (tinyproxy) on free 127.0.0.1 ports,
under Xvfb, driven only from outside with xdotool (scenario.py), then once
more on an entry whose Zip is damaged on the mirror, which must stay in
Download with the reason in the status bar, and on that entry grown to a
body nginx sends slowly: the progress bar shows mid-download, and Esc ends
the transfer at once with "Cancelled", the partial body kept hidden. Afterwards VRK.ini must hold the
nine keys. Every process it started is stopped, also when a step fails.

  real_window_test.py BIN_DIR

With VRK_E2E_SHOTS=DIR in the environment it writes a screenshot after each
step into DIR.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scenario  # noqa: E402
import vrkdrive  # noqa: E402
from vrkdrive import DriveError  # noqa: E402

INSTALLED_ROWS = 120
MIRROR_ROWS = 150  # the mirror's catalogue is newer: the refresh shows
KEYS = ["Mirror", "Host", "Proxy", "Proxyport", "UseProxy", "DeleteUnzip", "AskConnect", "OverwriteData", "UnzipFile"]


NEEDED = ["Xvfb", "xdotool", "openbox", "dbus-launch", "nginx", "tinyproxy", "ss"]


def missing_tools():
    missing = [t for t in NEEDED if not shutil.which(t, path=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")]
    if not os.path.exists("/usr/libexec/at-spi-bus-launcher"):
        missing.append("at-spi2-core")
    try:
        import gi  # noqa: F401
        import pyatspi  # noqa: F401
    except ImportError:
        missing.append("python3-pyatspi")
    return missing


def kept_download(desktop, work, mirror):
    """The first row's entry again, its mirror copy damaged in its first
    member's data: the body arrives whole, the Zip does not unpack whole and
    stays in Download, and the status bar says why."""
    def step(ui, shot, seen):
        unit = next(n[:-4] for n in seen["download"] if n.endswith(".pas"))
        served = next(os.path.join(d, unit + ".zip") for d, _, files in os.walk(os.path.join(mirror, "ftp"))
                      if unit + ".zip" in files)
        with open(served, "rb") as f:
            data = bytearray(f.read())
        name_len, extra_len = struct.unpack_from("<HH", data, 26)
        data[30 + name_len + extra_len + 2] ^= 0x55
        with open(served, "wb") as f:
            f.write(data)
        scenario.double_click_first_row(desktop, ui)
        want = "Kept Download/%s.zip: a member failed its check (readme.txt" % unit
        vrkdrive.wait_for("the kept line", lambda: (ui.status_panels()[1:2] or [""])[0].startswith(want),
                          timeout=30)
        shot("4-kept")
        download = os.path.join(work, "Download")
        with open(os.path.join(download, unit + ".zip"), "rb") as f:
            kept = f.read()
        if kept != bytes(data) or any(n.startswith(".") for n in os.listdir(download)):
            raise DriveError("Download holds %s; the kept Zip is%s the body"
                             % (sorted(os.listdir(download)), "" if kept == bytes(data) else " not"))
        seen["kept"] = ui.status_panels()[1]
        cancelled_download(desktop, ui, shot, seen, work, served)
    return step


def established(port):
    out = subprocess.run(["ss", "-Htn", "state", "established", "( dport = :%d )" % port],
                         capture_output=True, text=True).stdout
    return bool(out.strip())


def cancelled_download(desktop, ui, shot, seen, work, served):
    """The same entry, now 8 MiB that nginx sends at 256 KiB/s after its
    first MiB: the bar in the third panel shows the percentage and the time
    left; Esc closes the connection at once, panel 1 reads Cancelled, the
    kept Zip is as it was and the partial body waits under its hidden name."""
    name = os.path.basename(served)
    download = os.path.join(work, "Download")
    with open(os.path.join(download, name), "rb") as f:
        kept = f.read()
    with open(served, "wb") as f:
        f.write(os.urandom(8 << 20))
    scenario.double_click_first_row(desktop, ui)
    bar = vrkdrive.wait_for("the progress bar", lambda: ui.find("progress bar"), timeout=30)
    vrkdrive.wait_for("some percent", lambda: bar.queryValue().currentValue >= 12, timeout=30)
    shot("5-progress")
    seen["bar"] = (bar.name, bar.queryValue().currentValue)
    port = int(seen["web"])
    if not established(port):
        raise DriveError("no connection to the mirror while the bar shows")
    window = desktop.windows("Form1")[0]
    desktop.xdotool("windowactivate", "--sync", window)
    pressed = time.monotonic()
    desktop.xdotool("key", "Escape")
    vrkdrive.wait_for("the connection closed", lambda: not established(port), timeout=5, step=0.001)
    seen["esc_to_closed_ms"] = (time.monotonic() - pressed) * 1000
    vrkdrive.wait_for("Cancelled", lambda: (ui.status_panels()[1:2] or [""])[0] == "Cancelled", timeout=10)
    shot("6-cancelled")
    part = os.path.join(download, "." + name + ".part")
    with open(os.path.join(download, name), "rb") as f:
        same = f.read() == kept
    if not same or not os.path.exists(part) or not os.path.exists(part + ".resume"):
        raise DriveError("Download holds %s after the cancel; the kept Zip is%s as it was"
                         % (sorted(os.listdir(download)), "" if same else " not"))
    if ui.find("progress bar") is not None and ui.find("progress bar").getState().contains(
            ui.pyatspi.STATE_SHOWING):
        raise DriveError("the progress bar still shows after the cancel")


def main():
    bin_dir = os.path.abspath(sys.argv[1])
    missing = missing_tools()
    if missing:
        print("missing: " + ", ".join(missing) + " (scripts/bootstrap installs them)", file=sys.stderr)
        # On CI a missing tool is a failure; elsewhere the test is skipped.
        return 1 if os.environ.get("CI") == "true" else 77
    base = tempfile.mkdtemp(prefix="vrk-e2e-")
    procs = vrkdrive.Processes()
    desktop = None
    started = time.monotonic()
    log_path = os.path.join(base, "vrksearch.log")
    try:
        prog, work, db, mirror = (os.path.join(base, d) for d in ("prog", "work", "db", "mirror"))
        os.makedirs(prog)
        os.makedirs(os.path.join(work, "Download"))
        shutil.copy2(os.path.join(bin_dir, "vrksearch"), prog)
        demogen = os.path.join(bin_dir, "demogen")
        # The same seed: the installed catalogue is the first rows of the
        # mirror's, so every installed entry is on the mirror.
        subprocess.run([demogen, "--out", os.path.join(base, "mirror-db"), "--rows", str(MIRROR_ROWS), "--seed", "5",
                        "--mirror", mirror], check=True, stdout=subprocess.DEVNULL)
        subprocess.run([demogen, "--out", db, "--rows", str(INSTALLED_ROWS), "--seed", "5", "--aliases",
                        os.path.join(prog, "aliases.ini")], check=True, stdout=subprocess.DEVNULL)
        web, proxy = vrkdrive.free_port(), vrkdrive.free_port()
        # Small files at full speed, anything past its first MiB slowly.
        vrkdrive.start_nginx(procs, mirror, web, os.path.join(base, "nginx"),
                             "    limit_rate_after 1m;\n    limit_rate 256k;\n")
        vrkdrive.start_tinyproxy(procs, proxy, os.path.join(base, "tinyproxy"))
        with open(os.path.join(prog, "VRK.ini"), "w") as f:
            f.write("[Options]\nMirror=http://127.0.0.1:%d\nProxy=127.0.0.1\nProxyport=%d\nUseProxy=1\n"
                    "AskConnect=1\nOverwriteData=0\nUnzipFile=1\nDeleteUnzip=1\n" % (web, proxy))

        desktop = vrkdrive.Desktop(procs, base)
        log = open(log_path, "w")
        program = procs.start([os.path.join(prog, "vrksearch")], cwd=work, env=desktop.program_env(), stdout=log,
                              stderr=log)
        window = desktop.wait_window("Form1")
        seen = scenario.run(desktop, vrkdrive.Ui(), window, program, os.path.join(work, "Download"), db,
                            overwrite_question=True, shots=os.environ.get("VRK_E2E_SHOTS"),
                            more=kept_download(desktop, work, mirror), seen={"web": web})
        if "readme.txt" not in seen["download"] or any(n.endswith(".zip") for n in seen["download"]):
            raise DriveError("unexpected Download content: %s" % seen["download"])
        if seen["rows_after"] != MIRROR_ROWS:
            raise DriveError("the catalogue holds %d rows, not the mirror's %d" % (seen["rows_after"], MIRROR_ROWS))
        if seen["exit"] != 0:
            raise DriveError("vrksearch exited with %d" % seen["exit"])
        with open(os.path.join(prog, "VRK.ini")) as f:
            ini = f.read()
        missing = [k for k in KEYS if "\n%s=" % k not in "\n" + ini]
        if missing:
            raise DriveError("VRK.ini lacks %s:\n%s" % (missing, ini))
        print("status bar after the damaged entry: %r" % seen["kept"])
        print("progress bar mid-download: %r; Esc to the connection closed: %.1f ms"
              % (seen["bar"], seen["esc_to_closed_ms"]))
        print("VRK.ini holds the nine keys; %.1f s in all" % (time.monotonic() - started))
        return 0
    except Exception as e:
        print("FAILED: %s: %s" % (type(e).__name__, e), file=sys.stderr)
        if os.path.exists(log_path):
            print(open(log_path, errors="replace").read()[-3000:], file=sys.stderr)
        return 1
    finally:
        procs.stop_all()
        if desktop is not None:
            desktop.close()
        shutil.rmtree(base, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
