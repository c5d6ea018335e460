"""Fixtures for the Wine scenarios: a Wine prefix, a virtual X display with a window manager, a
staged install folder, the page server, the stand-in Winamp and the probe.

Every scenario and benchmark runs where scripts/wine-ns puts it (it enters that on its own when
started by hand): where the shipped 32-bit build runs (32-bit Wine itself, or under qemu-i386 in a
private namespace) and with a loopback of its own.

Paths come from the environment, which CTest fills in (see CMakeLists.txt beside this file):
  LSV_WINE            the Wine loader (/usr/lib/wine/wine for 32-bit builds, .../wine64 for 64-bit)
  LSV_WIN_BITS        32 or 64: the build's pointer size, to choose the loader when LSV_WINE is unset
  LSV_WINEPREFIX      the prefix, created once and reused
  LSV_WINE_WORKDIR    where each scenario stages its own install folder
  LSV_EXE, LSV_HOOK_DLL, LSV_PROBE, LSV_STANDIN   the programs under test and the test tools
  LSV_ZIP             the packaged install folder the install step made
  LSV_ARTIFACTS       where screenshots of failed scenarios go (default /tmp/lsv-wine-artifacts)
Run by hand, the defaults assume the build tree build/win64 or build/win32 of this checkout.

Everything here uses the standard library only.
"""

from __future__ import annotations

import contextlib
import errno
import fcntl
import http.server
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from dataclasses import dataclass, field
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from event_client import Answer  # noqa: E402 (found through the path above)

STRIP_CLIENT_SIZE = [275, 14]
# The box the product opens at start when Winamp is not running.
MISSING_WINAMP = "window not found: Winamp"
# The port the product listens on until its settings move it; it is fixed, so two products cannot
# start at once on one machine and the scenarios run one after another (CTest RESOURCE_LOCK).
FIXED_EVENT_PORT = 22222

# Bounds that only stop a hung scenario. The first Wine process after the server (re)starts can take
# several seconds; none of these is a statement about how fast the product should be.
START_TIMEOUT = 60.0
STEP_TIMEOUT = 20.0
PROBE_TIMEOUT = 30.0

_REPO = Path(__file__).resolve().parents[2]


def _default_bits() -> str:
    bits = os.environ.get("LSV_WIN_BITS")
    if bits:
        return bits
    return "32" if _loader_runs("/usr/lib/wine/wine") else "64"


def _loader_runs(loader: str) -> bool:
    try:
        return subprocess.run([loader, "--version"], capture_output=True, timeout=30).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def _newest_package(bits: str) -> Path | None:
    packages = sorted((_REPO / "out").glob(f"LatestSongViewer-*-win{bits}.zip"), key=lambda p: p.stat().st_mtime)
    return packages[-1] if packages else None


@dataclass
class Config:
    loader: str
    prefix: Path
    workdir: Path
    exe: Path
    hook_dll: Path
    probe: Path
    standin: Path
    artifacts: Path
    bits: str
    package: Path | None

    @staticmethod
    def from_environment() -> "Config":
        bits = _default_bits()
        build = _REPO / "build" / ("win32" if bits == "32" else "win64")
        wine_build = build / "tests" / "wine"
        env = os.environ
        return Config(
            loader=env.get("LSV_WINE") or ("/usr/lib/wine/wine" if bits == "32" else "/usr/lib/wine/wine64"),
            prefix=Path(env.get("LSV_WINEPREFIX") or wine_build / "wineprefix"),
            workdir=Path(env.get("LSV_WINE_WORKDIR") or wine_build / "scenarios"),
            exe=Path(env.get("LSV_EXE") or build / "LatestSongViewer.exe"),
            hook_dll=Path(env.get("LSV_HOOK_DLL") or build / "hook" / "hook.dll"),
            probe=Path(env.get("LSV_PROBE") or wine_build / "probe.exe"),
            standin=Path(env.get("LSV_STANDIN") or wine_build / "standin_winamp.exe"),
            artifacts=Path(env.get("LSV_ARTIFACTS") or "/tmp/lsv-wine-artifacts"),
            bits=bits,
            package=Path(env["LSV_ZIP"]) if env.get("LSV_ZIP") else _newest_package(bits),
        )

    @property
    def wineserver(self) -> str:
        # The wrapper picks the server binary that serves both loaders of a multiarch install.
        wrapper = Path(self.loader).parent / "wineserver"
        if wrapper.exists():
            return str(wrapper)
        return str(Path(self.loader).parent / ("wineserver64" if self.loader.endswith("64") else "wineserver32"))

    def missing(self, needs_product: bool = True) -> str | None:
        """Why the scenarios cannot run on this machine, or None."""
        if not _loader_runs(self.loader):
            return f"the Wine loader {self.loader} does not run here"
        if self.bits == "32" and not _loader_runs("/usr/lib/wine/wine"):
            return ("32-bit Windows programs cannot run here, neither natively nor under qemu-i386 "
                    "(scripts/wine-env); use the win64 build")
        for tool in ("Xvfb", WINDOW_MANAGER[0], "xprop"):
            if shutil.which(tool) is None:
                return f"{tool} is not installed (scripts/setup installs it)"
        needed = (self.exe, self.hook_dll, self.probe, self.standin) if needs_product else (self.probe, self.standin)
        for path in needed:
            if not path.exists():
                return f"{path} has not been built"
        return None


