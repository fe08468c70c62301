#!/usr/bin/env bash
# Every test: the host build with its unit tests, the same under AddressSanitizer and
# UBSan, the LED library's fuzz target (its seed corpus, then a one-minute campaign), then the
# Windows cross-build with its binary and release checks and the Wine suites.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake --workflow --preset host
cmake --workflow --preset host-sanitize
cmake --workflow --preset host-fuzz
cmake --workflow --preset windows
# Where the kernel cannot run 32-bit programs, Wine cannot run the product's binaries: the
# Wine suites then run against a 64-bit build of the same sources.
if ! wine --version >/dev/null 2>&1; then
  echo "test: Wine cannot run 32-bit programs here; running the Wine suites on a 64-bit build"
  cmake --workflow --preset windows64
fi
