"""The DNS-SD layer under Wine on 10.77.0.1 (console driver: daemon and client calls) against
python3-zeroconf 0.47 on 10.77.0.2."""
import time

from harness import mdns_peer
from harness.dnssd_driver import DnssdDriver, service_info, zeroconf_peer

RTSP = "_rtsp._tcp.local."
SUB = "_corvane_session"


def adds(events, rid):
    return [e for e in events if e[0] == rid and int(e[2]) & 2]


def removes(events, rid):
    return [e for e in events if e[0] == rid and e[1] != "failed" and not int(e[2]) & 2 and e[4] == "0"]


def test_zeroconf_service_is_enumerated_browsed_resolved_and_addressed(net, gw):
    driver = DnssdDriver(gw)
    assert driver.start().startswith("ready=1")
    ifindex = driver.interface_index(net.gw.address)
    with zeroconf_peer(net) as zc:
        x = service_info("X", RTSP, 8554, {"a": "1"}, subtype=SUB)
        base = service_info("X base", RTSP, 8554)
        zc.register_service(x)
        zc.register_service(base)
        assert driver.call("browse", "types", 0, "_services._dns-sd._udp") == 0
        assert driver.call("browse", "sub", 0, f"_rtsp._tcp,{SUB}") == 0
        assert driver.call("browse", "base", 0, "_rtsp._tcp") == 0
        driver.wait_event("type", lambda e: e[0] == "types" and e[5:] == ["_rtsp", "_tcp.local.", "."])
        [sub] = driver.wait_event("subtype add", lambda e: e[0] == "sub" and e[5] == "X")
        assert sub[3] == str(ifindex) and sub[6:] == ["_rtsp._tcp.", "local."]
        driver.wait_event("base add", lambda e: e[0] == "base" and e[5] == "X base")

        assert driver.call("resolve", "res", ifindex, "X", "_rtsp._tcp.", "local.") == 0
        [res] = driver.wait_event("resolve", lambda e: e[0] == "res")
        assert res[3:] == [str(ifindex), "0", "X._rtsp._tcp.local.", "peer.local.", "8554", "03613d31"]
        assert driver.call("addr", "addr", ifindex, "peer.local.") == 0
        [addr] = driver.wait_event("address", lambda e: e[0] == "addr")
        assert addr[2:6] == ["2", str(ifindex), "0", "peer.local."] and addr[6] == "10.77.0.2"

        zc.unregister_service(x)
        driver.wait_event("subtype remove", lambda e: removes([e], "sub"))
        time.sleep(2)
        assert len(removes(driver.events(), "sub")) == 1
        assert [e[5] for e in adds(driver.events(), "types")] == ["_rtsp"]


class Collector:
    def __init__(self):
        self.added, self.removed = [], []

    def add_service(self, zc, type_, name):
        self.added.append((type_, name))

    def remove_service(self, zc, type_, name):
        self.removed.append((type_, name))

    def update_service(self, zc, type_, name):
        pass


def test_registration_is_seen_by_zeroconf_and_goes_with_a_goodbye(net, gw):
    from zeroconf import ServiceBrowser

    from harness.dnssd_driver import goodbyes_from
    from harness.wait import wait_until

    driver = DnssdDriver(gw)
    driver.start()
    with zeroconf_peer(net) as zc:
        base, sub = Collector(), Collector()
        browsers = [ServiceBrowser(zc, RTSP, base), ServiceBrowser(zc, f"_corvane._sub.{RTSP}", sub)]
        assert driver.call("register", "r", 0, "Gateway One", "_rtsp._tcp,_corvane", 8080, "", 0) == 0
        driver.wait_event("registered", lambda e: e[0] == "r" and e[1] == "register")
        assert driver.events()[-1][2:] == ["2", "0", "0", "Gateway One", "_rtsp._tcp.", "local."]
        wait_until("both browsers saw it", lambda: base.added and sub.added)
        assert base.added == [(RTSP, f"Gateway One.{RTSP}")]
        assert sub.added == [(f"_corvane._sub.{RTSP}", f"Gateway One.{RTSP}")]
        info = zc.get_service_info(RTSP, f"Gateway One.{RTSP}", timeout=3000)
        assert info.port == 8080 and info.text == b"\x00"
        assert info.server.endswith(".local.") and info.parsed_addresses() == [net.gw.address]

        listener = mdns_peer.raw_socket(net.peer)
        driver.command("close|r")
        closed = time.monotonic()
        goodbyes = goodbyes_from(listener, net.gw.address, 1.5)
        assert goodbyes and goodbyes[0][0] - closed < 1.0
        assert f"Gateway One.{RTSP}" in goodbyes[0][1]
        wait_until("both browsers lost it", lambda: base.removed and sub.removed, timeout=5)
        for b in browsers:
            b.cancel()


