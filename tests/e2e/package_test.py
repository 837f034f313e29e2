#!/usr/bin/python3
"""The program as the Debian package installs it: the package made by cpack
from this build, unpacked with dpkg-deb -x into a temporary root and checked
(lintian shows no error, the desktop entry and the metainfo validate), then
its vrk and its vrksearch run from there for two users whose homes are
temporary folders, against a demo mirror (nginx) and a proxy (tinyproxy) on
free 127.0.0.1 ports:

- the first has only HOME: vrk search, vrk download and vrk getdb make and
  use ~/.config/VRKSearch, ~/.local/share/VRKSearch/db and
  ~/Downloads/VRKSearch;
- the second has the XDG variables set: the window (scenario.py) searches,
  downloads, refreshes the catalogue and is closed; VRK.ini, the catalogue
  and the downloads are in the XDG folders.

Nothing in the unpacked root may change, and nothing may land in the
working directory.

  package_test.py BUILD_DIR CPACK
"""
import hashlib
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scenario  # noqa: E402
import vrkdrive  # noqa: E402
from real_window_test import KEYS, missing_tools  # noqa: E402
from vrkdrive import DriveError  # noqa: E402

rows = scenario.catalogue_rows
PACKAGING = ["dpkg-deb", "dpkg-shlibdeps", "lintian", "desktop-file-validate", "appstreamcli"]


def snapshot(root):
    """Every path below root with its kind, mode and content digest."""
    state = {}
    for top, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(top, name)
            st = os.lstat(path)
            digest = ""
            if os.path.isfile(path) and not os.path.islink(path):
                with open(path, "rb") as f:
                    digest = hashlib.sha256(f.read()).hexdigest()
            state[os.path.relpath(path, root)] = (st.st_mode, digest)
    return state


def files_below(root):
    return sorted(os.path.relpath(os.path.join(t, n), root) for t, _, names in os.walk(root) for n in names)


def run(args, env, cwd, what):
    r = subprocess.run(args, env=env, cwd=cwd, capture_output=True, text=True, timeout=300)
    if r.returncode != 0:
        raise DriveError("%s failed (%d):\n%s%s" % (what, r.returncode, r.stdout, r.stderr))
    return r.stdout + r.stderr


def make_package(build, cpack, base):
    out = os.path.join(base, "pkg")
    # gzip rather than the package's xz: the same files, made in a few seconds.
    run([cpack, "-G", "DEB", "-D", "CPACK_DEBIAN_COMPRESSION_TYPE=gzip", "--config",
         os.path.join(build, "CPackConfig.cmake"), "-B", out], dict(os.environ), build, "cpack")
    debs = [n for n in os.listdir(out) if n.startswith("vrksearch_") and n.endswith(".deb")]
    if len(debs) != 1:
        raise DriveError("cpack made %s" % debs)
    return os.path.join(out, debs[0])


def check_package(deb, root):
    env = dict(os.environ)
    run(["lintian", "--fail-on", "error", deb], env, None, "lintian")
    entries = [os.path.join(root, "usr/share/applications", n) for n in os.listdir(
        os.path.join(root, "usr/share/applications"))]
    run(["desktop-file-validate"] + entries, env, None, "desktop-file-validate")
    metainfo = os.path.join(root, "usr/share/metainfo")
    run(["appstreamcli", "validate", "--no-net"] + [os.path.join(metainfo, n) for n in os.listdir(metainfo)],
        env, None, "appstreamcli validate")
    for path in ["usr/bin/vrksearch", "usr/bin/vrk", "usr/share/vrksearch/db/FILES.DB",
                 "usr/share/icons/hicolor/scalable/apps/vrksearch.svg",
                 "usr/share/icons/hicolor/48x48/apps/vrksearch.png", "usr/share/man/man1/vrk.1.gz"]:
        if not os.path.exists(os.path.join(root, path)):
            raise DriveError("the package lacks /" + path)


