#!/usr/bin/python3
"""The gateway at rest with 1,000 found and announced streams: the operator's dialog (Velmora.exe) on
a virtual display, 1,000 senders of 50 hosts announced by raw multicast-DNS datagrams (long TTLs, and
answering the engine's questions as a sender's responder does) and described by one RTSP server on
the peer side, AUTO on so that every found
stream is announced by SAP (and heard back). Once every stream has been announced, nothing on the
network changes; the program prints, for every minute, its CPU time (percent of one core, over the
whole minute), its resident memory, the lines of its log pane and what it sent and heard by SAP.
Run as root after a build, with tools/env.sh sourced:
    python3 tests/bench/idle_gateway_bench.py [minutes (30)] [dsa|apple]
Five engineers may share the machine: read the shape of the CPU curve (flat or growing), not the
single figures."""
import os
import re
import signal
import subprocess
import sys
import threading
import time
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

from harness import mdns_peer, wine  # noqa: E402
from harness.dialog_driver import Dialog  # noqa: E402
from test_discovery_burst import HOSTS, PORT, announcement, host_address, host_socket  # noqa: E402
from test_discovery_burst import instance as sender_name  # noqa: E402
from test_sdp_retrieval import RtspTestServer, reply  # noqa: E402

SENDERS = 1000
LIST_SAP = 1007
PANE_LINE = re.compile(rb"CVelmoraManager::AddLogTextWnd\(\) (.*)$")
COUNTED = {"sent": b"Send SAP announce for: ", "heard": b"Received SAP announce for: "}


def sender_sdp(name):
    """A sender's own SDP: its own origin line and multicast address."""
    i = int(name.rsplit(" ", 1)[1])
    return (f"v=0\r\no=- {300000 + i} 1 IN IP4 {host_address(i % HOSTS)}\r\ns={name}\r\n"
            f"c=IN IP4 239.79.{i // 250}.{i % 250 + 1}/32\r\nt=0 0\r\nm=audio 5004 RTP/AVP 98\r\n"
            "a=rtpmap:98 L24/48000/2\r\n").encode("cp1252")


class Senders(RtspTestServer):
    def __init__(self, net):
        super().__init__(net, PORT, bind_address="")

    def _answer(self, conn, path):
        head, body = reply("200 OK", sender_sdp(urllib.parse.unquote(path)))
        conn.sendall(head + body)


class Responder:
    """Answers every question of the gateway that names a sender or its host with that sender's
    announcement, sent from its host's address."""

    def __init__(self, net, sockets):
        self.raw = mdns_peer.raw_socket(net.peer)
        self.sockets = sockets
        self.gateway = net.gw.address
        self.keys = [(mdns_peer.name(sender_name(i))[:-1], i) for i in range(SENDERS)]
        self.hosts = [(mdns_peer.name(f"host{h:02d}")[:-1], h) for h in range(HOSTS)]
        self.running = True
        self.answered = 0
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        while self.running:
            try:
                data, source = self.raw.recvfrom(9000)
            except OSError:
                continue
            if source[0] != self.gateway or len(data) < 12 or data[2] & 0x80:
                continue
            wanted = {i for key, i in self.keys if key in data}
            wanted |= {h for key, h in self.hosts if key in data}
            for i in sorted(wanted):
                self.sockets[i % HOSTS].sendto(announcement(i), (mdns_peer.GROUP, mdns_peer.PORT))
                self.answered += 1

    def stop(self):
        self.running = False
        self.thread.join()
        self.raw.close()


def program_pid(ns, exe):
    for pid in ns.run("ip", "netns", "pids", ns.name, check=False).stdout.split():
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if exe.encode() in f.read():
                    return int(pid)
        except OSError:
            pass
    raise RuntimeError(f"no {exe} process")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def resident_mb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


