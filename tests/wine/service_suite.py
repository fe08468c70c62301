"""End-to-end scenarios: the shipped glintwatch.exe and glintlamp.dll in a Wine prefix, with
the simulated firmware behind WMI and a switchable internet connection.

    python3 service_suite.py <build dir> <scenario>

Each scenario runs in a fresh copy of the template prefix and ends with the prefix's
wineserver killed and no process of it left.
"""

import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.dont_write_bytecode = True  # keep the source tree clean
import winetest  # noqa: E402
from winetest import Prefix, Session, SERVICE_NAME, expect, wait_for

DISPLAY_NAME = "Zelv LED Control Service"
SERVICE_KEY = r"HKLM\System\CurrentControlSet\Services\Glintwatch"
EVENT_SOURCE_KEY = r"HKLM\System\CurrentControlSet\Services\EventLog\Application\Glintwatch"
# Where the SCM keeps a description and failure actions of a service.
CONFIG_EXTRAS = {"Description", "FailureActions", "FailureCommand", "RebootMessage"}
ERROR_SERVICE_SPECIFIC_ERROR = 1066
LED_E_DEVICE_STATUS_1 = 0xA0000002  # the firmware answered status 1
LED_FOLLOW_SECONDS = 2.0
USAGE = ("Glintwatch -install          to install the service\n"
         "Glintwatch -remove           to remove the service\n"
         "Glintwatch -debug <params>   to run as a console app for debugging\n"
         "\n"
         "StartServiceCtrlDispatcher being called.\n"
         "This may take several seconds.  Please wait.\n")


def console(text):
    """Console text as the C library writes it to a file or pipe: LF becomes CR LF."""
    return text.replace("\n", "\r\n").encode("latin-1")


def expect_output(result, text, what):
    expect(result.stdout == console(text),
           f"{what}: expected {console(text)!r}, got {result.stdout!r}")
    expect(result.returncode == 0, f"{what}: exit code {result.returncode}")


def registry_values(session, key=SERVICE_KEY):
    """A registry key (the service's unless named) as {name: (type, data)}."""
    result = session.run(["reg", "query", key])
    values = {}
    for line in result.stdout.decode("latin-1").splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[1].startswith("REG_"):
            values[parts[0]] = (parts[1], parts[2] if len(parts) == 3 else "")
    return values


def install(session):
    expect_output(session.glintwatch("-install"), f"{DISPLAY_NAME} installed.\n", "-install")


def start_service(session, prefix):
    """Starts the service through the SCM; returns the time to RUNNING in ms."""
    code, out = session.svcctl("start", SERVICE_NAME)
    expect(code == 0, f"the service did not reach RUNNING: {out!r}")
    expect(wait_for(lambda: prefix.led() == "on", LED_FOLLOW_SECONDS) is not None,
           f"the LED did not come on: {prefix.led()!r}")
    return float(winetest.parse_pairs(out)["ms"])


def expect_stopped(session, exit_code, specific_exit_code=0, within=5.0):
    state = {}

    def stopped():
        state.update(session.service_state() or {})
        return state.get("state") == "STOPPED"

    expect(wait_for(stopped, within, interval=0.2) is not None, f"not STOPPED: {state}")
    expect(state.get("exit") == str(exit_code),
           f"stopped with exit code {state.get('exit')}, expected {exit_code}")
    expect(state.get("specific") == f"0x{specific_exit_code:08x}",
           f"stopped with service-specific code {state.get('specific')}, "
           f"expected 0x{specific_exit_code:08x}")


def sc_exit_codes(session):
    """The Win32 and the service-specific exit code, as `sc query` shows them."""
    out = session.run(["sc", "query", SERVICE_NAME]).stdout.decode("latin-1")
    codes = [re.search(rf"{field}\s*:\s*(\d+)", out)
             for field in ("WIN32_EXIT_CODE", "SERVICE_EXIT_CODE")]
    expect(all(codes), f"sc query shows no exit codes: {out!r}")
    return tuple(int(code.group(1)) for code in codes)


def expect_failure_stop(session, error, result):
    """A stop that a failure caused never reports success: the event's error is the exit
    code, and where it is 0 the exit code is ERROR_SERVICE_SPECIFIC_ERROR with the failing
    result as the service-specific code. Both the SCM and `sc query` must show it."""
    error &= 0xFFFFFFFF  # the event writes it as a signed number
    expected = (error, 0) if error else (ERROR_SERVICE_SPECIFIC_ERROR, result)
    expect_stopped(session, *expected)
    shown = sc_exit_codes(session)
    expect(shown == expected, f"sc query shows exit codes {shown}, expected {expected}")
    print(f"stopped with exit code {expected[0]}, service-specific 0x{expected[1]:08X}")


