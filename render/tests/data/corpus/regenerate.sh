#!/usr/bin/env bash
# Regenerates the corpus of documents made by programs this project did not
# write. Each source in src/ (SVG; photo.svg is written by photo.py) becomes
#   emf/NAME-inkscape.emf  the vector editor's EMF export of the SVG
#   emf/NAME-office.emf    the office suite's EMF export of the SVG drawn to PDF
#                          by the SVG rasteriser's PDF output, imported in its
#                          drawing program
#   expected/NAME.png      the page as the SVG rasteriser draws it, 150 dpi grey
# and pages.txt lists each EMF with its expected page. The sources keep their
# bottom corner marks 12 mm above the edge: the office suite's PDF import
# drops the last 10 mm of the page. Needs inkscape,
# soffice (libreoffice-draw) and rsvg-convert (librsvg2-bin); the tests and
# CI need only the committed results.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
for tool in inkscape soffice rsvg-convert python3; do
    command -v "$tool" > /dev/null || { echo "regenerate: $tool is missing" >&2; exit 1; }
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
(cd "$here/src" && python3 photo.py)
mkdir -p "$here/emf" "$here/expected"
: > "$here/pages.txt.new"
for svg in "$here"/src/*.svg; do
    name=$(basename "$svg" .svg)
    inkscape --export-type=emf --export-filename="$here/emf/$name-inkscape.emf" "$svg" 2> /dev/null
    rsvg-convert -f pdf -o "$tmp/$name.pdf" "$svg"
    soffice --headless -env:UserInstallation=file://"$tmp/office" --convert-to emf --outdir "$tmp" "$tmp/$name.pdf" > /dev/null
    mv "$tmp/$name.emf" "$here/emf/$name-office.emf"
    rsvg-convert --dpi-x 150 --dpi-y 150 --background-color white -o "$tmp/$name.png" "$svg"
    python3 "$here/grey.py" "$tmp/$name.png" "$here/expected/$name.png"
    printf '%s-inkscape.emf %s.png\n%s-office.emf %s.png\n' "$name" "$name" "$name" "$name" >> "$here/pages.txt.new"
done
mv "$here/pages.txt.new" "$here/pages.txt"
echo "corpus regenerated in $here"
