#!/usr/bin/python3
"""Runs the demo: the real application on a simulated hotspot that holds an older firmware.

On a desktop the window opens and you press Start. Headless (no DISPLAY, or --headless) it
runs on a private Xvfb, presses Start itself through the accessibility bus, saves a
screenshot of every stage and prints how the update ended.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import demo_bundle  # noqa: E402
import strings  # noqa: E402

SEARCH_KEYS = ("stat Detecting device ...", "stat Searching device ...", "stat Reading version ...",
               "stat Reboot device ...", "stat detect Switching to [%s] mode ...")


def key_pattern(key):
    """A regular expression for the looked-up text of a key whose %s holds anything."""
    return re.compile("^" + re.escape(strings.tr(key)).replace("%s", "(.+)") + "$")


def print_sim_commands(sim):
    print("The simulated hotspot can be unplugged and plugged again from another terminal:")
    print("    " + sim.command_line("unplug"))
    print("    " + sim.command_line("plug"))
    print("    " + sim.command_line("status"))
    print(flush=True)


def language_env(language):
    """What makes the application pick `language` as the system's language."""
    return {"LANGUAGE": language, "LANG": language + ".UTF-8"} if language else {}


def in_simulated_sysfs(sim):
    """A command prefix that runs the rest in a private mount namespace where the simulator's
    tree stands at /sys: the updater finds a unit's port there and only there."""
    return ["unshare", "--map-root-user", "--mount", "sh", "-c", 'mount --bind "$0/sys" /sys && exec "$@"', sim.dir]


def run_desktop(bundle, sim, preload, home, language=None, station=False):
    env = {**os.environ, "HOTSPOT_SIM_DIR": sim.dir, "LD_PRELOAD": preload, "HOME": home,
           "XDG_DATA_HOME": os.path.join(home, ".local", "share"), **language_env(language)}
    os.makedirs(home, exist_ok=True)
    exe = os.path.join(bundle, "Contents", "bin", "hotspot-updater")
    if station:
        print(f"Starting {exe} --station; press Start All when the units offer the update.", flush=True)
        return subprocess.call([*in_simulated_sysfs(sim), exe, "--station"], env=env)
    print(f"Starting {exe}; press Start in its window when it offers the update.", flush=True)
    return subprocess.call([exe], env=env)


def run_station_headless(bundle, sim, preload, work, shots, language=None):
    """The station on the simulated hub: waits until every unit offers Start, presses Start All,
    and waits for every row's result; screenshots of the window at each stage."""
    from app import AppProcess
    from desktop import HeadlessDesktop
    from station_window import StationWindow
    import x11

    if os.path.isdir(shots):
        shutil.rmtree(shots)
    os.makedirs(shots)
    writing = key_pattern("stat Writing [%s] ...")
    ports = sorted(sim.unit_versions())
    with HeadlessDesktop(os.path.join(work, "desktop"), size="1280x800x24") as desktop:
        app = AppProcess(bundle, desktop.env, os.path.join(work, "home"), os.path.join(work, "app.log"),
                         sim_dir=sim.dir, preload=preload, extra_env=language_env(language),
                         args=["--station"], wrapper=in_simulated_sysfs(sim)).start()
        try:
            window = StationWindow(app.pid).find(60)
            wid = app.window_id()

            def shot(label):
                path = os.path.join(shots, f"{len(os.listdir(shots)) + 1:02d}-{label}.png")
                x11.screenshot(desktop.env["DISPLAY"], path, wid)
                return path

            def wait(predicate, timeout, what):
                return window.wait_for(predicate, timeout, what, alive=app.check_alive)

            start = strings.tr("btn Start")
            wait(lambda s: len(s.rows) == len(ports) and s.start_all and all(r["action"] == start for r in s.rows),
                 300, "every unit to offer Start")
            shot("start-offered")
            window.press_start_all()
            t0 = time.monotonic()
            wait(lambda s: any(writing.match(r["status"]) for r in s.rows), 300, "an image being written")
            shot("writing")
            final = wait(lambda s: all(r["result"] for r in s.rows), 900, "every row's result")
            took = time.monotonic() - t0
            time.sleep(0.5)  # the last repaint
            shot("final")
            app.close_window()
            status = app.wait_exit(20)
            left = app.descendants()
        finally:
            app.kill_all()
    print(f"\nThe updates ended after {took:.0f}s:")
    print(str(final))
    versions = sim.unit_versions()
    print("Unit firmware now: " + ", ".join(f"{p} {versions[p]}" for p in ports))
    print(f"The application ended with status {status}" + ("" if not left else f"; left running: {left}"))
    print(f"Screenshots of every stage: {shots}")
    for name in sorted(os.listdir(shots)):
        print(f"  {os.path.join(shots, name)}")
    succeeded = sum(r["result"] == strings.tr("res Updated to %s").replace("%s", versions[r["port"]])
                    for r in final.rows)
    return 0 if succeeded == len(ports) - 1 and status == 0 and not left else 1


