"""Scenarios of the settings dialog: the real LatestSongViewer.exe under Wine and Xvfb, the dialog
opened from the strip's context menu as the page would open it, and driven with the X pointer and
keyboard (xdotool) and the probe.

Run:   python3 tests/wine/dialog_scenarios.py [SettingsDialog]
Set LSV_DIALOG_SCREENSHOT=path to save a picture of the open dialog's client area there, taken
while the memo shows a hint.
(CTest runs the class with the paths of the build in the environment; see wine_fixture.py.)
"""

from __future__ import annotations

import dataclasses
import os
import subprocess
import sys
import time
import xml.etree.ElementTree as ET
from pathlib import Path

# Keep the source tree free of __pycache__ folders.
sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parent))

from event_client import PendingEvent  # noqa: E402 (the path above comes first)
from wine_fixture import (  # noqa: E402
    START_TIMEOUT,
    STEP_TIMEOUT,
    Probe,
    Wine,
    WineScenario,
    free_tcp_port,
    settings_xml,
    run_scenarios,
    wait_for,
    xdotool,
)

LOOPBACK = "127.0.0.1"
CONTEXT_MENU = "設定|更新|-|閉じる"
DIALOG_TITLE = "設定"
DIALOG_CLIENT = (417, 263)
# How long a key or pointer move that should have no effect is given to show one anyway; a hint or
# a hide that does happen shows well within it.
NO_EFFECT_WAIT = 1.5

# Each setting: its key, the label beside its field, the field's bounds in the client area at
# 96 dpi (left, top, width, height), and the hint the memo shows while the pointer rests on it.
FIELDS = [
    ("datahost", "サーバー", (112, 8, 297, 20), "データの置いてあるURIをhttp://から入力してください。"),
    ("disphtml", "表示用HTML", (112, 32, 297, 20), "表示用のHTMLファイルへのURIを絶対パスで指定してください。"),
    ("lsxml", "RavidiVevo用XML", (112, 56, 297, 20), "最新曲XMLデータファイル名を入力してください。"),
    ("lsxsl", "RavidiVevo用XSL", (112, 80, 297, 20),
     "最新曲XMLデータファイル用のXSLファイル名を相対パスか絶対パスで指定してください。"),
    ("lscss", "RavidiVevo用CSS", (112, 104, 297, 20),
     "最新曲XMLデータファイル用のCSSファイル名を相対パスか絶対パスで指定してください。"),
    ("port", "ポート番号", (112, 128, 97, 20), "イベント通知に使用されるローカルサーバーのポート番号を指定してください。"),
    ("refresh_interval", "リフレッシュ間隔", (320, 128, 89, 20), "表示のリフレッシュ間隔を秒数で指定してください。"),
    ("scrollspeed", "スクロールスピード", (112, 152, 97, 20), "曲名のスクロールスピードをミリ秒で入力してください。"),
]
HINTS = {key: hint for key, _, _, hint in FIELDS}
# Every control that keeps the bounds it was given, by name (see SettingsDialog.controls).
LAYOUT = {
    **{key: bounds for key, _, bounds, _ in FIELDS},
    "memo": (8, 176, 401, 49),
    "OK": (120, 232, 75, 25),
    "キャンセル": (232, 232, 75, 25),
}
# Where Tab takes the focus, from the first control on.
TAB_ORDER = ["OK", "キャンセル", "datahost", "disphtml", "port", "scrollspeed", "refresh_interval", "lsxsl", "lscss",
             "lsxml", "memo"]

WM_SYSCOMMAND = 0x0112
SC_CLOSE = 0xF060


def settings_with_extras(page_url: str, port: int) -> str:
    """A settings file with Japanese and non-BMP values, comments and an element the product does
    not know, all of which a save must keep."""
    return (
        '<?xml version="1.0" encoding="UTF-8"?>\n'
        "<!-- before the root -->\n"
        "<settings>\n"
        "  <!-- inside the root -->\n"
        "  <datahost>http://127.0.0.1/データ/</datahost>\n"
        f"  <disphtml>{page_url}</disphtml>\n"
        "  <lsxml>最新曲𠮷.xml</lsxml>\n"
        "  <lsxsl>latestsong.xsl</lsxsl>\n"
        "  <lscss>latestsong.css</lscss>\n"
        f"  <port>{port}</port>\n"
        "  <refresh_interval>0</refresh_interval>\n"
        "  <scrollspeed>100</scrollspeed>\n"
        '  <extra note="kept">not a setting</extra>\n'
        "</settings>\n"
    )


