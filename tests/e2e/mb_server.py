#!/usr/bin/env python3
"""A stand-in for the MusicBrainz web service and the Cover Art Archive on 127.0.0.1, for the
end-to-end tests: /ws/2/discid/<id> answers with a reply of tests/data/musicbrainz (its @DISCID@
made the ID asked for), /release/<id>/front-500 redirects (307) to a small JPEG; and a stand-in of
the CUETools database: /lookup2.php answers with the file $CTDB_ANSWER (404 while there is none).
Prints its port, then serves until killed.

    mb_server.py FIXTURE        (one.json, two.json, ...)
"""
import http.server
import os
import sys

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "musicbrainz")
FIXTURE = sys.argv[1]
JPEG = b"\xff\xd8\xff\xe0" + b"cover" * 200


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def reply(self, status, body, kind="application/json", headers=()):
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        path = self.path.split("?")[0]
        if path.startswith("/ws/2/discid/"):
            disc = path[len("/ws/2/discid/"):]
            with open(os.path.join(DATA, FIXTURE), encoding="utf-8") as f:
                body = f.read().replace("@DISCID@", disc).encode("utf-8")
            self.reply(200, body)
        elif path.startswith("/release/") and path.endswith("/front-500"):
            self.reply(307, b"", "text/plain", [("Location", "/images/front.jpg")])
        elif path == "/images/front.jpg":
            self.reply(200, JPEG, "image/jpeg")
        elif path == "/lookup2.php" and os.path.isfile(os.environ.get("CTDB_ANSWER", "")):
            with open(os.environ["CTDB_ANSWER"], "rb") as f:
                self.reply(200, f.read(), "text/xml")
        else:
            self.reply(404, b"{}")


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
