#!/usr/bin/env bash
# Renders the desktop window's pages, the data view, a map window, help and
# about offscreen into docs/*.png (test_gui --screenshots).
#   tools/screenshots.sh [BUILD_DIR]    default: build/gui (configured with tests on)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/gui}
if [ ! -d "$build" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSTRAVEX_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j 2 --target test_gui
export QT_QPA_PLATFORM=offscreen
# Screenshots are not a leak check.
export ASAN_OPTIONS=detect_leaks=0
"$build/tests/gui/test_gui" --screenshots "$root/docs"
