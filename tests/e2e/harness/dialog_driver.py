"""The program's main dialog (Velmora.exe) in the program's namespace, driven by dialog_driver.exe.

The driver finds the window "CORVANE-2-SAP CONVERTER" and sends it what an operator's clicks and keys
send; it answers each command line with zero or more lines and a last line "OK" or "ERROR <reason>".
"""
import configparser
import pathlib
import queue
import struct
import subprocess
import threading
import zlib

from harness import wine

PROGRAM = "Velmora.exe"
DRIVER = "dialog_driver.exe"
TITLE = "CORVANE-2-SAP CONVERTER"
ARTIFACTS = wine.BUILD / "e2e-artifacts"


class DriverError(AssertionError):
    pass


class Dialog:
    """One run of the program with its driver. Settings are written only when given, so a second run
    finds what the first one saved."""

    def __init__(self, gw, settings=None, timeout=60.0):
        self.gw = gw
        if settings is not None:
            gw.write_settings(PROGRAM, settings)
        self.program = gw.start(PROGRAM, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.driver = gw.start(DRIVER, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self._lines = queue.Queue()
        threading.Thread(target=self._pump, daemon=True).start()
        if self._next_line(timeout) != "READY":
            raise DriverError("the driver did not start")
        self.command("find\t60000", timeout=timeout)

    def _pump(self):
        for line in self.driver.stdout:
            self._lines.put(line.rstrip("\r\n"))
        self._lines.put(None)

    def _next_line(self, timeout):
        try:
            line = self._lines.get(timeout=timeout)
        except queue.Empty:
            raise DriverError(f"no answer from the driver within {timeout} s") from None
        if line is None:
            raise DriverError(f"the driver ended (code {self.driver.poll()})")
        return line

    def command(self, *args, timeout=20.0):
        """Sends one command (arguments joined by tabs); returns its answer lines."""
        text = "\t".join(str(a) for a in args)
        self.driver.stdin.write(text + "\n")
        self.driver.stdin.flush()
        lines = []
        while True:
            line = self._next_line(timeout)
            if line == "OK":
                return lines
            if line.startswith("ERROR"):
                raise DriverError(f"{text!r} failed: {line}")
            lines.append(line)

    # --- reading the dialog ----------------------------------------------------------------------
    def rows(self, list_id):
        return [line.split("\t")[1:] for line in self.command("rows", list_id) if line.startswith("row\t")]

    def check(self, control_id):
        return int(self.command("check", control_id)[0].split("\t")[1])

    def enabled(self, control_id):
        return int(self.command("enabled", control_id)[0].split("\t")[1]) != 0

    def column_width(self, list_id, column, width=None):
        args = ["colwidth", list_id, column] + ([width] if width is not None else [])
        return int(self.command(*args)[0].split("\t")[1])

    def rect(self, control_id=None):
        line = self.command("rect", control_id)[0] if control_id is not None else self.command("client")[0]
        return tuple(int(v) for v in line.split("\t")[1:])

    def placement(self):
        """(show command, normal left, top, right, bottom, maximized)."""
        return tuple(int(v) for v in self.command("placement")[0].split("\t")[1:])

    def screenshot_png(self, name):
        """A picture of the dialog as shown, kept as build/e2e-artifacts/<name>.png; returns its path."""
        ARTIFACTS.mkdir(parents=True, exist_ok=True)
        bmp_windows = r"C:\dialog-screenshot.bmp"
        self.command("screenshot", bmp_windows, timeout=30)
        bmp = self.gw.linux_path(bmp_windows)
        png = ARTIFACTS / f"{name}.png"
        png.write_bytes(bmp_to_png(bmp.read_bytes()))
        bmp.unlink()
        return png

    # --- ending ------------------------------------------------------------------------------------
    def wait_until_ended(self, timeout=60.0):
        self.command("wait-gone", int(timeout * 1000), timeout=timeout + 5)
        code = self.program.wait(timeout=timeout)
        self.driver.stdin.write("exit\n")
        self.driver.stdin.flush()
        self.driver.wait(timeout=10)
        return code


def read_settings(gw):
    """The program's settings file as {section: {key: value}} (keys as written)."""
    parser = configparser.ConfigParser(interpolation=None, strict=False)
    parser.optionxform = str
    parser.read_string(gw.settings_path(PROGRAM).read_bytes().decode("cp1252"))
    return {section: dict(parser[section]) for section in parser.sections()}


def bmp_to_png(data):
    """A 32-bit top-down BMP (as the driver writes it) as an RGB PNG."""
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    height = abs(height)
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        row = data[offset + y * width * 4: offset + (y + 1) * width * 4]
        for x in range(width):
            b, g, r = row[x * 4: x * 4 + 3]
            raw += bytes((r, g, b))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 6)) + chunk(b"IEND", b"")
