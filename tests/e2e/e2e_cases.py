#!/usr/bin/python3
"""End-to-end checks of the real application bundle: a private Xvfb, the window read and
driven through the accessibility bus, the simulated hotspot behind adb, fastboot and the USB
library.

    e2e_cases.py --build-dir BUILD --work DIR CASE

Exit status 0 passed, 1 failed, 77 skipped (no Xvfb or no AT-SPI for Python on this machine).
"""

import argparse
import json
import os
import pty
import shutil
import signal
import subprocess
import sys
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.join(SOURCE_DIR, "scripts", "e2e"))

from desktop import missing_programs, run_isolated  # noqa: E402

SKIP = 77
EXIT_LIMIT = 2.0  # seconds from closing the window to the end of the process
SECOND_START_LIMIT = 2.0  # seconds a refused second start may take to end
WIFI_BOARD_DATA = "/lib/firmware/ath6k/AR6003/hw2.1.1/bdata.SD31.bin"
MODE1_CBW = bytes.fromhex("55534243" "08f88a87" "00000000" "00" "00" "06" "ed0001") + bytes(13)

# Waits are for conditions, never fixed: these only bound them on a slow, busy machine.
FIND_DEVICE_TIMEOUT = 240
UPDATE_TIMEOUT = 900


class Failure(AssertionError):
    pass


def check(cond, message):
    if not cond:
        raise Failure(message)


class Case:
    def __init__(self, build_dir, work):
        import demo_bundle
        import strings

        self.db = demo_bundle
        self.strings = strings
        self.tree = demo_bundle.BuildTree(build_dir)
        self.work = os.path.abspath(work)
        if os.path.isdir(self.work):
            shutil.rmtree(self.work)
        os.makedirs(self.work)

    def tr(self, key):
        return self.strings.tr(key)

    def prepare(self, **scenario_overrides):
        """A demo bundle and a fresh simulated device with these scenario settings."""
        check(self.strings.has_table(), "no English string table in resources/")
        bundle = self.db.assemble(self.tree, self.work)
        self.package_version = self.db.package_version(bundle)
        self.sim = self.db.Simulator(self.tree, os.path.join(self.work, "sim-state"))
        scenario = self.db.scenario_with("demo", scenario_overrides, os.path.join(self.work, "scenario.json"))
        self.sim.init(scenario)
        if not self.db.driver_rule_installed():
            self.db.install_driver_rule(SOURCE_DIR, use_sudo=False)
        self.bundle = bundle
        return bundle

    def run(self, **kw):
        from harness import E2ERun

        return E2ERun(self.bundle, os.path.join(self.work, "run"), sim_dir=self.sim.dir,
                      preload=self.tree.sim_usb, **kw)

    def cli(self, *args, timeout=FIND_DEVICE_TIMEOUT, stdin=subprocess.DEVNULL):
        """Runs the terminal face to its end; (exit status, stdout, stderr). Nothing may outlive it."""
        from app import CliRun

        run = CliRun(self.bundle, ["--cli", *args], os.path.join(self.work, "home"),
                     os.path.join(self.work, "cli.log"), sim_dir=self.sim.dir, preload=self.tree.sim_usb,
                     stdin=stdin)
        status, out, err = run.run(timeout)
        self.last_cli_pid = run.pid
        check(not run.leftovers(), f"processes left running after exit: {run.leftovers()}")
        return status, out, err

    def close_cleanly(self, run, limit=EXIT_LIMIT):
        status, took = run.close_and_wait(limit)
        check(status is not None, f"the application still runs {took:.1f}s after its window was closed")
        check(status == 0, f"exit status {status} after closing the window (log: {run.app.log_path})")
        check(took <= limit, f"the application took {took:.2f}s to end after its window was closed (limit {limit}s)")
        left = run.leftovers()
        check(not left, f"processes left running after exit: {left}")
        return took

    def package_images(self):
        """partition -> (size, md5) from the bundle's version file."""
        images = {}
        with open(os.path.join(self.bundle, "Contents", "Resources", "version"), encoding="utf-8") as f:
            for line in f.read().splitlines()[1:]:
                fields = line.split(",")
                if len(fields) == 4 and not line.startswith("#"):
                    images[fields[0]] = (int(fields[2], 0), fields[3].lower())
        return images

    def start_writing(self, run):
        """Presses Start once the update is offered; returns when an image is being written."""
        run.wait_for(lambda s: s.text("updateButton") == self.tr("btn Start") and s.enabled("updateButton")
                     and s.text("statusLable") == self.tr("stat Device Ready !"),
                     FIND_DEVICE_TIMEOUT, "the update to be offered")
        run.press()
        writing = self.tr("stat Writing [%s] ...").split("%s")[0]
        run.wait_for(lambda s: s.text("statusLable").startswith(writing), 120, "an image being written")

    def check_every_image_written_once(self):
        written = self.sim.status()["device"]["partitions"]
        for part, (size, md5) in self.package_images().items():
            got = written.get(part, {})
            check(got.get("md5") == md5 and got.get("size") == size and got.get("writes") == 1,
                  f"partition {part}: device holds {got}, package has size {size} md5 {md5}")

    def check_exit_reached_device(self, cbws_before):
        """At exit the adb server is stopped and the last command the device got is the
        permanent switch to its user personality, byte for byte."""
        after = self.sim.cbws()[cbws_before:]
        check(after, "no mode-switch command reached the device at exit")
        check(after[-1] == MODE1_CBW,
              f"last command at exit {after[-1].hex()} is not the mode-1 switch {MODE1_CBW.hex()}")
        adb_runs = [r.get("args") for r in self.sim.records() if r.get("kind") == "adb"]
        check(adb_runs and adb_runs[-1] == ["kill-server"], f"last adb run is {adb_runs[-1:]}, not kill-server")
        return after[-1]

    def offered_info_ok(self, snap, device_version):
        info = snap.text("infoLable")
        for part in (self.tr("info Current version"), device_version,
                     self.tr("info Version after update"), self.package_version):
            check(part in info, f"info text lacks {part!r}: {info!r}")


