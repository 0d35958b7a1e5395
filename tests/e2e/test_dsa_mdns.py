"""The DSA multicast-DNS engine under Wine, driven alone (dsa_driver.exe), against python3-zeroconf and
a raw Python peer on 10.77.0.2."""
import socket
import threading
import time

from harness import mdns_peer
from harness.dsa_driver import DsaDriver
from harness.wait import wait_until

INITIAL_QUERY = bytes.fromhex(
    "000000000003000000000000105f636f7276616e655f73657373696f6e045f737562055f72747370045f746370056c6f63616c0000"
    "0c00010d5f7a696e745f73657373696f6ec01d000c0001065f7175696c6cc028000c0001")
SUBTYPE = "_corvane_session._sub._rtsp._tcp.local."


def zeroconf_service(name, port, address="10.77.0.2", server="peer.local."):
    from zeroconf import ServiceInfo

    return ServiceInfo(SUBTYPE, f"{name}._rtsp._tcp.local.", port=port, addresses=[socket.inet_aton(address)],
                       server=server, properties={})


def started(net, gw):
    driver = DsaDriver(gw)
    fields = driver.start(net.gw.address)
    assert fields["core"] == "0" and fields["mdns"] == "0", fields
    return driver, fields["host"]


def test_initial_query_and_a_zeroconf_service_found_within_a_second(net, gw):
    raw = mdns_peer.raw_socket(net.peer)
    driver, _ = started(net, gw)
    [(query, ttl)] = mdns_peer.receive(raw, net.gw.address, 3, lambda d: d == INITIAL_QUERY)[:1]
    assert ttl == 5

    with mdns_peer.zeroconf_in(net.peer) as zc:
        with net.peer.entered():
            zc.register_service(zeroconf_service("Studio A", 8554), allow_name_change=False)
        registered = time.monotonic()
        row = wait_until("Studio A resolved", lambda: driver.resolved("Studio A"), timeout=10)
        assert time.monotonic() - registered < 1.5
        assert row["port"] == "8554" and row["address"] == "10.77.0.2" and row["kind"] == "3"

        # The same announcement with AAAA and NSEC records, as dual-stack responders send it.
        aaaa = mdns_peer.record(mdns_peer.name("peer2", "local"), 28, bytes(15) + b"\1")
        nsec = mdns_peer.record(mdns_peer.name("peer2", "local"), 47, mdns_peer.name("peer2", "local") + b"\0\4\x40\0\0\x08")
        inst = mdns_peer.name("Studio B", "_rtsp", "_tcp", "local")
        packet = (mdns_peer.header(0x8400, an=1, ar=5)
                  + mdns_peer.record(mdns_peer.name("_corvane_session", "_sub", "_rtsp", "_tcp", "local"), 12, inst, 4500)
                  + aaaa
                  + mdns_peer.record(inst, 33, b"\0\0\0\0\x21\x6a" + mdns_peer.name("peer2", "local"))
                  + nsec
                  + mdns_peer.record(mdns_peer.name("peer2", "local"), 1, socket.inet_aton("10.77.0.2"))
                  + mdns_peer.record(inst, 16, b"\0", 4500))
        mdns_peer.send(raw, packet)
        wait_until("Studio B resolved", lambda: driver.resolved("Studio B"), timeout=2)
    driver.stop()


def test_registration_is_seen_by_a_zeroconf_browser_and_gone_after_unregistering(net, gw):
    from zeroconf import ServiceBrowser, ServiceStateChange

    driver, host = started(net, gw)
    events = []
    with mdns_peer.zeroconf_in(net.peer) as zc:
        with net.peer.entered():
            browser = ServiceBrowser(zc, SUBTYPE, handlers=[lambda zeroconf, service_type, name, state_change:
                                                           events.append((name, state_change))])
        handle = driver.register("Gateway Stream", 8554)["handle"]
        name = "Gateway Stream._rtsp._tcp.local."
        wait_until("the browser sees the stream", lambda: (name, ServiceStateChange.Added) in events, timeout=5)
        info = zc.get_service_info(SUBTYPE, name, timeout=3000)
        assert info is not None
        assert info.port == 8554
        assert info.server == f"{host}.local."
        assert info.parsed_addresses() == [net.gw.address]
        assert info.text in (b"", b"\x00")
        assert driver.unregister(handle)["status"] == "0"
        wait_until("the browser sees it go", lambda: (name, ServiceStateChange.Removed) in events, timeout=5)
        browser.cancel()
    driver.stop()


