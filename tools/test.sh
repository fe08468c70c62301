#!/usr/bin/env bash
# Every test: the host build with its unit tests, the same under AddressSanitizer and
# UBSan, the LED library's fuzz target (its seed corpus, then a one-minute campaign), then the
# Windows cross-build with its binary checks and the Wine suites.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake --workflow --preset host
cmake --workflow --preset host-sanitize
cmake --workflow --preset host-fuzz
cmake --workflow --preset windows
