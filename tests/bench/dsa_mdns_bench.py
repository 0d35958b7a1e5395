#!/usr/bin/python3
"""The DSA multicast-DNS engine under a burst: 1,000 services of 50 hosts, each announced once within
one second by a Python peer in a network namespace, to the engine alone (dsa_driver.exe under Wine).
Run as root after a build:  tests/bench/dsa_mdns_bench.py
Prints the time until every service is a resolved row of the engine's tables, the datagrams the
engine dropped, its CPU time per second at rest and its working set."""
import os
import socket
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

from harness import mdns_peer, netns, wine  # noqa: E402
from harness.dsa_driver import DsaDriver  # noqa: E402

SERVICES, HOSTS = 1000, 50


def announcement(i):
    host = mdns_peer.name(f"host{i % HOSTS:02d}", "local")
    inst = mdns_peer.name(f"service {i:04d}", "_rtsp", "_tcp", "local")
    subtype = mdns_peer.name("_corvane_session", "_sub", "_rtsp", "_tcp", "local")
    return (mdns_peer.header(0x8400, an=1, ar=3)
            + mdns_peer.record(subtype, 12, inst, 4500)
            + mdns_peer.record(inst, 33, b"\0\0\0\0\x21\x6a" + host)
            + mdns_peer.record(inst, 16, b"\0", 4500)
            + mdns_peer.record(host, 1, socket.inet_aton(f"10.77.0.{2 + i % HOSTS}")))


def resolved_count(driver):
    streams, nodes = driver.tables()
    return sum(1 for s in streams if s["node"] in nodes and nodes[s["node"]]["noaddress"] == "0")


def main():
    netns.remove_stale_namespaces()
    net = netns.NetworkPair().create()
    gw = wine.WineSide(net.gw, slot="bench")
    try:
        gw.start_server()
        driver = DsaDriver(gw)
        driver.start(net.gw.address)
        raw = mdns_peer.raw_socket(net.peer)
        time.sleep(1.5)
        packets = [announcement(i) for i in range(SERVICES)]
        start = time.monotonic()
        for n, packet in enumerate(packets):
            mdns_peer.send(raw, packet)
            time.sleep(max(0.0, start + (n + 1) / SERVICES - time.monotonic()))
        sent = time.monotonic() - start
        while resolved_count(driver) < SERVICES and time.monotonic() - start < 60:
            time.sleep(0.05)
        all_in = time.monotonic() - start
        print(f"{SERVICES} services of {HOSTS} hosts sent in {sent:.2f} s; "
              f"all resolved in the tables after {all_in:.2f} s (count {resolved_count(driver)})")
        print(f"datagrams dropped by the engine: {driver.dropped()}")
        before = driver.usage()
        time.sleep(10)
        after = driver.usage()
        print(f"engine CPU at rest: {(after['cpu_ms'] - before['cpu_ms']) / 10:.1f} ms per second "
              f"(with {SERVICES} rows counting down)")
        print(f"memory: working set {after['working_set'] / 1e6:.1f} MB")
        driver.stop()
    finally:
        gw.stop()
        net.destroy()


if __name__ == "__main__":
    main()
