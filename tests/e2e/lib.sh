# Helpers for end-to-end scenarios (sourced inside tests/e2e/sandbox).
#   e2e_init <target: linux|windows> <tool binary> <scratch dir> [display]
# then run_tool, root_path, check and e2e_finish. With "display" an X server (Xvfb) is started
# first and DISPLAY names it, so that the tool's message boxes can appear. The scratch directory
# (under Wine with the scenario's prefix in it) goes when the scenario passes and stays when it fails
# (the next run moves it aside: keep_failed_scratch).

e2e_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
e2e_failures=0

e2e_init() {
  E2E_TARGET=$1
  E2E_TOOL=$2
  E2E_SCRATCH=$3
  keep_failed_scratch
  rm -rf "$E2E_SCRATCH"
  mkdir -p "$E2E_SCRATCH"
  trap e2e_stop EXIT
  [ "${4:-}" = display ] && start_display
  if [ "$E2E_TARGET" = windows ]; then
    export FACUP_WINEPREFIX=$E2E_SCRATCH/prefix WINEPREFIX=$E2E_SCRATCH/prefix
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    # The prefix is copied from the template and its wineserver starts here, in this namespace.
    "$e2e_repo/scripts/wine-run" cmd /c exit >/dev/null 2>&1
    E2E_ROOT=$WINEPREFIX/drive_c/quorvane_facup
    # The prefix's netsh records what it is asked to do.
    E2E_COMMAND_LOG=$E2E_SCRATCH/netsh.log
    FACUP_NETSH_LOG=$(tool_path "$E2E_COMMAND_LOG")
    export FACUP_NETSH_LOG
  else
    E2E_ROOT=/var/lib/quorvane_facup
    # nmcli is never the real one here: a recording stand-in comes first on the path.
    E2E_COMMAND_LOG=$E2E_SCRATCH/nmcli.log
    export FACUP_NMCLI_LOG=$E2E_COMMAND_LOG PATH=$e2e_repo/tests/e2e/bin:$PATH
  fi
}

# keep_failed_scratch: a scratch directory that an earlier run left (it failed, or was stopped) is
# moved aside as <scratch>.failed-<UTC time it was last changed>, so that this run does not
# overwrite what shows why; the newest three are kept.
keep_failed_scratch() {
  [ -d "$E2E_SCRATCH" ] || return 0
  mv -T "$E2E_SCRATCH" "$E2E_SCRATCH.failed-$(date -u -r "$E2E_SCRATCH" +%Y%m%dT%H%M%SZ)" 2>/dev/null || return 0
  ls -d "$E2E_SCRATCH".failed-* | sort | head -n -3 | xargs -r rm -rf
}

# tool_path <absolute path>: a path of this machine as the tool names it; under Wine through drive
# Z:, which every prefix maps to / (winepath, itself a Wine program, now and then failed to start
# under load and gave nothing).
tool_path() {
  if [ "$E2E_TARGET" = windows ]; then echo "Z:${1//\//\\}"; else echo "$1"; fi
}

# station_copy: runs from here on use a copy of the tool in $E2E_SCRATCH/station, so that its
# facup.ini (the path in $ini) is this scenario's alone.
station_copy() {
  mkdir -p "$E2E_SCRATCH/station"
  cp "$E2E_TOOL" "$E2E_SCRATCH/station/"
  E2E_TOOL=$E2E_SCRATCH/station/$(basename "$E2E_TOOL")
  ini=$E2E_SCRATCH/station/facup.ini
}

# Starts Xvfb on a free display; a wineserver must start after this to show boxes.
start_display() {
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$E2E_SCRATCH/display" >/dev/null 2>&1 &
  E2E_XVFB=$!
  wait_for 20 test -s "$E2E_SCRATCH/display" || { echo "Xvfb did not start"; exit 1; }
  export DISPLAY=:$(cat "$E2E_SCRATCH/display")
}

