"""A SAP peer in the peer's namespace: its socket on the SAP group, the packets it sends and what it
hears from the gateway."""
import socket
import struct
import time

GROUP = "239.255.255.255"
PORT = 9875


def group_socket(namespace, interface_address):
    """A socket on the group in the namespace, joined on the interface of that address. Wine rebinds a
    program's socket bound to a unicast address to the wildcard address on that device, so a socket
    here binds the wildcard address with SO_REUSEADDR and shares the port with the program."""
    s = namespace.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("", PORT))
    mreq = struct.pack("4s4s", socket.inet_aton(GROUP), socket.inet_aton(interface_address))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, mreq)
    s.settimeout(0.2)
    return s


def peer_socket(net):
    """The peer's socket on the group (bound after the program's), sending from the peer's address."""
    s = group_socket(net.peer, net.peer.address)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(net.peer.address))
    return s


def sap_packet(sdp, deletion=False, flags=0x20, auth=b"", payload_type=b"application/sdp\0"):
    first = flags | (0x04 if deletion else 0)
    header = bytes([first, len(auth) // 4, 0x12, 0x34]) + socket.inet_aton("10.77.0.2")
    return header + auth + payload_type + sdp.encode("cp1252")


def received(sock, seconds, wanted=lambda data, source: True):
    """Every datagram that reaches the socket within `seconds` for which `wanted(data, source address)`
    holds."""
    packets = []
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            data, source = sock.recvfrom(4096)
        except socket.timeout:
            continue
        if wanted(data, source[0]):
            packets.append(data)
    return packets


def received_from_gateway(peer, net, seconds):
    """Every datagram that reaches the peer's socket from the gateway within `seconds`."""
    return received(peer, seconds, lambda data, source: source == net.gw.address)
