#!/usr/bin/python3
"""Latency of the default discovery road: from a new sender's multicast-DNS announcement (a raw Python
peer on 10.77.0.2) to the gateway's first SAP announcement of it, for 20 senders one after the other.
The gateway (velmora_host.exe, no UseBonjour setting) wants SAP for each found stream as soon as it is
in the stream table; a Python RTSP server answers its DESCRIBE.
Run as root after a build:  tests/bench/dsa_road_bench.py
Expect at least the 1000 ms delay of a found stream's add, plus up to one poll period (about
1050 ms) and the fetch."""
import os
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

from harness import mdns_peer, wine  # noqa: E402
from harness.sap_peer import peer_socket  # noqa: E402
from harness.velmora_host import VelmoraHost, pane_line  # noqa: E402
from test_dsa_road import SETTINGS, SenderServer  # noqa: E402

SENDERS = 20


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100 * (len(ordered) - 1))))]


def main():
    with wine.namespaces_with_wine("bench") as (net, gw):
        server = SenderServer(net)
        sap = peer_socket(net)
        host = VelmoraHost(gw, SETTINGS)
        gw.wait_for_log(pane_line("Start stream browsing OK"))
        raw = mdns_peer.raw_socket(net.peer)
        first_heard, done = {}, threading.Event()

        def listen():
            while not done.is_set():
                try:
                    data = sap.recv(4096)
                except socket.timeout:
                    continue
                for name in list(sent):
                    if name not in first_heard and f"s={name}\r\n".encode() in data and not data[0] & 4:
                        first_heard[name] = time.monotonic()

        sent = {}
        threading.Thread(target=listen, daemon=True).start()
        latencies = []
        for i in range(SENDERS):
            name = f"Sender {i:02d}"
            sent[name] = time.monotonic()
            mdns_peer.send(raw, mdns_peer.announcement(name, "sender", "10.77.0.2"))
            deadline = time.monotonic() + 15
            switched = False
            while name not in first_heard and time.monotonic() < deadline:
                if not switched and any(s["kind"] == "Bonjour" and s["name"] == name for s in host.streams()):
                    host.command(f"sap on Bonjour {name}")
                    switched = True
                time.sleep(0.02)
            if name in first_heard:
                latencies.append((first_heard[name] - sent[name]) * 1000)
            else:
                print(f"{name}: no SAP announcement within 15 s")
        done.set()
        if latencies:
            print(f"new sender to first SAP announcement, {len(latencies)} senders: "
                  f"p50 {percentile(latencies, 50):.0f} ms, p95 {percentile(latencies, 95):.0f} ms, "
                  f"max {max(latencies):.0f} ms")
        host.exit()
        server.close()


if __name__ == "__main__":
    main()
