#!/usr/bin/env bash
# The package's main job, run by `make run` on a release build: a fresh
# system root under out/ with the driver installed and a printer for each
# model, every sample document printed with `zq print` to each printer's
# monochrome raster twin (and, for a model whose own language is PCL XL, to
# the printer in that language; for the colour model, to its colour raster
# twin and its colour twins in PCL 5 raster, PCL 5 with HP-GL/2 with and
# without the colour image path, and PCL XL), each job decoded into PNG pages
# beside the engine's reference render, and one line per page.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
tree=$(cd "${1:-build/release}" && pwd)
out=${ZQ_RUN_OUT:-$here/out}
zq=$tree/bin/zq
pclread=$tree/bin/pclread
pagejudge=$tree/bin/pagejudge
vemfread=$tree/bin/vemfread
for tool in "$zq" "$pclread" "$pagejudge" "$vemfread" "$tree/lib/pclrend.so" "$tree/lib/drvui.so" "$tree/lib/dlgui.so" \
    "$tree/lib/dlgres.so" "$tree/lib/Engine.so" \
    "$tree/lib/instrec.so"; do
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
links=$ZQ_ROOT/'c/Documents and Settings/All Users/Start Menu/Programs/Zelquor'
install_listing() {
    {
        (cd "$ZQ_ROOT" && find c -type f ! -name '*.log' | LC_ALL=C sort)
        "$zq" reg export 'HKLM\SOFTWARE\Zelquor' | grep -v '^"KovrantDebug"'
        "$zq" reg export 'HKLM\SYSTEM\CurrentControlSet\Control\Print\Monitors\Zelquor Language Monitor'
        "$zq" reg export 'HKLM\SYSTEM\CurrentControlSet\Control\Print\Environments\Windows NT x86\Print Processors\ZelPrint'
        "$zq" driver list
        for m in "${inf_models[@]}"; do
            echo "[$m (INF)]"
            # The driver's records by name and size: their bytes are the
            # settings model's, checked by its own tests.
            "$zq" data list "$m (INF)" |
                sed -E 's/^((CurrentDefaultDevMode|CurrentDevmode|DefDrvCfgData)\tbinary\t[0-9]+)\t.*/\1/'
            "$zq" printer show "$m (INF)" | grep -E '^(processor|datatype|attributes):'
        done
        echo "[pclrend.ini]"
        grep -n '^Language=' "$ZQ_ROOT/c/windows/pclrend.ini"
        for l in "$links"/*.LNK; do
            echo "[${l##*/}]"
            lnkinfo "$l" | grep -E '^\s*(Local path|Command line arguments|Working directory)\s*:' | sed 's/^\s*//'
        done
    } | tr -d '\r'
}
trace=$ZQ_ROOT/c/windows/system32/instrec/trace.log
media=$ZQ_ROOT/d
mkdir -p "$media" "$out/install"
cp "$here/postinst/res/zelquor.inf" "$tree/lib/pclrend.so" "$tree/lib/drvui.so" "$tree/lib/dlgui.so" "$tree/lib/dlgres.so" \
    "$here/settings/res/pclrend.ini" "$media/"
