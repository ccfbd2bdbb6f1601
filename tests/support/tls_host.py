#!/usr/bin/env python3
"""Loopback TLS servers for the TLS tests, one port each:

    tls_host.py CERT_DIR ENTRY_FILE READY_FILE

  good         localhost's certificate from the test CA, TLS 1.2 or 1.3
  tls12        the same, TLS 1.2 at most
  tls10, tls11 the same, TLS 1.0 only and TLS 1.1 only (security level 0)
  wrong_host   a certificate for wrong.example
  expired      a certificate that ended in 2021
  self_signed  a certificate signed by itself
  plain        no TLS: answers whatever comes with a plain-text HTTP answer

On the TLS ports the path decides the answer with ENTRY_FILE's bytes:
/counted (Content-Length), /chunked, /close (unframed, ended by the closing
alert) and /cut (unframed, ended by a bare TCP close, no alert); /echo
answers with the request head itself. "default" is the good server on
port 443, when that port can be had. READY_FILE
gets a line "NAME PORT" for each server once all listen, then "ready".
Every TLS connection's version and request line are printed, and the
name and request line are appended to READY_FILE.requests. The servers
end by themselves after 120 s.
"""
import os
import socket
import ssl
import sys
import threading
import time
import warnings

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from catalogue_host import answer, read_head  # noqa: E402

# TLS 1.0 and 1.1 are deprecated, and served here on purpose.
warnings.filterwarnings("ignore", category=DeprecationWarning)

LIFETIME = 120


def context(cert_dir, cert, maximum=None, only=None):
    c = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    c.load_cert_chain(os.path.join(cert_dir, cert + ".pem"), os.path.join(cert_dir, "server.key"))
    if maximum:
        c.maximum_version = maximum
    if only:
        # The old protocols need the weakest security level of OpenSSL 3.
        c.set_ciphers("DEFAULT:@SECLEVEL=0")
        c.minimum_version = c.maximum_version = only
    return c


requests_lock = threading.Lock()


def serve_tls(client, ctx, entry, name, log):
    tls = ctx.wrap_socket(client, server_side=True)
    request = read_head(tls)
    line = request.split(b"\r\n", 1)[0].decode("latin-1")
    print("%s %s %s" % (name, tls.version(), line), flush=True)
    if line:
        with requests_lock, open(log, "a") as f:
            f.write("%s %s\n" % (name, line))
    parts = line.split(" ")
    target = parts[1] if len(parts) == 3 else ""
    framing = {"/counted": "counted", "/chunked": "chunked", "/echo": "counted"}.get(target, "close")
    body = request if target == "/echo" else entry
    tls.sendall(answer(b"200 OK", body, framing=framing))
    if target == "/cut":
        tls.close()  # the socket goes without a closing alert
        return
    tls.unwrap()  # the closing alert


def serve_plain(client):
    client.recv(4096)
    client.sendall(answer(b"400 Bad Request", b"This is a plain HTTP port.\r\n"))


def listen(name, handler, stop, port=0):
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(8)
    listener.settimeout(0.2)

    def loop():
        while time.monotonic() < stop:
            try:
                client, _ = listener.accept()
            except socket.timeout:
                continue
            client.settimeout(10)
            try:
                handler(client)
            except (OSError, ssl.SSLError) as e:
                print("%s: %s" % (name, e), flush=True)
            finally:
                client.close()
        listener.close()

    threading.Thread(target=loop, daemon=True).start()
    return listener.getsockname()[1]


def main():
    cert_dir, entry_path, ready_path = sys.argv[1:4]
    with open(entry_path, "rb") as f:
        entry = f.read()
    stop = time.monotonic() + LIFETIME
    servers = {
        "good": context(cert_dir, "localhost"),
        "tls12": context(cert_dir, "localhost", ssl.TLSVersion.TLSv1_2),
        "tls10": context(cert_dir, "localhost", only=ssl.TLSVersion.TLSv1),
        "tls11": context(cert_dir, "localhost", only=ssl.TLSVersion.TLSv1_1),
        "wrong_host": context(cert_dir, "wrong_host"),
        "expired": context(cert_dir, "expired"),
        "self_signed": context(cert_dir, "self_signed"),
    }
    log = ready_path + ".requests"
    open(log, "w").close()
    lines = []
    for name, ctx in servers.items():
        port = listen(name, lambda c, ctx=ctx, name=name: serve_tls(c, ctx, entry, name, log), stop)
        lines.append("%s %d\n" % (name, port))
    lines.append("plain %d\n" % listen("plain", serve_plain, stop))
    good = servers["good"]
    try:
        listen("default", lambda c: serve_tls(c, good, entry, "default", log), stop, 443)
        lines.append("default 443\n")
    except OSError:
        pass
    with open(ready_path + ".tmp", "w") as f:
        f.writelines(lines + ["ready\n"])
    os.rename(ready_path + ".tmp", ready_path)
    while time.monotonic() < stop:
        time.sleep(0.2)


if __name__ == "__main__":
    main()
