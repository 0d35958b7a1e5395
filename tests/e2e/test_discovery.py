"""Discovery and advertising in "APPLE" mode: the gateway (test host, UseBonjour=APPLE) finds
python3-zeroconf senders on 10.77.0.2, fetches their SDP from a Python RTSP server there and
announces it by SAP; and it registers its own services and republished streams for zeroconf."""
import datetime
import socket
import time

from harness.dnssd_driver import service_info, zeroconf_peer
from harness.rtsp_peer import RawClient
from harness.sap_peer import GROUP, PORT as SAP_PORT, peer_socket, received_from_gateway, sap_packet
from harness.velmora_host import VelmoraHost, pane_line
from harness.wait import wait_until
from test_sdp_retrieval import SenderServer, sdp, stamps

RTSP = "_rtsp._tcp.local."
CORVANE = "_corvane_session"
ZINT = "_zint_session"
SETTINGS = {"Network": {"Interface": "10.77.0.1 (any adapter)", "UseBonjour": "APPLE", "RTSPPort": "8554"},
            "Settings": {"DoSDPSort": "false"}}


class Collector:
    def __init__(self):
        self.added, self.removed = [], []

    def add_service(self, zc, type_, name):
        self.added.append((time.monotonic(), name))

    def remove_service(self, zc, type_, name):
        self.removed.append((time.monotonic(), name))

    def update_service(self, zc, type_, name):
        pass


def start_host(gw, settings=SETTINGS):
    host = VelmoraHost(gw, settings)
    gw.wait_for_log("CVelmoraManager::Init() start CorvaneManager")
    return host


def exit_host(host, gw, browsing=True):
    """Exit: the discovery manager's lines in order, no stuck thread, prompt end."""
    seconds = host.exit(timeout=25)
    assert seconds < 20
    log = gw.wait_for_log("CVelmoraManager::Exit() done")
    position = 0
    for text in ("CCorvaneManager::Exit() close StreamBrowser", "CStreamBrowser::Close( ThreadID = " if browsing else "",
                 "CCorvaneManager::Exit() close StreamProvider", "CCorvaneManager::Exit() close BonjourHandler",
                 "CCorvaneManager::Exit() done"):
        position = log.index(text, position)
    assert "thread stop failed" not in log and "cannot stop processing" not in log
    return log


def test_senders_are_found_described_announced_and_withdrawn(net, gw):
    server = SenderServer(net)
    sap = peer_socket(net)
    host = start_host(gw)
    assert host.init_result == 1
    gw.wait_for_log(pane_line("Start stream browsing OK"))
    with zeroconf_peer(net) as zc:
        studio = service_info("Studio A", RTSP, 8554, subtype=CORVANE)
        studio.server = "sender1.local."
        zint = service_info("Studio Z", RTSP, 8554, subtype=ZINT)
        ghost = service_info("Ghost", RTSP, 8554, subtype=CORVANE)
        ghost.server, ghost.addresses = "ghost.local.", []
        zc.register_service(service_info("Some Camera", RTSP, 554))  # lists the base type
        for info in (studio, zint, ghost):
            zc.register_service(info)
        # A sender that leaves 300 ms after it came leaves no stream behind.
        blink = service_info("Blink", RTSP, 8554, subtype=CORVANE)
        zc.register_service(blink)
        time.sleep(0.3)
        zc.unregister_service(blink)

        log = gw.wait_for_log(pane_line("Received SDP for: Studio A"), timeout=30)
        position = 0
        for text in ("found service _rtsp on interface ", "start browsing for ZintSessions on interface ",
                     "start browsing for CorvaneSessions on interface ", "post delayed streaminfo Studio A",
                     pane_line("Add stream from Bonjour: Studio A"), pane_line("Received SDP for: Studio A")):
            position = log.index(text, position)
        delay = stamps(log, pane_line("Add stream from Bonjour: Studio A"))[0] - \
            stamps(log, "post delayed streaminfo Studio A")[0]
        assert datetime.timedelta(milliseconds=1000) <= delay <= datetime.timedelta(milliseconds=1200)
        assert server.raw_requests("Studio%20A")[0].startswith(
            b"DESCRIBE rtsp://10.77.0.2:8554/by-name/Studio%20A RTSP/1.0\r\n")
        gw.wait_for_log(pane_line("Received SDP for: Studio Z"))
        # No address record: the lookup times out after about 5 s and nothing is described.
        gw.wait_for_log("errorCode = -65568, hostname = , context", timeout=15)
        time.sleep(1.5)
        table = {s["name"]: s for s in host.streams()}
        assert sorted(table) == ["Ghost", "Studio A", "Studio Z"], table
        assert not server.raw_requests("Ghost")
        assert table["Studio A"]["origin"] == "- 4711 1 IN IP4 10.77.0.2"
        assert table["Studio A"]["connection"].startswith("239.69.1.2")

        # Announced by SAP with the sender's SDP; one deletion when the sender leaves.
        host.command("sap on Bonjour Studio A")
        announced = received_from_gateway(sap, net, 1.5)
        assert len(announced) == 1 and announced[0].endswith(sdp("Studio A"))
        zc.unregister_service(studio)
        gw.wait_for_log(pane_line("Removed Stream Studio A (Type: Bonjour)"), timeout=10)
        after = received_from_gateway(sap, net, 2.0)
        assert len(after) == 1 and after[0][0] & 0x04 and after[0].endswith(sdp("Studio A"))
        log = gw.log_text()
        assert log.count(pane_line("Send SAP delete for: Studio A")) == 1
        assert log.index(pane_line("Remove stream from Bonjour: Studio A")) < log.index(
            pane_line("Removed Stream Studio A (Type: Bonjour)"))
    exit_host(host, gw)


