#!/usr/bin/env bash
# Sets everything up (packages, build) and starts the recorder. Arguments go to the recorder,
# e.g. scripts/run-recorder.sh /_s "/home/me/lesson.vxb"
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build >/dev/null
exe="$(cat build/recorder-path.txt 2>/dev/null || true)"
if [ -z "$exe" ] || [ ! -x "$exe" ]; then
  echo "run-recorder: the recorder was not built" >&2
  exit 1
fi
exec "$exe" "$@"
