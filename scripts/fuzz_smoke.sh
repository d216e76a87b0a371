#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz", clang) and runs each one for a
# short while from a small seed corpus. A crash, leak or sanitizer report
# fails the run; the input that caused it is left in the build folder.
#   QM_FUZZ_BUILD   build folder (default build/fuzz)
#   QM_FUZZ_SECONDS time per target (default 4)
#   QM_JOBS         build jobs and targets run at once (default: the
#                   processor count)
#   fuzz_smoke.sh [build|run]   only build the targets, or only run the built
#                               ones (default: both)
set -euo pipefail
step=${1:-all}
case "$step" in all|build|run) ;; *) echo "usage: fuzz_smoke.sh [build|run]" >&2; exit 2 ;; esac
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${QM_FUZZ_BUILD:-build/fuzz}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
seconds=${QM_FUZZ_SECONDS:-4}
jobs=${QM_JOBS:-$(nproc)}

# The bundle seed: the one the Linux build packed when there is one; packing
# it here again (the sample game for every target) was a fifth of this build.
bundle_seed="$root/build/linux/bundle/bundle.bin"
targets=(qm_fuzz_all)
if [ ! -f "$bundle_seed" ]; then
  bundle_seed="$build/bundle/bundle.bin"
  targets+=(qm_bundle_data)
fi
if [ "$step" != run ]; then
  cmake --preset fuzz -B "$build" >/dev/null
  cmake --build "$build" -j "$jobs" --target "${targets[@]}"
fi
[ "$step" != build ] || exit 0

# Seeds: the decoder's fixture streams with their sizes in front, the
# bundle this build packed, small RAR5 archives of the tests' writer and the
# real ones of tests/rar5/libarchive.
seeds="$build/fuzz_seeds"
rm -rf "$seeds"
mkdir -p "$seeds/fuzz_lzma" "$seeds/fuzz_bundle_open"
python3 - "$root/tests/lzma/fixtures" "$seeds/fuzz_lzma" <<'PY'
import os, struct, sys
src, dst = sys.argv[1], sys.argv[2]
sample = open(os.path.join(src, "sample.bin"), "rb").read()
for name in sorted(os.listdir(src)):
    if name.endswith(".lzma"):
        size = 0 if name == "empty.lzma" else len(sample)
        data = open(os.path.join(src, name), "rb").read()
        open(os.path.join(dst, name), "wb").write(struct.pack("<I", size) + data)
