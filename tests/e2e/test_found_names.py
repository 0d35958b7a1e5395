"""Names found by DNS-SD as a hostile or foreign-language sender gives them, on both discovery roads
("APPLE": the in-process daemon; default: the program's own engine). Raw multicast-DNS datagrams from
10.77.0.2 announce instances whose names hold CR, LF, TAB and UTF-8 letters; the program (Velmora.exe,
driven by the dialog driver) must send a DESCRIBE whose request line carries them escaped, and show them
escaped, never raw, in its list and its log. Also: a republished stream whose registration is renamed
after a conflict with a zeroconf peer is served under its new name."""
import re
import socket
import struct
import time
import urllib.parse

import pytest

from harness import mdns_peer
from harness.dnssd_driver import service_info, zeroconf_peer
from harness.rtsp_peer import RawClient
from harness.sap_peer import GROUP, PORT as SAP_PORT, peer_socket, sap_packet
from harness.velmora_host import VelmoraHost, pane_line
from harness.wait import wait_until
from test_sdp_retrieval import RtspTestServer, reply, sdp

LIST_CORVANE = 1005
SENDER_PORT = 8554
# name as announced -> (escaped path of the DESCRIBE, list cell and log text)
NAMES = {
    "HX\r\nInjected: 1": ("HX%0d%0aInjected%3a%201", "HX\\r\\nInjected: 1"),
    "Tab\there": ("Tab%09here", "Tab\\there"),
    "B\u00fchne S\u00fcd": ("B%c3%bchne%20S%c3%bcd", "B\u00fchne S\u00fcd"),
}
ROADS = {
    "APPLE": {"Network": {"Interface": "10.77.0.1 (any adapter)", "UseBonjour": "APPLE"}},
    "DSA": {"Network": {"Interface": "10.77.0.1 (any adapter)"}},
}


class NamedSenders(RtspTestServer):
    """Answers every DESCRIBE with an SDP of its own session (a plain name, its own origin)."""

    def _answer(self, conn, path):
        paths = [p for p, _ in NAMES.values()]
        number = paths.index(path) if path in paths else 9
        body = sdp(f"Sender {number}").replace(b" 4711 ", f" {4800 + number} ".encode()).replace(
            b"239.69.1.2", f"239.69.1.{10 + number}".encode())
        head, body = reply("200 OK", body)
        conn.sendall(head + body)


def label(text):
    data = text.encode("utf-8")
    return bytes([len(data)]) + data


def wire(*labels):
    return b"".join(label(text) for text in labels) + b"\0"


def announcement(names, host="sender1", address="10.77.0.2", port=SENDER_PORT):
    """One response holding every instance: the shared PTR records (no cache-flush bit, RFC 6762
    section 10.2), each instance's SRV and the host's address."""
    services = wire("_services", "_dns-sd", "_udp", "local")
    base = wire("_rtsp", "_tcp", "local")
    subtype = wire("_corvane_session", "_sub", "_rtsp", "_tcp", "local")
    host_name = wire(host, "local")
    records = [mdns_peer.record(services, 12, base, 4500, rclass=1)]
    for name in names:
        instance = wire(name, "_rtsp", "_tcp", "local")
        records += [mdns_peer.record(base, 12, instance, 4500, rclass=1),
                    mdns_peer.record(subtype, 12, instance, 4500, rclass=1),
                    mdns_peer.record(instance, 33, struct.pack(">HHH", 0, 0, port) + host_name),
                    mdns_peer.record(instance, 16, b"\0", 4500)]
    records.append(mdns_peer.record(host_name, 1, socket.inet_aton(address)))
    return mdns_peer.header(0x8400, an=len(records)) + b"".join(records)


def request_bytes(path):
    return (f"DESCRIBE rtsp://10.77.0.2:{SENDER_PORT}/by-name/{path} RTSP/1.0\r\nconnection: Keep-Alive\r\n"
            "CSeq: 0\r\nUser-Agent: CORVANE VELMORA \r\nAccept: application/sdp\r\n\r\n").encode("ascii")


