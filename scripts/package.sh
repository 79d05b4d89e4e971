#!/usr/bin/env bash
# Builds the Debian package of Veltra Log from a clean checkout:
#
#   bash scripts/package.sh
#
# configures a Release build without the tests in build/package (another
# folder with VELTRA_PACKAGE_BUILD_DIR), builds it, runs cpack and prints the
# path of the .deb. Install it with: sudo apt install ./build/package/veltra-log_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build=${VELTRA_PACKAGE_BUILD_DIR:-build/package}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELTRA_BUILD_TESTS=OFF
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)"
rm -f "$build"/veltra-log_*.deb
(cd "$build" && cpack -G DEB --config CPackConfig.cmake >/dev/null)
deb=$(ls "$build"/veltra-log_*.deb)
echo "$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")"
