#!/usr/bin/env bash
# Builds the release into dist/: Glintwatch-<version>-win32.msi, Glintwatch-<version>-win32.zip
# and SHA256SUMS, from a windows build of its own that must pass its binary and release checks.
#   tools/release.sh            the project's version (GLINT_VERSION in CMakeLists.txt)
#   tools/release.sh 1.0.2      another version, for instance to test an upgrade
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
version_options=()
build=build/release/default
if (($# > 0)); then
  version_options=(-DGLINT_VERSION="$1")
  build=build/release/$1
fi
cmake --preset windows -B "$build" "${version_options[@]}" >/dev/null
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure -R '^(pe_|release_files|version_numbers)'
rm -rf dist
mkdir dist
cp "$build"/dist/* dist/
(cd dist && sha256sum -c SHA256SUMS)
echo "release in dist/:"
ls -l dist
