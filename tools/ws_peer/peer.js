// WebSocket test peer on the ws package, listening on 127.0.0.1 at an ephemeral port.
// Usage: node peer.js --port-file FILE [--lifetime SECONDS]
// The port is written to FILE once the server listens; the peer ends by itself after the lifetime
// (default 900 s) so a lost peer never lingers. What it does depends on the request path:
//   /              sends every text back, and closes (code 1000) on the text "close me"
//   /echo          sends every text and binary message back as it came
//   /ping          sends a ping "srv-ping"; answers the client's pong with the text "pong:<payload>"
//   /fragment      sends the text "abc" as two fragments "ab" + "c", then "done"
//   /close         closes with code 1000 once the connection is open
//   /big           sends a 300-byte text, a 1,000,000-byte text and the binary bytes 01 02 03
//   /watch?id=X    records how the client's side of the connection ends
//   /report?id=X   sends the record of /watch?id=X ("none" while there is none)
'use strict';
const fs = require('fs');
const { WebSocketServer } = require('ws');

function option(name, fallback) {
  const i = process.argv.indexOf(name);
  return i > 0 && i + 1 < process.argv.length ? process.argv[i + 1] : fallback;
}

const portFile = option('--port-file', null);
const lifetime = Number(option('--lifetime', '900'));
const records = new Map();

// What the server sends on its own waits a moment after the upgrade, so that the client sees the
// connection open before the first frame whatever the timing of its reads.
const later = (fn) => setTimeout(fn, 100);

const pattern = (n, seed) => Array.from({ length: n }, (_, i) => String.fromCharCode(97 + ((i * 7 + seed) % 26))).join('');

const handlers = {
  '/': (ws) => ws.on('message', (data) => (data.toString() === 'close me' ? ws.close(1000) : ws.send(data.toString()))),
  '/echo': (ws) => ws.on('message', (data, isBinary) => ws.send(data, { binary: isBinary })),
  '/ping': (ws) => {
    ws.on('pong', (data) => ws.send('pong:' + data.toString()));
    later(() => ws.ping('srv-ping'));
  },
  '/fragment': (ws) => later(() => {
    ws.send('ab', { fin: false });
    ws.send('c', { fin: true });
    ws.send('done');
  }),
  '/close': (ws) => later(() => ws.close(1000, 'bye')),
  '/big': (ws) => later(() => {
    ws.send(pattern(300, 1));
    ws.send(pattern(1000000, 3));
    ws.send(Buffer.from([1, 2, 3]), { binary: true });
  }),
  '/watch': (ws, id) => {
    const texts = [];
    ws.on('message', (data) => texts.push(data.toString()));
    ws.on('error', (err) => records.set(id, `error:${err.message}`));
    ws.on('close', (code) => {
      if (!records.has(id)) records.set(id, `closed:${code}`);
      records.set(id, `${records.get(id)};texts:${texts.join(',')}`);
    });
  },
  '/report': (ws, id) => later(() => ws.send(records.get(id) || 'none')),
};

const server = new WebSocketServer({ host: '127.0.0.1', port: 0 });
server.on('connection', (ws, req) => {
  const url = new URL(req.url, 'ws://peer');
  ws.on('error', () => {}); // a malformed frame ends that connection, never the peer
  const handler = handlers[url.pathname];
  if (handler) handler(ws, url.searchParams.get('id') || '');
  else ws.close(1008, 'unknown path');
});
server.on('listening', () => {
  const port = String(server.address().port);
  if (portFile) {
    fs.writeFileSync(portFile + '.tmp', port);
    fs.renameSync(portFile + '.tmp', portFile);
  } else {
    console.log(port);
  }
});
setTimeout(() => process.exit(0), lifetime * 1000).unref();
process.on('SIGTERM', () => process.exit(0));
