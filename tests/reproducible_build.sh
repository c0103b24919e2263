#!/usr/bin/env bash
# The release build twice, in two folders, from a folder of maker's packs that
# differ from the generated ones: both executables must be byte-identical and
# must carry exactly those packs. Then the release command on a folder with
# one damaged pack: it must fail and show the validator's reason.
# usage: reproducible_build.sh SOURCE_DIR GENERATED_PACKS_DIR WORK_DIR
set -euo pipefail
src=$1 generated=$2 work=$3
rm -rf "$work" && mkdir -p "$work/packs"
cp "$generated"/pack*.zip "$work/packs/"
# One pack the maker updated: another valid archive than the generated one.
python3 - "$work/packs/pack05.zip" <<'PY'
import sys, zipfile
path = sys.argv[1]
with zipfile.ZipFile(path) as z:
    members = [(i, z.read(i)) for i in z.infolist()]
with zipfile.ZipFile(path, "w") as out:
    for info, data in members:
        info.compress_type = zipfile.ZIP_STORED if info.filename.endswith("/") else zipfile.ZIP_DEFLATED
        out.writestr(info, data)
    folder = [i.filename for i, _ in members if i.filename.endswith("/")][-1]
    extra = zipfile.ZipInfo(folder + "Updated.dds", date_time=(2015, 3, 1, 10, 0, 0))
    extra.compress_type = zipfile.ZIP_DEFLATED
    out.writestr(extra, b"DDS " + bytes(range(256)) * 8)
PY
minizip=$(ls -d "${VELMORA_DEPS:-/var/cache/velmora}"/zlib-*/contrib/minizip | head -n 1)
for side in one two; do
  cmake -S "$src" -B "$work/$side" -DCMAKE_TOOLCHAIN_FILE="$src/tools/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DVELMORA_WIN64_TEST_BUILD=OFF -DMINIZIP_SOURCE_DIR="$minizip" -DVELMORA_PACKS_SOURCE="$work/packs" >/dev/null
  cmake --build "$work/$side" -j"$(nproc)" --target Velmora >/dev/null
done
python3 - "$work" "$src/tests" <<'PY'
import os, sys
work, tests = sys.argv[1], sys.argv[2]
sys.path.insert(0, tests)
from pack_tests import rcdata_resources
one, two = (open(os.path.join(work, s, "app", "Velmora.exe"), "rb").read() for s in ("one", "two"))
differ = sum(1 for a, b in zip(one, two) if a != b) + abs(len(one) - len(two))
print("executables: %d and %d bytes, %d bytes differ" % (len(one), len(two), differ))
packs = rcdata_resources(os.path.join(work, "one", "app", "Velmora.exe"))
wrong = [n for n in range(1, 45)
         if packs.get("PACK%02d" % n) != open(os.path.join(work, "packs", "pack%02d.zip" % n), "rb").read()]
print("embedded packs that are not the maker's bytes: %s" % (wrong or "none"))
sys.exit(1 if differ or wrong else 0)
PY

# One member of pack07 whose stored CRC-32 no longer matches its bytes.
mkdir -p "$work/damaged"
cp "$work"/packs/pack*.zip "$work/damaged/"
member=$(python3 - "$work/damaged/pack07.zip" <<'PY'
import struct, sys
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
end = data.rfind(b"PK\x05\x06")
count, size, start = struct.unpack_from("<HII", data, end + 10)
pos = start
for _ in range(count):
    nlen, elen, clen = struct.unpack_from("<HHH", data, pos + 28)
    name = data[pos + 46:pos + 46 + nlen].decode("ascii")
    if name.lower().endswith(".dds"):
        data[pos + 16] ^= 0xFF
        open(path, "wb").write(data)
        print(name)
        break
    pos += 46 + nlen + elen + clen
PY
)
# The first build's folder: only the packs are made again.
if VELMORA_RELEASE_BUILD="$work/one" bash "$src/tools/release.sh" -DVELMORA_PACKS_SOURCE="$work/damaged" \
     >"$work/release.log" 2>&1; then
  echo "the release command built an executable from a damaged pack"
  exit 1
fi
expected="pack07.zip: $member: CRC-32 does not match its bytes"
if ! grep -qF "$expected" "$work/release.log"; then
  echo "the release command failed without the validator's reason \"$expected\":"
  cat "$work/release.log"
  exit 1
fi
echo "damaged pack: the release command stopped, saying \"$expected\""
rm -rf "$work"
echo "1 passed, 0 failed"
