"""The updater's one-per-machine guard, as the scripts meet it: who holds it, and a command
prefix that gives a script a guard of its own.

Where the installed package made its folder, the guard is a lock on a file in it and the holder
listens on a socket of its user's beside it ("socket-<uid>"); otherwise the holder listens on a socket in the abstract
namespace, which belongs to the network namespace.
"""

import errno
import fcntl
import os
import socket
import struct
import time

FOLDER = "/var/lib/hotspot-updater"
NAME = b"io.github.hotspotupdater.HotspotUpdater"


def _held():
    """Whether an updater holds the guard now (False when it cannot be told)."""
    if os.path.isdir(FOLDER):
        try:
            fd = os.open(os.path.join(FOLDER, "lock"), os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK)
        except OSError:
            return False
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return False
        except BlockingIOError:
            return True
        finally:
            os.close(fd)
    s = socket.socket(socket.AF_UNIX)
    try:
        s.bind(b"\0" + NAME)
        return False
    except OSError as e:
        return e.errno == errno.EADDRINUSE
    finally:
        s.close()


def _addresses():
    if not os.path.isdir(FOLDER):
        return [b"\0" + NAME]
    try:
        names = os.listdir(FOLDER)
    except OSError:
        return []
    return [os.path.join(FOLDER, n) for n in sorted(names) if n.startswith("socket-")]


def _greeting(address):
    with socket.socket(socket.AF_UNIX) as s:
        s.settimeout(0.7)
        try:
            s.connect(address)
            pid, uid, _ = struct.unpack("3i", s.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, 12))
            # A socket named for another user is no holder's.
            if isinstance(address, str) and address.rsplit("-", 1)[-1] != str(uid):
                return None
            return pid, uid, s.recv(128).decode(errors="replace").split()
        except OSError:
            return None


def _describe():
    """'a window of alice since 14:05, process 1234' from the holder's greeting and the kernel."""
    found = next((g for g in map(_greeting, _addresses()) if g), None)
    if not found:
        return "it does not say who it is"
    pid, uid, greeting = found
    try:
        import pwd
        user = pwd.getpwuid(uid).pw_name
    except (KeyError, ImportError):
        user = str(uid)
    face = greeting[0] if len(greeting) == 2 else "updater"
    since = time.strftime(" since %H:%M", time.localtime(int(greeting[1]))) if len(greeting) == 2 and \
        greeting[1].isdigit() else ""
    return f"a {face} of {user}{since}, process {pid}"


def holder():
    """One line on the updater that holds this machine, or None when none does."""
    return f"another updater holds this machine ({_describe()})" if _held() else None


def own_guard_prefix():
    """Arguments for unshare (before the command) that give the command a guard of its own:
    a network namespace of its own, and a folder laid as the package lays it (sticky, with a
    lock of its owner's) over the installed package's."""
    flags = ["--net"] if os.geteuid() == 0 else ["--net", "--map-current-user"]
    if not os.path.isdir(FOLDER):
        return flags
    # Mounting takes root in the namespace.
    return ["--net", "--mount", *([] if os.geteuid() == 0 else ["--map-root-user"]),
            "sh", "-c", 'mount -t tmpfs -o mode=1770 tmpfs "$0" && install -m 0640 /dev/null "$0/lock" && exec "$@"',
            FOLDER]
