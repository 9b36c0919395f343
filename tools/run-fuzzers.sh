#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a bounded time each,
# starting from its committed seeds. A crash fails the run.
#
# A committed corpus is read whole before fuzzing starts, so keep it small
# enough to load in well under a second: minimise it by edges alone and
# leave out inputs that take more than about 20 ms unless they alone reach
# an edge, e.g.
#   mkdir new && cp <seeds> new/
#   bin/<target> -merge=1 -use_counters=0 new <fast-inputs>/   # then <slow-inputs>/
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
  if ! (cd "$work" && "$OLDPWD/$tree/bin/$name" -max_total_time="$seconds" -print_final_stats=1 \
          -rss_limit_mb=2048 "$work" "${seeds[@]}" >"$work/log" 2>&1); then
    echo "fuzz: $name (${seconds}s) failed:"; tail -50 "$work/log"; status=1
    cp -r "$work" "$tree/failed-$name" || true
  else
    # The rate and the coverage reached, so that a target grown slow shows.
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/log")
    cov=$(grep -o 'cov: [0-9]*' "$work/log" | tail -1 | cut -d' ' -f2)
    echo "fuzz: $name (${seconds}s): ${rate:-?} inputs/s, ${cov:-?} edges covered"
  fi
  rm -rf "$work"
done <"$list"
exit $status