def expect_one_event(lines, message):
    """One error event: "Glintwatch error: N" and the message; returns N."""
    expect(len(lines) == 2, f"expected one event (two strings), got {lines!r}")
    first = re.fullmatch(r"Glintwatch error: (-?\d+)", lines[0])
    expect(first is not None, f"first event string: {lines[0]!r}")
    expect(lines[1] == message, f"second event string: {lines[1]!r}, expected {message!r}")
    return int(first.group(1))


# --- scenarios -------------------------------------------------------------------------------

def scenario_install(build):
    prefix = Prefix(build, "install")
    with Session(prefix) as session:
        install(session)
        values = registry_values(session)
        wanted = {
            "Type": ("REG_DWORD", "0x10"),             # own process
            "Start": ("REG_DWORD", "0x3"),             # demand start
            "ErrorControl": ("REG_DWORD", "0x1"),      # normal
            "DependOnService": ("REG_MULTI_SZ", "winmgmt"),
            "ObjectName": ("REG_SZ", "LocalSystem"),
            "DisplayName": ("REG_SZ", DISPLAY_NAME),
            # Quoted: the install folder has a space, and an unquoted path could start
            # "C:\Program.exe".
            "ImagePath": ("REG_SZ", f'"{prefix.program()}"'),
        }
        for name, value in wanted.items():
            expect(values.get(name) == value, f"{name}: {values.get(name)!r}, expected {value!r}")
        # The service and nothing else: no description, no failure actions, no event source.
        extra = CONFIG_EXTRAS & set(values)
        expect(not extra, f"-install registered more than the service: {sorted(extra)}")
        expect(session.run(["reg", "query", EVENT_SOURCE_KEY]).returncode != 0,
               "-install registered an event source")

        # The option is matched without regard to case and with "/" as well as "-".
        expect_output(session.glintwatch("/INSTALL"),
                      "CreateService failed - Service exists. (0x431)\n", "second install")
        expect(registry_values(session) == values, "a second install changed the registration")
    return prefix


def scenario_start_stop(build):
    prefix = Prefix(build, "start-stop")
    with Session(prefix) as session:
        install(session)
        started = session.run(["net", "start", SERVICE_NAME], timeout=60)
        expect(started.returncode == 0, f"net start: {started.returncode} {started.stdout!r}")
        expect(session.service_state()["state"] == "RUNNING", "not RUNNING after net start")
        expect(wait_for(lambda: prefix.led() == "on", LED_FOLLOW_SECONDS) is not None,
               f"online: the LED is {prefix.led()!r}")
        for online, led in ((False, "off"), (True, "on"), (False, "off"), (True, "on")):
            prefix.set_online(online)
            took = wait_for(lambda: prefix.led() == led, LED_FOLLOW_SECONDS)
            expect(took is not None, f"online={online}: the LED stayed {prefix.led()!r}")
            print(f"online={online}: LED {led} after {took:.2f} s")
        stopped = session.run(["net", "stop", SERVICE_NAME], timeout=60)
        expect(stopped.returncode == 0, f"net stop: {stopped.returncode} {stopped.stdout!r}")
        expect_stopped(session, 0)
        expect(sc_exit_codes(session) == (0, 0),
               f"after net stop sc query shows {sc_exit_codes(session)}")

        # Timed from inside the prefix, the SCM's own view of both transitions.
        code, out = session.svcctl("start", SERVICE_NAME)
        expect(code == 0, f"second start: {out!r}")
        print(f"time to RUNNING: {winetest.parse_pairs(out)['ms']} ms")
        code, out = session.svcctl("stop", SERVICE_NAME)
        expect(code == 0 and winetest.parse_pairs(out)["exit"] == "0", f"stop: {out!r}")
        print(f"time to STOPPED: {winetest.parse_pairs(out)['ms']} ms")
        expect(session.event_lines() == [], f"events on a clean run: {session.event_lines()!r}")
    return prefix


