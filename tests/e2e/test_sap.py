"""SAP under Wine: a Python peer on 10.77.0.2 announces and withdraws to the gateway and receives the
gateway's own announcements and deletions byte for byte (the malformed datagrams one by one: the
packet reader's unit tests)."""
import socket

from harness.sap_peer import GROUP, PORT, group_socket, peer_socket, received, received_from_gateway, sap_packet
from harness.velmora_host import VelmoraHost, pane_line
from harness.wait import wait_until

SETTINGS = {"Network": {"Interface": "10.77.0.1 (any adapter)", "UseBonjour": "off"}}


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
    # A socket of another program holds the port on every address of the gateway's side, without
    # sharing it. A socket that asks to share a port held that way is refused with WSAEACCES.
    blocker = net.gw.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    blocker.bind(("", PORT))
    try:
        host = VelmoraHost(gw, SETTINGS)
        assert host.init_result == 1
        host.command("add-sdp v=0\\no=- 1 1 IN IP4 10.77.0.1\\ns=Unheard\\nt=0 0\\n")
        host.command("sap on SDP Unheard")
        log = gw.wait_for_log(pane_line("Send SAP announce for: Unheard"))
        assert "CMulticastSocket::CreateReceivingSocket() Create failed, ::GetLastError() = 10013" in log
        assert "CVelmoraManager::Init() JoinGroup failed for general socket 239.255.255.255:9875" in log
        assert pane_line("Start SAP listening failed") in log
        assert pane_line("Start SAP listening OK") not in log
        host.exit()
    finally:
        blocker.close()


def test_sap_port_is_shared_with_a_listener_that_was_there_first(net, gw):
    # Another SAP listener on the gateway's PC, as a SAP browser opens it, started first.
    listener = group_socket(net.gw, net.gw.address)
    try:
        host = VelmoraHost(gw, SETTINGS)
        peer = peer_socket(net)
        log = gw.wait_for_log(pane_line("Start SAP listening OK"))
        assert "CMulticastSocket::CreateReceivingSocket() Create failed" not in log

        # A peer's announcement reaches both listeners.
        announcement = sap_packet(peer_sdp("Peer Shared"))
        peer.sendto(announcement, (GROUP, PORT))
        host.wait_for_streams(lambda t: [s["name"] for s in t] == ["Peer Shared"])
        assert received(listener, 2.0, lambda data, source: data == announcement)

        # The gateway's own announcement reaches the other listener and the peer.
        host.command("add-sdp v=0\\no=- 4661 1 IN IP4 10.77.0.1\\ns=Shared Local\\nt=0 0\\n")
        host.command("sap on SDP Shared Local")
        from_gateway = received(listener, 3.0, lambda data, source: source == net.gw.address)
        assert len(from_gateway) == 1 and b"s=Shared Local\r\n" in from_gateway[0]
        assert received_from_gateway(peer, net, 1.0) == from_gateway
        gw.wait_for_log(pane_line("Received SAP announce for: Shared Local"))
        host.exit()
    finally:
        listener.close()


def large_sdp(name, origin, channels=8):
    """An SDP of about 2 KB: a multi-channel stream with a label per channel."""
    lines = ["v=0", f"o={origin}", f"s={name}", "c=IN IP4 239.77.3.3/32", "t=0 0"]
    lines += [f"a=x-channel-label:{i}:Studio microphone {i} left and right, room {i}, desk {i}" for i in range(24)]
    lines += ["m=audio 5004 RTP/AVP 98", f"a=rtpmap:98 L24/48000/{channels}"]
    return lines


def test_large_announcement_is_listed_and_a_deletion_of_its_origin_line_alone_removes_it(net, gw):
    host = VelmoraHost(gw, SETTINGS)
    peer = peer_socket(net)
    gw.wait_for_log(pane_line("Start SAP listening OK"))

    sdp = "\r\n".join(large_sdp("Peer Large", "peer 5151 1 IN IP4 10.77.0.2")) + "\r\n"
    packet = sap_packet(sdp)
    assert 1900 < len(packet) < 2500
    peer.sendto(packet, (GROUP, PORT))
    gw.wait_for_log(pane_line("Received SAP announce for: Peer Large"))
    [stream] = host.wait_for_streams(lambda t: [s["name"] for s in t] == ["Peer Large"])
    assert stream["alive"] == "1" and stream["origin"] == "peer 5151 1 IN IP4 10.77.0.2"

    # RFC 2974's deletion: the payload is the origin line alone.
    peer.sendto(sap_packet("o=peer 5151 1 IN IP4 10.77.0.2\r\n", deletion=True), (GROUP, PORT))
    gw.wait_for_log(pane_line("Removed Stream Peer Large (Type: SAP)"))
    assert host.streams() == []
    assert pane_line("Received SAP delete for: Peer Large") in gw.log_text()
    host.exit()


def test_malformed_packets_get_a_red_line_once_a_minute_per_sender(net, gw):
    host = VelmoraHost(gw, SETTINGS)
    peer = peer_socket(net)
    gw.wait_for_log(pane_line("Start SAP listening OK"))

    no_name = sap_packet("v=0\r\no=peer 1 1 IN IP4 10.77.0.2\r\nt=0 0\r\n")
    for _ in range(20):
        peer.sendto(no_name, (GROUP, PORT))
    peer.sendto(sap_packet("", auth=b"AUTH"), (GROUP, PORT))
    peer.sendto(sap_packet(peer_sdp("After The Junk")), (GROUP, PORT))
    gw.wait_for_log(pane_line("Received SAP announce for: After The Junk"))
    log = gw.log_text()
    refused = pane_line("Received invalid SAP message - ignoring (announcement without s= or o=)")
    assert log.count(refused) == 1
    assert pane_line("Received invalid SAP message - ignoring (empty payload)") not in log
    host.exit()


def test_own_large_announcement_is_heard_back(net, gw):
    host = VelmoraHost(gw, SETTINGS)
    peer = peer_socket(net)
    gw.wait_for_log(pane_line("Start SAP listening OK"))

    host.command("add-sdp " + "\\n".join(large_sdp("Local Large", "- 4662 1 IN IP4 10.77.0.1")))
    host.command("sap on SDP Local Large")
    log = gw.wait_for_log(pane_line("Send SAP announce for: Local Large"))
    [size] = [int(line.rsplit(" ", 1)[1]) for line in log.splitlines()
              if pane_line("Create SAP announce for: Local Large, size is ") in line]
    assert size > 1900
    packets = received_from_gateway(peer, net, 3.0)
    assert [len(p) for p in packets] == [size]
    gw.wait_for_log(pane_line("Received SAP announce for: Local Large"))
    table = host.wait_for_streams(lambda t: len(t) == 2)
    assert sorted(s["kind"] for s in table) == ["SAP", "SDP"]
    host.exit()