def test_a_name_zeroconf_holds_is_renamed(net, gw):
    driver = DnssdDriver(gw)
    driver.start()
    with zeroconf_peer(net) as zc:
        zc.register_service(service_info("Taken", RTSP, 9000))
        assert driver.call("register", "r", 0, "Taken", "_rtsp._tcp", 8080, "", 0) == 0
        [reply] = driver.wait_event("registered", lambda e: e[0] == "r")
        assert reply[4:6] == ["0", "Taken (2)"]


def test_stop_says_goodbye_frees_everything_and_a_second_start_works(net, gw):
    from harness.dnssd_driver import goodbyes_from

    driver = DnssdDriver(gw)
    assert driver.start().startswith("ready=1")
    assert driver.call("register", "r", 0, "Stopper", "_rtsp._tcp", 8080, "", 0) == 0
    driver.wait_event("registered", lambda e: e[0] == "r")
    listener = mdns_peer.raw_socket(net.peer)
    assert driver.stop() == {"running": "0", "ready": "0", "bytes": "0", "blocks": "0"}
    assert any("Stopper._rtsp._tcp.local." in names for _, names in goodbyes_from(listener, net.gw.address, 1))
    assert driver.call("browse", "after", 0, "_rtsp._tcp") == -65563  # 5356 closed
    driver.command("close|r")

    assert driver.start().startswith("ready=1")
    assert driver.call("register", "again", 0, "Stopper", "_rtsp._tcp", 8080, "", 0) == 0
    driver.wait_event("registered again", lambda e: e[0] == "again" and e[5] == "Stopper")


def test_with_the_client_port_held_the_daemon_is_never_ready_and_returns(net, gw):
    import socket

    held = net.gw.socket(socket.AF_INET, socket.SOCK_STREAM)
    held.bind(("127.0.0.1", 5356))
    held.listen()
    driver = DnssdDriver(gw)
    assert driver.start() == "ready=0 running=0"
    assert driver.stop()["blocks"] == "0"
    held.close()


def test_hostile_peer_leaves_the_daemon_answering_with_its_heap_back_where_it_was(net, gw):
    import glob
    import os
    import random
    import socket

    from harness.dnssd_driver import malformed, ptr_query, ptr_response
    from harness.wait import wait_until

    driver = DnssdDriver(gw)
    driver.start()
    assert driver.call("register", "r", 0, "Target", "_rtsp._tcp", 8080, "", 0) == 0
    assert driver.call("browse", "b", 0, "_rtsp._tcp") == 0
    driver.wait_event("own registration browsed", lambda e: e[0] == "b" and e[5] == "Target")
    time.sleep(1.5)
    before = driver.heap()

    peer = net.peer.socket(socket.AF_INET, socket.SOCK_DGRAM)
    peer.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(net.peer.address))
    peer.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    peer.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
    peer.bind((net.peer.address, 5353))
    group = ("224.0.0.251", 5353)
    for i in range(100):
        peer.sendto(ptr_response(RTSP, f"Short {i}", 2), group)
    for i in range(50):
        peer.sendto(ptr_response(RTSP, f"Short {i}", 0), group)
    corpus = os.path.join(os.path.dirname(__file__), "..", "fuzz", "corpus", "dns")
    seeds = [open(p, "rb").read() for p in glob.glob(os.path.join(corpus, "*.bin"))]
    started = time.monotonic()
    for n, datagram in enumerate(malformed(seeds, 20000, random.Random(5))):
        peer.sendto(datagram, group)
        if n % 500 == 0:
            time.sleep(0.02)
    assert time.monotonic() - started < 30

    listener = mdns_peer.raw_socket(net.peer)
    answered = False
    deadline = time.monotonic() + 5
    while not answered and time.monotonic() < deadline:
        peer.sendto(ptr_query(RTSP), group)
        until = time.monotonic() + 0.5
        while not answered and time.monotonic() < until:
            try:
                data, (source, _) = listener.recvfrom(9000)
            except socket.timeout:
                continue
            answered = source == net.gw.address and b"\x06Target" in data
    assert answered
    time.sleep(4)  # the short records are gone
    events = driver.events()
    assert len([e for e in adds(events, "b") if e[5].startswith("Short")]) == 100
    assert len([e for e in removes(events, "b") if e[5].startswith("Short")]) == 100
    wait_until("the heap back where it was", lambda: driver.heap() == before, timeout=5)


