"""Reads and drives the application's window from outside, through the accessibility bus,
as a screen reader would.

Qt 6.4 publishes no object names on AT-SPI, so the outlets are told apart by their place:
the accessible tree under the window follows the widget tree of resources/MainWindow.ui
(layouts add no objects). A QLabel's text is its accessible name.
"""

import os
import time
import xml.etree.ElementTree as ET

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

_ATSPI_READY = False

# A QLabel that holds a picture shows as an image.
ROLES_OF_CLASS = {
    "QLabel": (Atspi.Role.LABEL, Atspi.Role.IMAGE),
    "QPushButton": (Atspi.Role.PUSH_BUTTON,),
}

# The status line is the window's status bar (its live region for screen readers).
ROLES_OF_NAME = {
    "statusLable": (Atspi.Role.STATUS_BAR,),
}

OUTLETS = ("statusLable", "infoLable", "precentLable", "warningLable", "updateButton",
           "imgView", "warningImage")

DEFAULT_UI = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources", "MainWindow.ui")


class WaitTimeout(AssertionError):
    pass


def _init_atspi():
    global _ATSPI_READY
    if not _ATSPI_READY:
        Atspi.init()
        _ATSPI_READY = True


def widget_order(ui_path=DEFAULT_UI):
    """(objectName, class) of every widget below the window, depth first, as uic creates them."""
    root = ET.parse(ui_path).getroot()
    top = root.find("widget")
    order = []

    def walk(elem):
        for child in elem:
            if child.tag == "widget":
                order.append((child.get("name"), child.get("class")))
                walk(child)
            elif child.tag in ("layout", "item"):
                walk(child)

    walk(top)
    return order, top.find("property[@name='windowTitle']/string").text


def find_app(pid):
    """The application of process `pid` on the accessibility bus, or None."""
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is None:
            continue
        try:
            if app.get_process_id() == pid:
                # The client cache goes stale as the window changes; always ask the app.
                app.set_cache_mask(Atspi.Cache.NONE)
                return app
        except GLib.Error:
            continue
    return None


def descendants(node):
    """Every accessible object below `node`, depth first."""
    out = []
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        out.append(child)
        out.extend(descendants(child))
    return out


def press_node(node, name):
    """Presses a button through its Press action, as assistive technology does."""
    for i in range(node.get_n_actions()):
        if node.get_action_name(i) == "Press":
            if not node.do_action(i):
                raise RuntimeError(f"{name}: Press refused")
            return
    raise RuntimeError(f"{name} offers no Press action (disabled?)")


class Snapshot(dict):
    """name -> {"text", "showing", "enabled"} at one moment."""

    def text(self, name):
        return self[name]["text"]

    def showing(self, name):
        return self[name]["showing"]

    def enabled(self, name):
        return self[name]["enabled"]

    def __str__(self):
        lines = []
        for name, v in self.items():
            flags = ("shown" if v["showing"] else "hidden") + ("" if v["enabled"] else ", disabled")
            lines.append(f"  {name} ({flags}): {v['text']!r}")
        return "\n".join(lines)


