"""A name server on 127.0.0.1:53 that takes every question and never answers.

    silent_name_server.py READY_FILE ASKED_FILE

Writes "listening" (or why it cannot listen) to READY_FILE, a line to
ASKED_FILE for each question, and ends after 60 s without one.
"""
import socket
import sys

ready, asked = sys.argv[1:3]
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
try:
    s.bind(("127.0.0.1", 53))
except OSError as e:
    open(ready, "w").write(f"port 53 on 127.0.0.1 cannot be had: {e}")
    sys.exit(0)
open(ready, "w").write("listening")
s.settimeout(60)
try:
    while True:
        s.recvfrom(512)
        with open(asked, "a") as log:
            log.write("question\n")
except socket.timeout:
    pass