# --- The gateway's daemon on a hostile link --------------------------------------------------------

def flushing_ptr(type_, instance):
    """A forged PTR answer with the cache-flush bit set (PTR records are shared: it never is)."""
    return mdns_peer.header(0x8400, an=1) + mdns_peer.record(
        mdns_peer.dotted(type_), 12, mdns_peer.dotted(f"{instance}.{RTSP}"), 4500, rclass=0x8001)


def bound_peer_socket(net, address, port):
    import socket

    s = net.peer.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(address))
    s.bind((address, port))
    s.settimeout(0.1)
    return s


def test_gateway_logs_the_daemons_refusals_and_a_forged_cache_flush_removes_no_stream(net, gw):
    import glob
    import os
    import random

    from harness.dnssd_driver import malformed
    from harness.sap_peer import peer_socket, received_from_gateway
    from harness.velmora_host import pane_line
    from test_discovery import CORVANE, exit_host, start_host
    from test_sdp_retrieval import SenderServer

    server = SenderServer(net)
    sap = peer_socket(net)
    host = start_host(gw)
    gw.wait_for_log(pane_line("Start stream browsing OK"))
    # The daemon's own lines reach the log file through the host's hook.
    gw.wait_for_log("CBonjourHandler::DaemonLog() mDNS: daemon ready")
    with zeroconf_peer(net) as zc:
        zc.register_service(service_info("Studio F", RTSP, 8554, subtype=CORVANE))
        gw.wait_for_log(pane_line("Received SDP for: Studio F"), timeout=30)
        host.command("sap on Bonjour Studio F")
        assert len(received_from_gateway(sap, net, 1.5)) == 1
        time.sleep(1.5)  # the records are older than the 1 s a cache-flush spares

        # Malformed datagrams: refused, one log line for their sender.
        peer = bound_peer_socket(net, net.peer.address, 5353)
        corpus = os.path.join(os.path.dirname(__file__), "..", "fuzz", "corpus", "dns")
        seeds = [open(p, "rb").read() for p in glob.glob(os.path.join(corpus, "*.bin"))]
        for datagram in malformed(seeds, 2000, random.Random(21)):
            peer.sendto(datagram, (mdns_peer.GROUP, mdns_peer.PORT))
        refusal = "CBonjourHandler::DaemonLog() mDNS dropped a malformed datagram of "
        log = gw.wait_for_log(refusal)
        assert log.count(refusal) == 1 and f"from {net.peer.address} on interface " in log

        # A forged cache-flush PTR from another host on the link, for every type the gateway browses.
        net.peer.run("ip", "addr", "add", "10.77.0.3/24", "dev", net.peer.interface)
        forger = bound_peer_socket(net, "10.77.0.3", 5353)
        for _ in range(3):
            for type_ in (RTSP, f"{CORVANE}._sub.{RTSP}", "_services._dns-sd._udp.local."):
                forger.sendto(flushing_ptr(type_, "Forged"), (mdns_peer.GROUP, mdns_peer.PORT))
            time.sleep(0.2)
        after = received_from_gateway(sap, net, 4.0)
        assert not [p for p in after if p[0] & 0x04], "a SAP deletion went out"
        log = gw.log_text()
        assert "Remove stream from Bonjour: Studio F" not in log
        assert [s for s in host.streams() if s["name"] == "Studio F"][0]["removed"] == "0"
    exit_host(host, gw)
    server.close()


def test_with_the_daemon_port_taken_the_pane_says_why_in_red(net, gw):
    import socket

    from harness.velmora_host import pane_line
    from test_discovery import exit_host, start_host

    blocker = net.gw.socket(socket.AF_INET, socket.SOCK_STREAM)
    blocker.bind(("127.0.0.1", 5356))
    blocker.listen(1)
    try:
        host = start_host(gw)
        log = gw.wait_for_log(pane_line("Start SAP listening OK"))
        failed = log.index(pane_line("Start stream browsing failed"))
        reason = pane_line("DNS-SD daemon: port 5356 on 127.0.0.1 not available, error 10048 (")
        assert log.index(reason) > failed
        line = log[log.index(reason):].splitlines()[0]
        assert line.endswith(")") and ("WSAEADDRINUSE" in line or "Only one usage" in line), line
        assert "CBonjourHandler::DaemonLog() mDNS: client port 5356 not available, error 10048" in log
        exit_host(host, gw, browsing=False)
    finally:
        blocker.close()


