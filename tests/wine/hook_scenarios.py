"""hook.dll on its own under Wine and Xvfb: the stand-in Winamp does things, and a receiver window
(hook_receiver.exe, playing the strip) writes down which messages the library posts to it. Also
loading, unloading and ending a process with the library attached.

Run:   python3 tests/wine/hook_scenarios.py [HookLibrary]
(CTest runs the class with the paths of the build in the environment; see wine_fixture.py.)
"""

from __future__ import annotations

import shutil
import subprocess
import sys
import time
import unittest
from pathlib import Path

# Keep the source tree free of __pycache__ folders.
sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parent))

from wine_fixture import START_TIMEOUT, STEP_TIMEOUT, Config, WineScenario, run_scenarios, wait_for  # noqa: E402

# The strip's messages (src/app/messages.h).
WM_CHASE_START, WM_CHASE_STOP, WM_UNDOCK = 1026, 1027, 1029
WM_HOOK_DETACH, WM_REFIT_BOTTOM, WM_RESTACK = 1030, 1032, 1033
WM_SYSCOMMAND, SC_MINIMIZE, SC_RESTORE = 0x0112, 0xF020, 0xF120
# The receiver's commands (see hook_receiver.cpp).
WM_APP = 0x8000
DETACH, ATTACH, REPORT_ATTACHED, ATTACH_INVALID = WM_APP + 1, WM_APP + 2, WM_APP + 3, WM_APP + 4
EXIT_ATTACHED_CODE = 7
# How long a step's messages are collected: many times the library's settle time (100 ms) and
# slowest poll (40 ms), so that a stop that belongs to the step is in, and nothing of the next one.
QUIET = 0.8


def receiver_path(config: Config) -> Path:
    return config.probe.parent / "hook_receiver.exe"


