#!/usr/bin/env node
// A simulated camera for the tool's end-to-end tests.
//
// It serves its information file ("/deviceRelateInfo.txt": the model, "*ver:" and the version) over
// HTTP, takes the WebSocket command channel on port 9999 path "/", and on "pc_firmware_up" downloads
// the image from the command's "url", checks its MD5 and gzip header and answers as a camera does.
// Fault switches cover every road of the tool. Everything it receives is logged as JSON lines.
//
// usage: node camera_sim.js <config.json>
// The config (all optional):
//   model, version       the camera's model and firmware version ("QUORVANE_CAM418S", "2.0.15")
//   info_body            the information file's exact text instead of model and version
//   http                 "on" | "off" (nothing listens) | "404"
//   ws                   "on" | "off" (refused) | "silent" (no handshake reply) | "no_accept"
//                        (a 101 reply without Sec-WebSocket-Accept)
//   auth_texts           texts holding "auth" sent before the answer
//   noise_texts          texts holding neither "ok" nor "fail" sent before the answer
//   reply_delay_ms       wait before answering
//   answer               "auto" (judge the download) | "ok" | "fail" | "latest" | "none"
//   close_after_handshake_ms  close the WebSocket this long after accepting it, before any command
//                        (as a camera that restarts its service may do)
//   close_after_command  close the WebSocket right after the command arrives, without answering
//                        (the camera then shows version_after, if given, as if it had installed)
//   greeting             a text the camera sends unasked right behind its handshake reply: the
//                        reply and the frame's first 3 bytes go out in one write, the rest 100 ms
//                        later (as a camera that greets at once may do)
//   handshake            the form of the handshake reply: "split" (the status line, then the
//                        header lines 200 ms later, as a server that writes line by line does),
//                        "canonical" (the accept header named "Sec-Websocket-Accept") or "lower"
//                        (every header name in lower case)
//   abort_first_download_at  the first download of the image is dropped once this many bytes have
//                        come, and the image is fetched again whole (as a camera whose first
//                        download broke may do)
//   after_answer         "close" | "reset": the TCP connection ends the instant the answer is out,
//                        without a close frame (as a camera that reboots at once may do)
//   version_after        the version the information file shows after the answer
//                        (default: "nver" after ok, unchanged otherwise)
//   wifi_down_fetches    after the answer, this many information-file fetches get no answer,
//                        as while the access point is away
//   reboot_ms            after ok, both servers are away this long, as while the camera reboots;
//                        "never": they never come back (a restart that hangs)
//   http_port, ws_port   ports (80, 9999)
//   log                  JSON-lines log path (standard output when absent)
//   ready                a file written once both servers listen
'use strict';

const crypto = require('crypto');
const fs = require('fs');
const http = require('http');
const { WebSocketServer } = require('ws');

const config = Object.assign(
  {
    model: 'QUORVANE_CAM418S',
    version: '2.0.15',
    info_body: null,
    http: 'on',
    ws: 'on',
    auth_texts: 0,
    noise_texts: 0,
    reply_delay_ms: 0,
    answer: 'auto',
    close_after_handshake_ms: null,
    close_after_command: false,
    greeting: null,
    handshake: null,
    abort_first_download_at: null,
    after_answer: null,
    version_after: null,
    wifi_down_fetches: 0,
    reboot_ms: 0,
    http_port: 80,
    ws_port: 9999,
    log: null,
    ready: null,
  },
  process.argv[2] ? JSON.parse(fs.readFileSync(process.argv[2], 'utf8')) : {},
);

let version = config.version;
let infoBody = config.info_body;
let downFetches = 0;
let httpServer = null;
let wsHttpServer = null;

function log(event, fields) {
  const line = JSON.stringify(Object.assign({ time: Date.now(), event }, fields || {})) + '\n';
  if (config.log) fs.appendFileSync(config.log, line);
  else process.stdout.write(line);
}

function infoText() {
  return infoBody !== null ? infoBody : `${config.model}*ver:${version}`;
}

// ---- HTTP: the information file ----

function startHttp(done) {
  if (config.http === 'off') return done();
  httpServer = http.createServer((req, res) => {
    // While the access point is away, a fetch gets no answer: the tool's download runs out of
    // time, and the connection is dropped later.
    if (downFetches > 0) {
      downFetches--;
      log('http_away', { left: downFetches });
      setTimeout(() => req.socket.destroy(), 10000);
      return;
    }
    log('http_get', { path: req.url, host: req.headers.host || '', user_agent: req.headers['user-agent'] || '' });
    if (config.http === '404' || req.url !== '/deviceRelateInfo.txt') {
      res.writeHead(404, { 'Content-Type': 'text/html' });
      res.end('<html><body>404 Not Found</body></html>');
      return;
    }
    const body = infoText();
    res.writeHead(200, { 'Content-Type': 'text/plain', 'Content-Length': Buffer.byteLength(body) });
    res.end(body);
  });
  httpServer.listen(config.http_port, '0.0.0.0', done);
}

