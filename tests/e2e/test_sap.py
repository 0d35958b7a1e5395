"""SAP under Wine: a Python peer on 10.77.0.2 announces, withdraws and sends malformed datagrams to the
gateway, and receives the gateway's own announcements and deletions byte for byte."""
import socket
import time

from harness.sap_peer import GROUP, PORT, peer_socket, received_from_gateway, sap_packet
from harness.velmora_host import VelmoraHost, pane_line
from harness.wait import wait_until

SETTINGS = {"Network": {"Interface": "10.77.0.1 (any adapter)", "UseBonjour": "off"}}


def pane_lines(log):
    marker = pane_line("")
    return [line[line.index(marker) + len(marker):] for line in log.splitlines() if marker in line]


def peer_sdp(name, session=4242, version=1):
    return (
        f"v=0\r\no=peer {session} {version} IN IP4 10.77.0.2\r\ns={name}\r\n"
        "c=IN IP4 239.77.1.1/32\r\nt=0 0\r\nm=audio 5004 RTP/AVP 98\r\na=rtpmap:98 L24/48000/2\r\n"
    )


def test_peer_announcement_enters_and_its_deletion_removes_the_stream(net, gw):
    host = VelmoraHost(gw, SETTINGS)
    peer = peer_socket(net)
    gw.wait_for_log(pane_line("Start SAP listening OK"))

    peer.sendto(sap_packet(peer_sdp("Peer One")), (GROUP, PORT))
    gw.wait_for_log(pane_line("Received SAP announce for: Peer One"))
    table = host.wait_for_streams(lambda t: any(s["name"] == "Peer One" for s in t))
    [stream] = table
    assert stream["kind"] == "SAP" and stream["alive"] == "1"
    assert stream["origin"] == "peer 4242 1 IN IP4 10.77.0.2"
    assert stream["connection"] == "239.77.1.1/32"
    assert stream["originaddress"] == "10.77.0.2"

    peer.sendto(sap_packet(peer_sdp("Peer One"), deletion=True), (GROUP, PORT))
    gw.wait_for_log(pane_line("Removed Stream Peer One (Type: SAP)"))
    assert host.streams() == []
    log = gw.log_text()
    assert pane_line("Received SAP delete for: Peer One") in log
    host.exit()


def test_each_malformed_datagram_gives_its_own_line_and_nothing_else(net, gw):
    host = VelmoraHost(gw, SETTINGS)
    peer = peer_socket(net)
    gw.wait_for_log(pane_line("Start SAP listening OK"))
    before = len(pane_lines(gw.log_text()))

    sdp = peer_sdp("Bad")
    full_sdp = peer_sdp("Full")
    full_sdp += "a=x-pad:" + "p" * (1024 - 24 - len(full_sdp) - len("a=x-pad:") - 2) + "\r\n"
    full = sap_packet(full_sdp)
    assert len(full) == 1024
    datagrams = [
        (b"\x20\x00\x12\x34\x0a\x4d\x00", "Received invalid SAP message - ignoring (size 7 Bytes)"),
        (sap_packet(sdp, flags=0x23), "Received encrypted SAP message - ignoring."),
        (sap_packet(sdp, flags=0x21), "Received compressed SAP message - ignoring."),
        (sap_packet(sdp, flags=0x30), "Received SAP IPv6 message - ignoring."),
        (sap_packet(sdp.replace("s=Bad", "s=")), None),  # no name: dropped quietly
        (sap_packet(sdp.replace("o=peer 4242 1 IN IP4 10.77.0.2", "o=")), None),  # no origin
        (sap_packet("v=0\r\n" + "a=" + "x" * 1100 + "\r\n" + sdp), None),  # longer than 1024 bytes
        (sap_packet(sdp, payload_type=b"application/sdp"), None),  # the type text has no end
        (full, "Received SAP announce for: Full"),
        (sap_packet(peer_sdp("Authenticated", 77), auth=b"AUTHDATA"), "Received SAP announce for: Authenticated"),
        (sap_packet(peer_sdp("Untyped", 78), payload_type=b""), "Received SAP announce for: Untyped"),
        (sap_packet(peer_sdp("Marker", 79)), "Received SAP announce for: Marker"),
    ]
    for data, _ in datagrams:
        peer.sendto(data, (GROUP, PORT))
        time.sleep(0.05)
    log = gw.wait_for_log(pane_line("Received SAP announce for: Marker"))
    assert pane_lines(log)[before:] == [line for _, line in datagrams if line is not None]
    names = sorted(s["name"] for s in host.streams())
    assert names == ["Authenticated", "Full", "Marker", "Untyped"]
    host.exit()


