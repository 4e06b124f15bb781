#!/usr/bin/env bash
# Installs what is missing, builds, and starts Larkspur Podcast Downloader.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh -DTIDEWELL_BUILD_TESTS=OFF -DTIDEWELL_BUILD_BENCH=OFF
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: running with Qt's offscreen platform (nothing is shown)."
  export QT_QPA_PLATFORM=offscreen
fi
program_folder="$(cd "${BUILD_DIR:-build}/app" && pwd)"
echo "Database: $program_folder/rssengine.fdb; episodes: $program_folder/downloads/"
exec "$program_folder/larkspur"