def expect_failed_detect(build, name, firmware, detect_result, **device):
    """Detect fails: the service goes from start pending to STOPPED with one event and a
    failure's exit code, and -debug prints only its first line."""
    prefix = Prefix(build, name, firmware=firmware)
    prefix.set_device(**device)
    with Session(prefix) as session:
        install(session)
        # Wine's net.exe does not wait for the outcome of a start, so ask the SCM directly.
        code, out = session.svcctl("start", SERVICE_NAME)
        expect(code != 0 and "state=STOPPED" in out, f"start without firmware: {out!r}")
        error = expect_one_event(session.event_lines(),
                                 f"ERROR: Zelv_LedDetect returned: 0x{detect_result:08X}\n")
        expect_failure_stop(session, error, detect_result)
        expect_output(session.glintwatch("-debug", timeout=60), f"Debugging {DISPLAY_NAME}.\n",
                      "-debug without firmware")
    return prefix


def scenario_no_firmware_class(build):
    """A WMI without the firmware class, as on a machine without the LED."""
    return expect_failed_detect(build, "no-firmware-class", True, 0xA0000000, device_class=0)


def scenario_wine_wmi(build):
    """Wine's own WMI. It has no firmware class either, but the library never gets as far as
    asking: Wine's connection object cannot be marshaled (no IMarshal, no proxy for
    IWbemServices), so registering it in the global interface table fails with E_NOINTERFACE.
    Windows' WMI proxy marshals, and there the result would be 0xA0000000 (see
    no-firmware-class)."""
    return expect_failed_detect(build, "wine-wmi", False, 0x80004002)


def scenario_device_faults(build):
    """The shipped library against a misbehaving firmware, through real COM: each fault ends
    the start with the library's result in the event."""
    cases = [
        ({"bdat_class": 0}, 0x80041002),        # WBEM_E_NOT_FOUND passes unchanged
        ({"max": 64}, 0xA0000001),              # buffer below 128 bytes
        ({"max": 127}, 0xA0000001),
        ({"status": 2}, 0xA0000003),
        ({"status": 3}, 0xA0000004),
        ({"status": 5}, 0xA0000006),
        ({"status": 255}, 0xA0000006),
        ({"answer": "data-empty"}, 0x80041005),  # no answer object: WBEM_E_TYPE_MISMATCH
        ({"answer": "bytes-not-byte-array"}, 0x80041005),
    ]
    prefix = Prefix(build, "device-faults")
    with Session(prefix) as session:
        install(session)
        for device, detect_result in cases:
            prefix.set_device(**device)
            seen = len(session.event_lines())
            code, out = session.svcctl("start", SERVICE_NAME)
            expect(code != 0 and "state=STOPPED" in out, f"{device}: started: {out!r}")
            error = expect_one_event(session.event_lines()[seen:],
                                     f"ERROR: Zelv_LedDetect returned: 0x{detect_result:08X}\n")
            expect_failure_stop(session, error, detect_result)
        # Status 4 counts as carried out, and "max" matches in any letter case.
        prefix.set_device(status=4, max_name="MaX")
        start_service(session, prefix)
        code, out = session.svcctl("stop", SERVICE_NAME)
        expect(code == 0, f"stop: {out!r}")
    return prefix


def scenario_debug_console(build):
    """-debug with the firmware present runs the worker in the console: the LED follows the
    connection, and the console line is out while the program still runs (a console program
    is often ended from outside, and must not have kept its text back)."""
    prefix = Prefix(build, "debug-console")
    with Session(prefix) as session:
        output = prefix.root / "debug-stdout.txt"
        with open(output, "wb") as stdout:
            program = subprocess.Popen(
                [winetest.wine(), prefix.program(), "-debug", "extra", "arguments"],
                env=winetest.wine_env(prefix.root), stdin=subprocess.DEVNULL, stdout=stdout,
                stderr=subprocess.DEVNULL)
        try:
            expect(wait_for(lambda: prefix.led() == "on", 10) is not None,
                   f"-debug: LED {prefix.led()!r}, not on")
            prefix.set_online(False)
            expect(wait_for(lambda: prefix.led() == "off", 5) is not None,
                   f"-debug: LED {prefix.led()!r}, not off")
            expect(output.read_bytes() == console(f"Debugging {DISPLAY_NAME}.\n"),
                   f"-debug while running: {output.read_bytes()!r}")
            expect(program.poll() is None, "-debug ended by itself")
            expect(session.event_lines() == [], "-debug logged events")
        finally:
            program.kill()
            program.wait()
    return prefix


