"""The default multicast-DNS engine on a crowded or hostile link: hosts that are no senders, instances
that never resolve, query floods, lost announcements and senders that restart. The engine alone
(dsa_driver.exe) or the whole gateway (velmora_host.exe) against python3-zeroconf and raw datagrams
from 10.77.0.2."""
import socket
import struct
import threading
import time

from harness import mdns_peer
from harness.dnssd_driver import service_info
from harness.velmora_host import VelmoraHost, pane_line
from harness.wait import wait_until
from test_dsa_mdns import INITIAL_QUERY, started, zeroconf_service
from test_sdp_retrieval import SenderServer

SETTINGS = {"Network": {"Interface": "10.77.0.1 (any adapter)"}}
SUBTYPE_NAME = mdns_peer.name("_corvane_session", "_sub", "_rtsp", "_tcp", "local")


def unresolvable_ptrs(count, prefix, per_datagram=20):
    """Datagrams of PTR records of `count` instances that never answer their SRV questions."""
    datagrams = []
    for first in range(0, count, per_datagram):
        names = range(first, min(count, first + per_datagram))
        records = [mdns_peer.record(SUBTYPE_NAME, 12, mdns_peer.name(f"{prefix}{i:05d}", "_rtsp", "_tcp", "local"),
                                    4500, rclass=1) for i in names]
        datagrams.append(mdns_peer.header(0x8400, an=len(records)) + b"".join(records))
    return datagrams


def send_paced(raw, datagrams, per_second):
    start = time.monotonic()
    for n, datagram in enumerate(datagrams):
        mdns_peer.send(raw, datagram)
        time.sleep(max(0.0, start + (n + 1) / per_second - time.monotonic()))


def wait_for_rows(net, driver, count):
    """Waits for `count` stream rows: the last datagrams sent may still be on their way through the
    receive and core tasks. Says where the missing ones went if they never come."""
    sent = time.monotonic()
    try:
        wait_until(f"{count} rows", lambda: len(driver.tables()[0]) == count, timeout=15)
    finally:
        print(f"{len(driver.tables()[0])} rows {time.monotonic() - sent:.1f} s after the last datagram; "
              f"dropped by the engine {driver.dropped()}, by the kernel {net.gw.udp_drops(5353)}")


def announcement(instance, host, address, ttl=120, port=8554):
    """PTR, SRV and A of a sender, every record with `ttl` (0: its goodbye)."""
    host_name = mdns_peer.name(host, "local")
    inst = mdns_peer.name(instance, "_rtsp", "_tcp", "local")
    records = [mdns_peer.record(SUBTYPE_NAME, 12, inst, ttl, rclass=1),
               mdns_peer.record(inst, 33, struct.pack(">HHH", 0, 0, port) + host_name, ttl),
               mdns_peer.record(host_name, 1, socket.inet_aton(address), ttl)]
    return mdns_peer.header(0x8400, an=1, ar=2) + b"".join(records)


def per_second(stamps, start, seconds):
    counts = [0] * seconds
    for stamp, n in stamps:
        if start <= stamp < start + seconds:
            counts[int(stamp - start)] += n
    return counts


def capture(raw, source, seconds, is_response):
    """(monotonic time, questions or 1) of each query (response) datagram from `source`."""
    raw.setblocking(False)
    try:
        while True:
            raw.recv(9000)  # what arrived before
    except BlockingIOError:
        pass
    found = []
    deadline = time.monotonic() + seconds
    raw.settimeout(0.1)
    while time.monotonic() < deadline:
        try:
            data, sender = raw.recvfrom(9000)
        except OSError:
            continue
        if sender[0] != source or len(data) < 12 or bool(data[2] & 0x80) != is_response:
            continue
        found.append((time.monotonic(), 1 if is_response else struct.unpack(">H", data[4:6])[0]))
    return found