def run_headless(bundle, sim, preload, work, shots, language=None):
    from harness import E2ERun

    if os.path.isdir(shots):
        shutil.rmtree(shots)
    writing = key_pattern("stat Writing [%s] ...")
    done_titles = {strings.tr("btn Close"), strings.tr("btn Retry")}
    started = time.monotonic()
    with E2ERun(bundle, work, sim_dir=sim.dir, preload=preload, shots_dir=shots, quiet=True,
                extra_env=language_env(language)) as run:
        print(f"Window up after {time.monotonic() - started:.1f}s (log of every screen: {run.workdir}/screens.log)")
        run.shot("launch")
        snap = run.wait_for(lambda s: s.text("statusLable") in {strings.tr(k).replace("%s", "ADB") for k in SEARCH_KEYS},
                            120, "searching or detecting the device")
        run.shot("detecting")
        print("  " + snap.text("statusLable"))
        ready = strings.tr("stat Device Ready !")
        snap = run.wait_for(lambda s: s.text("updateButton") == strings.tr("btn Start") and s.enabled("updateButton")
                            and s.text("statusLable") == ready, 300, "the update to be offered (button Start)")
        run.shot("start-offered")
        print("  " + snap.text("statusLable"))
        print("  " + snap.text("infoLable").replace("\n", "\n  "))
        run.press()
        t0 = time.monotonic()
        snap = run.wait_for(lambda s: writing.match(s.text("statusLable")), 300, "an image being written")
        run.shot("writing")
        print(f"  {snap.text('statusLable')} {snap.text('precentLable')}")
        first = snap.text("precentLable")
        moved = run.wait_for(lambda s: s.text("precentLable") != first or not writing.match(s.text("statusLable")),
                             300, "the bar to move")
        if writing.match(moved.text("statusLable")):
            run.shot("writing-moved")
            print(f"  {moved.text('statusLable')} {moved.text('precentLable')}")
        final = run.wait_for(lambda s: s.text("updateButton") in done_titles and s.enabled("updateButton"),
                             900, "the update to end (button Close or Retry)")
        took = time.monotonic() - t0
        run.shot("final")
        status, secs = run.close_and_wait(2)
        left = run.leftovers()
    print()
    print(f"The update ended after {took:.0f}s:")
    print("  status: " + final.text("statusLable"))
    print("  info:   " + final.text("infoLable").replace("\n", "\n          "))
    print(f"  device firmware now: {sim.firmware_version() or '?'}")
    print(f"The application ended with status {status} {secs:.1f}s after its window was closed"
          + ("" if not left else f"; left running: {left}"))
    print(f"Screenshots of every stage: {shots}")
    for name in sorted(os.listdir(shots)):
        print(f"  {os.path.join(shots, name)}")
    ok = final.text("statusLable") == strings.tr("stat Success upgrade device !") and status == 0 and not left
    return 0 if ok else 1


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build-dir", default=os.path.join(demo_bundle.SOURCE_DIR, "build"))
    ap.add_argument("--headless", action="store_true", help="run on a private Xvfb even if DISPLAY is set")
    ap.add_argument("--station", action="store_true",
                    help="the station window on a simulated hub of four units, one of whose writes fails")
    ap.add_argument("--scenario", default=None, help="simulator scenario (name, file or JSON text)")
    ap.add_argument("--shots", default=None, help="screenshot folder (default: <build-dir>/demo-shots[-LANGUAGE])")
    ap.add_argument("--language", default=None, help="run in this language, for example zh_CN (default: the system's)")
    args = ap.parse_args(argv)
    headless = args.headless or not os.environ.get("DISPLAY")
    if headless and argv is None:
        from desktop import run_isolated

        run_isolated(__file__, "HOTSPOT_DEMO_ISOLATED", "demo")
    elif not headless:
        # On the desktop the window is the user's: an updater already there would refuse it.
        import guard

        held = guard.holder()
        if held:
            print(f"demo: {held}; close it, then run again", file=sys.stderr)
            return 1
    args.scenario = args.scenario or ("station" if args.station else "demo")
    if args.language:
        strings.use_language(args.language)

    build = os.path.abspath(args.build_dir)
    work = os.path.join(build, "demo")
    suffix = ("-station" if args.station else "") + (f"-{args.language}" if args.language else "")
    shots = os.path.abspath(args.shots or os.path.join(build, "demo-shots" + suffix))
    try:
        tree, bundle, sim = demo_bundle.prepare(build, work, args.scenario)
    except (demo_bundle.DemoError, subprocess.CalledProcessError) as e:
        print(f"demo: {e}", file=sys.stderr)
        return 1
    print(f"Demo bundle: {bundle}")
    print(f"Simulated hotspot: firmware {sim.firmware_version() or '?'}, "
          f"package {demo_bundle.package_version(bundle)} (state in {sim.dir})")
    print_sim_commands(sim)
    home = os.path.join(work, "home")
    if not headless:
        return run_desktop(bundle, sim, tree.sim_usb, home, args.language, args.station)
    from desktop import missing_programs

    missing = missing_programs()
    if missing:
        print("demo: cannot run headless without " + ", ".join(missing) + " (run scripts/setup.sh)", file=sys.stderr)
        return 1
    print("No display (or --headless): running on a private Xvfb; Start is pressed automatically.", flush=True)
    if args.station:
        return run_station_headless(bundle, sim, tree.sim_usb, os.path.join(work, "run"), shots, args.language)
    return run_headless(bundle, sim, tree.sim_usb, os.path.join(work, "run"), shots, args.language)


if __name__ == "__main__":
    sys.exit(main())