// ---- The upgrade: download, check, answer ----

function download(url, abortAt) {
  return new Promise((resolve) => {
    const hash = crypto.createHash('md5');
    let bytes = 0;
    let head = Buffer.alloc(0);
    const req = http.get(url, (res) => {
      log('download_started', { status: res.statusCode });
      res.on('data', (chunk) => {
        if (head.length < 3) head = Buffer.concat([head, chunk.subarray(0, 3 - head.length)]);
        hash.update(chunk);
        bytes += chunk.length;
        if (abortAt && bytes >= abortAt) req.destroy(new Error('download dropped'));
      });
      res.on('end', () =>
        resolve({ status: res.statusCode, bytes, md5: hash.digest('hex'), gzip: head.equals(Buffer.from([0x1f, 0x8b, 0x08])) }),
      );
      res.on('error', (e) => resolve({ error: String(e) }));
    });
    req.setTimeout(60000, () => req.destroy(new Error('download timed out')));
    req.on('close', () => resolve({ error: 'connection closed', bytes }));
    req.on('error', (e) => resolve({ error: String(e) }));
  });
}

const REPLY_OK = '{"cmd":"pc_firmware_up","res":"ok"}';
const REPLY_LATEST = '{"cmd":"pc_firmware_up","res":"fail","code":"8"}';
const REPLY_FAIL = '{"cmd":"pc_firmware_up","res":"fail","code":"3"}';

async function judge(command) {
  if (config.answer === 'ok') return 'ok';
  if (config.answer === 'fail') return 'fail';
  if (config.answer === 'latest') return 'latest';
  if (version === command.nver) return 'latest';
  if (config.abort_first_download_at) {
    const dropped = await download(command.url, config.abort_first_download_at);
    log('download_dropped', Object.assign({ url: command.url }, dropped));
  }
  const got = await download(command.url);
  log('download', Object.assign({ url: command.url }, got));
  if (got.error || got.status !== 200 || got.md5 !== command.md5 || !got.gzip) return 'fail';
  return 'ok';
}

function send(ws, text) {
  log('ws_send', { text });
  ws.send(text);
}

async function upgrade(ws, command) {
  const verdict = await judge(command);
  for (let i = 0; i < config.auth_texts; i++) send(ws, `{"cmd":"auth","token":"t${i}"}`);
  for (let i = 0; i < config.noise_texts; i++) send(ws, `{"cmd":"progress","pct":"${(i + 1) * 10}"}`);
  if (config.reply_delay_ms > 0) await new Promise((r) => setTimeout(r, config.reply_delay_ms));
  if (config.answer === 'none') return log('no_answer');
  send(ws, verdict === 'ok' ? REPLY_OK : verdict === 'latest' ? REPLY_LATEST : REPLY_FAIL);
  if (config.after_answer) ws.endNow(config.after_answer);

  const before = version;
  if (config.version_after !== null) version = config.version_after;
  else if (verdict === 'ok') version = command.nver;
  if (version !== before) infoBody = null; // the file now tells the new version
  downFetches = config.wifi_down_fetches;
  if (verdict === 'ok' && (config.reboot_ms === 'never' || config.reboot_ms > 0)) reboot();
}

function reboot() {
  log('reboot', { ms: config.reboot_ms });
  const stopping = [httpServer, wsHttpServer].filter(Boolean);
  for (const s of stopping) {
    s.close();
    if (s.closeAllConnections) s.closeAllConnections();
  }
  if (config.reboot_ms === 'never') return;
  setTimeout(() => startServers(() => log('rebooted')), config.reboot_ms);
}

// ---- WebSocket: the command channel ----

// A command text from the tool, on either kind of channel.
function onText(ws, text, isBinary) {
  log('ws_text', { text, binary: isBinary });
  let command = null;
  try {
    command = JSON.parse(text);
  } catch (e) {
    return;
  }
  if (!command || command.cmd !== 'pc_firmware_up') return;
  log('command', command);
  if (config.close_after_command) {
    if (config.version_after !== null) {
      version = config.version_after;
      infoBody = null;
    }
    log('ws_close');
    ws.close();
    return;
  }
  upgrade(ws, command).catch((e) => log('error', { error: String(e) }));
}

// An unmasked server frame.
function serverFrame(opcode, payload) {
  const n = payload.length;
  const head = n < 126 ? Buffer.from([0x80 | opcode, n]) : Buffer.from([0x80 | opcode, 126, n >> 8, n & 0xff]);
  return Buffer.concat([head, payload]);
}

