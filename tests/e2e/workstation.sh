# Scenarios of the single-instance guard and the working directories, with the real tool.
# usage (inside sandbox): workstation.sh <linux|windows> <tool> <scratch dir> <embedded program>
#   <a program that only leaves a marker beside itself when it runs>
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" "$3"
carried=$4
program_size=$(stat -c %s "$carried")
# An eligible camera on the USB link that stays eligible: after each upgrade it still shows 2.0.15.
start_camera '"version_after":"2.0.15"'
program=$(root_path units/Shttpd)
[ "$E2E_TARGET" = windows ] && program=$(root_path units/Shttpd.exe)

echo "== a second copy while the first runs =="
run_tool "$E2E_SCRATCH/first" -s >"$E2E_SCRATCH/first.out" 2>&1 &
first=$!
# The first copy holds the guard from its start; it makes the working root during its run.
wait_for 30 test -d "$(root_path)" || echo "the first copy never made the working root"
run_tool "$E2E_SCRATCH/second" -s >/dev/null 2>&1
check "second copy exit code" $? "$(exit_code -1)"
check "second copy result" "$(cat "$E2E_SCRATCH/second/flashret.txt")" "err1"
wait $first
check "first copy exit code" $? 0
check "first copy wrote the file-server program" "$(stat -c %s "$program" 2>/dev/null)" "$program_size"
check "first copy upgraded the camera" "$(cat "$E2E_SCRATCH/first/flashret.txt")" ok0
check "first copy made the working root kept to administrators" "$(python3 -c 'import json, sys
print([r["root_permissions"] for r in map(json.loads, open(sys.argv[1])) if r["exit_code"] == 0])' \
  "$(root_path logs/runs.jsonl)")" "['set']"

echo "== two copies started at the same instant: exactly one refuses =="
rm -rf "$(root_path)"
run_tool "$E2E_SCRATCH/a" -s >/dev/null 2>&1 &
a=$!
run_tool "$E2E_SCRATCH/b" -s >/dev/null 2>&1 &
b=$!
wait $a; rc_a=$?
wait $b; rc_b=$?
check "exit codes of the pair" "$(printf '%s\n' $rc_a $rc_b | sort -n | tr '\n' ' ')" "0 $(exit_code -1) "

echo "== twenty copies started at once: twenty whole records =="
records=$(cat "$(root_path logs/runs.jsonl)" 2>/dev/null | wc -l)
pids=()
for i in $(seq 20); do
  mkdir -p "$E2E_SCRATCH/twenty$i"
  (cd "$E2E_SCRATCH/twenty$i" && run_tool_once "$E2E_SCRATCH/twenty$i" -s >/dev/null 2>&1) &
  pids+=($!)
done
wait "${pids[@]}"
check "twenty copies: twenty records, each one whole JSON line" "$(tail -n +$((records + 1)) "$(root_path logs/runs.jsonl)" |
  python3 -c 'import json, sys; print(sum(1 for line in sys.stdin if json.loads(line)["exit_code"] in (0, -1)))')" 20
check "twenty copies: the runs that upgraded kept the carried file-server program" "$(tail -n +$((records + 1)) \
  "$(root_path logs/runs.jsonl)" | python3 -c 'import json, sys
print(sorted({r["server_program"] for r in map(json.loads, sys.stdin) if r["exit_code"] == 0}))')" "['kept']"

echo "== an existing file-server program is kept only when it is the carried one, byte for byte =="
head -c 307199 /dev/zero >"$program"
run_tool "$E2E_SCRATCH/small" -s >/dev/null 2>&1
check "307,199-byte program rewritten" "$(stat -c %s "$program")" "$program_size"
# A foreign program of 307,200 bytes (padded), which would leave a marker if it ever ran.
cp "$5" "$program" && truncate -s 307200 "$program"
run_silent large
check "307,200-byte program replaced" "$(stat -c %s "$program")" "$program_size"
check "foreign program: the camera was upgraded" "$result" ok0
check "foreign program: it never ran" "$(ls "$(root_path units)" | grep -c '\.ran$')" 0
check "foreign program: the record says replaced" "$(last_record server_program)" '"replaced"'
check "a later run keeps the root's permissions" "$(last_record root_permissions)" '"kept"'
check "foreign program: the diagnostics log says so" "$(grep -c 'was not the one the tool carries: replaced' "$(newest_log)")" 1

echo "== an older build's file server, still running, is ended and replaced =="
cp "$carried" "$program" && printf '\001' | dd of="$program" bs=1 seek=$((program_size - 1)) conv=notrunc status=none
if [ "$E2E_TARGET" = windows ]; then
  "$e2e_repo/scripts/wine-run" 'C://quorvane_facup//units//Shttpd.exe' 8234 'C://quorvane_facup//firmware' >/dev/null 2>&1 &
