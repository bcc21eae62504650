"""Runs Linux programs for tests that run under Wine, where a Windows program cannot start them itself.

Usage: hostbridge.py PORT_FILE
Listens on a free loopback port, writes the port into PORT_FILE, and serves until killed. Each connection runs one
program. The client sends one line of JSON, {"argv": [...], "cwd": "..."}, then frames:
    I <n>\\n <n bytes>   bytes for the program's standard input
    E\\n                 end of the program's input
    K\\n                 kill the program
The bridge sends:
    O <n>\\n <n bytes>   bytes the program wrote to its standard output
    X <code>\\n          the program ended: its exit code, or -1 when a signal ended it
Windows paths of the Z: drive (Wine's view of /) become Linux paths in the arguments and the folder: "Z:/tmp/x"
and "Z:\\\\tmp\\\\x" (as JSON escapes it) are "/tmp/x". What the program writes to its standard error goes to the
bridge's own.
"""
import json
import os
import re
import socket
import subprocess
import sys
import threading

# A path on Wine's Z: drive, with "/" or "\\" separators (doubled as JSON escapes them), up to a blank, a quote
# or a comma.
ZPATH = re.compile(r"[Zz]:(?:[\\/])[^\s\"',]*")


def unix(text):
    """Every Z: path in the text as the Linux path it is."""
    return ZPATH.sub(lambda m: m.group(0)[2:].replace("\\\\", "/").replace("\\", "/"), text)


def serve(conn):
    with conn:
        reader = conn.makefile("rb")
        header = json.loads(reader.readline().decode("utf-8"))
        argv = [unix(a) for a in header["argv"]]
        cwd = unix(header.get("cwd") or "") or None
        try:
            proc = subprocess.Popen(argv, cwd=cwd, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        except OSError as e:
            sys.stderr.write("hostbridge: cannot start %s: %s\n" % (argv, e))
            conn.sendall(b"X -1\n")
            return
        lock = threading.Lock()

        def pump_out():
            while True:
                chunk = proc.stdout.read1(65536)
                if not chunk:
                    break
                with lock:
                    conn.sendall(b"O %d\n" % len(chunk) + chunk)

        out = threading.Thread(target=pump_out, daemon=True)
        out.start()

        def pump_in():
            try:
                while True:
                    line = reader.readline()
                    if not line or line.startswith(b"K"):
                        proc.kill()
                        return
                    if line.startswith(b"E"):
                        proc.stdin.close()
                    elif line.startswith(b"I "):
                        data = reader.read(int(line[2:]))
                        proc.stdin.write(data)
                        proc.stdin.flush()
            except (OSError, ValueError):
                proc.kill()

        threading.Thread(target=pump_in, daemon=True).start()
        code = proc.wait()
        out.join()
        with lock:
            try:
                conn.sendall(b"X %d\n" % (code if code >= 0 else -1))
            except OSError:
                pass


def main():
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(64)
    with open(sys.argv[1], "w") as f:
        f.write("%d\n" % server.getsockname()[1])
    while True:
        conn, _ = server.accept()
        threading.Thread(target=serve, args=(conn,), daemon=True).start()


if __name__ == "__main__":
    main()
