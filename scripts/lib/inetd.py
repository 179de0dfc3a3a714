"""A minimal inetd for one FTP server: listens on ADDRESS:PORT and starts COMMAND for every connection with the
accepted socket as its standard input and output, as inetd does (nowait). Standard error goes to LOG.

usage: inetd.py ADDRESS PORT LOG COMMAND [ARG...]

The server talks on the accepted socket itself, not through a relay, so its TCP behaviour is its own.
Stops on SIGTERM; the servers it started run on in their own sessions until their clients leave (the caller
kills the whole process group to end them too).
"""
import os
import signal
import socket
import sys


def main():
    address, port, log, command = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4:]
    signal.signal(signal.SIGCHLD, signal.SIG_IGN)  # children are reaped by the kernel
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    family = socket.AF_INET6 if ":" in address else socket.AF_INET
    listener = socket.socket(family, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((address, port))
    listener.listen(64)
    errors = os.open(log, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o600)
    while True:
        connection, _ = listener.accept()
        if os.fork() == 0:
            listener.close()
            signal.signal(signal.SIGCHLD, signal.SIG_DFL)
            signal.signal(signal.SIGTERM, signal.SIG_DFL)
            os.dup2(connection.fileno(), 0)
            os.dup2(connection.fileno(), 1)
            os.dup2(errors, 2)
            connection.close()
            try:
                os.execv(command[0], command)
            finally:
                os._exit(127)
        connection.close()


if __name__ == "__main__":
    main()
