#!/usr/bin/python3
"""Loopback FTP server for the network tests and benchmarks (pyftpdlib).

Usage: ftp_server.py ROOT [PORT] [--passive-only] [--throttle BYTES_PER_SEC]
                                 [--log FILE] [--tls CERTFILE] [--host ::1]
Serves ROOT on 127.0.0.1 (PORT 0 or absent: a free port) and prints "PORT <n>"
once it listens. Accounts: "user"/"secret" (full rights) and "nopass", which is
logged in by USER alone (230), as some servers do for open accounts.
  --passive-only  refuses PORT and EPRT, as servers behind a firewall do
  --throttle      limits the bytes received per second on data connections
  --log           appends every command line but PASS to FILE
  --host          listens on this loopback address instead of 127.0.0.1
  --tls           requires AUTH TLS and protected data connections (CERTFILE
                  holds the key and the certificate)
  --perm          the rights of "user" (default elradfmwMT; without f: no renames)
  --refuse-list   FILE of "NAME CODE" lines, read on every STOR: a STOR of NAME
                  (or of its temporary name NAME.qmpart) is answered CODE
  --cut-list      FILE of names, read after every STOR: the stored copy of
                  a file of that name is cut to half, as a server losing the
                  end of a file while still answering 226
  --max-connections N  a client's connection beyond N is answered "421 Too
                  many connections" and closed
  --delay MS      answers every command MS milliseconds late, one thread per
                  session (a model of a host that far away)
"""
import argparse
import logging
import os
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer, ThreadedFTPServer


def make_handler(base, options):
    class Handler(base):
        def pre_process_command(self, line, cmd, arg):
            if options.delay:
                time.sleep(options.delay / 1000.0)
            if options.log and cmd != "PASS":
                with open(options.log, "a") as log:
                    log.write(line + "\n")
            return base.pre_process_command(self, line, cmd, arg)

        def ftp_USER(self, line):
            if line == "nopass" and not self.authenticated:
                self.username = line
                self.handle_auth_success(self.authorizer.get_home_dir(line), "", "Welcome, no password needed.")
                return
            return base.ftp_USER(self, line)

        def ftp_STOR(self, file, mode="w"):
            if options.refuse_list:
                try:
                    with open(options.refuse_list) as refused:
                        for entry in refused.read().split("\n"):
                            name, _, code = entry.partition(" ")
                            stored = os.path.basename(file)
                            if name and stored in (name, name + ".qmpart"):
                                return self.respond("%s Refused by the test server." % code)
                except OSError:
                    pass
            return base.ftp_STOR(self, file, mode)

        def on_file_received(self, file):
            if not options.cut_list:
                return
            try:
                with open(options.cut_list) as names:
                    if os.path.basename(file) in names.read().split():
                        os.truncate(file, os.path.getsize(file) // 2)
            except OSError:
                pass

        def ftp_PORT(self, line):
            if options.passive_only:
                return self.respond("500 Active mode is not allowed here.")
            return base.ftp_PORT(self, line)

        def ftp_EPRT(self, line):
            if options.passive_only:
                return self.respond("500 Active mode is not allowed here.")
            return base.ftp_EPRT(self, line)

    return Handler


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("port", nargs="?", type=int, default=0)
    parser.add_argument("--passive-only", action="store_true")
    parser.add_argument("--throttle", type=int, default=0)
    parser.add_argument("--log")
    parser.add_argument("--tls")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--perm", default="elradfmwMT")
    parser.add_argument("--refuse-list")
    parser.add_argument("--cut-list")
    parser.add_argument("--max-connections", type=int, default=0)
    parser.add_argument("--delay", type=int, default=0)
    options = parser.parse_args()
    logging.basicConfig(level=logging.ERROR)
    base = FTPHandler
    if options.tls:
        from pyftpdlib.handlers import TLS_FTPHandler
        base = TLS_FTPHandler
    Handler = make_handler(base, options)
    if options.tls:
        Handler.certfile = options.tls
        Handler.tls_control_required = True
        Handler.tls_data_required = True
    if options.throttle:
        dtp = ThrottledDTPHandler
        dtp.read_limit = options.throttle
        Handler.dtp_handler = dtp
    authorizer = DummyAuthorizer()
    authorizer.add_user("user", "secret", options.root, perm=options.perm)
    authorizer.add_user("nopass", "", options.root, perm="elradfmwMT")
    Handler.authorizer = authorizer
    Handler.banner = "Quillmart test server ready."
    Handler.auth_failed_timeout = 0  # answer a wrong password at once
    Handler.masquerade_address_map = {}
    server = (ThreadedFTPServer if options.delay else FTPServer)((options.host, options.port), Handler)
    if options.max_connections:
        server.max_cons_per_ip = options.max_connections
    print("PORT %d" % server.address[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
