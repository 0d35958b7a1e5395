"""The gateway's RTSP server under load and against hostile peers, in the test namespaces: a thousand
streams published by AUTO, a datagram flood on the RTCP port, and many idle connections from one
address. Every loop is bounded in count and time; latencies are printed, and bounded only where a
stall would show (a flood that held the server thread would hold a DESCRIBE for seconds)."""
import random
import socket
import struct
import threading
import time

from harness.rtsp_peer import STUDIO_A_SDP, RawClient
from harness.sap_peer import GROUP, PORT as SAP_PORT, peer_socket, sap_packet
from harness.velmora_host import HostError, VelmoraHost, pane_line

PORT = 8554
STREAMS = 1000
SETTINGS = {"Network": {"Interface": "10.77.0.1 (any adapter)", "RTSPPort": PORT, "UseBonjour": "off"}}
URL_LINE = 'CLoggingUsageEnvironment::AddLogging() Play this stream using the URL "'


def load_sdp(index):
    return (f"v=0\r\no=- {100000 + index} 1 IN IP4 10.77.0.2\r\ns=Load {index:04d}\r\n"
            f"c=IN IP4 239.70.{index // 250}.{index % 250 + 1}/32\r\nt=0 0\r\n"
            "m=audio 5004 RTP/AVP 98\r\na=rtpmap:98 L24/48000/2\r\n")


def describe(client, name, cseq):
    return client.request(f"DESCRIBE rtsp://10.77.0.1:{PORT}/by-name/{name.replace(' ', '%20')} RTSP/1.0\r\n"
                          f"CSeq: {cseq}\r\nAccept: application/sdp\r\n\r\n")


def add_peer_addresses(net, count):
    """Further addresses of the peer (10.77.0.10 onwards): the server takes 16 connections per address."""
    addresses = [f"10.77.0.{10 + i}" for i in range(count)]
    for address in addresses:
        net.peer.run("ip", "addr", "add", f"{address}/24", "dev", net.peer.interface)
    return addresses


def connect_from(net, source, timeout=10):
    s = net.peer.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.settimeout(timeout)
    s.bind((source, 0))
    s.connect((net.gw.address, PORT))
    return s


class Connection(RawClient):
    """A raw client bound to a given peer address."""

    def __init__(self, net, source):
        self.sock = connect_from(net, source)
        self.buffer = b""


