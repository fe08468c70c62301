"""End-to-end scenarios of the console tool: the shipped glintctl.exe and glintlamp.dll in a
Wine prefix, with the simulated firmware behind WMI.

    python3 glintctl_suite.py <build dir> <scenario>

Each scenario runs in a fresh copy of the template prefix and ends with the prefix's
wineserver killed and no process of it left.
"""

import re
import shutil
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
import winetest  # noqa: E402
from winetest import INSTALL_DIR_WINDOWS, Prefix, Session, expect, wait_for
from service_suite import console, install, start_service

PROGRAM = INSTALL_DIR_WINDOWS + "\\glintctl.exe"
VERSION_LINE = "Glintlamp version 1.0, build 12091\n"
# Wine's own diagnostics on standard error, should any get past WINEDEBUG=-all.
WINE_LINE = re.compile(r"^([0-9a-f]{4}:(fixme|err|warn|trace):|wine: )")
# How long the service may take to set the LED again after the tool changed it.
SERVICE_RESETS_WITHIN = 2.0


def tool_prefix(build, name, firmware=True, service=False):
    """A prefix with glintctl.exe beside the library (and the service, when asked for)."""
    programs = ("glintctl.exe", "glintwatch.exe") if service else ("glintctl.exe",)
    prefix = Prefix(build, name, firmware=firmware, connectivity_switch=service,
                    programs=programs)
    shutil.copy2(prefix.build / "bin" / "glintctl.exe", prefix.install_dir / "glintctl.exe")
    return prefix


def glintctl(session, *arguments):
    """Runs the tool; returns its exit code, standard output and its own standard error
    lines (both as the C library writes them to a pipe: CR LF line ends)."""
    result = session.run([PROGRAM] + list(arguments), timeout=120)
    err = [line for line in result.stderr.decode("latin-1").split("\r\n")
           if line and not WINE_LINE.match(line)]
    return result.returncode, result.stdout, err


def expect_run(session, arguments, exit_code, out, err_lines):
    code, got_out, got_err = glintctl(session, *arguments)
    what = "glintctl " + " ".join(arguments)
    expect(code == exit_code, f"{what}: exit code {code}, expected {exit_code}")
    expect(got_out == console(out), f"{what}: printed {got_out!r}, expected {console(out)!r}")
    expect(got_err == err_lines, f"{what}: standard error {got_err!r}, expected {err_lines!r}")


def failure(action, reason, code):
    return [f"glintctl: cannot {action}: {reason} (0x{code:08X})"]


# --- scenarios -------------------------------------------------------------------------------

def scenario_detect(build):
    """detect finds the firmware's LED control; help and the usage errors."""
    prefix = tool_prefix(build, "glintctl-detect")
    with Session(prefix) as session:
        expect_run(session, ["detect"], 0, VERSION_LINE + "LED control: found\n", [])
        code, out, err = glintctl(session, "/?")
        expect(code == 0 and out.startswith(b"usage: glintctl <command>\r\n") and err == [],
               f"glintctl /?: {code} {out!r} {err!r}")
        for arguments, problem in (([], "no command given"),
                                   (["blink"], "unknown command: blink"),
                                   (["on", "off"], "too many arguments")):
            code, out, err = glintctl(session, *arguments)
            expect(code == 2 and out == b"" and err[:2] == [f"glintctl: {problem}",
                                                            "usage: glintctl <command>"],
                   f"glintctl {arguments}: {code} {out!r} {err!r}")
        # The firmware publishes its LED on every command; detect leaves it as it was.
        expect(prefix.led() == "unknown", f"after detect the LED is {prefix.led()!r}")
    return prefix


def scenario_commands(build):
    """Each switching command sets the LED in the firmware, and state (in a process of its
    own) reads it back as one word."""
    prefix = tool_prefix(build, "glintctl-commands")
    with Session(prefix) as session:
        for command, done in (("on", "LED switched on"), ("off", "LED switched off"),
                              ("mode8", "LED in mode8"), ("mode1", "LED in mode1")):
            expect_run(session, [command], 0, done + "\n", [])
            expect(prefix.led() == command, f"after {command}: the LED is {prefix.led()!r}")
            expect_run(session, ["state"], 0, command + "\n", [])
    return prefix


def scenario_failures(build):
    """The firmware without its class, with a small buffer and refusing a command: exit 1
    and one line with the code."""
    prefix = tool_prefix(build, "glintctl-failures")
    with Session(prefix) as session:
        prefix.set_device(device_class=0)
        no_class = "this machine's firmware has no LED control class"
        expect_run(session, ["detect"], 1, VERSION_LINE,
                   failure("check for the LED control", no_class, 0xA0000000))
        expect_run(session, ["on"], 1, "", failure("switch the LED on", no_class, 0xA0000000))
        prefix.set_device(max=64)
        expect_run(session, ["state"], 1, "",
                   failure("read the LED state", "the firmware's buffer is too small", 0xA0000001))
        prefix.set_device(status=2)
        expect_run(session, ["mode8"], 1, "",
                   failure("put the LED into mode 8", "the firmware refused the command (status 2)",
                           0xA0000003))
        expect(prefix.led() == "unknown", f"a refused command changed the LED: {prefix.led()!r}")
    return prefix


def scenario_wine_wmi(build):
    """Wine's own WMI: the library fails before the class lookup (see the service suite's
    wine-wmi), with a code that is not the library's own, so the line carries the system's
    text for it, or says that there is none."""
    prefix = tool_prefix(build, "glintctl-wine-wmi", firmware=False)
    with Session(prefix) as session:
        code, out, err = glintctl(session, "detect")
        expect(code == 1 and out == console(VERSION_LINE), f"detect: {code} {out!r}")
        expect(len(err) == 1 and re.fullmatch(
            r"glintctl: cannot check for the LED control: \S.* \(0x80004002\)", err[0]),
            f"detect: standard error {err!r}")
        print(f"Wine's WMI: {err[0]}")
    return prefix


def scenario_beside_service(build):
    """The tool switches the LED while the service runs; the service sets it back within
    about a second, as the usage text says."""
    prefix = tool_prefix(build, "glintctl-beside-service", service=True)
    with Session(prefix) as session:
        install(session)
        start_service(session, prefix)
        expect_run(session, ["off"], 0, "LED switched off\n", [])
        took = wait_for(lambda: prefix.led() == "on", SERVICE_RESETS_WITHIN)
        expect(took is not None, f"the service left the LED {prefix.led()!r}")
        print(f"the service set the LED on again {took:.2f} s after glintctl exited")
        code, out = session.svcctl("stop", winetest.SERVICE_NAME)
        expect(code == 0, f"stop: {out!r}")
    return prefix


SCENARIOS = {
    "detect": scenario_detect,
    "commands": scenario_commands,
    "failures": scenario_failures,
    "wine-wmi": scenario_wine_wmi,
    "beside-service": scenario_beside_service,
}


def main(argv):
    return winetest.run_suite(SCENARIOS, argv, "glintctl ")


if __name__ == "__main__":
    sys.exit(main(sys.argv))