def malformed_datagrams():
    """200 datagrams a broken or hostile peer might send: cut names, pointer loops, lying lengths."""
    inst = mdns_peer.name("X", "_rtsp", "_tcp", "local")
    good = (mdns_peer.header(0x8400, an=1)
            + mdns_peer.record(mdns_peer.name("_corvane_session", "_sub", "_rtsp", "_tcp", "local"), 12, inst))
    shapes = [
        mdns_peer.header(0x8400, an=1) + b"\xc0\x0c",
        mdns_peer.header(0x8400, an=1) + b"\x01a\xc0\x0c",
        mdns_peer.header(0, qd=1) + b"\xc0\x0c\x00\x0c\x00\x01",
        mdns_peer.header(0x8400, an=1) + b"\x3fabc",
        mdns_peer.header(0x8400, an=1) + mdns_peer.record(mdns_peer.name("h", "local"), 1, b"\1\2\3\4")[:-3] + b"\xff\xff",
        mdns_peer.header(0x8400, an=0xFFFF) + b"\x80" * 40,
        mdns_peer.header(0, qd=0xFFFF) + b"\x00" * 10,
        b"\x00\x00\x84",
    ]
    datagrams = []
    for i in range(200):
        if i < len(shapes):
            datagrams.append(shapes[i])
        else:
            cut = good[: 3 + i % (len(good) - 3)]
            datagrams.append(bytes(b ^ (0x5A if j == i % len(cut) else 0) for j, b in enumerate(cut)))
    return datagrams


def test_malformed_input_and_a_flood_of_queries_leave_the_engine_answering(net, gw):
    raw = mdns_peer.raw_socket(net.peer)
    driver, host = started(net, gw)
    driver.register("Kept", 8554)
    host_question = mdns_peer.header(0, qd=1) + mdns_peer.question(mdns_peer.name(host, "local"), 1)
    answered = lambda: mdns_peer.receive(raw, net.gw.address, 1.0, lambda d: d[2] & 0x80 and d.find(b"\x0a\x4d\x00\x01") > 0)

    for datagram in malformed_datagrams():
        mdns_peer.send(raw, datagram)
    mdns_peer.send(raw, host_question)
    assert answered(), "no answer to a host question after 200 malformed datagrams"

    # 5 s of 1,000 queries a second, for records the engine multicasts at most once a second.
    subtype_question = mdns_peer.header(0, qd=1) + mdns_peer.question(
        mdns_peer.name("_corvane_session", "_sub", "_rtsp", "_tcp", "local"), 12)
    stop_flood = threading.Event()

    def drain():
        raw.settimeout(0.05)
        while not stop_flood.is_set():
            try:
                raw.recv(9000)
            except OSError:
                pass

    threading.Thread(target=drain, daemon=True).start()
    start = time.monotonic()
    sent = 0
    while time.monotonic() - start < 5:
        mdns_peer.send(raw, subtype_question)
        sent += 1
        time.sleep(max(0.0, start + sent / 1000 - time.monotonic()))
    stop_flood.set()
    time.sleep(1.2)  # the A record went out with the flood's answers: the same record again a second later
    raw.settimeout(0.2)
    mdns_peer.send(raw, host_question)
    assert answered(), "no answer after the flood"
    fields = driver.stop()
    assert fields["mdns"] == "0" and int(fields["ms"]) < 2000, fields
    again = driver.start(net.gw.address)
    assert again["mdns"] == "0", again  # port 5353 bound again
    driver.stop()