def percentile(sorted_values: list[float], fraction: float) -> float:
    """Nearest-rank percentile of an ascending list."""
    index = max(0, min(len(sorted_values) - 1, round(fraction * len(sorted_values) + 0.5) - 1))
    return sorted_values[index]


def enter_wine_namespace() -> None:
    """Restarts this Python program through scripts/wine-ns unless it already runs there, so the
    32-bit loader works on kernels without IA-32 support and port 22222 is this run's own."""
    if os.environ.get("LSV_WINE_NS"):
        return
    sys.stdout.flush()
    sys.stderr.flush()
    wine_ns = str(_REPO / "scripts" / "wine-ns")
    os.execv(wine_ns, [wine_ns, sys.executable, *sys.argv])


def config_for_bench() -> Config | None:
    """The configuration for a benchmark, or None after saying why it cannot run here."""
    enter_wine_namespace()
    config = Config.from_environment()
    reason = config.missing()
    if reason:
        print(f"skipped: {reason}")
        return None
    return config


# ---- processes ------------------------------------------------------------------------------


# Everything started and not yet ended, for the last-resort clean-up when the run itself is
# stopped (CTest's TIMEOUT sends SIGTERM, and unittest's own cleanups never run then).
_started: list[subprocess.Popen] = []
_servers: list["Wine"] = []
_last_resort: list = []


def track(process: subprocess.Popen) -> subprocess.Popen:
    _started.append(process)
    return process


def _end_everything(signum: int, _frame) -> None:
    for process in reversed(_started):
        with contextlib.suppress(OSError):
            process.kill()
    for wine in _servers:
        wine.kill_server()
    for undo in reversed(_last_resort):
        with contextlib.suppress(Exception):
            undo()
    os._exit(128 + signum)


signal.signal(signal.SIGTERM, _end_everything)


def stop_process(process: subprocess.Popen, grace: float = 3.0) -> None:
    """Ends one process this fixture started, by its own pid only."""
    with contextlib.suppress(ValueError):
        _started.remove(process)
    if process.poll() is not None:
        return
    with contextlib.suppress(ProcessLookupError):
        process.terminate()
    try:
        process.wait(grace)
    except subprocess.TimeoutExpired:
        with contextlib.suppress(ProcessLookupError):
            process.kill()
        with contextlib.suppress(subprocess.TimeoutExpired):
            process.wait(grace)


# A user's desktop has a window manager, and Wine behaves differently without one: it waits 2 s for
# a withdrawn state whenever a window is hidden, and dialogs get no title bar.
WINDOW_MANAGER = ["openbox", "--sm-disable"]


