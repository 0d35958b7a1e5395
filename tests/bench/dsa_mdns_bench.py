#!/usr/bin/python3
"""The DSA multicast-DNS engine under a burst: 1,000 services of 50 hosts, each announced once within
one second by a Python peer in a network namespace, to the engine alone (dsa_driver.exe under Wine).
Run as root after a build:  tests/bench/dsa_mdns_bench.py
Prints the time until every service is a resolved row of the engine's tables, the datagrams the
engine dropped, its CPU time per second at rest and its working set."""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

from harness import mdns_peer, wine  # noqa: E402
from harness.dsa_driver import DsaDriver  # noqa: E402

SERVICES, HOSTS = 1000, 50


def resolved_count(driver):
    streams, nodes = driver.tables()
    return sum(1 for s in streams if s["node"] in nodes and nodes[s["node"]]["noaddress"] == "0")


def main():
    with wine.namespaces_with_wine("bench") as (net, gw):
        driver = DsaDriver(gw)
        driver.start(net.gw.address)
        raw = mdns_peer.raw_socket(net.peer)
        time.sleep(1.5)
        packets = [mdns_peer.announcement(f"service {i:04d}", f"host{i % HOSTS:02d}",
                                          f"10.77.0.{2 + i % HOSTS}", txt=True) for i in range(SERVICES)]
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


if __name__ == "__main__":
    main()
