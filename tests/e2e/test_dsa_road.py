"""The default discovery road: the gateway (velmora_host.exe) with no UseBonjour setting uses the
program's own multicast-DNS engine. python3-zeroconf on 10.77.0.2 announces senders and browses the
gateway's registrations; a Python RTSP server answers the gateway's DESCRIBE; a SAP peer listens."""

import pytest

from harness import mdns_peer
from harness.dnssd_driver import service_info
from harness.rtsp_peer import RawClient
from harness.sap_peer import GROUP, PORT, peer_socket, received_from_gateway, sap_packet
from harness.velmora_host import VelmoraHost, pane_line
from harness.wait import wait_until
from test_sdp_retrieval import SenderServer, sdp

SETTINGS = {"Network": {"Interface": "10.77.0.1 (any adapter)"}}
SUBTYPES = {"Corvane": "_corvane_session._sub._rtsp._tcp.local.", "Zint": "_zint_session._sub._rtsp._tcp.local."}


def deletions(packets, name):
    return [p for p in packets if p[0] & 0x04 and f"s={name}\r\n".encode() in p]


@pytest.mark.parametrize("kind", ["Corvane", "Zint"])
def test_a_zeroconf_sender_is_found_described_announced_by_sap_and_withdrawn_once(net, gw, kind):
    server = SenderServer(net)
    sap = peer_socket(net)
    host = VelmoraHost(gw, SETTINGS)
    gw.wait_for_log(pane_line("Start stream browsing OK"))
    info = service_info("Studio A", "_rtsp._tcp.local.", 8554, subtype=SUBTYPES[kind].split(".")[0])
    with mdns_peer.zeroconf_in(net.peer) as zc:
        with net.peer.entered():
            zc.register_service(info, allow_name_change=False)
        gw.wait_for_log(pane_line("Add stream from Bonjour: Studio A"))
        gw.wait_for_log(pane_line("Received SDP for: Studio A"))
        assert server.arrivals("Studio%20A")
        host.command("sap on Bonjour Studio A")
        wait_until("the SAP announcement", lambda: any(
            b"s=Studio A\r\n" in p for p in received_from_gateway(sap, net, 0.5)), timeout=10)
        with net.peer.entered():
            zc.unregister_service(info)
        gw.wait_for_log(pane_line("Removed Stream Studio A (Type: Bonjour)"), timeout=10)
        assert len(deletions(received_from_gateway(sap, net, 3), "Studio A")) == 1
    assert host.streams() == []
    host.exit()
    server.close()


def test_a_sap_stream_republished_is_seen_by_zeroconf_described_and_found_back(net, gw):
    from zeroconf import ServiceBrowser

    sap = peer_socket(net)
    host = VelmoraHost(gw, SETTINGS)
    gw.wait_for_log(pane_line("Start SAP listening OK"))
    sap.sendto(sap_packet(sdp("Peer One").decode("cp1252")), (GROUP, PORT))
    host.wait_for_streams(lambda t: any(s["kind"] == "SAP" and s["name"] == "Peer One" for s in t))
    host.command("bonjour on SAP Peer One")
    name = "Peer One._rtsp._tcp.local."
    subtype = SUBTYPES["Corvane"]
    found = []
    with mdns_peer.zeroconf_in(net.peer) as zc:
        with net.peer.entered():
            browser = ServiceBrowser(zc, subtype, handlers=[lambda zeroconf, service_type, name, state_change:
                                                           found.append(name)])
        wait_until("zeroconf finds the republished stream", lambda: name in found, timeout=10)
        info = zc.get_service_info(subtype, name, timeout=3000)
        assert info is not None and info.parsed_addresses() == [net.gw.address] and info.port == 8080
        client = RawClient(net.peer, net.gw.address, info.port)
        status, _, body = client.request(
            f"DESCRIBE rtsp://{net.gw.address}:{info.port}/by-name/Peer%20One RTSP/1.0\r\nCSeq: 1\r\n\r\n")
        client.close()
        assert status == "RTSP/1.0 200 OK" and b"s=Peer One\r\n" in body
        browser.cancel()

    def found_back():
        # The SAP list's mark "A": the SAP stream wants DNS-SD and its twin found by DNS-SD (its own
        # registration, found back) has its twin's registration set.
        twins = {(t["kind"], t["name"]): t for t in (dict(part.split("=", 1) for part in line.split("\t")[1:])
                                                     for line in host.command("twins"))}
        sap_row, found_row = twins.get(("SAP", "Peer One")), twins.get(("Bonjour", "Peer One"))
        wanted = any(s["kind"] == "SAP" and s["dnssd"].startswith("1/") for s in host.streams())
        return (wanted and sap_row and found_row and sap_row["twinbonjour"] == "Peer One"
                and found_row["twinbonjourregistered"] == "1")

    wait_until("the gateway finds its registration back", found_back, timeout=10)
    host.exit()
