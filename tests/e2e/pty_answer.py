#!/usr/bin/env python3
"""pty_answer.py <answer> <program> [args...]: runs the program on a pseudo-terminal, types the answer
and Enter at each prompt it shows (a message box: the prompt ends in "] "), lets it finish within
120 s, and prints its exit code (as the shell shows it)."""
import os
import pty
import select
import sys
import time


def main():
    answer, argv = sys.argv[1], sys.argv[2:]
    pid, fd = pty.fork()
    if pid == 0:
        os.execv(argv[0], argv)
    seen = b""
    answered = 0
    deadline = time.time() + 120
    while time.time() < deadline:
        ready, _, _ = select.select([fd], [], [], 0.2)
        if ready:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
            if seen.count(b"[OK: Enter") > answered and seen.rstrip().endswith(b"]"):
                os.write(fd, answer.encode() + b"\n")
                answered += 1
    else:
        os.kill(pid, 9)
    _, status = os.waitpid(pid, 0)
    print(os.waitstatus_to_exitcode(status) % 256)


if __name__ == "__main__":
    main()
