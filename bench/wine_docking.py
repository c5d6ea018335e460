"""Following Winamp under Wine and Xvfb: how long the docked strip takes to follow the stand-in
Winamp's main window, and what the strip costs while nothing moves.

  python3 bench/wine_docking.py [--moves N] [--still-pause-ms MS] [--idle-seconds S] [--only-without-winamp]

Figures printed:
  * lag from the stand-in's main window having moved (its synchronous "move" command returned) to
    the strip standing at the kept offset, read inside Wine by tests/wine/follow_lag.cpp every
    millisecond: median, p90 and worst over N moves of 3 pixels, and how many moves the strip did
    not follow within 2 s. Two series: moves after a still spell longer than the hook library's
    fast-poll linger (the library looks every 40 ms then, and the strip's follow timer is off), and
    moves 20 ms apart (the library looks every 10 ms, and the 15 ms follow timer runs).
  * CPU time of the strip's process and of the Wine server over the idle period, with the strip
    docked and the hook library attached and watching a still Winamp, and again with no Winamp
    (the library is then never attached, and the strip looks for Winamp once a second). The
    difference is the watcher's cost less the look's. --only-without-winamp measures the second
    alone, to compare builds. Taken after the lag
    series, so a follow timer left running after the last move would show here too.

The machine's load is part of every figure: run it on a quiet machine and compare runs made on the
same one. Paths as for the Wine scenarios (tests/wine/wine_fixture.py): the build tree build/win64
or build/win32 of this checkout by default. Standard library only.
"""

from __future__ import annotations

import argparse
import json
import os
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "wine"))

from docking_scenarios import DOCKED, DROP, drag_strip_to, strip_rect  # noqa: E402
from wine_fixture import (  # noqa: E402
    STEP_TIMEOUT,
    Config,
    WineBench,
    config_for_bench,
    percentile,
    stop_process,
)

FOLLOWING_PAUSE_MS = 20
# Lets the library drop back to its still interval after the set-up's own window activity.
QUIET_BEFORE_IDLE = 3.0
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid: int) -> float:
    """User plus system time of one Unix process so far."""
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def wineserver_pid(prefix: Path) -> int:
    """The server of this prefix: the wineserver process whose environment names the prefix."""
    wanted = f"WINEPREFIX={prefix}".encode()
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            if b"wineserver" in (entry / "cmdline").read_bytes() and wanted in (entry / "environ").read_bytes().split(
                    b"\0"):
                return int(entry.name)
        except OSError:
            continue
    raise RuntimeError(f"no wineserver for {prefix}")


class Bench(WineBench):
    def __init__(self, config: Config) -> None:
        super().__init__(config, "bench-docking")
        self.follow_lag = config.probe.parent / "follow_lag.exe"
        if not self.follow_lag.exists():
            raise RuntimeError(f"{self.follow_lag} has not been built")

    def dock(self, port: int) -> None:
        drag_strip_to(self.probe, self.display.name, port, *DROP)
        rect = self.probe.strip()["rect"]
        if rect != strip_rect(DOCKED):
            raise RuntimeError(f"the drag did not dock the strip below the playlist: {rect}")

    def lags(self, moves: int, pause_ms: int) -> tuple[list[float], int]:
        timeout = moves * (pause_ms / 1000 + 2.5) + STEP_TIMEOUT
        done = subprocess.run([self.config.loader, str(self.follow_lag), str(moves), str(pause_ms)],
                              env=self.wine.env, stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
        lines = [line for line in done.stdout.decode().splitlines() if line.startswith("{")]
        if done.returncode != 0 or not lines:
            raise RuntimeError(f"follow_lag failed ({done.returncode}): {done.stdout!r} {done.stderr[-500:]!r}")
        answer = json.loads(lines[-1])
        return sorted(answer["lags_ms"]), answer["missed"]

    def idle_cpu(self, process: subprocess.Popen, seconds: float) -> tuple[float, float]:
        """Seconds of CPU of the product and of the Wine server over `seconds` of wall time."""
        time.sleep(QUIET_BEFORE_IDLE)
        server = wineserver_pid(self.config.prefix)
        product0, server0 = cpu_seconds(process.pid), cpu_seconds(server)
        time.sleep(seconds)
        return cpu_seconds(process.pid) - product0, cpu_seconds(server) - server0


def print_lags(name: str, lags: list[float], missed: int, moves: int) -> None:
    if not lags:
        print(f"  {name:36} no move followed ({missed} of {moves} missed)")
        return
    print(f"  {name:36} median {statistics.median(lags):6.1f} ms  p90 {percentile(lags, 0.9):6.1f} ms  "
          f"worst {lags[-1]:6.1f} ms  (missed {missed} of {moves})")


def print_cpu(name: str, product: float, server: float, seconds: float) -> None:
    print(f"  {name:36} strip {product * 1000:6.0f} ms = {product * 100 / seconds:5.2f} %  "
          f"wineserver {server * 1000:6.0f} ms = {server * 100 / seconds:5.2f} %  (of one core)")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--moves", type=int, default=100, help="moves in each lag series")
    parser.add_argument("--still-pause-ms", type=int, default=1500,
                        help="pause before each move of the first series (longer than the library's 1 s linger)")
    parser.add_argument("--idle-seconds", type=float, default=30.0, help="length of each idle measurement")
    parser.add_argument("--only-without-winamp", action="store_true",
                        help="only the idle measurement with no Winamp running")
    args = parser.parse_args()

    config = config_for_bench()
    if config is None:
        return 77
    bench = Bench(config)
    if args.only_without_winamp:
        try:
            print(f"Wine {config.loader} ({config.bits}-bit build), {config.exe}")
            process, _ = bench.start_product(with_winamp=False)
            product, server = bench.idle_cpu(process, args.idle_seconds)
            print_cpu("no Winamp, hook not attached", product, server, args.idle_seconds)
            stop_process(process)
        finally:
            bench.close()
        return 0
    try:
        standin = bench.start_standin()
        process, port = bench.start_product(with_winamp=True)
        bench.dock(port)
        print(f"Wine {config.loader} ({config.bits}-bit build), strip docked below the stand-in's playlist")
        print(f"lag of the strip behind the main window, {args.moves} moves of 3 px each")
        lags, missed = bench.lags(args.moves, args.still_pause_ms)
        print_lags(f"after {args.still_pause_ms} ms still", lags, missed, args.moves)
        lags, missed = bench.lags(args.moves, FOLLOWING_PAUSE_MS)
        print_lags(f"{FOLLOWING_PAUSE_MS} ms apart (following)", lags, missed, args.moves)

        print(f"idle, {args.idle_seconds:.0f} s each, {QUIET_BEFORE_IDLE:.0f} s after the last activity")
        product, server = bench.idle_cpu(process, args.idle_seconds)
        print_cpu("docked, hook attached", product, server, args.idle_seconds)
        stop_process(process)
        stop_process(standin)

        process, _ = bench.start_product(with_winamp=False)
        bare_product, bare_server = bench.idle_cpu(process, args.idle_seconds)
        print_cpu("no Winamp, hook not attached", bare_product, bare_server, args.idle_seconds)
        print_cpu("difference: the watcher", product - bare_product, server - bare_server, args.idle_seconds)
        stop_process(process)
    finally:
        bench.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
