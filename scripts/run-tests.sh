#!/usr/bin/env bash
# Sets up (packages, build) and runs every test: unit, ui (offscreen Qt) and pulse (against a
# private PulseAudio server started here and stopped at the end), then a short fuzz run and,
# when VTS_SANITIZERS=1, the unit tests again under AddressSanitizer and ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$(pwd)"
JOBS="$(nproc 2>/dev/null || echo 4)"

scripts/setup.sh build

PULSE_DIR="$(mktemp -d /tmp/vts-pulse-XXXXXX)"
cleanup() { scripts/pulse-test-server.sh stop "$PULSE_DIR" || true; rm -rf "$PULSE_DIR"; }
trap cleanup EXIT
scripts/pulse-test-server.sh start "$PULSE_DIR"
# shellcheck disable=SC1091
. "$PULSE_DIR/env"

status=0
(cd build && ctest -j "$JOBS" --output-on-failure --timeout 300) || status=1

if [ -x build/tests/run-fuzz-smoke.sh ]; then
  build/tests/run-fuzz-smoke.sh || status=1
fi

if [ "${VTS_SANITIZERS:-0}" = "1" ]; then
  for s in address thread; do
    VTS_CMAKE_ARGS="-DVTS_SANITIZE=$s -DVTS_BUILD_BENCHMARKS=OFF" scripts/setup.sh "build-$s"
    (cd "build-$s" && ctest -j "$JOBS" -L unit --output-on-failure --timeout 600) || status=1
  done
fi
exit $status
