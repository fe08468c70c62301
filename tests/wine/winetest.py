"""Private Wine prefixes for the end-to-end tests and the demo.

A template prefix is booted once (`python3 winetest.py template <build>`); every scenario
works on a fresh copy of it, so scenarios never see each other's services, registry or
files. A Session keeps one waiting program alive in the copy (Wine ends a prefix's services
once no ordinary program is left), captures the standard error that services.exe and the
services it starts inherit, and kills the prefix's wineserver when it ends, whatever
happened. `python3 winetest.py run <build> <program.exe>` runs one test program of ours in
such a copy.

Layout inside a prefix:
  C:\\Program Files\\Zelv\\   the test copy of glintwatch.exe and glintlamp.dll (+ wininet.dll)
  C:\\glintsim\\              the simulated firmware's files and the connectivity flag
"""

import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

WINE_BASE_OVERRIDES = "mscoree,mshtml="  # no Mono or Gecko installers in a test prefix
TEMPLATE_MARK = "glint-template-ready"
SERVICE_NAME = "Glintwatch"
INSTALL_DIR_WINDOWS = "C:\\Program Files\\Zelv"
SIM_DIR_WINDOWS = "C:\\glintsim"
# Wine writes ReportEventW's strings on its eventlog channel, one debug line per text line.
EVENT_DEBUG = "-all,err+eventlog"
EVENT_LINE = re.compile(r'err:eventlog:ReportEventW L"(.*)"\s*$')


class WineError(RuntimeError):
    pass


class ScenarioFailed(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise ScenarioFailed(message)


def run_scenario(label, scenario):
    """Runs one scenario (a callable that returns its Prefix) and prints how it went; the
    prefix of a passed scenario is removed, a failed one's stays for a look. Returns the
    exit code."""
    started = time.monotonic()
    try:
        prefix = scenario()
    except (ScenarioFailed, WineError, subprocess.TimeoutExpired) as failure:
        print(f"FAILED {label}: {failure}", file=sys.stderr)
        return 1
    prefix.remove()
    print(f"passed {label} in {time.monotonic() - started:.1f} s")
    return 0


# The product is 32-bit and runs on Debian's 32-bit Wine loader. A 64-bit build of the same
# sources (made only where the kernel cannot run 32-bit programs, and so no 32-bit Wine) runs
# on the 64-bit loader, which the `wine` command does not pick while the 32-bit one is there.
WINE_LOADERS = {"win32": "wine", "win64": "/usr/lib/wine/wine64"}
TOOL_TRIPLES = {"win32": "i686-w64-mingw32", "win64": "x86_64-w64-mingw32"}
wine_arch = "win32"  # of the build under test; set by use_build


def use_build(build):
    """Runs what follows with the Wine that suits the build's binaries."""
    global wine_arch
    program = (Path(build) / "bin" / "glintwatch.exe").read_bytes()
    header = int.from_bytes(program[0x3C:0x40], "little")  # where the PE header starts
    machine = int.from_bytes(program[header + 4:header + 6], "little")
    wine_arch = "win64" if machine == 0x8664 else "win32"


def wine():
    return WINE_LOADERS[wine_arch]


def tool(name):
    """A binutils program of the build's cross toolchain, e.g. tool("strip")."""
    return shutil.which(f"{TOOL_TRIPLES[wine_arch]}-{name}")


def run_suite(scenarios, argv, label=""):
    """The command line of a suite: `<script> <build dir> <scenario>`; returns the exit code."""
    if len(argv) != 3 or argv[2] not in scenarios:
        print(f"usage: {Path(argv[0]).name} <build dir> {'|'.join(scenarios)}", file=sys.stderr)
        return 2
    build, name = argv[1], argv[2]
    return run_scenario(f"{label}{name}", lambda: scenarios[name](build))


def wine_env(prefix, debug="-all", overrides=WINE_BASE_OVERRIDES):
    env = dict(os.environ)
    env.update(WINEARCH=wine_arch, WINEPREFIX=str(prefix), WINEDEBUG=debug,
               WINEDLLOVERRIDES=overrides)
    if wine_arch == "win64":
        env["WINELOADER"] = wine()  # for the programs Wine starts itself
    env.pop("DISPLAY", None)  # nothing here needs a window
    return env


def kill_wineserver(prefix):
    subprocess.run(["wineserver", "-k"], env=wine_env(prefix), stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=False, timeout=60)
    subprocess.run(["wineserver", "-w"], env=wine_env(prefix), stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=False, timeout=60)


def boot_prefix(prefix):
    """Creates a prefix and waits until Wine has finished setting it up."""
    prefix = Path(prefix)
    if prefix.exists():
        shutil.rmtree(prefix)
    prefix.parent.mkdir(parents=True, exist_ok=True)
    try:
        subprocess.run([wine(), "wineboot", "-i"], env=wine_env(prefix), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True, timeout=300)
        subprocess.run(["wineserver", "-w"], env=wine_env(prefix), check=True, timeout=300)
    finally:
        kill_wineserver(prefix)


def make_template(build):
    use_build(build)
    template = template_path(build)
    boot_prefix(template)
    (template / TEMPLATE_MARK).write_text("booted\n")
    return template


def template_path(build):
    return Path(build).resolve() / "tests" / "wine" / "prefix-template"


def helpers_dir(build):
    return Path(build).resolve() / "tests" / "wine" / "dlls"


def decode_wine_string(text):
    """Undoes Wine's debugstr escaping of a wide string."""
    out, i = [], 0
    simple = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\"}
    while i < len(text):
        ch = text[i]
        if ch == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            if nxt in simple:
                out.append(simple[nxt])
                i += 2
                continue
            if nxt == "x":
                digits = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2:])
                if digits:
                    out.append(chr(int(digits.group(0), 16)))
                    i += 2 + len(digits.group(0))
                    continue
        out.append(ch)
        i += 1
    return "".join(out)


