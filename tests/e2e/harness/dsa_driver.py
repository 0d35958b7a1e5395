"""The DSA engine driver (dsa_driver.exe) in the program's namespace: starts the engine alone and
shows its tables."""
from harness.line_program import LineProgram


class DsaDriver(LineProgram):
    def __init__(self, gw):
        super().__init__(gw, "dsa_driver.exe", "engine driver")

    @staticmethod
    def _fields(line):
        return dict(part.split("=", 1) for part in line.split("\t")[1:])

    def start(self, address):
        return self._fields(next(l for l in self.command(f"start {address}") if l.startswith("start\t")))

    def register(self, name, port, kind=3):
        return self._fields(self.command(f"register {name}\t{port}\t{kind}")[0])

    def unregister(self, handle):
        return self._fields(self.command(f"unregister {handle}")[0])

    def tables(self):
        lines = self.command("tables")
        streams = [self._fields(l) for l in lines if l.startswith("stream\t")]
        nodes = {f["row"]: f for f in (self._fields(l) for l in lines if l.startswith("node\t"))}
        return streams, nodes

    def resolved(self, name):
        """The stream row of that name with its node's address, once its node has an address."""
        streams, nodes = self.tables()
        for s in streams:
            node = nodes.get(s["node"])
            if s["name"] == name and node and node["noaddress"] == "0":
                return dict(s, address=node["address"], host=node["name"])
        return None

    def stop(self, timeout=10.0):
        return self._fields(next(l for l in self.command("stop", timeout=timeout) if l.startswith("stop\t")))

    def stall(self, ms):
        """Holds the engine's table lock for `ms` from another thread; returns once it is held."""
        self.command(f"stall {ms}")

    def dropped(self):
        return int(self._fields(self.command("dropped")[0])["count"])

    def usage(self):
        return {k: int(v) for k, v in self._fields(self.command("usage")[0]).items()}
