# What delivering the run record to a collector adds to a run: successful upgrades of the simulated
# camera with the Linux port, alternately without a settings file and with a report_url naming a
# ClickHouse server on loopback, in one sandbox; then how fast a run drains a backlog of 10,000
# records (9,999 planted in the outbox and the run's own) to that server. Sourced by scripts/bench
# with $bin and $out set.

runs=7
backlog=10000
figures=$(tests/e2e/sandbox usb bench/support/delivery_scenario.sh linux "$bin/facup" "$out/delivery" $runs $backlog) || {
  echo "delivery benchmark: could not run (needs root and network namespaces)"
  return 0
}
plain=$(printf '%s\n' "$figures" | median plain)
delivered=$(printf '%s\n' "$figures" | median delivered)
echo "== delivery to a local collector, seconds added to a run (goal: at most 0.050 s) =="
echo "   median whole run: without delivery $plain ms, with delivery $delivered ms ($runs runs each)"
row "delivery to ClickHouse on loopback" "$(awk -v a="$delivered" -v b="$plain" 'BEGIN { d = (a - b) / 1000; printf "%.4f", (d > 0.0001 ? d : 0.0001) }')" \
  "goal" 0.050 0
# drain_line <kind>: "<records a second> <delivered> <seconds> <runs>" of the scenario's drain.
drain_line() { printf '%s\n' "$figures" | awk -v kind="drain_$1" '$1 == kind { print $2, $3, $4, $5 }'; }
echo "== a backlog of $backlog records drained to ClickHouse on loopback, records a second (goal: at least 2,000 batched) =="
read -r single sent took drains <<<"$(drain_line single)"
echo "   one record per request: $single records a second ($sent delivered in $took s of delivery, $drains runs of at most 30 s)"
read -r batched sent took drains <<<"$(drain_line batched)"
echo "   up to 500 records per request (report_batch = 500): $batched records a second ($sent delivered in $took s of delivery, $drains runs)"
row "backlog drain, report_batch = 500 (records/s)" "$batched" "one/request" "$single" 1
row "backlog drain, report_batch = 500 (records/s)" "$batched" "goal" 2000 1
rm -rf "$out/delivery"
