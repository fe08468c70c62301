#!/usr/bin/env bash
# Shows the service at work under Wine: builds the Windows binaries, installs the service in a
# private prefix with a simulated firmware, starts it, switches the simulated internet
# connection off and on while printing the simulated LED, then stops and removes it.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
echo "== Building the Windows binaries and the test-only firmware provider"
cmake --preset windows >/dev/null
cmake --build --preset windows --target glintwatch glintlamp wine_wbem_provider \
  wine_connectivity wine_waiter wine_svcctl
python3 tests/wine/demo.py build/windows
