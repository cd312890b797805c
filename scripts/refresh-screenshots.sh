#!/usr/bin/env bash
# Refreshes the pictures of the window that the README shows (docs/images/)
# from the build tree: runs the screenshot test, which writes every page into
# BUILD/screenshots/, and copies the few the README uses.
# Usage: scripts/refresh-screenshots.sh [BUILD]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shown=(ready-en running-en passed-en failed-en)

cmake --build "$build" --target firmora_ui_tests -- -j2
QT_QPA_PLATFORM=offscreen "$build/bin/firmora_ui_tests" --gtest_filter='Screenshots.*' --gtest_brief=1
mkdir -p docs/images
for name in "${shown[@]}"; do
  cp "$build/screenshots/$name.png" "docs/images/window-$name.png"
done
ls -l docs/images/
