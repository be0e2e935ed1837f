#!/usr/bin/env bash
# Fuzzes the project loader with libFuzzer and AddressSanitizer: tests/fuzz/run_project_fuzz.sh [SECONDS]
# (600 by default). Prints libFuzzer's summary; exits non-zero on a crash, a hang or a sanitizer report.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-600}
out=$root/build/fuzz
mkdir -p "$out/corpus"
for p in clang libclang-rt-14-dev libwine-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing="${missing:-} $p"
done
[ -z "${missing:-}" ] || { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null; }

# The loader is Win32 code: compile it against Wine's headers the way winegcc does.
clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fshort-wchar \
  -DWIN64 -D_WIN64 -DWIN32 -D_WIN32 -D__WINESRC__ -D'__stdcall=__attribute__((ms_abi))' -D__cdecl=__stdcall \
  -D__int64=long -isystem /usr/include/wine/wine/windows \
  -I"$root/editor" -I"$root/common" -I"$root/include" \
  "$root/tests/fuzz/fuzz_project.cpp" "$root/editor/projectimage.cpp" -o "$out/fuzz_project"

# Seeds: an empty project, a full one and a cut one.
python3 - "$out/corpus" <<'PY'
import struct, sys
d = sys.argv[1]
settings = struct.pack('<7iid', 0, 1, 1, 3, 320, 240, 0, 0, 15.0)
record = bytes(624)
open(d + '/empty.sqp', 'wb').write(settings + struct.pack('<i', 0) + record * 256)
open(d + '/full.sqp', 'wb').write(settings + struct.pack('<i', 256) + record * 256)
open(d + '/cut.sqp', 'wb').write(settings + struct.pack('<i', 3) + record * 2)
PY
"$out/fuzz_project" -max_len=160000 -timeout=5 -max_total_time="$seconds" -print_final_stats=1 "$out/corpus" 2>&1 \
  | grep -E 'Done|stat::|ERROR|SUMMARY|crash|timeout' 
