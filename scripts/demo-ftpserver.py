#!/usr/bin/python3
"""The demo's FTP server: serves ROOT on 127.0.0.1:PORT with the account demo/demo, home /home/demo."""

import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


class DemoHandler(FTPHandler):
    def on_login(self, username):
        # Absolute paths such as /home/demo/FIXED.ZIP work as on the real server.
        self.fs.cwd = "/home/" + username


def main():
    root, port = sys.argv[1], int(sys.argv[2])
    authorizer = DummyAuthorizer()
    authorizer.add_user("demo", "demo", root, perm="elradfmwMT")
    handler = DemoHandler
    handler.authorizer = authorizer
    handler.passive_ports = range(40000, 40100)
    server = FTPServer(("127.0.0.1", port), handler)
    print(f"Demo FTP server on 127.0.0.1:{port}, serving {root}", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
