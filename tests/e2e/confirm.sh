# The confirmation of the new version after the camera's "ok" (facup.ini "confirm"), with a copy of
# the real tool beside its own settings file and the simulated camera restarting: back with the new
# version (and a second copy started during the wait, refused), rolled back (strict and record),
# never back, and the PC's end of the USB link gone for 10 s during the wait. Each run must leave nothing behind. The time from the camera's return to the
# result is printed, never asserted.
# usage (inside sandbox usb): confirm.sh <linux|windows> <tool> <scratch dir>
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" "$3"
station_copy

# settings <line...>: the station's facup.ini, one line each.
settings() { printf '%s\r\n' "$@" >"$ini"; }

# checked <name>: what every run must leave: exit code 0, nothing running or staged, only the result
# file in the working directory.
checked() {
  check "$1: exit code" "$rc" 0
  check_nothing_left "$1"
  check "$1: only the result file left" "$(ls -A "$E2E_SCRATCH/$1")" flashret.txt
}

# confirmation: the record's confirm member as "<mode> <confirmed> <versions seen>", and whether
# its stages end with "confirm".
confirmation() {
  tail -n 1 "$(root_path logs/runs.jsonl)" | python3 -c '
import json, sys
r = json.load(sys.stdin)
c = r["confirm"]
print(c["mode"], json.dumps(c["confirmed"]), ",".join(v["version"] for v in c["versions"]),
      list(r["stages"])[-1])'
}

# console_has <name> <text>: yes when the run's console showed that line (the Windows build's
# Chinese lines are GBK).
console_has() {
  local out=$E2E_SCRATCH/$1.out
  if [ "$E2E_TARGET" = windows ]; then
    iconv -f GBK -t UTF-8 -c <"$out" | tr -d '\r' | grep -q -F -x "$2" && echo yes
  else
    tr -d '\r' <"$out" | grep -q -F -x "$2" && echo yes
  fi
}

# returned_to_result <name>: milliseconds from the camera's return (its log) to the result file's
# last change (the run's outcome), both by this machine's clock.
returned_to_result() {
  python3 - "$E2E_CAMERA_LOG" "$E2E_SCRATCH/$1/flashret.txt" <<'PY'
import json, os, sys
back = [json.loads(line)["time"] for line in open(sys.argv[1]) if '"rebooted"' in line]
print(round(os.stat(sys.argv[2]).st_mtime * 1000 - back[0]) if back else "no return")
PY
}

echo "== strict: back after 15 s with the new version =="
settings "confirm = strict"
start_camera '"reboot_ms":15000'
run_silent back-new
checked back-new
check "back-new: result" "$result" ok0
check "back-new: the record" "$(confirmation)" "strict true 2.0.16 confirm"
check "back-new: version_after" "$(last_record version_after)" '"2.0.16"'
check "back-new: the console's last line" \
  "$(tr -d '\r' <"$E2E_SCRATCH/back-new.out" | grep -a -c '^New firmware confirmed: the camera runs 2.0.16 (after [0-9]* s).$')" 1
echo "back-new: from the camera's return to the result: $(returned_to_result back-new) ms"

echo "== strict: a copy started during the confirmation is refused; the run is counted =="
# The confirmation still reads the camera: the run keeps the single-instance guard until it ends.
prom=$E2E_SCRATCH/facup.prom
settings "confirm = strict" "metrics_file = $(tool_path "$prom")"
start_camera '"reboot_ms":15000'
mkdir -p "$E2E_SCRATCH/guarded"
ls "$(root_path logs)"/run-*.log >"$E2E_SCRATCH/logs.before" 2>/dev/null
run_tool "$E2E_SCRATCH/guarded" -s >"$E2E_SCRATCH/guarded.out" 2>&1 &
first=$!
# The run's own diagnostics log says when the confirmation begins (under Wine its console reaches
# the file only at its end).
confirming() {
  grep -l 'confirmation (strict): reading' "$(root_path logs)"/run-*.log 2>/dev/null |
    grep -q -v -x -F -f "$E2E_SCRATCH/logs.before"
}
wait_for 120 confirming || echo "the confirmation never began"
run_silent during-confirmation
check "a copy during the confirmation: refused" "$rc $result" "$(exit_code -1) err1"
wait $first
rc=$?
result=$(cat "$E2E_SCRATCH/guarded/flashret.txt" 2>/dev/null)
checked guarded
check "guarded: result" "$result" ok0
check "guarded: the run counted, the refused copy not" "$(grep '^facup_runs_total' "$prom")" 'facup_runs_total{result="ok0"} 1'

echo "== strict: rolled back to the old version =="
settings "confirm = strict" "confirm_seconds = 10"
start_camera '"reboot_ms":3000' '"version_after":"2.0.15"'
run_silent rolled-back-strict
checked rolled-back-strict
check "rolled back, strict: result" "$result" err-12
check "rolled back, strict: the record" "$(confirmation)" "strict false 2.0.15 confirm"
check "rolled back, strict: version_after" "$(last_record version_after)" '"2.0.15"'

echo "== record: rolled back, the console in Chinese =="
settings "confirm = record" "confirm_seconds = 10" "language = zh"
start_camera '"reboot_ms":3000' '"version_after":"2.0.15"'
run_silent rolled-back-record
checked rolled-back-record
check "rolled back, record: result" "$result" ok0
check "rolled back, record: the record" "$(confirmation)" "record false 2.0.15 confirm"
check "rolled back, record: the console's last line" \
  "$(console_has rolled-back-record "新固件未确认：相机最后显示 2.0.15（已等待 10 秒）。")" yes

echo "== strict: a restart that never ends =="
settings "confirm = strict" "confirm_seconds = 10"
start_camera '"reboot_ms":"never"'
run_silent never-back
checked never-back
check "never back: result" "$result" err-12
check "never back: the record" "$(confirmation)" "strict false  confirm"
# Unreachable from the first read that found the camera gone: most of the wait, however the first
# read fell against the restart.
check "never back: unreachable for most of the wait" "$(last_record confirm | python3 -c 'import json, sys; c = json.load(sys.stdin); print(c["unreachable_seconds"] >= 5)')" True

echo "== strict: the PC's end of the USB link gone for 10 s during the wait =="
settings "confirm = strict"
start_camera '"reboot_ms":2000'
mkdir -p "$E2E_SCRATCH/link-down"
rm -f "$E2E_SCRATCH/link-down/flashret.txt"
run_tool "$E2E_SCRATCH/link-down" -s >"$E2E_SCRATCH/link-down.out" 2>&1 &
tool=$!
wait_for 120 sh -c "grep -q '\"event\":\"reboot\"' '$E2E_CAMERA_LOG'" || echo "the camera never restarted"
for veth in $(pc_links); do ip link del "$veth"; done
sleep 10
relink_usb
wait $tool
rc=$?
result=$(cat "$E2E_SCRATCH/link-down/flashret.txt" 2>/dev/null)
checked link-down
check "link down: result" "$result" ok0
check "link down: the record" "$(confirmation)" "strict true 2.0.16 confirm"

e2e_finish