# start_camera [JSON members...]: starts the simulated camera in the camera's namespace with the
# given settings (for example '"version":"2.0.16"'); its log is $E2E_CAMERA_LOG. One camera at a
# time: a second start stops the first.
start_camera() {
  stop_camera
  local config=$E2E_SCRATCH/camera.json members
  members=$(IFS=,; echo "$*")
  E2E_CAMERA_LOG=$E2E_SCRATCH/camera.log
  rm -f "$E2E_SCRATCH/camera.ready" "$E2E_CAMERA_LOG"
  printf '{"log":"%s","ready":"%s"%s}\n' "$E2E_CAMERA_LOG" "$E2E_SCRATCH/camera.ready" "${members:+,$members}" >"$config"
  ip netns exec "$E2E_CAM" node "$e2e_repo/tools/camera_sim/camera_sim.js" "$config" >>"$E2E_SCRATCH/camera.out" 2>&1 &
  E2E_CAMERA=$!
  wait_for 20 test -f "$E2E_SCRATCH/camera.ready" || { echo "the simulated camera did not start"; exit 1; }
}

stop_camera() {
  [ -z "${E2E_CAMERA:-}" ] && return 0
  kill "$E2E_CAMERA" 2>/dev/null
  wait "$E2E_CAMERA" 2>/dev/null
  E2E_CAMERA=
}

# The report_url of a station whose collector is start_collector's, as the station guide gives it.
COLLECTOR_URL='http://127.0.0.1:8123/?query=INSERT%20INTO%20facup.runs%20FORMAT%20JSONEachRow&input_format_skip_unknown_fields=1&date_time_input_format=best_effort&input_format_import_nested_json=1'

