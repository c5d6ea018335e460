"""A long run of page events against the real product under Wine and Xvfb, with the figures of
tests/wine/long_run_scenarios.py printed: round trips over a long row of events and while a crowd
of idle connections is held, the process's threads and resident memory before, at the peak and
after, how the crowd fared, and whether settings.xml changed.

  python3 bench/wine_long_run.py [--events N] [--idle N] [--rounds N]

Each round runs the whole sequence once more against the same process, so memory that grows
round after round shows as a trend rather than as one figure. Paths as for the Wine scenarios
(tests/wine/wine_fixture.py). Standard library only.
"""

from __future__ import annotations

import argparse
import sys
from pathlib import Path

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "wine"))

from long_run import report, run_long  # noqa: E402
from wine_fixture import WineBench, config_for_bench, stop_process  # noqa: E402


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--events", type=int, default=10_000, help="events in a row")
    parser.add_argument("--idle", type=int, default=200, help="idle connections held open")
    parser.add_argument("--rounds", type=int, default=3, help="times the whole run is repeated")
    args = parser.parse_args()

    config = config_for_bench()
    if config is None:
        return 77
    bench = WineBench(config, "bench-long-run")
    try:
        standin = bench.start_standin()
        process, port = bench.start_product()
        settings = bench.install_folder / "settings.xml"
        print(f"Wine {config.loader} ({config.bits}-bit build)")
        for round_number in range(1, args.rounds + 1):
            figures = run_long(process.pid, port, settings, lambda: len(bench.page.page_gets()),
                               events=args.events, idle=args.idle)
            print(f"-- round {round_number}\n{report(figures)}", flush=True)
        stop_process(process)
        stop_process(standin)
    finally:
        bench.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
