#!/usr/bin/env python3
"""Serves one HTTP response on 127.0.0.1:PORT, then exits.

    serve_once.py PORT BODY_FILE READY_FILE

The body goes out with a Content-Length. READY_FILE is created once the
port listens, so a caller can wait for it instead of sleeping. Gives up
after 60 s without a client.
"""
import socket
import sys


def main():
    port, body_path, ready_path = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    with open(body_path, "rb") as f:
        body = f.read()
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as listener:
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("127.0.0.1", port))
        listener.listen(1)
        listener.settimeout(60)
        open(ready_path, "w").close()
        client, _ = listener.accept()
        with client:
            client.settimeout(10)
            request = b""
            while b"\r\n\r\n" not in request and len(request) < 65536:
                chunk = client.recv(4096)
                if not chunk:
                    break
                request += chunk
            head = b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body)
            client.sendall(head + body)


if __name__ == "__main__":
    main()
