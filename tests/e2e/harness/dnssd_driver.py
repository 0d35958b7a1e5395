"""The DNS-SD layer's console driver under Wine, and a python3-zeroconf peer in the peer's namespace."""
import socket
import time

from harness import mdns_peer
from harness.line_program import LineProgram


class DnssdDriver(LineProgram):
    def __init__(self, gw):
        super().__init__(gw, "dnssd_driver.exe", "DNS-SD driver")
        self.seen = []

    def start(self):
        [state] = self.command("start", timeout=20)
        return state

    def stop(self, grace_ms=0):
        [state] = self.command(f"stop|{grace_ms}", timeout=30)
        return dict(kv.split("=") for kv in state.split())

    def call(self, *fields):
        """A client call; returns its status code."""
        [status] = self.command("|".join(map(str, fields)))
        return int(status.split("=")[1])

    def events(self):
        """Every reply so far, as lists of fields: id, kind, flags, interface, error, ..."""
        self.seen += [line.split("|") for line in self.command("events")]
        return self.seen

    def wait_event(self, what, predicate, timeout=20.0):
        deadline = time.monotonic() + timeout
        while True:
            found = [e for e in self.events() if predicate(e)]
            if found:
                return found
            if time.monotonic() > deadline:
                raise AssertionError(f"no {what} within {timeout} s; replies: {self.seen}")
            time.sleep(0.1)

    def heap(self):
        [line] = self.command("heap")
        return dict((k, int(v)) for k, v in (kv.split("=") for kv in line.split()))

    def interface_index(self, address):
        return int(next(line.split("|")[0] for line in self.command("ifaces") if line.endswith("|" + address)))


def zeroconf_peer(net):
    """python3-zeroconf on the peer's address; its sockets are created inside the peer's namespace."""
    return mdns_peer.zeroconf_in(net.peer)


def service_info(name, type_, port, properties=None, subtype=None, address="10.77.0.2"):
    from zeroconf import ServiceInfo

    full_type = f"{subtype}._sub.{type_}" if subtype else type_
    return ServiceInfo(full_type, f"{name}.{type_}", port=port, properties=properties or {},
                       server="peer.local.", addresses=[socket.inet_aton(address)])


def goodbyes_from(sock, source, seconds):
    """(arrival time, record names) of every response from `source` holding only TTL-0 records."""
    from zeroconf import DNSIncoming

    found = []
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            data, (addr, _) = sock.recvfrom(9000)
        except socket.timeout:
            continue
        if addr != source:
            continue
        msg = DNSIncoming(data)
        if msg.is_response() and msg.answers and all(r.ttl == 0 for r in msg.answers):
            found.append((time.monotonic(), [r.name for r in msg.answers]))
    return found


# --- A hostile peer with nothing but the standard library -------------------------------------------

def ptr_response(type_, instance, ttl):
    """One PTR answer "type_ -> instance.type_" with the given TTL (0: a goodbye)."""
    return mdns_peer.header(0x8400, an=1) + mdns_peer.record(
        mdns_peer.dotted(type_), 12, mdns_peer.dotted(f"{instance}.{type_}"), ttl, rclass=1)


def ptr_query(type_):
    return mdns_peer.header(0, qd=1) + mdns_peer.question(mdns_peer.dotted(type_), 12)


def malformed(seed_packets, count, rng):
    """Datagrams the daemon must refuse: cut short, counts beyond the data, a pointer to itself or
    forwards, a label length of 0x40-0xBF, random bytes claiming records they do not hold."""
    for i in range(count):
        base = bytearray(rng.choice(seed_packets))
        kind = i % 5
        if kind == 0:
            yield bytes(base[: rng.randrange(0, len(base))])
        elif kind == 1:
            base[6:8] = b"\xff\xff"
            yield bytes(base)
        elif kind == 2:
            yield bytes(base[:12]) + bytes([0xC0, rng.randrange(12, 40)]) + bytes(base[14:])
        elif kind == 3:
            yield bytes(base[:12]) + bytes([rng.randrange(0x40, 0xC0)]) + bytes(base[13:])
        else:
            yield bytes([0, 0, 0x84, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0]) + bytes(
                rng.randrange(256) for _ in range(rng.randrange(0, 64)))
