#!/usr/bin/python3
"""A plain FTP server that refuses AUTH TLS with 500, as a server without TLS (or a MITM stripping it) would, and
writes every command it received to the file named by its argument. Prints its port, serves until killed."""
import socket
import sys
import threading

log = open(sys.argv[1], "a", buffering=1)
server = socket.create_server(("127.0.0.1", 0))
print(server.getsockname()[1], flush=True)


def serve(conn):
    with conn, conn.makefile("rb") as lines:
        conn.sendall(b"220 plain FTP\r\n")
        for line in lines:
            log.write(line.decode(errors="replace").strip() + "\n")
            conn.sendall(b"500 not understood\r\n" if line.upper().startswith(b"AUTH") else b"331 go on\r\n")


while True:
    threading.Thread(target=serve, args=(server.accept()[0],), daemon=True).start()
