#!/usr/bin/env python3
"""A small HTTP server on 127.0.0.1 for the tests: starts, runs the command
after "--" with VELMORA_HTTP_PORT (and VELMORA_CLOSED_PORT, a port nobody
listens on) in its environment, and exits with the command's exit code.

Pages:
  /notfound          404 with a body
  /length/N          N bytes with Content-Length
  /nolength/N        N bytes, no Content-Length, ended by closing
  /echo...           the request line and headers as the body
  /stall             reads the request and never answers
  /stallbody         headers and 100 bytes, then silence
  /endless           a body without end
  /trickle/MS        a long body, one byte every MS milliseconds
  /huge              300 MB with Content-Length, sent as fast as it is read
  /redirect/self     redirects to itself (/hits counts them)
  /redirect/N        N redirects on 127.0.0.1, then /length/10
  /redirect/offlist  to localhost, a host no download list names
  /setcookie/NAME    a body with Set-Cookie headers for NAME and NAME_session
  /hits              how many /redirect/self requests came, since the last /hits
  /page/NAME         the file NAME from the folder in VELMORA_PAGES (UTF-8 pages)

A mode file in VELMORA_PAGES makes /page/ stall, trickle, sit behind a
black-holed redirect, send 300 MB, redirect to itself or off the list, or
set cookies.
"""
import os
import re
import socket
import socketserver
import subprocess
import sys
import threading
import time

STALL_SECONDS = 30
HUGE_BYTES = 300 * 1000 * 1000
HITS = {"self": 0}
HITS_LOCK = threading.Lock()


def body_bytes(n):
    return bytes(i % 251 for i in range(n))


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        sock = self.request
        sock.settimeout(10)
        data = b""
        try:
            while b"\r\n\r\n" not in data:
                part = sock.recv(4096)
                if not part:
                    return
                data += part
        except OSError:
            return
        head = data.split(b"\r\n\r\n", 1)[0]
        target = head.split(b"\r\n", 1)[0].split(b" ")[1].decode("latin-1")
        try:
            self.answer(sock, target, head)
        except OSError:
            pass  # the client went away

    def send(self, sock, status, body, length=True, ctype=b"application/octet-stream", extra=b""):
        headers = b"HTTP/1.0 " + status + b"\r\nContent-Type: " + ctype + b"\r\n" + extra
        if length:
            headers += b"Content-Length: " + str(len(body)).encode() + b"\r\n"
        sock.sendall(headers + b"Connection: close\r\n\r\n" + body)

    def trickle(self, sock, every):
        sock.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n")
        deadline = time.time() + 120
        while time.time() < deadline:
            sock.sendall(b"x")
            time.sleep(every)

    def huge(self, sock):
        sock.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % HUGE_BYTES)
        chunk = body_bytes(65536)
        for _ in range(HUGE_BYTES // len(chunk)):
            sock.sendall(chunk)

    def redirect(self, sock, target):
        rest = target[len("/redirect/"):]
        if rest == "self":
            with HITS_LOCK:
                HITS["self"] += 1
            where = location(sock, target)
        elif rest == "offlist":
            where = b"Location: http://localhost:%d/length/10\r\n" % own_port(sock)
        else:
            left = int(rest)
            where = location(sock, "/length/10" if left <= 1 else "/redirect/%d" % (left - 1))
        self.send(sock, b"302 Found", b"moved", ctype=b"text/plain", extra=where)

    def answer(self, sock, target, head):
        if target == "/notfound":
            self.send(sock, b"404 Not Found", b"<html>no such page</html>", ctype=b"text/html")
        elif target.startswith("/length/"):
            self.send(sock, b"200 OK", body_bytes(int(target.split("/")[2])))
        elif target.startswith("/nolength/"):
            self.send(sock, b"200 OK", body_bytes(int(target.split("/")[2])), length=False)
        elif target.startswith("/hugelength/"):
            sock.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 4294967295\r\n\r\n" +
                         body_bytes(int(target.split("/")[2])))
        elif target.startswith("/echo"):
            self.send(sock, b"200 OK", head, ctype=b"text/plain")
        elif target == "/stall":
            time.sleep(STALL_SECONDS)
        elif target == "/stallbody":
            sock.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n" + body_bytes(100))
            time.sleep(STALL_SECONDS)
        elif target == "/endless":
            sock.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n")
            chunk = body_bytes(65536)
            deadline = time.time() + 60
            while time.time() < deadline:
                sock.sendall(chunk)
        elif target.startswith("/trickle/"):
            self.trickle(sock, int(target.split("/")[2]) / 1000.0)
        elif target == "/huge":
            self.huge(sock)
        elif target.startswith("/redirect/"):
            self.redirect(sock, target)
        elif target == "/hits":
            with HITS_LOCK:
                count, HITS["self"] = HITS["self"], 0
            self.send(sock, b"200 OK", str(count).encode(), ctype=b"text/plain")
        elif target.startswith("/setcookie/"):
            name = target.split("/")[2].encode()
            self.send(sock, b"200 OK", b"cookie set", ctype=b"text/plain",
                      extra=b"Set-Cookie: " + name + b"=planted; Path=/; Expires=Wed, 01 Jan 2031 00:00:00 GMT\r\n"
                            b"Set-Cookie: " + name + b"_session=planted; Path=/\r\n")
        elif target.startswith("/page/") and page_mode() == "endless":
            self.huge(sock)
        elif target.startswith("/page/") and page_mode() == "selfredirect":
            self.redirect(sock, "/redirect/self")
        elif target.startswith("/page/") and page_mode() == "offlist":
            self.redirect(sock, "/redirect/offlist")
        elif target.startswith("/page/") and page_mode() == "cookie":
            self.send(sock, b"200 OK", b"<html>no announcement</html>", ctype=b"text/html",
                      extra=b"Set-Cookie: velmora_page=planted; Path=/; Expires=Wed, 01 Jan 2031 00:00:00 GMT\r\n")
        elif target.startswith("/page/") and page_mode() == "stall":
            time.sleep(STALL_SECONDS)  # accepted, never answered
        elif target.startswith("/page/") and page_mode() == "trickle":
            sock.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n")
            for _ in range(STALL_SECONDS):  # one byte a second
                sock.sendall(b"x")
                time.sleep(1)
        elif target.startswith("/page/") and page_mode() == "blackhole":
            # Sent on to a port whose backlog is full: the connection attempt
            # is dropped, as a black-holed host drops it.
            self.send(sock, b"302 Found", b"", ctype=b"text/plain", extra=b"Location: http://127.0.0.1:%d%s\r\n"
                      % (BLACKHOLE.port, target.encode()))
        elif target.startswith("/page/"):
            folder = os.environ.get("VELMORA_PAGES", "")
            path = os.path.join(folder, os.path.basename(target[len("/page/"):]))
            if folder and os.path.isfile(path):
                with open(path, "rb") as f:
                    self.send(sock, b"200 OK", signed_page(f.read()), ctype=b"text/html; charset=utf-8")
            else:
                self.send(sock, b"404 Not Found", b"missing", ctype=b"text/plain")
        else:
            self.send(sock, b"404 Not Found", b"unknown", ctype=b"text/plain")


