#!/usr/bin/env bash
# The package's main job, run by `make run` on a release build: a fresh
# system root under out/ with the driver installed and a printer for each
# model, every sample document printed with `zq print` to each printer's
# monochrome raster twin (and, for a model whose own language is PCL XL, to
# the printer in that language), each job decoded into PNG pages beside the
# engine's reference render, and one line per page.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
tree=$(cd "${1:-build/release}" && pwd)
out=${ZQ_RUN_OUT:-$here/out}
zq=$tree/bin/zq
pclread=$tree/bin/pclread
rasterdm=$tree/bin/raster-devmode
pagejudge=$tree/bin/pagejudge
for tool in "$zq" "$pclread" "$rasterdm" "$pagejudge" "$tree/lib/pclrend.so" "$tree/lib/drvui.so"; do
    [ -e "$tool" ] || { echo "run: $tool is missing: build the tree first" >&2; exit 1; }
done

rm -rf "$out"
mkdir -p "$out"
export ZQ_ROOT=$out/zqroot
"$zq" modules --dir "$tree/lib" > "$out/modules.txt"

# Installation first, as a user does it: the package's media at D:\ (the
# INF, the deliverables, pclrend.ini compressed, the sample documents in an
# archive), each model installed by `zq install`, which starts postinst.
# One line per printer; a non-zero exit or a line postinst logs as failed
# fails the run. The installed root is listed against a golden listing, and
# a second installation must leave it as it was.
install_listing() {
    {
        (cd "$ZQ_ROOT" && find c -type f ! -name '*.log' | LC_ALL=C sort)
        "$zq" reg export 'HKLM\SOFTWARE\Zelquor' | grep -v '^"KovrantDebug"'
        for m in "${inf_models[@]}"; do echo "[$m (INF)]"; "$zq" data list "$m (INF)"; done
    } | tr -d '\r'
}
media=$ZQ_ROOT/d
mkdir -p "$media" "$out/install"
cp "$here/postinst/res/zelquor.inf" "$tree/lib/pclrend.so" "$tree/lib/drvui.so" "$media/"
cp "$here/settings/res/pclrend.ini" "$out/install/pclrend.ini"
(cd "$out/install" && rm -f pclrend.ini_ && mscompress pclrend.ini && mv pclrend.ini_ "$media/pclrend.in_")
(cd "$here/tools/emfgen/samples" && TZ=UTC zip -q -X "$media/samples.zip" ./*.emf)
"$zq" reg import /dev/stdin > /dev/null <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\SOFTWARE\Zelquor]
"KovrantDebug"="C:\\postinst.log"
REG
mapfile -t inf_models < <(tr -d '\r' < "$media/zelquor.inf" | sed -n '/^\[Zelquor\]/,/^\[/s/^"\([^"]*\)" *=.*/\1/p')
[ ${#inf_models[@]} -gt 0 ] || { echo "run: no model in the INF" >&2; exit 1; }
install_all() {
    local pass=$1 failed=0
    for m in "${inf_models[@]}"; do
        log=$out/install/${m// /-}-$pass.log
        rm -f "$ZQ_ROOT/c/postinst.log"
        code=0
        "$zq" install 'D:\zelquor.inf' --model "$m" --printer "$m (INF)" > "$log.out" 2>&1 || code=$?
        tr -d '\r' < "$ZQ_ROOT/c/postinst.log" > "$log" 2>/dev/null || true
        files=$(grep -c 'wrote file' "$log" || true)
        values=$("$zq" reg export 'HKLM\SOFTWARE\Zelquor' | grep -c '^"' || true)
        bad=$(grep -c 'Error parsing command' "$log" || true)
        printf '%-28s install %-6s exit %d, %s files recorded, %s values, %s failed lines\n' "$m" "$pass" "$code" "$files" "$values" "$bad"
        [ "$code" -eq 0 ] && [ "$bad" -eq 0 ] || failed=1
    done
    return $failed
}
install_all first || { echo "run: installation failed; logs in $out/install" >&2; exit 1; }
cmp -s "$ZQ_ROOT/c/windows/pclrend.ini" "$here/settings/res/pclrend.ini" || { echo "run: pclrend.ini differs from its source" >&2; exit 1; }
mkdir -p "$out/install/unzipped"
(cd "$out/install/unzipped" && TZ=UTC unzip -qo "$media/samples.zip")
diff -r "$out/install/unzipped" "$ZQ_ROOT/c/Program Files/Zelquor/Samples" > /dev/null || { echo "run: the samples differ from the archive" >&2; exit 1; }
install_listing > "$out/install/listing.txt"
diff -u "$here/tools/install.golden" "$out/install/listing.txt" || { echo "run: the installed root differs from tools/install.golden" >&2; exit 1; }
install_all again || { echo "run: the second installation failed" >&2; exit 1; }
install_listing | diff -u "$out/install/listing.txt" - || { echo "run: installing again changed the root" >&2; exit 1; }

# The models are the interface driver's model strings; a driver named after
# its model needs no pclrend.ini entry.
mapfile -t models < <(sed -n 's/^ *100[0-9][0-9] *"\(.*\)" *$/\1/p' "$here/settings/res/models.rec")
[ ${#models[@]} -gt 0 ] || { echo "run: no model in settings/res/models.rec" >&2; exit 1; }
samples=("$here"/tools/emfgen/samples/*.emf)

printers=()
xl_printers=()
for model in "${models[@]}"; do
    "$zq" driver add "$model" --driver-file "$tree/lib/pclrend.so" --data-file "$tree/lib/drvui.so" \
        --config-file "$tree/lib/drvui.so" > /dev/null
    "$zq" printer add "$model" --driver "$model" > /dev/null
    # The raster twin: the model's default record in the monochrome raster
    # language, stored as the printer's default DEVMODE.
    raster="$model raster"
    "$zq" printer add "$raster" --driver "$model" > /dev/null
    "$zq" devmode default --printer "$model" --out "$out/record.bin" > /dev/null
    "$rasterdm" "$out/record.bin" "$raster" --language 0 > "$out/record.reg"
    "$zq" reg import "$out/record.reg" > /dev/null
    printers+=("$raster")
    # A model of the PCL XL line also prints in its own language.
    if [ "$("$rasterdm" "$out/record.bin" --own-language)" = 2 ]; then
        "$rasterdm" "$out/record.bin" "$model" > "$out/record.reg"
        "$zq" reg import "$out/record.reg" > /dev/null
        printers+=("$model")
        xl_printers+=("$model")
    fi
done
rm -f "$out/record.bin" "$out/record.reg"

gpcl6=${ZQ_GPCL6:-$here/../shared/tools/gpcl6}
now() { date +%s.%N; }
status=0
printf '%-28s %-10s %-16s %10s %8s  %s\n' printer sample page "job bytes" seconds "decoded against reference"
for printer in "${printers[@]}"; do
    dir=$out/${printer// /-}
    mkdir -p "$dir"
    for sample in "${samples[@]}"; do
        name=$(basename "$sample" .emf)
        start=$(now)
        if ! "$zq" print "$sample" --printer "$printer" --out "$dir/$name.pcl" --png "$dir/$name-reference.png" \
            > "$dir/$name-print.txt" 2>&1; then
            printf '%-28s %-10s %s\n' "$printer" "$name" "print failed: $(tail -1 "$dir/$name-print.txt")"
            status=1
            continue
        fi
        seconds=$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')
        bytes=$(stat -c %s "$dir/$name.pcl")
        # pclread fails on pages that differ too: those are reported below,
        # while a job it cannot read or a form fault fails the run. A PCL XL
        # job is a whole sheet: the reference lies at the printable corner
        # (raster-devmode's margins are 1/6 inch), and the outside
        # interpreter's sheet, when it is at hand, is judged beside it.
        xlargs=()
        if [[ " ${xl_printers[*]} " == *" $printer "* ]]; then
            dpi=$(sed -n 's/^page 1: .* at \([0-9]*\) dpi$/\1/p' "$dir/$name-print.txt")
            xlargs=(--offset "$((dpi / 6)),$((dpi / 6))")
            if [ -x "$gpcl6" ]; then
                rm -f "$dir/$name-printed-"*.pgm
                "$gpcl6" -q -dNOPAUSE -dBATCH -sDEVICE=pgmraw -r"$dpi" -sOutputFile="$dir/$name-printed-%d.pgm" \
                    "$dir/$name.pcl" > /dev/null 2>&1 || true
                for sheet in "$dir/$name-printed-"*.pgm; do [ -e "$sheet" ] && xlargs+=(--printed "$sheet"); done
            fi
        fi
        "$pclread" "$dir/$name.pcl" --png-prefix "$dir/$name-decoded" --reference "$dir/$name-reference.png" \
            "${xlargs[@]}" > "$dir/$name-read.txt" 2>&1 || true
        grep -q ', 0 form faults$' "$dir/$name-read.txt" || { status=1; head -3 "$dir/$name-read.txt"; }
        # One line per decoded page: "page N: WxH, B black, <comparison>, file".
        sed -n 's/^page \([0-9]*\): \([0-9x]*\), [0-9]* black, \([^,]*\).*/\1 \2 \3/p' "$dir/$name-read.txt" |
            while read -r n size verdict; do
                printf '%-28s %-10s %-16s %10s %8.2f  %s\n' "$printer" "$name" "$n: $size" "$bytes" "$seconds" "$verdict"
            done
    done
done
# The corpus of outside documents as one document of several pages on each
# printer, judged by the outside PCL interpreter when it is at hand: ink for
# ink against the engine's reference render, and against the independent
# expected page at 75 dpi grey (mean, worst 8 x 8 block, ink box).
corpus=$here/render/tests/data/corpus
mapfile -t pages < <(awk '{ print $1 }' "$corpus/pages.txt")
mapfile -t expected < <(awk '{ print $2 }' "$corpus/pages.txt")
echo
printf '%-28s %-22s %s\n' printer "corpus page" "judged by the outside interpreter"
for printer in "${printers[@]}"; do
    [[ " ${xl_printers[*]} " == *" $printer "* ]] && continue  # the corpus judge reads PCL 5 sheets
    dir=$out/${printer// /-}/corpus
    mkdir -p "$dir"
    files=()
    for p in "${pages[@]}"; do files+=("$corpus/emf/$p"); done
    if ! "$zq" print "${files[@]}" --printer "$printer" --out "$dir/corpus.pcl" --png "$dir/reference-%d.png" \
        > "$dir/print.txt" 2>&1; then
        printf '%-28s %s\n' "$printer" "corpus print failed: $(tail -1 "$dir/print.txt")"
        status=1
        continue
    fi
    if [ ! -x "$gpcl6" ]; then
        printf '%-28s %s\n' "$printer" "printed ${#pages[@]} pages; no outside interpreter at $gpcl6, not judged"
        continue
    fi
    dpi=$(sed -n 's/^page 1: .* at \([0-9]*\) dpi$/\1/p' "$dir/print.txt")
    "$gpcl6" -q -dNOPAUSE -dBATCH -sDEVICE=pbmraw -r"$dpi" -sOutputFile="$dir/sheet-%d.pbm" "$dir/corpus.pcl" \
        > /dev/null 2>&1 || true
    for i in "${!pages[@]}"; do
        n=$((i + 1))
        # The page where zq print placed it: the printable area's top left.
        xy=$(sed -n "s/^page $n: .* placed at \([0-9]*,[0-9]*\) .*/\1/p" "$dir/print.txt")
        verdict=$( ("$pagejudge" "$dir/sheet-$n.pbm" --dpi "$dpi" --offset "$xy" \
            --reference "$dir/reference-$n.png" --expected "$corpus/expected/${expected[$i]}" --expected-dpi 150 2>&1 ||
            true) | sed 's/ (printed.*//' | tr '\n' ';' | sed 's/;$//; s/;/; /')
        printf '%-28s %-22s %s\n' "$printer" "${pages[$i]}" "$verdict"
    done
done
echo "jobs, decoded pages and reference renders are in $out"
exit $status
