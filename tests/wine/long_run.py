"""A long run against the real product: many page events in a row, then events served while a
crowd of idle connections is held open, watching the process from outside (its Linux threads and
resident memory, which under Wine are the Windows process's own) and the settings file.

The scenario (long_run_scenarios.py) checks what must hold; the benchmark (bench/wine_long_run.py)
prints the figures. Both drive the product through run_long() below. Standard library only.
"""

from __future__ import annotations

import contextlib
import errno
import socket
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path

from event_client import STATUS_404, event_target, send_request
from wine_fixture import percentile

LOOPBACK = "127.0.0.1"
# The listener drops a connection that has sent nothing for this long.
READ_TIME_OUT = 10.0

# What the page sends, in the order it sends it: a press and a release per click, now and then a
# reload, and a type the strip ignores (it still goes through the hand-over to the window thread).
EVENT_CYCLE = (
    ("mousedown", 12, 7),
    ("mouseup", 12, 7),
    ("none", 0, 0),
)
REFRESH_EVERY = 100


def event_for(index: int) -> tuple[str, int, int]:
    if index % REFRESH_EVERY == REFRESH_EVERY - 1:
        return ("refresh", 0, 0)
    return EVENT_CYCLE[index % len(EVENT_CYCLE)]


@dataclass
class ProcessSample:
    threads: int
    rss_kib: int


def sample_process(pid: int) -> ProcessSample:
    """Thread count and resident memory of a Linux process (a Wine process is one)."""
    fields = {}
    with open(f"/proc/{pid}/status", encoding="ascii") as status:
        for line in status:
            key, _, value = line.partition(":")
            fields[key] = value.strip()
    return ProcessSample(threads=int(fields["Threads"]), rss_kib=int(fields["VmRSS"].split()[0]))


class Sampler:
    """Samples the process every few milliseconds on a thread of its own and keeps the peak
    thread count, so short-lived threads are seen too."""

    def __init__(self, pid: int, interval: float = 0.02) -> None:
        self.pid = pid
        self.peak_threads = 0
        self._interval = interval
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, name="sampler", daemon=True)
        self._thread.start()

    def _run(self) -> None:
        while not self._stop.is_set():
            with contextlib.suppress(OSError, KeyError, ValueError):
                s = sample_process(self.pid)
                self.peak_threads = max(self.peak_threads, s.threads)
            self._stop.wait(self._interval)

    def reset(self) -> None:
        self.peak_threads = 0

    def stop(self) -> None:
        self._stop.set()
        self._thread.join()


@dataclass
class EventRun:
    """What a row of events got back."""

    sent: int = 0
    # Requests that did not end in a 404 and an orderly close, with what they got instead
    wrong: list[str] = field(default_factory=list)
    round_trips: list[float] = field(default_factory=list)
    seconds: float = 0.0

    @property
    def per_second(self) -> float:
        return self.sent / self.seconds if self.seconds else 0.0

    def percentile(self, fraction: float) -> float:
        return percentile(sorted(self.round_trips), fraction)


def send_events(port: int, count: int, first_index: int = 0, until: float | None = None,
                timeout: float = 20.0) -> EventRun:
    """Sends count events one after another, or fewer if the monotonic clock passes until."""
    run = EventRun()
    started = time.monotonic()
    for i in range(first_index, first_index + count):
        if until is not None and time.monotonic() >= until:
            break
        answer = send_request(LOOPBACK, port, event_target(*event_for(i)), timeout=timeout)
        run.sent += 1
        if answer.error is not None or answer.status_line != STATUS_404 or answer.body != "":
            if len(run.wrong) < 10:
                run.wrong.append(f"event {i} {event_for(i)}: {answer}")
            else:
                run.wrong.append("...")
        run.round_trips.append(answer.round_trip)
    run.seconds = time.monotonic() - started
    return run


