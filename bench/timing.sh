# Timing helpers for the benchmark scripts (sourced).

# best_of N command...: runs the command N times (output discarded) and prints the best wall time
# in seconds.
best_of() {
  local n=$1 best="" t0 t1 dt
  shift
  for _ in $(seq "$n"); do
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s%N)
    dt=$((t1 - t0))
    if [ -z "$best" ] || [ "$dt" -lt "$best" ]; then best=$dt; fi
  done
  awk -v ns="$best" 'BEGIN { printf "%.4f", ns / 1e9 }'
}

# row name ours anchor-name anchor higher-is-better(1|0): prints one result line with the ratio of
# our figure to the anchor's (for times, anchor/ours, so above 1 means we are faster).
row() {
  awk -v name="$1" -v ours="$2" -v aname="$3" -v anchor="$4" -v hib="$5" 'BEGIN {
    ratio = hib ? ours / anchor : anchor / ours
    printf "%-44s ours %10.4f   %-12s %10.4f   ratio %.2f\n", name, ours, aname, anchor, ratio }'
}

# median <kind>: the median of the second field of the lines on standard input whose first field is
# kind (a scenario's "<kind> <figure>" lines).
median() {
  awk -v kind="$1" '$1 == kind { print $2 }' | sort -n |
    awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
