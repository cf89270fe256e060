#!/usr/bin/env bash
# Runs the example job with the binaries of the given build folder.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build/release}
cli="$build/cli/stravex-cli"
cd "$here/landscape"
"$cli" info *.rst
