"""The real product under a long run of page events: ten thousand in a row, then more while two
hundred idle connections are held open. Nothing may be lost or left behind: every event answered,
every reload done, the serving threads gone again, no memory kept, settings.xml as it was, and the
strip still there.

Run:  python3 tests/wine/long_run_scenarios.py LongRun
The figures of the same run are what bench/wine_long_run.py prints.
"""

from __future__ import annotations

import sys
from pathlib import Path

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parent))

from event_client import send_event  # noqa: E402
from long_run import LOOPBACK, report, run_long  # noqa: E402
from scenarios import PageEventScenario  # noqa: E402
from wine_fixture import run_scenarios  # noqa: E402

EVENTS = 10_000
IDLE_CONNECTIONS = 200
# A leak of even 400 bytes an event would pass this after ten thousand events; what the run has
# shown so far is a change of a fraction of a MiB either way (page reloads, heap growth).
LEAK_SLACK_KIB = 4 * 1024


class LongRun(PageEventScenario):
    def test_ten_thousand_events_then_more_beside_two_hundred_idle_connections(self):
        page, port = self.start_shown()
        settings = self.install_folder / "settings.xml"
        f = run_long(self.product_process.pid, port, settings, lambda: len(page.page_gets()),
                     events=EVENTS, idle=IDLE_CONNECTIONS)
        print(f"\n{report(f)}")

        self.assertEqual((f.events.sent, f.events.wrong), (EVENTS, []))
        self.assertGreater(f.events_while_idle.sent, 0)
        self.assertEqual(f.events_while_idle.wrong, [])
        self.assertEqual(f.page_loads, f.refreshes_sent, "every refresh event reloads the page once")

        # The crowd was held, all of it, while the events went through, and cost no threads.
        self.assertEqual(f.idle_refused, 0)
        self.assertGreater(f.idle_states_during["open"], 0, f.idle_states_during)
        self.assertEqual(f.idle_states_during["open"], sum(f.idle_states_during.values()), f.idle_states_during)
        self.assertLessEqual(f.peak_threads_idle, f.peak_threads_events + 1)
        # Its read time-out passed, the listener closed each one in order (no reset, no answer).
        self.assertEqual(f.idle_states_after["closed"], IDLE_CONNECTIONS, f.idle_states_after)

        self.assertLessEqual(f.settled.threads, f.baseline.threads, "threads left behind")
        self.assertLess(f.settled.rss_kib - f.baseline.rss_kib, LEAK_SLACK_KIB, "memory kept")
        self.assertEqual(f.settings_after, f.settings_before)

        self.assert_product_running()
        self.assertEqual(self.dialogs(), [])
        self.assert_strip_shown(self.probe.strip())
        self.assert_404(send_event(LOOPBACK, port, "none"))


if __name__ == "__main__":
    sys.exit(run_scenarios())
