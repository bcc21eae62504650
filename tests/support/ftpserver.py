#!/usr/bin/python3
"""Loopback FTP server for the tests, on pyftpdlib, with faults that can be switched while it runs.

Usage: ftpserver.py --root DIR --users JSON [--tls DIR]
  (JSON: [{"name": ..., "password": ..., "home": DIR inside the root}])
With --tls the server makes a test CA and certificates in DIR (ca.pem and one PEM per certificate) and speaks
explicit TLS only, on the control and the data connections, and refuses a data connection that does not reuse the
control connection's TLS session.
Prints "PORT <n>" once it listens on 127.0.0.1, then answers each request line on stdin with one line:
  logins | log | clearlog   -> "ok <count>" | "ok <JSON list of command lines>" | "ok" (both start again)
  fault refuse-stor on|off  -> STOR answered with a two-line 553 reply
  fault refuse CMD|off      -> such commands answered 502 (several may be refused; off ends all)
  fault drop N|off          -> every data connection closed by the server after N bytes (426)
  fault break N TIMES HOW [SKIP] -> the next TIMES data connections (0: all) after the next SKIP ones break after
                               N bytes; HOW is 426 (closed, 426), reset (data and control connection reset),
                               421 (421 on the control connection, both closed) or stall (no byte moves any more)
  fault throttle N|off      -> data connections limited to N bytes per second
  fault shorten N [TIMES]   -> received files cut N bytes short after the 226 (0/off: no more)
  fault flip STOR|RETR TIMES -> one byte changed in the next TIMES files received (after the 226) or sent
  fault close421 CMD|any    -> the next such command is answered 421 and the control connection closed
  fault no-size on|off      -> SIZE answered 502
  fault mute CMD|any|off    -> such commands get no answer at all
  fault checksum HASH|XMD5|XCRC|off -> the checksum command FEAT offers (none by default)
  fault cert NAME           -> TLS servers: certificate for new connections (good, otherhost, expired, selfsigned)
  fault clear               -> all faults off (the certificate stays)
End of stdin stops the server, so it never outlives the test that started it.
"""

import argparse
import datetime
import hashlib
import ipaddress
import json
import logging
import os
import socket
import struct
import sys
import threading
import zlib

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.ioloop import timer
from pyftpdlib.servers import FTPServer

_lock = threading.Lock()
_log = []
_logins = 0
_faults = {}
_times = {}  # fault -> how many more times it applies; absent: every time
_refused = set()
_start_dirs = {}
_certs = {}


def fault(name):
    return _faults.get(name)


def take(name):
    """The fault's value for one more use, counting it down; None when it is off."""
    value = _faults.get(name)
    if value is None:
        return None
    left = _times.get(name)
    if left is not None:
        if left <= 1:
            _faults.pop(name, None)
            _times.pop(name, None)
        else:
            _times[name] = left - 1
    return value


def set_times(name, times):
    if times > 0:
        _times[name] = times
    else:
        _times.pop(name, None)


def flip_byte(data, at):
    data = bytearray(data)
    data[at] ^= 0x5A
    return bytes(data)


