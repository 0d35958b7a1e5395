"""Multicast-DNS peers in the peer's namespace: python3-zeroconf (an independent implementation) and a
raw socket on 224.0.0.251:5353 that sees the IP TTL of what it receives and sends any bytes."""
import contextlib
import socket
import struct
import time

GROUP = "224.0.0.251"
PORT = 5353
IP_RECVTTL = 12


def raw_socket(ns):
    s = ns.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
    s.bind(("", PORT))
    mreq = struct.pack("4s4s", socket.inet_aton(GROUP), socket.inet_aton(ns.address))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, mreq)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(ns.address))
    s.setsockopt(socket.IPPROTO_IP, IP_RECVTTL, 1)
    s.settimeout(0.2)
    return s


def receive(s, source, seconds, predicate=lambda data: True):
    """Datagrams from `source` within `seconds` that satisfy predicate, as (bytes, IP TTL)."""
    found = []
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            data, ancillary, _, sender = s.recvmsg(9000, 64)
        except socket.timeout:
            continue
        if sender[0] != source or not predicate(data):
            continue
        ttl = next((struct.unpack("i", d)[0] for _, kind, d in ancillary if kind == socket.IP_TTL), None)
        found.append((data, ttl))
    return found


def send(s, data):
    s.sendto(data, (GROUP, PORT))


@contextlib.contextmanager
def zeroconf_in(ns):
    """A python3-zeroconf instance whose sockets live in the namespace, on its address only."""
    from zeroconf import IPVersion, Zeroconf

    with ns.entered():
        zc = Zeroconf(interfaces=[ns.address], ip_version=IPVersion.V4Only)
    try:
        yield zc
    finally:
        with ns.entered():
            zc.close()


def name(*labels):
    return b"".join(bytes([len(l)]) + l.encode() for l in labels) + b"\0"


def dotted(text):
    """The wire form of a dotted name ("a.b.local.")."""
    return name(*text.rstrip(".").split("."))


def header(flags, qd=0, an=0, ns=0, ar=0):
    return struct.pack(">6H", 0, flags, qd, an, ns, ar)


def question(wire_name, qtype):
    return wire_name + struct.pack(">HH", qtype, 1)


def record(wire_name, rtype, rdata, ttl=120, rclass=0x8001):
    return wire_name + struct.pack(">HHIH", rtype, rclass, ttl, len(rdata)) + rdata


def announcement(instance, host, address, port=8554, subtype="_corvane_session", txt=False):
    """A sender's announcement: PTR of the session subtype, SRV and (optionally) TXT of the instance,
    A of its host."""
    host_name = name(host, "local")
    inst = name(instance, "_rtsp", "_tcp", "local")
    records = [record(name(subtype, "_sub", "_rtsp", "_tcp", "local"), 12, inst, 4500),
               record(inst, 33, struct.pack(">HHH", 0, 0, port) + host_name)]
    if txt:
        records.append(record(inst, 16, b"\0", 4500))
    records.append(record(host_name, 1, socket.inet_aton(address)))
    return header(0x8400, an=1, ar=len(records) - 1) + b"".join(records)
