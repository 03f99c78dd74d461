"""The real application bundle as a process on the test desktop."""

import os
import signal
import subprocess
import time
import uuid

import x11

_TAG = "HOTSPOT_E2E_RUN"


def marked_processes(tag, exclude=None):
    """Live processes (not zombies) whose environment carries the run mark `tag`."""
    found = []
    needle = f"{_TAG}={tag}".encode()
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == exclude:
            continue
        try:
            with open(f"/proc/{entry}/environ", "rb") as f:
                if needle not in f.read().split(b"\0"):
                    continue
            with open(f"/proc/{entry}/stat", "rb") as f:
                stat = f.read()
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                cmd = f.read().replace(b"\0", b" ").decode(errors="replace").strip()
        except OSError:
            continue
        state = stat[stat.rindex(b")") + 2:][:1]
        if state != b"Z":
            found.append((int(entry), cmd))
    return found


class AppProcess:
    """Starts <bundle>/Contents/bin/hotspot-updater with accessibility on, in a process group of
    its own, and marks its environment so that every descendant can be found later, even one
    that detached itself."""

    def __init__(self, bundle, desktop_env, home, log_path, sim_dir=None, preload=None, extra_env=None,
                 args=(), wrapper=()):
        self.bundle = os.path.abspath(bundle)
        self.exe = os.path.join(self.bundle, "Contents", "bin", "hotspot-updater")
        # `wrapper` runs first and ends by executing the application in its place (same pid).
        self.command = [*wrapper, self.exe, *args]
        self.tag = uuid.uuid4().hex
        env = {k: v for k, v in os.environ.items() if not k.startswith(("QT_", "LD_PRELOAD", "HOTSPOT_SIM"))}
        env.update(desktop_env)
        env.update({
            "HOME": home,
            # Backups of the simulated device stay in the private home.
            "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
            "QT_QPA_PLATFORM": "xcb",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            "LC_ALL": "C.UTF-8",
            "LANGUAGE": "en",
            _TAG: self.tag,
        })
        if sim_dir:
            env["HOTSPOT_SIM_DIR"] = sim_dir
        if preload:
            env["LD_PRELOAD"] = preload
        env.update(extra_env or {})
        self.env = env
        self.home = home
        self.log_path = log_path
        self.proc = None
        self.started_at = None

    def start(self):
        if not os.access(self.exe, os.X_OK):
            raise FileNotFoundError(f"no application at {self.exe} (build it first)")
        os.makedirs(self.home, exist_ok=True)
        self._log = open(self.log_path, "ab")
        self.proc = subprocess.Popen(self.command, env=self.env, stdout=self._log, stderr=subprocess.STDOUT,
                                     stdin=subprocess.DEVNULL, start_new_session=True)
        self.started_at = time.monotonic()
        return self

    @property
    def pid(self):
        return self.proc.pid

    def running(self):
        return self.proc.poll() is None

    def check_alive(self):
        if self.proc.poll() is not None:
            raise AssertionError(f"the application ended unexpectedly with status {self.proc.returncode}"
                                 f" (log: {self.log_path})")

    # -- ending ----------------------------------------------------------------------
    def window_id(self, timeout=20):
        deadline = time.monotonic() + timeout
        title = None
        while True:
            ids = x11.find_windows(self.env["DISPLAY"], self.pid, title)
            if ids:
                return ids[0]
            if time.monotonic() > deadline:
                raise AssertionError("the application's window is not mapped")
            time.sleep(0.1)

    def close_window(self):
        """Closes the window as a user does with the title bar's close button: the window
        manager's WM_DELETE_WINDOW message. Returns the moment it was sent."""
        wid = self.window_id()
        x11.send_delete_window(self.env["DISPLAY"], wid)
        return time.monotonic()

    def wait_exit(self, timeout):
        """Exit status, or None when still running after timeout."""
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def descendants(self):
        """Live processes (not zombies) that carry this run's mark, the application excluded."""
        return marked_processes(self.tag, exclude=self.proc.pid)

    def kill_all(self):
        """Ends the application and anything it left behind (clean-up, not part of a check)."""
        if self.proc and self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.proc.wait()
        if self.proc:
            for pid, _ in self.descendants():
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
        if getattr(self, "_log", None):
            self._log.close()
            self._log = None


class CliRun:
    """One run of the terminal face: no display at all (no DISPLAY, no Wayland), standard input
    from `stdin` (not a terminal), standard output and error kept apart."""

    def __init__(self, bundle, args, home, log_path, sim_dir=None, preload=None, stdin=subprocess.DEVNULL):
        self.exe = os.path.join(os.path.abspath(bundle), "Contents", "bin", "hotspot-updater")
        self.args = list(args)
        self.tag = uuid.uuid4().hex
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("QT_", "LD_PRELOAD", "HOTSPOT_SIM", "DISPLAY", "WAYLAND_"))}
        env.update({"HOME": home, "LC_ALL": "C.UTF-8", "LANGUAGE": "en", _TAG: self.tag})
        if sim_dir:
            env["HOTSPOT_SIM_DIR"] = sim_dir
        if preload:
            env["LD_PRELOAD"] = preload
        os.makedirs(home, exist_ok=True)
        self.env, self.log_path, self.stdin = env, log_path, stdin

    def run(self, timeout):
        """(exit status, stdout, stderr); the outputs are also appended to the log."""
        proc = subprocess.Popen([self.exe, *self.args], env=self.env, stdin=self.stdin, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True)
        self.pid = proc.pid
        try:
            stdout, stderr = proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.communicate()
            raise
        with open(self.log_path, "a", encoding="utf-8") as log:
            log.write(f"$ hotspot-updater {' '.join(self.args)}\n{stdout}-- stderr --\n{stderr}"
                      f"-- exit {proc.returncode}\n")
        return proc.returncode, stdout, stderr

    def leftovers(self):
        """Live processes the run started that outlived it."""
        return marked_processes(self.tag)
