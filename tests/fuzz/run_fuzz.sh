#!/usr/bin/env bash
# Fuzzes one input of the suite with libFuzzer and AddressSanitizer/UndefinedBehaviorSanitizer:
#   tests/fuzz/run_fuzz.sh TARGET [SECONDS]   (600 seconds by default)
# TARGET: project (the project loader), commandline (names from a first or a forwarded command line),
# numbers (the image-time and frame-rate fields), mediadet (the media detector over broken AVI and WAV
# files). Prints libFuzzer's summary; exits non-zero on a crash, a hang or a sanitizer report.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
target=${1:?target: project, commandline, numbers or mediadet}
seconds=${2:-600}
out=$root/build/fuzz
corpus=$out/corpus-$target
mkdir -p "$corpus"
for p in clang libclang-rt-14-dev libwine-dev libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev ffmpeg; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing="${missing:-} $p"
done
[ -z "${missing:-}" ] || { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null; }

sanitize=(-g -O1 -fsanitize=fuzzer,address,undefined)
# The editor's code is Win32 code: compile it against Wine's headers the way winegcc does.
win32=(-std=c++17 -fshort-wchar -DWIN64 -D_WIN64 -DWIN32 -D_WIN32 -D__WINESRC__ -D'__stdcall=__attribute__((ms_abi))'
       -D__cdecl=__stdcall -D__int64=long -isystem /usr/include/wine/wine/windows -include windows.h -include commdlg.h
       -I"$root/editor" -I"$root/common" -I"$root/include")
editor_parts=("$root/tests/fuzz/win32_stubs.cpp" "$root/editor/medialist.cpp" "$root/editor/settings.cpp"
              "$root/common/textpath.cpp")
case $target in
  project)
    clang++ "${sanitize[@]}" "${win32[@]}" "$root/tests/fuzz/fuzz_project.cpp" "$root/editor/projectimage.cpp" \
      -o "$out/fuzz_$target"
    python3 - "$corpus" <<'PY'
import struct, sys
d = sys.argv[1]
settings = struct.pack('<7iid', 0, 1, 1, 3, 320, 240, 0, 0, 15.0)
record = bytes(624)
open(d + '/empty.sqp', 'wb').write(settings + struct.pack('<i', 0) + record * 256)
open(d + '/full.sqp', 'wb').write(settings + struct.pack('<i', 256) + record * 256)
open(d + '/cut.sqp', 'wb').write(settings + struct.pack('<i', 3) + record * 2)
PY
    max_len=160000 ;;
  commandline)
    clang++ "${sanitize[@]}" "${win32[@]}" "$root/tests/fuzz/fuzz_commandline.cpp" "${editor_parts[@]}" -o "$out/fuzz_$target"
    printf '%s' 'a.avi "C:\my clips\b.wav" x.mp3' > "$corpus/names"
    printf '%s' '"D:\ソ表\能.avi" "" "only one.avi"' > "$corpus/quoted"
    max_len=70000 ;;
  numbers)
    clang++ "${sanitize[@]}" "${win32[@]}" "$root/tests/fuzz/fuzz_numbers.cpp" "${editor_parts[@]}" -o "$out/fuzz_$target"
    for t in 2.5 5 29.97 1e400 -5 99999999999 nan 0.000001; do printf '\002%s' "$t" > "$corpus/$t"; done
    max_len=40 ;;
  mediadet)
    glue=$(ls "$root"/platform/glue/*.c | grep -vE '/(gesglue|pipeline|camdevice|devices)\.c$')
    clang "${sanitize[@]}" -std=gnu11 -I"$root/platform" $(pkg-config --cflags gstreamer-1.0 gstreamer-pbutils-1.0 \
      gstreamer-video-1.0 gstreamer-audio-1.0 gstreamer-base-1.0 gdk-pixbuf-2.0) "$root/tests/fuzz/fuzz_mediadet.c" \
      $glue $(pkg-config --libs gstreamer-1.0 gstreamer-pbutils-1.0 gstreamer-video-1.0 gstreamer-audio-1.0 \
      gstreamer-base-1.0 gstreamer-app-1.0 gdk-pixbuf-2.0) -lm -o "$out/fuzz_$target"
    # seeds: small movies and sounds as the programs meet them
    ff() { ffmpeg -nostdin -v error -y "$@"; }
    ff -f lavfi -i testsrc=size=64x48:rate=5 -f lavfi -i sine=sample_rate=8000 -t 1 -c:v mjpeg -c:a pcm_u8 "$out/seed.avi"
    ff -f lavfi -i sine=sample_rate=8000 -t 0.5 -c:a pcm_s16le "$out/seed.wav"
    { printf '\000'; cat "$out/seed.avi"; } > "$corpus/avi"
    { printf '\001'; cat "$out/seed.wav"; } > "$corpus/wav"
    export ASAN_OPTIONS=detect_leaks=0:${ASAN_OPTIONS:-}
    max_len=40000 ;;
  *) echo "unknown target $target" >&2; exit 2 ;;
esac
"$out/fuzz_$target" -max_len=$max_len -timeout=10 -max_total_time="$seconds" -print_final_stats=1 "$corpus" 2>&1 \
  | grep -E 'Done|stat::number_of_executed_units|stat::peak_rss|ERROR|SUMMARY|crash|timeout|leak' ; exit "${PIPESTATUS[0]}"
