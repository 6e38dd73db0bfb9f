#!/usr/bin/env bash
# Sets everything up (packages, build) and starts the recorder. Arguments go to the recorder,
# e.g. scripts/run-recorder.sh "/home/me/lesson.vxb"
# With --launcher first, starts the launcher instead (two recorders side by side), e.g.
# scripts/run-recorder.sh --launcher "/home/me/lesson.vxb"  or  --launcher setup
set -euo pipefail
cd "$(dirname "$0")/.."
pathfile=build/recorder-path.txt
what="recorder"
if [ "${1:-}" = "--launcher" ]; then
  shift
  pathfile=build/launcher-path.txt
  what="launcher"
fi
# The first build takes minutes: its progress goes to the terminal (stderr, so that the
# recorder's own output stays apart).
echo "run-recorder: setting up and building (the first time takes some minutes)..." >&2
scripts/setup.sh build >&2
exe="$(cat "$pathfile" 2>/dev/null || true)"
if [ -z "$exe" ] || [ ! -x "$exe" ]; then
  echo "run-recorder: the $what was not built" >&2
  exit 1
fi
exec "$exe" "$@"