class IdleCrowd:
    """Connections that connect and then send nothing, as a stuck or hostile client would.

    They are opened a couple of milliseconds apart: the listen backlog is 5, and a burst beyond it
    has its connection attempts dropped by the kernel and retried a second later, which would
    only measure the client's retry timer."""

    PACE = 0.002
    # A connect that took this long waited for the kernel's retry of a dropped attempt.
    RETRIED = 0.5

    def __init__(self, port: int, count: int, timeout: float = 20.0) -> None:
        self.sockets: list[socket.socket] = []
        self.opened: list[float] = []
        self.refused = 0
        self.retried = 0
        started = time.monotonic()
        for _ in range(count):
            attempt = time.monotonic()
            try:
                connection = socket.create_connection((LOOPBACK, port), timeout=timeout)
                # Without a timeout Python reads straight away, so MSG_DONTWAIT below looks
                # without waiting.
                connection.settimeout(None)
                self.sockets.append(connection)
                self.opened.append(time.monotonic())
            except OSError:
                self.refused += 1
            if time.monotonic() - attempt >= self.RETRIED:
                self.retried += 1
            time.sleep(self.PACE)
        self.first_opened_at = started
        self.opened_at = time.monotonic()
        self.open_seconds = self.opened_at - started

    def states(self, younger_than: float | None = None) -> dict[str, int]:
        """How many are still open, were closed in order by the listener, or were reset; with
        younger_than, only those opened less than that many seconds ago."""
        counts = {"open": 0, "closed": 0, "reset": 0, "sent data": 0, "other": 0}
        now = time.monotonic()
        for s, opened in zip(self.sockets, self.opened):
            if younger_than is not None and now - opened >= younger_than:
                continue
            try:
                data = s.recv(1, socket.MSG_DONTWAIT | socket.MSG_PEEK)
                counts["closed" if data == b"" else "sent data"] += 1
            except BlockingIOError:
                counts["open"] += 1
            except OSError as e:
                counts["reset" if e.errno in (errno.ECONNRESET, errno.EPIPE) else "other"] += 1
        return counts

    def close(self) -> None:
        for s in self.sockets:
            s.close()
        self.sockets.clear()
        self.opened.clear()


@dataclass
class LongRunFigures:
    baseline: ProcessSample
    events: EventRun
    after_events: ProcessSample
    peak_threads_events: int
    idle_requested: int
    idle_refused: int
    idle_retried: int
    idle_open_seconds: float
    events_while_idle: EventRun
    idle_states_during: dict[str, int]
    peak_threads_idle: int
    idle_states_after: dict[str, int]
    idle_dropped_after: float
    settled: ProcessSample
    settle_seconds: float
    page_loads: int
    refreshes_sent: int
    settings_before: bytes
    settings_after: bytes


def settle(pid: int, baseline_threads: int, timeout: float) -> tuple[ProcessSample, float]:
    """Waits until the thread count is back at the baseline (threads that served requests end a
    short while after their last one), then returns the sample and the time it took."""
    started = time.monotonic()
    sample = sample_process(pid)
    while sample.threads > baseline_threads and time.monotonic() - started < timeout:
        time.sleep(0.1)
        sample = sample_process(pid)
    return sample, time.monotonic() - started


def baseline_of(pid: int, port: int, warm_up: int, timeout: float) -> ProcessSample:
    """The process after it has served requests once and its serving threads have ended again:
    the first requests load code and grow heaps once, which is not what the run looks for."""
    send_events(port, warm_up, first_index=0)
    # Settled: the same thread count for longer than a serving thread waits for more work (2 s).
    deadline = time.monotonic() + timeout
    quiet = sample_process(pid)
    quiet_since = time.monotonic()
    while time.monotonic() < deadline:
        time.sleep(0.25)
        now = sample_process(pid)
        if now.threads != quiet.threads:
            quiet, quiet_since = now, time.monotonic()
        elif time.monotonic() - quiet_since >= 3.0:
            return now
    return sample_process(pid)