else
  "$program" 8234 "$(root_path firmware)" >/dev/null 2>&1 &
fi
older_server=$!
server_runs() { [ -n "$(servers_running)" ]; }
wait_for 30 server_runs || echo "the older build's server never ran"
run_silent older
wait $older_server
check "older build: the camera was upgraded" "$result" ok0
check "older build: replaced by the carried program" "$(cmp -s "$program" "$carried" && echo same)" same
check "older build: the record says replaced" "$(last_record server_program)" '"replaced"'

echo "== a working root that exists as a file: the units directory cannot be made =="
rm -rf "$(root_path)"
echo "a file" >"$(root_path)"
run_tool "$E2E_SCRATCH/root-file" -s >/dev/null 2>&1
check "exit code" $? "$(exit_code -8)"
check "result" "$(cat "$E2E_SCRATCH/root-file/flashret.txt")" "err-8"
rm -f "$(root_path)"

if [ "$E2E_TARGET" = linux ]; then
  echo "== a working root that cannot be made (read-only location) =="
  mount -t tmpfs -o ro tmpfs /var/lib
  run_tool "$E2E_SCRATCH/read-only" -s >/dev/null 2>&1
  check "exit code" $? "$(exit_code -8)"
  check "result" "$(cat "$E2E_SCRATCH/read-only/flashret.txt")" "err-8"
  umount /var/lib

  echo "== a run without administrator rights, on a station whose root exists, ends on the no-administrator road =="
  # Everything in place, the carried file server included: only the rights are missing.
  mkdir -p "$(root_path units)" "$(root_path firmware)" "$E2E_SCRATCH/user"
  cp "$carried" "$program"
  chown 65534:65534 "$E2E_SCRATCH/user"
  (cd "$E2E_SCRATCH/user" && setpriv --reuid=65534 --regid=65534 --clear-groups "$E2E_TOOL" -s >/dev/null 2>&1)
  check "no administrator rights: exit code" $? "$(exit_code -8)"
  check "no administrator rights: result" "$(cat "$E2E_SCRATCH/user/flashret.txt")" "err-8"
  check "no administrator rights: nothing written in the root" "$(find "$(root_path)" -user 65534)" ""

  echo "== a program that cannot be written completely (the units directory fills up) =="
  mkdir -p "$(root_path units)" "$(root_path firmware)"
  mount -t tmpfs -o size=8k tmpfs "$(root_path units)"
  run_tool "$E2E_SCRATCH/full" -s >/dev/null 2>&1
  check "exit code" $? "$(exit_code -8)"
  check "result" "$(cat "$E2E_SCRATCH/full/flashret.txt")" "err-8"
  check "no partial program left" "$(ls "$(root_path units)")" ""
  umount "$(root_path units)"

  echo "== sixty later copies while one run holds the guard: each refuses at once, keeping no log =="
  # The camera holds its answer for two minutes, so the first run keeps the guard however slow the
  # copies are; stopping the camera then ends that run (its command channel is gone). The logs of
  # earlier real runs (forty made up here, with the runs above and the holder's own) all stay.
  mkdir -p "$(root_path logs)"
  for i in $(seq 10 49); do : >"$(root_path logs)/run-20000101T0000${i}Z-1.log"; done
  start_camera '"version_after":"2.0.15"' '"reply_delay_ms":120000'
  run_tool "$E2E_SCRATCH/holder" -s >"$E2E_SCRATCH/holder.out" 2>&1 &
  holder=$!
  wait_for 30 sh -c "grep -q download '$E2E_CAMERA_LOG'" || echo "the holding run never sent its command"
  logs_before=$(ls "$(root_path logs)")
  holder_log=$(newest_log)
  refused=0
  for i in $(seq 60); do
    mkdir -p "$E2E_SCRATCH/copy$i"
    (cd "$E2E_SCRATCH/copy$i" && timeout 5 "$E2E_TOOL" -s >/dev/null 2>&1)
    rc=$?
    [ $rc = "$(exit_code -1)" ] && [ "$(cat "$E2E_SCRATCH/copy$i/flashret.txt")" = err1 ] || break
    refused=$((refused + 1))
  done
  check "copies that refused within 5 s each" $refused 60
  check "the holding run still held the guard" "$(kill -0 $holder 2>/dev/null && echo yes)" yes
  check "the refused copies left the logs directory as it was" "$(ls "$(root_path logs)")" "$logs_before"
  stop_camera
  wait $holder
  check "the holding run ended when the camera went away" "$(cat "$E2E_SCRATCH/holder/flashret.txt")" err0
  check "the holding run's log is whole" "$(grep -c 'run ended: exit code 0' "$holder_log")" 1
fi

e2e_finish
