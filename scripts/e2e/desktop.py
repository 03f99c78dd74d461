"""A private X display with its own session bus and accessibility bus.

Everything here is started by us and stopped by us; nothing of the user's desktop is touched.
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

XVFB = "/usr/bin/Xvfb"
DBUS_DAEMON = "/usr/bin/dbus-daemon"
ATSPI_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"


class SetupError(RuntimeError):
    """The test desktop could not be brought up."""


def missing_programs():
    """Programs or Python modules the headless desktop needs and this machine lacks."""
    missing = [p for p in (XVFB, DBUS_DAEMON, ATSPI_LAUNCHER, "/usr/bin/import") if not os.access(p, os.X_OK)]
    if shutil.which("xdotool") is None:
        missing.append("xdotool")
    try:
        import gi  # noqa: F401

        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi  # noqa: F401
    except (ImportError, ValueError):
        missing.append("python3-gi / gir1.2-atspi-2.0")
    return missing


def run_isolated(script, marker, program):
    """Runs `script` (this process's arguments) again where the updater's one-per-machine guard
    is its own (see guard.py), once: `marker` in the environment says it already is. Runs of
    other build trees, CI jobs or an installed updater on this machine must not refuse ours.
    Where that cannot be done and another updater holds the machine, `program` says so in one
    line and this process ends."""
    import guard

    if os.environ.get(marker):
        return
    prefix = guard.own_guard_prefix() if shutil.which("unshare") else None
    if prefix and subprocess.run(["unshare", *prefix, "true"], capture_output=True).returncode == 0:
        sys.stdout.flush()
        os.execvpe("unshare", ["unshare", *prefix, sys.executable, os.path.abspath(script), *sys.argv[1:]],
                   {**os.environ, marker: "1"})
    held = guard.holder()
    if held:
        sys.exit(f"{program}: {held}; close it, then run again")
    print("note: no network namespace here; another updater on this machine would refuse this run")


def _read_line_from_fd(fd, timeout, what):
    deadline = time.monotonic() + timeout
    data = b""
    os.set_blocking(fd, False)
    while b"\n" not in data:
        if time.monotonic() > deadline:
            raise SetupError(f"{what} did not report in {timeout:.0f} s")
        try:
            chunk = os.read(fd, 256)
        except BlockingIOError:
            time.sleep(0.02)
            continue
        if not chunk:
            raise SetupError(f"{what} ended before reporting")
        data += chunk
    return data.split(b"\n", 1)[0].decode().strip()


def start_xvfb(size, output):
    """Xvfb on a free display number, -noreset; returns the process and the display name once
    the server accepts clients (it reports its number through -displayfd)."""
    r, w = os.pipe()
    try:
        proc = subprocess.Popen(
            [XVFB, "-displayfd", str(w), "-noreset", "-nolisten", "tcp", "-screen", "0", size],
            pass_fds=(w,), stdout=output, stderr=subprocess.STDOUT, start_new_session=True)
        os.close(w)
        w = None
        try:
            number = _read_line_from_fd(r, 30, "Xvfb")
        except BaseException:
            _stop(proc)
            raise
    finally:
        os.close(r)
        if w is not None:
            os.close(w)
    return proc, ":" + number


def _stop(proc, grace=3.0):
    if proc is None or proc.poll() is not None:
        return
    try:
        os.killpg(proc.pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    try:
        proc.wait(grace)
    except subprocess.TimeoutExpired:
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        proc.wait()


class HeadlessDesktop:
    """Xvfb (-noreset, free display number), a private session bus and the AT-SPI bus.

    After start(), `env` holds DISPLAY, DBUS_SESSION_BUS_ADDRESS and XDG_RUNTIME_DIR for
    programs that should live on this desktop; this process's own environment is set
    the same way so that libatspi talks to it.
    """

    def __init__(self, workdir=None, size="800x600x24"):
        self.size = size
        self._own_dir = workdir is None
        self.workdir = workdir or tempfile.mkdtemp(prefix="hotspot-e2e-")
        self.env = {}
        self.xvfb = self.dbus = self.launcher = None

    # -- lifecycle -------------------------------------------------------------------
    def start(self):
        # Nothing of a surrounding desktop may leak in: libatspi and Qt would follow these.
        for name in ("AT_SPI_BUS_ADDRESS", "WAYLAND_DISPLAY", "XAUTHORITY"):
            os.environ.pop(name, None)
        try:
            self._start_xvfb()
            self._start_dbus()
            self._start_atspi()
        except BaseException:
            self.stop()
            raise
        os.environ.update(self.env)
        return self

    def stop(self):
        for proc in (self.launcher, self.dbus, self.xvfb):
            _stop(proc)
        self.launcher = self.dbus = self.xvfb = None
        if self._own_dir:
            shutil.rmtree(self.workdir, ignore_errors=True)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def own_pids(self):
        return {p.pid for p in (self.xvfb, self.dbus, self.launcher) if p is not None}

    # -- the three services ----------------------------------------------------------
    def _log(self, name):
        return open(os.path.join(self.workdir, name), "wb")

    def _start_xvfb(self):
        runtime = os.path.join(self.workdir, "runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        self.env["XDG_RUNTIME_DIR"] = runtime
        self.xvfb, self.env["DISPLAY"] = start_xvfb(self.size, self._log("xvfb.log"))

    def _start_dbus(self):
        r, w = os.pipe()
        try:
            self.dbus = subprocess.Popen(
                [DBUS_DAEMON, "--session", "--nofork", "--nopidfile", f"--print-address={w}"],
                pass_fds=(w,), stdout=self._log("dbus.log"), stderr=subprocess.STDOUT,
                env={**os.environ, **self.env}, start_new_session=True)
            os.close(w)
            w = None
            address = _read_line_from_fd(r, 30, "dbus-daemon")
        finally:
            os.close(r)
            if w is not None:
                os.close(w)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address

    def _start_atspi(self):
        env = {**os.environ, **self.env}
        self.launcher = subprocess.Popen(
            [ATSPI_LAUNCHER, "--launch-immediately", "--a11y=1", "--screen-reader=1"],
            stdout=self._log("atspi.log"), stderr=subprocess.STDOUT, env=env, start_new_session=True)
        # Asking for the bus address before the launcher owns its name would start a second one.
        from gi.repository import Gio, GLib

        conn = Gio.DBusConnection.new_for_address_sync(
            self.env["DBUS_SESSION_BUS_ADDRESS"],
            Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
            None, None)
        deadline = time.monotonic() + 30
        try:
            while True:
                reply = conn.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                       "NameHasOwner", GLib.Variant("(s)", ("org.a11y.Bus",)),
                                       GLib.VariantType("(b)"), Gio.DBusCallFlags.NONE, 5000, None)
                if reply.unpack()[0]:
                    break
                if self.launcher.poll() is not None:
                    raise SetupError("at-spi-bus-launcher ended early")
                if time.monotonic() > deadline:
                    raise SetupError("the accessibility bus did not come up in 30 s")
                time.sleep(0.05)
        finally:
            conn.close_sync(None)
