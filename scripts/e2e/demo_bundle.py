#!/usr/bin/python3
"""Assembles a demo bundle that runs the real application against the simulated hotspot.

The bundle is relocatable, so the demo is a copy of build/HotspotUpdater whose resources hold
the simulator's adb and fastboot and the demo firmware package. The simulator's USB library is
preloaded into the real binary; its device state lives in a folder named by HOTSPOT_SIM_DIR.

    demo_bundle.py [--build-dir build] [--out build/demo] [--scenario demo]

prints the shell variables that describe the result (BUNDLE, HOTSPOT_SIM_DIR, PRELOAD, ...).
"""

import argparse
import json
import os
import shlex
import shutil
import subprocess
import sys

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
RULE_NAME = "70-hotspot-updater.rules"
RULE_DIRS = ("/etc/udev/rules.d", "/usr/lib/udev/rules.d")


class DemoError(RuntimeError):
    pass


class BuildTree:
    """Where the pieces the demo needs are in a build folder."""

    def __init__(self, build_dir):
        self.dir = os.path.abspath(build_dir)
        self.bundle = os.path.join(self.dir, "HotspotUpdater")
        self.sim_bin = os.path.join(self.dir, "sim", "bin")
        self.sim_cli = os.path.join(self.sim_bin, "hotspot-sim")
        self.sim_adb = os.path.join(self.sim_bin, "adb")
        self.sim_fastboot = os.path.join(self.sim_bin, "fastboot")
        self.sim_usb = os.path.join(self.dir, "sim", "lib", "libhotspot_simusb.so")
        self.package = os.path.join(self.dir, "demo-package")

    def missing(self):
        need = [os.path.join(self.bundle, "Contents", "bin", "hotspot-updater"),
                self.sim_cli, self.sim_adb, self.sim_fastboot, self.sim_usb,
                os.path.join(self.package, "version")]
        return [p for p in need if not os.path.exists(p)]


class Simulator:
    """The hotspot-sim command on one state folder."""

    def __init__(self, tree, state_dir):
        self.cli = tree.sim_cli
        self.dir = os.path.abspath(state_dir)

    def env(self):
        return {**os.environ, "HOTSPOT_SIM_DIR": self.dir}

    def run(self, *args, check=True):
        out = subprocess.run([self.cli, *args], env=self.env(), capture_output=True, text=True, timeout=60)
        if check and out.returncode != 0:
            raise DemoError(f"hotspot-sim {' '.join(args)} failed ({out.returncode}): {out.stderr.strip()}")
        return out.stdout

    def init(self, scenario):
        os.makedirs(self.dir, exist_ok=True)
        self.run("init", "--scenario", scenario)

    def status(self):
        """The device's state as the simulator reports it (JSON)."""
        return json.loads(self.run("status", "--json"))

    def firmware_version(self):
        try:
            return self.status().get("device", {}).get("firmware_version")
        except (DemoError, ValueError):
            return None

    def unit_versions(self):
        """port -> firmware version of every unit of the hub."""
        return {u["port"]: u.get("device", {}).get("firmware_version") for u in self.status().get("units", [])}

    def records(self):
        """Everything the device was asked, oldest first (JSON objects)."""
        return [json.loads(line) for line in self.run("log").splitlines() if line.strip()]

    def cbws(self):
        """Every command block wrapper written to the device, as bytes, in order."""
        found = []
        for r in self.records():
            if r.get("kind") == "usb" and r.get("event") == "cbw":
                found.append(bytes.fromhex(r.get("bytes", "")))
        return found

    def command_line(self, *args):
        """The command a person types in another terminal to do the same."""
        return f"HOTSPOT_SIM_DIR={shlex.quote(self.dir)} {shlex.quote(self.cli)} {' '.join(args)}"


def scenario_with(name, overrides, path):
    """A scenario file: the named scenario with some settings changed (the simulator lays them
    on its base, merging "faults" and "files" key by key). Returns what `init` takes."""
    if not overrides:
        return name
    with open(path, "w", encoding="utf-8") as f:
        json.dump({"name": f"{name}+e2e", "base": name, **overrides}, f, indent=1)
    return path


def driver_rule_installed():
    return any(os.path.isfile(os.path.join(d, RULE_NAME)) for d in RULE_DIRS)