cp "$here/settings/res/pclrend.ini" "$out/install/pclrend.ini"
# The uninstaller's archive carries the install engine as Install\Engine.dll.
rm -rf "$out/install/uninst" && mkdir -p "$out/install/uninst/Install"
cp "$tree/lib/Engine.so" "$out/install/uninst/Install/Engine.dll"
(cd "$out/install/uninst" && TZ=UTC zip -q -X -r "$media/uninst.zip" Install)
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
        rm -f "$ZQ_ROOT/c/postinst.log" "$trace"
        code=0
        "$zq" install 'D:\zelquor.inf' --model "$m" --printer "$m (INF)" > "$log.out" 2>&1 || code=$?
        tr -d '\r' < "$ZQ_ROOT/c/postinst.log" > "$log" 2>/dev/null || true
        cp "$trace" "$log.trace" 2>/dev/null || : > "$log.trace"
        files=$(grep -c 'wrote file' "$log" || true)
        values=$("$zq" reg export 'HKLM\SOFTWARE\Zelquor' | grep -c '^"' || true)
        bad=$(grep -c 'Error parsing command' "$log" || true)
        # What the finishing actions left: the driver's monitor and
        # dependent files, the printer's processor, datatype and
        # bidirectional bit, the INI entry, the link, and the trace of the
        # install engine and the install record.
        monitor=$("$zq" driver list | sed -n "/^$m\t/,/^[^ ]/s/^  monitor: //p")
        deps=$("$zq" driver list | sed -n "/^$m\t/,/^[^ ]/p" | sed -n 's/^  dependent: .*\\//p' | paste -sd, -)
        show=$("$zq" printer show "$m (INF)")
        processor=$(sed -n 's/^processor: //p' <<< "$show")/$(sed -n 's/^datatype: //p' <<< "$show")
        bidi=no; (( $(sed -n 's/^attributes: //p' <<< "$show") & 0x800 )) && bidi=yes
        ini=$(tr -d '\r' < "$ZQ_ROOT/c/windows/pclrend.ini" | sed -n "/^\[$m\]/,/^\[/s/^Language=//p")
        link=$(lnkinfo "$links/Sample documents.LNK" 2>/dev/null | sed -n 's/^\s*Local path\s*: //p')
        calls=$(sed -n 's/^\([A-Za-z]*\)(.*/\1/p' "$log.trace" | uniq -c | awk '{printf "%s%s%s", (NR>1?",":""), $2, ($1>1?"x"$1:"")}')
        printf '%-28s install %-6s exit %d, %s files recorded, %s values, %s failed lines\n' "$m" "$pass" "$code" "$files" "$values" "$bad"
        printf '%-28s   monitor %s, bidi %s, processor %s, dependent %s, ini Language=%s, link %s\n' "" \
            "$monitor" "$bidi" "$processor" "$deps" "$ini" "$link"
        printf '%-28s   trace %s\n' "" "$calls"
        [ "$code" -eq 0 ] && [ "$bad" -eq 0 ] || failed=1
        # The engine's four calls with the script, then one record per
        # logged operation and the driver; the work folder is gone.
        items=$(grep -c '^AddAnyItem(' "$log.trace" || true)
        expect="SetWorkingDirA,SetLanguageA,DoInstallA,GetErrorCode,AddAnyItem$( ((items > 1)) && echo "x$items"),AddDriverNameEx"
        [ "$calls" = "$expect" ] || { echo "run: the trace of $m is $calls, not $expect" >&2; failed=1; }
        grep -q '^DoInstallA(".*\\uninst.zip_Extracted\\Temp.isf", "", "")$' "$log.trace" || { echo "run: no Temp.isf install for $m" >&2; failed=1; }
        [ -z "$(find "$ZQ_ROOT/c" -name 'uninst.zip_Extracted')" ] || { echo "run: the uninstaller's work folder is left" >&2; failed=1; }
        [ "$monitor" = "Zelquor Language Monitor" ] && [ "$bidi" = yes ] && [ "$processor" = ZelPrint/RAW ] &&
            [ "$ini" = en_US ] && [ -n "$link" ] || { echo "run: $m is not finished as the INF asks" >&2; failed=1; }
    done
    return $failed
}
install_all first || { echo "run: installation failed; logs in $out/install" >&2; exit 1; }
# pclrend.ini is its source with CR LF line ends and one entry per model.
tr -d '\r' < "$ZQ_ROOT/c/windows/pclrend.ini" | grep -v '^Language=en_US$' | cmp -s - "$here/settings/res/pclrend.ini" &&
    [ "$(grep -c '^Language=en_US' "$ZQ_ROOT/c/windows/pclrend.ini")" -eq ${#inf_models[@]} ] ||
    { echo "run: pclrend.ini differs from its source and the INF's entries" >&2; exit 1; }
mkdir -p "$out/install/unzipped"
(cd "$out/install/unzipped" && TZ=UTC unzip -qo "$media/samples.zip")
diff -r "$out/install/unzipped" "$ZQ_ROOT/c/Program Files/Zelquor/Samples" > /dev/null || { echo "run: the samples differ from the archive" >&2; exit 1; }
install_listing > "$out/install/listing.txt"
diff -u "$here/tools/install.golden" "$out/install/listing.txt" || { echo "run: the installed root differs from tools/install.golden" >&2; exit 1; }
install_all again || { echo "run: the second installation failed" >&2; exit 1; }
install_listing | diff -u "$out/install/listing.txt" - || { echo "run: installing again changed the root" >&2; exit 1; }
# postinst on its own again: every printer is finished, so no driver is
# added again and no printer is set.
rm -f "$ZQ_ROOT/c/postinst.log"
m=${inf_models[0]}
(cd "$media" && ZQ_BIN_PATH=$tree/bin "$tree/bin/postinst" -I 'D:\zelquor.inf' -N "$m (INF)" -P LPT1:) ||
    { echo "run: postinst failed when run again" >&2; exit 1; }
again=$(grep -cE 'needs an update|writeProcessorInfo|UpdatePrinterDriver' "$ZQ_ROOT/c/postinst.log" || true)
printf '%-28s postinst again: %s driver or printer updates\n' "$m" "$again"
[ "$again" -eq 0 ] || { echo "run: running postinst again updated the driver or printer" >&2; exit 1; }

# Printing uses the drivers the installation put in place: each INF model's
# printer prints in its own default record, and its raster twin, a printer on
# the same installed driver, in the monochrome raster language.
samples=("$here"/tools/emfgen/samples/*.emf)

# The records are an application's (zq devmode set: the installed printer's
# own record with fields changed). A twin is added with its record as the
# spooler's default DEVMODE, from which its driver makes its settings, so it
# prints without one; a model's own printer, whose settings were made at
# installation, is handed its record with each job (zq print --devmode).
declare -A records
mkdir -p "$out/records"
# Font substitution is off (switch225=0): the samples' TrueType text stays
# TrueType, as the page readers judge printed text by the engine's glyphs.
app_record() {  # PRINTER FILE FIELD=VALUE...
    local printer=$1 file=$2
    shift 2
    "$zq" devmode set --printer "$printer" switch225=0 "$@" --out "$file" > /dev/null
}
devmode_args() {
    if [ -n "${variant_record:-}" ]; then printf '%s\n' --devmode "$variant_record"
    elif [ -n "${records[$1]:-}" ]; then printf '%s\n' --devmode "${records[$1]}"; fi
    return 0
}
# How each printer's record was made (the printer it came from and the
# fields changed), so that the fonts sample can print with each TrueType
# option on a record like the printer's own.
declare -A made_from made_with
variant_record=''
remember() {  # PRINTER SOURCE FIELD=VALUE...
    made_from[$1]=$2
    made_with[$1]="${*:3}"
}
printers=()
xl_printers=()
gl_printers=()
nup_printers=()
colour_raster_printers=()
for m in "${inf_models[@]}"; do
    model="$m (INF)"
    # The raster twin: the model's record in the monochrome raster language
    # writing the PCL job (not the spool stream).
    raster="$m raster"
    app_record "$model" "$out/records/${raster// /-}.bin" printerLanguage=0 metaSpool=0 dmColor=1
    remember "$raster" "$model" printerLanguage=0 metaSpool=0 dmColor=1
    "$zq" printer add "$raster" --driver "$m" --devmode "$out/records/${raster// /-}.bin" > /dev/null
    printers+=("$raster")
    # A model of the PCL XL line also prints in its own language, and so
    # does one of the PCL 5 line (PCL 5 with HP-GL/2).
    own=$("$zq" devmode current --printer "$model" | awk '$2 == "printerLanguage" { print $3 }')
    if [ "$own" = 2 ] || [ "$own" = 1 ]; then
        records[$model]=$out/records/${model// /-}.bin
        app_record "$model" "${records[$model]}" metaSpool=0
        remember "$model" "$model" metaSpool=0
        printers+=("$model")
        if [ "$own" = 2 ]; then xl_printers+=("$model"); else gl_printers+=("$model"); fi
    fi
    # A model of the PCL 5 line has 2-up and 4-up twins in its own language:
    # the enable rules send monochrome n-up sheets to PCL 5 with HP-GL/2.
    if [ "$own" = 1 ]; then
        for n in 2 4; do
            twin="$m $n-up"
            # pagesPerSheet holds a code: 1 for two pages a sheet, 3 for four.
            app_record "$model" "$out/records/${twin// /-}.bin" metaSpool=0 pagesPerSheet=$((n - 1))
            "$zq" printer add "$twin" --driver "$m" --devmode "$out/records/${twin// /-}.bin" > /dev/null
            nup_printers+=("$twin")
        done
    fi
    # The colour model also prints as colour raster (language 5), judged by
    # screening its reference with the printer's screen.
    if [[ "$m" == *"Corvo C30"* ]]; then
        printer="$m colour raster"
        app_record "$model" "$out/records/${printer// /-}.bin" metaSpool=0 printerLanguage=5 dmColor=2
        remember "$printer" "$model" metaSpool=0 printerLanguage=5 dmColor=2
        "$zq" printer add "$printer" --driver "$m" --devmode "$out/records/${printer// /-}.bin" > /dev/null
        printers+=("$printer")
        colour_raster_printers+=("$printer")
    fi
done
# The colour model prints in colour too: a twin in PCL 5 raster of colour bands, and
# twins in PCL 5 with HP-GL/2 (with and without the colour image path) and in PCL XL.
colour_model="Zelquor Corvo C30 Finishing"
if [[ " ${inf_models[*]} " == *" $colour_model "* ]]; then
    for variant in "colour PCL raster:0" "colour PCL 5:1" "colour PCL XL:2"; do
        printer="$colour_model ${variant%%:*}"
        language=${variant#*:}
        app_record "$colour_model (INF)" "$out/records/${printer// /-}.bin" metaSpool=0 printerLanguage="$language" dmColor=2
        remember "$printer" "$colour_model (INF)" metaSpool=0 printerLanguage="$language" dmColor=2
        "$zq" printer add "$printer" --driver "$colour_model" --devmode "$out/records/${printer// /-}.bin" > /dev/null
        printers+=("$printer")
        [ "$language" = 1 ] && gl_printers+=("$printer")
        [ "$language" = 2 ] && xl_printers+=("$printer")
    done
    # The Corvo C30 sends the images of its colour PCL 5 one-bit; the Corvo
    # C30 Photo, a driver of the same files standing for the model with the
    # colour image path, sends them in colour, scaled by the printer.
    photo="Zelquor Corvo C30 Photo"
    "$zq" driver add "$photo" --driver-file pclrend.dll --data-file drvui.dll --config-file drvui.dll > /dev/null
    "$zq" printer add "$photo" --driver "$photo" > /dev/null
    printer="$photo colour PCL 5"
    app_record "$photo" "$out/records/${printer// /-}.bin" metaSpool=0 printerLanguage=1 dmColor=2
    remember "$printer" "$photo" metaSpool=0 printerLanguage=1 dmColor=2
    "$zq" printer add "$printer" --driver "$photo" --devmode "$out/records/${printer// /-}.bin" > /dev/null
    printers+=("$printer")
    gl_printers+=("$printer")
fi
# Host finishing on the first model: the spool stream of n-up, a booklet and
# duplex by hand, and the stream as the printer's own language.
stream_printers=()
m=${inf_models[0]}
for variant in "n-up:printerLanguage=0 metaSpool=1 pagesPerSheet=2" "booklet:printerLanguage=0 metaSpool=1 option1081=1" \
    "duplex:printerLanguage=0 metaSpool=1 dmDuplex=2" "stream:printerLanguage=4 metaSpool=1"; do
    printer="$m host ${variant%%:*}"
    read -ra fields <<< "${variant#*:}"
    app_record "$m (INF)" "$out/records/${printer// /-}.bin" "${fields[@]}"
    "$zq" printer add "$printer" --driver "$m" --devmode "$out/records/${printer// /-}.bin" > /dev/null
    stream_printers+=("$printer")
done

gpcl6=${ZQ_GPCL6:-$here/../shared/tools/gpcl6}
now() { date +%s.%N; }
status=0
# print_sample PRINTER SAMPLE JOB REFERENCE: prints with `zq print` into $dir,
# setting `seconds` and `bytes`; on failure says so, marks the run failed
# and returns 1.
print_sample() {
    local name=${5:-$(basename "$2" .emf)} start
    start=$(now)
    mapfile -t dmargs < <(devmode_args "$1")
    if ! "$zq" print "$2" --printer "$1" "${dmargs[@]}" --out "$3" --png "$4" > "$dir/$name-print.txt" 2>&1; then
        printf '%-28s %-10s %s\n' "$1" "$name" "print failed: $(tail -1 "$dir/$name-print.txt")"
        status=1
        return 1
    fi
    seconds=$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')
    bytes=$(stat -c %s "$3")
}
# judge_sample PRINTER SAMPLE NAME LABEL: prints a sample into $dir as NAME
# and judges it as its printer's language asks, one line per page.
judge_sample() {
    local printer=$1 sample=$2 name=$3 label=$4
    print_sample "$printer" "$sample" "$dir/$name.pcl" "$dir/$name-reference.png" "$name" || return 0
    # A colour twin's page as the outside interpreter prints it in
    # colour, beside the reference (the colour raster language is the
    # vendor's own: the interpreter does not read it).
    if [[ "$printer" == *"colour PCL"* ]] && [ -x "$gpcl6" ]; then
        "$gpcl6" -q -dNOPAUSE -dBATCH -sDEVICE=png16m -r"$(sed -n 's/^page 1: .* at \([0-9]*\) dpi$/\1/p' "$dir/$name-print.txt")" \
            -sOutputFile="$dir/$name-printed-colour-%d.png" "$dir/$name.pcl" > /dev/null 2>&1 || true
    fi
    # pclread fails on pages that differ too: those are reported below,
    # while a job it cannot read or a form fault fails the run. A PCL XL
    # job is a whole sheet: the reference lies at the printable corner
    # (where zq print placed the page), and the outside
    # interpreter's sheet, when it is at hand, is judged beside it.
    # A PCL 5 job with HP-GL/2 is judged by the outside interpreter: its
    # sheet against the reference at the printable corner, ink for ink.
    if [[ " ${gl_printers[*]} " == *" $printer "* ]]; then
        dpi=$(sed -n 's/^page 1: .* at \([0-9]*\) dpi$/\1/p' "$dir/$name-print.txt")
        verdict="printed; no outside interpreter at $gpcl6, not judged"
        # The reader decodes the job (a form fault fails the run) and
        # writes the copy a general interpreter prints: the printer's own
        # flat greys (FT9, SV9) as dithered raster fills of the same darkness.
        "$pclread" "$dir/$name.pcl" --png-prefix "$dir/$name-decoded" --as-shading "$dir/$name-general.pcl" \
            > "$dir/$name-read.txt" 2>&1 || true
        grep -q ', 0 form faults$' "$dir/$name-read.txt" || { status=1; head -3 "$dir/$name-read.txt"; }
        if [ -x "$gpcl6" ]; then
            rm -f "$dir/$name-printed-"*.pgm
            # Colours become grey by the weights the reference is read
            # with (no colour management in the interpreter, whose
            # conversion through linear light makes every saturated
            # colour lighter), so that a colour page is judged by where
            # its ink lies, not by two ways of making grey.
            "$gpcl6" -q -dNOPAUSE -dBATCH -dUseFastColor=true -sDEVICE=pgmraw -r"$dpi" \
                -sOutputFile="$dir/$name-printed-%d.pgm" "$dir/$name-general.pcl" > /dev/null 2>&1 || true
            # The interpreter puts every HP-GL/2 coordinate one pixel up
            # and left of the pixel edge the engine fills from (pixel
            # placement 1, as the set-up string selects): the reference
            # is placed one pixel up and left to meet its fills; its
            # strokes it centres as the engine does, so its ink may lie a
            # pixel further right and down (--lean 1). The reader's marked
            # areas hold the printer's least-width pens to their width and
            # leave its cross-hatches (the interpreter's own pattern) out.
            placed=$(sed -n 's/^page 1: .* placed at \([0-9]*,[0-9]*\) .*/\1/p' "$dir/$name-print.txt")
            verdict=$("$pagejudge" "$dir/$name-printed-1.pgm" --dpi "$dpi" \
                --offset "$((${placed%,*} - 1)),$((${placed#*,} - 1))" \
                --tone "$dir/$name-reference.png" --areas "$dir/$name-read.txt" --lean 1 2>&1 | tr '\n' ' ' | sed 's/ $//' || true)
            # Differences are reported; a sheet the interpreter did not print fails the run.
            [ -e "$dir/$name-printed-1.pgm" ] || status=1
        fi
        printf '%-28s %-10s %-16s %10s %8.2f  gpcl6 %s\n' "$printer" "$label" "1" "$bytes" "$seconds" "$verdict"
        return 0
    fi
    xlargs=()
    if [[ " ${xl_printers[*]} " == *" $printer "* ]]; then
        dpi=$(sed -n 's/^page 1: .* at \([0-9]*\) dpi$/\1/p' "$dir/$name-print.txt")
        xlargs=(--offset "$(sed -n 's/^page 1: .* placed at \([0-9]*,[0-9]*\) .*/\1/p' "$dir/$name-print.txt")")
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
    # A monochrome raster job on the outside interpreter too, when it is
    # at hand: its sheet against the reference at the printable corner,
    # ink for ink (a sheet it did not print fails the run).
    local outside=""
    if [ ${#xlargs[@]} -eq 0 ] && [[ "$printer" != *colour* ]] && [ -x "$gpcl6" ]; then
        dpi=$(sed -n 's/^page 1: .* at \([0-9]*\) dpi$/\1/p' "$dir/$name-print.txt")
        rm -f "$dir/$name-printed-"*.pgm
        "$gpcl6" -q -dNOPAUSE -dBATCH -sDEVICE=pgmraw -r"$dpi" -sOutputFile="$dir/$name-printed-%d.pgm" \
            "$dir/$name.pcl" > /dev/null 2>&1 || true
        [ -e "$dir/$name-printed-1.pgm" ] || status=1
        outside="; gpcl6 $("$pagejudge" "$dir/$name-printed-1.pgm" --dpi "$dpi" \
            --offset "$(sed -n 's/^page 1: .* placed at \([0-9]*,[0-9]*\) .*/\1/p' "$dir/$name-print.txt")" \
            --reference "$dir/$name-reference.png" 2>&1 | tr '\n' ' ' | sed 's/ $//' || true)"
    fi
    # One line per decoded page: "page N: WxH, B black, <comparison>, file".
    sed -n 's/^page \([0-9]*\): \([0-9x]*\), [0-9]* black, \([^,]*\).*/\1 \2 \3/p' "$dir/$name-read.txt" |
        while read -r n size verdict; do
            printf '%-28s %-10s %-16s %10s %8.2f  %s\n' "$printer" "$label" "$n: $size" "$bytes" "$seconds" \
                "$verdict$outside"
        done
}
printf '%-28s %-10s %-16s %10s %8s  %s\n' printer sample page "job bytes" seconds "decoded against reference"
for printer in "${printers[@]}"; do
    dir=$out/${printer// /-}
    mkdir -p "$dir"
    for sample in "${samples[@]}"; do
        name=$(basename "$sample" .emf)
        judge_sample "$printer" "$sample" "$name" "$name"
    done
done
# The fonts sample again with each TrueType option on a record like the
# printer's own, its faces in all six symbol sets: downloaded (4: outlines where the model offers them, else
# the model's own choice), substituted by the printer's faces (switch225=1),
# and as bitmap soft fonts (2; a model that forbids them keeps 1, the
# engine's glyphs as graphics). The reader judges a page with text drawn
# from fonts by the text tolerance around its glyphs, a colour twin's page
# colour for colour.
echo
printf '%-28s %-10s %-16s %10s %8s  %s\n' printer "fonts as" page "job bytes" seconds "decoded against reference"
fonts_sample=$here/tools/emfgen/samples/fonts.emf
for printer in "${printers[@]}"; do
    dir=$out/${printer// /-}
    for variant in "download:dmTTOption=4" "substitute:switch225=1" "bitmap:dmTTOption=2"; do
        how=${variant%%:*}
        variant_record=$out/records/${printer// /-}-fonts-$how.bin
        read -ra fields <<< "${made_with[$printer]}"
        # The printer's faces in all six symbol sets (fontSets1).
        app_record "${made_from[$printer]}" "$variant_record" "${fields[@]}" fontSets1=255 "${variant#*:}"
        judge_sample "$printer" "$fonts_sample" "fonts-$how" "fonts/$how"
        variant_record=''
    done
done
# The 2-up and 4-up twins print every sample as the pages of one document:
# the reader decodes the sheets (a form fault fails the run) beside the
# reference pages, and the outside interpreter must print every sheet.
echo
printf '%-28s %-10s %-16s %10s %8s  %s\n' printer document sheets "job bytes" seconds "decoded and printed"
for printer in "${nup_printers[@]}"; do
    dir=$out/${printer// /-}
    mkdir -p "$dir"
    per=${printer##* }
    per=${per%-up}
    start=$(now)
    mapfile -t dmargs < <(devmode_args "$printer")
    if ! "$zq" print "${samples[@]}" --printer "$printer" "${dmargs[@]}" --out "$dir/samples.pcl" \
        --png "$dir/samples-reference-%d.png" > "$dir/samples-print.txt" 2>&1; then
        printf '%-28s %-10s %s\n' "$printer" samples "print failed: $(tail -1 "$dir/samples-print.txt")"
        status=1
        continue
    fi
    seconds=$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')
    bytes=$(stat -c %s "$dir/samples.pcl")
    sheets=$(( (${#samples[@]} + per - 1) / per ))
    "$pclread" "$dir/samples.pcl" --png-prefix "$dir/samples-decoded" --as-shading "$dir/samples-general.pcl" \
        > "$dir/samples-read.txt" 2>&1 || true
    grep -q ', 0 form faults$' "$dir/samples-read.txt" || { status=1; head -3 "$dir/samples-read.txt"; }
    decoded=$(grep -c '^page [0-9]*:' "$dir/samples-read.txt" || true)
    verdict="reader $decoded sheets"
    [ "$decoded" -eq "$sheets" ] || status=1
    if [ -x "$gpcl6" ]; then
        dpi=$(sed -n 's/^page 1: .* at \([0-9]*\) dpi$/\1/p' "$dir/samples-print.txt")
        rm -f "$dir/samples-printed-"*.pgm
        "$gpcl6" -q -dNOPAUSE -dBATCH -sDEVICE=pgmraw -r"$dpi" -sOutputFile="$dir/samples-printed-%d.pgm" \
            "$dir/samples-general.pcl" > /dev/null 2>&1 || true
        printed=$(find "$dir" -name 'samples-printed-*.pgm' | wc -l)
        verdict="$verdict, gpcl6 $printed sheets"
        [ "$printed" -eq "$sheets" ] || status=1
    fi
    printf '%-28s %-10s %-16s %10s %8.2f  %s\n' "$printer" samples "${#samples[@]} on $sheets" "$bytes" "$seconds" "$verdict"
done

# The host-finishing printers write the spool stream: each job is walked as
# the finishing library walks it (a refused stream fails the run) and its
# pages are replayed with the engine beside the reference render, judged as
# the stream print tests judge them: grey levels pixel for pixel (an edge
# moved by a pixel is told apart), text in a logical font glyph by glyph.
echo
printf '%-28s %-10s %-16s %10s %8s  %s\n' printer sample page "job bytes" seconds "replayed against reference"
for printer in "${stream_printers[@]}"; do
    dir=$out/${printer// /-}
    mkdir -p "$dir"
    for sample in "${samples[@]}"; do
        name=$(basename "$sample" .emf)
        print_sample "$printer" "$sample" "$dir/$name.vemf" "$dir/$name-reference-%d.png" || continue
        mkdir -p "$dir/$name-replayed"
        if ! "$vemfread" "$dir/$name.vemf" --png "$dir/$name-replayed" --reference "$dir/$name-reference-%d.png" \
            > "$dir/$name-read.txt" 2>&1; then
            printf '%-28s %-10s %s\n' "$printer" "$name" "stream refused: $(tail -1 "$dir/$name-read.txt")"
            status=1
            continue
        fi
        # One line per page: "page N: WxH, file, comparison".
        sed -n 's/^page \([0-9]*\): \([0-9x]*\), [^,]*, \(.*\)/\1 \2 \3/p' "$dir/$name-read.txt" |
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
    # The corpus judge reads monochrome raster PCL 5 sheets (not the colour
    # twins, nor the colour raster's vendor commands).
    [[ " ${xl_printers[*]} ${gl_printers[*]} ${colour_raster_printers[*]} " == *" $printer "* ]] && continue
    [[ "$printer" == *colour* ]] && continue
    dir=$out/${printer// /-}/corpus
    mkdir -p "$dir"
    files=()
    for p in "${pages[@]}"; do files+=("$corpus/emf/$p"); done
    mapfile -t dmargs < <(devmode_args "$printer")
    if ! "$zq" print "${files[@]}" --printer "$printer" "${dmargs[@]}" --out "$dir/corpus.pcl" --png "$dir/reference-%d.png" \
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
# One document with a watermark and account tracking on the first model's
# raster twin. The watermark comes into the printer's list as a configuration
# tag list brings it (its watermark row: name, text, face, 40 points, bold,
# 30 degrees, black 60 % lighter) and the application's record chooses it
# for every page, under the page. The first page's account step asks the
# dialog library beside the driver, which answers the id last chosen for the
# printer; the job's PJL header carries it with the computer and the user.
# The decoded page is judged against the reference render (the watermark is
# drawn on the page, so the reference has it too) and, when the outside
# interpreter is at hand, its sheet too; the watermark's ink is the decoded
# page's black beyond the same sample's on the twin.
echo
acct="${inf_models[0]} raster"
dir=$out/account
mkdir -p "$dir"
"$zq" reg import /dev/stdin > /dev/null <<REG
REGEDIT4

[HKEY_CURRENT_USER\Software\Zelquor\Printers\\$acct]
"Current Account ID"="4711"
REG
python3 - "$dir/watermark.taglist" <<'PY'
import struct, sys
def el(tag, data): return struct.pack('<II', tag, 8 + len(data)) + data
v = lambda n: struct.pack('<I', n)
mark = (el(1, b'Zelquor draft') + el(2, b'ZELQUOR DRAFT') + el(3, b'Liberation Sans') + el(4, v(40)) +
        el(5, v(3)) + el(7, v(30)) + el(8, v(0)) + el(9, v(60)))
open(sys.argv[1], 'wb').write(el(288, el(65536, mark)))
PY
"$zq" taglist import --printer "$acct" "$dir/watermark.taglist" --scope 4 > /dev/null
mark=$("$zq" records show "$acct" Watermark | sed -n "s/^record [0-9]* at [0-9]*: id=\([0-9]*\) name='Zelquor draft'.*/\1/p")
if [ -z "$mark" ]; then
    printf '%-28s %s\n' "$acct" "watermark document: the watermark was not stored"
    status=1
else
    app_record "$acct" "$dir/account.bin" accountTracking=1 watermarkId1="$mark" watermarkId2="$mark" watermarkFlag=1 \
        watermarkPlacement=0
    name=$(basename "${samples[0]}" .emf)
    if ! "$zq" print "${samples[0]}" --printer "$acct" --devmode "$dir/account.bin" --out "$dir/job.pcl" \
        --png "$dir/reference.png" > "$dir/print.txt" 2>&1; then
        printf '%-28s %s\n' "$acct" "watermark and account document failed: $(tail -1 "$dir/print.txt")"
        status=1
    else
        if line=$(grep -a '^@PJL VJOBINFO ACCOUNTNUMBER = "4711" USERID = "[^"]*" HOSTID = "[^"]*"' "$dir/job.pcl" | tr -d '\r'); then
            printf '%-28s %s\n' "$acct" "account document: $line"
        else
            printf '%-28s %s\n' "$acct" "account document: no account line in the PJL header"
            status=1
        fi
        "$pclread" "$dir/job.pcl" --png-prefix "$dir/decoded" --reference "$dir/reference.png" > "$dir/read.txt" 2>&1 || true
        grep -q ', 0 form faults$' "$dir/read.txt" || { status=1; head -3 "$dir/read.txt"; }
        black=$(sed -n 's/^page 1: [0-9x]*, \([0-9]*\) black, .*/\1/p' "$dir/read.txt")
        plain=$(sed -n 's/^page 1: [0-9x]*, \([0-9]*\) black, .*/\1/p' "$out/${acct// /-}/$name-read.txt")
        verdict=$(sed -n 's/^page 1: [0-9x]*, [0-9]* black, \([^,]*\).*/\1/p' "$dir/read.txt")
        printed="no outside interpreter at $gpcl6, not judged"
        if [ -x "$gpcl6" ]; then
            dpi=$(sed -n 's/^page 1: .* at \([0-9]*\) dpi$/\1/p' "$dir/print.txt")
            rm -f "$dir/printed-"*.pgm
            "$gpcl6" -q -dNOPAUSE -dBATCH -sDEVICE=pgmraw -r"$dpi" -sOutputFile="$dir/printed-%d.pgm" "$dir/job.pcl" \
                > /dev/null 2>&1 || true
            printed=$("$pagejudge" "$dir/printed-1.pgm" --dpi "$dpi" \
                --offset "$(sed -n 's/^page 1: .* placed at \([0-9]*,[0-9]*\) .*/\1/p' "$dir/print.txt")" \
                --reference "$dir/reference.png" 2>&1 | tr '\n' ' ' | sed 's/ $//' || true)
            [ -e "$dir/printed-1.pgm" ] || status=1
        fi
        ink=$(( ${black:-0} - ${plain:-0} ))
        printf '%-28s %s\n' "$acct" "watermark document: $((ink > 0 ? ink : 0)) pixels of watermark ink; decoded $verdict; gpcl6 $printed"
        [ "$ink" -gt 0 ] || status=1
    fi
fi
echo "jobs, decoded pages and reference renders are in $out"
exit $status