# -- the cases ---------------------------------------------------------------------------

def case_launch(c):
    """Launch screen, then the searching screen (no device plugged); closing ends at once."""
    c.prepare(plugged=False)
    launch_texts = {c.tr("stat Initializing ..."), c.tr("stat Detecting device ..."),
                    c.tr("stat Searching device ...")}
    with c.run() as run:
        run.shot("launch")
        snap = run.wait_for(lambda s: s.text("statusLable") != "", 30, "a status line")
        status = snap.text("statusLable")
        check(status in launch_texts, f"unexpected first status {status!r}")
        check(not snap.enabled("updateButton"), "the button is enabled at launch")
        check(not snap.showing("warningLable"), "the warning is shown at launch")
        check(not snap.showing("warningImage"), "the warning icon is shown at launch")
        if status == c.tr("stat Initializing ..."):
            check(snap.text("updateButton") == c.tr("btn Initializing"), f"button {snap.text('updateButton')!r}")
            check(snap.text("precentLable") == "0 %", f"percentage {snap.text('precentLable')!r}")
        snap = run.wait_status(["stat Searching device ..."], 60)
        check(not snap.enabled("updateButton"), "the button is enabled while searching")
        check(snap.text("updateButton") == c.tr("btn Searching"), f"button {snap.text('updateButton')!r}")
        check(c.package_version in snap.text("infoLable"), f"package version missing: {snap.text('infoLable')!r}")
        check(not snap.showing("warningLable"), "a warning is shown while searching")
        run.shot("searching")
        took = c.close_cleanly(run)
    print(f"ended {took:.2f}s after the window was closed")


def case_busy_exit(c):
    """A tool run that never ends holds the detection worker; closing still ends everything."""
    c.prepare(faults={"hang": "firmware_ver", "hang_seconds": -1})
    with c.run() as run:
        run.wait_status(["stat Reading version ..."], FIND_DEVICE_TIMEOUT)
        deadline = time.monotonic() + 30
        while not any("firmware_ver" in cmd for _, cmd in run.app.descendants()):
            check(time.monotonic() < deadline, f"no hanging tool run seen: {run.app.descendants()}")
            time.sleep(0.1)
        run.shot("busy")
        took = c.close_cleanly(run)
    print(f"ended {took:.2f}s after the window was closed, a tool run in progress")


def case_sigterm(c):
    """kill -TERM while the device is being detected (its CD-ROM held by the host's storage
    driver): the termination sequence runs as for a closed window, the device gets the
    permanent switch last, and nothing is left behind."""
    c.prepare(faults={"switch_ignored": True})  # stays in its CD-ROM personality: detection goes on
    with c.run() as run:
        switching = c.tr("stat detect Switching to [%s] mode ...").replace("%s", "ADB")
        run.wait_for(lambda s: s.text("statusLable") == switching, FIND_DEVICE_TIMEOUT, "the mode switch")
        before = len(c.sim.cbws())
        sent = time.monotonic()
        os.kill(run.app.pid, signal.SIGTERM)
        status = run.app.wait_exit(EXIT_LIMIT * 5)
        took = time.monotonic() - sent
        check(status == 128 + signal.SIGTERM, f"exit status {status} after SIGTERM")
        check(took <= EXIT_LIMIT + 1.0, f"the application took {took:.2f}s to end after SIGTERM")
        left = run.leftovers()
        check(not left, f"processes left running after exit: {left}")
    c.check_exit_reached_device(before)
    usb = [r.get("event") for r in c.sim.records() if r.get("kind") == "usb"]
    check("detach_kernel_driver" in usb, "the storage driver was never taken off the CD-ROM interface")
    print(f"ended {took:.2f}s after SIGTERM, permanent switch sent last")


