#!/usr/bin/python3
"""Loopback FTP server for the network tests and benchmarks (pyftpdlib).

Usage: ftp_server.py ROOT [PORT]
Serves ROOT on 127.0.0.1 (PORT 0 or absent: a free port) and prints "PORT <n>"
once it listens. Accounts: "user"/"secret" (full rights) and "nopass", which is
logged in by USER alone (230), as some servers do for open accounts.
"""
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


class Handler(FTPHandler):
    def ftp_USER(self, line):
        if line == "nopass" and not self.authenticated:
            self.username = line
            self.handle_auth_success(self.authorizer.get_home_dir(line), "", "Welcome, no password needed.")
            return
        return FTPHandler.ftp_USER(self, line)


def main():
    root = sys.argv[1]
    port = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    logging.basicConfig(level=logging.ERROR)
    authorizer = DummyAuthorizer()
    authorizer.add_user("user", "secret", root, perm="elradfmwMT")
    authorizer.add_user("nopass", "", root, perm="elradfmwMT")
    Handler.authorizer = authorizer
    Handler.banner = "Quillmart test server ready."
    Handler.auth_failed_timeout = 0  # answer a wrong password at once
    server = FTPServer(("127.0.0.1", port), Handler)
    print("PORT %d" % server.address[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
