#!/usr/bin/env bash
# Runs the fuzz targets for a long while each and prints one table row per
# target: executions, executions per second, coverage, corpus and outcome.
#
#   scripts/fuzz-long.sh [-s SECONDS] [-j JOBS] [-b BUILD_DIR] [TARGET...]
#
# SECONDS defaults to 600 and JOBS (targets run at once) to 1; the targets
# default to every fuzz_* program in BUILD_DIR/bin (build-fuzz). Each run's
# whole log is kept in BUILD_DIR/long-run/<target>.log, and a crash or a
# broken property leaves its input in BUILD_DIR/artifacts/.
set -euo pipefail

seconds=600
jobs=1
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$source_dir/build-fuzz
while getopts "s:j:b:" option; do
  case $option in
    s) seconds=$OPTARG ;;
    j) jobs=$OPTARG ;;
    b) build_dir=$(cd "$OPTARG" && pwd) ;;
    *) sed -n '2,10p' "$0" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))

if [[ $# -eq 0 ]]; then
  set -- $(cd "$build_dir/bin" && ls fuzz_* | grep -v '^fuzz_make_seeds$' | sed 's/^fuzz_//')
fi
logs=$build_dir/long-run
mkdir -p "$logs" "$build_dir/artifacts"

run_one() {
  local parser=$1 arguments=()
  local dictionary=$source_dir/fuzz/dictionaries/$parser.dict
  local seeds=$source_dir/fuzz/seeds/$parser
  [[ -f $dictionary ]] && arguments+=("-dict=$dictionary")
  mkdir -p "$build_dir/corpus/$parser"
  arguments+=("$build_dir/corpus/$parser")
  [[ -d $seeds ]] && arguments+=("$seeds")
  set +e
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-16/bin/llvm-symbolizer \
    "$build_dir/bin/fuzz_$parser" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build_dir/artifacts/$parser-" "${arguments[@]}" \
    > "$logs/$parser.log" 2>&1
  echo $? > "$logs/$parser.rc"
}
export -f run_one
export seconds source_dir build_dir logs

printf '%s\n' "$@" | xargs -P "$jobs" -I{} bash -c 'run_one {}'

echo "| Target | Seconds | Executions | Exec/s | Coverage (edges) | Features | Corpus | Outcome |"
echo "|---|---|---|---|---|---|---|---|"
status=0
for parser in "$@"; do
  log=$logs/$parser.log
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true)
  executions=$(grep -oP 'stat::number_of_executed_units: *\K[0-9]+' "$log" || echo "?")
  speed=$(grep -oP 'stat::average_exec_per_sec: *\K[0-9]+' "$log" || echo "?")
  coverage=$(grep -oP 'cov: \K[0-9]+' <<< "$done_line" || echo "?")
  features=$(grep -oP 'ft: \K[0-9]+' <<< "$done_line" || echo "?")
  corpus=$(grep -oP 'corp: \K[0-9]+/[0-9]+[a-zA-Z]*' <<< "$done_line" || echo "?")
  if [[ $(cat "$logs/$parser.rc") == 0 ]]; then
    outcome="no fault"
  else
    outcome="FAULT: $(grep -m1 -oE 'property broken: .*|ERROR: [A-Za-z]+: [^ ]+( [^ ]+)?|deadly signal|timeout' "$log" || echo "exit $(cat "$logs/$parser.rc")")"
    status=1
  fi
  echo "| \`fuzz_$parser\` | $seconds | $executions | $speed | $coverage | $features | $corpus | $outcome |"
done
exit $status
