#!/usr/bin/python3
"""Loopback FTP server for the tests, on pyftpdlib, with faults switched while it runs (see FtpServer.h).

ftpserver.py --root DIR --users JSON [--tls DIR]   (JSON: [{"name", "password", "home": DIR in the root}])
With --tls: a test CA and certificates made in DIR, explicit TLS only, and data connections must reuse the control
connection's TLS session. Prints "PORT <n>", then answers each line on stdin with one line: "logins", "log" (JSON),
"clearlog", or "fault" and one of: clear | refuse CMD (502; STOR: a two-line 553) |
break N TIMES 426|reset|421|stall [SKIP] (the next TIMES file transfers, 0: all, after SKIP more break after N
bytes) | throttle N (bytes a second) | shorten N [TIMES] (files received cut short after the 226) |
flip STOR|RETR TIMES (a byte changed) | close421 CMD [SKIP] (the next one, after SKIP more) | mute CMD |
checksum HASH|XMD5|XCRC | ignore REST (350, and RETR sends from the start all the same) | noclobber (RNTO
over an existing file refused, as IIS does) | cert good|otherhost|expired|selfsigned (TLS, new connections).
Faults of the data connection apply to file transfers only, never to listings. End of stdin stops the server.
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

CLOSING = "421 Service not available, closing control connection."
_lock = threading.Lock()
_log = []
_logins = 0
_faults = {}  # fault -> value; absent: off
_times = {}  # fault -> how many more times it applies; absent: every time
_start_dirs = {}
_certs = {}
_handler = None


def arm(name, value, times=0):
    _faults[name] = value
    _times.pop(name, None)
    if times > 0:
        _times[name] = times


def take(name):
    """The fault's value for one more use, counting it down; None when it is off."""
    value = _faults.get(name)
    if value is not None and name in _times:
        _times[name] -= 1
        if _times[name] == 0:
            del _faults[name], _times[name]
    return value


def flip_byte(data, at):
    data = bytearray(data)
    data[at] ^= 0x5A
    return bytes(data)


class FaultyDTPHandler(DTPHandler):
    """Faults of the data connection, taken when its first byte moves: only a file transfer has any."""

    def __init__(self, sock, cmd_channel):
        self._armed = False
        self._rate = None
        self._break = None
        self._flip = False
        self._pause = None
        self._stalled = False
        super().__init__(sock, cmd_channel)

    def _arm(self):
        if self._armed:
            return
        self._armed = True
        transfer = getattr(self.cmd_channel, "transfer", None)
        if transfer not in ("RETR", "STOR", "APPE"):
            return
        self._rate = _faults.get("throttle")
        self._begun = timer()
        if _faults.get("break-skip", 0) and "break" in _faults:
            _faults["break-skip"] -= 1
        else:
            self._break = take("break")
        self._flip = transfer == "RETR" and take("flip-retr")

    def use_sendfile(self):
        return False  # every byte goes through send(), where the faults are applied

    def _limit(self, done):
        """Bytes that may move now before a break or the throttle; None for no limit."""
        limits = [] if self._break is None else [self._break[0] - done]
        if self._rate:  # a small first burst, then the rate on average
            limits.append(int(self._rate * (timer() - self._begun)) + 4096 - done)
        return max(0, min(limits)) if limits else None

    def _break_now(self):
        how = self._break[1]
        if how == "stall":  # open, and nothing moves: only the client's timeout ends it
            self._stalled = True
            return self.del_channel()
        self._resp = ("426 Connection closed; transfer aborted.", logging.info) if how == "426" else ()
        if how == "421":
            self.cmd_channel.respond(CLOSING)
        elif how == "reset":  # RST instead of FIN, on both connections
            for channel in (self, self.cmd_channel):
                try:
                    channel.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                except OSError:
                    pass
        self.close()
        if how != "426":
            self.cmd_channel.close_when_done() if how == "421" else self.cmd_channel.close()

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
        self._arm()
        if self._stalled:
            return 0
        if self._flip and data:
            self._flip = False
            data = flip_byte(data, len(data) // 2)
        limit = self._limit(self.tot_bytes_sent)
        data = data if limit is None else data[:limit]
        sent = super().send(data) if data else 0
        self._after_move(self.tot_bytes_sent)
        return sent

    def handle_read(self):
        self._arm()
        if self._stalled:
            return
        limit = self._limit(self.tot_bytes_received)
        if limit == 0:
            return self._after_move(self.tot_bytes_received)
        self.ac_in_buffer_size = 65536 if limit is None else min(65536, limit)
        super().handle_read()
        if not self._closed:
            self._after_move(self.tot_bytes_received)

    def close(self):
        self._cancel_pause()
        super().close()

    handle_read_event = handle_read  # the base class binds its own here


class FaultyCommands:
    """Faults of the control connection, mixed into the plain and the TLS handler."""

    auth_failed_timeout = 0.05
    transfer = None  # the last command that moves data

    def pre_process_command(self, line, cmd, arg):
        with _lock:
            _log.append(line)
        self.transfer = cmd if cmd in ("RETR", "STOR", "APPE", "STOU", "LIST", "NLST", "MLSD") else self.transfer
        close = _faults.get("close421")
        if close and close[0] == cmd:
            if close[1] > 0:
                close[1] -= 1
            else:
                del _faults["close421"]
                self.respond(CLOSING)
                return self.close_when_done()
        if _faults.get("mute") == cmd:
            return None
        if cmd == "REST" and _faults.get("ignore-rest"):
            return self.respond("350 Restarting at position %s." % arg)
        if cmd == "RNTO" and _faults.get("noclobber") and self._rnfr:
            if os.path.lexists(self.fs.ftp2fs(self.fs.ftpnorm(arg))):
                self._rnfr = None
                return self.respond("550 Cannot create a file when that file already exists.")
        if cmd == "STOR" and cmd in _faults.get("refuse", ()):
            self.push("553-Could not create file.\r\n")  # clients must keep a multi-line reply whole
            return self.respond("553 Quota exceeded.")
        if cmd in _faults.get("refuse", ()):
            return self.respond("502 Command not implemented.")
        checksum = _faults.get("checksum")
        if cmd == "FEAT" and checksum:
            self._extra_feats = [f for f in self._extra_feats if f.split()[0] not in ("HASH", "XMD5", "XCRC")]
            self._extra_feats.append("HASH SHA-256*" if checksum == "HASH" else checksum)
        elif cmd == checksum:
            return self.checksum_command(cmd, arg)
        return super().pre_process_command(line, cmd, arg)

    def checksum_command(self, cmd, arg):
        try:
            with open(self.fs.ftp2fs(self.fs.ftpnorm(arg)), "rb") as f:
                data = f.read()
        except OSError as err:
            return self.respond("550 %s." % err.strerror)
        if cmd == "XCRC":
            return self.respond("250 %08X" % (zlib.crc32(data) & 0xFFFFFFFF))
        if cmd == "XMD5":
            return self.respond("250 " + hashlib.md5(data).hexdigest())
        return self.respond("213 SHA-256 0-%d %s %s" % (max(0, len(data) - 1), hashlib.sha256(data).hexdigest(), arg))

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
    from OpenSSL import SSL
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

        def close(self):
            super().close()
            # A data connection that the client closed first ends here without our close_notify, and OpenSSL then
            # drops the shared session from its cache, so that the next data connection cannot resume it (a race of
            # this server's, seen after short listings). The servers this stands for keep the session.
            if self._closed and isinstance(self.socket, SSL.Connection):
                self.socket.set_shutdown(self.socket.get_shutdown() | SSL.SENT_SHUTDOWN)

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

    def certificate(subject, key, issuer, issuer_key, start, end, names, ca=False):
        builder = (x509.CertificateBuilder()
                   .subject_name(x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, subject)]))
                   .issuer_name(x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, issuer)]))
                   .public_key(key.public_key()).serial_number(x509.random_serial_number())
                   .not_valid_before(start).not_valid_after(end)
                   .add_extension(x509.BasicConstraints(ca=ca, path_length=None), critical=True))
        if names:
            builder = builder.add_extension(x509.SubjectAlternativeName(names), critical=False)
        return builder.sign(issuer_key, hashes.SHA256())

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
            f.write(key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                      serialization.NoEncryption()) + cert.public_bytes(serialization.Encoding.PEM))


