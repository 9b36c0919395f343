#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a bounded time each,
# starting from its committed seeds. A crash fails the run.
set -euo pipefail
tree=$1
seconds=${2:-5}
list="$tree/fuzzers.txt"
[[ -f $list ]] || { echo "no fuzz targets"; exit 0; }
status=0
while read -r name corpus; do
  [[ -n $name ]] || continue
  work=$(mktemp -d)
  seeds=()
  [[ -d $corpus ]] && seeds=("$corpus")
  echo "fuzz: $name (${seconds}s)"
  if ! (cd "$work" && "$OLDPWD/$tree/bin/$name" -max_total_time="$seconds" -print_final_stats=0 \
          -rss_limit_mb=2048 "$work" "${seeds[@]}" >"$work/log" 2>&1); then
    echo "fuzz target $name failed:"; tail -50 "$work/log"; status=1
    cp -r "$work" "$tree/failed-$name" || true
  fi
  rm -rf "$work"
done <"$list"
exit $status
