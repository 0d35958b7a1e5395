"""A SAP peer in the peer's namespace: its socket on the SAP group, the packets it sends and what it
hears from the gateway."""
import socket
import struct
import time

GROUP = "239.255.255.255"
PORT = 9875


def peer_socket(net):
    """The peer's socket on the group. Wine rebinds a program's socket bound to a unicast address to the
    wildcard address on that device, so the peer binds after the program, with SO_REUSEADDR."""
    s = net.peer.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("", PORT))
    mreq = struct.pack("4s4s", socket.inet_aton(GROUP), socket.inet_aton(net.peer.address))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, mreq)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(net.peer.address))
    s.settimeout(0.2)
    return s


def sap_packet(sdp, deletion=False, flags=0x20, auth=b"", payload_type=b"application/sdp\0"):
    first = flags | (0x04 if deletion else 0)
    header = bytes([first, len(auth) // 4, 0x12, 0x34]) + socket.inet_aton("10.77.0.2")
    return header + auth + payload_type + sdp.encode("cp1252")


def received_from_gateway(peer, net, seconds):
    """Every datagram that reaches the peer's socket from the gateway within `seconds`."""
    packets = []
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            data, source = peer.recvfrom(4096)
        except socket.timeout:
            continue
        if source[0] == net.gw.address:
            packets.append(data)
    return packets
