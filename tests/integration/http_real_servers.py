#!/usr/bin/env python3
"""Downloads with the tool's HTTP client (http_fetch) from real servers we did not write:
python3 -m http.server and nginx over HTTP, openssl s_server over HTTPS with certificates made
here at run time. Runs inside tests/support/isolated (a network namespace with only loopback), so
ports are private and no name lookup can leave the machine.

usage: http_real_servers.py SCRATCH TARGET FETCH TRUST_ROOT WINE_PREFIX [RUNNER...]
TARGET is linux or windows; RUNNER (Wine for windows) runs FETCH and TRUST_ROOT.
"""
import os
import shutil
import socket
import subprocess
import sys
import time

scratch, target, fetch, trust_root, wine_prefix = sys.argv[1:6]
runner = sys.argv[6:]
windows = target == "windows"
failures = []
env = dict(os.environ)
if windows:
    env["FACUP_WINEPREFIX"] = wine_prefix

SMALL = b"model:QUORVANE_CAM418S\r\n*ver:2.0.15\r\n"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_listening(port, proc, what):
    deadline = time.time() + 10
    while time.time() < deadline:
        if proc.poll() is not None:
            sys.exit(f"{what} ended at start (exit {proc.returncode})")
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
            return
        except OSError:
            time.sleep(0.05)
    sys.exit(f"{what} does not listen on {port}")


def start(cmd, port, what, **kw):
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw)
    servers.append(proc)
    wait_listening(port, proc, what)
    return proc


def run(cmd, prefix=()):
    """Runs a program of the target; returns (exit code, standard output). The output goes through
    a file: Wine's helper processes inherit a pipe and would hold it open after the program ended."""
    with open(os.path.join(scratch, "run-output"), "w+b") as out:
        done = subprocess.run(list(prefix) + runner + cmd, env=env, stdout=out, stderr=subprocess.DEVNULL,
                              stdin=subprocess.DEVNULL, timeout=120)
        out.seek(0)
        return done.returncode, out.read().decode(errors="replace").strip()


def fetch_once(url, path, *options, prefix=()):
    """Runs http_fetch; returns (result, status, ms)."""
    line = run([fetch, *options, url, path], prefix)[1]
    try:
        words = line.split()
        return int(words[1]), int(words[3]), int(words[5])
    except (IndexError, ValueError):
        return None, None, line


def check(name, url, code, content=None, status=None, options=(), before=b"old contents", prefix=(),
          most_ms=None):
    """One download: the result code, the file afterwards (content None: as it was before), and
    optionally the status (client mode) and an upper bound on the time taken."""
    path = os.path.join(scratch, "out-" + name.replace(" ", "-"))
    with open(path, "wb") as f:
        f.write(before)
    opts = list(options) + (["-k"] if status is not None and "-k" not in options else [])
    began = time.time()
    got, got_status, ms = fetch_once(url, path, *opts, prefix=prefix)
    wall = time.time() - began
    with open(path, "rb") as f:
        after = f.read()
    want = before if content is None else content
    problems = []
    if got != code:
        problems.append(f"result {got} (expected {code}) {ms if got is None else ''}")
    if status is not None and got_status != status:
        problems.append(f"status {got_status} (expected {status})")
    if after != want:
        problems.append(f"file has {len(after)} bytes (expected {len(want)})")
    if most_ms is not None and got is not None and ms > most_ms:
        problems.append(f"took {ms} ms (at most {most_ms})")
    print(f"{'ok  ' if not problems else 'FAIL'} {name}: {'; '.join(problems) or f'result {got}, {ms} ms'} ({wall:.1f} s)")
    if problems:
        failures.append(name)


def private_mounts(*pairs):
    """A command prefix that runs the program with each (file, over) pair bind-mounted in a mount
    namespace of its own: the system's files stay as they are for everyone else."""
    script = " && ".join(f'mount --bind "${2 * i + 1}" "${2 * i + 2}"' for i in range(len(pairs)))
    args = [a for pair in pairs for a in pair]
    return ("unshare", "--mount", "sh", "-c", script + ' && shift ' + str(len(args)) + ' && exec "$@"', "sh", *args)


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, capture_output=True, cwd=pki)


def make_certificates():
    """A test CA, a server certificate for localhost and one for wrong.test signed by it, and a
    self-signed certificate for localhost."""
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
            "-subj", "/CN=facup test CA")
    openssl("x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der")
    for name, host in (("good", "localhost"), ("wrong", "wrong.test")):
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{name}.key", "-out", f"{name}.csr",
                "-subj", f"/CN={host}")
        with open(os.path.join(pki, f"{name}.ext"), "w") as f:
            f.write(f"subjectAltName=DNS:{host}\n")
        openssl("x509", "-req", "-in", f"{name}.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                "-days", "2", "-extfile", f"{name}.ext", "-out", f"{name}.pem")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "self.key", "-out", "self.pem", "-days", "2",
            "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost")


def s_server(name, www=True):
    port = free_port()
    cmd = ["openssl", "s_server", "-quiet", "-accept", f"127.0.0.1:{port}", "-cert", os.path.join(pki, f"{name}.pem"),
           "-key", os.path.join(pki, f"{name}.key")]
    # Without -WWW the server completes the handshake and then waits on its standard input, which
    # stays open and silent: a peer that never answers.
    start(cmd + (["-WWW"] if www else []), port, f"openssl s_server ({name})", cwd=www_dir, stdin=subprocess.PIPE)
    return port


