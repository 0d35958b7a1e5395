"""The harness itself: a Windows program in the program's namespace and a Linux peer exchange multicast."""
import socket
import struct
import time

GROUP = "239.255.255.255"
PORT = 9875


def peer_multicast_socket(net):
    s = net.peer.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("", PORT))
    mreq = struct.pack("4s4s", socket.inet_aton(GROUP), socket.inet_aton(net.peer.address))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, mreq)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(net.peer.address))
    s.settimeout(0.2)
    return s


def test_probe_and_peer_exchange_multicast(net, gw):
    peer = peer_multicast_socket(net)
    probe = gw.start("mcast_probe.exe", net.gw.address, GROUP, PORT, "hello from wine", 30)
    heard = None
    deadline = time.monotonic() + 30
    # Both sides send until each has heard the other (the probe exits once it has).
    while (heard is None or probe.poll() is None) and time.monotonic() < deadline:
        peer.sendto(b"hello from linux", (GROUP, PORT))
        try:
            while heard is None:
                data, source = peer.recvfrom(2048)
                if source[0] == net.gw.address:
                    heard = data
        except socket.timeout:
            pass
    out, _ = probe.communicate(timeout=40)
    assert heard == b"hello from wine"
    assert probe.returncode == 0, out
    assert 'received "hello from linux" from 10.77.0.2' in out


def test_namespaces_are_isolated(net):
    # Nothing of the test network is visible outside its namespaces.
    links = net.gw.run("ip", "-o", "addr").stdout
    assert "10.77.0.1/24" in links
    assert "10.77.0.2" not in links
