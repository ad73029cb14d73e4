# Run records delivered to a ClickHouse collector and the station's metrics file, beside a copy of
# the real tool: a delivered row; three runs while the collector is stopped, then one that delivers
# all four; a figure of each of the supervisor's queries over hand-made rows; records of every road
# (ended early, confirmed, refused by the guard, interrupted) read back member by member, a record
# cut short set aside, a record without a station; a collector that answers 500, one that never
# answers, one with an untrusted certificate and one whose name's lookup never ends (result and exit
# code unchanged, delivery within its bound, the record kept); the metrics file checked by promtool
# and served by the node exporter.
# usage (inside sandbox): collector.sh <linux|windows> <tool> <scratch dir>
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" "$3"
station_copy
mkdir -p "$E2E_SCRATCH/textfile"
outbox=$(root_path logs/outbox)
start_camera '"version_after":"2.0.15"'
start_collector

metrics=$E2E_SCRATCH/textfile/facup.prom
# settings <report_url> [more lines]: the station's facup.ini.
settings() {
  printf 'report_url = %s\r\nreport_seconds = 2\r\nmetrics_file = %s\r\n' "$1" "$(tool_path "$metrics")" >"$ini"
  shift
  [ $# -eq 0 ] || printf '%s\r\n' "$@" >>"$ini"
}
outbox_files() { ls "$outbox" 2>/dev/null | grep -c '\.json$'; }
rows() { collector_query "SELECT uniqExact(run_id) FROM facup.runs"; }
# upgrade <name>: one silent run that must upgrade the camera as it would without delivery.
upgrade() {
  run_silent "$1"
  check "$1: result" "$result" ok0
  check "$1: exit code" "$rc" 0
  check_nothing_left "$1"
}
# delivery_seconds: from the newest log, the seconds between its first and last delivery line.
delivery_seconds() {
  python3 - "$(newest_log)" <<'PY'
import re, sys, datetime
times = [datetime.datetime.strptime(m.group(1), "%Y-%m-%dT%H:%M:%S.%fZ") for m in
         (re.match(r"(\S+) .*(deliver|outbox)", line) for line in open(sys.argv[1], encoding="latin-1")) if m]
print("%.1f" % ((times[-1] - times[0]).total_seconds() if times else -1))
PY
}

# unflushed_renames <trace>: from a trace of the tool's opens, fsyncs and renames, each file that
# replaced another (a record, the metrics file) without reaching the disk first; then how many did.
unflushed_renames() {
  python3 - "$1" <<'PY'
import re, sys
opened, flushed, renamed = {}, set(), 0
for line in open(sys.argv[1]):
    m = re.match(r'(\d+)\s+(\w+)\((.*)\)\s+=\s+(-?\d+)', line)
    if not m:
        continue
    pid, call, args, result = m.groups()
    paths = re.findall(r'"([^"]*)"', args)
    if call == "openat" and "O_CREAT" in args and paths:
        opened[(pid, result)] = paths[0]
    elif call == "fsync":
        flushed.add(opened.get((pid, args)))
    elif call.startswith("rename") and paths and paths[0].endswith(".tmp"):
        renamed += 1
        if paths[0] not in flushed:
            print("not flushed before its rename:", paths[0])
print(renamed, "replaced")
PY
}

echo "== delivered: the run's row in the collector =="
settings "$COLLECTOR_URL"
if [ "$E2E_TARGET" = linux ]; then
  # This run's file calls traced: the record in the outbox and the metrics file each reach the disk
  # before they replace their file (a power loss never leaves half of them).
  printf '#!/bin/sh\nexec strace -f -qq -o "%s" -e trace=openat,fsync,rename,renameat,renameat2 "%s" "$@"\n' \
    "$E2E_SCRATCH/trace" "$E2E_TOOL" >"$E2E_SCRATCH/traced"
  chmod +x "$E2E_SCRATCH/traced"
  E2E_TOOL=$E2E_SCRATCH/traced upgrade delivered
  check "delivered: files flushed before their rename" "$(unflushed_renames "$E2E_SCRATCH/trace")" "2 replaced"
else
  upgrade delivered
fi
id=$(last_record run_id | tr -d '"')
check "delivered: run id is 32 hex digits" "$(echo "$id" | grep -c -x '[0-9a-f]\{32\}')" 1
check "delivered: the row" "$(collector_query "SELECT result, exit_code, station != '', confirm.mode FROM facup.runs FINAL WHERE run_id = '$id'")" \
  "ok0	0	1	off"
stages=$(last_record stages)
columns=$(echo "$stages" | python3 -c 'import json, sys; print(", ".join("`stages.%s`" % k for k in json.load(sys.stdin)))')
check "delivered: every stage's seconds" "$(collector_query "SELECT $columns FROM facup.runs FINAL WHERE run_id = '$id'" |
  python3 -c 'import json, sys; print([float(v) for v in sys.stdin.read().split()] == list(json.loads(sys.argv[1]).values()))' "$stages")" True
