#!/usr/bin/env bash
# The package's main job, run by `make run` on a release build.
set -euo pipefail
tree=${1:-build/release}
export ZQ_ROOT=${ZQ_ROOT:-$PWD/out/zqroot}
mkdir -p "$ZQ_ROOT"
"$tree/bin/zq" modules --dir "$tree/lib"