# start_collector: starts a ClickHouse server on this namespace's loopback (HTTP 8123, native 9000),
# its data under the scratch directory (kept between a stop and the next start), and makes the
# table of the station guide.
start_collector() {
  local dir=$E2E_SCRATCH/clickhouse
  mkdir -p "$dir"
  cp "$e2e_repo/tests/e2e/clickhouse/config.xml" "$e2e_repo/tests/e2e/clickhouse/users.xml" "$dir/"
  (cd "$dir" && exec clickhouse-server --config-file=config.xml >>server.out 2>&1) &
  E2E_COLLECTOR=$!
  wait_for 60 collector_up || { echo "ClickHouse did not start"; tail "$dir"/log/*; exit 1; }
  clickhouse-client --multiquery <"$e2e_repo/collector/runs.sql"
}

stop_collector() {
  [ -z "${E2E_COLLECTOR:-}" ] && return 0
  kill "$E2E_COLLECTOR" 2>/dev/null
  wait "$E2E_COLLECTOR" 2>/dev/null
  E2E_COLLECTOR=
}

collector_up() { collector_query "SELECT 1" >/dev/null; }

# collector_query <SQL>: the rows, tab-separated.
collector_query() { clickhouse-client -q "$1" 2>/dev/null; }

# start_exporter <directory>: serves the *.prom files of the directory on 127.0.0.1:9100.
start_exporter() {
  prometheus-node-exporter --web.listen-address=127.0.0.1:9100 --collector.disable-defaults \
    --collector.textfile --collector.textfile.directory="$1" >>"$E2E_SCRATCH/exporter.out" 2>&1 &
  E2E_EXPORTER=$!
  wait_for 20 curl -sf -o /dev/null http://127.0.0.1:9100/metrics || { echo "node exporter did not start"; exit 1; }
}

stop_exporter() {
  [ -z "${E2E_EXPORTER:-}" ] && return 0
  kill "$E2E_EXPORTER" 2>/dev/null
  wait "$E2E_EXPORTER" 2>/dev/null
  E2E_EXPORTER=
}

# relink_usb: joins this PC to the camera again with a new veth pair on the USB addresses (after a
# scenario took the link away).
relink_usb() {
  local pc=relink$$p cam=relink$$c
  ip link add "$pc" type veth peer name "$cam"
  ip link set "$cam" netns "$E2E_CAM"
  ip addr add 192.168.88.2/24 dev "$pc"
  ip -n "$E2E_CAM" addr add 192.168.88.1/24 dev "$cam"
  ip link set "$pc" up
  ip -n "$E2E_CAM" link set "$cam" up
}

# throttle_link <rate>: limits what this PC sends to the camera (for example 40mbit), so that the
# image download takes seconds and a test can break something during it.
throttle_link() {
  local veth
  for veth in $(pc_links); do
    tc qdisc replace dev "$veth" root tbf rate "$1" burst 64kb latency 2s
  done
}

# pc_links: this PC's ends of its links to the camera (the veth devices in its namespace). ip's
# complaint that it cannot name the peer's namespace (it has no id here) is not shown.
pc_links() { ip -o link show type veth 2>/dev/null | sed -n 's/^[0-9]*: \([^@:]*\).*/\1/p'; }

# camera_saw <event>: the camera log's lines of that event.
camera_saw() { grep "\"event\":\"$1\"" "$E2E_CAMERA_LOG" 2>/dev/null; }

e2e_stop() {
  stop_camera
  stop_collector
  stop_exporter
  if [ "${E2E_TARGET:-}" = windows ]; then
    wineserver -k 2>/dev/null || true
  fi
  [ -z "${E2E_XVFB:-}" ] || kill "$E2E_XVFB" 2>/dev/null || true
}

# end_wine: ends the prefix's Wine programs and waits (at most 30 s) until its wineserver has gone.
end_wine() {
  wineserver -k 2>/dev/null || true
  timeout 30 wineserver -w 2>/dev/null || true
}

# restart_wine [VAR=value...]: ends the prefix's wineserver and starts a new one with the given
# environment (the UI language, for one, is read when it starts).
restart_wine() {
  end_wine
  env "$@" "$e2e_repo/scripts/wine-run" cmd /c exit >/dev/null 2>&1
}

# wait_for_box <seconds> [window]: prints the X window id of the tool's message box once it shows;
# with a window, of a box other than that one. A box that took more than 10 s is noted: Wine's
# first window after a restart in another locale sets up that locale's fonts, slowly under load.
wait_for_box() {
  local started=$SECONDS deadline=$((SECONDS + $1)) wid
  while [ $SECONDS -lt $deadline ]; do
    # Bounded: an X server that another client holds would block xdotool, and the scenario with it.
    wid=$(timeout 10 xdotool search --onlyvisible --class facup.exe 2>/dev/null | grep -v -x "${2:-}" | head -n 1)
    if [ -n "$wid" ]; then
      [ $((SECONDS - started)) -gt 10 ] && e2e_note "a box took $((SECONDS - started)) s to show"
      echo "$wid"
      return 0
    fi
    sleep 0.2
  done
  return 1
}

# press <window> <key>: gives the box the focus and presses the key (Return is OK, Escape Cancel).
press() {
  xdotool windowfocus --sync "$1" >/dev/null 2>&1
  xdotool key "$2"
}

# run_tool <working dir> <arguments...>: runs the tool there and returns its exit code, as the
# shell sees it (a negative code -n shows as 256 - n). The run's record is checked against what the
# run reported (check_run_record).
run_tool() {
  local dir=$1 rc records had_result had_root
  shift
  mkdir -p "$dir"
  records=$(cat "$(root_path logs/runs.jsonl)" 2>/dev/null | wc -l)
  had_result=$(test -e "$dir/flashret.txt" && echo yes)
  had_root=$(test -d "$(root_path)" && echo yes)
  run_tool_once "$dir" "$@"
  rc=$?
  check_run_record "$dir" $rc "$records" "$had_result" "$had_root"
  return $rc
}

# check_run_record <working dir> <exit code> <records before the run> <result file before the run>
# <working root before the run>: when the working root is a directory with a writable logs directory
# after the run, one of the records added since the run began (copies may run side by side) holds
# the run's exit code and, when the run wrote the result file, its result code. A copy that the
# guard refused ends at once: a root that appeared during it is the other copy's, made after it
# ended. A failure is noted in a file, because the run may be a background job: e2e_finish counts it.
check_run_record() {
  local result=- logs
  logs=$(root_path logs)
  [ -d "$(root_path)" ] || return 0
  [ -e "$logs" ] && [ ! -w "$logs" ] && return 0
  [ -z "$5" ] && [ "$2" = "$(exit_code -1)" ] && return 0
  [ -z "$4" ] && [ -e "$1/flashret.txt" ] && result=$(cat "$1/flashret.txt")
  python3 - "$logs/runs.jsonl" "$3" "$2" "$result" >>"$E2E_SCRATCH/run-record.failures" 2>&1 <<'PY'
import json, sys
path, before, code, result = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
try:
    lines = [line for line in open(path, encoding="latin-1").read().split("\n")[before:] if line]
    found = any(r["exit_code"] % 256 == code and result in ("-", r["result"]) for r in map(json.loads, lines))
except (OSError, ValueError, KeyError) as error:
    lines, found = repr(error), False
if not found:
    print("FAILED: run record: none with exit code %d and result %s among %s" % (code, result, lines))
PY
}

# last_record <field>: that field of the newest run record, as JSON.
last_record() {
  tail -n 1 "$(root_path logs/runs.jsonl)" | python3 -c 'import json, sys; print(json.dumps(json.load(sys.stdin)[sys.argv[1]]))' "$1"
}

# last_record_text <field>: that text field of the newest run record (a list: one text a line),
# read as strict UTF-8 (a record that is not UTF-8 or not JSON prints its error instead).
last_record_text() {
  tail -n 1 "$(root_path logs/runs.jsonl)" | python3 -c '
import json, sys
try:
    value = json.loads(sys.stdin.buffer.read().decode("utf-8"))[sys.argv[1]]
    print("\n".join(value) if isinstance(value, list) else value)
except (ValueError, KeyError) as error:
    print("not a UTF-8 JSON record:", error)' "$1"
}

# newest_log: the path of the newest diagnostics log.
newest_log() { ls -t "$(root_path logs)"/run-*.log 2>/dev/null | head -n 1; }

# run_tool_once <working dir> <arguments...>: run_tool without the record's check. The tool starts
# with SIGINT at its default, as a terminal starts it: a job this non-interactive shell puts in the
# background would otherwise ignore SIGINT. E2E_LAUNCH, when set, is a command that starts it (for
# example "setsid", or "env --ignore-signal=HUP" as nohup does).
run_tool_once() {
  local dir=$1
  shift
  if [ "$E2E_TARGET" != windows ]; then
    (cd "$dir" && ${E2E_LAUNCH:-} env --default-signal=INT "$E2E_TOOL" "$@")
    return
  fi
  # Under load, Wine's command interpreter now and then fails to find a program on its path
  # ("Can't recognize 'findstr ...'"), and Wine itself now and then ends at once with status 1 and
  # no output, the tool never started (it prints its banner first, and 1 is none of its exit
  # codes): faults of the test machine, not of the tool. A run that such a fault stopped before it
  # reached the camera (a missed findstr of the link's discovery ends it with -2) is run once more;
  # a run that went further is not, as a second run would repeat what the camera and the recording
  # netsh saw (and a run stopped on purpose would start again): its fault is only noted, beside the
  # checks it fails. One such fault is mended: a kill of the clean-up that Wine could not start
  # (the run names it) is run here as the tool gave it, so that the file server the tool meant to
  # end does not stay to fail the next checks.
  local out rc attempt kill
  out=$(mktemp "$E2E_SCRATCH/.run_tool.XXXXXX")
  for attempt in 1 2; do
    (cd "$dir" && ${E2E_LAUNCH:-} env --default-signal=INT "$e2e_repo/scripts/wine-run" "$E2E_TOOL" "$@") >"$out" 2>&1
    rc=$?
    grep -a -q "Can't recognize '" "$out" || { [ $rc -eq 1 ] && [ ! -s "$out" ]; } || break
    if [ $rc -ne 1 ] && [ $rc -ne "$(exit_code -2)" ]; then
      e2e_note "Wine missed a program in a run in $dir that went on (exit status $rc); not run again"
      grep -a -o "Can't recognize 'taskkill [^']*'" "$out" | sed "s/^Can't recognize '//; s/'\$//" |
        while IFS= read -r kill; do
          (cd "$dir" && "$e2e_repo/scripts/wine-run" cmd /c "$kill") >/dev/null 2>&1
          e2e_note "the harness ran the clean-up's '$kill' that Wine missed"
        done
      break
    fi
    [ $attempt = 2 ] && break
    e2e_note "Wine missed a program in a run in $dir (exit status $rc, $(wc -c <"$out") bytes of output); it ran again"
    rm -f "$dir/flashret.txt"
  done
  cat "$out"
  rm -f "$out"
  return $rc
}

# servers_running: the tool's file servers still running (their process lines), if any.
servers_running() {
  if [ "$E2E_TARGET" = windows ]; then
    "$e2e_repo/scripts/wine-run" tasklist 2>/dev/null | grep -i -E 'shttpd|node\.exe' || true
  else
    pgrep -a -f '^/var/lib/quorvane_facup/units/' || true
  fi
}

# servers_left: the file servers still running (as servers_running) once those that a run's clean-up
# killed have had up to 10 s to end: a kill returns before the process has gone (under load a
# killed Shttpd.exe stays in Wine's task list for a moment after the tool has ended).
servers_left() {
  local left waits=0
  while left=$(servers_running) && [ -n "$left" ] && [ $waits -lt 20 ]; do
    sleep 0.5
    waits=$((waits + 1))
  done
  [ -z "$left" ] && [ $waits -gt 0 ] && e2e_note "a killed file server ended $waits half-second(s) after the run"
  echo "$left"
}

# run_silent <name> [tool]: one silent run (-s) of the tool, or of the given build of it, in a
# fresh working directory $E2E_SCRATCH/<name> (its output in <name>.out); sets rc and result (the
# content of flashret.txt).
run_silent() {
  local dir=$E2E_SCRATCH/$1
  rm -rf "$dir"
  E2E_TOOL=${2:-$E2E_TOOL} run_tool "$dir" -s >"$dir.out" 2>&1
  rc=$?
  result=$(cat "$dir/flashret.txt" 2>/dev/null)
}

# check_nothing_left <name>: the run left no file server running and no staged file.
check_nothing_left() {
  check "$1: no file server left running" "$(servers_left)" ""
  check "$1: firmware directory empty" "$(ls "$(root_path firmware)" 2>/dev/null)" ""
}

# exit_code <n>: how the shell shows the process exit code n.
exit_code() { echo $(((256 + $1) % 256)); }

# root_path [relative path]: a path under the tool's working root, as this machine sees it.
root_path() { echo "$E2E_ROOT${1:+/$1}"; }

# check <description> <actual> <expected>
check() {
  if [ "$2" = "$3" ]; then
    echo "ok: $1"
  else
    echo "FAILED: $1: got [$2], expected [$3]"
    e2e_failures=$((e2e_failures + 1))
  fi
}

# wait_for <seconds> <command...>: polls the command every 0.1 s; false when it never succeeds.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.1
  done
}

# e2e_note <text>: notes what the harness did about a fault of the test machine; the scenario's
# output ends with its notes, so that a failing run shows them beside its checks.
e2e_note() { echo "note: $*" >>"$E2E_SCRATCH/notes"; }

e2e_finish() {
  [ -s "$E2E_SCRATCH/notes" ] && cat "$E2E_SCRATCH/notes"
  if [ -s "$E2E_SCRATCH/run-record.failures" ]; then
    cat "$E2E_SCRATCH/run-record.failures"
    # Only the checker's own lines count: a program's warnings on stderr (a locale the system lacks)
    # land in the same file.
    e2e_failures=$((e2e_failures + $(grep -c -e '^FAILED: run record' -e '^Traceback' "$E2E_SCRATCH/run-record.failures")))
  fi
  if [ $e2e_failures -gt 0 ]; then
    echo "$e2e_failures check(s) failed"
    exit 1
  fi
  echo "all checks passed"
  remove_scratch
}

# remove_scratch: a passing scenario leaves nothing behind. Its camera, X server and Wine processes
# end first (the wineserver writes into the prefix until it has gone), then the scratch directory.
remove_scratch() {
  trap - EXIT
  e2e_stop
  [ "$E2E_TARGET" = windows ] && wineserver -w 2>/dev/null
  rm -rf "$E2E_SCRATCH" || echo "could not remove $E2E_SCRATCH"
}