def case_sigterm_during_update(c):
    """kill -TERM while images are written: the update is not cut short; it ends (Success on
    the screen), then the application ends as for a closed window."""
    c.prepare(restart_delay=2, linger=0)
    with c.run() as run:
        c.start_writing(run)
        os.kill(run.app.pid, signal.SIGTERM)
        run.log("SIGTERM sent")
        status = run.app.wait_exit(UPDATE_TIMEOUT)
        check(status == 128 + signal.SIGTERM, f"exit status {status} after SIGTERM")
        check(not run.leftovers(), f"processes left running after exit: {run.leftovers()}")
    check(c.sim.firmware_version() == c.package_version,
          f"the update was cut short: the device holds {c.sim.firmware_version()!r}")
    check(c.sim.cbws() and c.sim.cbws()[-1] == MODE1_CBW, "the permanent switch was not the last command")
    print("the update finished before the signal ended the application")


E2E_USER = "hotspot-e2e"


def case_non_root(c):
    """As a normal user: without access to the device nodes the window says so once, with the
    command that fixes it; once access is granted the update is offered. Run as root, this
    case runs itself again as an unprivileged user."""
    if os.geteuid() == 0:
        import pwd
        import subprocess

        try:
            pwd.getpwnam(E2E_USER)
        except KeyError:
            subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", E2E_USER],
                           check=True)
        if not c.db.driver_rule_installed():
            c.db.install_driver_rule(SOURCE_DIR, use_sudo=False)
        user = pwd.getpwnam(E2E_USER)
        os.chown(c.work, user.pw_uid, user.pw_gid)
        env = {k: v for k, v in os.environ.items() if k in ("PATH", "LANG", "LC_ALL")}
        env["HOME"] = c.work
        cmd = ["runuser", "-u", E2E_USER, "--", "/usr/bin/python3", os.path.abspath(__file__),
               "--build-dir", c.tree.dir, "--work", os.path.join(c.work, "user"), "non_root"]
        status = subprocess.run(cmd, env=env).returncode
        check(status == 0, f"the run as {E2E_USER} failed ({status}); see {c.work}/user")
        return
    c.prepare(node_access="none")
    with c.run() as run:
        snap = run.wait_status(["stat No permission to use the device !"], FIND_DEVICE_TIMEOUT)
        check("udevadm" in snap.text("infoLable"), f"no fix named: {snap.text('infoLable')!r}")
        run.shot("no-permission")
        c.sim.run("set", "node_access=rw")
        run.wait_for(lambda s: s.text("updateButton") == c.tr("btn Start") and s.enabled("updateButton"),
                     FIND_DEVICE_TIMEOUT, "the update to be offered once access is granted")
        c.close_cleanly(run)
    print(f"as uid {os.geteuid()}: the permission message, then Start")


def case_offer_update(c):
    """An older device: the update is offered with both versions; at exit the device gets
    the permanent switch to its user personality, byte for byte."""
    c.prepare()
    device_version = c.sim.firmware_version()
    check(device_version and device_version != c.package_version,
          f"scenario should hold an older firmware, has {device_version!r} vs package {c.package_version!r}")
    with c.run() as run:
        # The status line is the last of the outcome's changes: wait for it too.
        snap = run.wait_for(lambda s: s.text("updateButton") == c.tr("btn Start") and s.enabled("updateButton")
                            and s.text("statusLable") == c.tr("stat Device Ready !"),
                            FIND_DEVICE_TIMEOUT, "the update to be offered")
        c.offered_info_ok(snap, device_version)
        run.shot("start-offered")
        before = len(c.sim.cbws())
        c.close_cleanly(run)
    sent = c.check_exit_reached_device(before)
    print(f"mode-1 switch at exit: {sent.hex()}")


def case_replug(c):
    """Unplugging the cable while the update is offered returns to searching; plugging it in
    again offers the update anew. Uses the same commands the demo prints."""
    c.prepare()
    offered = (lambda s: s.text("updateButton") == c.tr("btn Start") and s.enabled("updateButton")
               and s.text("statusLable") == c.tr("stat Device Ready !"))
    with c.run() as run:
        run.wait_for(offered, FIND_DEVICE_TIMEOUT, "the update to be offered")
        c.sim.run("unplug")
        snap = run.wait_status(["stat Searching device ..."], 60)
        check(not snap.enabled("updateButton"), "the button stays enabled without a device")
        run.shot("unplugged")
        c.sim.run("plug")
        run.wait_for(offered, FIND_DEVICE_TIMEOUT, "the update to be offered again")
        c.close_cleanly(run)


def case_up_to_date(c):
    """A device with the package's own version is reported up to date; Close ends the app."""
    c.prepare()
    c.sim.init(c.db.scenario_with("demo", {"firmware_version": c.package_version},
                                  os.path.join(c.work, "scenario.json")))
    with c.run() as run:
        snap = run.wait_for(lambda s: s.text("updateButton") == c.tr("btn Close") and s.enabled("updateButton")
                            and s.text("statusLable") == c.tr("info Your vesion is up to date"),
                            FIND_DEVICE_TIMEOUT, "the device to be reported up to date")
        check(c.tr("info Your vesion is up to date") in snap.text("infoLable"), f"info {snap.text('infoLable')!r}")
        c.offered_info_ok(snap, c.package_version)
        run.shot("up-to-date")
        run.press()
        status = run.app.wait_exit(30)
        check(status == 0, f"Close should end the application with status 0, got {status}")
        check(not run.leftovers(), f"processes left running: {run.leftovers()}")


