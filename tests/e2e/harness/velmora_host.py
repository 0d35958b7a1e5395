"""The console host of the gateway manager (velmora_host.exe) in the program's namespace.

The host prints "READY init=<0|1>" once Init has returned, then answers each command line with
zero or more lines and a last line "OK" or "ERROR <reason>".
"""
import time

from harness.line_program import LineProgram, LineProgramError

EXE = "velmora_host.exe"


def pane_line(text):
    """How a pane line shows in the log file (the host has no pane)."""
    return "CVelmoraManager::AddLogTextWnd() " + text


HostError = LineProgramError


class VelmoraHost(LineProgram):
    def __init__(self, gw, settings=None, with_log=True, start_timeout=30.0):
        """Writes the host's settings (log file on by default), starts it and waits for READY."""
        self.gw = gw
        gw.write_settings(EXE, settings or {}, with_log=with_log)
        super().__init__(gw, EXE, "host")
        ready = self.next_line(start_timeout)
        # The DSA engine writes its start lines ("Starting ... for device 0...") to the standard output.
        while ready.endswith("...") and not ready.startswith("READY"):
            ready = self.next_line(start_timeout)
        if not ready.startswith("READY init="):
            raise HostError(f"host did not start: {ready!r}; stderr: {''.join(self.stderr)[-2000:]}")
        self.init_result = int(ready.split("=", 1)[1])

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
