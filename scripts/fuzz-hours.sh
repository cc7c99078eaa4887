#!/usr/bin/env bash
# Long fuzz runs of every libFuzzer target in the native-fuzz build (clang's
# address, undefined and bounds sanitizers), until each has run its hour in
# total, counted across sessions.
#
#   scripts/fuzz-hours.sh start [LANES] [TARGET...]
#                                        run in the background, LANES targets
#                                        at a time (default 2, at most the CPU count),
#                                        over the TARGETs named (default all)
#   scripts/fuzz-hours.sh stop           interrupt the running targets (their
#                                        time so far is logged) and the lanes
#   scripts/fuzz-hours.sh status         time, execs and coverage per target
#
# Every run appends one line to the log (FUZZ_HOURS_LOG, default
# /work/notes/fuzz-hours.log; never truncated): start time, target, seconds
# run, execs, coverage (cov/ft), corpus size, outcome. A target's time so far
# is the sum of its lines; a run takes only what is left of its hour. The
# runs grow a working corpus of their own under build/fuzz-runs/TARGET (the
# committed seed corpus is read, never written); a crash leaves its input
# there as crash-*/leak-*/timeout-*/oom-*. FUZZ_HOURS_TIMEOUT sets the time one
# input may take (default 25 s; raise it on a loaded machine).
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/native-fuzz
runs=$root/build/fuzz-runs
log=${FUZZ_HOURS_LOG:-/work/notes/fuzz-hours.log}
hour=${FUZZ_HOURS_SECONDS:-3600}
state=$runs/.state

# The order the time goes to: the parsers that meet the most untrusted bytes
# first; every other target of the build follows in its CTest order.
priority=(mp4_fuzz_reader mp4_fuzz_rewrite aacdec_fuzz kvmetadata_fuzz_tags
  kvmetadata_fuzz_id3 sbr_payload_fuzz ps_payload_fuzz kvmetadata_fuzz_cardwell)

# target<TAB>seed corpus, for every replay test of the build.
targets() {
  ctest --test-dir "$build" -N -L fuzz --show-only=json-v1 | python3 -c '
import json, os, sys
for t in json.load(sys.stdin)["tests"]:
    cmd = t.get("command") or []
    if len(cmd) > 1:
        print(os.path.basename(cmd[0]) + "\t" + cmd[-1])
'
}

ordered() {
  local all
  all=$(targets)
  for p in "${priority[@]}"; do
    grep -P "^$p\t" <<<"$all"
  done
  grep -v -P "^($(IFS='|'; echo "${priority[*]}"))\t" <<<"$all"
}

seconds_done() {  # target
  [ -f "$log" ] || { echo 0; return; }
  awk -v t="$1" '$2 == t { for (i = 3; i <= NF; i++) if ($i ~ /^seconds=/) { sub(/seconds=/, "", $i); s += $i } }
    END { print s + 0 }' "$log"
}

