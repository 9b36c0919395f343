#!/bin/sh
# zq reg export, then zq reg import into a fresh root, gives back the same
# export; the store is filled through zq's own commands first.
set -eu
zq="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ZQ_ROOT="$work/first" ZQ_USER=tester
printf 'driver' > "$work/zqrend.so"
"$zq" driver add "Zelquor Laser" --driver-file "$work/zqrend.so" --data-file zqdata.bin --config-file zqui.so \
    --dependent "zqfont.bin,zqhelp.txt" > /dev/null
"$zq" printer add Office --driver "Zelquor Laser" --comment 'second "floor" \ east' > /dev/null
"$zq" data set Office DCDShortDesc 'Zelquor Laser, Stapler' > /dev/null
"$zq" data set Office PrinterConfig 0100000002000000 --type binary > /dev/null
"$zq" data set Office printMemory 16384 --type dword --key DsDriver > /dev/null
"$zq" data set Office Paths 'C:\a|C:\b' --type multi_sz > /dev/null
"$zq" data set Office Temp '%TEMP%\zq' --type expand_sz > /dev/null
"$zq" forms add "Zelquor Card" --size 100000x150000 > /dev/null
"$zq" reg export --out "$work/first.reg"
"$zq" reg export 'HKLM\SYSTEM\CurrentControlSet\Control\Print\Printers\Office' > "$work/office.reg"
grep -q '"printMemory"=dword:00004000' "$work/office.reg"
grep -q '"Paths"=hex(7):' "$work/office.reg"
export ZQ_ROOT="$work/second"
"$zq" reg import "$work/first.reg"
"$zq" reg export --out "$work/second.reg"
cmp "$work/first.reg" "$work/second.reg"
# The imported printer works as a printer.
"$zq" data get Office DCDShortDesc | grep -q 'Zelquor Laser, Stapler'
# A broken file is refused with one line and a non-zero exit.
printf 'REGEDIT4\n\n"x"=dword:1\n' > "$work/bad.reg"
if "$zq" reg import "$work/bad.reg" 2> "$work/err"; then exit 1; fi
test "$(wc -l < "$work/err")" -eq 1
echo "1 passed, 0 failed"
