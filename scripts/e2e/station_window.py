"""Reads and drives the station window (hotspot-updater --station) through the accessibility
bus: its two top lines, the Start All button and the table, one row per port. A row's bar and
button are covered cells whose own text says what they show (percent, button title)."""

import time

from gi.repository import Atspi, GLib

from window import WaitTimeout, _init_atspi, descendants, find_app, press_node
import strings

COLUMNS = ("port", "version", "status", "progress", "result", "action")


class StationScreen:
    """The window at one moment: `package`, `status`, `start_all` (enabled or not), `rows`
    (a dict per port, in the table's order)."""

    def __init__(self, package, status, start_all, rows):
        self.package, self.status, self.start_all, self.rows = package, status, start_all, rows

    def __eq__(self, other):
        return isinstance(other, StationScreen) and vars(self) == vars(other)

    def __str__(self):
        lines = [f"  {self.package} | {self.status} | Start All {'on' if self.start_all else 'off'}"]
        for row in self.rows:
            lines.append("  " + " | ".join(row[c] for c in COLUMNS))
        return "\n".join(lines)


class StationWindow:
    def __init__(self, pid):
        _init_atspi()
        self.pid = pid
        self.frame = None

    def find(self, timeout=60):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                app = find_app(self.pid)
                frames = [app.get_child_at_index(i) for i in range(app.get_child_count())] if app else []
                frames = [f for f in frames if f is not None and f.get_name() == "Hotspot Updater"]
                if frames:
                    self.frame = frames[0]
                    return self
            except GLib.Error:
                pass
            time.sleep(0.2)
        raise WaitTimeout(f"the station window of pid {self.pid} is not on the accessibility bus")

    def _start_all(self, nodes):
        title = strings.tr("btn Start All")
        return next(n for n in nodes if n.get_role() == Atspi.Role.PUSH_BUTTON and n.get_name() == title)

    def screen(self):
        """The window at one moment: cells are read one by one, so a screen counts only when
        two reads in a row agree (no change slipped in between)."""
        last = self._read()
        for _ in range(50):
            again = self._read()
            if again == last:
                break
            last = again
        return last

    def _read(self):
        nodes = descendants(self.frame)
        labels = [n.get_name() or "" for n in nodes if n.get_role() == Atspi.Role.LABEL]
        cells = [n.get_name() or "" for n in nodes if n.get_role() == Atspi.Role.TABLE_CELL]
        rows = [dict(zip(COLUMNS, cells[i:i + len(COLUMNS)])) for i in range(0, len(cells), len(COLUMNS))]
        enabled = self._start_all(nodes).get_state_set().contains(Atspi.StateType.ENABLED)
        return StationScreen(labels[0] if labels else "", labels[1] if len(labels) > 1 else "", enabled, rows)

    def wait_for(self, predicate, timeout, what, alive=None, on_change=None):
        deadline = time.monotonic() + timeout
        seen = None
        while True:
            try:
                snap = self.screen()
            except (GLib.Error, StopIteration):
                snap = None
            if snap is not None and snap != seen:
                seen = snap
                if on_change:
                    on_change(snap)
            if snap is not None and predicate(snap):
                return snap
            if alive:
                alive()
            if time.monotonic() > deadline:
                raise WaitTimeout(f"waited {timeout:.0f} s for {what}; the window shows:\n{seen}")
            time.sleep(0.2)

    def press_start_all(self):
        press_node(self._start_all(descendants(self.frame)), "Start All")
