#!/usr/bin/env bash
# Saves pictures of the program's windows into docs/screenshots/: the login
# (first-user panel and login panel), the main window without and with a log
# open, and the about box. Runs the windows under Xvfb on a temporary copy of
# the staging program folder; nothing of a real program folder is touched.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build=${VELTRA_BUILD_DIR:-build/screenshots}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target app_screenshots
mkdir -p docs/screenshots
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
  "$build/tests/app/app_screenshots" docs/screenshots
