#!/bin/bash
# `zq devmode` as a user runs it: a printer in a fresh root, its default
# record as text, JSON and bytes, and the check of good and damaged files.
set -euo pipefail
zq="$1"
root="$(mktemp -d /tmp/zq-devmode-XXXXXX)"
trap 'rm -rf "$root"' EXIT
export ZQ_ROOT="$root/root" ZQ_COUNTRY=49
fail() { echo "FAIL: $*" >&2; exit 1; }

"$zq" driver add "Zelquor Corvo C30" --driver-file pclrend.dll --data-file drvui.dll --config-file drvui.dll >/dev/null
"$zq" printer add Colour --driver "Zelquor Corvo C30" >/dev/null

"$zq" devmode default --printer Colour > "$root/text"
grep -Eq '^ +78 dmPaperSize +9$' "$root/text" || fail "A4 expected outside the US"
grep -Eq '^ +308 modelDisplayName +"Zelquor Corvo C30"$' "$root/text" || fail "model name"

"$zq" devmode default --printer Colour --json --out "$root/dm.bin" > "$root/json"
python3 - "$root/json" <<'PY'
import json, sys
d = json.load(open(sys.argv[1]))["fields"]
assert d["dmColor"] == 2 and d["dmPrintQuality"] == 600 and d["printerLanguage"] == 4, d
assert d["signature1"] == d["signature2"] == d["signature3"] == 0xBC97A4E2
PY
[ "$(stat -c %s "$root/dm.bin")" = 1256 ] || fail "record file size"

"$zq" devmode check "$root/dm.bin" > "$root/check" || fail "a fresh default fails its check"
grep -q '^check value *right' "$root/check" || fail "check value"
grep -q '^model *2, model record as the driver' "$root/check" || fail "model identification"

# One byte of dmCopies changed: the check value no longer holds.
printf '\x07' | dd of="$root/dm.bin" bs=1 seek=86 conv=notrunc 2>/dev/null
if "$zq" devmode check "$root/dm.bin" > "$root/check"; then fail "damaged record passes"; fi
grep -q '^check value *wrong' "$root/check" || fail "check value of the damaged record"

# A signature broken: not valid.
printf '\x00' | dd of="$root/dm.bin" bs=1 seek=424 conv=notrunc 2>/dev/null
"$zq" devmode check "$root/dm.bin" --json > "$root/json" || true
python3 -c "import json,sys; d=json.load(open(sys.argv[1])); assert d['valid'] is False" "$root/json"

# Errors: one line on stderr, non-zero exit.
head -c 100 "$root/dm.bin" > "$root/short.bin"
if "$zq" devmode check "$root/short.bin" 2> "$root/err"; then fail "short file passes"; fi
[ "$(wc -l < "$root/err")" = 1 ] || fail "error is not one line"
if "$zq" devmode default --printer Nobody 2> "$root/err"; then fail "unknown printer"; fi
if "$zq" devmode frobnicate 2> /dev/null; then fail "unknown verb"; fi
"$zq" devmode --help | grep -q '^usage: zq devmode' || fail "help"
echo "zq devmode: 1 passed, 0 failed"
