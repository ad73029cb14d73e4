# Runs stopped from outside, with the real tool and the simulated camera: during staging, during the
# camera's download, during the wait for its answer and during the confirmation of the new version;
# a second SIGINT to the tool's whole process group while its clean-up runs a slow command; and
# (Linux) a SIGHUP that was ignored when the tool started, which must change nothing.
# Linux: SIGTERM and SIGINT to the tool. Windows: SIGINT to the Wine process that runs facup.exe,
# which Wine turns into CTRL_C_EVENT (Wine delivers no console close, log-off or shut-down to it:
# the driver's unit tests take that road).
# Each run must clean up as a finished run does, add its one record line naming the event and the
# stage, say so in its diagnostics log, leave no result file, and end with the system's status for
# the event.
# usage (inside sandbox usb): interrupt.sh <linux|windows> <tool> <scratch dir>
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" "$3"

# record_count: the lines of the run record file.
record_count() { cat "$(root_path logs/runs.jsonl)" 2>/dev/null | wc -l; }

# find_tool <pid>: prints the tool's own process among pid and its descendants once it runs (at
# most 30 s): the one whose command line begins with the program (under Wine, the Wine process that
# runs it; before that, the launch script names it only later in its command line).
find_tool() {
  local name pid i
  name=$(basename "$E2E_TOOL")
  for i in $(seq 300); do
    kill -0 "$1" 2>/dev/null || return 1
    for pid in $1 $(pgrep -P "$1") $(for p in $(pgrep -P "$1"); do pgrep -P "$p"; done); do
      if tr '\0' '\n' <"/proc/$pid/cmdline" 2>/dev/null | head -n 1 | grep -q -E "(^|[/\\\\])$name\$"; then
        echo "$pid"
        return 0
      fi
    done
    sleep 0.1
  done
  return 1
}

# start <name> [camera members...]: starts the camera, then one silent run in the background in a
# directory of its own; sets run_dir, run_pid (the job) and tool_pid (the tool's process).
start() {
  local name=$1
  shift
  start_camera "$@"
  run_dir=$E2E_SCRATCH/$name
  rm -rf "$run_dir"
  mkdir -p "$run_dir"
  records_before=$(record_count)
  : >"$E2E_COMMAND_LOG"
  run_tool_once "$run_dir" -s >"$run_dir.out" 2>&1 &
  run_pid=$!
  tool_pid=$(find_tool $run_pid)
  check "$name: the tool's process found" "$([ -n "$tool_pid" ] && echo yes)" yes
}

# await_staged_image: returns as soon as the staged image appears in the firmware directory (at most
# 60 s): a busy wait of shell built-ins, so that the signal can come while the image is written.
await_staged_image() {
  local deadline=$((SECONDS + 60)) firmware
  firmware=$(root_path firmware)
  while [ $SECONDS -lt $deadline ]; do
    compgen -G "$firmware/*.img" >/dev/null && return 0
  done
  echo "the image was never staged"
}

# camera_logged <event>: waits (at most 60 s) until the camera has logged that event.
camera_logged() { wait_for 60 sh -c "grep -q '\"event\":\"$1\"' '$E2E_CAMERA_LOG'" || echo "the camera never logged $1"; }

# stopped <name> <event> <exit status> <stages...>: waits for the run stopped by that event and
# checks what it left: nothing running or staged, the firewall back on (Windows records
# it), its record line, its log, no result file, and the exit status.
stopped() {
  local name=$1 event=$2 status=$3 log stage began
  shift 3
  wait $run_pid
  check "$name: exit status of $event" $? "$status"
  check_nothing_left "$name"
  check "$name: no result file, no information file" "$(ls -A "$run_dir")" ""
  [ "$E2E_TARGET" = windows ] &&
    check "$name: the firewall switched on last" "$(grep -o 'state o[nf]*' "$E2E_COMMAND_LOG" | tail -n 1)" "state on"
  check "$name: one record line" "$(($(record_count) - records_before))" 1
  stage=$(last_record interrupted_stage | tr -d '"')
  check "$name: the record names the event and a stage it may have stopped" \
    "$(last_record interrupted) $(echo " $* " | grep -c " $stage ")" "\"$event\" 1"
  check "$name: the record's exit code, outcome and result" \
    "$(last_record exit_code) $(last_record outcome) $(last_record result)" "null null null"
  log=$(newest_log)
  began="interrupted by $event during the stage \"$stage\": the run's clean-up follows"
  check "$name: the diagnostics log says so" \
    "$(grep -c -e "$began" -e "the clean-up after $event is done" -e "run ended: interrupted by $event" "$log")" 3
  echo "$name: $(grep -o 'the clean-up after .* is done ([0-9]* ms)' "$log")"
}