class VirtualDisplay:
    """An Xvfb server on a display number it chooses itself (-displayfd), so parallel runs never
    race for the same number, with a window manager running on it."""

    def __init__(self) -> None:
        read_end, write_end = os.pipe()
        try:
            self.process = track(subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                pass_fds=(write_end,),
                stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL,
            ))
        finally:
            os.close(write_end)
        self.window_manager: subprocess.Popen | None = None
        try:
            number = self._read_display_number(read_end)
            self.name = f":{number}"
            self.window_manager = start_window_manager(self.name)
        except Exception:
            self.stop()
            raise
        finally:
            os.close(read_end)

    def _read_display_number(self, fd: int) -> int:
        deadline = time.monotonic() + STEP_TIMEOUT
        data = b""
        os.set_blocking(fd, False)
        while not data.endswith(b"\n"):
            if time.monotonic() > deadline or self.process.poll() is not None:
                raise RuntimeError("Xvfb did not start")
            try:
                chunk = os.read(fd, 64)
            except BlockingIOError:
                time.sleep(0.05)
                continue
            if not chunk:
                raise RuntimeError("Xvfb closed its display pipe without a number")
            data += chunk
        return int(data.strip())

    def screenshot(self, path: Path) -> bool:
        path.parent.mkdir(parents=True, exist_ok=True)
        try:
            return (
                subprocess.run(
                    ["import", "-display", self.name, "-window", "root", str(path)],
                    capture_output=True,
                    timeout=STEP_TIMEOUT,
                ).returncode
                == 0
            )
        except (OSError, subprocess.TimeoutExpired):
            return False

    def stop(self) -> None:
        if self.window_manager is not None:
            stop_process(self.window_manager)
        stop_process(self.process)


def window_manager_running(display: str) -> bool:
    """Whether a window manager has announced itself on the display (the EWMH check window)."""
    try:
        done = subprocess.run(
            ["xprop", "-display", display, "-root", "_NET_SUPPORTING_WM_CHECK"],
            capture_output=True, text=True, timeout=STEP_TIMEOUT,
        )
    except (OSError, subprocess.TimeoutExpired):
        return False
    return done.returncode == 0 and "window id" in done.stdout


def start_window_manager(display: str) -> subprocess.Popen:
    """Starts the window manager on the display and returns once it manages the screen. Rarely
    (about once in a hundred starts here) it ends at once on a display that has just been made;
    a second start has always worked, and a failure says what the window manager said."""
    env = dict(os.environ, DISPLAY=display)
    said = ""
    for _ in range(2):
        with tempfile.TemporaryFile() as log:
            process = track(subprocess.Popen(WINDOW_MANAGER, env=env, stdin=subprocess.DEVNULL,
                                             stdout=subprocess.DEVNULL, stderr=log))
            deadline = time.monotonic() + STEP_TIMEOUT
            while not window_manager_running(display):
                if process.poll() is not None or time.monotonic() > deadline:
                    break
                time.sleep(0.05)
            else:
                return process
            stop_process(process)
            log.seek(0)
            said = log.read().decode("utf-8", "replace").strip()
    raise RuntimeError(f"the window manager {WINDOW_MANAGER[0]} did not start on {display}: {said}")


