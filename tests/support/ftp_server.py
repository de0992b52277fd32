#!/usr/bin/python3
"""A loopback FTP server for the tests and benchmarks, with faults chosen on its command line.

Prints "PORT <n>" on standard output once it listens on 127.0.0.1, then serves until killed.

  --root DIR                 the directory served (required)
  --port N                   listening port (0: any free one, the default)
  --user NAME:PASSWORD       a user with every right (may be given more than once)
  --read-only NAME:PASSWORD  a user that may list and read but not write or delete
  --anonymous                allow anonymous logins, with every right
  --refuse-login             every login is refused (530)
  --fail-download NAME       RETR of a file with this name is answered 550 (repeatable)
  --drop-download NAME:BYTES after BYTES bytes of NAME the control and data connections close
  --stall CMD                the server never answers this command (repeatable; ALL = every
                             command after the login)
  --silent                   accept connections but never send the greeting
  --tls PEMFILE              explicit TLS (AUTH TLS) required on the control and data connections,
                             with the key and certificate in PEMFILE (needs python3-openssl)
  --refuse-empty-list        LIST of a directory without entries is answered "450 No files found"
  --list-line LINE           LIST answers with this line added to the real entries (repeatable;
                             a name alone stands for a plain file of two bytes of that name)
"""
import argparse
import logging
import os
import socket
import sys
import threading
import time
import warnings

from pyftpdlib.authorizers import DummyAuthorizer, AuthenticationFailed
from pyftpdlib.handlers import FTPHandler, FileProducer
from pyftpdlib.servers import FTPServer

FULL = "elradfmwMT"
READ = "elr"


class RefusingAuthorizer(DummyAuthorizer):
    def validate_authentication(self, username, password, handler):
        raise AuthenticationFailed("Login refused.")


class DroppingFile:
    """A file that gives `limit` bytes and then drops the whole session."""

    def __init__(self, f, limit, handler):
        self.f, self.limit, self.handler, self.sent = f, limit, handler, 0
        self.name = f.name

    def read(self, n):
        if self.sent >= self.limit:
            handler = self.handler
            for conn in (handler.data_channel, handler):
                try:
                    conn.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                           b"\x01\x00\x00\x00\x00\x00\x00\x00")
                except Exception:
                    pass
            handler.close()
            return b""
        data = self.f.read(min(n, self.limit - self.sent))
        self.sent += len(data)
        return data

    def close(self):
        self.f.close()

    @property
    def closed(self):
        return self.f.closed


def make_handler(opts):
    fail = set(opts.fail_download or [])
    drop_name, drop_bytes = None, 0
    if opts.drop_download:
        drop_name, _, count = opts.drop_download.rpartition(":")
        drop_bytes = int(count)
    stall = set(c.upper() for c in (opts.stall or []))

    base = FTPHandler
    if opts.tls:
        from pyftpdlib.handlers import TLS_FTPHandler

        base = TLS_FTPHandler
        base.certfile = opts.tls
        base.tls_control_required = True
        base.tls_data_required = True

    class Handler(base):
        banner = "Pendrill test FTP server ready."

        def process_command(self, cmd, *args, **kwargs):
            if cmd.upper() in stall or ("ALL" in stall and self.authenticated):
                return  # no reply, ever
            return super().process_command(cmd, *args, **kwargs)

        def ftp_LIST(self, path):
            if opts.refuse_empty_list and os.path.isdir(path) and not os.listdir(path):
                self.respond("450 No files found.")
                return
            if opts.list_line and os.path.isdir(path):
                lines = [l if isinstance(l, bytes) else l.encode("utf-8")
                         for l in self.fs.format_list(path, sorted(os.listdir(path)))]
                for line in opts.list_line:
                    if " " not in line:
                        line = "-rw-r--r--   1 owner    group           2 Jan 01 00:00 " + line
                    lines.append((line + "\r\n").encode("utf-8"))
                self.push_dtp_data(b"".join(lines), cmd="LIST")
                return path
            return super().ftp_LIST(path)

        def ftp_RETR(self, file):
            name = os.path.basename(file)
            if name in fail:
                self.respond("550 Injected failure for %s." % name)
                return
            if name == drop_name:
                try:
                    fd = open(file, "rb")
                except OSError as err:
                    self.respond("550 %s." % err.strerror)
                    return
                producer = FileProducer(DroppingFile(fd, drop_bytes, self), self._current_type)
                self.push_dtp_data(producer, isproducer=True, file=fd, cmd="RETR")
                return
            return super().ftp_RETR(file)

    if opts.refuse_login:
        authorizer = RefusingAuthorizer()
    else:
        authorizer = DummyAuthorizer()
        for entry in opts.user or []:
            name, _, password = entry.partition(":")
            authorizer.add_user(name, password, opts.root, perm=FULL)
        for entry in opts.read_only or []:
            name, _, password = entry.partition(":")
            authorizer.add_user(name, password, opts.root, perm=READ)
        if opts.anonymous:
            authorizer.add_anonymous(opts.root, perm=FULL)
    Handler.authorizer = authorizer
    # Names travel as the bytes they are on disk, as with servers that do not speak UTF-8.
    Handler.unicode_errors = "surrogateescape"
    Handler.auth_failed_timeout = 0.1
    Handler.permit_foreign_addresses = False
    return Handler


def serve_silently(port):
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(16)
    print("PORT %d" % listener.getsockname()[1], flush=True)
    held = []
    while True:
        conn, _ = listener.accept()
        held.append(conn)  # kept open, never answered


def exit_with_parent():
    """Ends the server when the process that started it is gone (a killed test)."""
    parent = os.getppid()

    def watch():
        while os.getppid() == parent:
            time.sleep(0.5)
        os._exit(0)

    threading.Thread(target=watch, daemon=True).start()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--user", action="append")
    parser.add_argument("--read-only", action="append")
    parser.add_argument("--anonymous", action="store_true")
    parser.add_argument("--refuse-login", action="store_true")
    parser.add_argument("--fail-download", action="append")
    parser.add_argument("--drop-download")
    parser.add_argument("--stall", action="append")
    parser.add_argument("--silent", action="store_true")
    parser.add_argument("--tls")
    parser.add_argument("--refuse-empty-list", action="store_true")
    parser.add_argument("--list-line", action="append")
    opts = parser.parse_args()
    exit_with_parent()

    if opts.silent:
        serve_silently(opts.port)
        return
    warnings.filterwarnings("ignore")  # write rights for anonymous users are wanted here
    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)
    logging.getLogger("pyftpdlib").setLevel(logging.WARNING)
    server = FTPServer(("127.0.0.1", opts.port), make_handler(opts))
    server.max_cons = 64
    print("PORT %d" % server.socket.getsockname()[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
