#!/bin/bash
# `zq caps` as a user runs it: a colour printer in a fresh root, one
# capability, all of them, and the errors.
set -euo pipefail
zq="$1"
root="$(mktemp -d /tmp/zq-caps-XXXXXX)"
trap 'rm -rf "$root"' EXIT
export ZQ_ROOT="$root/root"
fail() { echo "FAIL: $*" >&2; exit 1; }

"$zq" driver add "Zelquor Corvo C30" --driver-file pclrend.dll --data-file drvui.dll --config-file drvui.dll >/dev/null
"$zq" printer add Colour --driver "Zelquor Corvo C30" >/dev/null

[ "$("$zq" caps --printer Colour colordevice)" = "colordevice      1" ] || fail "a colour model"
"$zq" caps --printer Colour DC_PAPERS > "$root/papers"
[ "$(head -1 "$root/papers")" = "papers           6" ] || fail "six papers"
[ "$(sed -n 2p "$root/papers")" = "  1" ] || fail "Letter first"
"$zq" caps --printer Colour 2 | cmp -s - "$root/papers" || fail "capability by number"
"$zq" caps --printer Colour > "$root/all"
grep -q '^printermem       65536$' "$root/all" || fail "memory"
grep -q '^  600 x 600$' "$root/all" || fail "resolutions"
[ "$(grep -c '' "$root/all")" -gt 40 ] || fail "every capability"

if "$zq" caps --printer Nobody 2>/dev/null; then fail "a printer that is not there"; fi
set +e
"$zq" caps --printer Colour nothing 2>/dev/null
[ $? = 2 ] || fail "an unknown capability is a usage error"
set -e
"$zq" caps --help | grep -q '^usage: zq caps' || fail "help"
echo ok
