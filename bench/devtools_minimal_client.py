#!/usr/bin/env python3
"""The peer of the tab's-movies benchmark: a minimal DevTools client. It finds the page on
127.0.0.1:PORT, opens one WebSocket to it, lists the frames' worlds (Runtime.enable), and sends
one Runtime.evaluate of the given script per frame, one after another. Prints the movies found.

usage: devtools_minimal_client.py PORT SCRIPT_FILE
"""
import base64
import json
import os
import socket
import struct
import sys
import urllib.request


def connect(url):
    host_port, path = url[len("ws://"):].split("/", 1)
    host, port = host_port.split(":")
    sock = socket.create_connection((host, int(port)))
    key = base64.b64encode(os.urandom(16)).decode()
    sock.sendall((f"GET /{path} HTTP/1.1\r\nHost: {host_port}\r\nUpgrade: websocket\r\n"
                  f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
                  "Sec-WebSocket-Version: 13\r\n\r\n").encode())
    head = b""
    while b"\r\n\r\n" not in head:
        head += sock.recv(4096)
    return sock, head.split(b"\r\n\r\n", 1)[1]


class Socket:
    def __init__(self, url):
        self.sock, self.buffer = connect(url)

    def read(self, n):
        while len(self.buffer) < n:
            self.buffer += self.sock.recv(1 << 20)
        data, self.buffer = self.buffer[:n], self.buffer[n:]
        return data

    def send(self, text):
        payload = text.encode()
        mask = os.urandom(4)
        size = len(payload)
        head = bytes([0x81])
        if size < 126:
            head += bytes([0x80 | size])
        elif size < 65536:
            head += bytes([0x80 | 126]) + struct.pack(">H", size)
        else:
            head += bytes([0x80 | 127]) + struct.pack(">Q", size)
        keys = (mask * (size // 4 + 1))[:size]
        masked = (int.from_bytes(payload, "big") ^ int.from_bytes(keys, "big")).to_bytes(size, "big")
        self.sock.sendall(head + mask + masked)

    def receive(self):
        message = b""
        while True:
            first, second = self.read(2)
            size = second & 0x7F
            if size == 126:
                size = struct.unpack(">H", self.read(2))[0]
            elif size == 127:
                size = struct.unpack(">Q", self.read(8))[0]
            message += self.read(size)
            if first & 0x80:
                return json.loads(message)


def main():
    port, script_file = int(sys.argv[1]), sys.argv[2]
    script = open(script_file, encoding="utf-8").read()
    pages = json.load(urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list"))
    page = next(p for p in pages if p["type"] == "page")
    ws = Socket(page["webSocketDebuggerUrl"])
    calls = 0

    def call(method, params, on_event=None):
        nonlocal calls
        calls += 1
        ws.send(json.dumps({"id": calls, "method": method, "params": params}))
        while True:
            message = ws.receive()
            if message.get("id") == calls:
                return message
            if on_event:
                on_event(message)

    contexts = []

    def context_created(message):
        if message.get("method") == "Runtime.executionContextCreated":
            context = message["params"]["context"]
            if context.get("auxData", {}).get("isDefault"):
                contexts.append(context["id"])

    call("Runtime.enable", {}, context_created)
    call("Runtime.disable", {})
    movies = 0
    for context in contexts:
        answer = call("Runtime.evaluate",
                      {"expression": script, "contextId": context, "returnByValue": True})
        value = answer.get("result", {}).get("result", {}).get("value") or {}
        movies += len(value.get("movies", []))
    print(movies)


if __name__ == "__main__":
    main()
