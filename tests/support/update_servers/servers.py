#!/usr/bin/env python3
"""Local servers for the update tests and benchmarks, all on 127.0.0.1 with free ports.

    servers.py FOLDER [--logs DIR] [--cert PEM --key PEM]
               [--proxy-user NAME --proxy-password TEXT]
               [--ftp-user NAME --ftp-password TEXT]

Serves FOLDER through:
  http    an origin server: GET and HEAD of files (404 when missing), and these paths:
            /_cut/NAME       announces NAME's length, sends half of it, closes the connection
            /_short/NAME     announces 1000 bytes more than NAME has, sends it, closes
            /_redirect/NAME  302 to /NAME (the query goes along)
            /_post           POST: records the body, answers "received N bytes: BODY"
  https   the same origin over TLS, only with --cert and --key (the certificate the test made)
  proxy   an HTTP proxy that asks for Basic credentials (407 without them): forwards
          plain-HTTP requests to loopback hosts and tunnels CONNECT to them. Without
          --proxy-user it asks for nothing.
  ftp     an FTP server on FOLDER (passive and active), with --ftp-user/--ftp-password or
          anonymous when no user is given.

Every request line and header the origins get goes to DIR/origin.log, one block each after a
line "# from port PORT" naming the client's port, with "[https]" before the request lines of the
TLS origin, and POST bodies; what the proxy gets goes to DIR/proxy.log; the FTP
commands (but the password) go to DIR/ftp.log. DIR is FOLDER unless --logs says otherwise.

When all listen it prints one line, "http=PORT https=PORT proxy=PORT ftp=PORT" (https only with
a certificate), and serves until its standard input closes or it gets SIGTERM.
"""

import argparse
import base64
import http.server
import logging
import os
import select
import signal
import socket
import ssl
import sys
import threading
import urllib.parse

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

LOOPBACK_HOSTS = ("127.0.0.1", "localhost", "::1")


class Log:
    """One append-only text file shared by the threads of a server."""

    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()
        open(path, "w").close()

    def write(self, text):
        with self.lock, open(self.path, "a", encoding="utf-8", errors="replace") as f:
            f.write(text)


def record(log, tag, handler, body=b""):
    lines = [f"# from port {handler.client_address[1]}", f"{tag}{handler.requestline}"]
    lines += [f"{name}: {value}" for name, value in handler.headers.items()]
    if body:
        lines.append("body: " + body.decode("utf-8", "replace"))
    log.write("\n".join(lines) + "\n\n")


class OriginHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    folder = "."
    log = None
    tag = ""

    def log_message(self, *args):
        pass

    def local_path(self, name):
        path = os.path.realpath(os.path.join(self.folder, urllib.parse.unquote(name)))
        root = os.path.realpath(self.folder)
        if path != root and not path.startswith(root + os.sep):
            return None
        return path if os.path.isfile(path) else None

    def send_text(self, code, text):
        data = text.encode()
        self.send_response(code)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)

    def do_HEAD(self):
        self.do_GET()

    def do_GET(self):
        record(self.log, self.tag, self)
        url = urllib.parse.urlsplit(self.path)
        path = url.path.lstrip("/")
        kind, _, rest = path.partition("/")
        if kind == "_redirect":
            self.send_response(302)
            self.send_header("Location", "/" + rest + ("?" + url.query if url.query else ""))
            self.send_header("Content-Length", "6")
            self.end_headers()
            if self.command != "HEAD":
                self.wfile.write(b"moved\n")
            return
        fault = kind if kind in ("_cut", "_short") else None
        local = self.local_path(rest if fault else path)
        if local is None:
            self.send_text(404, "not found")
            return
        with open(local, "rb") as f:
            data = f.read()
        announced = len(data) + (1000 if fault == "_short" else 0)
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(announced))
        self.end_headers()
        if self.command == "HEAD":
            return
        if fault == "_cut":
            data = data[: len(data) // 2]
        self.wfile.write(data)
        if fault:
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        record(self.log, self.tag, self, body)
        if urllib.parse.urlsplit(self.path).path != "/_post":
            self.send_text(404, "not found")
            return
        self.send_text(200, f"received {len(body)} bytes: " + body.decode("utf-8", "replace"))


class ProxyHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    log = None
    credentials = None  # the expected "Basic ..." value, or None to ask for nothing

    def log_message(self, *args):
        pass

    def authorized(self):
        record(self.log, "", self)
        self.close_connection = True
        if self.credentials and self.headers.get("Proxy-Authorization") != self.credentials:
            self.send_response(407)
            self.send_header("Proxy-Authenticate", 'Basic realm="update proxy"')
            self.send_header("Content-Length", "0")
            self.send_header("Connection", "close")
            self.end_headers()
            return False
        return True

    def refuse(self, code):
        self.send_response(code)
        self.send_header("Content-Length", "0")
        self.send_header("Connection", "close")
        self.end_headers()

    def do_CONNECT(self):
        if not self.authorized():
            return
        host, _, port = self.path.rpartition(":")
        if host.strip("[]") not in LOOPBACK_HOSTS:
            self.refuse(502)
            return
        try:
            upstream = socket.create_connection((host.strip("[]"), int(port)))
        except OSError:
            self.refuse(502)
            return
        self.wfile.write(b"HTTP/1.1 200 Connection established\r\n\r\n")
        self.wfile.flush()
        relay(self.connection, upstream)

    def forward(self):
        if not self.authorized():
            return
        url = urllib.parse.urlsplit(self.path)
        if url.scheme != "http" or url.hostname not in LOOPBACK_HOSTS:
            self.refuse(502)
            return
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        skip = ("proxy-authorization", "proxy-connection", "connection")
        head = [f"{self.command} {url.path or '/'}{'?' + url.query if url.query else ''} HTTP/1.1"]
        head += [f"{k}: {v}" for k, v in self.headers.items() if k.lower() not in skip]
        head.append("Connection: close")
        try:
            upstream = socket.create_connection((url.hostname, url.port or 80))
        except OSError:
            self.refuse(502)
            return
        upstream.sendall(("\r\n".join(head) + "\r\n\r\n").encode("latin-1") + body)
        # The origin closes after its answer; the answer goes back as it came, faults included.
        with upstream:
            while chunk := upstream.recv(65536):
                self.wfile.write(chunk)
        self.wfile.flush()

    do_GET = do_HEAD = do_POST = forward


def relay(a, b):
    with b:
        sockets = [a, b]
        while True:
            readable, _, _ = select.select(sockets, [], [], 60)
            if not readable:
                return
            for s in readable:
                data = s.recv(65536)
                if not data:
                    return
                (b if s is a else a).sendall(data)


class LoggingFTPHandler(FTPHandler):
    command_log = None

    def pre_process_command(self, line, cmd, arg):
        self.command_log.write(f"{cmd} {arg if cmd != 'PASS' else '***'}\n")
        super().pre_process_command(line, cmd, arg)


class QuietServer(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # Tests cut connections and refuse certificates on purpose: one line, no traceback.
        sys.stderr.write(f"servers.py: {client_address[1]}: {sys.exc_info()[1]!r}\n")


def http_server(handler, context=None):
    server = QuietServer(("127.0.0.1", 0), handler)
    if context:
        # The handshake happens on the connection's own thread, at its first read.
        server.socket = context.wrap_socket(
            server.socket, server_side=True, do_handshake_on_connect=False)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def handler_class(base, **fields):
    return type(base.__name__, (base,), fields)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder")
    parser.add_argument("--logs")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--proxy-user")
    parser.add_argument("--proxy-password", default="")
    parser.add_argument("--ftp-user")
    parser.add_argument("--ftp-password", default="")
    args = parser.parse_args()
    logs = args.logs or args.folder
    origin_log = Log(os.path.join(logs, "origin.log"))
    proxy_log = Log(os.path.join(logs, "proxy.log"))
    ftp_log = Log(os.path.join(logs, "ftp.log"))

    servers = {"http": http_server(
        handler_class(OriginHandler, folder=args.folder, log=origin_log))}
    if args.cert and args.key:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        servers["https"] = http_server(handler_class(
            OriginHandler, folder=args.folder, log=origin_log, tag="[https] "), context)
    credentials = None
    if args.proxy_user:
        token = f"{args.proxy_user}:{args.proxy_password}".encode()
        credentials = "Basic " + base64.b64encode(token).decode()
    servers["proxy"] = http_server(
        handler_class(ProxyHandler, log=proxy_log, credentials=credentials))

    logging.basicConfig(level=logging.WARNING, format="servers.py: %(message)s")
    authorizer = DummyAuthorizer()
    if args.ftp_user:
        authorizer.add_user(args.ftp_user, args.ftp_password, args.folder, perm="elr")
    else:
        authorizer.add_anonymous(args.folder)
    # A wrong password is answered at once, not after the usual pause.
    ftp_handler = handler_class(LoggingFTPHandler, authorizer=authorizer, command_log=ftp_log,
                                auth_failed_timeout=0.1)
    ftp = FTPServer(("127.0.0.1", 0), ftp_handler)
    threading.Thread(target=ftp.serve_forever, kwargs={"handle_exit": False},
                     daemon=True).start()

    ports = [f"{name}={server.server_address[1]}" for name, server in servers.items()]
    ports.append(f"ftp={ftp.address[1]}")
    print(" ".join(ports), flush=True)

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())

    def wait_for_stdin_to_close():
        while sys.stdin.buffer.read1(4096):
            pass
        stop.set()

    threading.Thread(target=wait_for_stdin_to_close, daemon=True).start()
    while not stop.wait(0.5):
        pass
    for server in servers.values():
        server.shutdown()


if __name__ == "__main__":
    main()