def test_half_finished_client_requests_are_closed_after_ten_seconds(net, gw):
    import socket
    import struct

    driver = DnssdDriver(gw)
    assert driver.start().startswith("ready=1")
    assert driver.call("browse", "b", 0, "_rtsp._tcp") == 0
    held = []
    for sent in [b"", b"\x00\x00", struct.pack(">I", 40) + b"\x01\x00\x00"] * 10:
        s = net.gw.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.connect(("127.0.0.1", 5356))
        s.sendall(sent)
        s.settimeout(0.2)
        held.append(s)
    opened = time.monotonic()
    closed = {}
    while len(closed) < len(held) and time.monotonic() - opened < 30:
        for i, s in enumerate(held):
            if i in closed:
                continue
            try:
                if s.recv(64) == b"":
                    closed[i] = time.monotonic() - opened
            except socket.timeout:
                pass
            except ConnectionError:
                closed[i] = time.monotonic() - opened
    for s in held:
        s.close()
    assert len(closed) == len(held)
    assert 9.0 <= min(closed.values()) and max(closed.values()) < 25, closed
    lines = [line for line in driver.command("log") if "not complete within 10 s" in line]
    assert 1 <= len(lines) <= 2, lines
    # The browse with its request complete is kept: it still reports a new registration.
    assert driver.call("register", "r", 0, "Late", "_rtsp._tcp", 8080, "", 0) == 0
    driver.wait_event("the browse sees it", lambda e: e[0] == "b" and e[5] == "Late")


def test_unicast_answers_only_to_the_subnet_and_once_a_second(net, gw):
    from harness.dnssd_driver import ptr_query

    driver = DnssdDriver(gw)
    driver.start()
    assert driver.call("register", "r", 0, "Amp", "_http._tcp", 8080, "", 0) == 0
    driver.wait_event("registered", lambda e: e[0] == "r")
    # A second subnet on the peer's side, routed both ways, so an answer could reach it.
    net.peer.run("ip", "addr", "add", "10.99.0.2/24", "dev", net.peer.interface)
    net.gw.run("ip", "route", "add", "10.99.0.0/24", "dev", net.gw.interface)
    legacy_query = ptr_query("_http._tcp.local.")
    unicast_query = bytearray(legacy_query)
    unicast_query[-2] |= 0x80  # QU: the unicast-response bit

    def answers(source, port, query, to, count=20, spread=2.0):
        s = bound_peer_socket(net, source, port)
        got = []
        for _ in range(count):
            s.sendto(bytes(query), to)
            until = time.monotonic() + spread / count
            while time.monotonic() < until:
                try:
                    data, (sender, _) = s.recvfrom(9000)
                except OSError:
                    continue
                if sender == net.gw.address and data[2] & 0x80 and b"\x03Amp" in data:
                    got.append(data)
        s.close()
        return got

    group, direct = (mdns_peer.GROUP, mdns_peer.PORT), (net.gw.address, mdns_peer.PORT)
    cases = [
        ("on the subnet, legacy port, to the group", net.peer.address, 40001, legacy_query, group, 1, 3),
        ("on the subnet, legacy port, direct", net.peer.address, 40002, legacy_query, direct, 1, 3),
        ("off the subnet, legacy port, to the group", "10.99.0.2", 40003, legacy_query, group, 0, 0),
        ("off the subnet, legacy port, direct", "10.99.0.2", 40004, legacy_query, direct, 0, 0),
        ("off the subnet, QU from 5353", "10.99.0.2", 5353, unicast_query, group, 0, 0),
    ]
    for what, source, port, query, to, least, most in cases:
        got = answers(source, port, query, to)
        assert least <= len(got) <= most, (what, len(got))
    lines = [line for line in driver.command("log") if "unicast answers from off the link" in line]
    assert len(lines) == 1 and "from 10.99.0.2 on interface" in lines[0], lines
