"""SDP retrieval by RTSP DESCRIBE for streams added by RTSP URL, against a Python RTSP server on the peer side."""
import datetime
import os
import socket
import threading
import time
import urllib.parse

from harness.sap_peer import peer_socket, received_from_gateway
from harness.velmora_host import VelmoraHost, pane_line
from harness.wait import wait_until

PORT = 8554
REFUSED_PORT = 9
HUGE_BYTES = 50 * 1024 * 1024


def sdp(name):
    return (
        "v=0\r\n"
        "o=- 4711 1 IN IP4 10.77.0.2\r\n"
        f"s={name}\r\n"
        "c=IN IP4 239.69.1.2/32\r\n"
        "t=0 0\r\n"
        "m=audio 5004 RTP/AVP 98\r\n"
        "a=rtpmap:98 L24/48000/2\r\n"
    ).encode("cp1252")


def reply(status, body, content_type="application/sdp"):
    head = (
        f"RTSP/1.0 {status}\r\nCSeq: 0\r\nContent-Type: {content_type}\r\nContent-Length: {len(body)}\r\n\r\n"
    ).encode("ascii")
    return head, body


class RtspTestServer:
    """Answers DESCRIBE by the last path segment of the URL: ok-<name>, split-<name> (an "_" in the name
    stands for a blank), silent, notfound, huge."""

    def __init__(self, net, port=PORT, bind_address=None):
        """Listens on the peer's address, or on bind_address ("" for every address of the peer side)."""
        self.sock = net.peer.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind((net.peer.address if bind_address is None else bind_address, port))
        self.sock.listen(128)
        self.address = net.peer.address
        self.port = port
        self.requests = []  # (monotonic time, path, raw request)
        self.huge_sent = []
        self.lock = threading.Lock()
        self.closed = False
        threading.Thread(target=self._accept, daemon=True).start()

    def url(self, path):
        return f"rtsp://{self.address}:{self.port}/{path}"

    def close(self):
        self.closed = True
        self.sock.close()

    def arrivals(self, path):
        with self.lock:
            return [t for t, p, _ in self.requests if p == path]

    def raw_requests(self, path):
        with self.lock:
            return [raw for _, p, raw in self.requests if p == path]

    def _accept(self):
        while not self.closed:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _serve(self, conn):
        with conn:
            conn.settimeout(30)
            raw = b""
            try:
                while b"\r\n\r\n" not in raw:
                    chunk = conn.recv(4096)
                    if not chunk:
                        return
                    raw += chunk
            except OSError:
                return
            path = raw.split(b" ")[1].decode("ascii", "replace").rsplit("/", 1)[-1]
            with self.lock:
                self.requests.append((time.monotonic(), path, raw))
            try:
                self._answer(conn, path)
                # Stay connected until the gateway closes, like a server keeping the connection alive.
                while conn.recv(4096):
                    pass
            except OSError:
                pass

    def _answer(self, conn, path):
        if path.startswith("ok-"):
            head, body = reply("200 OK", sdp(path[3:].replace("_", " ")))
            conn.sendall(head + body)
        elif path.startswith("split-"):
            head, body = reply("200 OK", sdp(path[6:].replace("_", " ")))
            conn.sendall(head)
            time.sleep(0.3)
            conn.sendall(body)
        elif path == "notfound":
            # A failure that talks about SDP all the same, then the server closes.
            head, body = reply("404 Not Found", sdp("Not Found"))
            conn.sendall(head + body)
            conn.shutdown(socket.SHUT_RDWR)
        elif path == "huge":
            head = f"RTSP/1.0 200 OK\r\nCSeq: 0\r\nContent-Type: application/sdp\r\nContent-Length: {HUGE_BYTES}\r\n\r\n"
            conn.sendall(head.encode("ascii"))
            block = (b"a=x-filler:" + b"0123456789" * 100 + b"\r\n") * 64
            sent = 0
            try:
                while sent < HUGE_BYTES:
                    conn.sendall(block)
                    sent += len(block)
            finally:
                self.huge_sent.append(sent)
        elif path in LOOSE_REPLIES:
            conn.sendall(LOOSE_REPLIES[path])
        # "silent": read the request and never answer.


