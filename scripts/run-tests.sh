#!/usr/bin/env bash
# Sets up (packages, build) and runs every test: unit, ui (offscreen Qt) and pulse (against a
# private PulseAudio server started here and stopped at the end), then a short fuzz run and
# the unit tests again under AddressSanitizer+UndefinedBehaviorSanitizer (a build where Qt
# cannot be found at all, which proves the Qt-free targets stand alone) and the unit and
# window tests under ThreadSanitizer (the window offscreen).
# VTS_SANITIZERS=0 skips the sanitizer pass.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS="${VTS_JOBS:-$(nproc 2>/dev/null || echo 4)}"
START=$SECONDS
free_mb() { df -Pm . | awk 'NR == 2 { print $4 }'; }
phase() { echo "== run-tests: $1 (at $((SECONDS - START)) s, $(free_mb) MB free)"; }
# Below this much free space a sanitizer build tree is removed once its tests ran, so that the
# next one still fits; with more it stays for the next incremental run.
LOW_DISK_MB="${VTS_LOW_DISK_MB:-8000}"
prune_if_low() {
  if [ "$(free_mb)" -lt "$LOW_DISK_MB" ]; then
    echo "== run-tests: less than $LOW_DISK_MB MB free, removing $1"
    rm -rf "$1"
  fi
}

phase "setup and build"
scripts/setup.sh build

PULSE_DIR="$(mktemp -d /tmp/vts-pulse-XXXXXX)"
cleanup() { scripts/pulse-test-server.sh stop "$PULSE_DIR" || true; rm -rf "$PULSE_DIR"; }
trap cleanup EXIT
phase "private PulseAudio server"
scripts/pulse-test-server.sh start "$PULSE_DIR"
# shellcheck disable=SC1091
. "$PULSE_DIR/env"

status=0
# A test that skips itself is a failure here unless the README names it.
no_skips() { python3 scripts/check-no-skips.py "$1" README.md; }
phase "tests"
(cd build && ctest -j "$JOBS" --output-on-failure --timeout 300 --output-junit junit.xml) || status=1
no_skips build/junit.xml || status=1

if [ -x build/tests/run-fuzz-smoke.sh ]; then
  phase "fuzz smoke run"
  build/tests/run-fuzz-smoke.sh || status=1
fi

if [ "${VTS_SANITIZERS:-1}" != "0" ]; then
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
  export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}"
  export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$(pwd)/tests/tsan.supp:${TSAN_OPTIONS:-}"
  # ThreadSanitizer needs the classic address-space layout on kernels with high mmap entropy.
  norandom=()
  if setarch "$(uname -m)" -R true 2>/dev/null; then norandom=(setarch "$(uname -m)" -R); fi
  phase "unit tests under the address sanitizer"
  VTS_CMAKE_ARGS="-DVTS_SANITIZE=address -DVTS_BUILD_UI=OFF -DVTS_BUILD_BENCHMARKS=OFF -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=TRUE" \
    scripts/setup.sh build-address
  (cd build-address && "${norandom[@]}" ctest -j "$JOBS" -L unit --output-on-failure --timeout 600 \
    --output-junit junit.xml) || status=1
  no_skips build-address/junit.xml || status=1
  prune_if_low build-address
  # The window's threads meet the tracks' threads: its tests run under the thread sanitizer too.
  phase "unit and window tests under the thread sanitizer"
  VTS_CMAKE_ARGS="-DVTS_SANITIZE=thread -DVTS_BUILD_BENCHMARKS=OFF" scripts/setup.sh build-thread
  (cd build-thread && QT_QPA_PLATFORM=offscreen "${norandom[@]}" ctest -j "$JOBS" -L "unit|ui" \
    --output-on-failure --timeout 600 --output-junit junit.xml) || status=1
  no_skips build-thread/junit.xml || status=1
fi
phase "done, status $status"
exit $status
