"""A Windows console program under Wine that answers command lines: each answer is zero or more lines
and then a last line "OK" or "ERROR <reason>"."""
import queue
import subprocess
import threading


class LineProgramError(AssertionError):
    pass


class LineProgram:
    def __init__(self, gw, exe, what):
        """Starts the program with pipes; `what` names it in errors."""
        self.what = what
        self.proc = gw.start(exe, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self._lines = queue.Queue()
        self.stderr = []
        threading.Thread(target=self._pump, args=(self.proc.stdout, self._lines.put), daemon=True).start()
        threading.Thread(target=self._pump, args=(self.proc.stderr, self.stderr.append), daemon=True).start()

    @staticmethod
    def _pump(stream, sink):
        for line in stream:
            sink(line.rstrip("\r\n"))
        sink(None)

    def next_line(self, timeout):
        try:
            line = self._lines.get(timeout=timeout)
        except queue.Empty:
            raise LineProgramError(f"no answer from the {self.what} within {timeout} s") from None
        if line is None:
            raise LineProgramError(
                f"the {self.what} ended (code {self.proc.poll()}); stderr: {''.join(self.stderr)[-2000:]}")
        return line

    def command(self, text, timeout=10.0):
        """Sends one command line; returns its answer lines, raises LineProgramError on "ERROR"."""
        self.proc.stdin.write(text + "\n")
        self.proc.stdin.flush()
        lines = []
        while True:
            line = self.next_line(timeout)
            if line == "OK":
                return lines
            if line.startswith("ERROR"):
                raise LineProgramError(f"{text!r} failed: {line}")
            lines.append(line)
