#!/usr/bin/env python3
"""Starts or stops the ws test peer of one ctest run.

ws_peer_fixture.py start DIR PEER_JS: starts `node PEER_JS` detached, waits for it to write its port
to DIR/port and notes its process id in DIR/pid. ws_peer_fixture.py stop DIR: ends that process, by
its id only. The peer also ends by itself after its lifetime, so a run that never stops it leaves
nothing behind for long.
"""
import os
import pathlib
import signal
import subprocess
import sys
import time


def start(work: pathlib.Path, peer_js: str) -> int:
    work.mkdir(parents=True, exist_ok=True)
    stop(work)
    port_file = work / "port"
    port_file.unlink(missing_ok=True)
    log = open(work / "peer.log", "wb")
    proc = subprocess.Popen(
        ["node", peer_js, "--port-file", str(port_file), "--lifetime", "1800"],
        stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
    (work / "pid").write_text(str(proc.pid))
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        if port_file.exists():
            print(f"ws peer {proc.pid} listens on 127.0.0.1:{port_file.read_text()}")
            return 0
        if proc.poll() is not None:
            break
        time.sleep(0.05)
    print("ws peer did not start; its log:", (work / "peer.log").read_text(errors="replace"))
    return 1


def stop(work: pathlib.Path) -> int:
    pid_file = work / "pid"
    if pid_file.exists():
        pid = pid_file.read_text().strip()
        try:
            # Only while that id still belongs to our peer.
            if b"peer.js" in pathlib.Path(f"/proc/{pid}/cmdline").read_bytes():
                os.kill(int(pid), signal.SIGTERM)
        except (OSError, ValueError):
            pass
        pid_file.unlink()
    return 0


if __name__ == "__main__":
    action, work = sys.argv[1], pathlib.Path(sys.argv[2])
    sys.exit(start(work, sys.argv[3]) if action == "start" else stop(work))