class Wine:
    """One prefix, shared by every scenario of a run, and the environment for its processes."""

    def __init__(self, config: Config, display: VirtualDisplay) -> None:
        self.config = config
        self.display = display
        self.env = self._environment()
        _servers.append(self)

    def _environment(self) -> dict[str, str]:
        env = {
            k: v
            for k, v in os.environ.items()
            if k.lower() not in ("http_proxy", "https_proxy", "all_proxy", "no_proxy") and not k.startswith("LC_")
        }
        env.update(
            WINEPREFIX=str(self.config.prefix),
            WINEDEBUG="-all",
            DISPLAY=self.display.name,
            # Wine turns the Unix command line into UTF-16 by the Unix locale: a UTF-8 one carries
            # the Japanese menu captions given to the probe through unchanged.
            LANG="C.UTF-8",
            # No Mono installer prompt, no desktop menu entries written into the home directory.
            WINEDLLOVERRIDES="mscoree=;winemenubuilder.exe=d",
        )
        return env

    def ensure_prefix(self) -> None:
        """Creates the prefix on first use; a prefix left half-made by an interrupted run is
        made again. A lock file keeps two runs from building it at once."""
        prefix = self.config.prefix
        ready = prefix / ".lsv-ready"
        prefix.parent.mkdir(parents=True, exist_ok=True)
        with open(str(prefix) + ".lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            if ready.exists():
                return
            if prefix.exists():
                shutil.rmtree(prefix)
            env = dict(self.env)
            # Neither the Gecko nor the Mono installer may open a window in an unattended run.
            env["WINEDLLOVERRIDES"] = "mscoree,mshtml=;winemenubuilder.exe=d"
            quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            subprocess.run([self.config.loader, "wineboot", "-i"], env=env, timeout=300, **quiet)
            subprocess.run([self.config.wineserver, "-w"], env=env, timeout=300, **quiet)
            if not (prefix / "system.reg").exists():
                raise RuntimeError(f"wineboot did not create the prefix {prefix}")
            ready.touch()

    def start(self, exe: Path, args: list[str] | None = None, cwd: Path | None = None) -> subprocess.Popen:
        return track(subprocess.Popen(
            [self.config.loader, str(exe), *(args or [])],
            env=self.env,
            cwd=str(cwd) if cwd else None,
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        ))

    def kill_server(self) -> None:
        """Ends the prefix's server and with it every Wine process of this run."""
        for args in (["-k"], ["-w"]):
            with contextlib.suppress(OSError, subprocess.TimeoutExpired):
                subprocess.run(
                    [self.config.wineserver, *args],
                    env=self.env,
                    stdin=subprocess.DEVNULL,
                    stdout=subprocess.DEVNULL,
                    stderr=subprocess.DEVNULL,
                    timeout=60,
                )


class ProbeError(AssertionError):
    pass


class Probe:
    def __init__(self, wine: Wine) -> None:
        self.wine = wine

    def run(self, *args: str, timeout: float = PROBE_TIMEOUT) -> tuple[int, dict]:
        """Runs one probe command; returns its exit code and its JSON answer."""
        # The answer comes through a file the probe opens itself (see probe.cpp for why not its
        # stdout). Files, not pipes, for stdout and stderr too: the Wine process that happens to
        # start the server and the desktop passes its descriptors on to them, and a pipe would then
        # not reach end-of-file until the server exits.
        with tempfile.TemporaryDirectory(prefix="lsv-probe-") as folder, tempfile.TemporaryFile() as err:
            answer_file = Path(folder) / "answer.json"
            env = dict(self.wine.env, LSV_PROBE_ANSWER="Z:" + str(answer_file).replace("/", "\\"))
            code = subprocess.run(
                [self.wine.config.loader, str(self.wine.config.probe), *args],
                env=env,
                stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL,
                stderr=err,
                timeout=timeout,
            ).returncode
            err.seek(0)
            stderr = err.read()
            stdout = answer_file.read_bytes() if answer_file.exists() else b""
        lines = [line for line in stdout.decode("utf-8", "replace").splitlines() if line.startswith("{")]
        if not lines:
            raise ProbeError(f"probe {' '.join(args)} printed no answer (exit {code}): {stderr!r}")
        return code, json.loads(lines[-1])

    def __call__(self, *args: str) -> dict:
        return self.run(*args)[1]

    def act(self, *args: str) -> dict:
        """Runs a probe command that must succeed."""
        code, answer = self.run(*args)
        if code != 0:
            raise ProbeError(f"probe {' '.join(args)} failed (exit {code}): {answer}")
        return answer

    def strip(self) -> dict:
        return self("strip")

    def dialogs(self, *filters: str) -> list[dict]:
        return self("dialogs", *filters)["dialogs"]


def wait_for(what: str, poll, done, timeout: float = STEP_TIMEOUT, interval: float = 0.2):
    """Polls until done(value) holds; returns that value, or fails naming the last value seen."""
    deadline = time.monotonic() + timeout
    while True:
        value = poll()
        if done(value):
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout:.0f} s waiting for {what}; last seen: {value}")
        time.sleep(interval)


def xdotool(display: str, *args: object) -> str:
    """Runs xdotool on the display (the X pointer and keyboard, as a user would use them)."""
    done = subprocess.run(["xdotool", *map(str, args)], env={**os.environ, "DISPLAY": display},
                          capture_output=True, text=True, timeout=STEP_TIMEOUT)
    if done.returncode != 0:
        raise AssertionError(f"xdotool {' '.join(map(str, args))}: {done.stderr}")
    return done.stdout


# ---- another host ----------------------------------------------------------------------------


class ForeignHostUnavailable(Exception):
    pass