def user_env(home, **xdg):
    env = dict(os.environ, HOME=home)
    for key in ("XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DOWNLOAD_DIR"):
        env.pop(key, None)
    env.update(xdg)
    return env


def commands_user(root, base, mirror_url, installed_rows, mirror_rows, elsewhere):
    """vrk from the package for a user with HOME only."""
    home = os.path.join(base, "home-vrk")
    os.makedirs(home)
    env = user_env(home)
    vrk = os.path.join(root, "usr/bin/vrk")
    found = run([vrk, "search", "--tool", "D50"], env, elsewhere, "vrk search").splitlines()
    db = os.path.join(home, ".local/share/VRKSearch/db")
    total = found[-1] if found else ""
    if rows(db) != installed_rows or not total.startswith(" Total Files ") or total == " Total Files 0":
        raise DriveError("vrk search on the user's copy of the catalogue: %s" % found[-3:])
    with sqlite3.connect("file:%s/FILES.DB?mode=ro" % db, uri=True) as c:
        vrk_dir, file_name = c.execute("SELECT VRKDir, FileName FROM FILES ORDER BY rowid LIMIT 1").fetchone()
    transfer = ["--mirror", mirror_url, "--no-proxy", "--yes"]
    run([vrk, "download"] + transfer + ["%s/%s" % (vrk_dir, file_name)], env, elsewhere, "vrk download")
    downloads = os.path.join(home, "Downloads/VRKSearch")
    got = sorted(os.listdir(downloads))
    if "readme.txt" not in got or any(n.endswith(".zip") for n in got):
        raise DriveError("~/Downloads/VRKSearch holds %s" % got)
    run([vrk, "getdb"] + transfer, env, elsewhere, "vrk getdb")
    if rows(db) != mirror_rows:
        raise DriveError("after vrk getdb the user's catalogue holds %d rows, not %d" % (rows(db), mirror_rows))
    # vrk writes no settings; the alias names the user's catalogue.
    config = os.path.join(home, ".config/VRKSearch")
    if sorted(os.listdir(config)) != ["aliases.ini"] or db not in open(os.path.join(config, "aliases.ini")).read():
        raise DriveError("~/.config/VRKSearch holds %s" % os.listdir(config))
    print("vrk: search, download into ~/Downloads/VRKSearch, getdb into ~/.local/share/VRKSearch/db")


def window_user(root, base, web, proxy, mirror_rows, elsewhere):
    """vrksearch from the package for a user with the XDG variables set."""
    home = os.path.join(base, "home-window")
    xdg = {"XDG_CONFIG_HOME": os.path.join(home, "cfg"), "XDG_DATA_HOME": os.path.join(home, "data"),
           "XDG_DOWNLOAD_DIR": os.path.join(home, "dl")}
    config = os.path.join(xdg["XDG_CONFIG_HOME"], "VRKSearch")
    os.makedirs(config)
    with open(os.path.join(config, "VRK.ini"), "w") as f:
        f.write("[Options]\nMirror=http://127.0.0.1:%d\nProxy=127.0.0.1\nProxyport=%d\nUseProxy=1\n"
                "AskConnect=1\nOverwriteData=1\nUnzipFile=1\nDeleteUnzip=1\n" % (web, proxy))
    procs = vrkdrive.Processes()
    desktop = None
    log_path = os.path.join(base, "vrksearch.log")
    try:
        desktop = vrkdrive.Desktop(procs, base)
        env = dict(desktop.program_env(), HOME=home, **xdg)
        with open(log_path, "w") as log:
            program = procs.start([os.path.join(root, "usr/bin/vrksearch")], cwd=elsewhere, env=env, stdout=log,
                                  stderr=log)
            window = desktop.wait_window("Form1")
            # VRK_PACKAGE_SHOTS: a folder for a screenshot after each step.
            seen = scenario.run(desktop, vrkdrive.Ui(), window, program, os.path.join(xdg["XDG_DOWNLOAD_DIR"],
                                "VRKSearch"), os.path.join(xdg["XDG_DATA_HOME"], "VRKSearch/db"),
                                overwrite_question=False, shots=os.environ.get("VRK_PACKAGE_SHOTS"))
    except Exception:
        if os.path.exists(log_path):
            print(open(log_path, errors="replace").read()[-3000:], file=sys.stderr)
        raise
    finally:
        procs.stop_all()
        if desktop is not None:
            desktop.close()
    if seen["exit"] != 0 or seen["rows_after"] != mirror_rows or "readme.txt" not in seen["download"]:
        raise DriveError("the window: %s" % {k: seen[k] for k in ("exit", "rows_after", "download")})
    ini = open(os.path.join(config, "VRK.ini")).read()
    missing = [k for k in KEYS if "\n%s=" % k not in "\n" + ini]
    if missing:
        raise DriveError("VRK.ini lacks %s" % missing)
    # What the program keeps, it keeps in the XDG folders.
    for path in ["cfg/VRKSearch/aliases.ini", "data/VRKSearch/db/FILES.DB"]:
        if not os.path.exists(os.path.join(home, path)):
            raise DriveError("the program did not make %s in the home" % path)
    print("window: search, download into $XDG_DOWNLOAD_DIR/VRKSearch, Get Database; VRK.ini in "
          "$XDG_CONFIG_HOME/VRKSearch holds the nine keys")