def nginx(port, redirect_to):
    conf = os.path.join(scratch, "nginx.conf")
    with open(conf, "w") as f:
        f.write(f"""daemon off;
master_process off;
worker_processes 1;
pid {scratch}/nginx.pid;
error_log {scratch}/nginx-error.log;
events {{ worker_connections 64; }}
http {{
  access_log off;
  client_body_temp_path {scratch}/nginx-body;
  proxy_temp_path {scratch}/nginx-proxy;
  fastcgi_temp_path {scratch}/nginx-fastcgi;
  uwsgi_temp_path {scratch}/nginx-uwsgi;
  scgi_temp_path {scratch}/nginx-scgi;
  default_type application/octet-stream;
  server {{
    listen 127.0.0.1:{port};
    root {www_dir};
    location = /moved {{ return 302 {redirect_to}; }}
  }}
}}
""")
    start(["nginx", "-p", scratch, "-c", conf, "-e", f"{scratch}/nginx-error.log"], port, "nginx")


shutil.rmtree(scratch, ignore_errors=True)
www_dir = os.path.join(scratch, "www")
pki = os.path.join(scratch, "pki")
os.makedirs(www_dir)
os.makedirs(pki)
big = os.urandom(15 * 1024 * 1024 + 12345)
for name, data in (("small.txt", SMALL), ("empty.txt", b""), ("big.bin", big)):
    with open(os.path.join(www_dir, name), "wb") as f:
        f.write(data)

servers = []
trusted_on_windows = False
try:
    py_port, ng_port = free_port(), free_port()
    start([sys.executable, "-m", "http.server", str(py_port), "--bind", "127.0.0.1", "--directory", www_dir], py_port,
          "python3 -m http.server")
    nginx(ng_port, f"http://127.0.0.1:{py_port}/small.txt")

    for server, port in (("python", py_port), ("nginx", ng_port)):
        base = f"http://127.0.0.1:{port}"
        check(f"{server} small", f"{base}/small.txt", 0, SMALL)
        check(f"{server} 200 with Content-Length 0", f"{base}/empty.txt", 0, status=200)
        check(f"{server} 15 MB", f"{base}/big.bin", 0, big)
        check(f"{server} 404 with body", f"{base}/missing.txt", 0, status=404)
    check("nginx redirect to python", f"http://127.0.0.1:{ng_port}/moved", 0, SMALL)
    check("unresolvable name", "http://no-such-host.invalid/x", 9)
    # With both names in a private hosts file: a name is looked up, a host text starting with a
    # digit is read as an address only.
    hosts = os.path.join(scratch, "hosts")
    with open(hosts, "w") as f:
        f.write("127.0.0.1 localhost\n127.0.0.1 camera.invalid\n127.0.0.1 1camera.invalid\n")
    check("name from the hosts file", f"http://camera.invalid:{py_port}/small.txt", 0, SMALL,
          prefix=private_mounts((hosts, "/etc/hosts")))
    check("digit first, not an address", f"http://1camera.invalid:{py_port}/small.txt", 9,
          prefix=private_mounts((hosts, "/etc/hosts")))

    make_certificates()
    self_port, good_port, wrong_port = s_server("self"), s_server("good"), s_server("wrong")
    silent_port = s_server("self", www=False)
    check("tls self-signed, verified", f"https://localhost:{self_port}/small.txt", 24)
    check("tls self-signed, verification off", f"https://localhost:{self_port}/small.txt", 0, SMALL, status=200)
    check("tls CA not trusted", f"https://localhost:{good_port}/small.txt", 24)
    check("tls silent after handshake", f"https://localhost:{silent_port}/small.txt", 17, options=("-k", "-t", "500"),
          most_ms=2500)

    # Trust the test CA: on Linux by a private mount of a bundle holding only it over the system's
    # bundle; on Windows by adding it to the test prefix's root store.
    if windows:
        trusted_on_windows = run([trust_root, "add", os.path.join(pki, "ca.der")])[0] == 0
        prefix = ()
    else:
        prefix = private_mounts((os.path.join(pki, "ca.pem"), "/etc/ssl/certs/ca-certificates.crt"))
    check("tls CA trusted", f"https://localhost:{good_port}/small.txt", 0, SMALL, prefix=prefix)
    check("tls CA trusted, 15 MB", f"https://localhost:{good_port}/big.bin", 0, big, prefix=prefix)
    check("tls CA trusted, wrong host name", f"https://localhost:{wrong_port}/small.txt", 24, prefix=prefix)
    check("tls CA trusted, address instead of name", f"https://127.0.0.1:{good_port}/small.txt", 24, prefix=prefix)
finally:
    if trusted_on_windows:
        run([trust_root, "remove", os.path.join(pki, "ca.der")])
    for proc in servers:
        proc.terminate()
    for proc in servers:
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    if windows:
        # The prefix's wineserver serves this namespace only: it ends here, and the prefix goes
        # when every check passed (and nothing broke off the checks).
        passed = not failures and sys.exc_info()[0] is None
        end = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support", "wine_prefix_end")
        subprocess.run([end, wine_prefix, "0" if passed else "1"], timeout=60)

if failures:
    print(f"{len(failures)} failed: {', '.join(failures)}")
    sys.exit(1)
# The scratch directory holds four copies of the 15 MB file: kept only when something failed.
shutil.rmtree(scratch, ignore_errors=True)
print("all passed")