class ForeignHost:
    """A second network stack on this machine that plays another host on the LAN: a network
    namespace joined to this one by a veth pair. Its requests reach the product with a peer address
    that is neither loopback nor the connection's own local address.

    The names are fixed rather than per run so that a run killed before its clean-up leaves nothing
    behind that the next run does not remove first; the scenarios take turns (RESOURCE_LOCK)."""

    NAMESPACE = "lsv-wine-foreign"
    HOST_LINK = "lsvwine0"
    PEER_LINK = "lsvwine1"
    HOST_ADDRESS = "10.231.0.1"
    PEER_ADDRESS = "10.231.0.2"
    _PREFIX = 24

    def __init__(self) -> None:
        if os.geteuid() != 0:
            raise ForeignHostUnavailable("network namespaces need root")
        if shutil.which("ip") is None:
            raise ForeignHostUnavailable("iproute2 (ip) is not installed")
        self.remove()
        _last_resort.append(self.remove)
        try:
            for command in (
                ["ip", "netns", "add", self.NAMESPACE],
                ["ip", "link", "add", self.HOST_LINK, "type", "veth", "peer", "name", self.PEER_LINK],
                ["ip", "link", "set", self.PEER_LINK, "netns", self.NAMESPACE],
                ["ip", "addr", "add", f"{self.HOST_ADDRESS}/{self._PREFIX}", "dev", self.HOST_LINK],
                ["ip", "link", "set", self.HOST_LINK, "up"],
                self._inside("ip", "addr", "add", f"{self.PEER_ADDRESS}/{self._PREFIX}", "dev", self.PEER_LINK),
                self._inside("ip", "link", "set", self.PEER_LINK, "up"),
                self._inside("ip", "link", "set", "lo", "up"),
            ):
                done = subprocess.run(command, capture_output=True, text=True, timeout=STEP_TIMEOUT)
                if done.returncode != 0:
                    raise ForeignHostUnavailable(f"{' '.join(command)}: {done.stderr.strip()}")
        except BaseException:
            self.remove()
            raise

    def _inside(self, *command: str) -> list[str]:
        return ["ip", "netns", "exec", self.NAMESPACE, *command]

    def send_event(self, port: int, event_type: str, arg1: object = 0, arg2: object = 0,
                   timeout: float = STEP_TIMEOUT) -> "Answer":
        """Sends one page event from inside the namespace to this machine's side of the link."""
        done = subprocess.run(
            self._inside(
                sys.executable, str(Path(__file__).resolve().parent / "event_client.py"),
                self.HOST_ADDRESS, str(port), event_type, str(arg1), str(arg2), "--timeout", str(timeout),
            ),
            capture_output=True, text=True, timeout=timeout + STEP_TIMEOUT,
        )
        if done.returncode != 0 or not done.stdout.strip():
            raise RuntimeError(f"the client in {self.NAMESPACE} failed: {done.stderr.strip()}")
        return Answer(**json.loads(done.stdout.strip().splitlines()[-1]))

    def remove(self) -> None:
        # Deleting one end of a veth pair deletes both; deleting the namespace would as well, but
        # only once nothing holds it open.
        for command in (["ip", "link", "del", self.HOST_LINK], ["ip", "netns", "del", self.NAMESPACE]):
            with contextlib.suppress(OSError, subprocess.TimeoutExpired):
                subprocess.run(command, capture_output=True, timeout=STEP_TIMEOUT)
        with contextlib.suppress(ValueError):
            _last_resort.remove(self.remove)


# ---- the display page -----------------------------------------------------------------------

PAGE_PATH = "/page.html"
PAGE_HTML = b"<!DOCTYPE html><html><head><title>test page</title></head><body>latest song</body></html>"


@dataclass
class Request:
    time: float
    method: str
    path: str


