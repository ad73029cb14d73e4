# Successful upgrades in a row against the simulated camera. After each: no process, socket or file
# left over; over the whole series the tool's peak memory must not grow.
# usage (inside sandbox usb): soak.sh <linux|windows> <tool> <scratch dir> <runs>
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" "$3"
runs=$4
deadline=$((SECONDS + runs * 90))  # bounded in time as well as in count
start_camera '"version_after":"2.0.15"'  # stays eligible run after run

# peak_of_run <runner pid>: the peak resident memory of the tool's process while the run goes on,
# found by its process name (the Windows tool runs as a Wine process named after its image).
peak_of_run() {
  local runner=$1 peak=0 kib pid name
  name=$(basename "$E2E_TOOL")
  while kill -0 "$runner" 2>/dev/null; do
    pid=$(pgrep -x "$name" | head -n 1)
    if [ -n "$pid" ]; then
      kib=$(sed -n 's/^VmHWM:[^0-9]*\([0-9]*\).*/\1/p' "/proc/$pid/status" 2>/dev/null)
      [ -n "$kib" ] && [ "$kib" -gt "$peak" ] && peak=$kib
    fi
    sleep 0.1
  done
  echo "$peak"
}

peaks=()
for i in $(seq "$runs"); do
  [ $SECONDS -lt $deadline ] || { check "soak finished in time" "run $i" "all $runs"; break; }
  dir=$E2E_SCRATCH/run$i
  run_tool "$dir" -s >"$dir.out" 2>&1 &
  runner=$!
  peak=$(peak_of_run $runner)
  wait $runner
  rc=$?
  peaks+=("$peak")
  check "run $i: exit code" $rc 0
  check "run $i: result" "$(cat "$dir/flashret.txt" 2>/dev/null)" ok0
  check "run $i: no file server left" "$(servers_left)" ""
  check "run $i: no tool process left" "$(pgrep -c -x "$(basename "$E2E_TOOL")")" 0
  check "run $i: no socket left open" "$(ss -Htan | grep -v -c TIME-WAIT)" 0
  check "run $i: firmware directory empty" "$(ls "$(root_path firmware)")" ""
  check "run $i: only the result file in the working directory" "$(ls -A "$dir")" flashret.txt
  echo "run $i: peak memory ${peak} KiB"
done

# The later runs' peaks may not exceed the early runs' by more than 10 % and 4 MiB.
n=${#peaks[@]}
third=$(((n + 2) / 3))
early=$(printf '%s\n' "${peaks[@]:0:$third}" | sort -n | tail -n 1)
late=$(printf '%s\n' "${peaks[@]:$((n - third))}" | sort -n | tail -n 1)
check "peak memory does not grow ($early KiB early, $late KiB late)" \
  "$(awk -v e="$early" -v l="$late" 'BEGIN { print (l <= e * 1.10 + 4096) ? "steady" : "grows" }')" steady
e2e_finish
