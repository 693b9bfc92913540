#!/usr/bin/env bash
# Runs every fuzzing harness for SECONDS each (default 60), two at a time, from its seeds in
# fuzz/corpus/ and what earlier runs found (build/fuzz/corpus/), with its dictionary.
# Builds them first (scripts/build.sh fuzz). A crash, leak, hang or undefined behaviour
# leaves its input in build/fuzz/findings/ and fails the script.
#   fuzz.sh [SECONDS] [HARNESS...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] ||
  harnesses=(import_record info_json stored_values db_url acl serve_request)
"$root/scripts/build.sh" fuzz >/dev/null
dict_of() {
  case "$1" in
    serve_request) echo http ;;
    db_url) echo url ;;
    stored_values) echo "" ;;
    *) echo json ;;
  esac
}
out=$root/build/fuzz/findings
mkdir -p "$out"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run() {
  local h=$1 dict seeds=$root/fuzz/corpus/$1 corpus=$root/build/fuzz/corpus/$1 log=$out/$1.log
  dict=$(dict_of "$h")
  local args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096
              -artifact_prefix="$out/$h-" -print_final_stats=1)
  [ -z "$dict" ] || args+=(-dict="$root/fuzz/dict/$dict.dict")
  mkdir -p "$corpus"
  if "$root/build/fuzz/bin/fuzz_$h" "${args[@]}" "$corpus" "$seeds" >"$log" 2>&1; then
    printf '%-14s %s\n' "$h" "$(grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)' "$log" |
      sed 's/stat:://' | tr '\n' ' ') $(grep -oE 'cov: [0-9]+' "$log" | tail -1)"
  else
    echo "$h: FAILED, see $log"; tail -30 "$log"; return 1
  fi
}
status=0
pids=()
for h in "${harnesses[@]}"; do
  run "$h" & pids+=($!)
  if [ ${#pids[@]} -ge 2 ]; then wait "${pids[0]}" || status=1; pids=("${pids[@]:1}"); fi
done
for p in "${pids[@]}"; do wait "$p" || status=1; done
exit $status
