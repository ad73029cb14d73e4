# Runs inside tests/e2e/sandbox for bench/upgrade.sh: a warm-up upgrade, then pairs of successful
# upgrades of the simulated camera: a first run (the working root removed before it) and a later
# run. Prints one line per figure, in milliseconds: "first <start to command>" and "later <start to
# command>" (from the tool's start to the upgrade command arriving on the camera's socket, as the
# camera logs it), and "whole <start to end>" of the later run.
# usage: upgrade_scenario.sh <linux|windows> <tool> <scratch dir> <runs>
. "$(dirname "$0")/../../tests/e2e/lib.sh"
e2e_init "$1" "$2" "$3"
start_camera '"version_after":"2.0.15"'
run_tool "$E2E_SCRATCH/warm-up" -s >/dev/null 2>&1

# timed_run <name>: one silent upgrade; sets started and ended (ms since the epoch, the camera log's
# clock) and command (when the camera logged this run's command).
timed_run() {
  started=$(($(date +%s%N) / 1000000))
  run_tool "$E2E_SCRATCH/$1" -s >/dev/null 2>&1
  ended=$(($(date +%s%N) / 1000000))
  [ "$(cat "$E2E_SCRATCH/$1/flashret.txt" 2>/dev/null)" = ok0 ] || { echo "$1 did not upgrade" >&2; exit 1; }
  command=$(camera_saw command | tail -n 1 | sed -n 's/^{"time":\([0-9]*\),.*/\1/p')
  [ -n "$command" ] && [ "$command" -ge "$started" ] || { echo "$1: the camera logged no command" >&2; exit 1; }
}

for i in $(seq "$4"); do
  rm -rf "$(root_path)"
  timed_run "first$i"
  echo "first $((command - started))"
  timed_run "later$i"
  echo "later $((command - started))"
  echo "whole $((ended - started))"
done
