#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (tests/fuzz, a project of its own) and runs each one
# for a short while (VTS_FUZZ_SECONDS, default 20) from seed inputs made here. Fails when a
# target finds a crash.
set -euo pipefail
SRC="@PROJECT_SOURCE_DIR@"
OUT="@CMAKE_BINARY_DIR@/fuzz"
SECONDS_EACH="${VTS_FUZZ_SECONDS:-20}"

if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ is missing (scripts/setup.sh installs it)" >&2
  exit 1
fi
cmake -S "$SRC/tests/fuzz" -B "$OUT" -G Ninja -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$OUT" -j3

# Seeds: small archives of the kinds the reader must take, side files, WAV files and
# stream-pipe traffic.
SEEDS="$OUT/seeds"
rm -rf "$SEEDS"
mkdir -p "$SEEDS/zip/in/sub" "$SEEDS/side" "$SEEDS/wav" "$SEEDS/mp3" "$SEEDS/settings" \
  "$SEEDS/stores" "$SEEDS/frames" "$SEEDS/stream"
printf 'hello\r\n' >"$SEEDS/zip/in/a.txt"
head -c 3000 /dev/urandom >"$SEEDS/zip/in/a.mpa"
printf '\0\0\0\0\xe8\3\0\0' >"$SEEDS/zip/in/sub/a.cif"
(cd "$SEEDS/zip/in" && zip -q -r ../deflated.zip . && zip -q -0 -r ../stored.zip . \
  && zip -q -fz- -r - . | cat >../descriptors.zip)
python3 - "$SEEDS/zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1] + "/python.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("x.txt", "\ufeffone\r\ntwo\r\n".encode("utf-16-le"))
    z.writestr("d/", b"")
PY
rm -rf "$SEEDS/zip/in"
printf '\xff\xfea\0\r\0\n\0\r\0\n\0b\0\r\0\n\0' >"$SEEDS/side/texts.txt"
printf 'caf\xc3\xa9\r\nline\r\n' >"$SEEDS/side/eight-bit.txt"
printf '\0\0\0\0\xe8\3\0\0\xe8\3\0\0\xf4\1\0\0' >"$SEEDS/side/chunks.cif"

sox -q -n -r 8000 -c 1 -b 16 "$SEEDS/wav/mono.wav" synth 0.01 sine 440
sox -q -n -r 8000 -c 2 -b 16 "$SEEDS/wav/stereo.wav" synth 0.01 sine 440
sox -q -n -r 8000 -c 1 -b 8 "$SEEDS/wav/eight.wav" synth 0.01 sine 440
sox -q -n -r 8000 -c 2 -b 24 "$SEEDS/wav/extensible.wav" synth 0.01 sine 440

# MP3: a short tone in both channel modes, one with an ID3 tag in front.
sox -q -n -r 22050 -c 1 -b 16 "$SEEDS/mp3/tone.wav" synth 0.2 sine 440
lame --quiet -m m "$SEEDS/mp3/tone.wav" "$SEEDS/mp3/mono.mp3"
lame --quiet -m s --tt title "$SEEDS/mp3/tone.wav" "$SEEDS/mp3/tagged.mp3"
rm "$SEEDS/mp3/tone.wav"
# Settings files and command lines (arguments split at NUL).
printf '{"Wave":{"WaveDeviceOut":"speaker","WaveDeviceIn":"mic"}}\n' >"$SEEDS/settings/wave.ini"
printf '{"Main":{"LastOpenPath":"/home/a/lesson.vxb"}}\n' >"$SEEDS/settings/paths.json"
printf '/_s\0/Pos:2\0/home/a/lesson.vxb' >"$SEEDS/settings/arguments"
# The registry store and a window registration.
printf '{"keys":[{"path":"Software","values":[{"name":"a","type":1,"data":"x"}]}]}\n' \
  >"$SEEDS/stores/store.json"
printf 'VTSWIN 1\nid 0000000100000001\npid 1\nstart 1\ncreated 1\nclass 52\ntext 4100\n' \
  >"$SEEDS/stores/registration.win"
# Window-bus requests: a post, and a WM_COPYDATA send with 4 bytes.
python3 - "$SEEDS/frames" <<'PY'
import struct, sys
def frame(kind, flags, message, cb, payload=b""):
    return struct.pack("<IHHQIIQQQII", 0x31575456, kind, flags, 0, message, 0, 1, 2, 3, cb, 0) + payload
open(sys.argv[1] + "/post", "wb").write(frame(1, 0, 0x401, 0))
open(sys.argv[1] + "/copydata", "wb").write(frame(2, 1, 0x4A, 4, b"abcd"))
PY
# Stream-pipe messages (piece-size byte first), a destination text, a USB slot.
printf '\x05\x08\0\0\0\x34\0\0\0\x07\0\0\0\x0a\0\0\0\x01\0\0\0H\0i\0\0\0' >"$SEEDS/stream/client-text.bin"
printf '\x03\x1c\0\0\0\x02\0\0\0\0\0\0\0\0\0\0\0\x04\0\0\0\x01\0\0\0\0\0\0\0\x07\0\0\0\x10\x20\x30\x40' >"$SEEDS/stream/audio.bin"
printf '\x015|192.168.0.7|12|10.0.0.1|' >"$SEEDS/stream/destinations.bin"
head -c 2070 /dev/zero >"$SEEDS/stream/usb.bin"

status=0
run() {
  local target="$1" seeds="$2"
  local corpus="$OUT/corpus/$target"
  mkdir -p "$corpus"
  echo "fuzz: $target for ${SECONDS_EACH}s"
  if ! (cd "$OUT" && "./$target" -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 \
      -max_len=200000 -print_final_stats=1 "$corpus" "$seeds" 2>"$OUT/$target.log"); then
    echo "fuzz: $target FAILED, see $OUT/$target.log" >&2
    tail -40 "$OUT/$target.log" >&2
    status=1
  else
    echo "fuzz: $target executed $(grep -oE 'stat::number_of_executed_units: *[0-9]+' \
      "$OUT/$target.log" | grep -oE '[0-9]+$' | tail -1) inputs"
  fi
}
run fuzz_zip_reader "$SEEDS/zip"
run fuzz_side_files "$SEEDS/side"
run fuzz_wav_parser "$SEEDS/wav"
run fuzz_package_unpack "$SEEDS/zip"
run fuzz_mp3_decode "$SEEDS/mp3"
run fuzz_settings_files "$SEEDS/settings"
run fuzz_platform_stores "$SEEDS/stores"
run fuzz_window_bus_frames "$SEEDS/frames"
run fuzz_stream_protocol "$SEEDS/stream"
exit $status
