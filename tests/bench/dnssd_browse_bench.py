"""The DNS-SD daemon with 1,000 instances on the link: a stdlib-Python announcer on 10.77.0.2 announces
them (PTR, SRV, TXT and the host's address, one packet per instance), the layer's console driver under
Wine on 10.77.0.1 browses for them. Prints the time until the browse has seen all, the CPU the driver
process (daemon plus its client threads) uses per second at rest afterwards, and the tracked-heap bytes
per cached instance. Needs root (network namespaces); run after a build:
    sudo /usr/bin/python3 tests/bench/dnssd_browse_bench.py"""
import os
import socket
import struct
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

from harness import netns, wine  # noqa: E402
from harness import mdns_peer  # noqa: E402
from harness.dnssd_driver import DnssdDriver  # noqa: E402

COUNT = 1000
TYPE = "_rtsp._tcp.local."


def announcement(i):
    instance = mdns_peer.dotted(f"Bench Stream {i:04d}.{TYPE}")
    host = mdns_peer.dotted("bench.local.")
    records = [
        mdns_peer.record(mdns_peer.dotted(TYPE), 12, instance, 4500, rclass=1),
        mdns_peer.record(instance, 33, struct.pack("!HHH", 0, 0, 8554) + host),
        mdns_peer.record(instance, 16, b"\x09channel=2", 4500),
        mdns_peer.record(host, 1, socket.inet_aton("10.77.0.2")),
    ]
    return mdns_peer.header(0x8400, an=len(records)) + b"".join(records)


def driver_cpu_seconds(ns):
    total = 0.0
    for pid in ns.run("ip", "netns", "pids", ns.name, check=False).stdout.split():
        try:
            if b"dnssd_driver" not in open(f"/proc/{pid}/cmdline", "rb").read():
                continue
            fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
            total += (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
        except OSError:
            pass
    return total


def main():
    netns.remove_stale_namespaces()
    net = netns.NetworkPair().create()
    side = wine.WineSide(net.gw)
    try:
        side.start_server()
        driver = DnssdDriver(side)
        assert driver.start().startswith("ready=1")
        assert driver.call("browse", "b", 0, "_rtsp._tcp") == 0
        time.sleep(1)
        before = driver.heap()
        sender = net.peer.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sender.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(net.peer.address))
        sender.bind((net.peer.address, 5353))  # responses from any other port are not taken
        started = time.monotonic()
        for i in range(COUNT):
            sender.sendto(announcement(i), ("224.0.0.251", 5353))
            if i % 100 == 99:
                time.sleep(0.01)
        sent = time.monotonic() - started
        seen = set()
        while len(seen) < COUNT and time.monotonic() - started < 60:
            seen |= {e[5] for e in driver.events() if e[0] == "b" and e[5].startswith("Bench")}
            time.sleep(0.05)
        more_coming = sum(1 for e in driver.events() if e[0] == "b" and int(e[2]) & 1)
        all_seen = time.monotonic() - started
        time.sleep(2)
        cpu0, t0 = driver_cpu_seconds(net.gw), time.monotonic()
        time.sleep(10)
        cpu = (driver_cpu_seconds(net.gw) - cpu0) / (time.monotonic() - t0)
        after = driver.heap()
        print(f"instances announced              {COUNT} in {sent:.2f} s")
        print(f"browse saw                       {len(seen)} after {all_seen:.2f} s "
              f"({more_coming} replies said more were coming)")
        print(f"driver CPU at rest               {cpu * 1000:.1f} ms per second")
        print(f"tracked heap per cached instance {(after['bytes'] - before['bytes']) / COUNT:.0f} bytes, "
              f"{(after['blocks'] - before['blocks']) / COUNT:.1f} blocks")
        driver.stop()
    finally:
        side.stop()
        net.destroy()


main()