def case_full_update(c):
    """A whole update with the real waits, to Success."""
    c.prepare()
    with c.run() as run:
        run.wait_for(lambda s: s.text("updateButton") == c.tr("btn Start") and s.enabled("updateButton")
                     and s.text("statusLable") == c.tr("stat Device Ready !"),
                     FIND_DEVICE_TIMEOUT, "the update to be offered")
        run.shot("start-offered")
        t0 = time.monotonic()
        started_at = len(run.seen)
        run.press()
        snap = run.wait_for(lambda s: not s.enabled("updateButton") and s.showing("imgView"), 30,
                            "the update screen")
        check(snap.text("updateButton") == c.tr("btn Processing"), f"button {snap.text('updateButton')!r}")
        check(snap.text("warningLable") == c.tr("warning Please do not remove, update is in progress.")
              and snap.showing("warningLable"), f"warning {snap.text('warningLable')!r}")
        done = {c.tr("btn Close"), c.tr("btn Retry")}
        final = run.wait_for(lambda s: s.text("updateButton") in done and s.enabled("updateButton"),
                             UPDATE_TIMEOUT, "the update to end")
        took = time.monotonic() - t0
        run.shot("final")
        check(final.text("statusLable") == c.tr("stat Success upgrade device !"),
              f"the update ended with {final.text('statusLable')!r} / {final.text('infoLable')!r}")
        check(final.text("updateButton") == c.tr("btn Close"), f"button {final.text('updateButton')!r}")
        check(final.text("precentLable") == "100 %", f"percentage {final.text('precentLable')!r}")
        check(c.package_version in final.text("infoLable"), f"new version missing: {final.text('infoLable')!r}")
        check(final.text("warningLable") == c.tr("warning Update is finished."), f"warning {final.text('warningLable')!r}")
        check(c.sim.firmware_version() == c.package_version,
              f"device firmware is {c.sim.firmware_version()!r}, package {c.package_version!r}")
        c.check_every_image_written_once()
        percents = [int(s.text("precentLable").split()[0]) for s in run.seen[started_at:]
                    if s.text("precentLable").endswith(" %")]
        check(percents == sorted(percents), f"the percentage went backwards: {percents}")
        before = len(c.sim.cbws())
        c.close_cleanly(run)
    adb_runs = [r.get("args") for r in c.sim.records() if r.get("kind") == "adb"]
    check(adb_runs[-1:] == [["kill-server"]], f"last adb run is {adb_runs[-1:]}, not kill-server")
    # The update ends with the permanent switch to the user personality.
    during = c.sim.cbws()[:before]
    check(during and during[-1] == MODE1_CBW,
          f"the update's last command block is {during[-1].hex() if during else None}, not mode 1")
    # At exit the device may still be re-enumerating after that switch; only report the second one.
    reached = c.sim.cbws()[before:]
    print("mode-1 switch at exit " + ("reached the device" if reached and reached[-1] == MODE1_CBW
                                       else "did not reach the device"))
    with open(os.path.join(c.work, "duration.txt"), "w") as f:
        f.write(f"{took:.1f}\n")
    print(f"update took {took:.1f}s from Start to Success")


def case_finish_after_kill(c):
    """The updater killed (SIGKILL, with its fastboot) while an image is written: the next start
    offers Finish Update, which writes the package again and puts the device's own data back."""
    from harness import E2ERun

    c.prepare(faults={"kill_host": {"command": "fastboot flash boot", "at": "during"}})
    files = c.sim.status()["device"]["files"]
    status, out, err = c.cli("--yes", timeout=UPDATE_TIMEOUT)
    check(status == -signal.SIGKILL, f"the killed run ended with {status}: {err}")
    check(c.sim.status()["device"]["personality"] in ("bootloader", "restarting"),
          "the device is not left in its boot loader")
    # The window of the next start, on the same home: the journal is there.
    with E2ERun(c.bundle, c.work, sim_dir=c.sim.dir, preload=c.tree.sim_usb) as run:
        run.wait_for(lambda s: s.text("updateButton") == c.tr("btn Finish") and s.enabled("updateButton"),
                     FIND_DEVICE_TIMEOUT, "the offer to finish")
        run.shot("finish-offered")
        run.press()
        final = run.wait_for(lambda s: s.text("updateButton") in {c.tr("btn Close"), c.tr("btn Retry")}
                             and s.enabled("updateButton"), UPDATE_TIMEOUT, "the update to end")
        run.shot("finished")
        check(final.text("statusLable") == c.tr("stat Success upgrade device !"),
              f"the finish ended with {final.text('statusLable')!r} / {final.text('infoLable')!r}")
        c.close_cleanly(run)
    device = c.sim.status()["device"]
    check(device["firmware_version"] == c.package_version, f"device firmware is {device['firmware_version']!r}")
    check(device["files"].get(WIFI_BOARD_DATA) == files[WIFI_BOARD_DATA], "the calibration is not the device's own")
    check(device["files"].get("/etc/new_config.db") == files["/etc/config.db"], "the settings did not go back")
    journals = os.path.join(c.work, "home", ".local", "state", "hotspot-updater", "journals")
    left = [n for n in os.listdir(journals) if n.endswith(".json")]
    check(not left, f"journals left open: {left}")