check "delivered: outbox empty" "$(outbox_files)" 0
check "delivered: the log's first line names the run id" "$(head -n 1 "$(newest_log)" | grep -c "$id")" 1

echo "== the collector stopped: three runs keep their records =="
stop_collector
for n in 1 2 3; do upgrade "away$n"; done
check "away: three records wait" "$(outbox_files)" 3
check "away: the last run counted two waiting when it began" "$(last_record outbox)" 2

echo "== the collector back: the next run delivers all four =="
start_collector
upgrade back
check "back: outbox empty" "$(outbox_files)" 0
check "back: five runs in the collector" "$(rows)" 5
check "back: the waiting three counted" "$(last_record outbox)" 3
# Every run so far upgraded: the first day's yield is 1 (whatever day the runs fell on).
yield_row=$(clickhouse-client --multiquery <"$e2e_repo/collector/queries.sql" 2>&1 | head -n 1 | cut -f 5)
check "back: the supervisor's queries run; the yield" "$yield_row" 1

echo "== the supervisor's questions over hand-made runs of a day long past =="
# supervisor <heading> [sed script]: the rows of the query of collector/queries.sql whose comment
# begins with heading, its text changed by the sed script.
supervisor() {
  python3 - "$e2e_repo/collector/queries.sql" "$1" <<'PY' | sed "${2:-}" | clickhouse-client 2>&1
import sys
blocks = [b for b in open(sys.argv[1], encoding="utf-8").read().split("\n\n") if b.startswith("-- " + sys.argv[2])]
print(blocks[0] if len(blocks) == 1 else "SELECT 'no single query begins so'")
PY
}
# Units 1 to 5 (02:00:00:00:00:0N) on two stations: 1 fails at a, then is upgraded at b; 2 is
# checked at b before its upgrade at a; 3 fails twice (first at a station whose name was unknown);
# 4 fails, then a check at a finds it current (outcome 6); 5 is upgraded by a tool older than run_kind
# (''); one failure of an unknown unit.
collector_query "INSERT INTO facup.runs (run_id, time, tool, station, mode, run_kind, camera_mac, result, outcome,
  version_before, seconds) VALUES
  ('h01', '2001-02-03 07:00:00', '1.0.3', 'hand-b', 'silent', 'check', '02:00:00:00:00:02', 'chk0', NULL, '2.0.15', 1),
  ('h02', '2001-02-03 08:00:00', '1.0.3', 'hand-a', 'silent', 'upgrade', '02:00:00:00:00:01', 'err0', 21, '2.0.15', 1),
  ('h03', '2001-02-03 09:00:00', '1.0.3', 'hand-b', 'silent', 'upgrade', '02:00:00:00:00:01', 'ok0', 19, '2.0.15', 1),
  ('h04', '2001-02-03 08:10:00', '1.0.3', 'hand-a', 'silent', 'upgrade', '02:00:00:00:00:02', 'ok0', 19, '2.0.15', 1),
  ('h05', '2001-02-03 08:20:00', '1.0.3', NULL, 'silent', 'upgrade', '02:00:00:00:00:03', 'err0', 21, NULL, 1),
  ('h06', '2001-02-03 11:00:00', '1.0.3', 'hand-a', 'silent', 'upgrade', '02:00:00:00:00:03', NULL, NULL, '2.0.14', 1),
  ('h07', '2001-02-03 08:30:00', '1.0.3', 'hand-a', 'silent', 'upgrade', '02:00:00:00:00:04', 'err0', 21, '2.0.15', 1),
  ('h08', '2001-02-03 12:00:00', '1.0.3', 'hand-a', 'silent', 'check', '02:00:00:00:00:04', 'err-2', 6, '2.0.16', 1),
  ('h09', '2001-02-03 08:40:00', '1.0.3', 'hand-a', 'silent', '', '02:00:00:00:00:05', 'ok0', 19, '2.0.15', 1),
  ('h10', '2001-02-03 08:50:00', '1.0.3', 'hand-a', 'silent', 'upgrade', NULL, 'err0', 21, '2.0.15', 1)"