def test_republished_stream_is_registered_served_and_withdrawn(net, gw):
    from zeroconf import ServiceBrowser

    host = start_host(gw)
    sap = peer_socket(net)
    studio_b = sdp("Studio B").decode("cp1252")
    sap.sendto(sap_packet(studio_b), (GROUP, SAP_PORT))
    host.wait_for_streams(lambda table: [s["kind"] for s in table] == ["SAP"])
    state = host.state()
    with zeroconf_peer(net) as zc:
        found = Collector()
        browser = ServiceBrowser(zc, f"{CORVANE}._sub.{RTSP}", found)
        host.command("bonjour on SAP Studio B")
        wait_until("zeroconf sees Studio B", lambda: found.added, timeout=10)
        assert found.added[0][1] == f"Studio B.{RTSP}"
        info = zc.get_service_info(RTSP, f"Studio B.{RTSP}", timeout=3000)
        assert info.port == 8554
        assert info.server.endswith(".local.") and info.parsed_addresses() == [net.gw.address]
        assert info.text in (b"", b"\x00")

        client = RawClient(net.peer, net.gw.address, 8554)
        target = f"rtsp://{net.gw.address}:8554/by-name/Studio%20B"
        status, _, body = client.request(f"DESCRIBE {target} RTSP/1.0\r\nCSeq: 1\r\nAccept: application/sdp\r\n\r\n")
        client.close()
        assert status == "RTSP/1.0 200 OK" and body == sdp("Studio B")
        probe = net.peer.run("ffprobe", "-loglevel", "debug", "-rtsp_transport", "tcp", "-show_streams", target,
                             check=False, timeout=60)
        assert "s=Studio B" in probe.stdout + probe.stderr, probe.stderr

        # The gateway itself, under four types, under one name, on 8080.
        gateway = []
        for type_ in ("_http._tcp.local.", RTSP, "_corvane._sub._http._tcp.local.", f"_corvane._sub.{RTSP}"):
            names = Collector()
            gateway.append((ServiceBrowser(zc, type_, names), names))
            wait_until(f"the gateway under {type_}", lambda: names.added, timeout=10)
        gateway_names = {n.split(").", 1)[0] for _, names in gateway for _, n in names.added if "Studio" not in n}
        assert len(gateway_names) == 1 and gateway_names.pop().startswith("Velmora (on ")
        first = [n for _, n in gateway[0][1].added if n.startswith("Velmora (on ")][0]
        assert zc.get_service_info("_http._tcp.local.", first, timeout=3000).port == 8080

        host.command("bonjour off SAP Studio B")
        switched_off = time.monotonic()
        wait_until("Studio B gone", lambda: found.removed, timeout=5)
        assert found.removed[0][0] - switched_off < 1.0
        browser.cancel()
        # At exit the gateway says goodbye under every type.
        log = exit_host(host, gw)
        wait_until("the gateway's goodbyes",
                   lambda: all(any(n.startswith("Velmora (on ") for _, n in names.removed) for _, names in gateway),
                   timeout=5)
        for b, _ in gateway:
            b.cancel()
    assert "DNSServiceRegisterReply( ThreadID = " in log
    assert state["mode"] == "APPLE"