class Prefix:
    """A disposable copy of the template prefix, prepared for the service under test."""

    def __init__(self, build, name, firmware=True, connectivity_switch=True,
                 programs=("glintwatch.exe",)):
        use_build(build)
        self.build = Path(build).resolve()  # Wine wants an absolute prefix path
        self.root = self.build / "tests" / "wine" / "run" / name
        self.drive_c = self.root / "drive_c"
        self.sim_dir = self.drive_c / "glintsim"
        self.install_dir = self.drive_c / "Program Files" / "Zelv"
        template = template_path(build)
        if not (template / TEMPLATE_MARK).exists():
            raise WineError(f"no template prefix at {template}: run `winetest.py template`")
        if self.root.exists():
            shutil.rmtree(self.root)
        self.root.parent.mkdir(parents=True, exist_ok=True)
        shutil.copytree(template, self.root, symlinks=True)
        self.sim_dir.mkdir()
        self.install_dir.mkdir(parents=True, exist_ok=True)
        helpers = helpers_dir(build)
        for helper in ("waiter.exe", "svcctl.exe"):
            shutil.copy2(helpers / helper, self.sim_dir / helper)
        for shipped in ("glintwatch.exe", "glintlamp.dll"):
            shutil.copy2(self.build / "bin" / shipped, self.install_dir / shipped)
        overrides = {}
        if connectivity_switch:
            shutil.copy2(helpers / "wininet.dll", self.install_dir / "wininet.dll")
            overrides["wininet"] = "native"
        if firmware:
            # CoCreateInstance loads the locator from this path; the override makes Wine take
            # the file on disk instead of its own built-in copy.
            shutil.copy2(helpers / "wbemprox.dll",
                         self.drive_c / "windows" / "system32" / "wbem" / "wbemprox.dll")
            overrides["wbemprox"] = "native"
        for program in programs if overrides else ():
            self._add_program_overrides(program, overrides)
        self.set_online(True)

    def _add_program_overrides(self, program, overrides):
        # The registry files are plain text while no wineserver runs; an override for one
        # program leaves every other program of the prefix with Wine's own DLLs.
        lines = [f"\n[Software\\\\Wine\\\\AppDefaults\\\\{program}\\\\DllOverrides] 0\n"]
        lines += [f'"{dll}"="{order}"\n' for dll, order in overrides.items()]
        with open(self.root / "user.reg", "a", encoding="utf-8") as registry:
            registry.writelines(lines)

    def program(self):
        return INSTALL_DIR_WINDOWS + "\\glintwatch.exe"

    # The simulated world, as the provider and the connectivity switch read it.
    def set_online(self, online):
        flag = self.sim_dir / "online"
        if online:
            flag.write_text("1\n")
        elif flag.exists():
            flag.unlink()

    def set_device(self, **settings):
        text = "".join(f"{key}={value}\n" for key, value in settings.items())
        (self.sim_dir / "device.cfg").write_text(text)

    def led(self):
        try:
            return (self.sim_dir / "led.txt").read_text().strip()
        except FileNotFoundError:
            return None

    def stderr_path(self):
        """Where a Session keeps the standard error of the prefix's services."""
        return self.root.parent / (self.root.name + ".stderr")

    def remove(self):
        kill_wineserver(self.root)
        shutil.rmtree(self.root, ignore_errors=True)
        self.stderr_path().unlink(missing_ok=True)