def own_port(sock):
    return sock.getsockname()[1]


def location(sock, where):
    return b"Location: http://127.0.0.1:%d" % own_port(sock) + where.encode() + b"\r\n"


SIGN_REQUEST = re.compile(rb"<!--sign key=(test|other) expires=([0-9-]+) alter=([01])-->")


def between(text, start, end):
    p = text.find(start)
    q = text.find(end, p + len(start)) if p >= 0 else -1
    return text[p + len(start):q] if p >= 0 and q >= 0 else ""


def signed_page(body):
    """A page with <!--sign key=test|other expires=YYYY-MM-DD alter=0|1--> in
    it gets, in its place, the line tools/sign_announcement.py makes for the
    page's version and address: with the tests' key or a new one, and with
    the address signed as it stands or with its last byte changed."""
    request = SIGN_REQUEST.search(body)
    if not request:
        return body
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
    import sign_announcement
    from cryptography.hazmat.primitives.asymmetric import ec
    text = body.decode("utf-8")
    version = between(text, "当前版本号为</p><p>", "</p><p>需要更新")
    address = between(text, "地址</p><p>", "</p><p>地址")
    if request.group(3) == b"1":
        address = address[:-1] + ("x" if address[-1:] != "x" else "y")
    if request.group(1) == b"test":
        key = sign_announcement.load_private_key(os.environ["VELMORA_TEST_SIGNING_KEY"])
    else:
        key = ec.generate_private_key(ec.SECP256R1())
    line = sign_announcement.signature_line(key, version, address, request.group(2).decode())
    return body.replace(request.group(0), line.encode())


def page_mode():
    """How /page/ answers: the word in the pages folder's file "mode", if any."""
    path = os.path.join(os.environ.get("VELMORA_PAGES", ""), "mode")
    try:
        with open(path) as f:
            return f.read().strip()
    except OSError:
        return ""


class Blackhole:
    """A listening socket that never accepts, its queue filled at once: later
    connection attempts get no answer at all."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(0)
        self.port = self.sock.getsockname()[1]
        self.fillers = []
        for _ in range(4):
            c = socket.socket()
            c.settimeout(0.3)
            try:
                c.connect(("127.0.0.1", self.port))
                self.fillers.append(c)
            except OSError:
                c.close()


BLACKHOLE = None


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def closed_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def main():
    if "--" not in sys.argv:
        sys.exit("usage: http_server.py [--port N] -- command ...")
    command = sys.argv[sys.argv.index("--") + 1:]
    options = sys.argv[1:sys.argv.index("--")]
    port = int(options[options.index("--port") + 1]) if "--port" in options else 0
    global BLACKHOLE
    BLACKHOLE = Blackhole()
    server = Server(("127.0.0.1", port), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    env = dict(os.environ)
    env["VELMORA_HTTP_PORT"] = str(server.server_address[1])
    env["VELMORA_CLOSED_PORT"] = str(closed_port())
    code = subprocess.call(command, env=env)
    server.shutdown()
    sys.exit(code)


if __name__ == "__main__":
    main()