def threads(pid):
    with open(f"/proc/{pid}/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("Threads:"))


class LogReader:
    """Reads what the log files gained since the last call: the pane lines, and among them the SAP
    sends and receipts."""

    def __init__(self, gw):
        self.gw = gw
        self.offsets = {}

    def counts(self):
        found = {"pane": 0, "failed": 0, **{k: 0 for k in COUNTED}}
        for path in self.gw.log_files():
            with open(path, "rb") as f:
                f.seek(self.offsets.get(path, 0))
                data = f.read()
            end = data.rfind(b"\n") + 1
            self.offsets[path] = self.offsets.get(path, 0) + end
            for line in data[:end].splitlines():
                m = PANE_LINE.search(line)
                if not m:
                    continue
                found["pane"] += 1
                for key, text in COUNTED.items():
                    found[key] += m.group(1).startswith(text)
                # Sends that failed ("... failed") are counted among the sent ones and here as well.
                found["failed"] += m.group(1).startswith(COUNTED["sent"]) and m.group(1).rstrip().endswith(b" failed")
        return found


def start_display():
    if os.environ.get("DISPLAY"):
        return None
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    number = b""
    while not number.endswith(b"\n"):
        number += os.read(read, 16)
    os.close(read)
    os.environ["DISPLAY"] = ":" + number.decode().strip()
    return xvfb


def main(minutes, road):
    # Ended by a signal, the namespaces and Wine are still taken down.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    xvfb = start_display()
    settings = {"Network": {"Interface": "10.77.0.1 (any adapter)", "RTSPPort": "8080"},
                "ButtonCheckState": {"AutoVelmora": "1"}}
    if road == "apple":
        settings["Network"]["UseBonjour"] = "APPLE"
    try:
        with wine.namespaces_with_wine("idle-bench") as (net, gw):
            for h in range(HOSTS):
                net.peer.run("ip", "addr", "add", f"{host_address(h)}/24", "dev", net.peer.interface)
            senders = Senders(net)
            sockets = [host_socket(net, host_address(h)) for h in range(HOSTS)]
            responder = Responder(net, sockets)
            dialog = Dialog(gw, settings)
            gw.wait_for_log("Start stream browsing OK", timeout=60)
            pid = program_pid(net.gw, "Velmora.exe")
            log = LogReader(gw)
            started = time.monotonic()
            sockets[0].sendto(announcement(0), (mdns_peer.GROUP, mdns_peer.PORT))
            time.sleep(2)
            for i in range(SENDERS):
                sockets[i % HOSTS].sendto(announcement(i), (mdns_peer.GROUP, mdns_peer.PORT))
                time.sleep(max(0.0, started + 2 + (i + 1) * 0.002 - time.monotonic()))
            sent = heard = 0
            while time.monotonic() - started < 300:
                time.sleep(2)
                c = log.counts()
                sent, heard = sent + c["sent"], heard + c["heard"]
                if sent >= SENDERS and heard >= SENDERS:
                    break
            rows = dialog.count(LIST_SAP)
            print(f"{road}: {SENDERS} senders announced; {sent} SAP announcements sent and {heard} heard back "
                  f"after {time.monotonic() - started:.0f} s; SAP list {rows} rows; {threads(pid)} threads",
                  flush=True)
            print("minute  CPU %  wineserver CPU %  resident MB  pane lines/min  SAP sent/min  SAP heard/min  "
                  "sends failed", flush=True)
            server = program_pid(net.gw, "wineserver")
            total_pane = 0
            for minute in range(1, minutes + 1):
                cpu0, srv0, t0 = cpu_seconds(pid), cpu_seconds(server), time.monotonic()
                time.sleep(60)
                cpu1, srv1, t1 = cpu_seconds(pid), cpu_seconds(server), time.monotonic()
                c = log.counts()
                total_pane += c["pane"]
                print(f"{minute:6d}  {100 * (cpu1 - cpu0) / (t1 - t0):5.1f}  {100 * (srv1 - srv0) / (t1 - t0):16.1f}  "
                      f"{resident_mb(pid):11.0f}  {c['pane']:14d}  {c['sent']:12d}  {c['heard']:13d}  {c['failed']:12d}",
                      flush=True)
            print(f"SAP list {dialog.count(LIST_SAP)} rows; {threads(pid)} threads; "
                  f"pane lines written at rest {total_pane}; questions answered {responder.answered}", flush=True)
            responder.stop()
            dialog.command("syscommand", "close")
            dialog.wait_until_ended(timeout=120)
            senders.close()
            for s in sockets:
                s.close()
    finally:
        if xvfb is not None:
            xvfb.kill()


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 30, sys.argv[2] if len(sys.argv) > 2 else "dsa")