check "queries: yield of station a, upgrade runs only" "$(supervisor "Yield per" | grep -P '^2001-02-03\thand-a\t' | cut -f 3-)" \
  "6	2	0.333"
check "queries: first-pass yield of station a, each unit by its first upgrade of the day" \
  "$(supervisor "First-pass" | grep -P '^2001-02-03\thand-a\t' | cut -f 3-)" "4	2	0.5"
check "queries: the one unit that failed and was never upgraded later" \
  "$(supervisor "Units that failed" | grep '^02:00:00:00:00:0' | cut -f 1,2,4,6)" "02:00:00:00:00:03	2	hand-a	2.0.14"
check "queries: the history of unit 1, newest first" \
  "$(supervisor "The history of one unit" "s/ca:7b:cc:57:30:1f/02:00:00:00:00:01/" | cut -f 2,4 | tr '\n\t' '; ')" \
  "hand-b ok0;hand-a err0;"

echo "== every road's record in the collector, member by member =="
# tool_process: the running tool's process (under Wine, the Wine process that runs facup.exe).
tool_process() {
  local pid name
  name=$(basename "$E2E_TOOL")
  for pid in $(pgrep -f "$name"); do
    tr '\0' '\n' <"/proc/$pid/cmdline" 2>/dev/null | head -n 1 | grep -q -E "(^|[/\\\\])$name\$" && echo "$pid"
  done
}
# unmatched_members: what of the records in runs.jsonl the collector lacks: each row, every member
# the record carries (not null) as a non-NULL column of the table, and each stage's seconds.
unmatched_members() {
  python3 - "$(root_path logs/runs.jsonl)" <<'PY'
import json, subprocess, sys
records = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8") if line.strip()]
ids = ",".join("'%s'" % r["run_id"] for r in records)
out = subprocess.run(["clickhouse-client", "-q", "SELECT * FROM facup.runs FINAL WHERE run_id IN (%s) "
                      "FORMAT JSONEachRow" % ids], capture_output=True, text=True).stdout
rows = {row["run_id"]: row for row in map(json.loads, out.splitlines())}
for r in records:
    row = rows.get(r["run_id"])
    if row is None:
        print("no row for", r["run_id"], r.get("result"))
        continue
    members = {k: v for k, v in r.items() if not isinstance(v, dict)}
    members.update({"stages." + k: v for k, v in r["stages"].items()})
    members.update({"confirm." + k: v for k, v in r["confirm"].items() if not isinstance(v, list)})
    for key, value in members.items():
        if value is not None and key in row and row[key] is None:
            print("%s: %s is %r in the record, NULL in the collector" % (r["run_id"], key, value))
        elif key.startswith("stages.") and (key not in row or abs(float(row[key]) - value) > 1e-9):
            print("%s: %s is %r in the record, %r in the collector" % (r["run_id"], key, value, row.get(key)))
PY
}
# Roads that end early: the camera away, a model refused, the target version already there, the
# camera's "fail".
stop_camera
run_silent absent
check "absent: exit code" "$rc" "$(exit_code -3)"
start_camera '"model":"QUORVANE_CAM_419X"'
run_silent other-model
check "other model: result" "$result" err-2
start_camera '"version":"2.0.16"'
run_silent newest
check "newest: result" "$result" err-2
start_camera '"answer":"fail"'
run_silent failed
check "failed: result" "$result" err0
# A confirmed upgrade.
settings "$COLLECTOR_URL" "confirm = record"
start_camera '"reboot_ms":2000'
upgrade confirmed
check "confirmed: the record" "$(last_record confirm | python3 -c 'import json, sys; print(json.load(sys.stdin)["confirmed"])')" True
settings "$COLLECTOR_URL"
# A copy refused while another runs, then that run stopped from outside: both only keep their record.
start_camera '"answer":"none"'
mkdir -p "$E2E_SCRATCH/held"
run_tool_once "$E2E_SCRATCH/held" -s >"$E2E_SCRATCH/held.out" 2>&1 &
held=$!
wait_for 60 sh -c "grep -q '\"event\":\"no_answer\"' '$E2E_CAMERA_LOG'" || echo "the held run never waited for the answer"
run_silent refused-copy
check "refused copy: exit code" "$rc" "$(exit_code -1)"
if [ "$E2E_TARGET" = windows ]; then signal=INT event=CTRL_C_EVENT; else signal=TERM event=SIGTERM; fi
kill -$signal $(tool_process)
wait $held
check "interrupted: its record" "$(last_record interrupted)" "\"$event\""
# A record cut short (a power loss) in the outbox: refused as malformed, set aside for good.
cut_id=000000000001$(printf 'c%.0s' $(seq 20))
head -c 100 "$(root_path logs/runs.jsonl)" >"$outbox/$cut_id.json"
start_camera '"version_after":"2.0.15"'
upgrade last-road
check "roads: outbox empty" "$(outbox_files)" 0
check "roads: the record cut short set aside" "$(ls "$outbox/refused")" "$cut_id.json"
check "roads: every member and stage of every record in its column" "$(unmatched_members)" ""
# A PC whose name cannot be read sends "station": null; without input_format_import_nested_json=1
# the collector takes a record but leaves its stages NULL.
for name in station:"$COLLECTOR_URL" nested:"${COLLECTOR_URL%&input_format_import_nested_json=1}"; do
  id=$(printf '%s' "${name%%:*}" | md5sum | cut -c1-32)
  record=$(tail -n 1 "$(root_path logs/runs.jsonl)" | python3 -c '
import json, sys
r = json.load(sys.stdin)
r["run_id"], r["station"] = sys.argv[1], None
print(json.dumps(r))' "$id")
  check "${name%%:*}: taken" "$(curl -s -o /dev/null -w '%{http_code}' --data-binary "$record" "${name#*:}")" 200
done
check "station null: read back with its stages" \
  "$(collector_query "SELECT isNull(station), isNotNull(\`stages.guard\`) FROM facup.runs WHERE run_id = '$(printf station | md5sum | cut -c1-32)'")" "1	1"
check "without nested JSON import: no stages" \
  "$(collector_query "SELECT isNull(\`stages.guard\`), isNull(\`confirm.mode\`) FROM facup.runs WHERE run_id = '$(printf nested | md5sum | cut -c1-32)'")" "1	1"

echo "== collectors that fail: the result stands, the bound holds, the record waits =="
python3 "$e2e_repo/tests/e2e/bad_collector.py" 8500 500 >>"$E2E_SCRATCH/bad.out" 2>&1 &
bad500=$!
python3 "$e2e_repo/tests/e2e/bad_collector.py" 8501 silent >>"$E2E_SCRATCH/bad.out" 2>&1 &
silent=$!
openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -days 2 -keyout "$E2E_SCRATCH/key.pem" \
  -out "$E2E_SCRATCH/cert.pem" >/dev/null 2>&1
openssl s_server -quiet -accept 8443 -cert "$E2E_SCRATCH/cert.pem" -key "$E2E_SCRATCH/key.pem" -www \
  >/dev/null 2>&1 </dev/null &
untrusted=$!
# This namespace's resolver: a DNS server on its loopback that reads each question and never
# answers, so that a collector's name is never resolved (the system's resolver would wait 150 s).
python3 -u -c 'import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 53))
while True:
    s.recv(4096)
    print("question", flush=True)' >"$E2E_SCRATCH/dns.log" 2>&1 &
deaf_dns=$!
printf 'nameserver 127.0.0.1\noptions timeout:30 attempts:5\n' >"$E2E_SCRATCH/resolv.conf"
printf 'hosts: files dns\n' >"$E2E_SCRATCH/nsswitch.conf"
mount --bind "$E2E_SCRATCH/resolv.conf" /etc/resolv.conf
mount --bind "$E2E_SCRATCH/nsswitch.conf" /etc/nsswitch.conf
wait_for 10 curl -s -o /dev/null http://127.0.0.1:8501/ --max-time 0.2 || true
for bad in "500 http://127.0.0.1:8500/" "silent http://127.0.0.1:8501/" "untrusted https://127.0.0.1:8443/" \
  "unresolved http://collector.line4.test:8123/"; do
  set -- $bad
  settings "$2"
  began=$SECONDS
  upgrade "$1"
  took=$(delivery_seconds)
  check "$1: delivery within report_seconds + 1 s (took $took s)" "$(echo "$took" | awk '{ print ($1 >= 0 && $1 <= 3.0) }')" 1
  check "$1: the run ends without waiting for the collector ($((SECONDS - began)) s)" "$((SECONDS - began < 100))" 1
  check "$1: the record waits" "$(outbox_files)" 1
  rm -f "$outbox"/*.json
done
check "unresolved: the lookup asked this namespace's resolver" "$(grep -c -m 1 question "$E2E_SCRATCH/dns.log")" 1
umount /etc/resolv.conf /etc/nsswitch.conf
kill $bad500 $silent $untrusted $deaf_dns 2>/dev/null
wait $bad500 $silent $untrusted $deaf_dns 2>/dev/null

echo "== the metrics file: promtool, and the node exporter beside a torn and a foreign file =="
check "metrics: promtool" "$(promtool check metrics <"$metrics" 2>&1)" ""
printf 'facup_runs_total{result="ok0"} 99\nfacup_ru' >"$metrics.tmp"
printf '# HELP line_speed Foreign series.\n# TYPE line_speed gauge\nline_speed 3\n' >"$E2E_SCRATCH/textfile/line.prom"
start_exporter "$E2E_SCRATCH/textfile"
served=$(curl -s http://127.0.0.1:9100/metrics)
check "metrics: runs counted" "$(echo "$served" | grep '^facup_runs_total{result="ok0"}')" 'facup_runs_total{result="ok0"} 11'
check "metrics: the record refused for good" "$(echo "$served" | grep '^facup_outbox_refused')" "facup_outbox_refused 1"
check "metrics: exit code" "$(echo "$served" | grep '^facup_last_run_exit_code')" "facup_last_run_exit_code 0"
check "metrics: outbox" "$(echo "$served" | grep '^facup_outbox_records')" "facup_outbox_records 1"
check "metrics: the foreign file too" "$(echo "$served" | grep '^line_speed')" "line_speed 3"
check "metrics: no read error" "$(echo "$served" | grep '^node_textfile_scrape_error')" "node_textfile_scrape_error 0"
check "metrics: info" "$(echo "$served" | grep -c '^facup_info{firmware="2.0.16",version="1.0.3"} 1')" 1

echo "== a backlog drained in batches (report_batch = 500) =="
# plant_backlog <series> <count> [n]: that many records in the outbox, copies of the newest record
# with ids of their own series, older than any run's; the n-th (from 0) cut short, as a power loss
# leaves one.
plant_backlog() {
  python3 - "$(root_path logs/runs.jsonl)" "$outbox" "$1" "$2" "${3:--1}" <<'PY'
import json, sys
line = open(sys.argv[1], encoding="utf-8").read().splitlines()[-1]
record = json.loads(line)
for n in range(int(sys.argv[4])):
    record["run_id"] = "%012x%020x" % (int(sys.argv[3]), n)
    text = line[:100] if n == int(sys.argv[5]) else json.dumps(record)
    open("%s/%s.json" % (sys.argv[2], record["run_id"]), "w").write(text + "\n")
PY
}
rm -rf "$outbox/refused"
before=$(rows)
plant_backlog 1 3000
settings "$COLLECTOR_URL" "report_batch = 500" "report_seconds = 10"
upgrade backlog
check "backlog: 3,000 records and the run's own delivered in one run" "$(($(rows) - before))" 3001
check "backlog: outbox empty" "$(outbox_files)" 0
check "backlog: in batches of 500" "$(grep -c 'delivery of 500 records' "$(newest_log)")" 6
before=$(rows)
plant_backlog 2 4 1
upgrade batch-refused
check "a batch with one record refused: the others and the run's own delivered" "$(($(rows) - before))" 4
check "a batch with one record refused: only it set aside" "$(ls "$outbox/refused") $(outbox_files)" \
  "$(printf '%012x%020x' 2 1).json 0"
python3 "$e2e_repo/tests/e2e/bad_collector.py" 8502 stall >>"$E2E_SCRATCH/bad.out" 2>&1 &
stall=$!
wait_for 10 curl -s -o /dev/null http://127.0.0.1:8502/ --max-time 0.2 || true
plant_backlog 3 600
settings "http://127.0.0.1:8502/" "report_batch = 500"
upgrade stalled
took=$(delivery_seconds)
check "a collector that stalls mid-batch: delivery within report_seconds + 1 s (took $took s)" \
  "$(echo "$took" | awk '{ print ($1 >= 0 && $1 <= 3.0) }')" 1
check "a collector that stalls mid-batch: nothing lost" "$(outbox_files)" 601
kill $stall 2>/dev/null
wait $stall 2>/dev/null

echo "== no report_url: no outbox =="
rm -rf "$outbox" "$ini"
upgrade plain
check "plain: no outbox folder" "$(test -e "$outbox" && echo made)" ""

e2e_finish
