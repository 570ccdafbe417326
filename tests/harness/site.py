"""A loopback web site that stands in for the player's two real addresses.

The player is started with http_proxy pointing here, so its requests arrive
with absolute URIs ("GET http://music.example/lb/playrandom.html HTTP/1.1").
Served by default:

  http://music.example/lb/playrandom.html  page that autoplays TONE_URL (loop)
  http://music.example/lb/tone660.wav      5 s of a steady 660 Hz sine, -6 dBFS
  http://zorva.example/                    a silent home page

Every response carries Cache-Control: no-store (the engine would otherwise
answer a reload from its cache with no request at all). Every request is
logged with its time.monotonic() arrival time. Range requests are honoured.

Import this file by path (desktop.py does): its name shadows Python's own
`site` module.
"""

import io
import math
import struct
import threading
import time
import wave
from collections import namedtuple
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import urlsplit

RANDOM_PLAY_URL = "http://music.example/lb/playrandom.html"
HOME_URL = "http://zorva.example/"
TONE_URL = "http://music.example/lb/tone660.wav"
TONE_HZ = 660.0
TONE_AMPLITUDE = 0.5

Request = namedtuple("Request", "time method url headers")
Response = namedtuple("Response", "status content_type body headers")


def tone_wav(hz=TONE_HZ, seconds=5.0, rate=44100, amplitude=TONE_AMPLITUDE):
    """A mono 16-bit WAV of a sine; a whole number of cycles, so it loops cleanly."""
    n = int(rate * seconds)
    cycles = round(hz * n / rate)
    step = 2 * math.pi * cycles / n
    frames = struct.pack("<%dh" % n, *(int(32767 * amplitude * math.sin(step * i))
                                       for i in range(n)))
    buf = io.BytesIO()
    with wave.open(buf, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(frames)
    return buf.getvalue()


def autoplay_page(src, title="Random play"):
    return ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%s</title></head>\n"
            "<body><p>%s</p><audio autoplay loop src=\"%s\"></audio></body></html>\n"
            % (title, title, src)).encode()


HOME_PAGE = (b"<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Zorva</title>"
             b"</head>\n<body><p>Zorva home</p></body></html>\n")


def _key(url):
    """scheme://host/path, without query or fragment; "/" for an empty path."""
    parts = urlsplit(url)
    return "%s://%s%s" % (parts.scheme or "http", parts.netloc.lower(), parts.path or "/")


class Site:
    """The loopback site and proxy. Use as a context manager or start()/stop()."""

    def __init__(self, host="127.0.0.1"):
        self._host = host
        self._lock = threading.Lock()
        self._cond = threading.Condition(self._lock)
        self._log = []
        self._routes = {}
        self._server = None
        self._thread = None
        self.set_route(RANDOM_PLAY_URL, autoplay_page("tone660.wav"))
        self.set_route(TONE_URL, tone_wav(), "audio/wav")
        self.set_route(HOME_URL, HOME_PAGE)

    # --- content ---------------------------------------------------------
    def set_route(self, url, body, content_type="text/html; charset=utf-8",
                  status=200, headers=None):
        """Serves `body` for `url` (query ignored). body may be a callable
        taking the Request and returning bytes."""
        with self._lock:
            self._routes[_key(url)] = Response(status, content_type, body,
                                               dict(headers or {}))

    def remove_route(self, url):
        with self._lock:
            self._routes.pop(_key(url), None)

    # --- lifecycle -------------------------------------------------------
    def start(self):
        site = self

        class Handler(BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.0"
            server_version = "ZorvaTestSite/1"

            def log_message(self, *args):
                pass

            def _absolute(self):
                if self.path.startswith(("http://", "https://")):
                    return self.path
                return "http://%s%s" % (self.headers.get("Host", "127.0.0.1"), self.path)

            def _serve(self, with_body):
                url = self._absolute()
                req = site._record(self.command, url, dict(self.headers.items()))
                with site._lock:
                    route = site._routes.get(_key(url))
                if route is None:
                    route = Response(404, "text/plain", b"not found\n", {})
                body = route.body(req) if callable(route.body) else route.body
                status = route.status
                extra = dict(route.headers)
                rng = self.headers.get("Range")
                if status == 200 and rng and rng.startswith("bytes="):
                    first, _, last = rng[6:].split(",")[0].partition("-")
                    try:
                        if first:
                            a = int(first)
                            b = int(last) if last else len(body) - 1
                        else:
                            a = max(0, len(body) - int(last))
                            b = len(body) - 1
                        b = min(b, len(body) - 1)
                        if a > b:
                            raise ValueError
                    except ValueError:
                        self.send_response(416)
                        self.send_header("Content-Range", "bytes */%d" % len(body))
                        self.send_header("Cache-Control", "no-store")
                        self.send_header("Content-Length", "0")
                        self.end_headers()
                        return
                    extra["Content-Range"] = "bytes %d-%d/%d" % (a, b, len(body))
                    body = body[a:b + 1]
                    status = 206
                self.send_response(status)
                self.send_header("Content-Type", route.content_type)
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Cache-Control", "no-store")
                self.send_header("Accept-Ranges", "bytes")
                self.send_header("Connection", "close")
                for k, v in extra.items():
                    self.send_header(k, v)
                self.end_headers()
                if with_body:
                    try:
                        self.wfile.write(body)
                    except (BrokenPipeError, ConnectionResetError):
                        pass

            def do_GET(self):
                self._serve(True)

            def do_HEAD(self):
                self._serve(False)

            def do_POST(self):
                length = int(self.headers.get("Content-Length") or 0)
                if length:
                    self.rfile.read(length)
                self._serve(True)

            def do_CONNECT(self):
                site._record("CONNECT", self.path, dict(self.headers.items()))
                self.send_response(405)
                self.send_header("Content-Length", "0")
                self.end_headers()

        self._server = ThreadingHTTPServer((self._host, 0), Handler)
        self._server.daemon_threads = True
        self._thread = threading.Thread(target=self._server.serve_forever,
                                        name="test-site", daemon=True)
        self._thread.start()
        return self

    def stop(self):
        if self._server is not None:
            self._server.shutdown()
            self._server.server_close()
            self._thread.join(5)
            self._server = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    @property
    def port(self):
        return self._server.server_address[1]

    @property
    def proxy_url(self):
        return "http://%s:%d" % (self._host, self.port)

    # --- request log -----------------------------------------------------
    def _record(self, method, url, headers):
        req = Request(time.monotonic(), method, url, headers)
        with self._cond:
            self._log.append(req)
            self._cond.notify_all()
        return req

    def requests(self):
        """Every request so far, oldest first (Request: time, method, url, headers)."""
        with self._lock:
            return list(self._log)

    def wait_for_request(self, url_substring, after_index=0, timeout=10.0):
        """Waits for a request whose URL contains `url_substring`, at log index
        >= after_index. Returns (index, Request), or None on timeout."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                for i in range(after_index, len(self._log)):
                    if url_substring in self._log[i].url:
                        return i, self._log[i]
                left = deadline - time.monotonic()
                if left <= 0:
                    return None
                self._cond.wait(left)


if __name__ == "__main__":
    with Site() as s:
        print("proxy at", s.proxy_url, flush=True)
        try:
            while True:
                time.sleep(3600)
        except KeyboardInterrupt:
            pass
