#!/usr/bin/env bash
# Set-up, build and run on Debian 12.
#   ./build.sh demo   install what is missing, build (release), run the example job
#   ./build.sh test   install what is missing, build (sanitizers), run every test
#   ./build.sh build  install what is missing, build (release) only
#   ./build.sh gui    install what is missing, build (release), open the window on the example
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
JOBS=$(nproc 2>/dev/null || echo 2)

PACKAGES=(cmake g++ make ninja-build pkg-config
          libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
          gdal-bin python3 python3-numpy python3-scipy python3-skimage time
          qt6-base-dev qt6-charts-dev qt6-svg-dev libqt6opengl6-dev libgl-dev libemf-dev emf2svg
          libwmf-bin fonts-urw-base35)

install_missing() {
  local missing=() p
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

configure_and_build() {  # dir, then extra cmake arguments
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
}

release_build() {
  configure_and_build "$ROOT/build/release" -DCMAKE_BUILD_TYPE=Release -DSTRAVEX_TESTS=OFF
}

case "${1:-}" in
  demo)
    install_missing
    release_build
    "$ROOT/examples/demo.sh" "$ROOT/build/release"
    ;;
  test)
    install_missing
    configure_and_build "$ROOT/build/test" -DCMAKE_BUILD_TYPE=Debug \
      -DSTRAVEX_SANITIZE=ON -DSTRAVEX_WERROR=ON -DCMAKE_CXX_FLAGS="-O1"
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    # Leaks inside the system's font and GL libraries are not ours.
    export LSAN_OPTIONS=suppressions="$ROOT/tests/lsan.supp":print_suppressions=0
    export QT_QPA_PLATFORM=offscreen
    (cd "$ROOT/build/test" && ctest --output-on-failure -j "$JOBS")
    ;;
  build)
    install_missing
    release_build
    ;;
  gui)
    install_missing
    release_build
    cd "$ROOT/examples/landscape"
    exec "$ROOT/build/release/gui/app/stravex" "" "$ROOT/examples/landscape"
    ;;
  *)
    echo "usage: $0 demo|test|build|gui" >&2
    exit 2
    ;;
esac
