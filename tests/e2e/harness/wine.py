"""The program's side: a Wine prefix whose wineserver runs inside the program's namespace."""
import contextlib
import os
import pathlib
import re
import shutil
import subprocess
import time

ROOT = pathlib.Path(__file__).resolve().parents[3]
BUILD = pathlib.Path(os.environ.get("VELMORA_BUILD", ROOT / "build"))
CROSS = BUILD / "cross"
TEMPLATE_PREFIX = pathlib.Path(os.environ.get("WINEPREFIX", BUILD / "wine"))

LOG_DIR_WINDOWS = r"C:\velmora-logs"
LOG_BASE = "velmora"


def exe_path(name):
    """Path of a built Windows program by file name, e.g. 'velmora_host.exe'."""
    for candidate in CROSS.rglob(name):
        return candidate
    raise FileNotFoundError(f"{name} not found under {CROSS}: build first (tools/test.sh builds)")


def base_env():
    env = dict(os.environ)
    env.update(
        WINEDEBUG=env.get("WINEDEBUG", "-all"),
        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d",
        LANG="C.UTF-8",
        LC_ALL="C.UTF-8",
    )
    return env


def ensure_template_prefix():
    if (TEMPLATE_PREFIX / ".velmora-ready").exists():
        return
    subprocess.run(
        ["bash", "-c", f'source "{ROOT}/tools/env.sh"; velmora_wine_prefix "{TEMPLATE_PREFIX}"'],
        check=True,
        env=base_env(),
    )


def clone_prefix(target):
    """A prefix of its own for a namespace: hard links to the template, real copies of the registry."""
    target = pathlib.Path(target)
    if (target / ".velmora-ready").exists():
        return target
    ensure_template_prefix()
    if target.exists():
        shutil.rmtree(target)
    target.parent.mkdir(parents=True, exist_ok=True)
    subprocess.run(["cp", "-al", str(TEMPLATE_PREFIX), str(target)], check=True)
    for reg in target.glob("*.reg"):
        data = reg.read_bytes()
        reg.unlink()
        reg.write_bytes(data)
    return target