class SenderServer(RtspTestServer):
    """Answers DESCRIBE of .../by-name/<escaped name> with that name's SDP, as a sender does."""

    def _answer(self, conn, path):
        head, body = reply("200 OK", sdp(urllib.parse.unquote(path)))
        conn.sendall(head + body)


# Replies that must never be taken: each is answered and the connection kept open.
LOOSE_REPLIES = {
    # No Content-Length and half a body, then the server stalls: the time limit ends no body.
    "stalled": b"RTSP/1.0 200 OK\r\nCSeq: 0\r\nContent-Type: application/sdp\r\n\r\nv=0\r\ns=H p",
    "http": b"HTTP/1.1 200 OK\r\nContent-Type: application/sdp\r\nContent-Length: %d\r\n\r\n" % len(sdp("Http"))
    + sdp("Http"),
    "othertype": b"RTSP/1.0 200 OK\r\nContent-Type: text/plain\r\nX-Note: application/sdp\r\nContent-Length: %d\r\n\r\n"
    % len(sdp("Other"))
    + sdp("Other"),
    "nul": b"RTSP/1.0 200 OK\r\nContent-Type: application/sdp\r\nContent-Length: %d\r\n\r\n" % (len(sdp("Nul")) + 1)
    + sdp("Nul")[:20]
    + b"\0"
    + sdp("Nul")[20:],
    "noname": b"RTSP/1.0 200 OK\r\nContent-Type: application/sdp\r\nContent-Length: 10\r\n\r\nv=0\r\ns=\r\n",
}


def test_stalled_and_loose_replies_are_never_taken(net, gw):
    server = RtspTestServer(net)
    # The interface given by its address alone.
    host = VelmoraHost(gw, {"Network": {"Interface": "10.77.0.1"}})
    try:
        for path in LOOSE_REPLIES:
            host.command("rtsp-add " + server.url(path))
        for path in LOOSE_REPLIES:
            gw.wait_for_log(f"Get SDP on Interface 10.77.0.1 for {server.url(path)} failed, State = received data", timeout=20)
        log = gw.log_text()
        assert "Received SDP for" not in log
        assert all(not s["name"] for s in host.streams())
        assert host.exit() < 5
    finally:
        server.close()


def stamps(log, text, whole_end=False):
    """Times of the log lines holding text (with whole_end: ending with it), from their stamps."""
    found = []
    for line in log.splitlines():
        if line.endswith(text) if whole_end else text in line:
            found.append(datetime.datetime.strptime(line[:23], "%d.%m.%Y %H:%M:%S,%f"))
    return found


def host_rss_kib():
    """Resident memory of the running velmora_host.exe processes (the largest)."""
    largest = 0
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if b"velmora_host.exe" not in f.read():
                    continue
            with open(f"/proc/{pid}/status") as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        largest = max(largest, int(line.split()[1]))
        except OSError:
            continue
    return largest


