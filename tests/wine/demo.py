"""The service doing its job, for a person to watch: a private Wine prefix with the simulated
firmware, install, start, the internet connection switched off and on while the simulated LED
follows, stop, remove. Run through tools/demo.sh."""

import sys
import time

sys.dont_write_bytecode = True  # keep the source tree clean
import winetest  # noqa: E402
from winetest import Prefix, Session, SERVICE_NAME


def say(text):
    print(f"\n== {text}", flush=True)


def show(result):
    for line in result.stdout.decode("latin-1").splitlines():
        print(f"   {line}")


def follow(prefix, online, timeout=3.0):
    """Switches the connection and prints the LED until it has followed."""
    prefix.set_online(online)
    wanted = "on" if online else "off"
    print(f"   internet {'back' if online else 'gone'}: LED is {prefix.led()}", flush=True)
    started = time.monotonic()
    while time.monotonic() - started < timeout:
        time.sleep(0.25)
        led = prefix.led()
        print(f"   {time.monotonic() - started:4.2f} s: LED is {led}", flush=True)
        if led == wanted:
            return True
    return False


def main(build):
    if not (winetest.template_path(build) / winetest.TEMPLATE_MARK).exists():
        say("Creating a Wine prefix (once; about ten seconds)")
        winetest.make_template(build)
    say("A private copy of it, with the simulated firmware behind WMI")
    prefix = Prefix(build, "demo")
    print(f"   {prefix.root}")
    ok = True
    with Session(prefix) as session:
        say("glintwatch -install")
        show(session.glintwatch("-install"))
        say(f"net start {SERVICE_NAME}")
        show(session.run(["net", "start", SERVICE_NAME]))
        say("The service polls the connection once a second and sets the LED")
        ok &= winetest.wait_for(lambda: prefix.led() == "on", 3) is not None
        print(f"   internet on: LED is {prefix.led()}")
        say("Switching the (simulated) internet connection off")
        ok &= follow(prefix, False)
        say("And on again")
        ok &= follow(prefix, True)
        say(f"net stop {SERVICE_NAME}")
        show(session.run(["net", "stop", SERVICE_NAME]))
        say("glintwatch -remove")
        show(session.glintwatch("-remove"))
        say("Stopping the prefix")
    prefix.remove()
    print("\nDone." if ok else "\nThe LED did not follow the connection.")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
