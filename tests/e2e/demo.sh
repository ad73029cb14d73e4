# One upgrade of the simulated camera, shown step by step (run by scripts/demo inside the sandbox).
# usage: demo.sh <linux|windows> <tool> <scratch dir> <firmware image>
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" "$3"
start_camera

echo "---- the tool's console ($(basename "$E2E_TOOL") -s) ----"
# A 40 Mbit/s link: the image takes about 3 s, so the camera's download shows as it goes.
throttle_link 40mbit
started=$SECONDS
# The Windows tool writes its texts in GBK; the terminal shows UTF-8.
to_terminal() { if [ "$E2E_TARGET" = windows ]; then iconv -f GBK -t UTF-8//IGNORE; else cat; fi; }
run_tool "$E2E_SCRATCH/run" -s 2>&1 | to_terminal | tr '\r' '\n' | grep -a -v -e '^\[.\]$' -e '^$'
rc=${PIPESTATUS[0]}
echo "---- result ----"
echo "exit code:            $rc (after $((SECONDS - started)) s)"
echo "flashret.txt:         $(cat "$E2E_SCRATCH/run/flashret.txt" 2>/dev/null)"
echo "---- what the camera saw ----"
python3 - "$E2E_CAMERA_LOG" <<'PY'
import json, sys
for line in open(sys.argv[1]):
    e = json.loads(line)
    kind = e["event"]
    if kind == "http_get":
        print("information file asked: http://%s%s" % (e["host"], e["path"]))
    elif kind == "ws_handshake":
        print("WebSocket handshake:    Host %s, Origin %s" % (e["headers"].get("host"), e["headers"].get("origin")))
    elif kind == "ws_text":
        print("command received:       %s" % e["text"])
    elif kind == "download":
        print("image downloaded:       %s bytes, MD5 %s, gzip header %s" % (e.get("bytes"), e.get("md5"), e.get("gzip")))
    elif kind == "ws_send":
        print("answer sent:            %s" % e["text"])
PY
echo "image MD5 (md5sum):     $(md5sum "$4" | cut -d' ' -f1)"
echo "left running:           $(servers_running | wc -l) file server(s)"
echo "firmware directory:     $(ls "$(root_path firmware)" | wc -l) file(s)"
echo "---- the run's record ($(root_path logs)/runs.jsonl) ----"
tail -n 1 "$(root_path logs/runs.jsonl)"
echo "---- the end of its diagnostics log ----"
tail -n 8 "$(newest_log)"