class FaultyDTP:
    """Faults of the data connection, mixed into the plain and the TLS data handler."""

    def __init__(self, sock, cmd_channel):
        self._rate = fault("throttle")
        skip = _faults.get("break-skip", 0)
        if skip and fault("break") is not None:
            _faults["break-skip"] = skip - 1
            self._break = None
        else:
            self._break = take("break")
        self._flip = None
        self._pause = None
        self._stalled = False
        super().__init__(sock, cmd_channel)

    def use_sendfile(self):
        # Every byte goes through send(), where the faults are applied.
        return False

    def _limit(self, done):
        """Bytes that may move now before a break or the throttle; None for no limit."""
        limits = [] if self._break is None else [self._break[0] - done]
        if self._rate:
            # A small first burst, then the rate on average.
            limits.append(int(self._rate * (timer() - self._start_time)) + 4096 - done)
        return max(0, min(limits)) if limits else None

    def _break_now(self):
        how = self._break[1]
        if how == "426":
            self._resp = ("426 Connection closed; transfer aborted.", logging.info)
            self.close()
        elif how == "stall":
            # The connection stays open and nothing moves: only the client's timeout ends it.
            self._stalled = True
            self.del_channel()
        elif how == "421":
            self._resp = ()
            self.cmd_channel.respond("421 Service not available, closing control connection.")
            self.close()
            self.cmd_channel.close_when_done()
        else:  # reset
            linger = struct.pack("ii", 1, 0)
            for channel in (self, self.cmd_channel):
                try:
                    channel.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, linger)
                except OSError:
                    pass
            self._resp = ()
            self.close()
            self.cmd_channel.close()

    def _after_move(self, done):
        if self._break is not None and done >= self._break[0]:
            self._break_now()
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
        if self._stalled:
            return 0
        if self.tot_bytes_sent == 0 and data and take("flip-retr"):
            data = flip_byte(data, len(data) // 2)
        limit = self._limit(self.tot_bytes_sent)
        if limit is not None:
            data = data[:limit]
        sent = super().send(data) if data else 0
        self._after_move(self.tot_bytes_sent)
        return sent

    def handle_read(self):
        if self._stalled:
            return
        limit = self._limit(self.tot_bytes_received)
        if limit == 0:
            self._after_move(self.tot_bytes_received)
            return
        self.ac_in_buffer_size = 65536 if limit is None else min(65536, limit)
        super().handle_read()
        if not self._closed:
            self._after_move(self.tot_bytes_received)

    def close(self):
        self._cancel_pause()
        super().close()


class FaultyDTPHandler(FaultyDTP, DTPHandler):
    # The base class binds its own handle_read here.
    handle_read_event = FaultyDTP.handle_read


class FaultyCommands:
    """Faults of the control connection, mixed into the plain and the TLS handler."""

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
        if cmd in _refused or (cmd == "SIZE" and fault("no-size")):
            self.respond("502 Command not implemented.")
            return
        if cmd == "STOR" and fault("refuse-stor"):
            # Two lines, so clients can be checked for keeping a multi-line reply whole.
            self.push("553-Could not create file.\r\n")
            self.respond("553 Quota exceeded.")
            return
        checksum = fault("checksum")
        if cmd == "FEAT" and checksum:
            self._extra_feats = [f for f in self._extra_feats if f.split()[0] not in ("HASH", "XMD5", "XCRC")]
            self._extra_feats.append("HASH SHA-256*;SHA-1;MD5;CRC32" if checksum == "HASH" else checksum)
        elif checksum and (cmd == checksum or (checksum == "HASH" and cmd == "OPTS" and arg.upper().startswith("HASH"))):
            self.checksum_command(cmd, arg)
            return
        super().pre_process_command(line, cmd, arg)

    def checksum_command(self, cmd, arg):
        if cmd == "OPTS":
            name = arg[4:].strip().upper()
            if name in ("SHA-256", "SHA-1", "MD5", "CRC32"):
                self._hash = name
                self.respond("200 " + name)
            else:
                self.respond("504 Unknown algorithm.")
            return
        path = self.fs.ftp2fs(self.fs.ftpnorm(arg))
        try:
            with open(path, "rb") as f:
                data = f.read()
        except OSError as err:
            self.respond("550 %s." % err.strerror)
            return
        name = getattr(self, "_hash", "SHA-256") if cmd == "HASH" else {"XMD5": "MD5", "XCRC": "CRC32"}[cmd]
        if name == "CRC32":
            value = "%08X" % (zlib.crc32(data) & 0xFFFFFFFF)
        else:
            value = hashlib.new(name.replace("-", "").lower(), data).hexdigest()
        if cmd == "HASH":
            self.respond("213 %s 0-%d %s %s" % (name, max(0, len(data) - 1), value, arg))
        else:
            self.respond("250 " + value)

    def on_login(self, username):
        global _logins
        with _lock:
            _logins += 1
        self.fs.cwd = _start_dirs.get(username, "/")

    def on_file_received(self, file):
        # After the 226 went out: the client believes the whole file arrived.
        short = take("shorten")
        if short:
            os.truncate(file, max(0, os.path.getsize(file) - short))
        if take("flip-stor") and os.path.getsize(file) > 0:
            with open(file, "r+b") as f:
                f.seek(os.path.getsize(file) // 2)
                byte = f.read(1)
                f.seek(-1, os.SEEK_CUR)
                f.write(flip_byte(byte, 0))


class FaultyFTPHandler(FaultyCommands, FTPHandler):
    dtp_handler = FaultyDTPHandler


def make_tls_handler(folder):
    """The TLS handler class, with certificates made for this run."""
    from OpenSSL._util import lib as ssl_lib
    from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler

    make_certificates(folder)

    class ReusingDTPHandler(TLS_DTPHandler):
        def readable(self):
            # Clients may start the handshake before they send the transfer command; the base class would take
            # that for a closed connection.
            if self._ssl_accepting or self._ssl_want_read:
                return True
            if not self.receive and not self._initialized:
                return False
            return DTPHandler.readable(self)

        def handle_ssl_established(self):
            # As servers that insist on it: a data connection must resume the control connection's session.
            if not ssl_lib.SSL_session_reused(self.socket._ssl):
                self._resp = ("522 SSL connection failed: session reuse required.", logging.info)
                self.close()

    class Handler(FaultyCommands, TLS_FTPHandler):
        dtp_handler = ReusingDTPHandler
        tls_control_required = True
        tls_data_required = True
        certfile = keyfile = _certs["good"]

    return Handler


def make_certificates(folder):
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import ec
    from cryptography.x509.oid import NameOID

    now = datetime.datetime.now(datetime.timezone.utc)
    day = datetime.timedelta(days=1)

    def name(text):
        return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, text)])

    def certificate(subject, key, issuer, issuer_key, start, end, names, ca=False):
        builder = (x509.CertificateBuilder().subject_name(name(subject)).issuer_name(name(issuer))
                   .public_key(key.public_key()).serial_number(x509.random_serial_number())
                   .not_valid_before(start).not_valid_after(end)
                   .add_extension(x509.BasicConstraints(ca=ca, path_length=None), critical=True))
        if names:
            builder = builder.add_extension(x509.SubjectAlternativeName(names), critical=False)
        return builder.sign(issuer_key, hashes.SHA256())

    def pem(key, cert):
        return (key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                  serialization.NoEncryption()) + cert.public_bytes(serialization.Encoding.PEM))

    ca_key = ec.generate_private_key(ec.SECP256R1())
    ca = certificate("ZEL test CA", ca_key, "ZEL test CA", ca_key, now - day, now + 30 * day, None, ca=True)
    with open(os.path.join(folder, "ca.pem"), "wb") as f:
        f.write(ca.public_bytes(serialization.Encoding.PEM))
    loopback = [x509.IPAddress(ipaddress.ip_address("127.0.0.1")), x509.DNSName("localhost")]
    plans = {
        "good": ("127.0.0.1", now - day, now + 30 * day, loopback, False),
        "otherhost": ("support.example", now - day, now + 30 * day, [x509.DNSName("support.example")], False),
        "expired": ("127.0.0.1", now - 30 * day, now - 2 * day, loopback, False),
        "selfsigned": ("127.0.0.1", now - day, now + 30 * day, loopback, True),
    }
    for label, (subject, start, end, names, own) in plans.items():
        key = ec.generate_private_key(ec.SECP256R1())
        cert = certificate(subject, key, subject if own else "ZEL test CA", key if own else ca_key, start, end, names)
        _certs[label] = os.path.join(folder, label + ".pem")
        with open(_certs[label], "wb") as f:
            f.write(pem(key, cert))


