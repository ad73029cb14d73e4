#!/usr/bin/env python3
"""A collector that fails: bad_collector.py <port> <500|silent|stall> on 127.0.0.1. "500" reads each
request and answers 500; "silent" accepts connections and never answers (each held until the
peer closes it or 60 s pass); "stall" reads the first 64 KiB of a request, then neither reads nor
answers (held so, 60 s at most)."""
import socket, sys, threading

port, mode = int(sys.argv[1]), sys.argv[2]
server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", port))
server.listen(16)


def serve(conn):
    conn.settimeout(60)
    try:
        if mode == "500":
            data = b""
            while b"\r\n\r\n" not in data:
                chunk = conn.recv(65536)
                if not chunk:
                    return
                data += chunk
            conn.sendall(b"HTTP/1.1 500 Internal Server Error\r\nContent-Length: 5\r\nConnection: close\r\n\r\nerror")
        elif mode == "stall":
            conn.recv(65536)
            conn.settimeout(None)
            threading.Event().wait(60)
        else:
            while conn.recv(65536):
                pass
    except OSError:
        pass
    finally:
        conn.close()


while True:
    connection, _ = server.accept()
    threading.Thread(target=serve, args=(connection,), daemon=True).start()
