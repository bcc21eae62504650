#!/usr/bin/python3
"""Loopback FTP server for the tests, on pyftpdlib, with faults that can be switched while it runs.

Usage: ftpserver.py --root DIR --users JSON   (JSON: [{"name": ..., "password": ..., "home": DIR inside the root}])
Prints "PORT <n>" once it listens on 127.0.0.1, then answers each request line on stdin with one line:
  logins | log | clearlog  -> "ok <count>" | "ok <JSON list of command lines>" | "ok" (both start again)
  fault refuse-stor on|off -> STOR answered with a two-line 553 reply
  fault drop N|off         -> data connections closed by the server after N bytes (426)
  fault throttle N|off     -> data connections limited to N bytes per second
  fault shorten N|off      -> every received file cut N bytes short after the 226
  fault close421 CMD|any   -> the next such command is answered 421 and the control connection closed
  fault no-size on|off     -> SIZE answered 502
  fault mute CMD|any|off   -> such commands get no answer at all
  fault clear              -> all faults off
End of stdin stops the server, so it never outlives the test that started it.
"""

import argparse
import json
import logging
import os
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.ioloop import timer
from pyftpdlib.servers import FTPServer

_lock = threading.Lock()
_log = []
_logins = 0
_faults = {}
_start_dirs = {}


def fault(name):
    return _faults.get(name)


class FaultyDTPHandler(DTPHandler):
    def __init__(self, sock, cmd_channel):
        self._rate = fault("throttle")
        self._drop_at = fault("drop")
        self._pause = None
        super().__init__(sock, cmd_channel)

    def use_sendfile(self):
        # Every byte goes through send(), where the faults are applied.
        return False

    def _limit(self, done):
        """Bytes that may move now before a drop or the throttle; None for no limit."""
        limits = [] if self._drop_at is None else [self._drop_at - done]
        if self._rate:
            # A small first burst, then the rate on average.
            limits.append(int(self._rate * (timer() - self._start_time)) + 4096 - done)
        return max(0, min(limits)) if limits else None

    def _after_move(self, done):
        if self._drop_at is not None and done >= self._drop_at:
            self._resp = ("426 Connection closed; transfer aborted.", logging.info)
            self.close()
        elif self._rate and self._limit(done) == 0:
            self.del_channel()
            self._cancel_pause()
            self._pause = self.ioloop.call_later(0.01, self._resume, _errback=self.handle_error)

    def _resume(self):
        if not self._closed:
            self.add_channel(events=self.ioloop.READ if self.receive else self.ioloop.WRITE)

    def _cancel_pause(self):
        if self._pause is not None and not self._pause.cancelled:
            self._pause.cancel()

    def send(self, data):
        limit = self._limit(self.tot_bytes_sent)
        if limit is not None:
            data = data[:limit]
        sent = super().send(data) if data else 0
        self._after_move(self.tot_bytes_sent)
        return sent

    def handle_read(self):
        limit = self._limit(self.tot_bytes_received)
        if limit == 0:
            self._after_move(self.tot_bytes_received)
            return
        self.ac_in_buffer_size = 65536 if limit is None else min(65536, limit)
        super().handle_read()
        if not self._closed:
            self._after_move(self.tot_bytes_received)

    # The base class binds its own handle_read here.
    handle_read_event = handle_read

    def close(self):
        self._cancel_pause()
        super().close()


class FaultyFTPHandler(FTPHandler):
    dtp_handler = FaultyDTPHandler
    auth_failed_timeout = 0.05

    def pre_process_command(self, line, cmd, arg):
        with _lock:
            _log.append(line)
        close_on = fault("close421")
        if close_on is not None and close_on in ("ANY", cmd):
            _faults.pop("close421", None)
            self.respond("421 Service not available, closing control connection.")
            self.close_when_done()
            return
        if fault("mute") in ("ANY", cmd):
            return
        if cmd == "SIZE" and fault("no-size"):
            self.respond("502 Command not implemented.")
            return
        if cmd == "STOR" and fault("refuse-stor"):
            # Two lines, so clients can be checked for keeping a multi-line reply whole.
            self.push("553-Could not create file.\r\n")
            self.respond("553 Quota exceeded.")
            return
        super().pre_process_command(line, cmd, arg)

    def on_login(self, username):
        global _logins
        with _lock:
            _logins += 1
        self.fs.cwd = _start_dirs.get(username, "/")

    def on_file_received(self, file):
        # After the 226 went out: the client believes the whole file arrived.
        short = fault("shorten")
        if short:
            os.truncate(file, max(0, os.path.getsize(file) - short))


def set_fault(words):
    if words == ["clear"]:
        _faults.clear()
        return True
    if len(words) != 2:
        return False
    name, value = words
    if name in ("refuse-stor", "no-size") and value in ("on", "off"):
        _faults[name] = value == "on"
    elif name in ("drop", "throttle", "shorten"):
        _faults[name] = None if value == "off" else int(value)
    elif name in ("close421", "mute"):
        _faults[name] = None if value == "off" else value.upper()
    else:
        return False
    return True


def answer(line):
    global _logins
    words = line.split()
    if not words:
        return "error empty request"
    if words[0] == "logins":
        with _lock:
            return "ok %d" % _logins
    if words[0] == "log":
        with _lock:
            return "ok " + json.dumps(_log)
    if words[0] == "clearlog":
        with _lock:
            _log.clear()
            _logins = 0
        return "ok"
    if words[0] == "fault":
        try:
            return "ok" if set_fault(words[1:]) else "error unknown fault"
        except ValueError:
            return "error bad value"
    return "error unknown request"


def read_requests():
    for line in sys.stdin:
        sys.stdout.write(answer(line.strip()) + "\n")
        sys.stdout.flush()
    # Sockets close with the process; nothing to save.
    os._exit(0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--users", required=True)
    args = parser.parse_args()

    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)
    root = os.path.realpath(args.root)
    authorizer = DummyAuthorizer()
    for user in json.loads(args.users):
        home = os.path.realpath(user["home"])
        os.makedirs(home, exist_ok=True)
        rel = os.path.relpath(home, root).replace(os.sep, "/")
        _start_dirs[user["name"]] = "/" if rel == "." else "/" + rel
        authorizer.add_user(user["name"], user["password"], root, perm="elradfmwMT")

    FaultyFTPHandler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", 0), FaultyFTPHandler)
    sys.stdout.write("PORT %d\n" % server.socket.getsockname()[1])
    sys.stdout.flush()
    threading.Thread(target=read_requests, daemon=True).start()
    timeout = 1.0
    while True:
        # Poll until the next scheduled call is due (auth delays, throttling, idle timers).
        soonest = server.ioloop.loop(timeout, blocking=False)
        timeout = 1.0 if soonest is None else min(max(soonest, 0.0), 1.0)


if __name__ == "__main__":
    main()
