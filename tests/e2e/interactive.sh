# The start-up warning box, with the real tool: OK goes on, Cancel ends the process with 0 at once.
# Windows: under Wine with an X server, buttons pressed with xdotool, screenshots kept as test
# artefacts. Linux: on a terminal (a pseudo-terminal), answered from the keyboard.
# usage (inside sandbox): interactive.sh <linux|windows> <tool> <scratch dir> <artefact dir>
. "$(dirname "$0")/lib.sh"
artefacts=$4
mkdir -p "$artefacts"

if [ "$1" = linux ]; then
  e2e_init "$1" "$2" "$3"
  start_camera
  # answer_on_terminal <answer>: runs the tool on a pseudo-terminal, answers the warning with the
  # given line once it asks, and prints the exit code.
  answer_on_terminal() {
    (cd "$E2E_SCRATCH/run" && python3 "$(dirname "$0")/pty_answer.py" "$1" "$E2E_TOOL")
  }
  mkdir -p "$E2E_SCRATCH/run"
  mkdir -p "$(root_path firmware)" && echo keep >"$(root_path firmware/keep.txt)"
  check "Cancel: exit code" "$(answer_on_terminal c)" 0
  check "Cancel: no result file" "$(ls "$E2E_SCRATCH/run")" ""
  check "Cancel: nothing cleaned up" "$(cat "$(root_path firmware/keep.txt)")" keep
  check "Cancel: the run's record, without an outcome" "$(last_record exit_code) $(last_record outcome)" "0 null"
  check "OK: exit code" "$(answer_on_terminal '')" 0
  check "OK: the run went on (working directories made)" "$(test -d "$(root_path units)" && echo yes)" yes
  e2e_finish
  exit
fi

e2e_init "$1" "$2" "$3" display
start_camera
mkdir -p "$(root_path firmware)" && echo keep >"$(root_path firmware/keep.txt)"

# box_run <name> <key>: starts the tool, waits for its box, keeps a screenshot and the window's
# title, presses the key, answers any later box (the run's outcome) with OK, and returns the tool's
# exit code.
box_run() {
  run_tool "$E2E_SCRATCH/$1" >"$E2E_SCRATCH/$1.out" 2>&1 &
  local tool=$! wid
  if ! wid=$(wait_for_box 90); then
    echo "no box appeared"
    kill $tool 2>/dev/null
    return 99
  fi
  import -window root "$artefacts/startup-warning-$1.png"
  xdotool getwindowname "$wid" >"$E2E_SCRATCH/$1.title"
  press "$wid" "$2"
  local deadline=$((SECONDS + 120)) next
  while kill -0 $tool 2>/dev/null && [ $SECONDS -lt $deadline ]; do
    next=$(xdotool search --onlyvisible --class facup.exe 2>/dev/null | grep -v "^$wid\$" | head -n 1)
    [ -n "$next" ] && press "$next" Return
    sleep 0.5
  done
  wait $tool
}

box_run english-cancel Escape
check "Cancel: exit code" $? 0
check "Cancel: no result file" "$(ls "$E2E_SCRATCH/english-cancel")" ""
check "Cancel: nothing cleaned up" "$(cat "$(root_path firmware/keep.txt)")" keep
check "English caption" "$(cat "$E2E_SCRATCH/english-cancel.title")" "Quorvane Camera Factory Upgrade Tool v2.91"

box_run english-ok Return
check "OK: exit code" $? 0
check "OK: the run went on (working directories made)" "$(test -d "$(root_path units)" && echo yes)" yes

restart_wine LC_ALL=zh_CN.UTF-8
export LC_ALL=zh_CN.UTF-8
box_run chinese-cancel Escape
check "Chinese: exit code" $? 0
check "Chinese caption" "$(cat "$E2E_SCRATCH/chinese-cancel.title")" "类Quorvane相机出厂升级工具 v2.91"

e2e_finish
