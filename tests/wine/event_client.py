"""Sends page events to the product's listener the way the page does, over a plain socket, and
records exactly what came back: the raw bytes (so "no answer at all" differs from an empty answer)
and when the request went out and the connection ended.

Used in-process by the scenarios and the benchmark, and as a command from another network
namespace, where it prints one line of JSON:
  python3 event_client.py HOST PORT TYPE [ARG1 [ARG2]] [--method M] [--path P] [--timeout S]

Standard library only, and importable without the rest of the Wine fixture, so that it also runs
under `ip netns exec` with nothing but python3.
"""

from __future__ import annotations

import argparse
import json
import socket
import sys
import threading
import time
import urllib.parse
from dataclasses import asdict, dataclass

STATUS_404 = "HTTP/1.1 404 Not Found"


@dataclass
class Answer:
    """What one request got back. `data` is everything read until the peer closed (latin-1, so any
    byte survives the JSON round trip); `error` is set when the connection failed or broke instead
    of ending in an orderly close."""

    sent: float
    ended: float
    data: str
    # None, or how the connection failed: "refused", "reset", "timeout" or "other", then the text
    error: str | None = None

    @property
    def status_line(self) -> str:
        return self.data.split("\r\n", 1)[0]

    @property
    def head(self) -> str:
        return self.data.split("\r\n\r\n", 1)[0]

    @property
    def body(self) -> str | None:
        parts = self.data.split("\r\n\r\n", 1)
        return parts[1] if len(parts) == 2 else None

    @property
    def unanswered(self) -> bool:
        """The connection ended without a single byte of response (closed or reset)."""
        return self.data == "" and (self.error is None or self.error.startswith("reset"))

    @property
    def round_trip(self) -> float:
        return self.ended - self.sent


def _failure_kind(e: OSError) -> str:
    if isinstance(e, ConnectionRefusedError):
        return "refused"
    if isinstance(e, (ConnectionResetError, BrokenPipeError, ConnectionAbortedError)):
        return "reset"
    if isinstance(e, TimeoutError):
        return "timeout"
    return "other"


def event_target(event_type: str, arg1: object = 0, arg2: object = 0, path: str = "/event") -> str:
    return f"{path}?{urllib.parse.urlencode({'type': event_type, 'arg1': arg1, 'arg2': arg2})}"


def send_request(host: str, port: int, target: str, method: str = "GET", timeout: float = 40.0) -> Answer:
    """One request on a connection of its own, read until the listener closes it."""
    lines = [f"{method} {target} HTTP/1.1", f"Host: {host}:{port}"]
    if method == "POST":
        lines.append("Content-Length: 0")
    request = ("\r\n".join(lines) + "\r\n\r\n").encode("ascii")
    received = bytearray()
    error = None
    sent = time.monotonic()
    try:
        with socket.create_connection((host, port), timeout=timeout) as connection:
            connection.sendall(request)
            sent = time.monotonic()
            while True:
                chunk = connection.recv(65536)
                if not chunk:
                    break
                received += chunk
    except OSError as e:
        error = f"{_failure_kind(e)}: {type(e).__name__}: {e}"
    return Answer(sent=sent, ended=time.monotonic(), data=received.decode("latin-1"), error=error)


def send_event(host: str, port: int, event_type: str, arg1: object = 0, arg2: object = 0, method: str = "GET",
               path: str = "/event", timeout: float = 40.0) -> Answer:
    return send_request(host, port, event_target(event_type, arg1, arg2, path), method, timeout)


class PendingEvent:
    """An event sent from a thread of its own: the listener answers only once the command has run,
    and a command such as "openmenu" runs until the user closes the menu."""

    def __init__(self, host: str, port: int, event_type: str, arg1: object = 0, arg2: object = 0,
                 method: str = "GET", timeout: float = 40.0) -> None:
        self._answer: Answer | None = None
        request = dict(host=host, port=port, event_type=event_type, arg1=arg1, arg2=arg2, method=method,
                       timeout=timeout)
        self._thread = threading.Thread(target=self._send, kwargs=request, daemon=True)
        self._thread.start()

    def _send(self, **request) -> None:
        self._answer = send_event(**request)

    def answered(self) -> bool:
        return not self._thread.is_alive()

    def answer(self, timeout: float) -> Answer:
        self._thread.join(timeout)
        if self._thread.is_alive():
            raise AssertionError(f"the event request was still waiting after {timeout:.0f} s")
        assert self._answer is not None
        return self._answer


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("host")
    parser.add_argument("port", type=int)
    parser.add_argument("type")
    parser.add_argument("arg1", nargs="?", default="0")
    parser.add_argument("arg2", nargs="?", default="0")
    parser.add_argument("--method", default="GET")
    parser.add_argument("--path", default="/event")
    parser.add_argument("--timeout", type=float, default=40.0)
    a = parser.parse_args()
    answer = send_event(a.host, a.port, a.type, a.arg1, a.arg2, a.method, a.path, a.timeout)
    print(json.dumps(asdict(answer)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
