#!/bin/bash
# `zq records` and `zq fonts` as a user runs them: a printer in a fresh root,
# a record list with a damaged tail, a soft font and a cartridge installed,
# the summary they give and the cache file after a store.
set -euo pipefail
zq="$1"
root="$(mktemp -d /tmp/zq-fonts-XXXXXX)"
trap 'rm -rf "$root"' EXIT
export ZQ_ROOT="$root/root"
fail() { echo "FAIL: $*" >&2; exit 1; }

"$zq" driver add "Zelquor Tarn 45 PCL XL" --driver-file pclrend.dll --data-file drvui.dll --config-file drvui.dll >/dev/null
"$zq" printer add Office --driver "Zelquor Tarn 45 PCL XL" >/dev/null

# A macro list of one record, then four bytes that are no record.
"$zq" data set Office Macro 1600010007000500000200080041420000000005000009000100 --type binary
"$zq" records show Office Macro > "$root/text"
grep -q "^record 1 at 0: id=5 name='AB'$" "$root/text" || fail "macro record: $(cat "$root/text")"
grep -q "^damaged: 4 bytes from offset 22" "$root/text" || fail "damaged tail: $(cat "$root/text")"
"$zq" records show Office Macro --json > "$root/json"
python3 - "$root/json" <<'PY'
import json, sys
d = json.load(open(sys.argv[1]))
assert d["records"][0]["fields"][1] == {"key": 2, "name": "name", "length": 3, "value": "AB"}, d
assert d["damaged"] == {"offset": 22, "bytes": 4}, d
PY

# A soft font (printer font metrics form) and a cartridge holding one.
mkdir -p "$ZQ_ROOT/c/fonts"
python3 - "$ZQ_ROOT/c/fonts" <<'PY'
import struct, sys, os
def pfm(face, points):
    ext_at = 117
    info_at = ext_at + 30
    face_at = info_at + 12
    sel_at = face_at + len(face) + 1
    head = struct.pack("<HI60sHHHHHHHBBBHBHHBHHBBBBHIIII", 256, 0, b"", 0, points, 300, 300, 40, 5, 2,
                       0, 0, 0, 700, 0, 0, 50, 0, 25, 30, 32, 126, 32, 32, 0, 0, face_at, 0, 0)
    assert len(head) == ext_at
    ext = struct.pack("<HIIIIIII", 30, 0, 0, 0, 0, 0, info_at, 0)
    info = struct.pack("<HHII", 12, 1, 12345, sel_at)
    body = head + ext + info + face + b"\0" + b"\x1b(8U\x1b(s0p10h12v0s3b3T\0"
    return body[:2] + struct.pack("<I", len(body)) + body[6:]
d = sys.argv[1]
open(os.path.join(d, "bold.pfm"), "wb").write(pfm(b"Zel Bold Mono", 12))
second = pfm(b"Cart Face", 10)
block = struct.pack("<HHIII", 3244, 0, 16 + len(second), 0, 16) + second
open(os.path.join(d, "cart.pcm"), "wb").write(block)
PY
"$zq" fonts install Office 'C:\fonts\bold.pfm' --download 'C:\fonts\bold.sfp' --value 1
"$zq" fonts install Office "$ZQ_ROOT/c/fonts/cart.pcm" --cartridge --value 3
"$zq" fonts list Office > "$root/list"
grep -q "^soft	C:\\\\fonts\\\\bold.pfm	C:\\\\fonts\\\\bold.sfp	1$" "$root/list" || fail "soft font listed: $(cat "$root/list")"
grep -q "^cartridge	C:\\\\fonts\\\\cart.pcm		3$" "$root/list" || fail "cartridge listed: $(cat "$root/list")"

"$zq" fonts summary Office > "$root/summary"
grep -Eq "^Cart Face +cartridge +kind 1 " "$root/summary" || fail "cartridge font: $(cat "$root/summary")"
grep -Eq "^Zel Bold Mono +soft +kind 1 .* weight 700 .* symset 277 memory 12345$" "$root/summary" || fail "soft font: $(cat "$root/summary")"
"$zq" fonts summary Office --json > "$root/json"
python3 - "$root/json" <<'PY'
import json, sys
d = json.load(open(sys.argv[1]))
mine = [f for f in d["fonts"] if f["source"] != "resident"]
assert [f["face"] for f in mine] == ["Cart Face", "Zel Bold Mono"], d
assert mine[1]["weight"] == 700 and mine[1]["memory"] == 12345 and mine[1]["symbolSet"] == 277, mine
PY

"$zq" fonts cache Office | grep -q "no cache file" || fail "cache before any store"
"$zq" fonts remove Office 'C:\fonts\bold.pfm'
"$zq" fonts list Office | grep -q bold && fail "removed font still listed"
"$zq" fonts install Office 'C:\fonts\missing.pfm' 2>/dev/null && fail "a missing file installs"
"$zq" fonts --help | grep -q "zq fonts summary" || fail "help"
exit 0
