#!/bin/bash
# The printer's record as applications get it from the interface driver:
# `zq devmode current` through DocumentProperties after `zq printer add`, its
# check value against Python's binascii.crc_hqx, an application's record from
# `zq devmode set`, and `zq print --devmode` through the document events.
set -euo pipefail
zq="$1"
lib="$(cd "$(dirname "$zq")/../lib" && pwd)"
samples="$2"
root="$(mktemp -d /tmp/zq-devmode-XXXXXX)"
trap 'rm -rf "$root"' EXIT
export ZQ_ROOT="$root/root"
fail() { echo "FAIL: $*" >&2; exit 1; }

"$zq" driver add "Zelquor Mira 12 PCL" --driver-file "$lib/pclrend.so" --data-file "$lib/drvui.so" \
    --config-file "$lib/drvui.so" >/dev/null
"$zq" printer add Mira --driver "Zelquor Mira 12 PCL" >/dev/null

"$zq" devmode current --printer Mira --out "$root/current.bin" > "$root/current.txt"
[ "$(stat -c %s "$root/current.bin")" = 1256 ] || fail "a record of 1256 bytes"
grep -q ' modelName  *"Zelquor Mira 12 PCL"$' "$root/current.txt" || fail "the driver's default for its model"
if command -v python3 >/dev/null; then
    python3 - "$root/current.bin" <<'PY' || fail "the check value is binascii.crc_hqx over bytes 64-219"
import binascii, struct, sys
data = open(sys.argv[1], "rb").read()
stored, = struct.unpack_from("<H", data, 1224)
# The register takes each byte at its bottom before the table step, so the
# last two bytes of the range act as crc_hqx's two appended zero bytes would:
# the value is crc_hqx of bytes 64-217 with bytes 218-219 added in.
tail, = struct.unpack_from(">H", data, 218)
sys.exit(0 if binascii.crc_hqx(data[64:218], 0) ^ tail == stored else 1)
PY
else
    echo "python3 is absent: the check value is not compared with binascii.crc_hqx"
fi

# An application's record: the printer's in the monochrome raster language
# (the PCL job, not the spool stream), three copies.
"$zq" devmode set --printer Mira printerLanguage=0 metaSpool=0 dmCopies=3 --out "$root/app.bin" >/dev/null
"$zq" devmode check "$root/app.bin" > "$root/app.txt" || fail "a valid record with a renewed check value"
grep -q ' printerLanguage  *0$' "$root/app.txt" || fail "the language set"
grep -q ' dmCopies  *3$' "$root/app.txt" || fail "the copies set"
set +e
"$zq" devmode set --printer Mira noSuchField=1 --out "$root/x.bin" 2>/dev/null; [ $? = 2 ] || fail "an unknown field"
"$zq" devmode set --printer Mira dmCopies=70000 --out "$root/x.bin" 2>/dev/null; [ $? = 2 ] || fail "out of range"
"$zq" devmode set --printer Mira modelName=$(printf 'x%.0s' {1..40}) --out "$root/x.bin" 2>/dev/null
[ $? = 2 ] || fail "a text longer than its field"
set -e
[ ! -e "$root/x.bin" ] || fail "nothing written for a refused field"

# Printing with it runs the document events into the renderer.
sample=$(ls "$samples"/*.emf | head -1)
"$zq" print "$sample" --printer Mira --devmode "$root/app.bin" --out "$root/job.pcl" > "$root/print.txt" ||
    fail "print with an application's record: $(cat "$root/print.txt")"
[ -s "$root/job.pcl" ] || fail "a job"
head -c 2000 "$root/job.pcl" | grep -qa '@PJL' || fail "a PJL job"
head -c 1000 "$root/current.bin" > "$root/short.bin"
if "$zq" print "$sample" --printer Mira --devmode "$root/short.bin" 2>/dev/null; then fail "a broken record"; fi

# The same record as the spooler's default of a new printer: the driver
# makes the printer's settings from it, and a job made without a DEVMODE
# prints with them (the raster language, three copies).
"$zq" printer add Seeded --driver "Zelquor Mira 12 PCL" --devmode "$root/app.bin" >/dev/null ||
    fail "a printer added with a default DEVMODE"
"$zq" devmode current --printer Seeded > "$root/seeded.txt"
grep -q ' printerLanguage  *0$' "$root/seeded.txt" && grep -q ' dmCopies  *3$' "$root/seeded.txt" ||
    fail "the printer's settings made from its default DEVMODE"
"$zq" print "$sample" --printer Seeded --out "$root/seeded.pcl" > "$root/print.txt" ||
    fail "print without a record: $(cat "$root/print.txt")"
grep -qa $'\x1b\*r1A' "$root/seeded.pcl" || fail "the raster language from the printer's default"
"$zq" print "$sample" --printer Mira --out "$root/own.pcl" > "$root/print.txt" || fail "print on Mira"
if grep -qa $'\x1b\*r1A' "$root/own.pcl"; then fail "the other printer keeps its own language"; fi
if "$zq" printer add Broken --driver "Zelquor Mira 12 PCL" --devmode "$root/short.bin" 2>/dev/null; then
    fail "a printer added with a broken record"
fi
if "$zq" printer list | grep -q '^Broken'; then fail "nothing added for a broken record"; fi
"$zq" devmode --help | grep -q 'zq devmode set' || fail "help"
echo ok