@pytest.mark.parametrize("road", sorted(ROADS))
def test_found_names_go_out_escaped_and_show_escaped_in_the_list_and_the_log(net, gw, road):
    from harness.dialog_driver import Dialog

    server = NamedSenders(net, SENDER_PORT)
    dialog = Dialog(gw, ROADS[road])
    gw.wait_for_log(pane_line("Start stream browsing OK"))
    sender = mdns_peer.raw_socket(net.peer)
    datagram = announcement(NAMES)

    def all_described():
        mdns_peer.send(sender, datagram)  # again each round: a cached copy is not waited for
        log = gw.log_text()
        return all(pane_line(f"Received SDP for: {shown}") in log for _, shown in NAMES.values())

    try:
        wait_until("every name described", all_described, timeout=40)
        # Exactly one request line each, the name's bytes escaped.
        for path, _ in NAMES.values():
            raw = server.raw_requests(path)
            assert raw and raw[0] == request_bytes(path), (path, raw[:1])
        assert all(raw.count(b"\r\n") == 6 for raw in (r for _, _, r in server.requests))

        # The list: control characters shown escaped in the name and the URL cells.
        def rows():
            return {row[0]: row for row in dialog.rows(LIST_CORVANE) if row}

        # The lists follow the table within about 0.2 s.
        wait_until("the rows filled", lambda: all(rows().get(shown, [""] * 2)[1] for _, shown in NAMES.values()),
                   timeout=10)
        rows = rows()
        for name, (_, shown) in NAMES.items():
            assert shown in rows, (shown, sorted(rows))
            assert rows[shown][1] == "10.77.0.2"
            assert rows[shown][4] == f"rtsp://10.77.0.2:{SENDER_PORT}/by-name/{shown}"
        dialog.screenshot_png(f"found-names-{road.lower()}")
    finally:
        dialog.command("syscommand", "close")
        assert dialog.wait_until_ended() == 0
        server.close()
        sender.close()

    # The log: each found name on its lines escaped; every line of the file is one whole line.
    log = gw.log_text()
    for _, shown in NAMES.values():
        assert pane_line(f"Add stream from Bonjour: {shown}") in log
    lines = log.split("\r\n")
    assert lines[-1] == ""
    broken = [line for line in lines[:-1] if not re.match(r"\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d,\d{3} ", line)]
    assert broken == [], broken[:5]
    assert "\t" not in log and "\n" not in log.replace("\r\n", "")


def test_a_registration_renamed_on_a_conflict_is_served_under_its_new_name(net, gw):
    settings = {"Network": {"Interface": "10.77.0.1 (any adapter)", "UseBonjour": "APPLE", "RTSPPort": "8554"},
                "Settings": {"DoSDPSort": "false"}}
    host = VelmoraHost(gw, settings)
    gw.wait_for_log(pane_line("Start stream browsing OK"))
    body = sdp("C7Repub")
    with zeroconf_peer(net) as zc:
        # The name is the peer's first: the gateway's probe meets it and renames its registration.
        zc.register_service(service_info("C7Repub", "_rtsp._tcp.local.", 554), allow_name_change=False)
        republish(net, host, "C7Repub", body)
        log = gw.wait_for_log(pane_line("DNS-SD registration C7Repub renamed to C7Repub (2) after a name conflict"),
                              timeout=20)
        assert log.count("renamed to C7Repub (2)") == 1

        # What a receiver that resolves the registration it sees asks for.
        info = zc.get_service_info("_rtsp._tcp.local.", "C7Repub (2)._rtsp._tcp.local.", timeout=5000)
        assert info is not None and info.port == 8554 and info.parsed_addresses() == [net.gw.address]

        def describe(path):
            client = RawClient(net.peer, net.gw.address, 8554)
            try:
                target = f"rtsp://{net.gw.address}:8554/by-name/{path}"
                return client.request(f"DESCRIBE {target} RTSP/1.0\r\nCSeq: 1\r\nAccept: application/sdp\r\n\r\n")
            finally:
                client.close()

        wait_until("the new name served", lambda: describe(urllib.parse.quote("C7Repub (2)"))[0] == "RTSP/1.0 200 OK",
                   timeout=5)
        for path in ("C7Repub%20(2)", "C7Repub%20%282%29", "C7Repub"):
            status, _, received = describe(path)
            assert status == "RTSP/1.0 200 OK" and received == body, path
        # Withdrawn: neither name is served any more.
        host.command("bonjour off SAP C7Repub")
        wait_until("both names withdrawn", lambda: describe("C7Repub%20(2)")[0].startswith("RTSP/1.0 404") and
                   describe("C7Repub")[0].startswith("RTSP/1.0 404"), timeout=5)
    host.exit()


def republish(net, host, name, body):
    """A stream heard by SAP with that SDP, switched on for DNS-SD."""
    sap = peer_socket(net)
    sap.sendto(sap_packet(body.decode("cp1252")), (GROUP, SAP_PORT))
    host.wait_for_streams(lambda table: any(s["kind"] == "SAP" for s in table))
    host.command("bonjour on SAP " + name)


