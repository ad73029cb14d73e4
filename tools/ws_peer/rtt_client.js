// Round-trip anchor: the same measurement as tools/ws_rtt with a plain ws client.
// Usage: node rtt_client.js URL COUNT SIZE; prints the median round trip in milliseconds.
'use strict';
const WebSocket = require('ws');

const [url, count, size] = [process.argv[2], Number(process.argv[3]), Number(process.argv[4])];
const text = 'x'.repeat(size);
const times = [];
const ws = new WebSocket(url);
let start = 0n;

function sendNext() {
  const i = times.length;
  const pause = (i * 1237) % 10000; // microseconds, as tools/ws_rtt
  const until = process.hrtime.bigint() + BigInt(pause) * 1000n;
  const go = () => {
    if (process.hrtime.bigint() < until) return setImmediate(go);
    start = process.hrtime.bigint();
    ws.send(text);
  };
  go();
}

ws.on('open', sendNext);
ws.on('message', () => {
  times.push(Number(process.hrtime.bigint() - start) / 1e6);
  if (times.length < count) return sendNext();
  times.sort((a, b) => a - b);
  console.log(times[Math.floor(times.length / 2)].toFixed(3));
  ws.close();
});
ws.on('error', (err) => {
  console.error(`rtt_client: ${err.message}`);
  process.exit(1);
});