_handler = None


def set_fault(words):
    if words == ["clear"]:
        _faults.clear()
        _times.clear()
        _refused.clear()
        return True
    name, values = words[0], words[1:]
    if name in ("refuse-stor", "no-size") and values in (["on"], ["off"]):
        _faults[name] = values[0] == "on"
    elif name == "drop" and len(values) == 1:
        _faults["break"] = None if values[0] == "off" else (int(values[0]), "426")
        _times.pop("break", None)
    elif name == "break" and len(values) in (3, 4) and values[2] in ("426", "reset", "421", "stall"):
        _faults["break"] = (int(values[0]), values[2])
        _faults["break-skip"] = int(values[3]) if len(values) == 4 else 0
        set_times("break", int(values[1]))
    elif name == "throttle" and len(values) == 1:
        _faults[name] = None if values[0] == "off" else int(values[0])
    elif name == "shorten" and len(values) in (1, 2):
        _faults[name] = None if values[0] in ("off", "0") else int(values[0])
        set_times(name, int(values[1]) if len(values) == 2 else 0)
    elif name == "flip" and len(values) == 2 and values[0].upper() in ("STOR", "RETR"):
        key = "flip-" + values[0].lower()
        _faults[key] = int(values[1]) > 0 or None
        set_times(key, int(values[1]))
    elif name in ("close421", "mute") and len(values) == 1:
        _faults[name] = None if values[0] == "off" else values[0].upper()
    elif name == "refuse" and len(values) == 1:
        if values[0] == "off":
            _refused.clear()
        else:
            _refused.add(values[0].upper())
    elif name == "checksum" and len(values) == 1 and values[0].upper() in ("HASH", "XMD5", "XCRC", "OFF"):
        _faults[name] = None if values[0].upper() == "OFF" else values[0].upper()
    elif name == "cert" and len(values) == 1 and values[0] in _certs:
        # New connections get the new context.
        _handler.certfile = _handler.keyfile = _certs[values[0]]
        _handler.ssl_context = None
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
    if words[0] == "fault" and len(words) > 1:
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
    global _handler
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--users", required=True)
    parser.add_argument("--tls")
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

    _handler = make_tls_handler(args.tls) if args.tls else FaultyFTPHandler
    _handler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", 0), _handler)
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