def seen_by_zeroconf(net, instance):
    """The service info of the instance once zeroconf browsing the Corvane subtype finds it."""
    from zeroconf import ServiceBrowser

    subtype = "_corvane_session._sub._rtsp._tcp.local."
    name = f"{instance}._rtsp._tcp.local."
    found = []
    with mdns_peer.zeroconf_in(net.peer) as zc:
        with net.peer.entered():
            browser = ServiceBrowser(zc, subtype, handlers=[lambda zeroconf, service_type, name, state_change:
                                                           found.append(name)])
        wait_until(f"zeroconf finds {instance!r}", lambda: name in found, timeout=15)
        info = zc.get_service_info(subtype, name, timeout=3000)
        browser.cancel()
    assert info is not None and info.parsed_addresses() == [net.gw.address]
    return info


def described(net, port, paths, body):
    client = RawClient(net.peer, net.gw.address, port)
    try:
        for path in paths:
            status, _, received = client.request(
                f"DESCRIBE rtsp://{net.gw.address}:{port}/by-name/{path} RTSP/1.0\r\nCSeq: 1\r\n\r\n")
            assert status == "RTSP/1.0 200 OK" and received == body, path
    finally:
        client.close()


@pytest.mark.parametrize("road", sorted(ROADS))
def test_a_republished_name_goes_out_as_utf8_and_is_served_under_it(net, gw, road):
    host = VelmoraHost(gw, ROADS[road])
    gw.wait_for_log(pane_line("Start SAP listening OK"))
    # Announced by SAP in code page 1252 (not UTF-8): the stream keeps that SDP byte for byte.
    body = sdp("B\u00fchne S\u00fcd")
    assert b"\xfc" in body
    republish(net, host, "B\u00fchne S\u00fcd", body)
    info = seen_by_zeroconf(net, "B\u00fchne S\u00fcd")
    described(net, info.port, ("B%c3%bchne%20S%c3%bcd", "B%C3%BChne%20S%C3%BCd"), body)
    host.exit()


def test_a_name_the_daemon_refuses_gives_one_line_and_the_program_goes_on(net, gw):
    host = VelmoraHost(gw, ROADS["APPLE"])
    gw.wait_for_log(pane_line("Start stream browsing OK"))
    name = "Long" + "x" * 66  # 70 bytes: more than a DNS label holds
    republish(net, host, name, sdp(name))
    line = pane_line(f"Register stream {name} by DNS-SD failed: DNSServiceRegister error -65540")
    gw.wait_for_log(line, timeout=10)
    time.sleep(3)  # tried again meanwhile, once a second, without another line
    assert gw.log_text().count(line) == 1
    assert host.streams()[0]["dnssd"] == "1/0"
    host.exit()


def test_a_name_the_dsa_engine_cuts_is_served_under_the_cut_name(net, gw):
    host = VelmoraHost(gw, ROADS["DSA"])
    gw.wait_for_log(pane_line("Start SAP listening OK"))
    name = "Long Stream " + "y" * 48  # 60 bytes, announced as its first 47
    body = sdp(name)
    republish(net, host, name, body)
    info = seen_by_zeroconf(net, name[:47])
    described(net, info.port, (urllib.parse.quote(name[:47]), urllib.parse.quote(name)), body)
    host.exit()


def test_found_names_the_dsa_engine_cuts_end_on_a_character_and_a_namesake_gets_a_red_line(net, gw):
    """Two senders whose UTF-8 names share their first 46 bytes, the 47th being the first byte of a
    two-byte letter: the first is listed under the 46 bytes, never half a letter; the second is not
    taken, and a red line says so."""
    server = NamedSenders(net, SENDER_PORT)
    host = VelmoraHost(gw, ROADS["DSA"])
    gw.wait_for_log(pane_line("Start stream browsing OK"))
    base = "Regie " + "\u00e4" * 20  # 46 bytes
    sender = mdns_peer.raw_socket(net.peer)
    datagram = announcement([base + "\u00fcst links", base + "\u00fcst rechts"])

    def described():
        mdns_peer.send(sender, datagram)
        return pane_line(f"Received SDP for: {base}") in gw.log_text()

    try:
        wait_until("the first sender described", described, timeout=40)
        log = gw.wait_for_log(pane_line(
            f"DSA discovery: found sender not taken, its name cut to 47 bytes is another sender's: {base} ("),
            timeout=10)
        assert log.count(pane_line("Add stream from Bonjour: ")) == 1
        assert log.count(pane_line("DSA discovery: found sender not taken")) == 1
        assert "name cut to 47 bytes = Regie " in log  # the engine's own line, in its 8-bit text
        assert [s["name"] for s in host.streams() if s["kind"] == "Bonjour"] == [base]
        path = "".join(chr(b) if chr(b).isascii() and chr(b).isalnum() else f"%{b:02x}" for b in base.encode())
        assert server.raw_requests(path)
    finally:
        host.exit()
        server.close()
        sender.close()
