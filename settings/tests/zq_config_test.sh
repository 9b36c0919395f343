#!/bin/bash
# `zq config` and `zq profile` as an administrator and a user run them: one
# printer's settings handed to a new printer through its DrvCfg key, forced
# onto another through the driver's exports, and saved, listed, applied and
# deleted as personal profiles.
set -euo pipefail
zq="$1"
root="$(mktemp -d /tmp/zq-config-XXXXXX)"
trap 'rm -rf "$root"' EXIT
export ZQ_ROOT="$root/root" ZQ_COUNTRY=49
fail() { echo "FAIL: $*" >&2; exit 1; }
field() {  # field PRINTER NAME: a field of the printer's current record
    "$zq" devmode current --printer "$1" --json | python3 -c \
        'import json,sys; print(json.load(sys.stdin)["fields"][sys.argv[1]])' "$2"
}

tarn="Zelquor Tarn 45 PCL XL"
"$zq" driver add "$tarn" --driver-file pclrend.dll --data-file drvui.dll --config-file drvui.dll >/dev/null
for p in P1 P2 P3; do "$zq" printer add $p --driver "$tarn" >/dev/null; done
"$zq" printer init P1 >/dev/null

# Copies 4 and landscape for P1, then its settings as a configuration file.
python3 - "$root/hand.bin" <<'PY'
import struct, sys
def el(tag, data): return struct.pack('<II', tag, 8 + len(data)) + data
v = lambda n: struct.pack('<I', n)
open(sys.argv[1], 'wb').write(el(18, el(1, v(4))) + el(11, el(1, v(2))))
PY
"$zq" taglist import --printer P1 "$root/hand.bin" >/dev/null
mkdir -p "$ZQ_ROOT/c/config"
"$zq" config export P1 --out "$ZQ_ROOT/c/config/p1.dcd" > "$root/out" || fail "config export"
grep -Eq '^[0-9]+ bytes of settings of P1 written to ' "$root/out" || fail "export: $(cat "$root/out")"

# Hand-over: P2's DrvCfg key names the file; its first load takes it, once.
cat > "$root/drvcfg.reg" <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\SOFTWARE\Zelquor\DrvCfg\P2]
"DCDConfigFile"="C:\\config\\p1.dcd"
"DCDShortDesc"="Settings of P1"
REG
"$zq" reg import "$root/drvcfg.reg" >/dev/null
"$zq" printer init P2 > "$root/init" || fail "printer init P2"
grep -Eq '^wrote DCD_InstalledDocDefaults ' "$root/init" || fail "installed defaults: $(cat "$root/init")"
grep -Eq '^wrote DCDConfigFile ' "$root/init" || fail "DCDConfigFile not copied"
[ "$(field P2 dmCopies)" = 4 ] || fail "P2 did not take the copies"
[ "$(field P2 dmOrientation)" = 2 ] || fail "P2 did not take the orientation"
[ "$(field P2 profileId)" = "[2, 0, 0, 0]" ] || fail "profile id $(field P2 profileId)"
if "$zq" reg export 'HKEY_LOCAL_MACHINE\SOFTWARE\Zelquor\DrvCfg\P2' 2>/dev/null | grep -q DCDConfigFile; then
    fail "the DrvCfg key is still there"
fi
"$zq" printer init P2 > "$root/init"
grep -q '^nothing written' "$root/init" || fail "a second init wrote: $(cat "$root/init")"

# Forcing the file onto P3 through the export; another model's is refused.
if "$zq" config force P3 "$ZQ_ROOT/c/config/p1.dcd" --model "Zelquor Corvo C30" 2>"$root/err"; then
    fail "another model's settings were forced"
fi
grep -q 'answered 1' "$root/err" || fail "refusal: $(cat "$root/err")"
[ "$(field P3 dmCopies)" = 1 ] || fail "a refused force changed P3"
"$zq" config force P3 "$ZQ_ROOT/c/config/p1.dcd" > "$root/out" || fail "config force"
[ "$(field P3 dmCopies)" = 4 ] || fail "P3 did not take the copies"
if "$zq" config force Nobody "$ZQ_ROOT/c/config/p1.dcd" --model "$tarn" 2>"$root/err"; then fail "force on no printer"; fi
grep -q 'answered 2' "$root/err" || fail "no printer: $(cat "$root/err")"

"$zq" config support --model "$tarn" --printer P1 > "$root/out" || fail "config support"
grep -q '^driver        128 1 2 1.0.0.23 7 5$' "$root/out" || fail "support: $(cat "$root/out")"
grep -q '^vendor        2 (Zelquor)$' "$root/out" || fail "vendor: $(cat "$root/out")"
grep -q '(opens)$' "$root/out" || fail "P1 does not open: $(cat "$root/out")"

# Profiles: the built-ins first; "installed" only where a configuration was.
"$zq" profile list --printer P1 > "$root/list" || fail "profile list"
[ "$(head -1 "$root/list" | awk '{print $1}')" = factory ] || fail "list: $(cat "$root/list")"
if grep -q '^installed' "$root/list"; then fail "installed defaults listed without a configuration"; fi
"$zq" profile list --printer P2 | grep -q '^installed ' || fail "P2's installed defaults not listed"
"$zq" profile save --printer P1 Draft --description "four copies" > "$root/out" || fail "profile save"
grep -q '^saved profile Draft as 9:1$' "$root/out" || fail "save: $(cat "$root/out")"
"$zq" profile list --printer P1 | grep -Eq '^9:1 +user +Draft - four copies$' || fail "saved profile not listed"
"$zq" profile load --printer P1 factory >/dev/null || fail "load factory"
[ "$(field P1 dmCopies)" = 1 ] || fail "factory defaults not applied"
"$zq" profile load --printer P1 Draft >/dev/null || fail "load Draft"
[ "$(field P1 dmCopies)" = 4 ] || fail "Draft not applied"
[ "$(field P1 profileId)" = "[9, 1, 0, 0]" ] || fail "profile id after load: $(field P1 profileId)"
"$zq" profile delete --printer P1 Draft >/dev/null || fail "delete"
if "$zq" profile list --printer P1 | grep -q Draft; then fail "deleted profile still listed"; fi
if "$zq" profile load --printer P1 Draft 2>"$root/err"; then fail "a deleted profile loads"; fi
grep -q 'no profile Draft' "$root/err" || fail "missing profile: $(cat "$root/err")"
if "$zq" profile delete --printer P1 factory 2>/dev/null; then fail "a built-in was deleted"; fi

for c in config profile; do "$zq" $c --help | grep -q "^usage: zq $c " || fail "$c --help"; done
echo ok