@dataclass
class PageServer:
    """Serves the display page on 127.0.0.1 and records every request with its arrival time."""

    requests: list[Request] = field(default_factory=list)

    def __post_init__(self) -> None:
        self._lock = threading.Lock()
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self) -> None:  # noqa: N802 (the base class's name)
                server._record("GET", self.path)
                if self.path.split("?", 1)[0] == PAGE_PATH:
                    self.send_response(200)
                    self.send_header("Content-Type", "text/html; charset=utf-8")
                    self.send_header("Content-Length", str(len(PAGE_HTML)))
                    # Every reload must reach the server, or the test could not see it.
                    self.send_header("Cache-Control", "no-store, no-cache, must-revalidate")
                    self.send_header("Pragma", "no-cache")
                    self.send_header("Expires", "0")
                    self.end_headers()
                    self.wfile.write(PAGE_HTML)
                else:
                    self.send_error(404)

            def do_HEAD(self) -> None:  # noqa: N802
                server._record("HEAD", self.path)
                self.send_error(404)

            def log_message(self, *args) -> None:
                pass

        self._httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self._httpd.daemon_threads = True
        self.port = self._httpd.server_address[1]
        self.url = f"http://127.0.0.1:{self.port}{PAGE_PATH}"
        self._thread = threading.Thread(target=self._httpd.serve_forever, name="page-server", daemon=True)
        self._thread.start()

    def _record(self, method: str, path: str) -> None:
        with self._lock:
            self.requests.append(Request(time.monotonic(), method, path))

    def page_gets(self) -> list[float]:
        with self._lock:
            return [r.time for r in self.requests if r.method == "GET" and r.path.split("?", 1)[0] == PAGE_PATH]

    def stop(self) -> None:
        self._httpd.shutdown()
        self._httpd.server_close()


def free_tcp_port() -> int:
    """A port no one listens on now, other than the fixed one."""
    while True:
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
            s.bind(("0.0.0.0", 0))
            port = s.getsockname()[1]
        if port != FIXED_EVENT_PORT:
            return port


def port_is_free(port: int) -> bool:
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind(("0.0.0.0", port))
        except OSError as e:
            if e.errno == errno.EADDRINUSE:
                return False
            raise
    return True


# ---- settings and the install folder -------------------------------------------------------


def settings_xml(disphtml: str, refresh_interval: str = "30", port: str | int = "22222") -> str:
    return (
        '<?xml version="1.0" encoding="UTF-8"?>\n'
        "<settings>\n"
        "  <datahost>http://127.0.0.1/</datahost>\n"
        f"  <disphtml>{disphtml}</disphtml>\n"
        "  <lsxml>latestsong.xml</lsxml>\n"
        "  <lsxsl>latestsong.xsl</lsxsl>\n"
        "  <lscss>latestsong.css</lscss>\n"
        f"  <port>{port}</port>\n"
        f"  <refresh_interval>{refresh_interval}</refresh_interval>\n"
        "  <scrollspeed>100</scrollspeed>\n"
        "</settings>\n"
    )


def stage_install(config: Config, name: str, settings: str | bytes | None) -> Path:
    """A fresh install folder of its own: the exe, hook.dll and the given settings.xml (None: no
    settings file at all)."""
    folder = config.workdir / name
    if folder.exists():
        shutil.rmtree(folder)
    folder.mkdir(parents=True)
    shutil.copy2(config.exe, folder / "LatestSongViewer.exe")
    shutil.copy2(config.hook_dll, folder / "hook.dll")
    if settings is not None:
        data = settings.encode("utf-8") if isinstance(settings, str) else settings
        (folder / "settings.xml").write_bytes(data)
    return folder


# ---- the stand-in Winamp ---------------------------------------------------------------------


def winamp_window_count(probe: Probe) -> int:
    return sum(1 for w in probe("windows")["windows"] if w["class"].startswith("Winamp"))


def start_standin(wine: Wine, probe: Probe, args: list[str] | None = None,
                  started: list[subprocess.Popen] | None = None) -> subprocess.Popen:
    """Starts the stand-in Winamp and returns once its windows are up and it takes commands.

    The windows of a stand-in that has just been ended can still be listed for a moment, and the
    new one's windows are only counted once those are gone; under qemu-i386 both take long
    enough to matter."""
    args = args or []
    wait_for("earlier stand-in windows to go", lambda: winamp_window_count(probe), lambda n: n == 0,
             timeout=START_TIMEOUT)
    process = wine.start(wine.config.standin, args)
    if started is not None:
        started.append(process)
    wanted = 5 - sum(1 for a in args if a == "--without")
    wait_for("the stand-in Winamp's windows", lambda: winamp_window_count(probe), lambda n: n == wanted,
             timeout=START_TIMEOUT)
    wait_for("the stand-in to take commands", lambda: probe.run("standin", "last-result")[0], lambda code: code == 0,
             timeout=START_TIMEOUT)
    return process


# ---- the benchmarks' session -------------------------------------------------------------


