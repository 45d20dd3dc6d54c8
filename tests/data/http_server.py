"""A small HTTP server for the HTTP client's tests, on 127.0.0.1.

Prints its port on the first line of its output, then serves until it is
terminated. With the arguments --tls CERT KEY it speaks HTTPS. Routes:
  /echo...     any method: the request as text ("METHOD path", then each header
               as "name: value" with the name in lower case, a blank line and the
               body as received)
  /repeat      a response with the header X-Multi twice and X-Single once
  /redirect    302 to /echo?from=redirect
  /loop        302 to itself
  /missing     404 with the body "no such page"
  /text        UTF-8 text with CR LF line ends, under a Latin-1 charset label
  /bytes       the 256 byte values in order
  /empty-value a response whose header X-Empty has an empty value
  /stall       the headers, then nothing for 4 seconds
"""
import http.server
import ssl
import sys
import time

METHODS = ["GET", "HEAD", "POST", "PUT", "DELETE", "PATCH", "OPTIONS"]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, body, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def handle_any(self):
        length = int(self.headers.get("Content-Length", 0))
        body = self.rfile.read(length) if length else b""
        path = self.path
        if path.startswith("/echo"):
            text = "%s %s\n" % (self.command, path)
            for name, value in self.headers.items():
                text += "%s: %s\n" % (name.lower(), value)
            self.answer(200, text.encode() + b"\n" + body, [("Content-Type", "text/plain")])
        elif path == "/repeat":
            self.answer(200, b"ok", [("X-Multi", "one"), ("X-Single", "alone"), ("x-multi", "two")])
        elif path == "/redirect":
            self.answer(302, b"moved", [("Location", "/echo?from=redirect")])
        elif path == "/loop":
            self.answer(302, b"again", [("Location", "/loop")])
        elif path == "/missing":
            self.answer(404, b"no such page", [("Content-Type", "text/plain")])
        elif path == "/text":
            self.answer(200, "a\r\nb\u00e9\r\n".encode(), [("Content-Type", "text/plain; charset=iso-8859-1")])
        elif path == "/bytes":
            self.answer(200, bytes(range(256)), [("Content-Type", "application/octet-stream")])
        elif path == "/empty-value":
            self.send_response(200)
            self.send_header("X-Empty", "")
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif path == "/stall":
            self.send_response(200)
            self.send_header("Content-Length", "10")
            self.end_headers()
            self.wfile.flush()
            time.sleep(4)
        else:
            self.answer(500, b"unknown route")


for method in METHODS:
    setattr(Handler, "do_" + method, Handler.handle_any)

server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
if len(sys.argv) == 4 and sys.argv[1] == "--tls":
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[2], sys.argv[3])
    server.socket = context.wrap_socket(server.socket, server_side=True)
print(server.server_address[1], flush=True)
sys.stdout.close()
server.serve_forever()
