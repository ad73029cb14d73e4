# Whole upgrades of the simulated camera with the real tool: every answer the camera can give, the
# faults of its command channel, and the Wi-Fi recovery. Each run must leave nothing behind.
# usage (inside sandbox): upgrade.sh <linux|windows> <tool> <tool with a short reply limit>
#                                    <scratch dir> <link: usb|wifi> <firmware image>
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" "$4"
short_limit_tool=$3
link=$5
image_md5=$(md5sum "$6" | cut -d' ' -f1)
image_size=$(stat -c %s "$6")
host=192.168.88.2
[ "$link" = wifi ] && host=10.0.0.2
image_name=KTR_418s_1126_fac_up_2.0.16.img
export FACUP_TEST_REPLY_LIMIT=3

# run <name> [short]: one silent run; sets rc, result and took (seconds). "short" runs the tool
# built with a 3-second reply limit.
run() {
  local started=$SECONDS tool=$E2E_TOOL
  [ "${2:-}" = short ] && tool=$short_limit_tool
  : >"$E2E_COMMAND_LOG"
  run_silent "$1" "$tool"
  took=$((SECONDS - started))
  # Nothing may be left behind: no server, no staged file, no information file.
  check_nothing_left "$1"
  check "$1: only the result file left in the working directory" "$(ls "$E2E_SCRATCH/$1")" "$(test -n "$result" && echo flashret.txt)"
}

# camera_field <event> <member>: a member of the camera's latest log line of that event.
camera_field() {
  python3 -c '
import json, sys
value = ""
for line in open(sys.argv[1]):
    entry = json.loads(line)
    if entry.get("event") == sys.argv[2]:
        value = entry.get(sys.argv[3], "")
print(value)' "$E2E_CAMERA_LOG" "$1" "$2"
}

# percentages_before_end <name>: how many different percentages below 100 the run's console showed
# for the camera's download.
percentages_before_end() {
  grep -a -o 'Camera downloading firmware: [0-9.]* / [0-9.]* MB ([0-9]* %)' "$E2E_SCRATCH/$1.out" |
    sed 's/.*(\([0-9]*\) %)/\1/' | sort -un | awk '$1 < 100' | wc -l
}

# firewall_order: the firewall commands the run gave, in order (Windows records them; Linux has
# none to record).
firewall_order() { grep -o 'state o[nf]*' "$E2E_COMMAND_LOG" 2>/dev/null | tr '\n' ' '; }

