#!/usr/bin/env bash
# Set-up, build and run on Debian 12.
#   ./build.sh demo   install what is missing, build (release), run the example job
#   ./build.sh test   install what is missing, check the code style, build (sanitizers), run every test
#   ./build.sh build  install what is missing, build (release) only
#   ./build.sh gui    install what is missing, build (release), open the window on the example
#   ./build.sh fuzz [SECONDS [HARNESS...]]  install, build the libFuzzer harnesses (clang) in
#                     build/fuzz and run each (or the ones named) for SECONDS (default 60);
#                     fails when one crashes
#   ./build.sh cluster-test  install (also slurm-wlm and munge), build stravex-cli (release),
#                     run a sharded matrix study on a one-machine Slurm started for the test and
#                     compare the merged files with a one-machine run (tests/cluster/slurm_test.sh)
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
JOBS=$(nproc 2>/dev/null || echo 2)

PACKAGES=(cmake g++ make ninja-build pkg-config
          libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
          gdal-bin libgdal-dev python3 python3-numpy python3-scipy python3-skimage time
          qt6-base-dev qt6-charts-dev qt6-svg-dev libqt6opengl6-dev libgl-dev libemf-dev emf2svg
          libwmf-bin fonts-urw-base35 clang-14 clang-format-14 libclang-rt-14-dev libxxhash-dev
          libblas-dev liblapack-dev libsuitesparse-dev libhypre-dev)
# Only for cluster-test.
CLUSTER_PACKAGES=(slurm-wlm munge)

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

configure_and_build() {  # dir, then extra cmake arguments; a caller's build_targets limit the build
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS" ${build_targets[@]+"${build_targets[@]}"}
}

release_build() {  # [TARGET...]: only these targets (default: everything)
  local build_targets=()
  [ $# -eq 0 ] || build_targets=(--target "$@")
  configure_and_build "$ROOT/build/release" -DCMAKE_BUILD_TYPE=Release -DSTRAVEX_TESTS=OFF
}

# The harnesses and the longest input each gets (bytes).
FUZZ_HARNESSES=(fuzz_readdoc:4096 fuzz_population:8192 fuzz_sequence:8192 fuzz_maplist:4096
                fuzz_batchline:1024 fuzz_cli_options:512)

fuzz_build() {
  cmake -S "$ROOT" -B "$ROOT/build/fuzz" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 \
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="-O1" -DSTRAVEX_FUZZ=ON \
    -DSTRAVEX_TESTS=OFF -DSTRAVEX_GUI=OFF -DSTRAVEX_BENCH=OFF >/dev/null
  cmake --build "$ROOT/build/fuzz" -j "$JOBS" --target fuzz_all
}

# Runs every harness (or those named after $1) for $1 seconds on a scratch copy of its corpus (the
# repository's seeds and regressions; what a run adds stays under build/).
# With more than one core a harness runs in libFuzzer's fork mode, one worker
# per core; timeouts, crashes and memory blow-ups still end the run.
fuzz_run() {
  local seconds=$1 entry name maxlen dir work log status failed=() units scratch mode=()
  dir="$ROOT/build/fuzz"
  # The readers open real files: in memory a run is many times faster.
  scratch="$dir/tmp"
  [ -d /dev/shm ] && [ -w /dev/shm ] && scratch="/dev/shm/stravex-fuzz-$$"
  mkdir -p "$scratch"
  [ "$JOBS" -gt 1 ] && mode=(-fork="$JOBS" -ignore_crashes=0 -ignore_timeouts=0 -ignore_ooms=0)
  shift
  for entry in "${FUZZ_HARNESSES[@]}"; do
    name=${entry%%:*}
    maxlen=${entry##*:}
    if [ $# -gt 0 ] && [[ " $* " != *" $name "* ]]; then continue; fi
    work="$dir/corpus/$name"
    mkdir -p "$work" "$dir/artifacts/$name"
    cp -f "$ROOT/fuzz/corpus/$name"/* "$work"/
    if [ -d "$ROOT/tests/fuzz_regressions/$name" ]; then
      cp -f "$ROOT/tests/fuzz_regressions/$name"/* "$work"/ 2>/dev/null || true
    fi
    log="$dir/$name.log"
    status=0
    TMPDIR="$scratch" "$dir/fuzz/$name" "${mode[@]}" -max_total_time="$seconds" -timeout=1 \
      -rss_limit_mb=2048 -max_len="$maxlen" -print_final_stats=1 \
      -dict="$ROOT/fuzz/dict/$name.dict" -artifact_prefix="$dir/artifacts/$name/" \
      "$work" >"$log" 2>&1 || status=$?
    # Fork mode counts every worker's executions on its status lines.
    if [ ${#mode[@]} -gt 0 ]; then
      units=$(sed -n 's/^#\([0-9]*\): cov:.*/\1/p' "$log" | tail -1)
    else
      units=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    fi
    if [ "$status" -ne 0 ]; then
      echo "$name: FAILED after ${units:-?} executions (status $status), see $log;" \
        "the input is in $dir/artifacts/$name/, keep it in tests/fuzz_regressions/$name/"
      grep -m 3 -E "ERROR|SUMMARY|EFuzzFinding|terminate" "$log" || true
      failed+=("$name")
    else
      echo "$name: ${units:-?} executions in ${seconds} s"
    fi
  done
  rm -rf "$scratch"
  [ ${#failed[@]} -eq 0 ] || { echo "fuzzing failed: ${failed[*]}" >&2; return 1; }
}

# Every C++ source in the style of .clang-format (clang-format 14); a file
# that is not fails the run, naming it.
format_check() {
  (cd "$ROOT" && git ls-files -z -- '*.cpp' '*.h' | xargs -0 clang-format-14 --dry-run -Werror)
}

case "${1:-}" in
  demo)
    install_missing
    release_build
    "$ROOT/examples/demo.sh" "$ROOT/build/release"
    ;;
  test)
    install_missing
    format_check
    configure_and_build "$ROOT/build/test" -DCMAKE_BUILD_TYPE=Debug \
      -DSTRAVEX_SANITIZE=ON -DSTRAVEX_WERROR=ON -DCMAKE_CXX_FLAGS="-O1"
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    # Leaks inside the system's font and GL libraries are not ours.
    export LSAN_OPTIONS=suppressions="$ROOT/tests/lsan.supp":print_suppressions=0
    export QT_QPA_PLATFORM=offscreen
    (cd "$ROOT/build/test" && ctest --output-on-failure -j "$JOBS")
    # A few seconds per harness: one that no longer builds or meets an old
    # crash fails the run.
    fuzz_build
    fuzz_run 3
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
  fuzz)
    install_missing
    fuzz_build
    fuzz_run "${2:-60}" "${@:3}"
    ;;
  cluster-test)
    PACKAGES+=("${CLUSTER_PACKAGES[@]}")
    install_missing
    # The command line is all the test runs; the window would only cost build time.
    release_build stravex-cli
    "$ROOT/tests/cluster/slurm_test.sh" "$ROOT/build/release"
    ;;
  *)
    echo "usage: $0 demo|test|build|gui|cluster-test|fuzz [SECONDS [HARNESS...]]" >&2
    exit 2
    ;;
esac