class Session:
    """The prefix running: one waiting program keeps it alive, its stderr is captured."""

    def __init__(self, prefix):
        self.prefix = prefix
        self.stderr_path = prefix.stderr_path()
        self.keeper = None

    def __enter__(self):
        self.stderr_file = open(self.stderr_path, "wb")
        self.keeper = subprocess.Popen(
            [wine(), SIM_DIR_WINDOWS + "\\waiter.exe"], env=wine_env(self.prefix.root, EVENT_DEBUG),
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=self.stderr_file)
        try:
            # A program started before the keeper has brought up the wineserver would start it
            # (and services.exe) itself, with its own standard handles: wait for the server.
            if wait_for(lambda: prefix_processes(self.prefix.root, "services.exe"), 60) is None:
                raise WineError("the prefix's services.exe did not start")
            # Any later program waits until the prefix has finished starting.
            self.run(["cmd", "/c", "exit"], timeout=120, check=True)
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, exc_type, *exc):
        kill_wineserver(self.prefix.root)
        try:
            self.keeper.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.keeper.kill()
            self.keeper.wait()
        self.stderr_file.close()
        # Nothing of the prefix may outlive the scenario, a hung service least of all.
        if wait_for(lambda: not prefix_processes(self.prefix.root), 15) is None:
            leftover = prefix_processes(self.prefix.root)
            if exc_type is None:
                raise WineError(f"processes left running in the prefix: {leftover}")
            print(f"processes left running in the prefix: {leftover}", file=sys.stderr)
        return False

    def run(self, args, timeout=60, check=False, debug="-all"):
        """Runs a program in the prefix and waits for it; returns the CompletedProcess (the
        program's own event strings are in its stderr when `debug` is EVENT_DEBUG)."""
        result = subprocess.run([wine()] + list(args), env=wine_env(self.prefix.root, debug),
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, timeout=timeout, check=False)
        if check and result.returncode != 0:
            raise WineError(f"{args} exited {result.returncode}: {result.stdout!r} "
                            f"{result.stderr[-2000:]!r}")
        return result

    def glintwatch(self, *options, timeout=60, debug="-all"):
        return self.run([self.prefix.program()] + list(options), timeout=timeout, debug=debug)

    def svcctl(self, *args, timeout=120):
        result = self.run([SIM_DIR_WINDOWS + "\\svcctl.exe"] + list(args), timeout=timeout)
        return result.returncode, result.stdout.decode("ascii", "replace")

    def service_state(self):
        """The service's state and exit code, or None when no such service exists."""
        _, out = self.svcctl("query", SERVICE_NAME)
        return parse_pairs(out) if "state=" in out else None

    def event_lines(self):
        """Every ReportEventW text line the prefix's services wrote so far, decoded."""
        self.stderr_file.flush()
        return event_lines(self.stderr_path.read_bytes())


def event_lines(stderr):
    return [decode_wine_string(m.group(1)) for m in
            (EVENT_LINE.search(line) for line in stderr.decode("utf-8", "replace").splitlines())
            if m]


def prefix_processes(prefix, image=""):
    """Linux process ids of the Windows programs running in `prefix` (optionally only those
    whose command line names `image`)."""
    wanted = f"WINEPREFIX={prefix}".encode()
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            if wanted not in (entry / "environ").read_bytes().split(b"\0"):
                continue
            command = (entry / "cmdline").read_bytes().replace(b"\0", b" ").decode("utf-8", "replace")
        except OSError:
            continue
        if image.lower() in command.lower():
            found.append(int(entry.name))
    return found


def parse_pairs(line):
    return dict(pair.split("=", 1) for pair in line.split() if "=" in pair)


def wait_for(predicate, timeout, interval=0.05):
    """Polls `predicate` until it is true; returns the seconds it took, or None."""
    started = time.monotonic()
    while time.monotonic() - started < timeout:
        if predicate():
            return time.monotonic() - started
        time.sleep(interval)
    return None


def run_program(build, program):
    """Runs a test program of ours in a fresh prefix with the firmware provider; returns its
    exit code after passing on its output."""
    program = Path(program)
    prefix = Prefix(build, program.stem, connectivity_switch=False, programs=(program.name,))
    shutil.copy2(program, prefix.sim_dir / program.name)
    with Session(prefix) as session:
        result = session.run([SIM_DIR_WINDOWS + "\\" + program.name], timeout=120)
    sys.stdout.write(result.stdout.decode("latin-1"))
    if result.returncode == 0:
        prefix.remove()
    return result.returncode


def main(argv):
    if len(argv) == 3 and argv[1] == "template":
        print(f"template prefix ready: {make_template(argv[2])}")
        return 0
    if len(argv) == 4 and argv[1] == "run":
        return run_program(argv[2], argv[3])
    print("usage: winetest.py template <build dir> | run <build dir> <program.exe>",
          file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
