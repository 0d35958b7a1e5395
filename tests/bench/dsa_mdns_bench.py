#!/usr/bin/python3
"""The DSA multicast-DNS engine alone (dsa_driver.exe under Wine) against a Python peer in a network
namespace. Run as root after a build:  tests/bench/dsa_mdns_bench.py [burst|questions|flood|all]
- burst: 1,000 services of 50 hosts, each announced once within one second: the time until every
  service is a resolved row of the engine's tables, the datagrams the engine dropped, its CPU time
  per second at rest and its working set;
- questions: 1,000 instances whose SRV questions are never answered: the questions per second the
  engine sends in the second and in the fifth minute (5 minutes);
- flood: 2,000 queries a second for 5 s for the engine's registered stream: the response datagrams
  per second it sends."""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

from harness import mdns_peer, wine  # noqa: E402
from harness.dsa_driver import DsaDriver  # noqa: E402
from test_dsa_crowded import capture, per_second, query_flood, send_paced, unresolvable_ptrs  # noqa: E402

SERVICES, HOSTS = 1000, 50


def resolved_count(driver):
    streams, nodes = driver.tables()
    return sum(1 for s in streams if s["node"] in nodes and nodes[s["node"]]["noaddress"] == "0")


def burst(net, driver, raw):
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


def questions(net, driver, raw):
    start = time.monotonic()
    send_paced(raw, unresolvable_ptrs(1000, "never "), 100)
    # The second minute, and the fifth (the rows expire after 300 s and go 20 s later).
    for minute in (1, 4):
        time.sleep(max(0.0, start + 60 * minute - time.monotonic()))
        stamps = capture(raw, net.gw.address, 60, is_response=False)
        counts = per_second(stamps, start + 60 * minute, 60)
        datagrams = sum(1 for t, _ in stamps if start + 60 * minute <= t < start + 60 * minute + 60)
        print(f"1,000 unresolved rows, {60 * minute}-{60 * minute + 60} s: {sum(counts) / 60:.1f} questions/s "
              f"(most in one second {max(counts)}), {datagrams / 60:.1f} query datagrams/s")


def flood(net, driver, raw):
    found, sent = query_flood(net, driver, raw, 5)
    print(f"query flood: {10000 / sent:.0f} queries/s for {sent:.1f} s drew {len(found) / 5:.1f} "
          f"response datagrams/s ({len(found)} in all)")


def main():
    parts = {"burst": burst, "questions": questions, "flood": flood}
    chosen = sys.argv[1] if len(sys.argv) > 1 else "all"
    for name, part in parts.items():
        if chosen not in ("all", name):
            continue
        with wine.namespaces_with_wine("bench") as (net, gw):
            driver = DsaDriver(gw)
            driver.start(net.gw.address)
            raw = mdns_peer.raw_socket(net.peer)
            time.sleep(1.5)
            part(net, driver, raw)
            driver.stop()


if __name__ == "__main__":
    main()
