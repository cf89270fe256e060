#!/usr/bin/env bash
# Runs the example job with the binaries of the given build folder.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build/release}
if [ ! -x "$build/cli/stravex-cli" ]; then
  echo "demo.sh: $build/cli/stravex-cli not found; build the project first" >&2
  exit 1
fi
# Resolved before leaving the caller's folder, so a relative build folder works.
cli="$(cd "$build" && pwd)/cli/stravex-cli"
cd "$here/landscape"
"$cli" info *.rst
