# Link discovery, the information-file fetch and the eligibility refusals, with the real tool and
# the simulated camera.
# usage (inside sandbox): link.sh <linux|windows> <tool> <scratch dir> <link: usb|wifi|both|none>
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" "$3"
link=$4

# The Host header of the camera's latest information-file request: the address the tool chose.
asked_host() { camera_saw http_get | tail -n 1 | sed 's/.*"host":"\([^"]*\)".*/\1/'; }

case $link in
  none)
    run_silent no-link
    check "no address on either link: exit code" $rc "$(exit_code -2)"
    check "no address on either link: result" "$result" err-4
    e2e_finish
    exit
    ;;
  wifi)
    start_camera
    run_silent wifi
    check "Wi-Fi link: exit code" $rc 0
    check "Wi-Fi link: the camera asked at 10.0.0.1" "$(asked_host)" 10.0.0.1
    e2e_finish
    exit
    ;;
  both)
    start_camera
    run_silent both
    check "both links: exit code" $rc 0
    check "both links: the USB link wins" "$(asked_host)" 192.168.88.1
    e2e_finish
    exit
    ;;
esac

echo "== the information file =="
start_camera
run_silent present
check "200: the camera is present (exit code)" $rc 0
check "200: asked at 192.168.88.1" "$(asked_host)" 192.168.88.1
check "200: the information file is cleaned up" "$(ls -A "$E2E_SCRATCH/present" | grep -c deviceRelateInfo)" 0
start_camera '"http":"404"'
run_silent not-found
# Present all the same (any completed exchange is an answer); with no file to parse, the run then
# ends silently.
check "404: present, then no information file (exit code)" $rc "$(exit_code -4)"
check "404: no result" "$result" ""
start_camera '"http":"off"'
started=$SECONDS
run_silent silent
check "nothing listening: exit code" $rc "$(exit_code -3)"
check "nothing listening: result" "$result" err0
# A refused connection ends the fetch at once; the bound leaves room for a loaded machine's start-up.
check "nothing listening: ends at once, without retries" "$([ $((SECONDS - started)) -le 30 ] && echo yes)" yes

echo "== eligibility =="
# eligibility <name> <expected exit code> <expected result> <camera settings...>
eligibility() {
  local name=$1 code=$2 expected=$3
  shift 3
  start_camera "$@"
  run_silent "$name"
  check "$name: exit code" $rc "$(exit_code "$code")"
  check "$name: result" "$result" "$expected"
}
eligibility accepted-model 0 ok0 '"model":"QUORVANE_CAM418S","version":"2.0.15"'
eligibility first-burn -5 err-2 '"model":"QUORVANE_CAM418","version":"2.0.15"'
eligibility invalid-model -5 err-2 '"model":"QUORVANE_CAM_419","version":"2.0.15"'
eligibility same-version -6 err-2 '"version":"2.0.16"'
eligibility same-version-lf -6 err-2 '"info_body":"QUORVANE_CAM418S*ver:2.0.16\n"'
eligibility no-model-old-version -7 err-3 '"info_body":"camera*ver:1.3.66"'
eligibility no-model-newer-version 0 ok0 '"info_body":"camera*ver:1.3.67"'
eligibility ten-bytes -4 "" '"info_body":"0123456789"'
mkdir -p "$(root_path firmware)"
head -c 1024 /dev/zero >"$(root_path firmware/index-4110.fits)"
eligibility no-model-old-version-with-database 0 ok0 '"info_body":"camera*ver:1.3.66"'
check "the clean-up removed the database with the firmware directory's files" \
  "$(ls "$(root_path firmware)")" ""

e2e_finish
