# WebSocket client: round trip of one 300-byte text through the ws package's echo server on
# loopback, median over 200 messages, against a plain Node.js ws client doing the same in the same
# run. Sourced by scripts/bench with $bin (Release binaries) and $out (scratch).

echo "== WebSocket round trip of a 300-byte text, median of 200, ms (goal: ours at most 8 ms) =="
peer_dir=$out/ws-peer
fixture=tests/integration/ws_peer_fixture.py
python3 "$fixture" start "$peer_dir" tools/ws_peer/peer.js >/dev/null
port=$(cat "$peer_dir/port")
ours_runs=()
node_runs=()
# Three rounds, alternating, each a median over 200 messages; the middle round counts.
for _ in 1 2 3; do
  ours_runs+=("$("$bin/ws_rtt" 127.0.0.1 "$port" /echo 200 300 || echo nan)")
  node_runs+=("$(node tools/ws_peer/rtt_client.js "ws://127.0.0.1:$port/echo" 200 300 || echo nan)")
done
python3 "$fixture" stop "$peer_dir"
middle() { printf '%s\n' "$@" | sort -g | sed -n 2p; }
echo "rounds: ours ${ours_runs[*]}; node ${node_runs[*]}"
row "rws client vs node ws client" "$(middle "${ours_runs[@]}")" "node ws" "$(middle "${node_runs[@]}")" 0
