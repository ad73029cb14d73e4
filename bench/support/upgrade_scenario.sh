# Runs inside tests/e2e/sandbox for bench/upgrade.sh: a warm-up upgrade (it makes the working
# directories), then timed successful upgrades of the simulated camera. Prints each wall time.
# usage: upgrade_scenario.sh <tool> <scratch dir> <runs>
. "$(dirname "$0")/../../tests/e2e/lib.sh"
e2e_init linux "$1" "$2"
start_camera '"version_after":"2.0.15"'
run_tool "$E2E_SCRATCH/warm-up" -s >/dev/null 2>&1
for i in $(seq "$3"); do
  t0=$(date +%s%N)
  run_tool "$E2E_SCRATCH/run$i" -s >/dev/null 2>&1
  t1=$(date +%s%N)
  [ "$(cat "$E2E_SCRATCH/run$i/flashret.txt" 2>/dev/null)" = ok0 ] || { echo "run $i did not upgrade" >&2; exit 1; }
  echo $(((t1 - t0) / 1000000))
done
