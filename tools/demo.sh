#!/usr/bin/env bash
# Shows the service at work: installs it, starts it, switches the simulated internet
# connection off and on while printing the simulated LED, then stops and removes it.
# Where Wine runs, the Windows binaries run in a private prefix with a simulated firmware;
# where it cannot (a kernel that refuses 32-bit programs), the service's own code runs on the
# host against the Windows stand-in, with the same simulated firmware.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
# The same test the build makes: Wine's 32-bit loader fails to start on such a kernel.
if timeout 60 wine --version >/dev/null 2>&1; then
  echo "== Building the Windows binaries and the test-only firmware provider"
  cmake --preset windows >/dev/null
  cmake --build --preset windows --target glintwatch glintlamp wine_wbem_provider \
    wine_connectivity wine_waiter wine_svcctl
  python3 tests/wine/demo.py build/windows
else
  echo "== Wine cannot run 32-bit programs on this machine: showing the service on the host instead"
  cmake --preset host >/dev/null
  cmake --build --preset host --target glintwatch_host_demo
  build/host/bin/glintwatch_host_demo
fi
