#!/bin/sh
# zq install on a fresh root: usage errors, an unknown model, an
# installation (driver files, printer, postinst's work) and a repeat.
set -u
zq=$1
src=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
export ZQ_ROOT=$root
fail() { echo "zq_install: $*" >&2; exit 1; }
mkdir -p "$root/d"
cp "$src/postinst/res/zelquor.inf" "$src/postinst/tests/data/samples.zip" "$src/postinst/tests/data/pclrend.in_" "$root/d/"
echo module > "$root/d/pclrend.so"
echo module > "$root/d/drvui.so"
echo module > "$root/d/dlgui.so"
echo module > "$root/d/dlgres.so"
echo "; beside the driver" > "$root/d/pclrend.ini"
"$zq" install --help | grep -q 'usage: zq install' || fail "no help"
"$zq" install 'D:\zelquor.inf' > /dev/null 2>&1; [ $? -eq 2 ] || fail "missing options are no usage error"
"$zq" install 'D:\zelquor.inf' --model Nothing --printer P > /dev/null 2>&1; [ $? -eq 1 ] || fail "unknown model accepted"
"$zq" install 'D:\missing.inf' --model Nothing --printer P > /dev/null 2>&1; [ $? -eq 1 ] || fail "missing INF accepted"
for pass in 1 2; do
    out=$("$zq" install 'D:\zelquor.inf' --model 'Zelquor Tarn 45 PCL XL' --printer 'Tarn A 45' --port LPT2: --silent) ||
        fail "install $pass failed: $out"
    echo "$out" | grep -q 'postinst exit code 0' || fail "install $pass: $out"
done
for f in pclrend.so dlgui.so dlgres.so; do
    [ -f "$root/c/windows/system32/spool/drivers/w32x86/3/$f" ] || fail "driver file $f not copied"
done
# The expansion, then the INF's entry for the driver.
size=$(wc -c < "$src/platform/base/tests/data/lz/text")
head -c "$size" "$root/c/windows/pclrend.ini" | cmp -s - "$src/platform/base/tests/data/lz/text" || fail "pclrend.ini not expanded"
grep -q '^Language=en_US' "$root/c/windows/pclrend.ini" || fail "no INI entry"
"$zq" driver list | grep -q '^  monitor: Zelquor Language Monitor' || fail "monitor not tied to the driver"
[ -f "$root/c/Documents and Settings/All Users/Start Menu/Programs/Zelquor/Sample documents.LNK" ] || fail "no link"
"$zq" printer list | grep -q 'Tarn A 45' || fail "printer not added"
"$zq" data list 'Tarn A 45' | grep -q '^ConvertInOwnProcess' || fail "printer data not written"
echo "zq_install: ok"