# event_of <signal>: sets event and status, the name the record gives what the signal becomes and
# the exit status the shell then sees. Wine ends a process that exits with STATUS_CONTROL_C_EXIT
# (0xC000013A) with that code's low byte, 58.
event_of() {
  if [ "$E2E_TARGET" = windows ]; then
    event=CTRL_C_EVENT status=$((0xC000013A & 255))
  else
    event=SIG$1 status=$((128 + $(kill -l "$1")))
  fi
}

signals="TERM INT"
[ "$E2E_TARGET" = windows ] && signals=INT
for signal in $signals; do
  event_of $signal

  echo "== $event during staging =="
  start "staging-$signal"
  await_staged_image
  kill -$signal $tool_pid
  # The signal may land in a later stage that changes the PC, or while the channel opens.
  stopped "staging-$signal" $event "$status" staging firewall file_server channel
  echo "staging-$signal: stopped in the stage $(last_record interrupted_stage)"

  echo "== $event during the camera's download =="
  throttle_link 40mbit  # the image takes about 3 s
  start "download-$signal"
  camera_logged download_started
  sleep 0.5
  kill -$signal $tool_pid
  stopped "download-$signal" $event "$status" reply
  check "download-$signal: the camera got less than the image" \
    "$(grep '"event":"download"' "$E2E_CAMERA_LOG" | grep -c '"bytes":15490649')" 0
  throttle_link 10gbit

  echo "== $event during the wait for the camera's answer =="
  start "reply-$signal" '"answer":"none"'
  camera_logged no_answer
  kill -$signal $tool_pid
  stopped "reply-$signal" $event "$status" reply
done

event_of INT
echo "== a second $event to the whole process group while the clean-up runs a slow command =="
# A terminal's Ctrl+C (a console's, on Windows) reaches every process of its group: the clean-up's
# commands must not get the second one. The tool leads a process group of its own here, and a
# clean-up command takes seconds: on Linux a pkill that first waits a second and notes when it is
# done, on Windows the recording netsh, which records "state on" only after its wait.
slow=$E2E_SCRATCH/slow
mkdir -p "$slow"
printf '#!/bin/sh\nsleep 1\n%s "$@"\nstatus=$?\necho "$*" >>"%s/done"\nexit $status\n' \
  "$(command -v pkill)" "$slow" >"$slow/pkill"
chmod +x "$slow/pkill"
slow_command=$slow/pkill
[ "$E2E_TARGET" = windows ] && slow_command='state on'
FACUP_NETSH_DELAY_MS=2000 PATH=$slow:$PATH E2E_LAUNCH=setsid start "twice" '"answer":"none"'
camera_logged no_answer
group=$(ps -o pgid= -p "$tool_pid" | tr -d ' ')
check "twice: the tool leads a process group of its own" \
  "$([ -n "$group" ] && [ "$group" != "$(ps -o pgid= -p $$ | tr -d ' ')" ] && echo yes)" yes
kill -INT -- -"$group"
wait_for 30 pgrep -f "$slow_command" >/dev/null || echo "the slow clean-up command never ran"
kill -INT -- -"$group" 2>/dev/null
stopped "twice" $event "$status" reply
check "twice: one clean-up" "$(grep -c "the clean-up after $event is done" "$(newest_log)")" 1
[ "$E2E_TARGET" = linux ] && check "twice: both slow clean-up commands completed" "$(cat "$slow/done" | wc -l)" 2

if [ "$E2E_TARGET" = linux ]; then
  echo "== SIGHUP ignored at start, as under nohup: the run goes on whole =="
  E2E_LAUNCH="env --ignore-signal=HUP" start "hup-ignored"
  camera_logged download_started
  kill -HUP $tool_pid
  wait $run_pid
  check "hup-ignored: exit code" $? 0
  check "hup-ignored: result" "$(cat "$run_dir/flashret.txt" 2>/dev/null)" ok0
  check_nothing_left "hup-ignored"
  check "hup-ignored: the record" "$(last_record exit_code) $(last_record result)" '0 "ok0"'
fi

signal=${signals%% *}
event_of $signal

echo "== $event during the confirmation of the new version (a restart that never ends) =="
# A copy of the tool beside its own facup.ini asks for the confirmation.
station_copy
# It also names a collector: an interrupted run keeps its record in the outbox and sends nothing.
printf 'confirm = strict\r\nreport_url = http://127.0.0.1:9/\r\n' >"$ini"
start "confirm" '"reboot_ms":"never"'
# The run's diagnostics log says when the confirmation begins (under Wine the console reaches its
# file only when the run ends).
confirming() { grep -q 'confirmation (strict): reading' "$(newest_log)" 2>/dev/null; }
check "confirm: the confirmation began" "$(wait_for 120 confirming && echo yes)" yes
sleep 1
kill -$signal $tool_pid
stopped "confirm" $event "$status" confirm
check "confirm: the record kept in the outbox" "$(ls "$(root_path logs/outbox)" | grep -c '\.json$')" 1
check "confirm: no delivery attempted" "$(grep -c -e 'delivery of' -e 'records to send' "$(newest_log)")" 0

e2e_finish
