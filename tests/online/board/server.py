#!/usr/bin/env python3
"""Stand-in for the vendor web board (tests only): HTTPS on 127.0.0.1 with a self-signed
certificate, serving the board's endpoints from a fixture folder.

Usage: server.py <folder>   The folder holds cert.pem, key.pem and board.json; the server writes
the port it listens on to <folder>/port and appends every request line to <folder>/requests.log.

board.json: {"posts": [{"id": 4, "date": "2026-01-04" | null, "title": "...",
              "file": "post_4.bin", "answer": "file" | "html" | "cut" | "nolength",
              "sig": "post_4.sig" (optional: a second attachment, shown as the first's name + ".sig")}],
             "pageSize": 3, "form": true, "cookie": "PHPSESSID=abc"}
Data room files (Tavelo.zip, keysig.txt, help.txt) are served from <folder>/dataroom/.
/bbs/huge.php?size=N&length=1|0 answers N bytes made on the fly, with or without Content-Length.
"""
import html
import json
import os
import ssl
import sys
import threading
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

FOLDER = sys.argv[1]
LOCK = threading.Lock()


def config():
    with open(os.path.join(FOLDER, "board.json"), encoding="utf-8") as f:
        return json.load(f)


LOGIN_PAGE = """<!doctype html><html><head><title>login</title></head><body>
<form name="flogin" action="/bbs/login_check.php" method="post">
<input type="text" id="login_id" name="mb_id"><input type="password" id="login_pw" name="mb_password">
<button type="submit">login</button></form></body></html>"""

NO_FORM_PAGE = """<!doctype html><html><head><title>closed</title></head><body>maintenance</body></html>"""

