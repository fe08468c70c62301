"""The installer under Wine's msiexec, in a prefix with the simulated firmware:

    python3 msi_suite.py <build dir> <scenario> --msi <file> --failing-msi <file>
                         --newer-msi <file> --newer-version <x.y.z>

install-remove: a silent install puts the files into "C:\\Program Files\\Zelv LED", registers
    the service (automatic start, quoted image path, winmgmt, LocalSystem, description) and
    its event source, and leaves it RUNNING with the LED following the connection; a silent
    removal takes all of it away and leaves no process.
rollback: a package that fails after registering the service leaves nothing behind.
upgrade: a newer package replaces the installed one: one product, one service, running.
"""

import argparse
import re
import shutil
import sys
from pathlib import Path

sys.dont_write_bytecode = True  # keep the source tree clean
import winetest  # noqa: E402
from winetest import Prefix, Session, SERVICE_NAME, SIM_DIR_WINDOWS, expect, wait_for  # noqa: E402
from service_suite import (DISPLAY_NAME, EVENT_SOURCE_KEY, LED_FOLLOW_SECONDS,  # noqa: E402
                           registry_values)

INSTALL_DIR_WINDOWS = r"C:\Program Files\Zelv LED"
PROGRAM = INSTALL_DIR_WINDOWS + r"\glintwatch.exe"
FILES = ["glintlamp.dll", "glintwatch.exe", "glintctl.exe", "README.txt", "LICENSE.txt"]
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
INSTALL_FAILURE = 1603
MSI_TIMEOUT = 600


class MsiPrefix(Prefix):
    """A prefix with the firmware provider and the packages to install; the connectivity
    switch is put beside the installed program only while a test needs it."""

    def __init__(self, build, name, packages):
        super().__init__(build, name, connectivity_switch=False)
        # Wine's own wininet unless the switch lies beside the program.
        self._add_program_overrides("glintwatch.exe", {"wininet": "native,builtin"})
        self.installed_dir = self.drive_c / "Program Files" / "Zelv LED"
        self.packages = {}
        for role, package in packages.items():
            shutil.copy2(package, self.sim_dir / package.name)
            self.packages[role] = SIM_DIR_WINDOWS + "\\" + package.name


def msiexec(session, action, package, log_name):
    result = session.run(["msiexec", action, package, "/qn", "/l*v",
                          SIM_DIR_WINDOWS + "\\" + log_name], timeout=MSI_TIMEOUT)
    return result.returncode


def expect_installed(session, prefix):
    present = sorted(p.name for p in prefix.installed_dir.iterdir())
    expect(present == sorted(FILES), f"installed files: {present}")
    values = registry_values(session)
    wanted = {
        "Type": ("REG_DWORD", "0x10"),
        "Start": ("REG_DWORD", "0x2"),  # automatic
        "ErrorControl": ("REG_DWORD", "0x1"),
        "DependOnService": ("REG_MULTI_SZ", "winmgmt"),
        "ObjectName": ("REG_SZ", "LocalSystem"),
        "DisplayName": ("REG_SZ", DISPLAY_NAME),
        "ImagePath": ("REG_SZ", f'"{PROGRAM}"'),
    }
    for name, value in wanted.items():
        expect(values.get(name) == value, f"{name}: {values.get(name)!r}, expected {value!r}")
    expect(values.get("Description", ("", ""))[1].startswith("Switches the laptop's status LED"),
           f"Description: {values.get('Description')!r}")
    source = registry_values(session, EVENT_SOURCE_KEY)
    expect(source.get("EventMessageFile", ("", ""))[1] == PROGRAM,
           f"EventMessageFile: {source.get('EventMessageFile')!r}")
    expect(source.get("TypesSupported") == ("REG_DWORD", "0x7"),
           f"TypesSupported: {source.get('TypesSupported')!r}")


def expect_running(session, prefix):
    state = {}

    def running():
        state.update(session.service_state() or {})
        return state.get("state") == "RUNNING"

    expect(wait_for(running, 30, interval=0.2) is not None, f"the service is not RUNNING: {state}")
    # Its first pass sets the LED one second after it runs, whatever the connection.
    expect(wait_for(lambda: prefix.led() in ("on", "off"), 5) is not None,
           f"the service set no LED: {prefix.led()!r}")


def expect_led_follows(session, prefix):
    """With the connectivity switch beside the installed program, the LED follows it."""
    code, out = session.svcctl("stop", SERVICE_NAME)
    expect(code == 0, f"stop: {out!r}")
    switch = prefix.installed_dir / "wininet.dll"
    shutil.copy2(winetest.helpers_dir(prefix.build) / "wininet.dll", switch)
    try:
        prefix.set_online(True)
        code, out = session.svcctl("start", SERVICE_NAME)
        expect(code == 0, f"start: {out!r}")
        for online, led in ((True, "on"), (False, "off"), (True, "on")):
            prefix.set_online(online)
            expect(wait_for(lambda: prefix.led() == led, LED_FOLLOW_SECONDS) is not None,
                   f"online={online}: the LED shows {prefix.led()!r}")
        code, out = session.svcctl("stop", SERVICE_NAME)
        expect(code == 0, f"stop: {out!r}")
    finally:
        switch.unlink(missing_ok=True)