class WineBench:
    """What a benchmark under Wine works with: its own X display, a clean Wine server, the probe,
    the page server, and starts of the stand-in Winamp and of the product."""

    def __init__(self, config: Config, name: str) -> None:
        self.config = config
        self.name = name
        self.display = VirtualDisplay()
        self.wine = Wine(config, self.display)
        self.wine.ensure_prefix()
        self.wine.kill_server()
        self.probe = Probe(self.wine)
        self.page = PageServer()
        self.starts = 0
        self.install_folder: Path | None = None
        self.start_to_page = 0.0

    def close(self) -> None:
        self.page.stop()
        self.wine.kill_server()
        self.display.stop()

    def start_standin(self) -> subprocess.Popen:
        return start_standin(self.wine, self.probe)

    def start_product(self, with_winamp: bool = True) -> tuple[subprocess.Popen, int]:
        """The product in an install folder of its own (install_folder), with the strip shown and
        its page loaded, listening on a port of its own. Without Winamp the box that says so is
        answered first."""
        self.starts += 1
        port = free_tcp_port()
        folder = stage_install(self.config, f"{self.name}.{self.starts}", settings_xml(self.page.url, "0", port))
        wait_for(f"port {FIXED_EVENT_PORT} to be free", lambda: port_is_free(FIXED_EVENT_PORT), bool)
        loaded = len(self.page.page_gets())
        started = time.monotonic()
        process = self.wine.start(folder / "LatestSongViewer.exe", cwd=folder)
        if not with_winamp:
            box = wait_for("the box", self.probe.dialogs, bool, timeout=START_TIMEOUT)[0]
            if box["text"] != MISSING_WINAMP:
                raise RuntimeError(f"unexpected box: {box}")
            self.probe.act("press", "OK", "--dialog", str(box["hwnd"]))
        wait_for("the strip", self.probe.strip, lambda s: s.get("visible", False), timeout=START_TIMEOUT)
        gets = wait_for("the page", self.page.page_gets, lambda gets: len(gets) > loaded, timeout=START_TIMEOUT)
        # The strip asks for its page as it is first shown: a clock that needs no probe.
        self.start_to_page = gets[loaded] - started
        if self.probe.dialogs():
            raise RuntimeError(f"a box is open: {self.probe.dialogs()}")
        self.install_folder = folder
        return process, port


# ---- running a scenario module ----------------------------------------------------------


def run_scenarios(needs_product: bool = True) -> int:
    """unittest.main for a scenario module, with CTest's exit codes: 77 ("skipped", not "passed")
    when this machine cannot run Wine scenarios or when every test of the run was skipped (a
    scenario waiting for a feature), 1 on a failure, 0 otherwise."""
    enter_wine_namespace()
    reason = Config.from_environment().missing(needs_product)
    if reason:
        print(f"skipped: {reason}")
        return 77
    result = unittest.main(module="__main__", exit=False, verbosity=2).result
    if not result.wasSuccessful():
        return 1
    return 77 if result.testsRun and len(result.skipped) == result.testsRun else 0


# ---- the base class of every scenario class --------------------------------------------------