class AppWindow:
    """The application's main window on the accessibility bus, found by process id."""

    def __init__(self, pid, ui_path=DEFAULT_UI):
        _init_atspi()
        self.pid = pid
        self.order, self.title = widget_order(ui_path)
        self.app = None
        self.outlets = {}

    # -- finding ---------------------------------------------------------------------
    def _find_frame(self, app):
        for i in range(app.get_child_count()):
            child = app.get_child_at_index(i)
            if child is not None and child.get_name() == self.title:
                return child
        return None

    def _map_outlets(self, frame):
        nodes = descendants(frame)
        if len(nodes) != len(self.order):
            raise LookupError(f"window has {len(nodes)} accessible objects, MainWindow.ui {len(self.order)} widgets")
        outlets = {}
        for node, (name, cls) in zip(nodes, self.order):
            want = ROLES_OF_NAME.get(name, ROLES_OF_CLASS.get(cls))
            if want is not None and node.get_role() not in want:
                raise LookupError(f"{name} ({cls}) appears as {node.get_role_name()}")
            outlets[name] = node
        return outlets

    def find(self, timeout=30):
        """Waits until the window is on the bus with every outlet."""
        deadline = time.monotonic() + timeout
        last = "application not on the accessibility bus"
        while time.monotonic() < deadline:
            try:
                app = find_app(self.pid)
                frame = app and self._find_frame(app)
                if frame is not None:
                    self.outlets = self._map_outlets(frame)
                    self.app = app
                    return self
                last = "application on the bus, window not yet" if app else last
            except (GLib.Error, LookupError) as e:
                last = str(e)
            time.sleep(0.2)
        raise WaitTimeout(f"window '{self.title}' of pid {self.pid} not found in {timeout} s: {last}")

    # -- reading ---------------------------------------------------------------------
    def _node(self, name):
        if not self.outlets:
            self.find()
        return self.outlets[name]

    def text(self, name):
        return self._node(name).get_name() or ""

    def states(self, name):
        return self._node(name).get_state_set()

    def showing(self, name):
        return self.states(name).contains(Atspi.StateType.SHOWING)

    def enabled(self, name):
        return self.states(name).contains(Atspi.StateType.ENABLED)

    def snapshot(self):
        """Every outlet at one moment. Reading the outlets one by one is not atomic, so a
        snapshot counts only when two reads in a row agree (no change slipped in between)."""
        last = self._read_all()
        for _ in range(50):
            again = self._read_all()
            if again == last:
                return again
            last = again
        return last

    def _read_all(self):
        snap = Snapshot()
        for name in OUTLETS:
            node = self._node(name)
            st = node.get_state_set()
            snap[name] = {
                "text": node.get_name() or "",
                "showing": st.contains(Atspi.StateType.SHOWING),
                "enabled": st.contains(Atspi.StateType.ENABLED),
            }
        return snap

    def wait_for(self, predicate, timeout, what, on_change=None, alive=None):
        """Polls the window until predicate(snapshot) is true. Returns that snapshot.

        on_change(snapshot) is called for every distinct snapshot seen; alive() may raise when
        the application has gone away, to fail fast."""
        deadline = time.monotonic() + timeout
        last = None
        seen = None
        while True:
            try:
                snap = self.snapshot()
            except GLib.Error as e:
                if alive:
                    alive()
                last_err = e
                snap = None
            if snap is not None:
                if on_change and snap != seen:
                    on_change(snap)
                seen = snap
                last = snap
                if predicate(snap):
                    return snap
            if alive:
                alive()
            if time.monotonic() > deadline:
                detail = str(last) if last is not None else f"(window unreadable: {last_err})"
                raise WaitTimeout(f"waited {timeout:.0f} s for {what}; the window shows:\n{detail}")
            time.sleep(0.15)

    # -- acting ----------------------------------------------------------------------
    def press(self, name="updateButton"):
        """Presses a button through its Press action, as assistive technology does. The
        action is carried out about 100 ms later: callers wait for its effect."""
        press_node(self._node(name), name)


def find_dialog_text(pid, starts_with, timeout=30, button="OK"):
    """(text, button) of a message box of process `pid` whose text starts with `starts_with`,
    and which has a button named `button`."""
    _init_atspi()
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            app = find_app(pid)
            nodes = descendants(app) if app else []
            texts = [n.get_name() for n in nodes if (n.get_name() or "").startswith(starts_with)]
            buttons = [n for n in nodes if n.get_role() == Atspi.Role.PUSH_BUTTON and n.get_name() == button]
            if texts and buttons:
                return texts[0], buttons[0]
        except GLib.Error:
            pass
        time.sleep(0.2)
    raise WaitTimeout(f"no message box of pid {pid} saying {starts_with!r} in {timeout} s")