# One run of one target for the rest of its hour; logs its line.
run_one() {  # target seed
  local t=$1 seed=$2 left dir out start end pid rc outcome last execs cov ft corp
  left=$(( hour - $(seconds_done "$t") ))
  [ "$left" -gt 0 ] || return 0
  if [ -n "${FUZZ_HOURS_SLICE:-}" ] && [ "$FUZZ_HOURS_SLICE" -lt "$left" ]; then left=$FUZZ_HOURS_SLICE; fi
  dir=$runs/$t
  mkdir -p "$dir/corpus"
  # A copy of the program: the build may relink it while it runs.
  cp "$build/bin/$t" "$dir/$t"
  start=$(date +%s)
  out=$dir/run-$(date -u +%Y%m%dT%H%M%S).log
  ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:allocator_may_return_null=1 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    nice -n 10 "$dir/$t" -max_total_time="$left" -rss_limit_mb=2048 -timeout="${FUZZ_HOURS_TIMEOUT:-25}" \
      -print_final_stats=1 -artifact_prefix="$dir/" "$dir/corpus" "$seed" >"$out" 2>&1 &
  pid=$!
  echo "$pid" >"$state/pid.$t"
  wait "$pid"
  rc=$?
  rm -f "$state/pid.$t"
  end=$(date +%s)
  last=$(grep -E '^#[0-9]+' "$out" | tail -1)
  execs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$out" | tail -1)
  [ -n "$execs" ] || execs=$(sed -nE 's/^#([0-9]+).*/\1/p' <<<"$last")
  cov=$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$last")
  ft=$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$last")
  corp=$(sed -nE 's/.* corp: ([0-9]+\/[^ ]+).*/\1/p' <<<"$last")
  if grep -qE '^(==[0-9]+==ERROR|SUMMARY: |.*runtime error:|==[0-9]+== ERROR: libFuzzer)' "$out"; then
    outcome="finding:$(ls -t "$dir" | grep -E '^(crash|leak|timeout|oom|slow-unit)-' | head -1)"
  elif grep -q 'run interrupted' "$out" || [ -f "$state/stop" ]; then
    outcome=stopped
  elif [ "$rc" -eq 0 ]; then
    outcome=done
  else
    outcome="exit:$rc"
  fi
  printf '%s %s seconds=%d execs=%s cov=%s ft=%s corpus=%s outcome=%s log=%s\n' \
    "$(date -u -d "@$start" +%Y-%m-%dT%H:%M:%SZ)" "$t" $(( end - start )) "${execs:-?}" \
    "${cov:-?}" "${ft:-?}" "${corp:-?}" "$outcome" "${out#$root/}" >>"$log"
}

# A lane takes the next target nobody has claimed until none is left.
lane() {
  local t seed
  while [ ! -f "$state/stop" ]; do
    t=
    exec 9>"$state/lock"
    flock 9
    while IFS=$'\t' read -r name s; do
      if [ ! -e "$state/claimed.$name" ] && [ "$(seconds_done "$name")" -lt "$hour" ]; then
        t=$name seed=$s
        : >"$state/claimed.$name"
        break
      fi
    done < "$state/list"
    flock -u 9
    [ -n "$t" ] || break
    run_one "$t" "$seed"
  done
}

case ${1:-status} in
  start)
    lanes=${2:-2}
    max=$(nproc); [ "$lanes" -le "$max" ] || lanes=$max
    shift $(( $# < 2 ? $# : 2 ))
    if ls "$state"/lane.* >/dev/null 2>&1; then
      echo "fuzz-hours: already running (scripts/fuzz-hours.sh stop first)" >&2; exit 1
    fi
    mkdir -p "$state"
    rm -f "$state"/claimed.* "$state/stop"
    if [ $# -gt 0 ]; then
      ordered | grep -P "^($(IFS='|'; echo "$*"))\t" >"$state/list"
    else
      ordered >"$state/list"
    fi
    for i in $(seq 1 "$lanes"); do
      ( lane; rm -f "$state/lane.$i" ) </dev/null >/dev/null 2>&1 &
      echo $! >"$state/lane.$i"
    done
    echo "fuzz-hours: $lanes lanes over $(wc -l <"$state/list") targets; log $log"
    ;;
  stop)
    mkdir -p "$state"
    : >"$state/stop"
    for f in "$state"/pid.*; do
      [ -f "$f" ] && kill -INT "$(cat "$f")" 2>/dev/null
    done
    for f in "$state"/lane.*; do
      [ -f "$f" ] || continue
      pid=$(cat "$f" 2>/dev/null) || continue
      while kill -0 "$pid" 2>/dev/null; do sleep 1; done
      rm -f "$f"
    done
    echo "fuzz-hours: stopped"
    ;;
  status)
    [ -f "$state/list" ] || { ordered >/dev/null; }
    printf '%-28s %8s %12s %7s %7s  %s\n' target seconds execs cov ft findings
    ordered | while IFS=$'\t' read -r t _; do
      [ -f "$log" ] || break
      awk -v t="$t" '$2 == t {
          for (i = 3; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
          s += v["seconds"]; e += v["execs"]; c = v["cov"]; f = v["ft"]
          if (v["outcome"] ~ /^finding/) n = n v["outcome"] " "
        }
        END { printf "%-28s %8d %12d %7s %7s  %s\n", t, s, e, c, f, n }' "$log"
    done
    ;;
  *) echo "usage: $0 start [LANES] | stop | status" >&2; exit 2 ;;
esac