def test_describe_requests_replies_failures_and_retries(net, gw):
    server = RtspTestServer(net)
    # Without normalisation the SAP payload is the fetched SDP byte for byte.
    host = VelmoraHost(gw, {"Network": {"Interface": "10.77.0.1 (any adapter)"}, "Settings": {"DoSDPSort": "false"}})
    sap_peer = peer_socket(net)
    try:
        refused = f"rtsp://{net.peer.address}:{REFUSED_PORT}/refused"
        urls = {
            "ok": server.url("ok-Studio_OK"),
            "split": server.url("split-Studio_Split"),
            "silent": server.url("silent"),
            "notfound": server.url("notfound"),
            "huge": server.url("huge"),
            "refused": refused,
        }
        for url in urls.values():
            host.command("rtsp-add " + url)
        # No fetch for a URL of another scheme, nor for a found instance that is not resolved yet.
        host.command("rtsp-add http://10.77.0.2/not-rtsp")
        host.command("discovery-add Unresolved")

        # The request, byte for byte.
        wait_until("the first request", lambda: server.raw_requests("ok-Studio_OK"), 10)
        assert server.raw_requests("ok-Studio_OK")[0] == (
            f"DESCRIBE {urls['ok']} RTSP/1.0\r\n"
            "connection: Keep-Alive\r\n"
            "CSeq: 0\r\n"
            "User-Agent: CORVANE VELMORA \r\n"
            "Accept: application/sdp\r\n\r\n"
        ).encode("ascii")

        # 200 replies, one of them with its body 300 ms behind the header: the whole SDP is taken.
        gw.wait_for_log(pane_line("Received SDP for: Studio OK"))
        gw.wait_for_log(pane_line("Received SDP for: Studio Split"))
        for name, url in (("Studio OK", urls["ok"]), ("Studio Split", urls["split"])):
            lines = host.command("rtsp-sdp " + url)
            assert "\r\n".join(line.split("\t", 1)[1] for line in lines) + "\r\n" == sdp(name).decode()
        table = {s["url"]: s for s in host.streams()}
        assert table[urls["ok"]]["name"] == "Studio OK"
        assert table[urls["ok"]]["origin"] == "- 4711 1 IN IP4 10.77.0.2"
        assert table[urls["ok"]]["connection"].startswith("239.69.1.2")

        # With SAP wanted, the stream added by URL is announced with the SDP it fetched.
        host.command("sap on RTSP Studio OK")
        announcements = received_from_gateway(sap_peer, net, 2.0)
        assert len(announcements) == 1
        packet = announcements[0]
        assert packet[0] == 0x20 and packet[4:8] == socket.inet_aton(net.peer.address)
        assert packet[8:] == b"application/sdp\0" + sdp("Studio OK")
        gw.wait_for_log(pane_line("Send SAP announce for: Studio OK"))

        # A 404 is never taken, although it names application/sdp; the peer closed.
        log = gw.wait_for_log(f"for {urls['notfound']} failed, State = closed: RTSP/1.0 404 Not Found, CSeq: 0, ")
        assert pane_line("Received SDP for: Not Found") not in log

        # 50 MB: the fetch gives up past its limit with memory bounded.
        log = gw.wait_for_log(f"for {urls['huge']} failed, State = received data: RTSP/1.0 200 OK, ", timeout=30)
        assert "reply longer than 1048576 bytes, giving up" in log
        rss = host_rss_kib()
        assert 0 < rss < 150 * 1024, f"host holds {rss} KiB"
        wait_until("the huge reply to end", lambda: server.huge_sent, 20)
        assert server.huge_sent[0] < HUGE_BYTES

        # A silent server and a refused connection: the red line after the 10 s limit ...
        for key in ("silent", "refused"):
            log = gw.wait_for_log(f"Get SDP on Interface 10.77.0.1 for {urls[key]} failed, State = sending", timeout=20)
            started = stamps(log, f"{urls[key]} => start")[0]
            failed = stamps(log, f"for {urls[key]} failed")[0]
            assert 9.9 < (failed - started).total_seconds() < 11.5, (key, started, failed)

        # ... and a new attempt 20 s after the previous one.
        wait_until("the second silent request", lambda: len(server.arrivals("silent")) >= 2, 25)
        first, second = server.arrivals("silent")[:2]
        assert 19.0 < second - first < 21.5
        log = gw.wait_for_log(f"Connect( {net.peer.address}, {REFUSED_PORT} )", count=2, timeout=5)
        first, second = stamps(log, f"Connect( {net.peer.address}, {REFUSED_PORT} )")[:2]
        assert 19.0 < (second - first).total_seconds() < 21.5

        # The URLs that cannot be fetched: a red line at once and again 20 s later.
        log = gw.wait_for_log(pane_line("Parse RTSP address failed: http://10.77.0.2/not-rtsp"), count=2, timeout=5)
        assert 'URL = http://10.77.0.2/not-rtsp => URL is not of the form \"rtsp://\"' in log
        empty_url = pane_line("Parse RTSP address failed: ")
        wait_until("the second empty URL", lambda: len(stamps(gw.log_text(), empty_url, whole_end=True)) >= 2, 5)
        log = gw.log_text()
        first, second = stamps(log, empty_url, whole_end=True)[:2]
        assert 19.0 < (second - first).total_seconds() < 21.5
        assert "rtsp://:-1" not in log

        # Fetched streams are not fetched again.
        assert len(server.arrivals("ok-Studio_OK")) == 1
        assert len(server.arrivals("split-Studio_Split")) == 1

        # The second fetch from the silent server still waits: ending the gateway ends it at once.
        seconds = host.exit()
        assert seconds < 5, f"Exit took {seconds:.1f} s"
        assert host.proc.returncode == 0
    finally:
        server.close()
