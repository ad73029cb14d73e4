#!/usr/bin/env python3
"""Shttpd against real clients (curl, wget) and raw sockets, on 127.0.0.1 only.

usage: file_server_test.py <group> <scratch dir> <image> <target> -- <command that runs Shttpd>...

Groups: clients, raw, concurrency, idle, usage, kill, reports. Each starts its own servers on free ports
(a port taken meanwhile by someone else makes the server exit, and the group retries with another)
and stops them by their process id.
"""
import fcntl
import hashlib
import os
import re
import shutil
import socket
import subprocess
import sys
import threading
import time

SERVER = b"Server: Httpd/0.1.2\r\n"
NOT_FOUND = (b"HTTP/1.0 404 Method Not Implemented\r\n" + SERVER + b"Content-Type: text/html\r\n\r\n"
             b"<HTML><HEAD><TITLE>404 Not Found\r\n</TITLE></HEAD>\r\n"
             b"<BODY><P>404 Not Found. File is not exist.\r\n</BODY></HTML>\r\n")
NOT_IMPLEMENTED = (b"HTTP/1.0 501 Method Not Implemented\r\n" + SERVER + b"Content-Type: text/html\r\n\r\n"
                   b"<HTML><HEAD><TITLE>Method Not Implemented\r\n</TITLE></HEAD>\r\n"
                   b"<BODY><P>HTTP request method not supported.\r\n</BODY></HTML>\r\n")
IMAGE_NAME = "KTR_418s_1126_fac_up_2.0.16.img"
SMALL = b"small text file\n" * 10


def ok_head(content_type):
    return (b"HTTP/1.0 200 OK\r\n" + SERVER + b"Content-Type: " + content_type.encode() +
            b";charset=UTF-8\r\n\r\n")


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def md5(data):
    return hashlib.md5(data).hexdigest()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def run_program(command, cwd):
    """Runs a program to its end; its exit code, standard output and standard error. The output goes
    through files: a wineserver started by the program would hold pipes open after it ended."""
    scratch = os.path.dirname(cwd)
    with open(os.path.join(scratch, "out.txt"), "w+b") as out, open(os.path.join(scratch, "err.txt"), "w+b") as err:
        rc = subprocess.run(command, stdout=out, stderr=err, cwd=cwd, timeout=120).returncode
        out.seek(0)
        err.seek(0)
        return rc, out.read(), err.read()


class Server:
    """One Shttpd process on 127.0.0.1, stopped by its pid."""

    def __init__(self, command, root, cwd, idle_limit_ms=None, port=None, reports=None, stdout=subprocess.DEVNULL):
        env = dict(os.environ)
        if idle_limit_ms is not None:
            env["SHTTPD_IDLE_LIMIT_MS"] = str(idle_limit_ms)
        if reports is not None:
            env["SHTTPD_PROGRESS"] = reports
        err = ""
        for attempt in range(5):
            self.port = port or free_port()
            # Standard error goes to a file, for the reason given in run_program.
            self.err = open(os.path.join(cwd, "..", "server-err.txt"), "w+b")
            self.proc = subprocess.Popen(command + [str(self.port), root], cwd=cwd, env=env,
                                         stdout=stdout, stderr=self.err)
            if self._wait_listening():
                return
            self.stop()
            self.err.seek(0)
            err = self.err.read().decode(errors="replace")
            if port is not None:
                time.sleep(0.5)  # a given port: give the system a moment to release it
        raise Failure("server did not start (port %s): %s" % (port or "any of five", err))

    def _wait_listening(self):
        # Wine takes a few seconds to start a program the first time.
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                return False
            try:
                reply = request(self.port, b"GET /.probe HTTP/1.0\r\n\r\n", timeout=5)
                # Our process, not someone else's server that took the port meanwhile.
                return reply == NOT_FOUND and self.proc.poll() is None
            except OSError:
                time.sleep(0.1)
        return False

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()
        self.err.close()


def request(port, data, timeout=20, shut_write=False):
    """Sends data on a new connection and returns all bytes until the server closes."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(data)
        if shut_write:
            s.shutdown(socket.SHUT_WR)
        chunks = []
        while True:
            b = s.recv(65536)
            if not b:
                return b"".join(chunks)
            chunks.append(b)


def curl(port, path, out, extra=()):
    """curl's exit code and the response head it saw (status line and headers)."""
    r = subprocess.run(["curl", "-sS", "--noproxy", "*", "--max-time", "60", "-D", "-", "-o", out, *extra,
                        "http://127.0.0.1:%d%s" % (port, path)], capture_output=True, timeout=90)
    return r.returncode, r.stdout


