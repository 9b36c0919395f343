#!/bin/bash
# The models' resident fonts as `zq fonts summary` lists them, against
# FreeType's own figures for each source font (a separate FreeType program,
# not the generator); then the other sources on a Tarn printer: soft fonts
# and cartridges sorting in, fontdb.dfm on a double-byte system, byte 605
# and the 451-font limit.
set -euo pipefail
# MODE "resident": the resident fonts of Mira, Tarn and Corvo (Ovra has
# none: its model record names no list) and byte 605; "sources":
# the other sources on a Tarn printer (two tests, to keep each short).
mode="$1" zq="$2" figures="$3" faces="$4" rec="$5" fontfiles="$6"
root="$(mktemp -d /tmp/zq-resident-XXXXXX)"
trap 'rm -rf "$root"' EXIT
export ZQ_ROOT="$root/root"
fail() { echo "FAIL: $*" >&2; exit 1; }

models=("Zelquor Mira 12" "Zelquor Tarn 45 XL" "Zelquor Corvo C30" "Ovra Zelquor Lite 8")
if [ "$mode" = sources ]; then
  "$zq" driver add "${models[1]}" --driver-file pclrend.dll --data-file drvui.dll --config-file drvui.dll >/dev/null
  "$zq" printer add P1 --driver "${models[1]}" >/dev/null
fi
for i in 0 1 2; do
  [ "$mode" = resident ] || break
  "$zq" driver add "${models[$i]}" --driver-file pclrend.dll --data-file drvui.dll --config-file drvui.dll >/dev/null
  "$zq" printer add "P$i" --driver "${models[$i]}" >/dev/null
  "$zq" fonts summary "P$i" --json > "$root/summary$i.json"
done

if [ "$mode" = resident ]; then
python3 - "$figures" "$faces" "$rec" "$root" <<'PY'
import json, re, shlex, subprocess, sys
figures, faces_path, rec, root = sys.argv[1:5]
faces = []
for line in open(faces_path):
    if line.strip() and not line.startswith("#"):
        name, models, source, typeface, style, weight, family, points, symset, xlname = shlex.split(line)
        faces.append(dict(name=name, models=models, source=source, points=int(points), symset=symset))
revisions = re.findall(r"^// .*?, from (\S+) \(.*revision ([0-9.]+)\)$", open(rec).read(), re.M)
assert len(revisions) == len(faces), "resident_fonts.rec does not match the face table"
sources = sorted(set(f["source"] for f in faces))
lines = subprocess.run([figures] + ["/usr/share/fonts/" + s for s in sources], check=True,
                       capture_output=True, text=True).stdout.splitlines()
ft = dict(zip(sources, map(json.loads, lines)))
def font(i):
    return ft[faces[i]["source"]]
cp1252 = [c for c in bytes(range(32, 256)).decode("cp1252", errors="ignore") if not 0x7F <= ord(c) < 0xA0]
checked = skipped = 0
for m, letter in enumerate("MTC"):
    d = json.load(open("%s/summary%d.json" % (root, m)))
    resident = [f for f in d["fonts"] if f["source"] == "resident"]
    want = sorted(i + 1 for i, f in enumerate(faces) if letter in f["models"])
    assert sorted(f["resource"] for f in resident) == want, (m, [f["resource"] for f in resident], want)
    dpi = d["resolution"]
    for f in resident:
        i = f["resource"] - 1
        face = faces[i]
        where = "model %d font %d %s (%s)" % (m, i + 1, face["name"], face["source"])
        assert f["face"] == face["name"], where
        assert f["kind"] == 2, where
        assert f["charset"] == (2 if face["symset"] != "-" else 1), where
        g = font(i)
        if "%.5f" % g["revision"] != revisions[i][1]:
            print("skip: %s is revision %.5f here, the data was made from %s" % (where, g["revision"], revisions[i][1]))
            skipped += 1
            continue
        if face["points"] == 0:
            assert f["scalable"] and f["unitsPerEm"] == g["unitsPerEm"], where
            assert f["ascent"] == g["ascender"], (where, f["ascent"], g["ascender"])
            assert f["averageWidth"] == g["avgWidth"], (where, f["averageWidth"], g["avgWidth"])
            if face["symset"] == "-" and not f["widths"]:
                # Fixed pitch: every character takes the average width.
                for c in cp1252:
                    assert g["advances"][str(ord(c))] == f["averageWidth"], (where, "U+%04X" % ord(c))
            elif face["symset"] == "-":
                for c in cp1252:
                    assert str(ord(c)) in f["widths"], (where, "no width for U+%04X" % ord(c))
                for code, w in f["widths"].items():
                    assert g["advances"][code] == w, (where, "U+%04X" % int(code), w, g["advances"][code])
        else:
            # A fixed-size font: FreeType's figures at its size and the job's
            # resolution; the driver scales its 300-dpi figures, so a dot apart.
            scale = face["points"] * dpi / (72.0 * g["unitsPerEm"])
            assert not f["scalable"] and f["points"] == face["points"], where
            assert abs(f["ascent"] - round(g["ascender"] * scale)) <= 1, (where, f["ascent"])
            assert abs(f["averageWidth"] - round(g["advances"]["77"] * scale)) <= 1, (where, f["averageWidth"])
        checked += 1
