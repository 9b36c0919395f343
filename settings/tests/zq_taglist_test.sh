#!/bin/bash
# `zq taglist` as a user runs it: settings given to one printer as a
# hand-written list travel to a second printer through an exported file,
# and a damaged file is shown as damaged.
set -euo pipefail
zq="$1"
root="$(mktemp -d /tmp/zq-taglist-XXXXXX)"
trap 'rm -rf "$root"' EXIT
export ZQ_ROOT="$root/root" ZQ_COUNTRY=49
fail() { echo "FAIL: $*" >&2; exit 1; }

"$zq" driver add "Zelquor Tarn 45 PCL XL" --driver-file pclrend.dll --data-file drvui.dll --config-file drvui.dll >/dev/null
"$zq" printer add P1 --driver "Zelquor Tarn 45 PCL XL" >/dev/null
"$zq" printer add P2 --driver "Zelquor Tarn 45 PCL XL" --port LPT2: >/dev/null

# The first load builds and stores the settings; a second writes nothing.
"$zq" printer init P1 > "$root/init" || fail "printer init"
grep -Eq '^wrote CurrentDefaultDevMode +1256 bytes: a valid record, check value right$' "$root/init" || fail "default: $(cat "$root/init")"
grep -Eq '^wrote CurrentDevmode +1256 bytes: a valid record, check value right$' "$root/init" || fail "current record"
grep -Eq '^wrote DefDrvCfgData +[0-9]+ bytes: a tag list of [0-9]+ document and printer rows$' "$root/init" || fail "DefDrvCfgData"
"$zq" printer init P1 > "$root/init" || fail "second printer init"
grep -q '^nothing written' "$root/init" || fail "a second init wrote: $(cat "$root/init")"

# Copies 4 (18/1) and landscape (11/1 = 2), written by hand.
python3 - "$root/hand.bin" <<'PY'
import struct, sys
def el(tag, data): return struct.pack('<II', tag, 8 + len(data)) + data
v = lambda n: struct.pack('<I', n)
open(sys.argv[1], 'wb').write(el(18, el(1, v(4))) + el(11, el(1, v(2))))
PY
"$zq" taglist import --printer P1 "$root/hand.bin" > "$root/out" || fail "import into P1"
grep -q '^2 settings imported into P1$' "$root/out" || fail "import count: $(cat "$root/out")"

"$zq" taglist export --printer P1 --out "$root/p1.bin" > "$root/out" || fail "export of P1"
"$zq" taglist show "$root/p1.bin" > "$root/tree" || fail "show of a sound list"
grep -Eq '^18$' "$root/tree" || fail "tag 18 missing from the tree"
grep -Eq '^  1 = 4 \(0x4\)$' "$root/tree" || fail "copies not shown as 4"

"$zq" taglist import --printer P2 "$root/p1.bin" >/dev/null || fail "import into P2"
"$zq" devmode current --printer P2 --json > "$root/json"
python3 - "$root/json" <<'PY'
import json, sys
d = json.load(open(sys.argv[1]))["fields"]
assert d["dmCopies"] == 4 and d["dmOrientation"] == 2, (d["dmCopies"], d["dmOrientation"])
PY

# A list cut inside an element: shown up to the damage, exit 1.
head -c 30 "$root/p1.bin" > "$root/cut.bin"
if "$zq" taglist show "$root/cut.bin" > "$root/tree"; then fail "a cut list shows as sound"; fi
grep -q '^malformed element at byte' "$root/tree" || fail "the damage is not named"

# The paper list: a spooler form within the model's custom-paper limits gets
# code 896; one outside them none.
"$zq" driver add "Zelquor Corvo C30" --driver-file pclrend.dll --data-file drvui.dll --config-file drvui.dll >/dev/null
"$zq" printer add Colour --driver "Zelquor Corvo C30" --port LPT3: >/dev/null
"$zq" forms add "Office A4" --size 210000x297000 >/dev/null
"$zq" forms add "Tiny" --size 50000x50000 >/dev/null
"$zq" papers Colour > "$root/papers" || fail "papers"
grep -Eq '^ +896  Office A4$' "$root/papers" || fail "papers: $(cat "$root/papers")"
if grep -q Tiny "$root/papers"; then fail "a form outside the limits is offered"; fi
if "$zq" papers Nobody 2>/dev/null; then fail "papers of no printer"; fi

# Bad input gets a clear error.
if "$zq" taglist import --printer Nobody "$root/p1.bin" 2>"$root/err"; then fail "import into no printer"; fi
grep -q 'no printer Nobody' "$root/err" || fail "no printer message"
if "$zq" taglist export --printer P1 --out "$root/x" --scope 5000 2>"$root/err"; then fail "scope 5000 taken"; fi
"$zq" taglist --help | grep -q '^usage: zq taglist export' || fail "help"
echo ok