def make_root(scratch, image):
    root = os.path.join(scratch, "root")
    os.makedirs(os.path.join(root, "sub"))
    os.makedirs(os.path.join(root, "indexed"))
    shutil.copyfile(image, os.path.join(root, IMAGE_NAME))
    files = {
        "small.txt": SMALL, "page.html": b"<p>page</p>\n", "page.htm": b"<p>htm</p>\n", "app.js": b"let a;\n",
        "style.css": b"p {}\n", "README": b"no extension\n", "a?": b"question mark\n", "a": b"plain a\n",
        "sub/inner.txt": b"inner\n", "indexed/index.html": b"<p>index</p>\n",
    }
    for name, data in files.items():
        with open(os.path.join(root, name), "wb") as f:
            f.write(data)
    # Outside the root: a sibling whose name continues the root's ("GET secret.txt" would reach it)
    # and a file beside it.
    for name in ("rootsecret.txt", "outside.txt"):
        with open(os.path.join(scratch, name), "wb") as f:
            f.write(b"SECRET\n")
    cwd = os.path.join(scratch, "cwd")
    os.makedirs(cwd)
    return root, cwd


# --- groups ---------------------------------------------------------------------------------------

def group_clients(ctx):
    """curl and wget download the image and a small file, byte for byte, with the exact heads."""
    srv = Server(ctx.command, ctx.root, ctx.cwd)
    try:
        for name, data, ctype in ((IMAGE_NAME, ctx.image_bytes, "application/octet-stream"),
                                  ("small.txt", SMALL, "text/plain")):
            out = os.path.join(ctx.scratch, "curl.out")
            rc, head = curl(srv.port, "/" + name, out)
            check(rc == 0, "curl %s: exit %d" % (name, rc))
            check(head == ok_head(ctype), "curl %s: head %r" % (name, head))
            check(md5(open(out, "rb").read()) == md5(data), "curl %s: body differs" % name)

            out = os.path.join(ctx.scratch, "wget.out")
            r = subprocess.run(["wget", "--no-proxy", "-q", "-S", "--tries=1", "--timeout=60", "-O", out,
                                "http://127.0.0.1:%d/%s" % (srv.port, name)], capture_output=True, timeout=90)
            check(r.returncode == 0, "wget %s: exit %d %r" % (name, r.returncode, r.stderr))
            lines = [l.strip() for l in r.stderr.decode().splitlines()]
            check(lines[:3] == ["HTTP/1.0 200 OK", "Server: Httpd/0.1.2",
                                "Content-Type: %s;charset=UTF-8" % ctype], "wget %s: head %r" % (name, lines))
            check(md5(open(out, "rb").read()) == md5(data), "wget %s: body differs" % name)

        for path, ctype in (("/page.html", "text/html"), ("/page.htm", "text/html"),
                            ("/app.js", "application/javascript"), ("/style.css", "text/css"),
                            ("/README", "application/octet-stream"), ("/indexed/", "text/html")):
            rc, head = curl(srv.port, path, os.path.join(ctx.scratch, "type.out"))
            check(rc == 0 and head == ok_head(ctype), "content type of %s: %r" % (path, head))

        rc, head = curl(srv.port, "/missing.img", os.path.join(ctx.scratch, "missing.out"))
        check(head == NOT_FOUND.split(b"\r\n\r\n")[0] + b"\r\n\r\n", "curl 404 head: %r" % head)
    finally:
        srv.stop()