if [ "$link" = usb ]; then
  echo "== success =="
  start_camera
  run success
  check "success: exit code" $rc 0
  check "success: result" "$result" ok0
  expected="{\"cmd\":\"pc_firmware_up\", \"dev\":\"1\", \"bin\":\"fac_firmware.bin\", \"nver\":\"2.0.16\", \"md5\":\"$image_md5\", \"url\":\"http://$host:8234/$image_name\"}"
  check "success: the camera got the exact command" "$(camera_field ws_text text)" "$expected"
  check "success: the camera downloaded the image whole" "$(camera_field download bytes)" "$image_size"
  check "success: the downloaded image's MD5" "$(camera_field download md5)" "$image_md5"
  check "success: the handshake asked for port 9999 at the camera" "$(camera_field ws_handshake path)" /
  [ "$E2E_TARGET" = windows ] && check "success: firewall off, then on again" "$(firewall_order)" "state off state on "
  check "success: no Wi-Fi command" "$(grep -c -E 'wlan|con ' "$E2E_COMMAND_LOG")" 0
  check "success: an upgrade's record" "$(last_record run_kind)" '"upgrade"'
  check "success: the record names the camera's interface address" "$(last_record camera_mac)" \
    "\"$(ip -n "$E2E_CAM" -br link show type veth | awk '{ print $3 }')\""
  # Without "confirm" in facup.ini nothing is read after the answer, and the record says so.
  check "success: no request to the camera after its answer" \
    "$(sed -n '/"event":"ws_send"/,$p' "$E2E_CAMERA_LOG" | grep -c '"event":"http_get"')" 0
  check "success: no confirmation in the record" "$(last_record confirm)" \
    '{"mode": "off", "confirmed": null, "seconds": null, "versions": [], "unreachable_seconds": null}'

  echo "== the camera's download shown as it goes (a throttled link) =="
  start_camera
  throttle_link 20mbit  # the image takes about 6 s
  run progress
  throttle_link 10gbit
  check "progress: result" "$result" ok0
  check "progress: at least three percentages before 100 %" "$([ "$(percentages_before_end progress)" -ge 3 ] && echo yes)" yes
  tenths=$(((image_size + 50000) / 100000))
  check "progress: the closing line, once" \
    "$(grep -a -c "Firmware sent to camera: $((tenths / 10)).$((tenths % 10)) MB in [0-9]*\.[0-9] s\. Camera is installing it, plz wait\.\.\." "$E2E_SCRATCH/progress.out")" 1

  echo "== the camera's download breaks off and starts over =="
  start_camera '"abort_first_download_at":5000000'
  throttle_link 20mbit
  run download-again
  throttle_link 10gbit
  check "download again: result" "$result" ok0
  check "download again: the camera fetched twice" "$(camera_saw download_started | wc -l)" 2
  check "download again: said once" "$(grep -a -c 'Camera is downloading the firmware again\.' "$E2E_SCRATCH/download-again.out")" 1
  check "download again: the closing line, once" "$(grep -a -c 'Firmware sent to camera' "$E2E_SCRATCH/download-again.out")" 1

  echo "== answers =="
  start_camera '"info_body":"QUORVANE_CAM418S"' '"version":"2.0.16"'
  run already-latest
  check "already latest: exit code" $rc 0
  check "already latest: result" "$result" err-11
  start_camera '"answer":"fail"'
  run failure
  check "failure: exit code" $rc 0
  check "failure: result" "$result" err0
  check "failure over USB: no Wi-Fi command" "$(grep -c -E 'wlan|con ' "$E2E_COMMAND_LOG")" 0
  start_camera '"auth_texts":3'
  run auth-before-ok
  check "auth texts before ok: result" "$result" ok0
  start_camera '"info_body":"QUORVANE_CAM418S-相机*ver:2.0.15-β"'
  run beyond-ascii
  check "a model and a version beyond ASCII: result" "$result" ok0
  check "a model beyond ASCII: the record's UTF-8" "$(last_record_text model)" "QUORVANE_CAM418S-相机"
  check "a version beyond ASCII: the record's UTF-8" "$(last_record_text version_before)" "2.0.15-β"
  start_camera '"noise_texts":3' '"reply_delay_ms":2000'
  run noise-then-late-ok
  check "texts with neither word, then a late ok: result" "$result" ok0

  echo "== check only =="
  # check_only <name> <switches...>: one check run; sets rc and result, and checks that it changed
  # nothing: no command, nothing staged, no WebSocket connection, only the result file left (the
  # information file's copy, a dot file, deleted).
  check_only() {
    local name=$1 dir=$E2E_SCRATCH/$1
    shift
    : >"$E2E_COMMAND_LOG"
    rm -rf "$dir"
    run_tool "$dir" "$@" >"$dir.out" 2>&1
    rc=$?
    result=$(cat "$dir/flashret.txt" 2>/dev/null)
    check "$name: no command (no firewall, no clean-up)" "$(cat "$E2E_COMMAND_LOG")" ""
    check "$name: nothing staged, no server" "$(ls "$(root_path firmware)") $(servers_running)" " "
    check "$name: no WebSocket connection" "$(camera_saw ws_handshake | wc -l)" 0
    check "$name: only the result file left, the information file's copy gone" "$(ls -A "$dir")" flashret.txt
  }
  start_camera
  check_only check-upgradable -c -s
  check "check, upgradable: exit code and result" "$rc $result" "0 chk0"
  check "check, upgradable: the information file asked for" "$(camera_saw http_get | wc -l)" 1
  check "check, upgradable: the record" "$(last_record run_kind) $(last_record result)" '"check" "chk0"'
  start_camera '"version":"2.0.16"'
  check_only check-current -s -c
  check "check, current: exit code and result" "$rc $result" "$(exit_code -6) err-2"
  start_camera '"model":"ZEPHLAR_CAM500"'
  check_only check-wrong-model -s -c
  check "check, a wrong model: exit code and result" "$rc $result" "$(exit_code -5) err-2"
  stop_camera
  check_only check-silent -c -s
  check "check, a silent camera: exit code and result" "$rc $result" "$(exit_code -3) err0"

  echo "== a camera that speaks at once and ends at once =="
  # Runs here and below with a 120-second reply limit: "at once" means well before it, even on a
  # loaded machine, while a lost answer would wait it out.
  # Its greeting holds "fail": it must neither answer the command nor break the framing.
  start_camera '"greeting":"{\"cmd\":\"hello\",\"res\":\"fail\"}"'
  FACUP_TEST_REPLY_LIMIT=120 run greeting short
  check "a greeting split behind the handshake reply, then ok: result" "$result" ok0
  check "a greeting split behind the handshake reply: answered at once" "$([ $took -lt 90 ] && echo yes)" yes
  for end in close reset; do
    start_camera "\"after_answer\":\"$end\""
    FACUP_TEST_REPLY_LIMIT=120 run ok-then-$end short
    check "ok, then at once a TCP $end: result" "$result" ok0
    check "ok, then at once a TCP $end: the camera ended it so" "$(camera_saw ws_end | wc -l)" 1
  done

  echo "== handshake replies in other forms =="
  # The status line first and the header lines 200 ms later; the accept header named as many HTTP
  # libraries write it; every header name in lower case.
  for form in split canonical lower; do
    start_camera "\"handshake\":\"$form\""
    run handshake-$form
    check "handshake reply, $form: exit code" $rc 0
    check "handshake reply, $form: result" "$result" ok0
  done

  echo "== silence =="
  start_camera '"answer":"none"'
  run no-answer short
  check "no answer: exit code" $rc 0
  check "no answer: result" "$result" err0
  start_camera '"close_after_command":true'
  FACUP_TEST_REPLY_LIMIT=120 run closed-after-command short
  check "closed after the command: result" "$result" err0
  check "closed after the command: noticed at once" "$([ $took -lt 90 ] && echo yes)" yes
  start_camera '"close_after_handshake_ms":100'
  FACUP_TEST_REPLY_LIMIT=120 run closed-before-command short
  check "closed 0.1 s after the handshake, before the command: result" "$result" err0
  check "closed 0.1 s after the handshake, before the command: noticed at once" "$([ $took -lt 90 ] && echo yes)" yes
  check "closed 0.1 s after the handshake: the camera never got the command" "$(camera_saw command | wc -l)" 0
  start_camera '"ws":"off"'
  run no-websocket
  check "no WebSocket: exit code" $rc "$(exit_code -7)"
  check "no WebSocket: result" "$result" err-5
  check "no WebSocket: two attempts of four one-second waits" "$([ $took -ge 8 ] && echo yes)" yes
  start_camera '"ws":"no_accept"'
  run no-accept-header
  check "a handshake without the accept header: exit code" $rc "$(exit_code -7)"
  check "a handshake without the accept header: result" "$result" err-5
  start_camera '"ws":"silent"'
  run no-handshake-answer
  check "no answer to the handshake: exit code" $rc "$(exit_code -7)"
  check "no answer to the handshake: the diagnostics log says so, for each attempt" \
    "$(grep -c 'took the TCP connection but has not answered the WebSocket handshake' "$(newest_log)")" 2
