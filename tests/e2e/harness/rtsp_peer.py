"""Peers of an RTSP server on the Linux side: a raw RTSP client and an RTCP listener."""
import socket
import struct
import time

PLACEHOLDER_GROUP = "239.1.4.194"

# A stream's session description as a Corvane sender or a SAP announcement carries it.
STUDIO_A_SDP = (
    "v=0\r\n"
    "o=- 1311738121 1311738121 IN IP4 10.77.0.9\r\n"
    "s=Studio A\r\n"
    "c=IN IP4 239.69.1.2/32\r\n"
    "t=0 0\r\n"
    "m=audio 5004 RTP/AVP 98\r\n"
    "a=rtpmap:98 L24/48000/2\r\n"
    "a=ptime:1\r\n"
)


class RawClient:
    """One TCP connection from a namespace; request() returns (status line, headers, body bytes)."""

    def __init__(self, ns, address, port, wait=10.0):
        # The server thread logs its start before its listening socket exists: a refused
        # connection is tried again for a while.
        deadline = time.monotonic() + wait
        while True:
            self.sock = ns.socket(socket.AF_INET, socket.SOCK_STREAM)
            self.sock.settimeout(10)
            try:
                self.sock.connect((address, port))
                break
            except ConnectionRefusedError:
                self.sock.close()
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.1)
        self.buffer = b""

    def request(self, text):
        self.sock.sendall(text.encode("ascii"))
        while b"\r\n\r\n" not in self.buffer:
            self.buffer += self._read()
        head, _, rest = self.buffer.partition(b"\r\n\r\n")
        headers = {}
        for line in head.decode("ascii").split("\r\n")[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        length = int(headers.get("content-length", "0"))
        while len(rest) < length:
            rest += self._read()
        self.buffer = rest[length:]
        return head.decode("ascii").split("\r\n")[0], headers, rest[:length]

    def close(self):
        self.sock.close()

    def _read(self):
        data = self.sock.recv(65536)
        assert data, "server closed the connection"
        return data


def group_listener(ns, port, group=PLACEHOLDER_GROUP):
    """A UDP socket in the namespace that has joined the group on the namespace's address."""
    s = ns.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("", port))
    mreq = struct.pack("4s4s", socket.inet_aton(group), socket.inet_aton(ns.address))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, mreq)
    return s


def parse_rtcp(data):
    """(type, ssrc, cname or None) for each packet of a compound RTCP packet."""
    packets = []
    while data:
        first, kind, length = struct.unpack("!BBH", data[:4])
        assert first >> 6 == 2
        body = data[4 : 4 + length * 4]
        ssrc = struct.unpack("!I", body[:4])[0]
        cname = None
        if kind == 202:
            assert body[4] == 1
            cname = body[6 : 6 + body[5]].decode("ascii")
        packets.append((kind, ssrc, cname))
        data = data[4 + length * 4 :]
    return packets


def receive(sock, timeout):
    """(data, source, arrival time); data and source are None after the time-out."""
    sock.settimeout(timeout)
    try:
        data, source = sock.recvfrom(2048)
        return data, source, time.monotonic()
    except socket.timeout:
        return None, None, time.monotonic()


def first_report(sock, sender, since, within=5):
    """The first RTCP report: a sender report and a CNAME from `sender`, arriving less than `within`
    seconds after `since`. Returns (ssrc, cname, arrival time)."""
    data, source, arrived = receive(sock, 10)
    assert data is not None, "no RTCP report"
    assert source[0] == sender
    assert arrived - since < within
    packets = parse_rtcp(data)
    assert [p[0] for p in packets] == [200, 202]
    assert packets[1][2], "empty CNAME"
    return packets[0][1], packets[1][2], arrived


def wait_for_bye(sock, timeout=10):
    """The packets of the first compound RTCP packet that ends with a BYE."""
    while True:
        data, _, _ = receive(sock, timeout)
        assert data is not None, "no RTCP BYE"
        packets = parse_rtcp(data)
        if packets[-1][0] == 203:
            return packets