PY
cp "$bundle_seed" "$seeds/fuzz_bundle_open/"
mkdir -p "$seeds/fuzz_rar5"
"$build/fuzz/rar5_seed_writer" "$seeds/fuzz_rar5"
cp "$root"/tests/rar5/libarchive/*.rar "$seeds/fuzz_rar5/"
# A game file list of two chunks.
mkdir -p "$seeds/fuzz_filelist"
python3 - "$seeds/fuzz_filelist/two_chunks.bin" <<'PY'
import struct, sys, zlib
chunks = [b"0:10:8:chr/pc/c201/bin/c201.win32.trb\0" b"3:20:20:sys/a.bin\0", b"5:4:4:zone/z1.bin\0"]
packed = [zlib.compress(c) for c in chunks]
entries = [(7, 0, 0), (8, 1, 0), (9, 0, 38)]
t = 12 + 8 * len(entries)
out = struct.pack("<III", t, t + 12 * len(chunks), len(entries))
out += b"".join(struct.pack("<IHH", *e) for e in entries)
offset = 0
for c, p in zip(chunks, packed):
    out += struct.pack("<III", len(c), len(p), offset)
    offset += len(p)
open(sys.argv[1], "wb").write(out + b"".join(packed) + b"TAIL")
PY
# ZIP archives of python's zipfile: stored and deflated members in folders,
# one with ZIP64 records and one with a data descriptor.
mkdir -p "$seeds/fuzz_zip"
python3 - "$seeds/fuzz_zip" <<'PY'
import io, os, sys, zipfile
dst = sys.argv[1]
def make(name, zip64=False):
    with zipfile.ZipFile(os.path.join(dst, name), "w") as z:
        z.writestr(zipfile.ZipInfo("textures/a.dds"), b"stored " * 20)
        z.writestr("data/b.txt", b"deflated text " * 40, compress_type=zipfile.ZIP_DEFLATED)
        z.writestr("SupportFiles/", b"")
        if zip64:
            with z.open("big/c.bin", "w", force_zip64=True) as f:
                f.write(b"zip64 member")
make("plain.zip")
make("zip64.zip", True)
class Unseekable(io.RawIOBase):
    def __init__(self): self.data = bytearray()
    def writable(self): return True
    def write(self, b): self.data += b; return len(b)
out = Unseekable()
with zipfile.ZipFile(out, "w") as z:
    z.writestr("streamed.txt", b"with a data descriptor", compress_type=zipfile.ZIP_DEFLATED)
open(os.path.join(dst, "streamed.zip"), "wb").write(out.data)
PY
# Hard Mode edits: an option file with every kind of edit, a NUL, a table.
mkdir -p "$seeds/fuzz_mod_edits"
python3 - "$seeds/fuzz_mod_edits/edits.bin" <<'PY'
import struct, sys
records = [(b"enemy", struct.pack(">10I", *([0x11111111] * 10))), (b"!!string", b"\0Boar\0Wolf\0")]
head = b"WPD\0" + struct.pack(">I", len(records)) + bytes(8)
at, table, body = 16 + 32 * len(records), b"", b""
for name, data in records:
    table += name.ljust(16, b"\0") + struct.pack(">II", at, len(data)) + bytes(8)
    at += len(data)
    body += data
text = (b"db\\enemy.wdb\nenemy, 0, w, 0x12345678\nenemy, 1, f, 1.5\nenemy, 2, f, 0h40490FDB\n"
        b"enemy, 4, l, Wolf\nenemy, 5, t0001, 1\nenemy, 6, b, 0xAB\nenemy, 7, p4s, 0xBEEF\nenemy, -1, w, 5\n")
open(sys.argv[1], "wb").write(text + b"\0" + head + table + body)
PY
# The batch interpreter: the mod-shaped batch file, with a model list after it.
mkdir -p "$seeds/fuzz_batch"
cp "$root/tests/mods/fixtures/kestrel_sculpt.bat" "$seeds/fuzz_batch/"
{ cat "$root/tests/mods/fixtures/kestrel_sculpt.bat"; printf '\n--- list\nMODEL c201\n  Mesh_Body 1.0\n;x\n'; } \
  >"$seeds/fuzz_batch/kestrel_with_list.bat"

# The launcher's and the game's files: settings.txt and Quillmarsh.cfg as
# this build writes them, language codes, the fixture game's executables,
# store files and movie containers; the carried translation texts.
"$build/fuzz/seed_writer" "$seeds"
mkdir -p "$seeds/fuzz_translations"
cp "$root"/launcher/core/lang/*.txt "$seeds/fuzz_translations/"

# The targets run side by side, one per processor; each one's result line
# is printed as it ends.
run_one() {   # run_one NAME: exit status 0 when the target found nothing
  local name=$1 exe="$build/fuzz/$1" corpus="$build/fuzz_corpus/$1"
  mkdir -p "$corpus" "$seeds/$name"
  # -timeout only catches an input that hangs: it is minutes, so that a slow
  # or busy machine never takes a slow input for a hang.
  if ! (cd "$build" && ASAN_OPTIONS=detect_leaks=1 "$exe" -max_total_time="$seconds" -timeout=300 \
        -rss_limit_mb=2048 -print_final_stats=0 "$corpus" "$seeds/$name" >"$build/$name.log" 2>&1); then
    echo "fuzz: $name FAILED; the end of its log ($build/$name.log):"
    tail -n 40 "$build/$name.log"
    return 1
  fi
  echo "fuzz: $name ran ${seconds}s: $(grep -E "^#[0-9]+.*(DONE|pulse)" "$build/$name.log" | tail -n 1)"
}

ran=0
failures=0
running=0
for exe in "$build"/fuzz/fuzz_*; do
  [ -x "$exe" ] && [ -f "$exe" ] || continue
  if [ "$running" -ge "$jobs" ]; then
    wait -n || failures=$((failures + 1))
    running=$((running - 1))
  fi
  run_one "$(basename "$exe")" &
  running=$((running + 1))
  ran=$((ran + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || failures=$((failures + 1))
  running=$((running - 1))
done
echo "fuzz: $ran targets ran ${seconds}s each, $failures failed"
[ "$ran" -gt 0 ] && [ "$failures" -eq 0 ]
