# A whole upgrade in interactive mode under Wine with an X server: the start-up warning is answered
# with OK, the success box is kept as a screenshot (a test artefact) and closed with OK.
# usage (inside sandbox): success_box.sh windows <tool> <scratch dir> <artefact dir>
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" "$3" display
artefacts=$4
mkdir -p "$artefacts"
start_camera

run_tool "$E2E_SCRATCH/run" >"$E2E_SCRATCH/run.out" 2>&1 &
tool=$!
if wid=$(wait_for_box 60); then
  press "$wid" Return
  # The next box is the outcome: it appears once the camera has answered.
  if box=$(wait_for_box 90 "$wid"); then
    sleep 0.5
    import -window root "$artefacts/success-box.png"
    check "the outcome box appears while the file server still runs (clean-up after the box)" \
      "$(test -n "$(servers_running)" && echo yes)" yes
    press "$box" Return
  else
    check "the outcome box appeared" no yes
  fi
else
  check "the start-up warning appeared" no yes
fi
wait $tool
check "exit code" $? 0
check "the camera answered ok" "$(camera_saw ws_send | grep -c 'res[^a-z]*ok')" 1
check "nothing left running after OK" "$(servers_left)" ""
e2e_finish