def test_without_a_daemon_or_with_discovery_off_sap_and_rtsp_go_on(net, gw):
    # The daemon's port is taken: the handler gives up after its wait, SAP works.
    blocker = net.gw.socket(socket.AF_INET, socket.SOCK_STREAM)
    blocker.bind(("127.0.0.1", 5356))
    blocker.listen(1)
    started = time.monotonic()
    host = start_host(gw)
    log = gw.wait_for_log(pane_line("Start SAP listening OK"))
    assert 4.5 < time.monotonic() - started
    assert "CCorvaneManager::Init() Bonjour handler init failed" in log
    assert pane_line("Start stream browsing failed") in log
    exit_host(host, gw, browsing=False)
    blocker.close()

    # Discovery off: "<" publishes on the RTSP server and registers nothing.
    settings = {"Network": dict(SETTINGS["Network"], UseBonjour="OFF"), "Settings": SETTINGS["Settings"]}
    host = start_host(gw, settings)
    sap = peer_socket(net)
    sap.sendto(sap_packet(sdp("Studio B").decode("cp1252")), (GROUP, SAP_PORT))
    host.wait_for_streams(lambda table: [s["kind"] for s in table] == ["SAP"])
    host.command("bonjour on SAP Studio B")
    table = host.wait_for_streams(lambda table: table[0]["rtsp"] == "1/1")
    assert table[0]["dnssd"] == "1/0"
    exit_host(host, gw, browsing=False)


def test_dialog_shows_found_streams_waiting_then_announced_and_republishes_heard_ones(net, gw):
    from harness.dialog_driver import Dialog

    list_corvane, list_sap = 1005, 1007
    server = SenderServer(net)
    settings = dict(SETTINGS, ButtonCheckState={"AutoVelmora": "1"})
    dialog = Dialog(gw, settings)
    gw.wait_for_log(pane_line("Start stream browsing OK"))
    sap = peer_socket(net)
    with zeroconf_peer(net) as zc:
        zc.register_service(service_info("Some Camera", RTSP, 554))
        zc.register_service(service_info("Studio A", RTSP, 8554, subtype=CORVANE))
        # Another origin and group than the sender's, or the two would be taken for twins.
        heard = sdp("Studio B").decode("cp1252").replace(" 4711 ", " 4712 ").replace("239.69.1.2", "239.69.1.3")
        sap.sendto(sap_packet(heard), (GROUP, SAP_PORT))

        def row(list_id, name):
            found = [r for r in dialog.rows(list_id) if r and r[0] == name]
            return found[0] if found else None

        # Found, described and waiting: grey with "W".
        wait_until("the CORVANE row", lambda: row(list_corvane, "Studio A") and row(list_corvane, "Studio A")[1],
                   timeout=20)
        assert row(list_corvane, "Studio A") == ["Studio A", "10.77.0.2", "239.69.1.2/32", "W",
                                                 "rtsp://10.77.0.2:8554/by-name/Studio A"]
        dialog.screenshot_png("discovery-waiting")
        assert server.raw_requests("Studio%20A")
        # After its 35 s, AUTO announces it by SAP, and the announcement heard back marks it "A"; the
        # heard SAP stream is republished, found back as a CORVANE row, and marked "A" under COR.
        wait_until("the CORVANE row announced", lambda: row(list_corvane, "Studio A")[3] == "A", timeout=50)
        wait_until("the SAP row republished", lambda: (row(list_sap, "Studio B") or [""] * 4)[3] == "A", timeout=20)
        assert row(list_corvane, "Studio B") is not None
        dialog.screenshot_png("discovery-announced")
    dialog.command("syscommand", "close")
    assert dialog.wait_until_ended() == 0
    log = gw.log_text()
    assert pane_line("Send SAP announce for: Studio A") in log
    assert "thread stop failed" not in log