class HookLibrary(WineScenario):
    needs_product = False

    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()
        for path in (cls.config.hook_dll, receiver_path(cls.config)):
            if not path.exists():
                raise unittest.SkipTest(f"{path} has not been built")

    # -- the receiver --

    def start_receiver(self, *mode: str) -> subprocess.Popen:
        folder = self.config.workdir / f"{self._name()}.receiver"
        if folder.exists():
            shutil.rmtree(folder)
        folder.mkdir(parents=True)
        shutil.copy2(receiver_path(self.config), folder / "hook_receiver.exe")
        shutil.copy2(self.config.hook_dll, folder / "hook.dll")
        self.log_path = folder / "receiver.log"
        process = self.wine.start(folder / "hook_receiver.exe", ["receiver.log", *mode], cwd=folder)
        self._processes.append(process)
        wait_for("the receiver's window", lambda: self.entries("hwnd"), bool, timeout=START_TIMEOUT)
        self.receiver = self.entries("hwnd")[0]
        return process

    def log(self) -> list[tuple[str, int]]:
        if not self.log_path.exists():
            return []
        lines = self.log_path.read_text().splitlines()
        # A line being written may be incomplete; it is read again next time.
        return [(what, int(value)) for _, what, value in (line.split() for line in lines if line.count(" ") == 2)]

    def entries(self, what: str) -> list[int]:
        return [value for kind, value in self.log() if kind == what]

    def command(self, message: int) -> None:
        self.probe.act("post", str(self.receiver), str(message), "0", "0")

    def posted_during(self, action) -> list[int]:
        """The messages that reached the receiver from the action until the library fell quiet."""
        seen = len(self.log())
        action()
        time.sleep(QUIET)
        return [value for kind, value in self.log()[seen:] if kind == "msg"]

    def standin(self, *command: object):
        return lambda: self.probe.act("standin", *map(str, command))

    def main_window(self) -> int:
        return next(w["hwnd"] for w in self.probe("windows")["windows"] if w["class"] == "Winamp v1.x")

    def main_is_foreground(self) -> bool:
        return self.probe("windows")["foreground"] == self.main_window()

    def syscommand(self, command: int):
        return lambda: self.probe.act("post", str(self.main_window()), str(WM_SYSCOMMAND), str(command), "0")

    # -- scenarios --

    def test_what_winamp_does_posts_which_message(self):
        self.start_standin()
        self.start_receiver()
        # The receiver names its window before it attaches, so the attach may not be written yet.
        self.assertEqual(wait_for("the attach", lambda: self.entries("attach"), bool), [1])
        steps = [
            ("main moved", self.standin("move", "main", 200, 150), [WM_CHASE_START, WM_CHASE_STOP]),
            ("playlist resized", self.standin("size", "playlist", 275, 300), [WM_REFIT_BOTTOM]),
            ("main resized in place", self.standin("size", "main", 300, 116), [WM_REFIT_BOTTOM]),
            ("playlist moved alone", self.standin("move", "playlist", 0, 400), []),
            ("equalizer hidden", self.standin("hide", "equalizer"), []),
            ("another Winamp window to the front", self.standin("front", "playlist"), []),
            ("main to the front", self.standin("front", "main"), [WM_RESTACK]),
            ("main to the front again", self.standin("front", "main"), []),
            ("main hidden", self.standin("hide", "main"), [WM_UNDOCK]),
            # Shown without activation, but a window manager may give it the focus anyway (openbox
            # does): then it has come to the front.
            ("main shown", self.standin("show", "main"), lambda: [WM_RESTACK] if self.main_is_foreground() else []),
            ("main minimised", self.syscommand(SC_MINIMIZE), [WM_UNDOCK]),
            # Restoring activates the window, and it comes back where it was: no move, no resize.
            ("main restored", self.syscommand(SC_RESTORE), [WM_RESTACK]),
            ("main moved after restoring", self.standin("move", "main", 100, 100), [WM_CHASE_START, WM_CHASE_STOP]),
            ("main destroyed", self.standin("destroy", "main"), [WM_UNDOCK, WM_HOOK_DETACH]),
        ]
        for name, action, expected in steps:
            with self.subTest(step=name):
                posted = self.posted_during(action)
                self.assertEqual(posted, expected() if callable(expected) else expected)

    def test_nothing_is_posted_after_detach_until_attached_again(self):
        self.start_standin()
        self.start_receiver()
        self.assertEqual(self.posted_during(self.standin("move", "main", 150, 100)), [WM_CHASE_START, WM_CHASE_STOP])

        self.command(DETACH)
        wait_for("the detach", lambda: self.entries("detach-marker"), bool)
        self.assertEqual(self.entries("attached"), [0])
        for step in [("move", "main", 200, 100), ("size", "playlist", 275, 200), ("front", "equalizer"),
                     ("front", "main"), ("hide", "main"), ("show", "main"), ("destroy", "main"), ("create", "main")]:
            self.standin(*step)()
        time.sleep(QUIET)
        after_marker = [kind for kind, _ in self.log()]
        after_marker = after_marker[after_marker.index("detach-marker") + 1:]
        self.assertNotIn("msg", after_marker, "a message posted after DetachHook returned")

        # Attaching again starts from what Winamp looks like then: the new main window is no news.
        self.command(ATTACH)
        wait_for("the new attach", lambda: self.entries("attach"), lambda results: results == [1, 1])
        self.assertEqual(self.posted_during(lambda: None), [])
        self.assertEqual(self.posted_during(self.standin("move", "main", 120, 100)), [WM_CHASE_START, WM_CHASE_STOP])

        # Invalid targets are refused and leave the attachment as it was.
        self.command(ATTACH_INVALID)
        wait_for("the refused attaches", lambda: self.entries("attach-stale"), bool)
        self.assertEqual((self.entries("attach-null"), self.entries("attach-stale")), ([0], [0]))
        self.assertEqual(self.entries("attached")[-1], 1)
        self.assertEqual(self.posted_during(self.standin("size", "playlist", 275, 250)), [WM_REFIT_BOTTOM])

    def test_winamp_quitting_is_reported_once(self):
        self.start_standin()
        self.start_receiver()
        standin = self._processes[0]
        messages = self.posted_during(self.standin("quit"))
        self.assertEqual(standin.wait(STEP_TIMEOUT), 0)
        self.assertEqual(messages, [WM_UNDOCK, WM_HOOK_DETACH])
        # Still attached (the receiver does not detach): with Winamp gone there is nothing to say.
        self.assertEqual(self.posted_during(lambda: None), [])

    def test_the_library_unloads_and_the_process_ends_cleanly(self):
        self.start_standin()
        process = self.start_receiver("--unload")
        self.assertEqual(process.wait(STEP_TIMEOUT * 3), 0)
        results = dict(self.log())
        self.assertGreaterEqual(results["unloaded-after-detach"], 0, results)
        self.assertEqual(results["loaded-while-attached"], 1, results)
        self.assertGreaterEqual(results["unloaded-after-late-detach"], 0, results)
        self.assertGreaterEqual(results["cycles-unloaded"], 0, results)

        # Ending the process with the watcher running: no crash, the exit code it asked for.
        process = self.start_receiver("--exit-attached")
        self.assertEqual(process.wait(STEP_TIMEOUT), EXIT_ATTACHED_CODE)
        self.assertEqual(self.entries("attach"), [1])
        self.assertEqual(self.dialogs(), [])


if __name__ == "__main__":
    sys.exit(run_scenarios(needs_product=False))
