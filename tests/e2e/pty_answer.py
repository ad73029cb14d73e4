#!/usr/bin/env python3
"""pty_answer.py <answer> <program> [args...]: runs the program on a pseudo-terminal, waits until it
asks for an answer (its prompt ends in "] "), types the answer and Enter, lets it finish within 60 s,
and prints its exit code (as the shell shows it)."""
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
    answered = False
    deadline = time.time() + 60
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
            if not answered and seen.rstrip().endswith(b"]"):
                os.write(fd, answer.encode() + b"\n")
                answered = True
    else:
        os.kill(pid, 9)
    _, status = os.waitpid(pid, 0)
    print(os.waitstatus_to_exitcode(status) % 256)


if __name__ == "__main__":
    main()