assert checked > 0
print("resident fonts: %d agree with FreeType, %d skipped" % (checked, skipped))
PY

# Only scalable fonts with byte 605 set: Mira's fixed sizes drop out.
"$zq" devmode default --printer P0 --out "$root/dm.bin" >/dev/null
printf '\x01' | dd of="$root/dm.bin" bs=1 seek=605 conv=notrunc 2>/dev/null
"$zq" fonts summary P0 --devmode "$root/dm.bin" --json > "$root/scalable.json"
python3 - "$root/summary0.json" "$root/scalable.json" <<'PY'
import json, sys
full, scalable = (json.load(open(p))["fonts"] for p in sys.argv[1:3])
assert [f["face"] for f in scalable] == [f["face"] for f in full if f["scalable"]], scalable
assert len(scalable) < len(full)
PY
echo "zq resident fonts: passed"
exit 0
fi

# Soft fonts and a cartridge sort in among the resident fonts on 1252.
mkdir -p "$ZQ_ROOT/c/fonts"
python3 "$fontfiles" "$ZQ_ROOT/c/fonts"
"$zq" fonts install P1 'C:\fonts\roman.pfm' --download 'C:\fonts\roman.sfp' --value 1
"$zq" fonts install P1 'C:\fonts\mono.pfm' --download 'C:\fonts\mono.sfp' --value 1
"$zq" fonts install P1 'C:\fonts\cart.pcm' --cartridge --value 1
ZQ_ACP=1252 "$zq" fonts summary P1 --json > "$root/sorted.json"
# On 932 with "DBCSpfm" the fontdb.dfm fonts come last, in their order.
cache="$("$zq" fonts cache P1 | sed -n 's/: no cache file$//p')"
dir="$(python3 - "$ZQ_ROOT" "$cache" <<'PY'
import os, sys
root, name = sys.argv[1], sys.argv[2]
path = os.path.join(root, "c")
for part in name[3:].split("\\")[:-1]:
    path = os.path.join(path, next(e for e in os.listdir(path) if e.lower() == part.lower()))
print(path)
PY
)"
cp "$ZQ_ROOT/c/fonts/fontdb.dfm" "$dir/"
ZQ_ACP=932 "$zq" fonts summary P1 --json > "$root/nodbcs.json"
"$zq" data set P1 DBCSpfm 666f6e74646200 --type binary
ZQ_ACP=932 "$zq" fonts summary P1 --json > "$root/dbcs.json"
# The 452nd font of all sources is refused.
"$zq" fonts install P1 'C:\fonts\many1.pcm' --cartridge --value 2
"$zq" fonts install P1 'C:\fonts\many2.pcm' --cartridge --value 3
ZQ_ACP=1252 "$zq" fonts summary P1 --json > "$root/many.json"
python3 - "$root" <<'PY'
import json, sys
root = sys.argv[1]
load = lambda n: json.load(open("%s/%s.json" % (root, n)))["fonts"]
sorted_ = load("sorted")
names = [f["face"] for f in sorted_]
assert names == sorted(names, key=str.lower), names
assert names[0] == "Aardvark Soft" and names[-1] == "Zzz Cart", names
kinds = {f["face"]: f["source"] for f in sorted_}
assert kinds["Mono Soft"] == "soft" and kinds["Cart Gothic"] == "cartridge", kinds
assert not any(f["face"].startswith("Double") for f in load("nodbcs"))
dbcs = [f["face"] for f in load("dbcs")]
assert dbcs[-2:] == ["Double Mincho", "Double Gothic"], dbcs[-4:]
assert dbcs[:-2] == [f["face"] for f in load("nodbcs")]
many = [f["face"] for f in load("many")]
assert len(many) == 451, len(many)
assert "Many B 181" in many and "Many B 182" not in many, [n for n in many if n.startswith("Many B")][-2:]
PY
echo "zq font sources: passed"
