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


def run_desktop(bundle, sim, preload, home, language=None):
    env = {**os.environ, "HOTSPOT_SIM_DIR": sim.dir, "LD_PRELOAD": preload, "HOME": home,
           "XDG_DATA_HOME": os.path.join(home, ".local", "share"), **language_env(language)}
    os.makedirs(home, exist_ok=True)
    exe = os.path.join(bundle, "Contents", "bin", "hotspot-updater")
    print(f"Starting {exe}; press Start in its window when it offers the update.", flush=True)
    return subprocess.call([exe], env=env)


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
    ap.add_argument("--scenario", default="demo", help="simulator scenario (name, file or JSON text)")
    ap.add_argument("--shots", default=None, help="screenshot folder (default: <build-dir>/demo-shots[-LANGUAGE])")
    ap.add_argument("--language", default=None, help="run in this language, for example zh_CN (default: the system's)")
    args = ap.parse_args(argv)
    if args.language:
        strings.use_language(args.language)

    build = os.path.abspath(args.build_dir)
    work = os.path.join(build, "demo")
    shots = os.path.abspath(args.shots or os.path.join(build, "demo-shots" + (f"-{args.language}" if args.language else "")))
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
    if os.environ.get("DISPLAY") and not args.headless:
        return run_desktop(bundle, sim, tree.sim_usb, home, args.language)
    from desktop import missing_programs

    missing = missing_programs()
    if missing:
        print("demo: cannot run headless without " + ", ".join(missing) + " (run scripts/setup.sh)", file=sys.stderr)
        return 1
    print("No display (or --headless): running on a private Xvfb; Start is pressed automatically.", flush=True)
    return run_headless(bundle, sim, tree.sim_usb, os.path.join(work, "run"), shots, args.language)


if __name__ == "__main__":
    sys.exit(main())