def group_raw(ctx):
    """The request line's edge cases over a raw socket."""
    srv = Server(ctx.command, ctx.root, ctx.cwd)
    p = srv.port
    small = ok_head("text/plain") + SMALL
    cases = [
        (b"get /small.txt HTTP/1.0\r\n\r\n", small),
        (b"GET /small.txt HTTP/1.1\r\nHost: x\r\nUser-Agent: raw\r\n\r\n", small),
        (b"HEAD /small.txt HTTP/1.0\r\n\r\n", NOT_IMPLEMENTED),
        (b"PUT /small.txt HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc", NOT_IMPLEMENTED),
        (b"GET /small.txt\r\n", NOT_IMPLEMENTED),
        (b"\r\n", NOT_IMPLEMENTED),
        (b"GET /missing.img HTTP/1.0\r\n\r\n", NOT_FOUND),
        (b"GET / HTTP/1.0\r\n\r\n", NOT_FOUND),
        (b"GET /indexed/ HTTP/1.0\r\n\r\n", ok_head("text/html") + b"<p>index</p>\n"),
        (b"GET /indexed HTTP/1.0\r\n\r\n", NOT_FOUND),                 # a directory is no file
        (b"GET /small.txt?x=1&y=2 HTTP/1.0\r\n\r\n", small),
        # A "?" that ends a GET path stays in it (Windows has no such file names and refuses them).
        (b"GET /a? HTTP/1.0\r\n\r\n", NOT_FOUND if ctx.target == "windows"
         else ok_head("application/octet-stream") + b"question mark\n"),
        (b"GET /a?? HTTP/1.0\r\n\r\n", ok_head("application/octet-stream") + b"plain a\n"),
        (b"POST /small.txt?x=1 HTTP/1.0\r\n\r\n", NOT_FOUND),
        (b"POST /small.txt HTTP/1.0\r\nContent-Length: 5\r\n\r\nhello", small),
        # Paths that would leave the root.
        (b"GET secret.txt HTTP/1.0\r\n\r\n", NOT_FOUND),
        (b"GET /../outside.txt HTTP/1.0\r\n\r\n", NOT_FOUND),
        (b"GET /sub/../../outside.txt HTTP/1.0\r\n\r\n", NOT_FOUND),
        (b"GET /%2e%2e/outside.txt HTTP/1.0\r\n\r\n", NOT_FOUND),
        (b"GET /..%5coutside.txt HTTP/1.0\r\n\r\n", NOT_FOUND),
        (b"GET /..\\outside.txt HTTP/1.0\r\n\r\n", NOT_FOUND),
        (b"GET " + ctx.scratch.encode() + b"/outside.txt HTTP/1.0\r\n\r\n", NOT_FOUND),
        (b"GET /" + ctx.scratch.encode() + b"/outside.txt HTTP/1.0\r\n\r\n", NOT_FOUND),
        (b"GET /Z:/etc/hostname HTTP/1.0\r\n\r\n", NOT_FOUND),
        (b"GET /sub/inner.txt HTTP/1.0\r\n\r\n", ok_head("text/plain") + b"inner\n"),
        # Overlong request line: cut, read to its end and answered; the server goes on.
        (b"GET /" + b"a" * 5000 + b" HTTP/1.0\r\n\r\n", NOT_IMPLEMENTED),
        (b"GET /small.txt HTTP/1.0" + b" " * 5000 + b"\r\n\r\n", small),
        (b"GET /small.txt HTTP/1.0\r\nX-Long: " + b"v" * 20000 + b"\r\n\r\n", small),
    ]
    try:
        for data, expected in cases:
            got = request(p, data)
            check(got == expected, "%r...: got %r" % (data[:60], got[:200]))
            check(b"SECRET" not in got, "%r: leaked a file outside the root" % data[:60])
        # A client that ends its sending after the request line, without the empty line.
        for data, expected in ((b"GET /small.txt HTTP/1.0\r\n", small),
                               (b"GET /missing HTTP/1.0\r\nA: b\r\n", NOT_FOUND),
                               (b"GET /small.txt HTTP/1.0", b"")):  # not even a whole request line
            got = request(p, data, shut_write=True)
            check(got == expected, "%r...: got %r" % (data[:60], got[:200]))
        # A request of endless header lines is dropped at the head limit, without a reply.
        with socket.create_connection(("127.0.0.1", p), timeout=20) as s:
            s.sendall(b"GET /small.txt HTTP/1.0\r\n")
            got = b""
            try:
                for _ in range(100000):
                    s.sendall(b"X-Filler: 0123456789012345678901234567890123456789\r\n")
            except OSError:
                pass  # the server closed, as it should
            try:
                while True:
                    b = s.recv(65536)
                    if not b:
                        break
                    got += b
            except OSError:
                pass
            check(got == b"", "endless header lines: got a reply %r" % got[:100])
        check(request(p, b"GET /small.txt HTTP/1.0\r\n\r\n") == small, "server stopped serving")
        check(srv.proc.poll() is None, "the server ended")
    finally:
        srv.stop()


def download_all(port, count, scratch, expected):
    """count curl downloads of the image at once; returns the failures."""
    procs = []
    for i in range(count):
        out = os.path.join(scratch, "par%02d.out" % i)
        procs.append((out, subprocess.Popen(["curl", "-sS", "--noproxy", "*", "--max-time", "120", "-o", out,
                                             "http://127.0.0.1:%d/%s" % (port, IMAGE_NAME)])))
    bad = []
    for out, proc in procs:
        rc = proc.wait(timeout=180)
        if rc != 0 or md5(open(out, "rb").read()) != expected:
            bad.append((out, rc))
        os.remove(out) if os.path.exists(out) else None
    return bad


