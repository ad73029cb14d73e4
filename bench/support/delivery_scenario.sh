# Runs inside tests/e2e/sandbox for bench/delivery.sh: a warm-up upgrade, then pairs of successful
# upgrades of the simulated camera by a copy of the tool, one without a settings file and one that
# delivers its record to a ClickHouse collector on loopback. Prints one line per run in
# milliseconds: "plain <start to end>" and "delivered <start to end>". Then a backlog of
# <backlog> records drained to the same collector, one record per request: "drain_single <records a
# second> <records delivered> <seconds of delivery> <runs>"; then the same with up to 500 records a
# request (report_batch = 500): "drain_batched ...".
# usage: delivery_scenario.sh <linux|windows> <tool> <scratch dir> <runs> <backlog>
. "$(dirname "$0")/../../tests/e2e/lib.sh"
e2e_init "$1" "$2" "$3"
backlog=$5
station_copy
start_camera '"version_after":"2.0.15"'
start_collector

# timed_run <kind> <n>: one silent upgrade, its wall time printed.
timed_run() {
  local started ended
  started=$(date +%s%N)
  run_tool "$E2E_SCRATCH/$1$2" -s >/dev/null 2>&1
  ended=$(date +%s%N)
  [ "$(cat "$E2E_SCRATCH/$1$2/flashret.txt" 2>/dev/null)" = ok0 ] || { echo "$1$2 did not upgrade" >&2; exit 1; }
  echo "$1 $(((ended - started) / 1000000))"
}

printf 'report_url = %s\n' "$COLLECTOR_URL" >"$ini"
run_tool "$E2E_SCRATCH/warm-up" -s >/dev/null 2>&1
for i in $(seq "$4"); do
  mv "$ini" "$E2E_SCRATCH/facup.ini"
  timed_run plain "$i"
  mv "$E2E_SCRATCH/facup.ini" "$ini"
  timed_run delivered "$i"
done
[ "$(collector_query "SELECT uniqExact(run_id) FROM facup.runs")" = $(($4 + 1)) ] || { echo "records missing" >&2; exit 1; }

# plant_backlog <count> <series>: count records in the outbox, copies of the newest real record each
# under a run id of its own (the series a number that no other backlog of the scenario uses), older
# than any run's so that they leave first.
plant_backlog() {
  python3 - "$(root_path logs/runs.jsonl)" "$(root_path logs/outbox)" "$1" "$2" <<'PY'
import json, os, sys
record = json.loads(open(sys.argv[1], encoding="utf-8").read().splitlines()[-1])
os.makedirs(sys.argv[2], exist_ok=True)
for n in range(int(sys.argv[3])):
    record["run_id"] = "%012x%020x" % (int(sys.argv[4]), n)
    with open(os.path.join(sys.argv[2], record["run_id"] + ".json"), "w", encoding="utf-8") as f:
        f.write(json.dumps(record) + "\n")
PY
}

# delivery_figures: from the newest diagnostics log, the records its run delivered and the seconds
# from its delivery's start to its end.
delivery_figures() {
  python3 - "$(newest_log)" <<'PY'
import datetime, re, sys
start = end = None
delivered = 0
for line in open(sys.argv[1], encoding="latin-1"):
    m = re.match(r"(\S+) \S+ delivery: (\d+) records (to send|delivered)", line)
    if m:
        t = datetime.datetime.strptime(m.group(1), "%Y-%m-%dT%H:%M:%S.%fZ")
        if m.group(3) == "to send":
            start = t
        else:
            end, delivered = t, int(m.group(2))
print(delivered, "%.3f" % ((end - start).total_seconds() if start and end else 0))
PY
}

# drain <kind> <settings lines>...: plants the backlog (less the run's own record) and runs the tool
# until the outbox is empty, at most three runs; prints "drain_<kind> <records a second> <delivered>
# <seconds> <runs>" over the runs' deliveries, once the collector holds at least what they delivered.
# What is left is removed, so that the next drain starts from the same backlog.
drain() {
  local kind=$1 before delivered=0 seconds=0 figures runs=0
  shift
  printf '%s\n' "report_url = $COLLECTOR_URL" "$@" >"$ini"
  before=$(collector_query "SELECT uniqExact(run_id) FROM facup.runs")
  drains=$((drains + 1))
  plant_backlog $((backlog - 1)) $drains
  while [ $runs -lt 3 ] && [ "$(ls "$(root_path logs/outbox)" | grep -c '\.json$')" -gt 0 ]; do
    runs=$((runs + 1))
    run_tool "$E2E_SCRATCH/drain-$kind$runs" -s >/dev/null 2>&1
    figures=$(delivery_figures)
    delivered=$((delivered + ${figures% *}))
    seconds=$(awk -v a="$seconds" -v b="${figures#* }" 'BEGIN { print a + b }')
  done
  [ "$(collector_query "SELECT uniqExact(run_id) FROM facup.runs")" -ge $((before + delivered)) ] ||
    { echo "drain $kind: records missing" >&2; exit 1; }
  rm -f "$(root_path logs/outbox)"/*.json
  echo "drain_$kind $(awk -v n="$delivered" -v s="$seconds" 'BEGIN { printf "%.0f", (s > 0 ? n / s : 0) }') $delivered $seconds $runs"
}

drains=0
drain single "report_seconds = 30"
drain batched "report_seconds = 30" "report_batch = 500"
remove_scratch