def case_question_after_kill(c):
    """The updater killed right after it left the boot loader, before the unit showed what the
    writing leaves: nothing tells it from another unit on the package. The terminal with --yes
    leaves it untouched and names the option that decides (exit 15); the window asks, and its
    "finish" answer puts the unit's own data back."""
    from harness import E2ERun
    from window import find_dialog_text, press_node

    c.prepare(faults={"kill_host": {"command": "fastboot reboot", "at": "after"}})
    files = c.sim.status()["device"]["files"]
    status, out, err = c.cli("--yes", timeout=UPDATE_TIMEOUT)
    check(status == -signal.SIGKILL, f"the killed run ended with {status}: {err}")
    status, out, err = c.cli("--yes", timeout=UPDATE_TIMEOUT)
    check(status == 15 and "--finish" in err, f"the --yes run ended with {status}: {err!r}")
    check(c.sim.status()["device"]["files"].get("/etc/new_config.db") is None, "--yes put data on the unit")
    question = c.tr("stat Is this the hotspot whose update stopped on %s ?").split("%s")[0]
    with E2ERun(c.bundle, c.work, sim_dir=c.sim.dir, preload=c.tree.sim_usb) as run:
        run.wait_for(lambda s: s.text("statusLable") == c.tr("stat The last update did not finish !"),
                     FIND_DEVICE_TIMEOUT, "the unfinished update")
        text, yes = find_dialog_text(run.app.pid, question, FIND_DEVICE_TIMEOUT,
                                     button=c.tr("btn Finish with the saved data"))
        run.shot("unit-question")
        press_node(yes, "finish with the saved data")
        final = run.wait_for(lambda s: s.text("updateButton") in {c.tr("btn Close"), c.tr("btn Retry")}
                             and s.enabled("updateButton"), UPDATE_TIMEOUT, "the finish to end")
        check(final.text("statusLable") == c.tr("stat Success upgrade device !"),
              f"the finish ended with {final.text('statusLable')!r} / {final.text('infoLable')!r}")
        c.close_cleanly(run)
    device = c.sim.status()["device"]
    check(device["files"].get(WIFI_BOARD_DATA) == files[WIFI_BOARD_DATA], "the calibration is not the device's own")
    check(device["files"].get("/etc/new_config.db") == files["/etc/config.db"], "the settings did not go back")


def case_second_start(c):
    """A second start while an image is written touches nothing: a window start of the same
    user brings the running window to the front and exits 0, a terminal start says who runs
    the updater and exits 13, each within 2 s; the update ends in success, every image written
    and the device's data back."""
    from app import AppProcess

    c.prepare(restart_delay=2, linger=0)
    files_before = c.sim.status()["device"]["files"]
    with c.run() as run:
        c.start_writing(run)

        second = AppProcess(c.bundle, run.desktop.env, run.app.home, os.path.join(c.work, "second.log"),
                            sim_dir=c.sim.dir, preload=c.tree.sim_usb).start()
        status = second.wait_exit(SECOND_START_LIMIT)
        took = time.monotonic() - second.started_at
        second_pids = {second.pid}
        second.kill_all()
        check(status == 0, f"the second window start ended with {status} after {took:.2f}s (limit {SECOND_START_LIMIT}s)")

        t0 = time.monotonic()
        status, out, err = c.cli("--check", timeout=30)
        cli_took = time.monotonic() - t0
        second_pids.add(c.last_cli_pid)
        check(status == 13 and cli_took <= SECOND_START_LIMIT,
              f"the second terminal start ended with {status} after {cli_took:.2f}s: {err!r}")
        check(err.startswith("hotspot-updater: The updater is already running (since ") and err.count("\n") == 1,
              f"standard error of the second terminal start: {err!r}")
        run.log(f"second starts: window {took:.2f}s, terminal {cli_took:.2f}s")

        done = {c.tr("btn Close"), c.tr("btn Retry")}
        final = run.wait_for(lambda s: s.text("updateButton") in done and s.enabled("updateButton"),
                             UPDATE_TIMEOUT, "the update to end")
        check(final.text("statusLable") == c.tr("stat Success upgrade device !"),
              f"the update ended with {final.text('statusLable')!r} / {final.text('infoLable')!r}")
        c.close_cleanly(run)
        logs = run_logs(run)
    from_second = [r for r in c.sim.records() if r.get("pid") in second_pids or r.get("ppid") in second_pids]
    check(not from_second, f"the second starts reached the device: {from_second[:5]}")
    c.check_every_image_written_once()
    files_after = c.sim.status()["device"]["files"]
    pushed = {r["args"][-1] for r in c.sim.records() if r.get("kind") == "adb" and r.get("args", [""])[0] == "push"}
    board = "/lib/firmware/ath6k/AR6003/hw2.1.1/bdata.SD31.bin"
    for saved, restored in ((board, board), ("/etc/config.db", "/etc/new_config.db")):
        check(restored in pushed and files_after.get(restored) == files_before.get(saved), f"{saved} was not put back")
    check(len(logs) == 1, f"the second starts wrote run logs: {logs}")
    with open(logs[0], encoding="utf-8") as f:
        check("a second start brought the window to the front" in f.read(), "the running window was not raised")
    print(f"second starts ended after {took:.2f}s (window) and {cli_took:.2f}s (terminal); the update succeeded")