def run_long(pid: int, port: int, settings: Path, page_loads, events: int = 10_000, idle: int = 200,
             events_while_idle: int = 2_000, idle_look_after: float = 7.0, warm_up: int = 300,
             settle_timeout: float = 30.0) -> LongRunFigures:
    """page_loads: a callable counting the page's loads so far, to see the reloads arrive.
    idle_look_after: seconds after the first idle connection opened by which the events stop and
    the crowd is looked at; it must stay below the listener's read time-out (10 s)."""
    settings_before = settings.read_bytes()
    baseline = baseline_of(pid, port, warm_up, settle_timeout)
    loads_before = page_loads()
    sampler = Sampler(pid)
    try:
        events_run = send_events(port, events, first_index=warm_up)
        peak_events = sampler.peak_threads
        after_events = sample_process(pid)

        sampler.reset()
        crowd = IdleCrowd(port, idle)
        try:
            # Events stop in time to look at the crowd before the listener's read time-out
            # would drop its oldest member.
            while_idle = send_events(port, events_while_idle, first_index=warm_up + events,
                                     until=crowd.first_opened_at + idle_look_after)
            # Those that have not reached the time-out yet must all still be open (on a quick
            # machine, that is every one of them).
            during = crowd.states(younger_than=READ_TIME_OUT - 1.0)
            peak_idle = sampler.peak_threads
            # The listener drops a connection that sent nothing once its read time-out has passed.
            deadline = time.monotonic() + settle_timeout
            after = crowd.states()
            while after["open"] and time.monotonic() < deadline:
                time.sleep(0.1)
                after = crowd.states()
            dropped_after = time.monotonic() - crowd.opened_at
        finally:
            crowd.close()
    finally:
        sampler.stop()
    settled, settle_seconds = settle(pid, baseline.threads, settle_timeout)
    refreshes = sum(1 for i in range(warm_up, warm_up + events_run.sent + while_idle.sent)
                    if event_for(i)[0] == "refresh")
    # A reload runs after its event has been answered; give the last one time to arrive.
    deadline = time.monotonic() + settle_timeout
    while page_loads() - loads_before < refreshes and time.monotonic() < deadline:
        time.sleep(0.1)
    return LongRunFigures(
        baseline=baseline,
        events=events_run,
        after_events=after_events,
        peak_threads_events=peak_events,
        idle_requested=idle,
        idle_refused=crowd.refused,
        idle_retried=crowd.retried,
        idle_open_seconds=crowd.open_seconds,
        events_while_idle=while_idle,
        idle_states_during=during,
        peak_threads_idle=peak_idle,
        idle_states_after=after,
        idle_dropped_after=dropped_after,
        settled=settled,
        settle_seconds=settle_seconds,
        page_loads=page_loads() - loads_before,
        refreshes_sent=refreshes,
        settings_before=settings_before,
        settings_after=settings.read_bytes(),
    )


def report(f: LongRunFigures) -> str:
    def ms(seconds: float) -> str:
        return f"{seconds * 1000:.2f} ms"

    def run_line(run: EventRun) -> str:
        return (f"{run.sent} events in {run.seconds:.1f} s ({run.per_second:.0f}/s), round trip p50 "
                f"{ms(run.percentile(0.5))}, p99 {ms(run.percentile(0.99))}, worst {ms(max(run.round_trips))}, "
                f"wrong answers {len(run.wrong)}")

    mib = 1024.0
    return "\n".join([
        f"baseline: {f.baseline.threads} threads, {f.baseline.rss_kib / mib:.1f} MiB resident",
        f"events in a row: {run_line(f.events)}",
        f"  peak {f.peak_threads_events} threads; after: {f.after_events.threads} threads, "
        f"{f.after_events.rss_kib / mib:.1f} MiB; page reloads {f.page_loads} for "
        f"{f.refreshes_sent} refresh events",
        f"{f.idle_requested} idle connections opened in {f.idle_open_seconds:.2f} s "
        f"({f.idle_refused} refused, {f.idle_retried} waited for a retry)",
        f"  while held: {run_line(f.events_while_idle)}",
        f"  peak {f.peak_threads_idle} threads; idle connections after the events (those short of the "
        f"time-out): {f.idle_states_during}",
        f"  dropped by the listener {f.idle_dropped_after:.1f} s after the last was opened: {f.idle_states_after}",
        f"settled after {f.settle_seconds:.1f} s: {f.settled.threads} threads, {f.settled.rss_kib / mib:.1f} MiB "
        f"resident ({(f.settled.rss_kib - f.baseline.rss_kib) / mib:+.1f} MiB against the baseline)",
        f"settings.xml {'unchanged' if f.settings_before == f.settings_after else 'CHANGED'} "
        f"({len(f.settings_after)} bytes)",
    ])

