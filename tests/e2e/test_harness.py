"""The harness itself: a Windows program in the program's namespace and a Linux peer exchange multicast."""
import socket
import time

from harness.sap_peer import GROUP, PORT, peer_socket


def test_probe_and_peer_exchange_multicast(net, gw):
    peer = peer_socket(net)
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