def expected_announcement(sdp_bytes):
    # Hash 4660 (0x1234) low byte first, origin 10.77.0.1 from the origin line.
    return bytes([0x20, 0x00, 0x34, 0x12, 10, 77, 0, 1]) + b"application/sdp\0" + sdp_bytes


def test_sdp_stream_is_announced_withdrawn_once_and_heard_back_as_its_twin(net, gw):
    host = VelmoraHost(gw, SETTINGS)
    peer = peer_socket(net)
    gw.wait_for_log(pane_line("Start SAP listening OK"))

    lines = [
        "v=0",
        "o=- 4660 1 IN IP4 10.77.0.1",
        "s=Local Studio",
        "c=IN IP4 239.77.2.2/32",
        "t=0 0",
        "a=recvonly",
        "m=audio 5004 RTP/AVP 98",
        "a=rtpmap:98 L24/48000/2",
    ]
    host.command("add-sdp " + "\\n".join(lines))
    host.command("sap on SDP Local Studio")
    # Normalised (the default): the session attribute follows the m line.
    normalized = [lines[i] for i in (0, 1, 2, 3, 4, 6, 5, 7)]
    expected = expected_announcement(("\r\n".join(normalized) + "\r\n").encode())

    packets = received_from_gateway(peer, net, 3.0)
    assert packets == [expected]
    log = gw.wait_for_log(pane_line("Send SAP announce for: Local Studio"))
    assert pane_line(f"Create SAP announce for: Local Studio, size is {len(expected)}") in log

    # The gateway hears itself; the heard stream is linked to the announcing one.
    gw.wait_for_log(pane_line("Received SAP announce for: Local Studio"))
    table = host.wait_for_streams(lambda t: len(t) == 2)
    assert sorted(s["kind"] for s in table) == ["SAP", "SDP"]
    def twins():
        found = {t["kind"]: t for t in (host._fields(x) for x in host.command("twins"))}
        return found if found["SAP"]["twinsapactive"] == "1" else None

    assert wait_until("the twin link", twins, 10)["SDP"]["twinsapactive"] == "0"

    host.command("sap off SDP Local Studio")
    packets = received_from_gateway(peer, net, 4.0)
    assert packets == [bytes([0x24]) + expected[1:]]
    gw.wait_for_log(pane_line("Removed Stream Local Studio (Type: SAP)"))
    log = gw.log_text()
    assert log.count(pane_line("Send SAP delete for: Local Studio")) == 1
    assert log.count(pane_line("Send SAP announce for: Local Studio")) == 1
    host.exit()


def test_taken_sap_port_is_reported_and_the_gateway_runs_on(net, gw):
    # A socket of another program holds the port on every address of the gateway's side.
    blocker = net.gw.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    blocker.bind(("", PORT))
    try:
        host = VelmoraHost(gw, SETTINGS)
        assert host.init_result == 1
        host.command("add-sdp v=0\\no=- 1 1 IN IP4 10.77.0.1\\ns=Unheard\\nt=0 0\\n")
        host.command("sap on SDP Unheard")
        log = gw.wait_for_log(pane_line("Send SAP announce for: Unheard"))
        assert "CMulticastSocket::CreateReceivingSocket() Create failed, ::GetLastError() = 10048" in log
        assert "CVelmoraManager::Init() JoinGroup failed for general socket 239.255.255.255:9875" in log
        assert pane_line("Start SAP listening failed") in log
        assert pane_line("Start SAP listening OK") not in log
        host.exit()
    finally:
        blocker.close()
