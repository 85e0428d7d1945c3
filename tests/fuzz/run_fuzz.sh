#!/bin/sh
# Runs one libFuzzer target of build-fuzz under the decode budget's bounds: an input that
# takes more than 512 MiB or 5 seconds is a finding. New inputs go to a scratch corpus
# beside the checked-in seeds, findings to DIR/findings.
#
#   tests/fuzz/run_fuzz.sh TARGET CORPUS SECONDS DIR     e.g. fuzz_pict pict 1800 /tmp/fz
set -eu
target=$1 corpus=$2 seconds=$3 dir=$4
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$dir/corpus-$corpus" "$dir/findings"
# System libraries' one-time allocations (fontconfig's cache) are no finding.
export LSAN_OPTIONS="suppressions=$here/../sanitizer/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
exec nice -n 19 "$here/../../build-fuzz/bin/$target" -rss_limit_mb=512 -timeout=5 \
  -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$dir/findings/$target-" \
  "$dir/corpus-$corpus" "$here/corpus/$corpus"