def read_settings(path: Path) -> tuple[dict[str, str], list[str], ET.Element]:
    """The eight values, every comment, and the root of the file as it is on disk."""
    parser = ET.XMLParser(target=ET.TreeBuilder(insert_comments=True))
    root = ET.fromstring(path.read_bytes(), parser=parser)
    values = {child.tag: child.text or "" for child in root if isinstance(child.tag, str)}
    comments = [c.text.strip() for c in root.iter() if c.tag is ET.Comment]
    return {key: values.get(key) for key, _, _, _ in FIELDS}, comments, root


class SettingsDialog(WineScenario):
    # The screen's DPI in the prefix the scenario runs in (see use_prefix_at_dpi).
    dpi = 96

    # -- the dialog and its controls --

    def xdo(self, *args: str) -> str:
        return xdotool(self.display.name, *args)

    def setting_dialog(self) -> dict | None:
        """The product's visible top-level window captioned as the dialog, or None."""
        found = [w for w in self.probe("windows", "--all")["windows"]
                 if w["title"] == DIALOG_TITLE and w["pid"] == self.strip_pid]
        self.assertLessEqual(len(found), 1, found)
        return found[0] if found else None

    def scaled(self, length: int) -> int:
        # As MulDiv rounds: to the nearest, halves away from zero.
        return (2 * length * self.dpi + 96) // 192

    def controls(self) -> dict:
        """The dialog's client rect and controls, each also under its name: a key of FIELDS or
        "memo" for edit fields, found by where they are, the caption for labels and buttons. Each
        control's "bounds" are its own in the client area."""
        answer = self.probe.act("controls", str(self.dialog["hwnd"]))
        left, top = answer["client"][:2]
        named = {}
        for control in answer["controls"]:
            x1, y1, x2, y2 = control["rect"]
            control["bounds"] = (x1 - left, y1 - top, x2 - x1, y2 - y1)
            if control["class"].lower() == "edit":
                at = control["bounds"][:2]
                name = next((n for n, b in LAYOUT.items() if (self.scaled(b[0]), self.scaled(b[1])) == at), None)
                self.assertIsNotNone(name, f"an edit field at {at}, where the layout has none")
            else:
                name = control["text"]
            named[name] = control
        answer["named"] = named
        return answer

    def assert_layout(self, answer: dict) -> None:
        """The client area and every control have their 96-dpi size scaled to the dialog's DPI;
        each edge is scaled on its own."""
        left, top, right, bottom = answer["client"]
        self.assertEqual((right - left, bottom - top), tuple(map(self.scaled, DIALOG_CLIENT)), "client area")
        for name, (x, y, width, height) in LAYOUT.items():
            with self.subTest(control=name):
                self.assertIn(name, answer["named"])
                expected = (self.scaled(x), self.scaled(y), self.scaled(x + width) - self.scaled(x),
                            self.scaled(y + height) - self.scaled(y))
                self.assertEqual(answer["named"][name]["bounds"], expected)
        for _, label, _, _ in FIELDS:
            self.assertIn(label, answer["named"], "a label")

    def use_prefix_at_dpi(self, dpi: int) -> None:
        """Runs this scenario's Wine processes in a prefix of their own whose screen has the given
        DPI, so the shared prefix stays at 96."""
        config = dataclasses.replace(self.config, prefix=Path(f"{self.config.prefix}-{dpi}dpi"))
        wine = Wine(config, self.display)
        wine.ensure_prefix()
        wine.kill_server()
        # The screen's DPI as the user's and as the machine's setting, both saying the same.
        for key in (r"HKCU\Control Panel\Desktop",
                    r"HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts"):
            subprocess.run([config.loader, "reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi),
                            "/f"], env=wine.env, capture_output=True, check=True, timeout=START_TIMEOUT)
        # The server writes the registry out and ends, so the next process starts with the new value.
        subprocess.run([config.wineserver, "-w"], env=wine.env, capture_output=True, timeout=START_TIMEOUT)
        # After the scenario's own clean-up, which still asks this prefix's probe for evidence.
        self.addClassCleanup(wine.kill_server)
        self.wine, self.probe, self.dpi = wine, Probe(wine), dpi

    def centre(self, control: dict) -> tuple[int, int]:
        left, top, right, bottom = control["rect"]
        return (left + right) // 2, (top + bottom) // 2

    def open_dialog(self, settings=settings_with_extras, strip_at: tuple[int, int] | None = (500, 400)) -> dict:
        """Starts the product with the stand-in Winamp and opens the dialog from the context menu,
        as the page does. The strip is first moved to strip_at (None: left where it starts), by
        default into the middle of the screen, so the dialog opens centred over it."""
        self.start_standin()
        self.page = self.serve_page()
        self.port = free_tcp_port()
        self.start_product(settings(self.page.url, self.port))
        strip = self.wait_for_visible_strip()
        self.strip_pid = strip["pid"]
        if strip_at is not None:
            self.probe.act("move", "strip", *map(str, strip_at))
        # The pointer may still rest where an earlier scenario left it, on the dialog's place.
        self.xdo("mousemove", "5", "1000")
        wait_for("the first GET of the page", self.page.page_gets, bool, timeout=START_TIMEOUT)
        self.open_again()
        return self.dialog

    def open_again(self) -> dict:
        pending = PendingEvent(LOOPBACK, self.port, "openmenu", 10, 5)
        wait_for("the context menu", lambda: self.probe("menu"), lambda m: m["found"])
        self.probe.act("menu-choose", DIALOG_TITLE, "--items", CONTEXT_MENU)
        self.assertIsNone(pending.answer(STEP_TIMEOUT).error)
        self.dialog = wait_for("the settings dialog", self.setting_dialog, bool)
        return self.dialog

    def wait_until_hidden(self) -> None:
        wait_for("the dialog to hide", self.setting_dialog, lambda d: d is None)

    def assert_stays_open(self, why: str) -> None:
        time.sleep(NO_EFFECT_WAIT)
        self.assertIsNotNone(self.setting_dialog(), why)

    def focus_dialog_for_keys(self) -> None:
        # With no window manager on the display, X gives the keyboard to no window by itself.
        window = self.xdo("search", "--name", DIALOG_TITLE).split()[0]
        self.xdo("windowfocus", "--sync", window)

    def focused(self) -> str | None:
        answer = self.controls()
        names = [name for name, c in answer["named"].items() if c["focused"]]
        return names[0] if names else None

    def memo_text(self) -> str:
        return self.controls()["named"]["memo"]["text"]

    # -- scenarios --

    def test_shows_the_files_values_and_ok_saves_an_edit_keeping_the_rest(self):
        self.open_dialog()
        settings_file = self.install_folder / "settings.xml"
        before, comments_before, _ = read_settings(settings_file)
        strip = self.probe.strip()
        self.assertFalse(strip["enabled"], "the strip takes no input while the dialog is open")
        self.assertTrue(strip["visible"], strip)

        answer = self.controls()
        named = answer["named"]
        self.assert_layout(answer)
        for key, _, _, _ in FIELDS:
            with self.subTest(field=key):
                self.assertEqual(named[key]["text"], before[key])
        self.assertEqual(named["memo"]["text"], "", "the memo before any hint")

        new_port = str(free_tcp_port())
        self.probe.act("settext", str(named["port"]["hwnd"]), new_port)
        gets = len(self.page.page_gets())
        self.xdo("mousemove", *map(str, self.centre(named["OK"])), "click", "1")
        self.wait_until_hidden()

        after, comments_after, root = read_settings(settings_file)
        self.assertEqual(after, {**before, "port": new_port})
        self.assertEqual(comments_after, comments_before)
        extra = root.find("extra")
        self.assertIsNotNone(extra, "the element the product does not know")
        self.assertEqual((extra.get("note"), extra.text), ("kept", "not a setting"))
        self.assertTrue(self.probe.strip()["enabled"], "the strip takes input again")
        # OK reloads the page (the refresh interval is 0, so nothing else does).
        wait_for("the reload after OK", self.page.page_gets, lambda g: len(g) == gets + 1)
        self.assert_product_running()

    def test_each_way_of_closing_enables_the_strip_and_only_ok_saves(self):
        # (how the dialog is closed, whether the edit reaches the file)
        rows = [("キャンセル", False), ("close box", False), ("OK", True)]
        self.open_dialog()
        settings_file = self.install_folder / "settings.xml"
        original = settings_file.read_bytes()
        for way, saves in rows:
            with self.subTest(way=way):
                if self.setting_dialog() is None:
                    self.open_again()
                named = self.controls()["named"]
                self.assertEqual(named["scrollspeed"]["text"], "100", "the field shows the file, not an old edit")
                self.probe.act("settext", str(named["scrollspeed"]["hwnd"]), "250")
                if way == "close box":
                    self.probe.act("post", str(self.dialog["hwnd"]), str(WM_SYSCOMMAND), str(SC_CLOSE), "0")
                else:
                    self.xdo("mousemove", *map(str, self.centre(named[way])), "click", "1")
                self.wait_until_hidden()
                self.assertTrue(self.probe.strip()["enabled"], "the strip takes input again")
                if saves:
                    self.assertEqual(read_settings(settings_file)[0]["scrollspeed"], "250")
                else:
                    self.assertEqual(settings_file.read_bytes(), original)
        self.assert_product_running()

    def test_resting_on_a_field_puts_its_hint_in_the_memo_and_nothing_else_does(self):
        # Plain values, which the picture below shows as a user would see them.
        self.open_dialog(lambda url, port: settings_xml(url, refresh_interval="0", port=port))
        self.xdo("mousemove", "5", "1000")
        named = self.controls()["named"]
        for key, _, _, hint in FIELDS:
            with self.subTest(field=key):
                self.xdo("mousemove", *map(str, self.centre(named[key])))
                wait_for(f"the hint of {key}", self.memo_text, lambda text: text == hint)
        # Neither a label nor a button has a hint: resting on one leaves the memo as it is.
        last = FIELDS[-1][3]
        for other in ("ポート番号", "リフレッシュ間隔", "OK", "キャンセル"):
            with self.subTest(rest_on=other):
                self.xdo("mousemove", *map(str, self.centre(named[other])))
                time.sleep(NO_EFFECT_WAIT)
                self.assertEqual(self.memo_text(), last)
        # Coming back onto a field shows its hint again, and the product's handler never lets
        # the hint pop-up show.
        self.xdo("mousemove", *map(str, self.centre(named["port"])))
        wait_for("the hint of port again", self.memo_text, lambda text: text == HINTS["port"])
        time.sleep(NO_EFFECT_WAIT)
        popups = [w for w in self.probe("windows", "--all")["windows"]
                  if w["pid"] == self.strip_pid and w["class"].lower() == "tooltips_class32"]
        self.assertEqual(popups, [], "a hint pop-up")
        self.assert_product_running()
        shot = os.environ.get("LSV_DIALOG_SCREENSHOT")
        if shot:
            self.save_client_picture(Path(shot), self.controls()["client"])

    def test_tab_follows_the_tab_order_and_enter_and_escape_mean_nothing(self):
        self.open_dialog()
        settings_file = self.install_folder / "settings.xml"
        original = settings_file.read_bytes()
        self.focus_dialog_for_keys()
        self.assertEqual(self.focused(), TAB_ORDER[0], "the focus when the dialog opens")
        for expected in TAB_ORDER[1:] + TAB_ORDER[:1]:
            self.xdo("key", "Tab")
            wait_for(f"the focus on {expected}", self.focused, lambda name: name == expected)
        self.xdo("key", "shift+Tab")
        wait_for("the focus back on the memo", self.focused, lambda name: name == TAB_ORDER[-1])

        # (key, control that has the focus when it is pressed): the dialog has no default or cancel
        # button, and the memo closes no dialog on Escape.
        rows = [("Escape", "memo"), ("Escape", "port"), ("Return", "port"), ("Return", "OK"),
                ("Escape", "キャンセル")]
        for key, where in rows:
            with self.subTest(key=key, focus=where):
                for _ in TAB_ORDER:
                    if self.focused() == where:
                        break
                    self.xdo("key", "Tab")
                self.assertEqual(self.focused(), where)
                self.xdo("key", key)
                self.assert_stays_open(f"{key} on {where} closed the dialog")
                self.assertFalse(self.probe.strip()["enabled"])
        self.assertEqual(settings_file.read_bytes(), original, "a key saved the settings")
        self.assert_product_running()

    def test_at_144_dpi_the_dialog_is_laid_out_larger_and_still_works(self):
        self.use_prefix_at_dpi(144)
        self.open_dialog(lambda url, port: settings_xml(url, refresh_interval="0", port=port))
        answer = self.controls()
        self.assert_layout(answer)
        self.xdo("mousemove", *map(str, self.centre(answer["named"]["port"])))
        wait_for("the hint of port", self.memo_text, lambda text: text == HINTS["port"])
        self.probe.act("settext", str(answer["named"]["refresh_interval"]["hwnd"]), "15")
        self.xdo("mousemove", *map(str, self.centre(answer["named"]["OK"])), "click", "1")
        self.wait_until_hidden()
        self.assertEqual(read_settings(self.install_folder / "settings.xml")[0]["refresh_interval"], "15")
        self.assert_product_running()

    def test_over_the_strip_in_its_corner_the_dialog_opens_whole_on_the_screen(self):
        self.open_dialog(strip_at=None)
        self.assertEqual(self.probe.strip()["rect"][:2], [0, 0], "the strip starts in the top-left corner")
        left, top, right, bottom = self.dialog["rect"]
        self.assertEqual([left, top], [0, 0], self.dialog)
        self.assertLessEqual(right, 1280)
        self.assertLessEqual(bottom, 1024)

    # -- pictures --

    def save_client_picture(self, path: Path, client: list[int]) -> None:
        left, top, right, bottom = client
        whole = self.config.artifacts / "settings-dialog-screen.png"
        self.assertTrue(self.display.screenshot(whole), "screenshot of the display")
        path.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run(["convert", str(whole), "-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage",
                        str(path)], check=True, timeout=STEP_TIMEOUT)
        print(f"\ndialog picture: {path}")


if __name__ == "__main__":
    sys.exit(run_scenarios())
