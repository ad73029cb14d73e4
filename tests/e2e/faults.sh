# Faults during a run, with the real tool and the simulated camera: the camera vanishes during the
# download, the file server is killed during it, the camera closes the channel after the command,
# it answers only after 30 s of pings, the firmware directory fills up while staging (the cause
# recorded), the logs directory is read-only, and the result file cannot be written. Each ends with
# its outcome and exit code and leaves nothing behind.
# usage (inside sandbox usb): faults.sh <linux|windows> <tool> <tool with a short reply limit> <scratch dir>
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" "$4"
short_limit_tool=$3
export FACUP_TEST_REPLY_LIMIT=5

# run <name> [short] [background]: one silent run in a directory of its own; sets rc and result.
# With "background" it only starts the run (the caller waits for $run_pid and calls finish_run).
run() {
  local tool=$E2E_TOOL
  run_dir=$E2E_SCRATCH/$1
  [ "${2:-}" = short ] && tool=$short_limit_tool
  rm -rf "$run_dir"
  E2E_TOOL=$tool run_tool "$run_dir" -s >"$run_dir.out" 2>&1 &
  run_pid=$!
  [ "${3:-}" = background ] || finish_run "$1"
}

finish_run() {
  wait $run_pid
  rc=$?
  result=$(cat "$run_dir/flashret.txt" 2>/dev/null)
  check_nothing_left "$1"
  check "$1: no information file left" "$(ls -A "$run_dir" | grep -c deviceRelateInfo)" 0
}

# in_download: returns half a second after the camera started downloading the image.
in_download() {
  wait_for 60 sh -c "grep -q download_started '$E2E_CAMERA_LOG'" || echo "the download never started"
  sleep 0.5
}

# kill_file_server: stops the tool's running file server, as a crash would.
kill_file_server() {
  if [ "$E2E_TARGET" = windows ]; then
    "$e2e_repo/scripts/wine-run" taskkill /F /IM Shttpd.exe >/dev/null 2>&1
  else
    pkill -KILL -f '^/var/lib/quorvane_facup/units/Shttpd '
  fi
}

echo "== the camera vanishes during the download (the link goes down) =="
start_camera
throttle_link 40mbit  # the image takes about 3 s
run vanished short background
in_download
for veth in $(pc_links); do ip link del "$veth"; done
finish_run vanished
check "vanished: exit code" $rc 0
check "vanished: result (no answer, noticed by the time limit)" "$result" err0
# Whatever the camera says once its link is gone never reaches the tool; what shows that the run
# ended by its time limit is that the camera never had the whole image.
check "vanished: the camera never got the whole image" \
  "$(grep '"event":"download"' "$E2E_CAMERA_LOG" | grep -c '"bytes":15490649')" 0
stop_camera

relink_usb  # a new cable
throttle_link 40mbit

echo "== the file server is killed during the download =="
start_camera
run server-killed short background
in_download
kill_file_server
finish_run server-killed
check "server killed: exit code" $rc 0
check "server killed: the camera's download failed and it said so" "$result" err0
check "server killed: the camera got less than the image" \
  "$(grep '"event":"download"' "$E2E_CAMERA_LOG" | grep -c '"bytes":15490649')" 0
check "server killed: the console showed the download" "$(grep -a -q 'Camera downloading firmware' "$run_dir.out" && echo yes)" yes
check "server killed: the console never said the image was sent" "$(grep -a -c 'Firmware sent' "$run_dir.out")" 0
throttle_link 10gbit

echo "== the camera closes the channel right after the command =="
start_camera '"close_after_command":true'
run closed short
check "closed: exit code" $rc 0
check "closed: result" "$result" err0

echo "== the camera answers only after 30 s of pings =="
start_camera '"reply_delay_ms":30000'
run late
check "late answer: exit code" $rc 0
check "late answer: result" "$result" ok0
check "late answer: the channel was kept alive with pings" "$([ "$(camera_saw ws_ping | wc -l)" -ge 10 ] && echo yes)" yes

echo "== the firmware directory fills up while staging =="
start_camera
mkdir -p "$(root_path firmware)"
mount -t tmpfs -o size=4m tmpfs "$(root_path firmware)"
run disk-full
check "disk full: exit code" $rc "$(exit_code -9)"
check "disk full: result" "$result" err-3
check "disk full: the camera was never told to upgrade" "$(camera_saw command | wc -l)" 0
# The cause, in the system's words, is in the record and the diagnostics log.
cause=$(last_record_text staging_error)
check "disk full: the record names the cause" "$(grep -c -i -E '^writing .*KTR_418s_1126_fac_up_2\.0\.16\.img failed: .*(space|full)' <<<"$cause")" 1
check "disk full: the diagnostics log names it too" "$(grep -c -F "could not be staged: $cause" "$(newest_log)")" 1
umount "$(root_path firmware)"

echo "== the logs directory is read-only: the run is the same, without a record or a log =="
start_camera
mkdir -p "$(root_path logs)"
mount -t tmpfs -o ro tmpfs "$(root_path logs)"
run logs-read-only
check "logs read-only: exit code" $rc 0
check "logs read-only: result" "$result" ok0
check "logs read-only: nothing written there" "$(ls -A "$(root_path logs)")" ""
umount "$(root_path logs)"

echo "== the result file cannot be written (read-only working directory) =="
# The information file lives in the same directory, so the camera's answer cannot be stored
# either: the run ends as for a camera that does not answer, and only the exit code tells.
start_camera
mkdir -p "$E2E_SCRATCH/read-only"
mount -t tmpfs -o ro tmpfs "$E2E_SCRATCH/read-only"
run_tool "$E2E_SCRATCH/read-only" -s >"$E2E_SCRATCH/read-only.out" 2>&1
rc=$?
check "read-only: the exit code tells" $rc "$(exit_code -3)"
check "read-only: the camera was asked" "$(camera_saw http_get | wc -l)" 1
check "read-only: no result file" "$(ls "$E2E_SCRATCH/read-only")" ""
check "read-only: no file server left running" "$(servers_left)" ""
umount "$E2E_SCRATCH/read-only"

e2e_finish
