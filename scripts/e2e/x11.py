"""Small X11 helpers: find an application's top-level window, close it as a user would,
take a screenshot."""

import ctypes
import ctypes.util
import subprocess

IMPORT = "/usr/bin/import"


class _ClientMessage(ctypes.Structure):
    _fields_ = [
        ("type", ctypes.c_int),
        ("serial", ctypes.c_ulong),
        ("send_event", ctypes.c_int),
        ("display", ctypes.c_void_p),
        ("window", ctypes.c_ulong),
        ("message_type", ctypes.c_ulong),
        ("format", ctypes.c_int),
        ("data", ctypes.c_long * 5),
    ]


class _XEvent(ctypes.Union):
    _fields_ = [("xclient", _ClientMessage), ("pad", ctypes.c_long * 24)]


_CLIENT_MESSAGE = 33


def _xlib():
    lib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    lib.XOpenDisplay.restype = ctypes.c_void_p
    lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    lib.XInternAtom.restype = ctypes.c_ulong
    lib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    lib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.POINTER(_XEvent)]
    lib.XFlush.argtypes = [ctypes.c_void_p]
    lib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    lib.XCloseDisplay.argtypes = [ctypes.c_void_p]
    return lib


def send_delete_window(display, window_id):
    """Sends WM_DELETE_WINDOW, the message a window manager sends when the user clicks the
    close button. The application decides what happens next."""
    lib = _xlib()
    dpy = lib.XOpenDisplay(display.encode())
    if not dpy:
        raise RuntimeError(f"cannot open display {display}")
    try:
        ev = _XEvent()
        ev.xclient.type = _CLIENT_MESSAGE
        ev.xclient.window = window_id
        ev.xclient.message_type = lib.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
        ev.xclient.format = 32
        ev.xclient.data[0] = lib.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
        ev.xclient.data[1] = 0  # CurrentTime
        if not lib.XSendEvent(dpy, window_id, 0, 0, ctypes.byref(ev)):
            raise RuntimeError("XSendEvent failed")
        lib.XSync(dpy, 0)
    finally:
        lib.XCloseDisplay(dpy)


def find_windows(display, pid, title=None):
    """Mapped top-level windows of process `pid` (by _NET_WM_PID), optionally by exact title."""
    cmd = ["xdotool", "search", "--onlyvisible", "--pid", str(pid)]
    if title is not None:
        cmd += ["--name", "^" + title + "$"]
    out = subprocess.run(cmd, env={"DISPLAY": display, "PATH": "/usr/bin:/bin"},
                         capture_output=True, text=True, timeout=20)
    return [int(w) for w in out.stdout.split()]


def screenshot(display, path, window="root"):
    """The whole screen (or one window, by id) as PNG. Under Xvfb without a window manager the
    window sits at 0,0."""
    subprocess.run([IMPORT, "-display", display, "-window", str(window), path], check=True,
                   capture_output=True, timeout=60)
    return path