def describe_rounds(net, name, sdp, sources):
    """DESCRIBE of one stream at 1, 10 and 100 connections at once (each connection 5 requests);
    returns {connections: sorted latencies in ms}."""
    results = {}
    for connections in (1, 10, 100):
        latencies, failures = [], []

        def client(index):
            try:
                conn = Connection(net, sources[index % len(sources)])
                for cseq in range(1, 6):
                    start = time.monotonic()
                    status, headers, body = describe(conn, name, cseq)
                    latencies.append((time.monotonic() - start) * 1000)
                    if status != "RTSP/1.0 200 OK" or headers["cseq"] != str(cseq) or body != sdp.encode():
                        failures.append((index, status))
                conn.close()
            except (OSError, AssertionError) as error:
                failures.append((index, repr(error)))

        threads = [threading.Thread(target=client, args=(i,)) for i in range(connections)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(60)
        assert not failures, f"{connections} connections: {failures[:5]}"
        assert len(latencies) == connections * 5
        results[connections] = sorted(latencies)
    return results


def test_thousand_streams_published_by_auto_are_described_at_1_10_100_connections(net, gw):
    # The console host stands in for the dialog, whose AUTO switch does the same per heard stream
    # ("auto-publish"): the dialog itself takes far longer for a thousand rows.
    host = VelmoraHost(gw, SETTINGS)
    assert host.init_result == 1
    gw.wait_for_log(pane_line(f"Start RTSP server on port {PORT}"))
    sap = peer_socket(net)
    # A SAP sender repeats its announcements: a datagram that a loaded machine had no room for in
    # the gateway's socket comes again, as at the sender's next interval.
    missing = list(range(STREAMS))
    for _ in range(5):
        for count, index in enumerate(missing):
            sap.sendto(sap_packet(load_sdp(index)), (GROUP, SAP_PORT))
            if count % 50 == 49:
                time.sleep(0.05)  # the SAP socket's queue is not flooded
        try:
            host.wait_for_streams(lambda table: len(table) == STREAMS, timeout=20)
            break
        except HostError:
            heard = {stream["name"] for stream in host.streams()}
            missing = [index for index in range(STREAMS) if f"Load {index:04d}" not in heard]
            print(f"\n{len(missing)} announcements not taken in, sent again")
    assert len(host.streams()) == STREAMS
    started = time.monotonic()
    assert host.command("auto-publish") == [f"switched\t{STREAMS}"]
    gw.wait_for_log(URL_LINE, count=STREAMS, timeout=60)
    print(f"\n{STREAMS} streams published within {time.monotonic() - started:.1f} s")

    sources = add_peer_addresses(net, 7)
    results = describe_rounds(net, "Load 0500", load_sdp(500), sources)
    for connections, latencies in results.items():
        print(f"DESCRIBE with {STREAMS} published, {connections} connections: p50 "
              f"{latencies[len(latencies) // 2]:.1f} ms, max {latencies[-1]:.1f} ms")

    assert host.exit() < 5


def rtcp_flood(net, seconds, stop):
    """Receiver reports with a new SSRC each, as fast as one socket sends them, to UDP 5005; returns the count."""
    s = net.peer.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sent = 0
    deadline = time.monotonic() + seconds
    ssrc = random.getrandbits(32)
    while time.monotonic() < deadline and not stop.is_set():
        for _ in range(200):
            ssrc = (ssrc + 1) & 0xFFFFFFFF
            try:
                s.sendto(struct.pack("!BBHI", 0x80, 201, 1, ssrc), (net.gw.address, 5005))
                sent += 1
            except OSError:
                pass
    s.close()
    return sent


def start_host(gw):
    host = VelmoraHost(gw, SETTINGS)
    assert host.init_result == 1
    host.command("add-sdp " + STUDIO_A_SDP.replace("\r\n", "\\n"))
    host.command("rtsp on SDP Studio A")
    host.wait_for_streams(lambda table: table[0]["rtsp"] == "1/1")
    return host


def test_datagram_flood_to_rtcp_port_leaves_describe_answered_and_exit_prompt(net, gw):
    host = start_host(gw)
    client = RawClient(net.peer, net.gw.address, PORT)
    stop = threading.Event()
    count = []
    flooder = threading.Thread(target=lambda: count.append(rtcp_flood(net, 5, stop)))
    flooder.start()
    latencies = []
    try:
        time.sleep(0.5)  # the flood is on
        cseq = 0
        while flooder.is_alive() and cseq < 40:
            cseq += 1
            start = time.monotonic()
            status, _, body = describe(client, "Studio A", cseq)
            latencies.append((time.monotonic() - start) * 1000)
            assert status == "RTSP/1.0 200 OK" and body == STUDIO_A_SDP.encode()
            time.sleep(0.1)
    finally:
        stop.set()
        flooder.join(10)
    client.close()
    latencies.sort()
    print(f"\nflood of {count[0] if count else 0} datagrams in 5 s: {len(latencies)} DESCRIBE, "
          f"p50 {latencies[len(latencies) // 2]:.1f} ms, max {latencies[-1]:.1f} ms")
    assert len(latencies) >= 20
    # A server thread held inside the read handler answered nothing for the whole flood.
    assert latencies[len(latencies) // 2] < 100, latencies
    assert host.exit() < 5


def test_idle_connections_from_one_address_leave_another_address_served(net, gw):
    host = start_host(gw)
    other = add_peer_addresses(net, 1)[0]
    # The server listens. The probe comes from the other address: the server counts a connection
    # until it reads its end, which on a loaded machine can come after the connections below, and
    # a probe from the crowded address would then take one of its 16 places.
    connect_from(net, other).close()
    idle, closed = [], 0
    started = time.monotonic()
    for _ in range(300):
        s = connect_from(net, net.peer.address)
        idle.append(s)
    # Connections beyond 16 from one address are closed cleanly (an end of stream, no reset).
    for s in idle[16:]:
        s.settimeout(10)
        assert s.recv(1) == b""
        closed += 1
    refused_within = time.monotonic() - started
    for s in idle[:16]:
        s.settimeout(0.2)
        try:
            assert s.recv(1) != b"", "one of the first 16 connections was closed"
        except socket.timeout:
            pass
    assert closed == 284

    conn = Connection(net, other)
    status, _, body = describe(conn, "Studio A", 1)
    assert status == "RTSP/1.0 200 OK" and body == STUDIO_A_SDP.encode()
    conn.close()
    for s in idle:
        s.close()

    # The refusals are logged at most once a second for that address, then counted in one line.
    log = gw.wait_for_log(f"more lines about connections from {net.peer.address}")
    refusals = log.count(f"too many connections from this address (16); closing the connection from "
                         f"{net.peer.address}")
    print(f"\n284 refusals within {refused_within:.2f} s, {refusals} lines")
    assert 1 <= refusals <= 2 + int(refused_within), refusals
    assert host.exit() < 5