def scenario_led_failure(build):
    """The firmware starts answering a failing status while the service runs."""
    prefix = Prefix(build, "led-failure")
    with Session(prefix) as session:
        install(session)
        start_service(session, prefix)
        prefix.set_device(status=1)
        expect(wait_for(lambda: len(session.event_lines()) >= 2, 5) is not None,
               "no event after the LED failure")
        error = expect_one_event(session.event_lines(), "ERROR: unable to set the LED state ON!\n")
        expect_failure_stop(session, error, LED_E_DEVICE_STATUS_1)
        expect(len(session.event_lines()) == 2, f"more events: {session.event_lines()!r}")
    return prefix


def scenario_remove(build):
    prefix = Prefix(build, "remove")
    with Session(prefix) as session:
        install(session)
        start_service(session, prefix)
        # Catch the service inside an LED call, so the stop takes longer than the remove
        # command's first one-second wait and the dots show.
        hold = prefix.sim_dir / "hold"
        hold.write_text("1\n")
        expect(wait_for((prefix.sim_dir / "holding").exists, 5) is not None,
               "the service made no LED call")
        remover = subprocess.Popen([winetest.wine(), prefix.program(), "-remove"],
                                   env=winetest.wine_env(prefix.root), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        # Let the remove command see STOP_PENDING for more than its first one-second wait.
        expect(wait_for(lambda: (session.service_state() or {}).get("state") == "STOP_PENDING",
                        30) is not None, "no stop request reached the service")
        time.sleep(1.5)
        hold.unlink()
        out, _ = remover.communicate(timeout=60)
        pattern = (re.escape(f"Stopping {DISPLAY_NAME}.") + r"\.+" +
                   re.escape(f"\r\n{DISPLAY_NAME} stopped.\r\n{DISPLAY_NAME} removed.\r\n"))
        expect(re.fullmatch(pattern.encode(), out) is not None, f"-remove printed {out!r}")
        expect(remover.returncode == 0, f"-remove exit code {remover.returncode}")
        expect(session.service_state() is None, "the service is still registered")
        query = session.run(["sc", "query", SERVICE_NAME])
        expect(query.returncode != 0 and b"SERVICE_NAME" not in query.stdout,
               f"sc query still finds the service: {query.stdout!r}")

        expect_output(session.glintwatch("-remove"),
                      "OpenService failed - Service does not exist. (0x424)\n", "second remove")
    return prefix


def scenario_usage(build):
    """Without a recognised option the program prints its usage and, outside the SCM,
    logs the dispatcher's refusal. Windows refuses at once; Wine's dispatcher first waits
    about ten seconds for a service controller that never calls, so each case takes that
    long."""
    prefix = Prefix(build, "usage")
    with Session(prefix) as session:
        for options in ([], ["-debugx"], ["install"]):
            result = session.glintwatch(*options, debug=winetest.EVENT_DEBUG)
            expect_output(result, USAGE, f"options {options}")
            lines = winetest.event_lines(result.stderr)
            expect(lines == ["Glintwatch error: 1063", "StartServiceCtrlDispatcher failed."],
                   f"options {options}: events {lines!r}")
    return prefix


def read_linux_cpu_seconds(pid):
    """User and system time of a Linux process (Wine reports none for another process)."""
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")  # utime + stime


def scenario_soak(build, cycles=50, running_ms=1100):
    """Start and stop again and again: every cycle reaches RUNNING and STOPPED, and a fresh
    service process never needs more handles or memory than the first ones did."""
    prefix = Prefix(build, "soak")
    with Session(prefix) as session:
        install(session)
        code, out = session.svcctl("soak", SERVICE_NAME, str(cycles), str(running_ms),
                                   timeout=cycles * 30)
        lines = out.splitlines()
        starts = [winetest.parse_pairs(l) for l in lines if "state=" in l][0::2]
        stops = [winetest.parse_pairs(l) for l in lines if "state=" in l][1::2]
        stats = [winetest.parse_pairs(l) for l in lines if "handles=" in l]
        expect(code == 0 and len(stats) == cycles, f"soak ended early: {out[-500:]!r}")
        expect(all(s["state"] == "RUNNING" for s in starts), "a cycle did not reach RUNNING")
        expect(all(s["state"] == "STOPPED" and s["exit"] == "0" for s in stops),
               "a cycle did not stop cleanly")
        handles = [int(s["handles"]) for s in stats]
        memory = [int(s["working_set"]) for s in stats]
        first, last = slice(0, 10), slice(-10, None)
        print(f"handles first/last cycles: {handles[first]} / {handles[last]}")
        print(f"working set first/last cycles (KiB): {[m // 1024 for m in memory[first]]} / "
              f"{[m // 1024 for m in memory[last]]}")
        expect(max(handles[last]) <= max(handles[first]) + 2, "handle count grows over cycles")
        expect(max(memory[last]) <= max(memory[first]) * 1.05, "working set grows over cycles")
        expect(session.event_lines() == [], f"events: {session.event_lines()!r}")
    return prefix


def stripped_size(binary):
    strip = winetest.tool("strip")
    copy = binary.with_suffix(binary.suffix + ".stripped")
    subprocess.run([strip, "-o", str(copy), str(binary)], check=True)
    size = copy.stat().st_size
    copy.unlink()
    return size


def scenario_figures(build, seconds=60):
    """A minute of running with the connection switched now and then: the figures for the
    record, and no growth of handles or memory inside one service process."""
    prefix = Prefix(build, "figures")
    with Session(prefix) as session:
        install(session)
        to_running = start_service(session, prefix)
        [pid] = winetest.prefix_processes(prefix.root, "glintwatch.exe")
        time.sleep(2)
        before = winetest.parse_pairs(session.svcctl("stats", SERVICE_NAME)[1])
        cpu_before = read_linux_cpu_seconds(pid)
        for second in range(seconds):
            if second % 10 == 5:
                prefix.set_online(second % 20 != 5)
            time.sleep(1)
        cpu = read_linux_cpu_seconds(pid) - cpu_before
        after = winetest.parse_pairs(session.svcctl("stats", SERVICE_NAME)[1])
        code, out = session.svcctl("stop", SERVICE_NAME)
        expect(code == 0, f"stop: {out!r}")
        stop_ms = float(winetest.parse_pairs(out)["ms"])
        expect(session.event_lines() == [], f"events: {session.event_lines()!r}")

    bin_dir = Path(build) / "bin"
    print("figures:")
    print(f"  time to RUNNING:           {to_running:.0f} ms")
    print(f"  stop latency:              {stop_ms:.0f} ms")
    print(f"  CPU time over {seconds} s:       {cpu * 1000:.0f} ms")
    print(f"  peak working set:          {int(after['peak_working_set']) // 1024} KiB")
    print(f"  handles after 2 s / {seconds} s:   {before['handles']} / {after['handles']}")
    print(f"  working set 2 s / {seconds} s:     {int(before['working_set']) // 1024} / "
          f"{int(after['working_set']) // 1024} KiB")
    for name in ("glintwatch.exe", "glintlamp.dll"):
        print(f"  stripped {name}: {stripped_size(bin_dir / name)} bytes")
    expect(int(after["handles"]) <= int(before["handles"]) + 2, "handles grow while running")
    expect(int(after["working_set"]) <= int(before["working_set"]) + 1024 * 1024,
           "working set grows while running")
    return prefix


def scenario_message_table(build):
    """Event Viewer's view of an event: glintwatch.exe, loaded as a data file, has a message
    for event ID 0 that shows the event's two strings, one per line, and adds nothing."""
    prefix = Prefix(build, "message-table")
    shutil.copy2(winetest.helpers_dir(build) / "msgtable.exe", prefix.sim_dir / "msgtable.exe")
    events = [("Glintwatch error: 0", "ERROR: Zelv_LedDetect returned: 0xA0000000"),
              ("Glintwatch error: 1063", "StartServiceCtrlDispatcher failed.")]
    with Session(prefix) as session:
        for first, message in events:
            result = session.run([winetest.SIM_DIR_WINDOWS + "\\msgtable.exe", prefix.program(),
                                  "0", first, message])
            out = result.stdout.decode("ascii", "replace").strip()
            expect(result.returncode == 0 and out.startswith("text="),
                   f"message 0 not formatted: {out!r}")
            units = out[len("text="):]
            text = "".join(chr(int(units[i:i + 4], 16)) for i in range(0, len(units), 4))
            expect(text == f"{first}\r\n{message}", f"message 0 reads {text!r}")
    return prefix


SCENARIOS = {
    "install": scenario_install,
    "start-stop": scenario_start_stop,
    "no-firmware-class": scenario_no_firmware_class,
    "wine-wmi": scenario_wine_wmi,
    "device-faults": scenario_device_faults,
    "debug-console": scenario_debug_console,
    "led-failure": scenario_led_failure,
    "remove": scenario_remove,
    "usage": scenario_usage,
    "soak": scenario_soak,
    "figures": scenario_figures,
    "message-table": scenario_message_table,
}


def main(argv):
    return winetest.run_suite(SCENARIOS, argv)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