def expect_nothing_left(session, prefix):
    expect(session.service_state() is None, "the service is still registered")
    query = session.run(["sc", "query", SERVICE_NAME])
    expect(query.returncode != 0 and b"SERVICE_NAME" not in query.stdout,
           f"sc query still finds the service: {query.stdout!r}")
    expect(session.run(["reg", "query", EVENT_SOURCE_KEY]).returncode != 0,
           "the event source is still there")
    if prefix.installed_dir.exists():
        expect(False, f"the install folder is still there: {list(prefix.installed_dir.iterdir())}")
    expect(wait_for(lambda: not winetest.prefix_processes(prefix.root, "glintwatch"), 15)
           is not None, "a glintwatch process is still running")


def installed_products(session):
    """DisplayName and DisplayVersion of every product called Glintwatch."""
    out = session.run(["reg", "query", UNINSTALL_KEY, "/s"]).stdout.decode("latin-1")
    products = []
    for block in re.split(r"\r?\n(?=HKEY_)", out):
        if re.search(r"DisplayName\s+REG_SZ\s+Glintwatch\s*$", block, re.M):
            version = re.search(r"DisplayVersion\s+REG_SZ\s+(\S+)", block)
            products.append(version.group(1) if version else None)
    return products


def scenario_install_remove(build, packages):
    prefix = MsiPrefix(build, "msi-install-remove", packages)
    with Session(prefix) as session:
        code = msiexec(session, "/i", prefix.packages["msi"], "install.log")
        expect(code == 0, f"msiexec /i exited {code}")
        expect_installed(session, prefix)
        expect_running(session, prefix)
        expect_led_follows(session, prefix)
        code, out = session.svcctl("start", SERVICE_NAME)
        expect(code == 0, f"start: {out!r}")
        # Removal stops the running service before its files go.
        code = msiexec(session, "/x", prefix.packages["msi"], "remove.log")
        expect(code == 0, f"msiexec /x exited {code}")
        expect_nothing_left(session, prefix)
    return prefix


def scenario_rollback(build, packages):
    prefix = MsiPrefix(build, "msi-rollback", packages)
    with Session(prefix) as session:
        # Windows Installer answers 1603; what matters is that it fails, and what is left.
        code = msiexec(session, "/i", prefix.packages["failing"], "install.log")
        expect(code != 0, "the failing package installed")
        print(f"the failing package's install exited {code} (Windows Installer: {INSTALL_FAILURE})")
        expect_nothing_left(session, prefix)
        expect(installed_products(session) == [], "a product is registered after the rollback")
    return prefix


def scenario_upgrade(build, packages, newer_version):
    prefix = MsiPrefix(build, "msi-upgrade", packages)
    with Session(prefix) as session:
        expect(msiexec(session, "/i", prefix.packages["msi"], "install.log") == 0,
               "the first install failed")
        expect_running(session, prefix)
        first = winetest.prefix_processes(prefix.root, "glintwatch.exe")
        code = msiexec(session, "/i", prefix.packages["newer"], "upgrade.log")
        expect(code == 0, f"the upgrade exited {code}")
        products = installed_products(session)
        expect(products == [newer_version], f"products after the upgrade: {products}")
        expect_installed(session, prefix)
        expect_running(session, prefix)
        # The service that runs now was started by the new package.
        now = winetest.prefix_processes(prefix.root, "glintwatch.exe")
        expect(now and not set(now) & set(first), f"service processes {first} -> {now}")
        expect(msiexec(session, "/x", prefix.packages["newer"], "remove.log") == 0,
               "the removal after the upgrade failed")
        expect_nothing_left(session, prefix)
    return prefix


SCENARIOS = {
    "install-remove": lambda build, packages, args: scenario_install_remove(build, packages),
    "rollback": lambda build, packages, args: scenario_rollback(build, packages),
    "upgrade": lambda build, packages, args: scenario_upgrade(build, packages, args.newer_version),
}


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("scenario", choices=SCENARIOS)
    for option in ("--msi", "--failing-msi", "--newer-msi", "--newer-version"):
        parser.add_argument(option, required=True)
    args = parser.parse_args(argv[1:])
    packages = {"msi": Path(args.msi), "failing": Path(args.failing_msi),
                "newer": Path(args.newer_msi)}
    return winetest.run_scenario(f"msi {args.scenario}",
                                 lambda: SCENARIOS[args.scenario](args.build, packages, args))


if __name__ == "__main__":
    sys.exit(main(sys.argv))
