"""The program's main dialog (Velmora.exe) in the program's namespace, driven by dialog_driver.exe.

The driver finds the window "CORVANE-2-SAP CONVERTER" and sends it what an operator's clicks and keys
send; it answers each command line with zero or more lines and a last line "OK" or "ERROR <reason>".
"""
import configparser
import struct
import subprocess
import zlib

from harness import wine
from harness.line_program import LineProgram, LineProgramError

PROGRAM = "Velmora.exe"
DRIVER = "dialog_driver.exe"
TITLE = "CORVANE-2-SAP CONVERTER"
ARTIFACTS = wine.BUILD / "e2e-artifacts"


class Dialog:
    """One run of the program with its driver. Settings are written only when given, so a second run
    finds what the first one saved."""

    def __init__(self, gw, settings=None, timeout=60.0):
        self.gw = gw
        if settings is not None:
            gw.write_settings(PROGRAM, settings)
        # The program's own output (Wine's messages, a crash's backtrace) goes to a file, for the
        # report of a window that never came.
        self.output_path = gw.prefix / "velmora-output.txt"
        with open(self.output_path, "w") as output:
            self.program = gw.start(PROGRAM, stdout=output, stderr=output)
        self.driver = LineProgram(gw, DRIVER, "dialog driver")
        if self.driver.next_line(timeout) != "READY":
            raise LineProgramError("the dialog driver did not start")
        try:
            self.command("find-window", TITLE, int(timeout * 1000), timeout=timeout + 5)
        except LineProgramError as error:
            state = "still running" if self.program.poll() is None else f"ended with {self.program.returncode}"
            output = self.output_path.read_text(errors="replace")[-3000:]
            raise LineProgramError(f"{error}; the program is {state}; its output:\n{output}\n"
                                   f"its log:\n{gw.log_text()[-3000:]}") from error

    def command(self, *args, timeout=20.0):
        """Sends one command (arguments joined by tabs); returns its answer lines."""
        return self.driver.command("\t".join(str(a) for a in args), timeout=timeout)

    # --- reading the dialog ----------------------------------------------------------------------
    def rows(self, list_id):
        return [line.split("\t")[1:] for line in self.command("rows", list_id) if line.startswith("row\t")]

    def count(self, list_id):
        return int(self.command("count", list_id)[0].split("\t")[1])

    def columns(self, list_id):
        """True for each shown column of the list, False for each hidden one, in column order."""
        return [line.split("\t")[2] == "1" for line in self.command("columns", list_id) if line.startswith("column\t")]

    def controls(self):
        """({control id: (left, top, right, bottom)} of the visible controls, (client width, height))."""
        controls, client = {}, None
        for line in self.command("controls"):
            kind, *values = line.split("\t")
            if kind == "control":
                controls.setdefault(int(values[0]), []).append(tuple(int(v) for v in values[1:]))
            elif kind == "client":
                client = tuple(int(v) for v in values)
        return controls, client

    def check(self, control_id):
        return int(self.command("check", control_id)[0].split("\t")[1])

    def enabled(self, control_id):
        return int(self.command("enabled", control_id)[0].split("\t")[1]) != 0

    def column_width(self, list_id, column, width=None):
        args = ["colwidth", list_id, column] + ([width] if width is not None else [])
        return int(self.command(*args)[0].split("\t")[1])

    def rect(self, control_id):
        return tuple(int(v) for v in self.command("rect", control_id)[0].split("\t")[1:])

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
        self.command("window-gone", TITLE, int(timeout * 1000), timeout=timeout + 5)
        code = self.program.wait(timeout=timeout)
        self.driver.proc.stdin.write("exit\n")
        self.driver.proc.stdin.flush()
        self.driver.proc.wait(timeout=10)
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