def test_unrelated_hosts_take_no_room_and_a_sender_is_found_and_described(net, gw):
    server = SenderServer(net)
    raw = mdns_peer.raw_socket(net.peer)
    host = VelmoraHost(gw, SETTINGS)
    gw.wait_for_log(pane_line("Start stream browsing OK"))
    # 400 laptops and phones announce their addresses: twice the node table.
    for i in range(400):
        mdns_peer.send(raw, mdns_peer.header(0x8400, an=1) + mdns_peer.record(
            mdns_peer.name(f"laptop-{i:03d}", "local"), 1, socket.inet_aton(f"10.77.{1 + i // 250}.{1 + i % 250}")))
        time.sleep(0.002)
    time.sleep(1)
    info = service_info("Studio A", "_rtsp._tcp.local.", 8554, subtype="_corvane_session")
    with mdns_peer.zeroconf_in(net.peer) as zc:
        with net.peer.entered():
            zc.register_service(info, allow_name_change=False)
        gw.wait_for_log(pane_line("Add stream from Bonjour: Studio A"), timeout=15)
        gw.wait_for_log(pane_line("Received SDP for: Studio A"), timeout=15)
        assert server.arrivals("Studio%20A")
    assert "add node = laptop" not in gw.log_text()
    host.exit()
    server.close()


def test_a_sender_on_a_host_past_a_full_host_table_gets_one_red_line_a_minute(net, gw):
    """200 senders on 200 hosts fill the host table; a sender on a further host waits for room and
    a red line says so."""
    server = SenderServer(net)
    raw = mdns_peer.raw_socket(net.peer)
    host = VelmoraHost(gw, SETTINGS)
    gw.wait_for_log(pane_line("Start stream browsing OK"))
    send_paced(raw, [announcement(f"Full {i:03d}", f"full-{i:03d}", "10.77.0.2") for i in range(200)], 200)
    wait_until("200 streams", lambda: len([s for s in host.streams() if s["kind"] == "Bonjour"]) == 200,
               timeout=30)
    line = pane_line("DSA discovery: the table of 200 hosts is full, found senders waiting for room: 1")
    assert line not in gw.log_text()
    for _ in range(5):
        mdns_peer.send(raw, announcement("Late", "late-host", "10.77.0.2"))
        time.sleep(1)
    gw.wait_for_log(line, timeout=5)
    time.sleep(2)
    assert gw.log_text().count(line) == 1
    assert pane_line("Add stream from Bonjour: Late") not in gw.log_text()
    host.exit()
    server.close()


def test_a_thousand_instances_that_never_resolve_draw_at_most_100_questions_a_second(net, gw):
    raw = mdns_peer.raw_socket(net.peer)
    driver, _ = started(net, gw)
    time.sleep(1.5)
    start = time.monotonic()
    send_paced(raw, unresolvable_ptrs(1000, "ghost "), 100)
    time.sleep(max(0.0, start + 60 - time.monotonic()))
    stamps = capture(raw, net.gw.address, 30, is_response=False)
    counts = per_second(stamps, start + 60, 30)
    print(f"questions a second 60-90 s after 1,000 unresolved instances: {counts}")
    assert max(counts) <= 100, counts
    assert sum(counts) <= 30 * 100
    assert sum(counts) >= 500, counts  # every row is still asked about, about once a minute
    streams, _ = driver.tables()
    assert sum(1 for s in streams if s["name"].startswith("ghost ")) == 1000
    driver.stop()


def test_a_sender_is_found_after_5000_instances_that_never_resolve(net, gw):
    raw = mdns_peer.raw_socket(net.peer)
    driver, _ = started(net, gw)
    time.sleep(1.5)
    send_paced(raw, unresolvable_ptrs(5000, "junk "), 100)
    wait_for_rows(net, driver, 5000)
    time.sleep(11)  # the table is full of rows whose questions went unanswered for 10 s
    with mdns_peer.zeroconf_in(net.peer) as zc:
        with net.peer.entered():
            zc.register_service(zeroconf_service("Late Sender", 8554), allow_name_change=False)
        row = wait_until("Late Sender resolved", lambda: driver.resolved("Late Sender"), timeout=20)
        assert row["port"] == "8554" and row["address"] == "10.77.0.2"
    assert driver.dropped() == 0
    driver.stop()