def install_driver_rule(source_dir=SOURCE_DIR, use_sudo=True):
    """The application refuses to run without its device-access rule. Lays it down in
    /etc/udev/rules.d (as the install step would), with sudo when not root."""
    if driver_rule_installed():
        return False
    rule = os.path.join(source_dir, "resources", RULE_NAME)
    if not os.path.isfile(rule):
        raise DemoError(f"{rule} is missing; cannot install the device-access rule")
    cmd = ["install", "-D", "-m", "0644", rule, os.path.join(RULE_DIRS[0], RULE_NAME)]
    if os.geteuid() != 0:
        if not use_sudo or shutil.which("sudo") is None:
            raise DemoError(f"the device-access rule is not installed; as root run: {' '.join(cmd)}")
        cmd = ["sudo", *cmd]
    subprocess.run(cmd, check=True)
    udevadm = shutil.which("udevadm")
    if udevadm:
        prefix = [] if os.geteuid() == 0 else ["sudo"]
        subprocess.run(prefix + [udevadm, "control", "--reload-rules"], capture_output=True)
    return True


def _link_or_copy(src, dest):
    """The images are large and only read: a hard link where the file system allows it."""
    if os.path.lexists(dest):
        os.remove(dest)
    try:
        os.link(src, dest)
    except OSError:
        shutil.copy2(src, dest)


def assemble(tree, out_dir):
    """Copies the bundle to out_dir/HotspotUpdater and puts the simulator's tools and the demo
    package into its resources. Returns the bundle path."""
    missing = tree.missing()
    if missing:
        raise DemoError("the build lacks: " + ", ".join(missing))
    bundle = os.path.join(os.path.abspath(out_dir), "HotspotUpdater")
    if os.path.exists(bundle):
        shutil.rmtree(bundle)
    shutil.copytree(tree.bundle, bundle, symlinks=True)
    resources = os.path.join(bundle, "Contents", "Resources")
    os.makedirs(resources, exist_ok=True)
    for name, src in (("adb", tree.sim_adb), ("fastboot", tree.sim_fastboot)):
        dest = os.path.join(resources, name)
        if os.path.lexists(dest):
            os.remove(dest)
        shutil.copy2(src, dest)
    for name in os.listdir(tree.package):
        src = os.path.join(tree.package, name)
        if os.path.isfile(src):
            _link_or_copy(src, os.path.join(resources, name))
    return bundle


def package_version(bundle):
    """The version text of the bundle's package: what follows the last "_" of its first line."""
    with open(os.path.join(bundle, "Contents", "Resources", "version"), encoding="utf-8") as f:
        first = f.readline().strip()
    return first.rsplit("_", 1)[-1]


def prepare(build_dir, out_dir, scenario="demo", install_rule=True):
    tree = BuildTree(build_dir)
    bundle = assemble(tree, out_dir)
    sim = Simulator(tree, os.path.join(os.path.abspath(out_dir), "sim-state"))
    if os.path.isdir(sim.dir):
        shutil.rmtree(sim.dir)
    sim.init(scenario)
    if install_rule:
        install_driver_rule()
    return tree, bundle, sim


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build-dir", default=os.path.join(SOURCE_DIR, "build"))
    ap.add_argument("--out", default=None, help="work folder (default: <build-dir>/demo)")
    ap.add_argument("--scenario", default="demo", help="simulator scenario (name, file or JSON)")
    ap.add_argument("--no-rule", action="store_true", help="do not install the device-access rule")
    args = ap.parse_args(argv)
    out = args.out or os.path.join(args.build_dir, "demo")
    try:
        tree, bundle, sim = prepare(args.build_dir, out, args.scenario, install_rule=not args.no_rule)
    except (DemoError, subprocess.CalledProcessError) as e:
        print(f"demo_bundle: {e}", file=sys.stderr)
        return 1
    for k, v in (("BUNDLE", bundle), ("HOTSPOT_SIM_DIR", sim.dir), ("PRELOAD", tree.sim_usb),
                 ("SIM_CLI", tree.sim_cli), ("EXECUTABLE", os.path.join(bundle, "Contents", "bin", "hotspot-updater"))):
        print(f"{k}={shlex.quote(v)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
