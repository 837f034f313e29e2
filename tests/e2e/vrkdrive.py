"""Drives the real VRKSearch program from outside, as a user would.

The program runs under its own Xvfb display. xdotool moves the mouse, clicks
and types; the program's accessibility tree (AT-SPI, on a private D-Bus
session) tells where each control is and what the status bar says. nginx
serves a demo mirror tree and tinyproxy stands in front of it, both on
127.0.0.1 with configuration files of their own. Every process started here
is stopped by close(), also when a step fails.

Debian packages: xvfb, openbox, xdotool, dbus-x11, at-spi2-core, python3-pyatspi,
gir1.2-atspi-2.0, imagemagick (screenshots), nginx-light, tinyproxy.
"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time


class DriveError(Exception):
    pass


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def port_taken(port):
    with socket.socket() as s:
        try:
            s.bind(("127.0.0.1", port))
        except OSError:
            return True
    return False


def wait_for(what, condition, timeout=20.0, step=0.05):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise DriveError("timed out waiting for " + what)
        time.sleep(step)


def _accepts(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


def _program(name):
    path = shutil.which(name) or shutil.which(name, path="/usr/sbin:/usr/local/sbin:/sbin")
    if not path:
        raise DriveError(name + " is not installed")
    return path


class Processes:
    """The processes a run started, each in a process group of its own."""

    def __init__(self):
        self.procs = []

    def start(self, args, **kw):
        p = subprocess.Popen(args, start_new_session=True, **kw)
        self.procs.append(p)
        return p

    def stop(self, p, grace=3.0):
        if p.poll() is None:
            try:
                os.killpg(p.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            try:
                p.wait(grace)
            except subprocess.TimeoutExpired:
                try:
                    os.killpg(p.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                p.wait()

    def stop_all(self):
        for p in reversed(self.procs):
            self.stop(p)
        self.procs.clear()


PEER_TEMPLATES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "share", "peers")


def from_template(name, **values):
    """A server's configuration from its template under share/peers, each
    @KEY@ replaced by its value."""
    with open(os.path.join(PEER_TEMPLATES, name)) as f:
        text = f.read()
    for key, value in values.items():
        text = text.replace("@%s@" % key, value)
    return text


def start_nginx(procs, root, port, workdir, server_lines=""):
    """nginx serving root on 127.0.0.1:port (and [::1]:port when the host has
    IPv6 loopback, so that "localhost" reaches it either way); server_lines
    go into its server block."""
    os.makedirs(os.path.join(workdir, "logs"), exist_ok=True)
    os.makedirs(os.path.join(workdir, "tmp"), exist_ok=True)
    listen = "    listen 127.0.0.1:%d;\n" % port
    if socket.has_ipv6:
        try:
            with socket.socket(socket.AF_INET6) as s:
                s.bind(("::1", 0))
            listen += "    listen [::1]:%d;\n" % port
        except OSError:
            pass
    conf = os.path.join(workdir, "nginx.conf")
    servers = "  server {\n%s    root %s;\n%s  }" % (listen, root, server_lines)
    with open(conf, "w") as f:
        f.write(from_template("nginx.conf.in", DIR=workdir, USER="user root;" if os.geteuid() == 0 else "",
                              ACCESS_LOG=os.path.join(workdir, "logs/access.log"), SERVERS=servers))
    p = procs.start([_program("nginx"), "-p", workdir, "-c", conf, "-e", os.path.join(workdir, "logs/error.log")],
                    stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
    wait_for("nginx on port %d" % port, lambda: p.poll() is not None or _accepts(port))
    if p.poll() is not None:
        raise DriveError("nginx did not start; see " + os.path.join(workdir, "logs/error.log"))
    return p


def start_tinyproxy(procs, port, workdir):
    os.makedirs(workdir, exist_ok=True)
    conf = os.path.join(workdir, "tinyproxy.conf")
    with open(conf, "w") as f:
        f.write(from_template("tinyproxy.conf.in", PORT=str(port), DIR=workdir,
                              EXTRA="User root\nGroup root\n" if os.geteuid() == 0 else ""))
    p = procs.start([_program("tinyproxy"), "-d", "-c", conf], stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
    wait_for("tinyproxy on port %d" % port, lambda: p.poll() is not None or _accepts(port))
    if p.poll() is not None:
        raise DriveError("tinyproxy did not start; see " + os.path.join(workdir, "tinyproxy.log"))
    return p


class Desktop:
    """An Xvfb display with a private D-Bus session and the accessibility bus."""

    def __init__(self, procs, workdir):
        self.procs = procs
        read_fd, write_fd = os.pipe()
        self.xvfb = procs.start(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24", "-nolisten",
                                 "tcp"], pass_fds=(write_fd,), stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as r:
            number = r.readline().strip()
        if not number:
            raise DriveError("Xvfb did not start")
        self.env = dict(os.environ)
        self.env["DISPLAY"] = ":" + number
        self.env.pop("WAYLAND_DISPLAY", None)
        self.env["XDG_RUNTIME_DIR"] = os.path.join(workdir, "runtime")
        os.makedirs(self.env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
        out = subprocess.run(["dbus-launch", "--sh-syntax"], env=self.env, check=True, capture_output=True,
                             text=True).stdout
        for line in out.splitlines():
            if "=" in line and line.startswith("DBUS_SESSION_BUS_"):
                key, value = line.split("=", 1)
                self.env[key] = value.rstrip(";").strip("'")
        self.dbus_pid = int(self.env.get("DBUS_SESSION_BUS_PID", "0"))
        self.atspi = procs.start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], env=self.env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # A window manager, as a user's desktop has: it activates windows and
        # closes them on Alt+F4.
        self.workdir = workdir
        self.wm = self._start_wm()
        # pyatspi finds the buses through the environment of this process.
        for key in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"):
            os.environ[key] = self.env[key]
        # Keys reach a window only through the manager's activation: wait
        # until it has announced itself on the root window.
        # A manager that quits while it starts is started again; what it said
        # is kept in openbox.log.
        def announced():
            if self.wm.poll() is not None:
                self.wm = self._start_wm()
            return subprocess.run(["xdotool", "get_num_desktops"], env=self.env,
                                  capture_output=True).returncode == 0
        wait_for("the window manager (see %s)" % os.path.join(workdir, "openbox.log"), announced, timeout=40.0)
        time.sleep(0.5)

    def _start_wm(self):
        log = open(os.path.join(self.workdir, "openbox.log"), "ab")
        try:
            return self.procs.start(["openbox", "--sm-disable"], env=self.env, stdout=log, stderr=subprocess.STDOUT)
        finally:
            log.close()

    def program_env(self):
        """The environment of a program on this desktop: the X11 platform and
        its accessibility bridge switched on."""
        env = dict(self.env, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        env.pop("QT_QPA_PLATFORMTHEME", None)
        return env

    def close(self):
        if self.dbus_pid:
            try:
                os.kill(self.dbus_pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            self.dbus_pid = 0

    def xdotool(self, *args):
        return subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env, check=True, capture_output=True,
                              text=True).stdout.strip()

    def windows(self, title):
        r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % title], env=self.env,
                           capture_output=True, text=True)
        return [w for w in r.stdout.split() if w]

    def wait_window(self, title, timeout=20.0):
        return wait_for("the window '%s'" % title, lambda: (self.windows(title) or [None])[0], timeout)

    def click(self, x, y, double=False):
        self.xdotool("mousemove", "--sync", int(x), int(y))
        time.sleep(0.05)
        if double:
            self.xdotool("click", "--repeat", "2", "--delay", "80", "1")
        else:
            self.xdotool("click", "1")

    def key(self, window, *keys):
        # Keys go to the focused window, as the user's do.
        self.xdotool("windowactivate", "--sync", window)
        self.xdotool("key", "--clearmodifiers", *keys)

    def screenshot(self, path, window=None):
        args = ["import", "-window", window or "root", path]
        subprocess.run(args, env=self.env, check=True, capture_output=True)


class Ui:
    """The program's accessibility tree: where a control is, what it says."""

    def __init__(self, app_name="VRKSearch"):
        import pyatspi  # after the buses are known
        self.pyatspi = pyatspi
        self.app_name = app_name

    def app(self):
        desk = self.pyatspi.Registry.getDesktop(0)
        for i in range(desk.childCount):
            a = desk.getChildAtIndex(i)
            if a is not None and a.name == self.app_name:
                return a
        return None

    def _walk(self, acc, found, depth=0):
        if acc is None or depth > 30:
            return
        try:
            found.append(acc)
            # A grid's cells are reached through its table interface: walking
            # them one by one costs a bus round trip each, seconds for a
            # result of a thousand rows.
            if acc.getRoleName() == "table":
                return
            for i in range(acc.childCount):
                self._walk(acc.getChildAtIndex(i), found, depth + 1)
        except Exception:
            pass

    def nodes(self, within=None):
        found = []
        self._walk(within or self.app(), found)
        return found

    def find(self, role, name=None, within=None):
        for n in self.nodes(within):
            try:
                if n.getRoleName() == role and (name is None or n.name == name):
                    return n
            except Exception:
                continue
        return None

    def centre(self, node):
        e = node.queryComponent().getExtents(self.pyatspi.DESKTOP_COORDS)
        return e.x + e.width // 2, e.y + e.height // 2

    def checked(self, node):
        return node.getState().contains(self.pyatspi.STATE_CHECKED)

    def status_panels(self, window_title="Form1"):
        frame = self.find("frame", window_title)
        bar = self.find("status bar", within=frame) if frame else None
        if bar is None:
            return []
        # The panels are the bar's labels (it has other children too).
        children = [bar.getChildAtIndex(i) for i in range(bar.childCount)]
        return [c.name for c in children if c is not None and c.getRoleName() == "label"]

    def first_grid_row(self):
        """The centre of the first cell of the result grid's first row."""
        table = self.find("table")
        if table is None:
            return None
        try:
            grid = table.queryTable()
            if grid.nRows < 1:
                return None
            return self.centre(grid.getAccessibleAt(0, 0))
        except Exception:
            return None
