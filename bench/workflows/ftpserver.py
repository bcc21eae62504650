#!/usr/bin/python3
"""Loopback FTP server for the workflow benchmark, on pyftpdlib.

Usage: ftpserver.py ROOT USER PASSWORD
One account whose home is ROOT, with every permission. Prints "PORT <n>" once it listens on 127.0.0.1, and ends
when its standard input closes, so it never outlives the benchmark.
"""

import logging
import os
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer


class BulkDTPHandler(DTPHandler):
    # Larger reads cost the interpreter fewer rounds per MiB on uploads; downloads go through sendfile().
    ac_in_buffer_size = 262144
    ac_out_buffer_size = 262144


def main():
    root, user, password = sys.argv[1:4]
    logging.basicConfig(level=logging.WARNING)
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elradfmwMT")
    handler = FTPHandler
    handler.authorizer = authorizer
    handler.dtp_handler = BulkDTPHandler
    server = FTPServer(("127.0.0.1", 0), handler)
    print("PORT", server.address[1], flush=True)

    def watch():
        sys.stdin.read()
        os._exit(0)

    threading.Thread(target=watch, daemon=True).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
