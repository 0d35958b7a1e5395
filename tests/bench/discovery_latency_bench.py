"""Time from a sender's first DNS-SD announcement on the wire to the gateway's first SAP announcement
of it, over 20 python3-zeroconf senders, in the end-to-end namespaces, with the in-process daemon
("apple") or the program's own engine ("dsa", the default road). Run as root after a build, with
tools/env.sh sourced: `python3 tests/bench/discovery_latency_bench.py [apple|dsa]`. The test host
sets SAP wanted on every found stream as it appears. Prints p50, p95 and max; the floor is the
gateway's 1000 ms add delay (on the default road plus up to one poll period, about 1050 ms, and the
fetch)."""
import os
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))

from harness import mdns_peer, netns, wine  # noqa: E402
from harness.dnssd_driver import service_info, zeroconf_peer  # noqa: E402
from harness.sap_peer import peer_socket  # noqa: E402
from harness.velmora_host import VelmoraHost  # noqa: E402
from test_discovery import RTSP, SETTINGS as APPLE_SETTINGS  # noqa: E402
from test_sdp_retrieval import SenderServer  # noqa: E402

SENDERS = 20


def first_times(sock, key_of, until, found):
    """Records the first arrival time of each key that key_of finds in a datagram."""
    while time.monotonic() < until[0]:
        try:
            data, _ = sock.recvfrom(9000)
        except socket.timeout:
            continue
        now = time.monotonic()
        for key in key_of(data):
            found.setdefault(key, now)


def announced_names(data):
    # A response whose records name "<sender>._rtsp._tcp.local.": the sender's announcement.
    return [f"Sender {i:02d}" for i in range(SENDERS) if f"Sender {i:02d}".encode() in data and data[2] & 0x80]


def sap_names(data):
    text = data.decode("cp1252", errors="replace")
    return [line[2:].strip() for line in text.split("\r\n") if line.startswith("s=")] if not data[0] & 0x04 else []


def main(mode):
    pair = netns.NetworkPair().create()
    side = wine.WineSide(pair.gw)
    try:
        side.start_server()
        SenderServer(pair)
        host = VelmoraHost(side, {"Network": {"Interface": "10.77.0.1 (any adapter)"}} if mode == "dsa" else APPLE_SETTINGS)
        host.command("auto-sap on")
        sap = peer_socket(pair)
        mdns = mdns_peer.raw_socket(pair.peer)
        until = [time.monotonic() + 3600]
        on_wire, on_sap = {}, {}
        listeners = [threading.Thread(target=first_times, args=(mdns, announced_names, until, on_wire)),
                     threading.Thread(target=first_times, args=(sap, sap_names, until, on_sap))]
        for t in listeners:
            t.start()
        with zeroconf_peer(pair) as zc:
            zc.register_service(service_info("Some Camera", RTSP, 554))
            time.sleep(2)
            for i in range(SENDERS):
                zc.register_service(service_info(f"Sender {i:02d}", RTSP, 8554, subtype="_corvane_session"))
            deadline = time.monotonic() + 30
            while len(on_sap) < SENDERS and time.monotonic() < deadline:
                time.sleep(0.1)
            until[0] = 0
            for t in listeners:
                t.join()
        host.exit(timeout=30)
        latencies = sorted((on_sap[n] - on_wire[n]) * 1000 for n in on_wire if n in on_sap)
        if not latencies:
            print("no sender reached SAP")
            return 1

        def pick(q):
            return latencies[min(len(latencies) - 1, int(q * len(latencies)))]

        print(f"{mode}: senders announced: {len(on_wire)}, announced by SAP: {len(latencies)}")
        print(f"first announcement on the wire to first SAP announcement (ms): p50 {pick(0.5):.0f}, "
              f"p95 {pick(0.95):.0f}, max {latencies[-1]:.0f} (floor: the 1000 ms add delay)")
        return 0
    finally:
        side.stop()
        pair.destroy()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "apple"))