def main():
    build, cpack = os.path.abspath(sys.argv[1]), sys.argv[2]
    missing = missing_tools() + [t for t in PACKAGING if not shutil.which(t)]
    if missing:
        print("missing: " + ", ".join(missing) + " (scripts/bootstrap installs them)", file=sys.stderr)
        return 1 if os.environ.get("CI") == "true" else 77
    base = tempfile.mkdtemp(prefix="vrk-package-")
    procs = vrkdrive.Processes()
    try:
        deb = make_package(build, cpack, base)
        root = os.path.join(base, "root")
        run(["dpkg-deb", "-x", deb, root], dict(os.environ), None, "dpkg-deb -x")
        check_package(deb, root)
        print("package: %s; lintian, desktop-file-validate and appstreamcli validate pass" % os.path.basename(deb))
        before = snapshot(root)
        installed_rows = rows(os.path.join(root, "usr/share/vrksearch/db"))

        # The mirror of the demo catalogue: the installed catalogue's entries
        # and a newer catalogue.
        mirror = os.path.join(build, "bin/demo/mirror")
        mirror_db = os.path.join(base, "mirror-db")
        subprocess.run(["unzip", "-q", os.path.join(mirror, "ftp/resource/vrk_db.zip"), "-d", mirror_db], check=True)
        mirror_rows = rows(mirror_db)
        web, proxy = vrkdrive.free_port(), vrkdrive.free_port()
        vrkdrive.start_nginx(procs, mirror, web, os.path.join(base, "nginx"))
        vrkdrive.start_tinyproxy(procs, proxy, os.path.join(base, "tinyproxy"))
        elsewhere = os.path.join(base, "elsewhere")
        os.makedirs(elsewhere)

        commands_user(root, base, "http://127.0.0.1:%d" % web, installed_rows, mirror_rows, elsewhere)
        window_user(root, base, web, proxy, mirror_rows, elsewhere)

        after = snapshot(root)
        changed = sorted(k for k in set(before) | set(after) if before.get(k) != after.get(k))
        if changed:
            raise DriveError("the unpacked root changed: %s" % changed[:10])
        if os.listdir(elsewhere):
            raise DriveError("the working directory received %s" % files_below(elsewhere))
        print("the unpacked root is unchanged; the working directory is empty")
        return 0
    except Exception as e:
        print("FAILED: %s: %s" % (type(e).__name__, e), file=sys.stderr)
        return 1
    finally:
        procs.stop_all()
        shutil.rmtree(base, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