else
  echo "== Wi-Fi recovery =="
  mkdir -p "$(root_path cfg)"
  printf 'CameraAP\r\n' >"$(root_path cfg/profile_name.cfg)"
  start_camera '"answer":"fail"' '"version_after":"2.0.16"' '"wifi_down_fetches":2'
  run wifi-recovered
  check "failure, then the camera shows 2.0.16: result" "$result" ok0
  check "Wi-Fi rejoined with the profile name" "$(grep -c -E 'connect CameraAP|con up CameraAP' "$E2E_COMMAND_LOG")" 3
  check "the information file asked again until it answered" "$(camera_saw http_away | wc -l)" 2
  start_camera '"close_after_command":true' '"version_after":"2.0.16"'
  run wifi-channel-closed short
  check "the channel closed after the command over Wi-Fi: the recovery asked the camera" "$result" ok0
  check "the channel closed after the command over Wi-Fi: the full wait first" "$([ $took -ge 3 ] && echo yes)" yes
  start_camera '"close_after_handshake_ms":100'
  FACUP_TEST_REPLY_LIMIT=120 run wifi-closed-before-command short
  check "the channel closed before the command over Wi-Fi: result" "$result" err0
  check "the channel closed before the command over Wi-Fi: noticed at once" "$([ $took -lt 90 ] && echo yes)" yes
  check "the channel closed before the command over Wi-Fi: no recovery, no rejoin" \
    "$(grep -c -E 'wlan|con ' "$E2E_COMMAND_LOG") $(camera_saw command | wc -l)" "0 0"
  start_camera '"answer":"fail"'
  run wifi-still-old
  check "failure, then the camera shows its old version: result" "$result" err0
  start_camera '"info_body":"QUORVANE_CAM418S"' '"answer":"fail"' '"version_after":"2.0.15"'
  run wifi-no-first-version
  check "no version at first, an old one after: a failure all the same" "$result" err0
fi

e2e_finish