def group_concurrency(ctx):
    """18 downloads at once complete; with 19 at once, the one that waits completes too."""
    srv = Server(ctx.command, ctx.root, ctx.cwd)
    expected = md5(ctx.image_bytes)
    try:
        for count in (18, 19):
            bad = download_all(srv.port, count, ctx.scratch, expected)
            check(not bad, "%d parallel downloads: failed %r" % (count, bad))
    finally:
        srv.stop()


def open_connections(port, count, request_bytes=None):
    """count connections, one at a time with a short gap: with a listen backlog of 5, a burst would
    leave some waiting in the system's queue where a later connection could overtake them."""
    conns = []
    for _ in range(count):
        s = socket.socket()
        s.settimeout(30)
        if request_bytes:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        s.connect(("127.0.0.1", port))
        if request_bytes:
            s.sendall(request_bytes)
        conns.append(s)
        time.sleep(0.02)
    time.sleep(0.2)
    return conns


def group_idle(ctx):
    """Idle clients cannot hold the workers: silent connections and clients that stop reading are
    dropped after the (shortened) limit, and the request waiting for a worker is then served."""
    limit = 1.5
    srv = Server(ctx.command, ctx.root, ctx.cwd, idle_limit_ms=int(limit * 1000))
    small = ok_head("text/plain") + SMALL
    try:
        first = time.monotonic()
        silent = open_connections(srv.port, 18)
        got = request(srv.port, b"GET /small.txt HTTP/1.0\r\n\r\n", timeout=30)
        # No worker frees before the first silent connection has been idle for the limit.
        served = time.monotonic() - first
        check(got == small, "19th request: %r" % got[:100])
        check(served > limit - 0.1, "the 19th request did not wait for a worker (%.2f s)" % served)
        check(served < limit + 10, "the 19th request waited %.2f s" % served)
        for s in silent:
            try:
                check(s.recv(1) == b"", "a silent connection got data")
            except ConnectionResetError:
                pass
            s.close()

        # Clients that send their request and never read: the send stalls, and is given up.
        first = time.monotonic()
        stalled = open_connections(srv.port, 18, ("GET /%s HTTP/1.0\r\n\r\n" % IMAGE_NAME).encode())
        out = os.path.join(ctx.scratch, "after-stall.out")
        rc, head = curl(srv.port, "/" + IMAGE_NAME, out)
        served = time.monotonic() - first
        check(rc == 0 and md5(open(out, "rb").read()) == md5(ctx.image_bytes),
              "download after 18 stalled readers failed: %d" % rc)
        check(served > limit - 0.1, "the download did not wait for a worker (%.2f s)" % served)
        for s in stalled:
            s.close()
        check(srv.proc.poll() is None, "the server ended")
    finally:
        srv.stop()


def group_usage(ctx):
    """Any argument count but two, or an unusable port or root: the usage line and exit code -1.
    A port in use: exit code 1."""
    crlf = b"\r\n" if ctx.target == "windows" else b"\n"
    for args in ([], ["8234"], ["8234", ctx.root, "extra"], ["http", ctx.root], ["0", ctx.root],
                 ["65536", ctx.root], ["80x", ctx.root], ["8234", ""]):
        rc, out, _ = run_program(ctx.command + args, ctx.cwd)
        check(rc == 255, "%r: exit %d" % (args, rc))
        check(out.startswith(b"Usage: ") and out.endswith(b" <PORT> <ROOT_DIR>" + crlf) and
              b"Shttpd" in out and out.count(b"\n") == 1, "%r: printed %r" % (args, out))
    with socket.socket() as taken:
        taken.bind(("127.0.0.1", 0))
        taken.listen(1)
        port = taken.getsockname()[1]
        rc, _, err = run_program(ctx.command + [str(port), ctx.root], ctx.cwd)
        check(rc == 1, "port in use: exit %d" % rc)
        check(b"cannot listen on port %d" % port in err, "port in use: said %r" % err)