HTML_ANSWER = b"""<!DOCTYPE html><html><body>please log in</body></html>"""


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def setup(self):
        # The TLS handshake runs on the handler's thread, so a browser's idle preconnection never
        # holds up the accepting thread.
        self.request.settimeout(30)
        try:
            self.request.do_handshake()
        except (OSError, ValueError):
            pass
        super().setup()

    def record(self):
        with LOCK:
            with open(os.path.join(FOLDER, "requests.log"), "a", encoding="utf-8") as f:
                f.write(self.command + " " + self.path + "\n")

    def send(self, status, body, headers=(), length=True):
        self.send_response(status)
        for k, v in headers:
            self.send_header(k, v)
        if length:
            self.send_header("Content-Length", str(len(body)))
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        self.wfile.write(body)

    def logged_in(self, cfg):
        return cfg.get("cookie", "PHPSESSID=abc") in (self.headers.get("Cookie") or "")

    def do_POST(self):
        self.record()
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        self.answer_login_check(body)

    def answer_login_check(self, body):
        cfg = config()
        name, value = cfg.get("cookie", "PHPSESSID=abc").split("=", 1)
        echo = ("method=%s\ncontent-type=%s\nbody=%s\n" % (
            self.command, self.headers.get("Content-Type") or "", body.decode("utf-8", "replace"))).encode()
        with open(os.path.join(FOLDER, "last_login.txt"), "wb") as f:
            f.write(echo)
        self.send(200, b"<!doctype html><html><body>welcome</body></html>\n" + echo, [
            ("Set-Cookie", "%s=%s; Path=/" % (name, value)),
            ("Set-Cookie", "mb_auth=ok; Path=/; HttpOnly"),
            ("Set-Cookie", "plain=1"),
            ("Content-Type", "text/html; charset=utf-8")])

    def do_GET(self):
        self.record()
        cfg = config()
        url = urllib.parse.urlsplit(self.path)
        q = dict(urllib.parse.parse_qsl(url.query))
        if url.path == "/bbs/login.php":
            page = LOGIN_PAGE if cfg.get("form", True) else NO_FORM_PAGE
            return self.send(200, page.encode(), [("Content-Type", "text/html; charset=utf-8")])
        if url.path == "/bbs/login_check.php":
            return self.answer_login_check(url.query.encode())
        if url.path.startswith("/dataroom/upload_file/pds_lirand/tavelo_program/"):
            name = os.path.basename(url.path)
            path = os.path.join(FOLDER, "dataroom", name)
            if not os.path.isfile(path):
                return self.send(404, b"<html><body>404</body></html>")
            with open(path, "rb") as f:
                return self.send(200, f.read(), [("Content-Type", "application/octet-stream")])
        if url.path == "/bbs/support_agents.php":
            # The waiting support agents: <folder>/support_agents.txt as it is, empty when absent.
            path = os.path.join(FOLDER, "support_agents.txt")
            body = b""
            if os.path.isfile(path):
                with open(path, "rb") as f:
                    body = f.read()
            return self.send(200, body, [("Content-Type", "text/plain; charset=utf-8")])
        if url.path == "/bbs/huge.php":
            return self.huge(int(q.get("size", "0")), q.get("length", "1") == "1")
        if not self.logged_in(cfg):
            return self.send(200, HTML_ANSWER, [("Content-Type", "text/html")])
        board = q.get("bo_table", "")
        posts = [p for p in cfg["posts"] if cfg.get("board", "tavelo_download_6") == board]
        if url.path == "/bbs/board.php" and "wr_id" in q:
            return self.post_page(board, posts, int(q["wr_id"]))
        if url.path == "/bbs/board.php":
            return self.list_page(board, posts, int(q.get("page", "1")), cfg.get("pageSize", 15))
        if url.path == "/bbs/download.php":
            return self.download(posts, int(q.get("wr_id", "0")), int(q.get("no", "0")))
        return self.send(404, b"<html><body>404</body></html>")

    def huge(self, size, announce):
        """A page of `size` bytes made as it is sent, never held whole."""
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        if announce:
            self.send_header("Content-Length", str(size))
        self.send_header("Connection", "close")
        self.close_connection = True
        self.end_headers()
        chunk = b"<p>" + b"x" * (1024 * 1024 - 3)
        try:
            while size > 0:
                self.wfile.write(chunk[:size])
                size -= len(chunk)
        except (OSError, ValueError):
            pass

    def list_page(self, board, posts, page, size):
        ordered = sorted(posts, key=lambda p: -p["id"])
        rows = ordered[(page - 1) * size: page * size]
        out = ["<!doctype html><html><body><table>"]
        for p in rows:
            link = "https://example/bbs/board.php?bo_table=%s&amp;wr_id=%d&amp;page=%d" % (board, p["id"], page)
            date = p.get("date")
            cell = '<td class="wr-date hidden-xs">%s</td>' % (date if date else "12:34")
            out.append('<tr><td><a href="%s">%s</a></td>%s</tr>' % (link, html.escape(p.get("title", "")), cell))
        out.append("</table></body></html>")
        self.send(200, "".join(out).encode(), [("Content-Type", "text/html; charset=utf-8")])

    def post_page(self, board, posts, wr_id):
        post = next((p for p in posts if p["id"] == wr_id), None)
        if post is None:
            return self.send(404, b"<html><body>no post</body></html>")
        page = ('<!doctype html><html><head><meta name="title" content="%s">'
                '<meta itemprop="datePublished" content="%sT10:00:00+09:00"></head><body>'
                '<a href="https://example/bbs/download.php?bo_table=%s&amp;wr_id=%d&amp;no=0">%s</a>%s'
                '<div id="bo_v_con">%s</div></body></html>') % (
                    html.escape(post.get("title", "")), post.get("date") or "", board, wr_id,
                    html.escape(post.get("shown", post.get("file", ""))), self.signature_link(board, post),
                    post.get("content", ""))
        self.send(200, page.encode(), [("Content-Type", "text/html; charset=utf-8")])

    def signature_link(self, board, post):
        if not post.get("sig"):
            return ""
        return ' <a href="https://example/bbs/download.php?bo_table=%s&amp;wr_id=%d&amp;no=1">%s.sig</a>' % (
            board, post["id"], html.escape(post.get("shown", post.get("file", ""))))

    def download(self, posts, wr_id, no):
        post = next((p for p in posts if p["id"] == wr_id), None)
        if post and no == 1 and post.get("sig"):
            with open(os.path.join(FOLDER, post["sig"]), "rb") as f:
                return self.send(200, f.read(), [("Content-Type", "application/octet-stream")])
        answer = post.get("answer", "file") if post else "html"
        if answer == "html":
            return self.send(200, HTML_ANSWER, [("Content-Type", "text/html")])
        with open(os.path.join(FOLDER, post["file"]), "rb") as f:
            data = f.read()
        if answer == "cut":
            self.send_response(200)
            self.send_header("Content-Length", str(len(data)))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(data[: len(data) // 2])
            self.close_connection = True
            return
        self.send(200, data, [("Content-Type", "application/octet-stream")], length=(answer != "nolength"))


def main():
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(os.path.join(FOLDER, "cert.pem"), os.path.join(FOLDER, "key.pem"))
    server.socket = ctx.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
    with open(os.path.join(FOLDER, "port.tmp"), "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(os.path.join(FOLDER, "port.tmp"), os.path.join(FOLDER, "port"))
    server.serve_forever()


if __name__ == "__main__":
    main()