def test_a_burst_while_the_tables_are_held_waits_for_room_and_loses_nothing(net, gw):
    """The engine's queue holds about 50 datagrams of 20 records; a reader holding the tables for
    0.8 s (a slow poll) while 100 such datagrams arrive must cost nothing but the wait."""
    raw = mdns_peer.raw_socket(net.peer)
    driver, _ = started(net, gw)
    time.sleep(1.5)
    driver.stall(800)
    send_paced(raw, unresolvable_ptrs(2000, "held "), 1000)
    wait_for_rows(net, driver, 2000)
    assert driver.dropped() == 0
    driver.stop()


def query_flood(net, driver, raw, listen):
    """10,000 questions for a registered stream at 2,000 a second: (response datagrams heard within
    `listen` seconds, seconds the flood took)."""
    driver.register("Flooded", 8554)
    time.sleep(1.5)
    question = mdns_peer.header(0, qd=1) + mdns_peer.question(SUBTYPE_NAME, 12)
    listener = mdns_peer.raw_socket(net.peer)
    found = []
    capturing = threading.Thread(target=lambda: found.extend(capture(listener, net.gw.address, listen, True)))
    capturing.start()
    start = time.monotonic()
    send_paced(raw, [question] * 10000, 2000)
    sent = time.monotonic() - start
    capturing.join()
    return found, sent


def test_a_query_flood_of_2000_a_second_draws_at_most_200_responses(net, gw):
    raw = mdns_peer.raw_socket(net.peer)
    driver, _ = started(net, gw)
    found, _ = query_flood(net, driver, raw, 6.5)
    print(f"response datagrams to 10,000 queries in 5 s: {len(found)}")
    assert 1 <= len(found) <= 200, len(found)
    driver.stop()


def test_a_sender_whose_answer_to_the_first_question_was_lost_is_found_by_the_repeats(net, gw):
    raw = mdns_peer.raw_socket(net.peer)
    heard = []
    stop = threading.Event()

    def responder():
        # Drops (does not answer) the gateway's first question, answers the later ones.
        raw.settimeout(0.1)
        while not stop.is_set():
            try:
                data, sender = raw.recvfrom(9000)
            except OSError:
                continue
            if sender[0] == net.gw.address and data == INITIAL_QUERY:
                heard.append(time.monotonic())
                if len(heard) >= 2:
                    mdns_peer.send(raw, announcement("Missed Once", "peer", "10.77.0.2"))

    thread = threading.Thread(target=responder, daemon=True)
    thread.start()
    driver, _ = started(net, gw)
    wait_until("Missed Once resolved", lambda: driver.resolved("Missed Once"), timeout=10)
    assert len(heard) >= 2
    time.sleep(max(0.0, heard[0] + 17 - time.monotonic()))
    stop.set()
    thread.join()
    gaps = [round(b - a) for a, b in zip(heard, heard[1:])]
    assert gaps[:4] == [1, 2, 4, 8], gaps
    driver.stop()


def test_a_sender_that_says_goodbye_and_announces_again_at_once_stays(net, gw):
    raw = mdns_peer.raw_socket(net.peer)
    driver, _ = started(net, gw)
    for name in ("Restarts", "Leaves"):
        mdns_peer.send(raw, announcement(name, "peer", "10.77.0.2"))
    for name in ("Restarts", "Leaves"):
        wait_until(f"{name} resolved", lambda: driver.resolved(name), timeout=5)
    for _ in range(3):
        mdns_peer.send(raw, announcement("Restarts", "peer", "10.77.0.2", ttl=0))
        mdns_peer.send(raw, announcement("Leaves", "peer", "10.77.0.2", ttl=0))
        time.sleep(0.1)
        mdns_peer.send(raw, announcement("Restarts", "peer", "10.77.0.2"))
        deadline = time.monotonic() + 3
        while time.monotonic() < deadline:
            assert driver.resolved("Restarts"), "the restarted sender was dropped"
            time.sleep(0.1)
        assert driver.resolved("Leaves") is None
    driver.stop()
