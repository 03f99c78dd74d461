"""One end-to-end run: a headless desktop, the real application on it, its window read and
driven through the accessibility bus, screenshots, and a clean ending that is measured."""

import json
import os
import shutil
import sys
import time

from app import AppProcess
from desktop import HeadlessDesktop, missing_programs  # noqa: F401  (re-exported)
from window import AppWindow, WaitTimeout  # noqa: F401
import strings
import x11


class E2ERun:
    """Context manager. `workdir` collects the application's log, the transcript of every
    distinct screen seen, screenshots and the private HOME."""

    def __init__(self, bundle, workdir, sim_dir=None, preload=None, extra_env=None, shots_dir=None,
                 quiet=False):
        self.bundle = bundle
        self.workdir = os.path.abspath(workdir)
        self.shots_dir = shots_dir or os.path.join(self.workdir, "shots")
        self.sim_dir = sim_dir
        self.preload = preload
        self.extra_env = extra_env
        self.quiet = quiet
        self.desktop = None
        self.app = None
        self.window = None
        self._transcript = None
        self._last_logged = None
        self._shot_count = 0
        self.seen = []  # every distinct screen observed, in order

    # -- lifecycle -------------------------------------------------------------------
    def __enter__(self):
        os.makedirs(self.workdir, exist_ok=True)
        os.makedirs(self.shots_dir, exist_ok=True)
        self._transcript = open(os.path.join(self.workdir, "screens.log"), "a", encoding="utf-8")
        try:
            self.desktop = HeadlessDesktop(os.path.join(self.workdir, "desktop")).start()
            self.app = AppProcess(self.bundle, self.desktop.env, os.path.join(self.workdir, "home"),
                                  os.path.join(self.workdir, "app.log"), sim_dir=self.sim_dir,
                                  preload=self.preload, extra_env=self.extra_env).start()
            self.window = AppWindow(self.app.pid)
            self.window.find(timeout=60)
        except BaseException:
            self.__exit__(*sys.exc_info())
            raise
        return self

    def __exit__(self, *exc):
        if self.app:
            self.app.kill_all()
        if self.desktop:
            self.desktop.stop()
        if self._transcript:
            self._transcript.close()
            self._transcript = None

    # -- observing -------------------------------------------------------------------
    def log(self, line):
        self._transcript.write(f"{time.monotonic() - self.app.started_at:8.2f}s {line}\n")
        self._transcript.flush()
        if not self.quiet:
            print(line, flush=True)

    def _record(self, snap):
        key = json.dumps(snap, sort_keys=True)
        if key != self._last_logged:
            self._last_logged = key
            self.seen.append(snap)
            self.log("screen:\n" + str(snap))

    def snapshot(self):
        snap = self.window.snapshot()
        self._record(snap)
        return snap

    def wait_for(self, predicate, timeout, what):
        """Waits for a screen condition; fails early when the application dies."""
        return self.window.wait_for(predicate, timeout, what, on_change=self._record, alive=self.app.check_alive)

    def wait_status(self, keys, timeout, what=None):
        """Waits for the status line to show the looked-up text of one of `keys`."""
        texts = {strings.tr(k) for k in keys}
        return self.wait_for(lambda s: s.text("statusLable") in texts, timeout,
                             what or "status " + " or ".join(repr(k) for k in keys))

    def shot(self, label):
        self._shot_count += 1
        path = os.path.join(self.shots_dir, f"{self._shot_count:02d}-{label}.png")
        x11.screenshot(self.desktop.env["DISPLAY"], path)
        self.log(f"screenshot {path}")
        return path

    # -- acting ----------------------------------------------------------------------
    def press(self):
        self.log("press updateButton")
        self.window.press("updateButton")

    def close_and_wait(self, limit):
        """Closes the window like a user; returns (exit status or None, seconds to exit)."""
        sent = self.app.close_window()
        self.log("close window (WM_DELETE_WINDOW)")
        status = self.app.wait_exit(max(limit * 5, 10))
        took = time.monotonic() - sent
        self.log(f"application ended with status {status} after {took:.2f}s")
        return status, took

    def leftovers(self, settle=1.0):
        """Processes the application started that are still alive (after a short settle, since
        a killed child may need a moment to be gone)."""
        deadline = time.monotonic() + settle
        while True:
            left = self.app.descendants()
            if not left or time.monotonic() > deadline:
                return left
            time.sleep(0.05)


def copy_bundle(src, dest):
    if os.path.exists(dest):
        shutil.rmtree(dest)
    shutil.copytree(src, dest, symlinks=True)
    return dest