def group_kill(ctx):
    """Killed in the middle of a download it leaves nothing behind, and a new server takes the same
    port at once."""
    def listing():
        # The root, its sibling files and the server's working directory, with sizes.
        return sorted((os.path.join(dp, n), os.path.getsize(os.path.join(dp, n)))
                      for top in (ctx.root, ctx.cwd) for dp, _, ns in os.walk(top) for n in ns) + \
            sorted(n for n in os.listdir(ctx.scratch) if not n.endswith("err.txt"))

    before = listing()
    srv = Server(ctx.command, ctx.root, ctx.cwd)
    port = srv.port
    with socket.create_connection(("127.0.0.1", port), timeout=30) as s:
        s.sendall(("GET /%s HTTP/1.0\r\n\r\n" % IMAGE_NAME).encode())
        check(len(s.recv(65536)) > 0, "no data before the kill")
        srv.stop()
    after = listing()
    check(after == before, "files changed: %r" % sorted(set(after) ^ set(before)))
    srv = Server(ctx.command, ctx.root, ctx.cwd, port=port)
    try:
        check(request(port, b"GET /small.txt HTTP/1.0\r\n\r\n") == ok_head("text/plain") + SMALL,
              "the restarted server does not serve")
    finally:
        srv.stop()


def reports_of(path, name):
    """The (sent, size) pairs of the report lines for name in the output file; every line must be a
    report."""
    lines = open(path, "rb").read().decode().splitlines()
    for line in lines:
        check(re.fullmatch(r"Shttpd-progress \S+ \d+ \d+", line.rstrip("\r")), "not a report: %r" % line)
    return [tuple(int(n) for n in l.split()[2:]) for l in lines if l.split()[1] == name]


def group_reports(ctx):
    """Asked through its environment, the server reports each file download: first nothing sent, at
    most every 250 ms, and once at the end; nothing for a missing file, nothing when not asked. A
    report output that nobody reads never holds up the serving."""
    out = os.path.join(ctx.scratch, "reports.txt")
    size = len(ctx.image_bytes)
    for asked in ("1", "0"):
        with open(out, "wb") as f:
            srv = Server(ctx.command, ctx.root, ctx.cwd, reports=asked, stdout=f)
        try:
            started = time.monotonic()
            rc, _ = curl(srv.port, "/" + IMAGE_NAME, os.path.join(ctx.scratch, "slow.out"), ("--limit-rate", "5M"))
            took = time.monotonic() - started
            check(rc == 0, "slow download: exit %d" % rc)
            for path in ("/small.txt", "/sub/inner.txt", "/missing.img"):
                curl(srv.port, path, os.path.join(ctx.scratch, "more.out"))
            time.sleep(0.5)  # the writer's last lines
        finally:
            srv.stop()
        if asked != "1":
            check(open(out, "rb").read() == b"", "reports without being asked")
            continue
        image = reports_of(out, IMAGE_NAME)
        check(image[0] == (0, size) and image[-1] == (size, size), "image reports %r" % image)
        check([s for s, _ in image] == sorted(s for s, _ in image), "image reports go back: %r" % image)
        check(len(image) <= 2 + took / 0.25, "%d image reports in %.2f s" % (len(image), took))
        check(reports_of(out, "small.txt") == [(0, len(SMALL)), (len(SMALL), len(SMALL))], "small.txt reports")
        check(reports_of(out, "sub/inner.txt") == [(0, 6), (6, 6)], "sub/inner.txt reports")
        check(reports_of(out, "missing.img") == [], "a missing file was reported")

    read_end, write_end = os.pipe()
    try:
        fcntl.fcntl(write_end, fcntl.F_SETPIPE_SZ, 4096)
        srv = Server(ctx.command, ctx.root, ctx.cwd, reports="1", stdout=write_end)
        try:
            small = ok_head("text/plain") + SMALL
            for i in range(300):  # about 20 kB of reports into a pipe of 4 kB
                check(request(srv.port, b"GET /small.txt HTTP/1.0\r\n\r\n") == small, "request %d" % i)
        finally:
            srv.stop()
    finally:
        os.close(read_end)
        os.close(write_end)


class Context:
    pass


def main():
    group, scratch, image, target = sys.argv[1:5]
    check(sys.argv[5] == "--", "usage: see the docstring")
    ctx = Context()
    ctx.command = sys.argv[6:]
    ctx.scratch = os.path.abspath(scratch)
    ctx.target = target
    shutil.rmtree(ctx.scratch, ignore_errors=True)
    os.makedirs(ctx.scratch)
    ctx.root, ctx.cwd = make_root(ctx.scratch, image)
    with open(image, "rb") as f:
        ctx.image_bytes = f.read()
    start = time.monotonic()
    try:
        globals()["group_" + group](ctx)
    except Failure as e:
        print("FAILED %s: %s" % (group, e))
        return 1
    shutil.rmtree(ctx.scratch, ignore_errors=True)
    print("%s passed in %.1f s" % (group, time.monotonic() - start))
    return 0


if __name__ == "__main__":
    sys.exit(main())
