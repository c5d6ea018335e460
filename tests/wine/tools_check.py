"""Checks of the test tools themselves - the stand-in Winamp and the probe - without the product,
so that a scenario failure can be trusted to be the product's.

Run: python3 tests/wine/tools_check.py   (CTest: wine.tools)
"""

from __future__ import annotations

import sys
from pathlib import Path

# Keep the source tree free of __pycache__ folders.
sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parent))

from wine_fixture import WineScenario, run_scenarios, wait_for  # noqa: E402

DEFAULT_LAYOUT = {
    "Winamp v1.x": ([100, 100, 375, 216], True),
    "Winamp PE": ([100, 332, 375, 564], True),
    "Winamp EQ": ([100, 216, 375, 332], True),
    "Winamp Video": ([400, 100, 675, 332], False),
    "Winamp MB": ([400, 332, 675, 564], False),
}

IDOK = 1


class StandinAndProbe(WineScenario):
    needs_product = False

    def winamp_windows(self) -> dict[str, dict]:
        return {w["class"]: w for w in self.probe("windows")["windows"] if w["class"].startswith("Winamp")}

    def test_default_layout(self):
        self.start_standin()
        seen = {cls: (w["rect"], w["visible"]) for cls, w in self.winamp_windows().items()}
        self.assertEqual(seen, DEFAULT_LAYOUT)

    def test_command_line_options(self):
        self.start_standin(
            "--without", "Winamp Video", "--hidden", "equalizer", "--shown", "minibrowser",
            "--rect", "Winamp PE", "10,20,300,400",
        )
        seen = {cls: (w["rect"], w["visible"]) for cls, w in self.winamp_windows().items()}
        self.assertEqual(
            seen,
            {
                "Winamp v1.x": ([100, 100, 375, 216], True),
                "Winamp PE": ([10, 20, 300, 400], True),
                "Winamp EQ": ([100, 216, 375, 332], False),
                "Winamp MB": ([400, 332, 675, 564], True),
            },
        )

    def test_run_time_commands(self):
        self.start_standin()
        # (command, window class, expected rect, expected visibility) after the command
        steps = [
            ("move main 200 150", "Winamp v1.x", [200, 150, 475, 266], True),
            ("size main 300 120", "Winamp v1.x", [200, 150, 500, 270], True),
            ("rect Winamp PE 0 0 275 100", "Winamp PE", [0, 0, 275, 100], True),
            ("hide equalizer", "Winamp EQ", [100, 216, 375, 332], False),
            ("show video", "Winamp Video", [400, 100, 675, 332], True),
        ]
        for command, cls, rect, visible in steps:
            with self.subTest(command=command):
                self.probe.act("standin", *command.split())
                window = self.winamp_windows()[cls]
                self.assertEqual((window["rect"], window["visible"]), (rect, visible))

        self.probe.act("standin", "front", "equalizer")
        windows = self.winamp_windows()
        self.assertEqual(self.probe("windows")["foreground"], windows["Winamp EQ"]["hwnd"])
        self.assertEqual(min(windows.values(), key=lambda w: w["z"])["class"], "Winamp EQ")

        self.probe.act("standin", "destroy", "playlist")
        self.assertNotIn("Winamp PE", self.winamp_windows())
        self.probe.act("standin", "create", "playlist")
        self.assertEqual(self.winamp_windows()["Winamp PE"]["rect"], [0, 0, 275, 100])

        for bad in (["jump", "main"], ["move", "nosuch", "1", "2"], ["move", "main", "x", "2"], ["size", "main"]):
            with self.subTest(bad=bad):
                code, answer = self.probe.run("standin", *bad)
                self.assertEqual((code, answer["ok"]), (1, False), answer)

    def test_dialogs_are_read_and_pressed(self):
        self.start_standin()
        # (box kind, text, icon expected)
        boxes = [("plain", "window not found: Winamp", False), ("error", "設定を読み出せません。", True)]
        for kind, text, icon in boxes:
            with self.subTest(kind=kind):
                self.probe.act("standin", "msgbox", kind, text)
                dialogs = wait_for("the box", lambda: self.probe.dialogs("--exe", "standin_winamp.exe"), bool)
                self.assertEqual(len(dialogs), 1, dialogs)
                self.assertEqual(
                    (dialogs[0]["text"], dialogs[0]["icon"], dialogs[0]["buttons"]), (text, icon, ["OK"])
                )
                self.assertEqual(self.probe.dialogs("--exe", "other.exe"), [])
                pressed = self.probe.act("press", "OK")
                self.assertTrue(pressed["closed"], pressed)
                self.assertEqual(self.probe.dialogs(), [])
                self.assertEqual(self.probe.act("standin", "last-result")["result"], 1 + IDOK)
        code, answer = self.probe.run("press", "OK")
        self.assertEqual((code, answer["pressed"]), (1, False))

    def test_popup_menu_item_is_chosen_by_caption_or_cancelled(self):
        self.start_standin()
        items = "設定|更新|-|閉じる"
        # (caption or None to cancel, where the menu opens, 1-based position among all items or 0
        # for none chosen)
        for caption, at, position in [("閉じる", (300, 300), 4), ("設定", (8, 3), 1), ("更新", (300, 300), 2),
                                      (None, (40, 250), 0)]:
            with self.subTest(caption=caption):
                self.probe.act("standin", "popup", str(at[0]), str(at[1]), items)
                menu = wait_for("the menu", lambda: self.probe("menu"), lambda m: m["found"])
                # The scenarios find where the product opened its menu from this rectangle.
                self.assertEqual(menu["rect"][:2], list(at), menu)
                if menu["readable"]:
                    self.assertEqual([i["caption"] for i in menu["items"]], items.split("|"))
                if caption is None:
                    closed = self.probe.act("menu-cancel")
                else:
                    closed = self.probe.act("menu-choose", caption, "--items", items)
                self.assertTrue(closed["closed"], closed)
                self.assertFalse(self.probe("menu")["found"])
                self.assertEqual(self.probe.act("standin", "last-result")["result"], 1 + position)
        code, answer = self.probe.run("menu-cancel")
        self.assertEqual((code, answer["cancelled"]), (1, False))

    def test_messages_reach_a_window_by_handle(self):
        self.start_standin()
        main = self.winamp_windows()["Winamp v1.x"]
        wm_gettextlength, wm_null = 0x000E, 0x0000
        sent = self.probe.act("send", str(main["hwnd"]), str(wm_gettextlength), "0", "0")
        self.assertEqual(sent["result"], len(main["title"]))
        self.assertTrue(self.probe.act("post", hex(main["hwnd"]), str(wm_null), "0", "0")["ok"])
        # (x, y) to move the main window's outer top-left corner to; its size stays.
        for x, y in [(300, 200), (-20, 7)]:
            with self.subTest(move=(x, y)):
                moved = self.probe.act("move", str(main["hwnd"]), str(x), str(y))
                self.assertEqual(moved["rect"], [x, y, x + 275, y + 116])
                self.assertEqual(self.winamp_windows()["Winamp v1.x"]["rect"], [x, y, x + 275, y + 116])
        # Without the product there is no strip to address.
        self.assertFalse(self.probe.strip()["found"])
        self.assertEqual(self.probe.run("post", "strip", "0", "0", "0")[0], 1)
        self.assertEqual(self.probe.run("move", "strip", "0", "0")[0], 1)

    def test_quit_ends_the_stand_in_with_exit_code_0(self):
        process = self.start_standin()
        self.probe.act("standin", "quit")
        self.assertEqual(process.wait(20), 0)
        self.assertEqual(self.winamp_windows(), {})


if __name__ == "__main__":
    sys.exit(run_scenarios(needs_product=False))
