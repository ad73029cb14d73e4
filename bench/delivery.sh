# What delivering the run record to a collector adds to a run: successful upgrades of the simulated
# camera with the Linux port, alternately without a settings file and with a report_url naming a
# ClickHouse server on loopback, in one sandbox. Sourced by scripts/bench with $bin and $out set.

runs=7
figures=$(tests/e2e/sandbox usb bench/support/delivery_scenario.sh linux "$bin/facup" "$out/delivery" $runs) || {
  echo "delivery benchmark: could not run (needs root and network namespaces)"
  return 0
}
plain=$(printf '%s\n' "$figures" | median plain)
delivered=$(printf '%s\n' "$figures" | median delivered)
echo "== delivery to a local collector, seconds added to a run (goal: at most 0.050 s) =="
echo "   median whole run: without delivery $plain ms, with delivery $delivered ms ($runs runs each)"
row "delivery to ClickHouse on loopback" "$(awk -v a="$delivered" -v b="$plain" 'BEGIN { d = (a - b) / 1000; printf "%.4f", (d > 0.0001 ? d : 0.0001) }')" \
  "goal" 0.050 0
rm -rf "$out/delivery"