// The channel written by hand, for what the ws package will not do: bytes right behind the
// handshake reply, a reply in another form, and an end without a close frame right behind the answer.
function rawChannel(req, socket) {
  const accept = crypto
    .createHash('sha1')
    .update(req.headers['sec-websocket-key'] + '258EAFA5-E914-47DA-95CA-C5AB0DC11B65')
    .digest('base64');
  const status = 'HTTP/1.1 101 Switching Protocols\r\n';
  let headers = `Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Accept: ${accept}\r\n\r\n`;
  if (config.handshake === 'canonical') headers = headers.replace('Sec-WebSocket-Accept', 'Sec-Websocket-Accept');
  if (config.handshake === 'lower') headers = headers.replace(/^[^:\r\n]+:/gm, (name) => name.toLowerCase());
  const reply = status + headers;
  socket.setNoDelay(true);
  const channel = {
    send: (text) => socket.write(serverFrame(1, Buffer.from(text))),
    close: () => socket.end(),
    endNow: (how) => {
      log('ws_end', { how });
      // A reset waits until the answer has reached the system: a reset discards what is unsent.
      if (how === 'reset') socket.write('', () => socket.resetAndDestroy());
      else socket.end();
    },
  };
  if (config.greeting !== null) {
    const greeting = serverFrame(1, Buffer.from(config.greeting));
    log('ws_send', { text: config.greeting, split: 3 });
    socket.write(Buffer.concat([Buffer.from(reply), greeting.subarray(0, 3)]));
    setTimeout(() => socket.write(greeting.subarray(3)), 100);
  } else if (config.handshake === 'split') {
    socket.write(status);
    setTimeout(() => socket.write(headers), 200);
  } else {
    socket.write(reply);
  }
  log('ws_connected');
  let pending = Buffer.alloc(0);
  socket.on('data', (chunk) => {
    pending = Buffer.concat([pending, chunk]);
    for (;;) {
      if (pending.length < 2) return;
      const opcode = pending[0] & 0x0f;
      let length = pending[1] & 0x7f;
      let at = 2;
      if (length === 126) {
        if (pending.length < 4) return;
        length = pending.readUInt16BE(2);
        at = 4;
      } else if (length === 127) {
        if (pending.length < 10) return;
        length = pending.readUInt32BE(6);
        at = 10;
      }
      const masked = (pending[1] & 0x80) !== 0;
      const mask = masked ? pending.subarray(at, at + 4) : null;
      if (masked) at += 4;
      if (pending.length < at + length) return;
      const payload = Buffer.from(pending.subarray(at, at + length));
      pending = pending.subarray(at + length);
      if (mask) for (let i = 0; i < payload.length; i++) payload[i] ^= mask[i % 4];
      if (opcode === 1) onText(channel, payload.toString(), false);
      else if (opcode === 9) {
        log('ws_ping', { payload: payload.toString() });
        socket.write(serverFrame(10, payload));
      } else if (opcode === 8) {
        log('ws_closed', { code: 0 });
        socket.end();
      }
    }
  });
  socket.on('error', (e) => log('ws_error', { error: String(e.code || e) }));
}

function startWs(done) {
  if (config.ws === 'off') return done();
  const wss = new WebSocketServer({ noServer: true });
  wsHttpServer = http.createServer((req, res) => {
    res.writeHead(426);
    res.end();
  });
  wsHttpServer.on('upgrade', (req, socket, head) => {
    log('ws_handshake', { path: req.url, headers: req.headers });
    if (config.ws === 'silent') return; // keep the connection, never answer
    if (config.ws === 'no_accept') {
      socket.end('HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n');
      return;
    }
    if (config.greeting !== null || config.after_answer || config.handshake) return rawChannel(req, socket);
    wss.handleUpgrade(req, socket, head, (ws) => {
      log('ws_connected');
      if (config.close_after_handshake_ms !== null) {
        setTimeout(() => {
          log('ws_close');
          ws.close();
        }, config.close_after_handshake_ms);
      }
      ws.on('message', (data, isBinary) => onText(ws, data.toString(), isBinary));
      ws.on('ping', (payload) => log('ws_ping', { payload: payload.toString() }));
      ws.on('close', (code) => log('ws_closed', { code }));
      // The tool's close frame carries a message number where a status code belongs; the ws
      // package calls that malformed. A camera takes it as a close.
      ws.on('error', (e) => log('ws_error', { error: String(e.code || e) }));
    });
  });
  wsHttpServer.listen(config.ws_port, '0.0.0.0', done);
}

function startServers(done) {
  startHttp(() => startWs(done));
}

startServers(() => {
  log('listening', { http: config.http, ws: config.ws, version });
  if (config.ready) fs.writeFileSync(config.ready, 'ready\n');
});
process.on('SIGTERM', () => process.exit(0));
