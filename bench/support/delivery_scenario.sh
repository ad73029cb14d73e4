# Runs inside tests/e2e/sandbox for bench/delivery.sh: a warm-up upgrade, then pairs of successful
# upgrades of the simulated camera by a copy of the tool, one without a settings file and one that
# delivers its record to a ClickHouse collector on loopback. Prints one line per run in
# milliseconds: "plain <start to end>" and "delivered <start to end>".
# usage: delivery_scenario.sh <linux|windows> <tool> <scratch dir> <runs>
. "$(dirname "$0")/../../tests/e2e/lib.sh"
e2e_init "$1" "$2" "$3"
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
remove_scratch
