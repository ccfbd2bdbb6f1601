#!/usr/bin/env python3
"""A loopback server that answers as the catalogue host does today.

    catalogue_host.py PORT MODE ENTRY_FILE READY_FILE LOG_FILE [--tls CERT KEY PLAIN_PORT]

Paths, as the host answers them:
  /NORAD/elements/gp.php?CATNR=<n>&FORMAT=TLE     the entry in ENTRY_FILE, by MODE
  /mirror/<name>.txt (a station's mirror)          ENTRY_FILE, by MODE
  /NORAD/elements/<group>.txt (the retired files)  301 to the GP query of the group
  anything else                                    404 "No GP data found"
MODE decides the GP answer: counted (Content-Length), chunked, cut (the
entry cut inside its second element line, then the connection closed),
csv (a CSV answer, as if the format had been ignored), refuse (the 403 sent
to clients that ask more often than the data changes), slow (the entry,
counted, after 3 s), trickle (the entry, counted, one byte a second).

With --tls the host answers over TLS with CERT and KEY, as the host does
on https, and PLAIN_PORT answers every plain request with a 301 to https,
logged as "plain: <request line>".

Every connection's request line goes to LOG_FILE, one line each, so a
caller can tell how many connections came (a failed TLS handshake is logged
as "(no TLS: <reason>)"). READY_FILE is created once the port listens. The server
serves one connection at a time and ends by itself after 120 s.
"""
import re
import select
import socket
import ssl
import sys
import time

GP_QUERY = re.compile(r"/NORAD/elements/gp\.php\?CATNR=[0-9]+&FORMAT=TLE$|/mirror/[a-z0-9-]+\.txt$")
LIFETIME = 120
SLOW_ANSWER = 3  # seconds

CSV = (
    b"OBJECT_NAME,OBJECT_ID,EPOCH,MEAN_MOTION,ECCENTRICITY,INCLINATION,RA_OF_ASC_NODE,"
    b"ARG_OF_PERICENTER,MEAN_ANOMALY,EPHEMERIS_TYPE,CLASSIFICATION_TYPE,NORAD_CAT_ID,"
    b"ELEMENT_SET_NO,REV_AT_EPOCH,BSTAR,MEAN_MOTION_DOT,MEAN_MOTION_DDOT\r\n"
    b"METEOR-M2 2,2019-038A,2024-06-17T22:09:45.975456,14.23894557,.0001105,98.8265,"
    b"139.15,18.5176,341.6042,0,U,44387,999,25749,.45474E-4,.59E-6,0\r\n"
)
REFUSAL = (
    b"GP data has not updated since your last successful download of CATNR=44387 "
    b"at 2026-12-08 18:00:00 UTC.\r\nData is updated once every 2 hours.\r\n"
)


def answer(status, body, headers=b"", framing="counted"):
    head = b"HTTP/1.1 " + status + b"\r\nContent-Type: text/plain; charset=utf-8\r\n" + headers
    if framing == "chunked":
        half = len(body) // 2
        chunks = b"".join(b"%x\r\n%s\r\n" % (len(p), p) for p in (body[:half], body[half:]) if p)
        return head + b"Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n" + chunks + b"0\r\n\r\n"
    if framing == "close":
        return head + b"Connection: close\r\n\r\n" + body
    return head + b"Content-Length: %d\r\nConnection: close\r\n\r\n" % len(body) + body


def respond(target, mode, entry):
    if GP_QUERY.match(target):
        if mode == "refuse":
            return answer(b"403 Forbidden", REFUSAL)
        if mode == "csv":
            return answer(b"200 OK", CSV)
        if mode == "cut":
            return answer(b"200 OK", entry[: len(entry) - 30], framing="close")
        return answer(b"200 OK", entry, framing="chunked" if mode == "chunked" else "counted")
    if target.startswith("/NORAD/elements/") and target.endswith(".txt"):
        group = target[len("/NORAD/elements/"):-len(".txt")].encode()
        location = b"Location: https://celestrak.org/NORAD/elements/gp.php?GROUP=%s&FORMAT=csv\r\n" % group
        return answer(b"301 Moved Permanently", b"", headers=location)
    return answer(b"404 Not Found", b"No GP data found")


def redirect(client, log, port):
    client.settimeout(10)
    request = client.recv(65536)
    line = request.split(b"\r\n", 1)[0].decode("latin-1")
    with open(log, "a") as f:
        f.write("plain: " + line + "\n")
    location = b"Location: https://localhost:%d%s\r\n" % (port, (line.split(" ") + ["", "/"])[1].encode())
    client.sendall(answer(b"301 Moved Permanently", b"", headers=location))


def read_head(client):
    """The request head up to its empty line, or what came before the close."""
    request = b""
    while b"\r\n\r\n" not in request and len(request) < 65536:
        chunk = client.recv(4096)
        if not chunk:
            break
        request += chunk
    return request


def serve(client, mode, entry, log):
    client.settimeout(10)
    request = read_head(client)
    # Every connection is logged, a request or not.
    line = request.split(b"\r\n", 1)[0].decode("latin-1") or "(connection without a request)"
    with open(log, "a") as f:
        f.write(line + "\n")
    if b"\r\n\r\n" not in request:
        return
    parts = line.split(" ")
    target = parts[1] if len(parts) == 3 else ""
    if mode == "slow" and GP_QUERY.match(target):
        time.sleep(SLOW_ANSWER)
    answer_bytes = respond(target, mode, entry)
    if mode == "trickle" and GP_QUERY.match(target):
        head, body = answer_bytes.split(b"\r\n\r\n", 1)
        client.sendall(head + b"\r\n\r\n")
        for i in range(len(body)):
            time.sleep(1)
            client.sendall(body[i:i + 1])  # fails once the client has gone
    else:
        client.sendall(answer_bytes)
    if isinstance(client, ssl.SSLSocket):
        # Ends as a server on https does: the closing alert, then the client
        # may close (unwrap waits for that or for its alert).
        client = client.unwrap()
    client.shutdown(socket.SHUT_WR)
    # Until the client closes, so that nothing it has not read is lost.
    try:
        while client.recv(4096):
            pass
    except OSError:
        pass


def listener_on(port):
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(4)
    return listener


def main():
    port, mode, entry_path, ready_path, log_path = sys.argv[1:6]
    if mode not in ("counted", "chunked", "cut", "csv", "refuse", "slow", "trickle"):
        sys.exit("unknown mode " + mode)
    tls = None
    listeners = [listener_on(int(port))]
    if sys.argv[6:7] == ["--tls"]:
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(sys.argv[7], sys.argv[8])
        listeners.append(listener_on(int(sys.argv[9])))
    with open(entry_path, "rb") as f:
        entry = f.read()
    open(log_path, "w").close()
    end = time.monotonic() + LIFETIME
    open(ready_path, "w").close()
    while time.monotonic() < end:
        ready, _, _ = select.select(listeners, [], [], max(0.1, end - time.monotonic()))
        for listener in ready:
            client, _ = listener.accept()
            with client:
                try:
                    if listener is not listeners[0]:
                        redirect(client, log_path, int(port))
                        continue
                    if tls:
                        try:
                            client = tls.wrap_socket(client, server_side=True)
                        except (ssl.SSLError, OSError) as e:
                            with open(log_path, "a") as f:
                                f.write("(no TLS: %s)\n" % e)
                            continue
                    serve(client, mode, entry, log_path)
                except OSError:
                    pass
    for listener in listeners:
        listener.close()


if __name__ == "__main__":
    main()
