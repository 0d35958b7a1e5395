"""The DNS-SD layer's console driver under Wine, and a python3-zeroconf peer in the peer's namespace."""
import contextlib
import socket
import time

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


@contextlib.contextmanager
def zeroconf_peer(net):
    """python3-zeroconf on the peer's address; its sockets are created inside the peer's namespace."""
    from zeroconf import Zeroconf

    with net.peer.entered():
        zc = Zeroconf(interfaces=[net.peer.address])
    try:
        yield zc
    finally:
        zc.close()


def service_info(name, type_, port, properties=None, subtype=None, address="10.77.0.2"):
    from zeroconf import ServiceInfo

    full_type = f"{subtype}._sub.{type_}" if subtype else type_
    return ServiceInfo(full_type, f"{name}.{type_}", port=port, properties=properties or {},
                       server="peer.local.", addresses=[socket.inet_aton(address)])


def mdns_listener(net):
    """A plain socket on the peer's side that hears the group's datagrams (bound after the peer's own)."""
    import struct

    s = net.peer.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
    s.bind(("", 5353))
    mreq = struct.pack("4s4s", socket.inet_aton("224.0.0.251"), socket.inet_aton(net.peer.address))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, mreq)
    s.settimeout(0.1)
    return s


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

def encode_name(text):
    out = b""
    for label in text.rstrip(".").split("."):
        out += bytes([len(label)]) + label.encode()
    return out + b"\0"


def ptr_response(type_, instance, ttl):
    """One PTR answer "type_ -> instance.type_" with the given TTL (0: a goodbye)."""
    import struct

    target = encode_name(f"{instance}.{type_}")
    header = struct.pack("!6H", 0, 0x8400, 0, 1, 0, 0)
    return header + encode_name(type_) + struct.pack("!HHIH", 12, 1, ttl, len(target)) + target


def ptr_query(type_):
    import struct

    return struct.pack("!6H", 0, 0, 1, 0, 0, 0) + encode_name(type_) + struct.pack("!HH", 12, 1)


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
