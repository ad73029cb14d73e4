#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target, taken from the cases of the unit tests, and the
inputs of faults the fuzzers found (kept so that every run replays them first).

Usage: seeds.py <output directory>   (one subdirectory per target, then a .stamp file)
"""
import hashlib
import os
import shutil
import sys


def ws_frame(b0, payload, mask=None):
    """A server frame: byte 0, the length in its shortest form, the optional mask, the payload."""
    n = len(payload)
    head = bytes([b0])
    m = 0x80 if mask else 0
    if n <= 125:
        head += bytes([m | n])
    elif n <= 0xFFFF:
        head += bytes([m | 126]) + n.to_bytes(2, "big")
    else:
        head += bytes([m | 127]) + bytes(4) + n.to_bytes(4, "big")
    if mask:
        head += mask
        payload = bytes(c ^ mask[i % 4] for i, c in enumerate(payload))
    return head + payload


def ws_frames_seeds():
    f = ws_frame
    streams = {
        "text": f(0x81, b"abc"),
        "fragments": f(0x01, b"ab") + f(0x80, b"c"),
        "empty-final-continuation": f(0x01, b"ab") + f(0x80, b""),
        "empty-text": f(0x81, b"") + f(0x81, b"x"),
        "empty-first-fragment": f(0x01, b"") + f(0x80, b"c"),
        "continuation-alone": f(0x80, b"zz"),
        "binary": f(0x82, b"\x01\x02"),
        "control-between-fragments": f(0x01, b"a") + f(0x8A, b"p") + f(0x89, b"q") + f(0x80, b"b"),
        "unknown-opcode": f(0x83, b"q") + f(0x8B, b"r"),
        "ping-then-close": f(0x89, b"x") + f(0x88, b"\x03\xe8") + f(0x81, b"after"),
        "masked": f(0x81, b"abc", b"\x01\x02\x03\x04"),
        "length-126": f(0x81, b"m" * 126) + f(0x81, b"n" * 300),
        "length-127-high-bytes": b"\x82\x7f\x12\x34\x56\x78\x00\x00\x00\x02xy",
        "partial": f(0x81, b"abc")[:3],
        "over-the-limit": b"\x82\x7f\x00\x00\x00\x00\x01\x00\x00\x00",
        "finished-behind-unfinished": f(0x01, b"ab") + f(0x80, b"c") + f(0x01, b"de") + f(0x80, b"f"),
        "reserved-bits": f(0xF1, b"rsv") + f(0x71, b"x"),
    }
    seeds = {}
    for name, stream in streams.items():
        for split in (0, 1, 7):
            seeds[f"{name}-split{split}"] = bytes([split]) + stream
    return seeds


def ws_handshake_seeds():
    status = b"HTTP/1.1 101 Switching Protocols\r\n"
    replies = [
        status + b"Sec-WebSocket-Accept: abc=\r\n\r\n",
        status + b"Sec-WebSocket-Accept:x\r\n\r\n\x81\x01z",
        b"junk HTTP/1.1 0x65\r\nSec-WebSocket-Accept: : k",
        b"HTTP/1.1 200 OK\r\nSec-WebSocket-Accept: abc\r\n\r\n",
        b"HTTP/1.1 ok\r\n\r\n",
        status + b"\r\n",
        status + b"sec-websocket-accept: abc\r\n\r\n",
        status + b"Sec-WebSocket-Accept: \r\n\r\n",
        status,
        b"SSH-2.0-server\r\n",
        b"HTTP/1.1 0145 x\r\nSec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n",
        b"HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        b"Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\nSec-WebSocket-Protocol: chat\r\n\r\n",
        status + b"Sec-Websocket-Accept: abc=\r\n\r\n",
        status + b"\r\nSec-WebSocket-Accept: behind the header",
        b"HTTP/1.1 101 x\nSEC-WEBSOCKET-ACCEPT: y\n\n\x81\x00",
    ]
    return {f"reply-{i:02d}": r for i, r in enumerate(replies)}


SEPARATOR = b"\n~~next~~\n"


def ok(body):
    return b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + body


def redirect(url):
    return b"HTTP/1.1 302 Found\r\nLocation: " + url + b"\r\n\r\n"


def http_response_seeds():
    chunked = b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n"
    other = b"http://127.0.0.2:8080/next?x=1"
    scripts = {
        "200": [ok(b"hello")],
        "garbage": [b"SSH-2.0-not-http\r\n\r\n"],
        "headers-cut-off": [b"HTTP/1.1 200 OK\r\nContent-Le"],
        "no-answer": [b""],
        "404": [b"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found"],
        "content-length-0": [ok(b"")],
        "body-cut-short": [b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nfirst ten."],
        "until-close": [b"HTTP/1.0 200 OK\r\n\r\nto the end"],
        "chunked": [chunked],
        "trailer-location": [b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n"
                             b"Location: http://127.0.0.1:9/x\r\nX-After: 1\r\n\r\n"],
        "content-length-past-32-bits": [b"HTTP/1.1 200 OK\r\nContent-Length: 4294967297\r\n\r\n" + b"m" * 300],
        "content-length-minus-1": [b"HTTP/1.1 200 OK\r\nContent-Length: 4294967295\r\n\r\n" + b"m" * 300],
        "redirect-302": [b"HTTP/1.1 302 Found\r\nLocation: " + other + b"\r\nContent-Length: 5\r\n\r\nfirst",
                         ok(b"from the second")],
        "redirect-200-with-location": [b"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nlOcAtIoN: " + other
                                       + b"\r\n\r\nfirst", ok(b"from the second")],
        "redirect-after-103": [b"HTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n\r\nHTTP/1.1 302 Found\r\n"
                               b"Location: " + other + b"\r\n\r\n", ok(b"x")],
        "redirect-relative": [redirect(b"/elsewhere")],
        "redirect-https": [redirect(b"https://camera.local:8443/a"), ok(b"tls")],
        "redirect-bad-scheme": [redirect(b"ftp://h/x")],
        "redirect-chain": [redirect(b"http://127.0.0.1:80/again")] * 11 + [ok(b"arrived")],
        "redirect-then-refused": [redirect(b"http://10.0.0.1/x")],
        "split-header": [b"HTTP/1.1 200 OK\r\nX-Pad: " + b"p" * 4070 + b"\r\nLocation: " + other + b"\r\n\r\n",
                         ok(b"y")],
        "big-header-value": [b"HTTP/1.1 200 OK\r\nX-Big: " + b"v" * 9000 + b"\r\nContent-Length: 2\r\n\r\nok"],
        "device-info": [ok(b"QUORVANE_CAM418S*ver:2.0.15\n")],
        "chunked-memory": [b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                           + b"".join(b"1f4\r\n" + bytes([97 + i]) * 500 + b"\r\n" for i in range(10))
                           + b"0\r\n\r\n"],
    }
    seeds = {}
    # Options: the operation in bits 0-1, a failing receive in bits 2-4, a progress abort in 5-7.
    for name, responses in scripts.items():
        script = SEPARATOR.join(responses)
        for options in (0x00, 0x01, 0x22, 0x03, 0x04 | 0x01):
            seeds[f"{name}-{options:02x}"] = bytes([options]) + script
    return seeds


def shttpd_request_seeds():
    lines = [
        b"GET /a.img HTTP/1.0", b"get /a.img HTTP/1.0", b"Post /a.img HTTP/1.1",
        b"GET\t/a.img  HTTP/1.0 trailing words", b"HEAD /a.img HTTP/1.0", b"PUT /a.img HTTP/1.0",
        b"GET /a.img", b"GET", b"", b"GET / HTTP/1.0", b"GET /sub/ HTTP/1.0", b"GET /a.img?x=1 HTTP/1.0",
        b"GET /a.img? HTTP/1.0", b"GET /a?b? HTTP/1.0", b"GET /?x HTTP/1.0", b"POST /a.img?x=1 HTTP/1.0",
        b"GET ?x HTTP/1.0", b"GET a.img HTTP/1.0", b"GET /../etc/passwd HTTP/1.0", b"GET /sub/../../x HTTP/1.0",
        b"GET /%2e%2e/x HTTP/1.0", b"GET /%2E./x HTTP/1.0", b"GET /..%20/x HTTP/1.0", b"GET /.../x HTTP/1.0",
        b"POST /a?/../../x HTTP/1.0", b"GET /..\\x HTTP/1.0", b"GET /C:/Windows/win.ini HTTP/1.0",
        b"GET /a\x01.img HTTP/1.0", b"GET /..a HTTP/1.0", b"GET /%2e%2eb HTTP/1.0",
        b"GET /KTR_418s_1126_fac_up_2.0.16.img HTTP/1.1",
    ]
    seeds = {}
    for i, line in enumerate(lines):
        seeds[f"line-{i:02d}"] = b"\x00" + line + b"\r\nHost: x\r\nAccept: */*\r\n\r\n"
        seeds[f"line-{i:02d}-bytewise-bare-lf"] = b"\x01" + line + b"\nHost: x\n\n"
    seeds["long-line"] = b"\x05GET /" + b"a" * 1100 + b" HTTP/1.0\r\n\r\n"
    seeds["long-head"] = b"\x09GET / HTTP/1.0\r\nX: " + b"v" * 3000 + b"\r\n\r\n"
    seeds["stops-after-line"] = b"\x03GET /a.txt HTTP/1.0\r\n"
    seeds["body-after-head"] = b"\x02POST /x.css HTTP/1.0\r\nContent-Length: 3\r\n\r\na=1"
    return seeds


def asset_header_seeds():
    bodies = {
        "three": b"\x00\xab\xff", "empty": b"", "line": bytes(range(64)), "line-and-one": bytes(range(65)),
        "two-lines": bytes(range(128)), "text": b"#define X \"y\"\n", "many": bytes(range(256)) * 3,
    }
    seeds = {}
    for name, body in bodies.items():
        for variant in (0, 1, 2):
            seeds[f"{name}-{variant}"] = bytes([variant]) + b"QUORVANE_CAM418S\n2.0.16\n" + body
    return seeds


def device_info_seeds():
    files = [
        b"QUORVANE_CAM418S*ver:2.0.15", b"QUORVANE_CAM418S\n*ver:2.0.15\n", b"QUORVANE_CAM418*ver:2.0.15",
        b"QUORVANE_CAM_419*ver:2.0.15", b"ZEPHLAR_CAM419*ver:2.0.15", b"QUORVANE_CAM418S*ver:2.0.16\n",
        b"QUORVANE_CAM418S*ver:2.0.16\r\n", b"camera one*ver:1.3.66", b"camera one*ver:1.3",
        b"*QUORVANE_CAM418*ver:1.0.0", b"127.0.0.1 box*ver:1.0.18", b"0123456789", b"0123456789a",
        b"QUORVANE_CAM418S*ver:" + b"9" * 63, b"QUORVANE_CAM418S*ver:" + b"9" * 64,
        b"Q" * 127 + b"*QUORVANE_CAM*ver:1.0.0", b"Q" * 128 + b"*QUORVANE_CAM*ver:1.0.0",
        b"QUORVANE_CAM418S*ver:2.0.15\n" + b"#" * (1023 - 28), b"QUORVANE_CAM418S*ver:2.0.15\n" + b"#" * (1024 - 28),
        b"QUORVANE_CAM418S\x00*ver:2.0.15", b"QUORVANE_CAM418S*ver:2.0.15\x1a more",
    ]
    return {f"file-{i:02d}": f for i, f in enumerate(files)}


TARGETS = {
    "fuzz_ws_frames": ws_frames_seeds,
    "fuzz_ws_handshake": ws_handshake_seeds,
    "fuzz_http_response": http_response_seeds,
    "fuzz_shttpd_request": shttpd_request_seeds,
    "fuzz_asset_header": asset_header_seeds,
    "fuzz_device_info": device_info_seeds,
}

# Inputs of faults the fuzzers found, per target, replayed with the seeds.
REGRESSIONS = {
    "fuzz_http_response": [
        # A progress abort on the last bytes of a receive was reported as success.
        b"\x22HTTP/1.0 200 OK\r\n\r\nto the end",
        # A memory body sized from the announced Content-Length: 2 GiB allocated at the first byte.
        b"\x01HTTP/1.1 200 OK\r\nContent-Length: 2147483647\r\n\r\nx",
    ],
}


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    for target, make in TARGETS.items():
        folder = os.path.join(out, target)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        inputs = list(make().items())
        inputs += [(f"regression-{i}", data) for i, data in enumerate(REGRESSIONS.get(target, []))]
        for name, data in inputs:
            digest = hashlib.sha1(data).hexdigest()[:12]
            with open(os.path.join(folder, f"{name}-{digest}"), "wb") as f:
                f.write(data)
    with open(os.path.join(out, ".stamp"), "w") as f:
        f.write("seeds written\n")


if __name__ == "__main__":
    main()
