# What delivering the run record to a collector adds to a run: successful upgrades of the simulated
# camera with the Linux port, alternately without a settings file and with a report_url naming a
# ClickHouse server on loopback, in one sandbox. Sourced by scripts/bench with $bin and $out set.

runs=7
figures=$(tests/e2e/sandbox usb bench/support/delivery_scenario.sh linux "$bin/facup" "$out/delivery" $runs) || {
  echo "delivery benchmark: could not run (needs root and network namespaces)"
  return 0
}
# median_ms <kind>: the median wall time of the runs of that kind.
median_ms() {
  printf '%s\n' "$figures" | awk -v kind="$1" '$1 == kind { print $2 }' | sort -n |
    awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
plain=$(median_ms plain)
delivered=$(median_ms delivered)
echo "== delivery to a local collector, seconds added to a run (goal: at most 0.050 s) =="
echo "   median whole run: without delivery $plain ms, with delivery $delivered ms ($runs runs each)"
row "delivery to ClickHouse on loopback" "$(awk -v a="$delivered" -v b="$plain" 'BEGIN { d = (a - b) / 1000; printf "%.4f", (d > 0.0001 ? d : 0.0001) }')" \
  "goal" 0.050 0
rm -rf "$out/delivery"
