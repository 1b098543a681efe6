#!/usr/bin/env python3
"""The peer of the pictures benchmark: one headless Chromium, a new page per movie, the same
Ruffle drawing the movie until the same moment (a second after it shows, a one-frame movie's
first frame), then a screenshot of the page written as PNG. Prints each movie's milliseconds.

usage: chromium_pictures.py CHROMIUM FOLDER LIST OUT_FOLDER
FOLDER holds page.html, ruffle/ and the movies; LIST names one movie (relative to FOLDER) a line.
"""
import base64
import functools
import http.server
import json
import os
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from devtools_minimal_client import Socket  # noqa: E402

SHOW_WITHIN_S = 10


def serve(folder):
    handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=folder)
    handler.log_message = lambda *args: None
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_address[1]


def start_browser(chromium, profile):
    arguments = [chromium, "--headless=new", "--disable-gpu", "--no-first-run", "--mute-audio",
                 "--remote-debugging-port=0", "--window-size=512,384",
                 "--user-data-dir=" + profile, "about:blank"]
    if os.geteuid() == 0:
        arguments.append("--no-sandbox")
    browser = subprocess.Popen(arguments, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    port_file = os.path.join(profile, "DevToolsActivePort")
    deadline = time.time() + 60
    while time.time() < deadline:
        if os.path.exists(port_file):
            lines = open(port_file).read().split("\n")
            if len(lines) >= 2 and lines[1]:
                return browser, f"ws://127.0.0.1:{lines[0]}{lines[1]}"
        time.sleep(0.05)
    raise SystemExit("the browser did not start")


class Browser:
    def __init__(self, url):
        self.ws = Socket(url)
        self.calls = 0

    def call(self, method, params, session=None):
        self.calls += 1
        message = {"id": self.calls, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        self.ws.send(json.dumps(message))
        while True:
            answer = self.ws.receive()
            if answer.get("id") == self.calls:
                return answer.get("result", {})

    def picture(self, page, out):
        target = self.call("Target.createTarget", {"url": page})["targetId"]
        session = self.call("Target.attachToTarget",
                            {"targetId": target, "flatten": True})["sessionId"]
        deadline = time.time() + SHOW_WITHIN_S
        while time.time() < deadline:
            ready = self.call("Runtime.evaluate", {"expression": "window.pictureReady === true",
                                                   "returnByValue": True}, session)
            if ready.get("result", {}).get("value"):
                break
            time.sleep(0.01)
        shot = self.call("Page.captureScreenshot", {"format": "png"}, session)
        with open(out, "wb") as file:
            file.write(base64.b64decode(shot.get("data", "")))
        self.call("Target.closeTarget", {"targetId": target})


def main():
    chromium, folder, listing, out_folder = sys.argv[1:5]
    port = serve(folder)
    movies = [line.strip() for line in open(listing) if line.strip()]
    with tempfile.TemporaryDirectory() as profile:
        process, url = start_browser(chromium, profile)
        try:
            browser = Browser(url)
            # The browser's first page is its start-up, not a picture's work.
            browser.picture(f"http://127.0.0.1:{port}/page.html?movie={movies[0]}",
                            os.path.join(out_folder, "warm.png"))
            for index, movie in enumerate(movies):
                started = time.perf_counter()
                browser.picture(f"http://127.0.0.1:{port}/page.html?movie={movie}",
                                os.path.join(out_folder, f"{index}.png"))
                print(f"{(time.perf_counter() - started) * 1000:.1f}", flush=True)
        finally:
            process.kill()
            process.wait()


if __name__ == "__main__":
    main()
