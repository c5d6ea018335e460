"""Page events against the real product under Wine and Xvfb: how long one event takes from the
request being sent to its answer being read, and how long "close" takes to end the process.

  python3 bench/wine_events.py [--requests N] [--starts N]

Figures printed:
  * round trip of an event that does nothing ("type=none": it still goes through the hand-over to
    the window thread and back), and of a request that is not an event at all (answered by the
    listener without the hand-over), each over N requests on a connection of their own: p50, p99,
    worst. The clock runs from the request having been written to the listener's close having been
    read, so connecting is not counted.
  * start: from the Wine process having been started to the strip asking the page server for its
    page, which it does as it is first shown, over N starts with the stand-in Winamp running and
    the Wine server warm: median and worst.
  * "close": from the request having been written to the listener having cut that connection,
    and to the Wine process having exited, over the same N starts: median and worst, and how many
    of the requests went unanswered (all must). The virtual desktop has a window manager, as a
    user's has: without one, Wine holds the hiding of the strip for 2 s (its wait for a withdrawn
    window state times out), and both figures would carry those 2 s.

Paths as for the Wine scenarios (tests/wine/wine_fixture.py): the build tree build/win64 or
build/win32 of this checkout by default. Standard library only.
"""

from __future__ import annotations

import argparse
import statistics
import sys
import time
from pathlib import Path

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "wine"))

from event_client import STATUS_404, PendingEvent, send_request  # noqa: E402
from wine_fixture import (  # noqa: E402
    STEP_TIMEOUT,
    Config,
    WineBench,
    config_for_bench,
    percentile,
    stop_process,
)

LOOPBACK = "127.0.0.1"
# Requests before the measured ones: the first few pay for Wine loading the socket and thread code.
WARM_UP = 20


def ms(seconds: float) -> str:
    return f"{seconds * 1000:8.2f} ms"


class Bench(WineBench):
    def __init__(self, config: Config) -> None:
        super().__init__(config, "bench")

    def round_trips(self, port: int, target: str, count: int) -> list[float]:
        times = []
        for i in range(WARM_UP + count):
            answer = send_request(LOOPBACK, port, target, timeout=STEP_TIMEOUT)
            if answer.error is not None or answer.status_line != STATUS_404:
                raise RuntimeError(f"request {i} of {target}: {answer}")
            if i >= WARM_UP:
                times.append(answer.round_trip)
        return sorted(times)

    def close_time(self) -> tuple[float, float, bool, float]:
        """Seconds from "close" having been written to its connection having been cut and to the
        process having exited, whether the request went unanswered, and how long this start took
        from the process start to the strip asking for its page."""
        process, port = self.start_product()
        started = self.start_to_page
        try:
            # The exit is awaited here while the request waits on a thread of its own, so reading
            # the (absent) answer cannot delay the clock.
            pending = PendingEvent(LOOPBACK, port, "close", timeout=STEP_TIMEOUT)
            process.wait(STEP_TIMEOUT)
            exited = time.monotonic()
            answer = pending.answer(STEP_TIMEOUT)
            if process.returncode != 0:
                raise RuntimeError(f"exit code {process.returncode} after close")
            return answer.round_trip, exited - answer.sent, answer.unanswered, started
        finally:
            stop_process(process)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--requests", type=int, default=500, help="measured requests of each kind")
    parser.add_argument("--starts", type=int, default=10, help="starts of the product for close")
    args = parser.parse_args()

    config = config_for_bench()
    if config is None:
        return 77
    bench = Bench(config)
    try:
        standin = bench.start_standin()
        process, port = bench.start_product()
        kinds = {
            "event type=none (hand-over)": "/event?type=none&arg1=0&arg2=0",
            "not an event (listener only)": "/other",
        }
        print(f"Wine {config.loader} ({config.bits}-bit build), {args.requests} requests each, "
              f"{WARM_UP} warm-up requests not counted")
        for name, target in kinds.items():
            times = bench.round_trips(port, target, args.requests)
            print(f"  {name:30} p50 {ms(percentile(times, 0.50))}  p99 {ms(percentile(times, 0.99))}  "
                  f"worst {ms(times[-1])}")
        stop_process(process)

        cuts, exits, starts = [], [], []
        unanswered = 0
        for _ in range(args.starts):
            cut, exit_time, no_answer, start = bench.close_time()
            cuts.append(cut)
            exits.append(exit_time)
            starts.append(start)
            unanswered += no_answer
        print(f"start, over {args.starts} starts (stand-in Winamp running, Wine server warm)")
        print(f"  {'process start to page request':30} median {ms(statistics.median(starts))}  worst {ms(max(starts))}")
        print(f"close, over {args.starts} starts (requests left unanswered: {unanswered} of {args.starts})")
        print(f"  {'to the connection cut':30} median {ms(statistics.median(cuts))}  worst {ms(max(cuts))}")
        print(f"  {'to the process exit':30} median {ms(statistics.median(exits))}  worst {ms(max(exits))}")
        stop_process(standin)
    finally:
        bench.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
