#!/usr/bin/env bash
# Lays out a fresh program folder at a given path, for a team's shared drive:
#
#   bash scripts/install-program-folder.sh /srv/shared/veltra
#
# The folder receives the program veltra-log, the ticket template datamast,
# the empty users table sys1, the groups table sys2, faq.txt, the help file
# veltrahelp.hlp, an empty data folder, and a desktop entry with its icon
# (veltra-log.desktop pointing at this folder's program). It refuses to touch
# a folder that already holds sys1, sys2 or data, so an installation in use
# never loses its users, groups or logs.
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: $0 TARGET_FOLDER" >&2
  exit 2
fi
target=$1
cd "$(dirname "$0")/.."
for existing in "$target"/sys1.* "$target"/sys2.* "$target"/data; do
  if [ -e "$existing" ]; then
    echo "install-program-folder: $existing already exists; refusing to overwrite an installation" >&2
    exit 1
  fi
done
bash scripts/install-deps.sh
build=${VELTRA_BUILD_DIR:-build/release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELTRA_BUILD_TESTS=OFF
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" \
  --target veltra-log program_tables program_files
staging="$build/program"
mkdir -p "$target/data"
target=$(cd "$target" && pwd)
# The tables are copied with whatever files each has (a table without BLOB
# fields has no .blb).
cp "$staging"/datamast.* "$staging"/sys1.* "$staging"/sys2.* "$target/"
for f in veltra-log faq.txt veltrahelp.hlp veltra-log.svg; do
  cp "$staging/$f" "$target/$f"
done
chmod 0755 "$target/veltra-log"
sed -e "s|^Exec=.*|Exec=$target/veltra-log|" -e "s|^Icon=.*|Icon=$target/veltra-log.svg|" \
  -e "s|^StartupNotify=true|StartupNotify=true\nPath=$target|" \
  "$staging/veltra-log.desktop" > "$target/veltra-log.desktop"
echo "Veltra Log installed in $target"
echo "Start it with $target/veltra-log, or copy $target/veltra-log.desktop to ~/.local/share/applications/"