def guard_held():
    """Some updater holds the one-per-machine guard (in this network namespace)."""
    with open("/proc/net/unix", encoding="utf-8") as f:
        return any(line.rstrip().endswith(" @io.github.hotspotupdater.HotspotUpdater") for line in f)


def case_second_start_beside_terminal(c):
    """A window started while the updater runs in a terminal touches nothing: it says who runs
    the updater and since when, with OK; OK ends it with status 13."""
    import pwd
    import threading

    from app import AppProcess, CliRun
    from desktop import HeadlessDesktop
    from window import find_dialog_text
    import x11

    c.prepare(plugged=False)  # the terminal run waits for a device
    first = CliRun(c.bundle, ["--cli", "--check", "--wait", "120"], os.path.join(c.work, "home"),
                   os.path.join(c.work, "cli.log"), sim_dir=c.sim.dir, preload=c.tree.sim_usb)
    ended = []
    waiter = threading.Thread(target=lambda: ended.append(first.run(300)))
    waiter.start()
    desktop = second = None
    try:
        deadline = time.monotonic() + 30
        while not guard_held():
            check(time.monotonic() < deadline and waiter.is_alive(), f"the terminal run never took the guard: {ended}")
            time.sleep(0.1)
        desktop = HeadlessDesktop(os.path.join(c.work, "desktop")).start()
        second = AppProcess(c.bundle, desktop.env, os.path.join(c.work, "home2"), os.path.join(c.work, "second.log"),
                            sim_dir=c.sim.dir, preload=c.tree.sim_usb).start()
        text, ok = find_dialog_text(second.pid, c.tr("alert The updater is already running (since %s, by %s)")
                                    .split("%s")[0])
        user = pwd.getpwuid(os.getuid()).pw_name
        check(text.endswith(f", by {user})"), f"the message box says {text!r}")
        x11.screenshot(desktop.env["DISPLAY"], os.path.join(c.work, "already-running.png"))
        ok.do_action(0)
        status = second.wait_exit(10)
        check(status == 13, f"OK ended the second start with {status}")
    finally:
        if second:
            second.kill_all()
        if desktop:
            desktop.stop()
        if getattr(first, "pid", None):
            os.kill(first.pid, signal.SIGTERM)
        waiter.join()
    from_second = [r for r in c.sim.records() if second.pid in (r.get("pid"), r.get("ppid"))]
    check(not from_second, f"the second start ran tools or reached the USB library: {from_second[:5]}")
    check(ended and ended[0][0] == 128 + signal.SIGTERM, f"the terminal run ended with {ended}")
    print(f"the second start said {text!r}")


def run_logs(run):
    """The support logs a run left under its HOME (the default state folder)."""
    folder = os.path.join(run.app.home, ".local", "state", "hotspot-updater", "logs")
    names = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
    return [os.path.join(folder, n) for n in names]


