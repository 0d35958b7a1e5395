"""The console host of the gateway manager (velmora_host.exe) in the program's namespace.

The host prints "READY init=<0|1>" once Init has returned, then answers each command line with
zero or more lines and a last line "OK" or "ERROR <reason>".
"""
import queue
import subprocess
import threading
import time

EXE = "velmora_host.exe"


def pane_line(text):
    """How a pane line shows in the log file (the host has no pane)."""
    return "CVelmoraManager::AddLogTextWnd() " + text


class HostError(AssertionError):
    pass


class VelmoraHost:
    def __init__(self, gw, settings=None, with_log=True, start_timeout=30.0):
        """Writes the host's settings (log file on by default), starts it and waits for READY."""
        self.gw = gw
        gw.write_settings(EXE, settings or {}, with_log=with_log)
        self.proc = gw.start(EXE, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self._lines = queue.Queue()
        self.stderr = []
        threading.Thread(target=self._pump, args=(self.proc.stdout, self._lines.put), daemon=True).start()
        threading.Thread(target=self._pump, args=(self.proc.stderr, self.stderr.append), daemon=True).start()
        ready = self._next_line(start_timeout)
        if not ready.startswith("READY init="):
            raise HostError(f"host did not start: {ready!r}; stderr: {''.join(self.stderr)[-2000:]}")
        self.init_result = int(ready.split("=", 1)[1])

    @staticmethod
    def _pump(stream, sink):
        for line in stream:
            sink(line.rstrip("\r\n"))
        sink(None)

    def _next_line(self, timeout):
        try:
            line = self._lines.get(timeout=timeout)
        except queue.Empty:
            raise HostError(f"no answer from the host within {timeout} s") from None
        if line is None:
            raise HostError(f"host ended (code {self.proc.poll()}); stderr: {''.join(self.stderr)[-2000:]}")
        return line

    def command(self, text, timeout=10.0):
        """Sends one command; returns its answer lines, raises HostError on "ERROR"."""
        self.proc.stdin.write(text + "\n")
        self.proc.stdin.flush()
        lines = []
        while True:
            line = self._next_line(timeout)
            if line == "OK":
                return lines
            if line.startswith("ERROR"):
                raise HostError(f"{text!r} failed: {line}")
            lines.append(line)

    @staticmethod
    def _fields(line):
        parts = line.split("\t")
        return dict(part.split("=", 1) for part in parts[1:])

    def state(self):
        return self._fields(self.command("state")[0])

    def streams(self):
        """The stream table as one dict per stream (kind, name, alive, removed, sap, dnssd, rtsp, ...)."""
        return [self._fields(line) for line in self.command("list") if line.startswith("stream\t")]

    def wait_for_streams(self, predicate, timeout=10.0):
        """Polls the stream table until predicate(streams) holds; returns the table."""
        deadline = time.monotonic() + timeout
        while True:
            table = self.streams()
            if predicate(table):
                return table
            if time.monotonic() > deadline:
                raise HostError(f"stream table never matched; last was {table}")
            time.sleep(0.1)

    def exit(self, timeout=10.0):
        """Sends "exit" and waits for the process to end; returns the seconds it took."""
        start = time.monotonic()
        self.command("exit", timeout=timeout)
        self.proc.wait(timeout=timeout)
        return time.monotonic() - start