def set_fault(name, *values):
    n = len(values)
    if name == "clear" and n == 0:
        _faults.clear()
        _times.clear()
    elif name == "refuse" and n == 1:
        _faults.setdefault("refuse", set()).add(values[0].upper())
    elif name == "break" and n in (3, 4) and values[2] in ("426", "reset", "421", "stall"):
        arm("break", (int(values[0]), values[2]), int(values[1]))
        _faults["break-skip"] = int(values[3]) if n == 4 else 0
    elif name == "throttle" and n == 1:
        arm(name, int(values[0]))
    elif name == "shorten" and n in (1, 2):
        arm(name, int(values[0]), int(values[1]) if n == 2 else 0)
    elif name == "flip" and n == 2 and values[0].upper() in ("STOR", "RETR"):
        arm("flip-" + values[0].lower(), True, int(values[1]))
    elif name == "close421" and n in (1, 2):
        arm(name, [values[0].upper(), int(values[1]) if n == 2 else 0])
    elif name in ("mute", "checksum") and n == 1:
        arm(name, values[0].upper())
    elif name == "ignore" and n == 1 and values[0].upper() == "REST":
        arm("ignore-rest", True)
    elif name == "noclobber" and n == 0:
        arm(name, True)
    elif name == "cert" and n == 1 and values[0] in _certs:
        _handler.certfile = _handler.keyfile = _certs[values[0]]
        _handler.ssl_context = None  # new connections get the new context
    else:
        return False
    return True


def answer(words):
    global _logins
    with _lock:
        if words == ["logins"]:
            return "ok %d" % _logins
        if words == ["log"]:
            return "ok " + json.dumps(_log)
        if words == ["clearlog"]:
            _log.clear()
            _logins = 0
            return "ok"
    try:
        return "ok" if words[:1] == ["fault"] and set_fault(*words[1:]) else "error unknown request"
    except ValueError:
        return "error bad value"


def read_requests():
    for line in sys.stdin:
        sys.stdout.write(answer(line.split()) + "\n")
        sys.stdout.flush()
    os._exit(0)  # sockets close with the process; nothing to save


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