def case_accessibility(c):
    """Read as a screen reader reads it: every control named, the status line a status bar
    whose changes are announced, a sensible focus order, Enter presses the enabled button.
    The run leaves its log."""
    from gi.repository import Atspi, GLib

    c.prepare()
    c.sim.init(c.db.scenario_with("demo", {"firmware_version": c.package_version},
                                  os.path.join(c.work, "scenario.json")))
    announced = []

    def on_name_change(event):
        try:
            if event.source.get_role() == Atspi.Role.STATUS_BAR:
                announced.append(event.source.get_name())
        except GLib.Error:
            pass

    def pump():
        context = GLib.MainContext.default()
        while context.iteration(False):
            pass

    with c.run() as run:
        # Registered once the accessibility bus is up (the run brings it).
        listener = Atspi.EventListener.new(on_name_change)
        listener.register("object:property-change:accessible-name")
        nodes = run.window.outlets
        for name in ("updateButton", "progressBar", "imgView", "warningImage"):
            check(nodes[name].get_name(), f"{name} has no accessible name")
        check(nodes["statusLable"].get_role() == Atspi.Role.STATUS_BAR,
              f"status line appears as {nodes['statusLable'].get_role_name()}")
        focusable = [n for n, _ in run.window.order
                     if nodes[n].get_state_set().contains(Atspi.StateType.FOCUSABLE)]
        check(focusable == ["infoLable", "updateButton"], f"focus order {focusable}")
        up_to_date = c.tr("info Your vesion is up to date")
        run.wait_for(lambda s: (pump() or True) and s.text("updateButton") == c.tr("btn Close")
                     and s.enabled("updateButton") and s.text("statusLable") == up_to_date,
                     FIND_DEVICE_TIMEOUT, "the device to be reported up to date")
        deadline = time.monotonic() + 10
        while up_to_date not in announced and time.monotonic() < deadline:
            pump()
            time.sleep(0.05)
        check(up_to_date in announced, f"status changes announced: {announced}")
        check(c.tr("stat Searching device ...") in announced or c.tr("stat Reading version ...") in announced,
              f"the search was not announced: {announced}")
        run.shot("keyboard")
        # Enter, as typed on the keyboard, presses Close.
        import subprocess

        wid = run.app.window_id()
        subprocess.run(["xdotool", "windowfocus", "--sync", str(wid)], env={**os.environ, **run.desktop.env},
                       check=False, timeout=10)
        subprocess.run(["xdotool", "key", "Return"], env={**os.environ, **run.desktop.env}, check=True, timeout=10)
        status = run.app.wait_exit(30)
        check(status == 0, f"Enter on Close should end the application with status 0, got {status}")
        logs = run_logs(run)
        listener.deregister("object:property-change:accessible-name")
    check(len(logs) == 1, f"expected one run log, found {logs}")
    with open(logs[0], encoding="utf-8") as f:
        log = f.read()
    for needed in ("[usbutils]", " tool: adb ", " state: 0 -> 1", " screen: ", "exit status 0"):
        check(needed in log, f"the log lacks {needed!r} ({logs[0]})")
    print(f"announced {len(announced)} status changes; log {logs[0]}")


def case_chinese(c):
    """The whole road in Simplified Chinese, chosen by the system's language: every text
    from the Chinese table, the update to success; screenshots of each stage."""
    c.strings.use_language("zh_CN")
    c.prepare()
    env = {"LANGUAGE": "zh_CN", "LANG": "zh_CN.UTF-8"}
    with c.run(extra_env=env) as run:
        run.shot("launch")
        snap = run.wait_status(["stat Searching device ...", "stat Detecting device ...",
                                "stat Reading version ...", "stat Reboot device ..."], FIND_DEVICE_TIMEOUT)
        run.shot("detecting")
        snap = run.wait_for(lambda s: s.text("updateButton") == c.tr("btn Start") and s.enabled("updateButton")
                            and s.text("statusLable") == c.tr("stat Device Ready !"),
                            FIND_DEVICE_TIMEOUT, "the update to be offered (开始更新)")
        c.offered_info_ok(snap, c.sim.firmware_version())
        run.shot("start-offered")
        run.press()
        writing = c.tr("stat Writing [%s] ...").split("%s")[0]
        run.wait_for(lambda s: s.text("statusLable").startswith(writing), 300, "an image being written")
        run.shot("writing")
        done = {c.tr("btn Close"), c.tr("btn Retry")}
        final = run.wait_for(lambda s: s.text("updateButton") in done and s.enabled("updateButton"),
                             UPDATE_TIMEOUT, "the update to end")
        run.shot("final")
        check(final.text("statusLable") == c.tr("stat Success upgrade device !"),
              f"the update ended with {final.text('statusLable')!r}")
        check(final.text("warningLable") == c.tr("warning Update is finished."), f"warning {final.text('warningLable')!r}")
        c.close_cleanly(run)
        log = open(run_logs(run)[-1], encoding="utf-8").read()
    check("simulated-secret" not in log, "the log holds the device's Wi-Fi password")
    check("/etc/config.db" in log, "the log does not show the configuration's backup run")
    print(f"screenshots in {run.shots_dir}")


# -- the terminal face: no display at all ---------------------------------------------------

def json_events(out):
    events = []
    for line in out.splitlines():
        try:
            events.append(json.loads(line))
        except ValueError:
            raise Failure(f"a line of --json output is not JSON: {line!r}")
    check(events and events[-1].get("event") == "result", f"--json output does not end with a result: {events[-1:]}")
    return events