class WineSide:
    """Runs Windows programs inside one namespace, each test with fresh settings and logs."""

    def __init__(self, namespace, slot="gw", dpi=None):
        """`dpi` sets the screen's dots per inch (LogPixels) in the prefix: give such a prefix a slot
        of its own, so that other tests keep 96."""
        self.ns = namespace
        self.dpi = dpi
        self.prefix = clone_prefix(BUILD / "e2e" / f"wine-{slot}")
        self.env = base_env()
        self.env["WINEPREFIX"] = str(self.prefix)
        self.processes = []

    # --- files inside the prefix -------------------------------------------------------------
    def drive_c(self, *parts):
        return self.prefix / "drive_c" / pathlib.Path(*parts)

    def linux_path(self, windows_path):
        assert windows_path[:3].upper() == "C:\\", windows_path
        return self.drive_c(*windows_path[3:].split("\\"))

    def settings_path(self, exe_name):
        stem = exe_name.rsplit(".", 1)[0] if "." in exe_name else exe_name
        return self.drive_c("ProgramData", "CORVANE", "Tools", stem + ".ini")

    def write_settings(self, exe_name, sections, with_log=True):
        """Writes the program's ini file; by default it also turns the log file on."""
        sections = {k: dict(v) for k, v in sections.items()}
        if with_log:
            sections.setdefault("Logging", {}).setdefault("Directory", LOG_DIR_WINDOWS)
            sections["Logging"].setdefault("Filename", LOG_BASE)
        lines = []
        for section, values in sections.items():
            lines.append(f"[{section}]")
            lines.extend(f"{k}={v}" for k, v in values.items())
        path = self.settings_path(exe_name)
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(("\r\n".join(lines) + "\r\n").encode("cp1252"))
        return path

    def log_files(self):
        folder = self.linux_path(LOG_DIR_WINDOWS)
        return sorted(folder.glob("*")) if folder.exists() else []

    def log_text(self):
        return "".join(p.read_bytes().decode("cp1252", errors="replace") for p in self.log_files())

    def wait_for_log(self, text, timeout=20.0, count=1):
        """Waits until the log files hold `text` at least `count` times; returns the whole log."""
        deadline = time.monotonic() + timeout
        while True:
            log = self.log_text()
            if log.count(text) >= count:
                return log
            if time.monotonic() > deadline:
                raise AssertionError(f"log never showed {text!r} ({count}x); log was:\n{log[-4000:]}")
            time.sleep(0.1)

    # --- processes ---------------------------------------------------------------------------
    def unmanaged_windows(self):
        """The virtual display has no window manager: Wine draws the windows' frames and captions and
        moves, maximizes and restores them itself. Written while no wineserver runs."""
        user_reg = self.prefix / "user.reg"
        text = user_reg.read_text(encoding="utf-8", errors="surrogateescape")
        if "[Software\\\\Wine\\\\X11 Driver]" not in text:
            text += '\n[Software\\\\Wine\\\\X11 Driver] 1700000000\n"Managed"="N"\n'
            user_reg.write_text(text, encoding="utf-8", errors="surrogateescape")

    def log_pixels(self, dpi):
        """Sets the screen's dots per inch for the prefix's programs (user interface and fonts): every
        LogPixels value the prefix has, and the desktop's own. Written while no wineserver runs."""
        value = f'"LogPixels"=dword:{dpi:08x}'
        for name in ("user.reg", "system.reg"):
            reg = self.prefix / name
            text = reg.read_text(encoding="utf-8", errors="surrogateescape")
            text, found = re.subn(r'^"LogPixels"=dword:[0-9a-fA-F]+$', value, text, flags=re.M)
            if name == "user.reg" and found < 2:
                text += f"\n[Control Panel\\\\Desktop] 1700000000\n{value}\n"
            reg.write_text(text, encoding="utf-8", errors="surrogateescape")

    def start_server(self):
        """Starts this prefix's wineserver and Wine's services inside the namespace."""
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True)
        subprocess.run(["wineserver", "-w"], env=self.env, capture_output=True, timeout=30)
        self.unmanaged_windows()
        if self.dpi is not None:
            self.log_pixels(self.dpi)
        for folder in (self.linux_path(LOG_DIR_WINDOWS), self.drive_c("ProgramData", "CORVANE")):
            shutil.rmtree(folder, ignore_errors=True)
        # The server stays in the background: it must not hold our output pipes.
        self.ns.run_detached("wineserver", "-p", env=self.env)
        # Wine's services inherit the output pipes of the first program: start them detached.
        self.ns.run_detached("wine", "cmd", "/c", "exit", env=self.env, timeout=120)

    def start(self, exe, *args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT):
        exe = exe if isinstance(exe, pathlib.Path) else exe_path(exe)
        proc = self.ns.popen(
            ["wine", str(exe), *map(str, args)],
            env=self.env,
            stdin=stdin,
            stdout=stdout,
            stderr=stderr,
            text=True,
            encoding="utf-8",
            errors="replace",
        )
        self.processes.append(proc)
        return proc

    def stop(self):
        for proc in self.processes:
            if proc.poll() is None:
                proc.kill()
        for proc in self.processes:
            try:
                proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
        self.processes = []
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True)
        try:
            subprocess.run(["wineserver", "-w"], env=self.env, capture_output=True, timeout=30)
        except subprocess.TimeoutExpired:
            pass


@contextlib.contextmanager
def namespaces_with_wine(slot):
    """For programs run by hand (benchmarks): a fresh namespace pair and a Wine side in it."""
    from harness import netns

    netns.remove_stale_namespaces()
    net = netns.NetworkPair().create()
    gw = WineSide(net.gw, slot=slot)
    try:
        gw.start_server()
        yield net, gw
    finally:
        gw.stop()
        net.destroy()
