#!/usr/bin/env bash
# Every test: the host build with its unit tests, the same under AddressSanitizer and
# UBSan, then the Windows cross-build with its binary checks and the Wine suites.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake --workflow --preset host
cmake --workflow --preset host-sanitize
cmake --workflow --preset windows