def case_cli_check(c):
    """--check prints both versions and exits 0; the device gets the closing switch; --json
    says the same as one object per line."""
    c.prepare()
    device_version = c.sim.firmware_version()
    before = len(c.sim.cbws())
    status, out, err = c.cli("--check")
    check(status == 0, f"--check exit status {status}: {err}")
    for text in (device_version, c.package_version, c.tr("stat Device Ready !")):
        check(text in out, f"--check output lacks {text!r}:\n{out}")
    check("[usbutils]" not in out, "the USB trace reached standard output")
    c.check_exit_reached_device(before)
    check(not any(r.get("args", [""])[0] == "flash" for r in c.sim.records() if r.get("kind") == "fastboot"),
          "--check wrote to the device")

    status, out, err = c.cli("--check", "--json")
    result = json_events(out)[-1]
    check(status == 0 and result.get("exit") == 0, f"--check --json: status {status}, result {result}")
    check(result.get("device_version") == device_version and result.get("package_version") == c.package_version
          and result.get("update_available") is True, f"--check --json result {result}")

    c.sim.run("unplug")
    status, out, err = c.cli("--check", "--wait", "3")
    check(status == 12, f"exit status {status} without a device, expected 12: {err}")

    resources = os.path.join(c.bundle, "Contents", "Resources")
    # A trusted key that did not sign the package: refused, saying why. Only root's key files
    # are trusted, so only a run as root can show it.
    if os.geteuid() == 0:
        keys = os.path.join(resources, "keys")
        subprocess.run([os.path.join(c.tree.dir, "tools", "bin", "hotspot-package"), "keygen", keys], check=True,
                       stdout=subprocess.DEVNULL)
        status, out, err = c.cli("--check")
        why = c.tr("info The firmware package failed its signature check: %s").split("%s")[0]
        check(status == 10 and why in out + err, f"exit status {status} with an unsigned package and a trusted key, "
              f"expected 10 and {why!r}: {out!r} {err!r}")
        shutil.rmtree(keys)

    # A package image that fails its digest (replaced, never changed in place: it may be a link).
    image = os.path.join(resources, sorted(n for n in os.listdir(resources) if n.endswith(".img"))[0])
    size = os.path.getsize(image)
    os.remove(image)
    with open(image, "wb") as f:
        f.write(bytes(size))
    status, out, err = c.cli("--check")
    check(status == 10 and c.tr("stat Fail to check image file !") in err,
          f"exit status {status} with a broken package, expected 10: {err!r}")


def case_cli_refuse(c):
    """Without --yes and with standard input not a terminal, the offered update never starts."""
    c.prepare()
    device_version = c.sim.firmware_version()
    status, out, err = c.cli()
    check(status == 3, f"exit status {status}, expected 3 (update not started): {err}")
    check("--yes" in err, f"standard error does not point to --yes: {err!r}")
    check(c.sim.firmware_version() == device_version, "the device was updated without --yes")
    check(not any(r.get("kind") == "fastboot" and r.get("args", [""])[0] == "flash" for r in c.sim.records()),
          "an image was written without --yes")

    # On a terminal it asks; anything but yes leaves the device alone.
    master, slave = pty.openpty()
    os.write(master, b"n\n")
    try:
        status, out, err = c.cli(stdin=slave)
    finally:
        os.close(master)
        os.close(slave)
    check(status == 3 and "Start the update? [y/N]" in err, f"exit status {status}, standard error {err!r}")
    check(c.sim.firmware_version() == device_version, "the device was updated after the answer no")


def case_cli_update(c):
    """--yes updates the device with progress lines and exits 0."""
    c.prepare()
    status, out, err = c.cli("--yes", timeout=UPDATE_TIMEOUT)
    check(status == 0, f"exit status {status}: {err}\n{out}")
    check(c.tr("stat Success upgrade device !") in out, f"no success line:\n{out}")
    percents = [int(line.split()[-2]) for line in out.splitlines() if line.endswith(" %")]
    check(percents and percents == sorted(percents) and percents[-1] == 100, f"progress lines {percents}")
    check(c.sim.firmware_version() == c.package_version,
          f"device firmware is {c.sim.firmware_version()!r}, package {c.package_version!r}")


def case_cli_write_fails(c):
    """A failing image write ends with its own exit status, and --json tells the result."""
    c.prepare(faults={"flash_fail": ["boot"]})
    status, out, err = c.cli("--yes", "--json", timeout=UPDATE_TIMEOUT)
    events = json_events(out)
    result = events[-1]
    check(status == 27 and result.get("exit") == 27 and result.get("result") == 7,
          f"exit status {status}, result {result} (expected 27 for result 7)")
    check(c.tr("stat Fail to write image !") in err, f"standard error lacks the failure: {err!r}")
    percents = [e["percent"] for e in events if e.get("event") == "progress"]
    check(percents == sorted(percents), f"progress went backwards: {percents}")


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("case", choices=sorted(CASES))
    args = ap.parse_args(argv)
    if argv is None:
        run_isolated(__file__, "HOTSPOT_E2E_ISOLATED", "e2e")
    missing = [] if args.case.startswith("cli_") else missing_programs()
    if missing:
        print("skipped: this machine lacks " + ", ".join(missing) + " (scripts/setup.sh installs them)")
        return SKIP
    try:
        c = Case(args.build_dir, args.work)
        CASES[args.case](c)
    except Failure as e:
        print(f"FAILED: {e}\n(screens, log and screenshots in {args.work})", file=sys.stderr)
        return 1
    except Exception:
        traceback.print_exc()
        print(f"(screens, log and screenshots in {args.work})", file=sys.stderr)
        return 1
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