class WineScenario(unittest.TestCase):
    """Gives each scenario class its own X display and a clean Wine server, and each test its own
    install folder, page server and processes, all ended when the test ends, passed or not."""

    config: Config
    display: VirtualDisplay
    wine: Wine
    probe: Probe
    needs_product = True

    @classmethod
    def setUpClass(cls) -> None:
        cls.config = Config.from_environment()
        reason = cls.config.missing(cls.needs_product)
        if reason:
            raise unittest.SkipTest(reason)
        cls.display = VirtualDisplay()
        cls.addClassCleanup(cls.display.stop)
        cls.wine = Wine(cls.config, cls.display)
        cls.wine.ensure_prefix()
        # A server left from an earlier, interrupted run would still be bound to a dead display.
        cls.wine.kill_server()
        cls.addClassCleanup(cls.wine.kill_server)
        cls.probe = Probe(cls.wine)

    def setUp(self) -> None:
        self._processes: list[subprocess.Popen] = []
        self._installs = 0
        self.addCleanup(self._stop_processes)
        self.addCleanup(self._keep_evidence_on_failure)

    @contextlib.contextmanager
    def case(self, **params):
        """One row of a table: a subtest whose processes end with it, so the next row starts from
        a desktop without them."""
        with self.subTest(**params):
            try:
                yield
            except BaseException:
                self._save_evidence(f"{self._name()}[{'-'.join(str(v) for v in params.values())}]")
                raise
            finally:
                self._stop_processes()

    # -- pieces a scenario asks for --

    def serve_page(self) -> PageServer:
        server = PageServer()
        self.addCleanup(server.stop)
        return server

    def start_standin(self, *args: str) -> subprocess.Popen:
        return start_standin(self.wine, self.probe, list(args), started=self._processes)

    def start_product(self, settings: str | bytes | None) -> subprocess.Popen:
        self._installs += 1
        folder = stage_install(self.config, f"{self._name()}.{self._installs}", settings)
        wait_for(f"port {FIXED_EVENT_PORT} to be free", lambda: port_is_free(FIXED_EVENT_PORT), bool)
        process = self.wine.start(folder / "LatestSongViewer.exe", cwd=folder)
        self._processes.append(process)
        self.install_folder = folder
        self.product_process = process
        return process

    # -- observations --

    def dialogs(self) -> list[dict]:
        """Every open dialog box on the desktop, whoever opened it: a box from another process
        (Wine's crash dialog, an installer prompt) is as much a fault as a second box of ours."""
        return self.probe.dialogs()

    def wait_for_dialog(self, timeout: float = START_TIMEOUT) -> dict:
        dialogs = wait_for("a dialog box", self.dialogs, bool, timeout=timeout)
        self.assertEqual(dialogs[0]["exe"], "LatestSongViewer.exe", f"a box of another program: {dialogs}")
        return dialogs[0]

    def wait_for_visible_strip(self, timeout: float = START_TIMEOUT) -> dict:
        return wait_for("the strip to be visible", self.probe.strip, lambda s: s.get("visible", False), timeout=timeout)

    def assert_no_dialog_for(self, seconds: float) -> None:
        """No dialog opens during the given time (polled, so a box that opened and was closed
        again in between would go unseen; the product never closes its own boxes)."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.assertEqual(self.dialogs(), [], "no dialog expected")
            time.sleep(0.3)

    def assert_product_running(self) -> None:
        code = self.product_process.poll()
        self.assertIsNone(code, f"the product ended (exit code {code})")

    def assert_strip_shown(self, strip: dict) -> None:
        self.assertTrue(strip["visible"], strip)
        self.assertTrue(strip["enabled"], strip)
        self.assertEqual(strip["client"], STRIP_CLIENT_SIZE, strip)
        left, top, right, bottom = strip["rect"]
        # Borderless: the window is its client area and nothing more.
        self.assertEqual([right - left, bottom - top], STRIP_CLIENT_SIZE, strip)

    # -- cleanup --

    def _name(self) -> str:
        return self.id().split(".", 1)[-1]

    def _stop_processes(self) -> None:
        while self._processes:
            stop_process(self._processes.pop())

    def _failed(self) -> bool:
        # The outcome's own success flag reads True inside a cleanup (each cleanup is a test part
        # of its own), so look in the result for a failure of this test or one of its subtests.
        result = getattr(getattr(self, "_outcome", None), "result", None)
        if result is None:
            return False
        failed = [test for test, _ in result.failures + result.errors]
        return any(test is self or getattr(test, "test_case", None) is self for test in failed)

    def _keep_evidence_on_failure(self) -> None:
        if self._failed() or os.environ.get("LSV_WINE_SCREENSHOTS") == "always":
            self._save_evidence(self._name())

    def _save_evidence(self, name: str) -> None:
        """A screenshot and the window state, for a scenario that went wrong."""
        name = "".join(c if c.isalnum() or c in "._-[]" else "_" for c in name)
        shot = self.config.artifacts / f"{name}.png"
        if self.display.screenshot(shot):
            print(f"\nscreenshot: {shot}")
        with contextlib.suppress(Exception):
            state = {
                "windows": self.probe("windows", "--all"),
                "dialogs": self.probe("dialogs", "--all"),
                "strip": self.probe.strip(),
            }
            path = self.config.artifacts / f"{name}.json"
            path.write_text(json.dumps(state, ensure_ascii=False, indent=1), encoding="utf-8")
            print(f"window state: {path}")

