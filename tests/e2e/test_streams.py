"""Streams and their surroundings under faults: a UTF-8 session name, a resolver that never answers,
a log folder that cannot be used and a saved window placement that would be invisible."""
import os
import shutil
import socket
import threading

from harness.dialog_driver import Dialog, read_settings
from harness.rtsp_peer import RawClient
from harness.sap_peer import GROUP, PORT as SAP_PORT, peer_socket, sap_packet
from harness.velmora_host import VelmoraHost, pane_line
from harness.wait import wait_until

RTSP_PORT = 8554
SETTINGS = {"Network": {"Interface": "10.77.0.1", "RTSPPort": RTSP_PORT, "UseBonjour": "off"}}


def test_utf8_name_is_read_as_utf8_and_described_byte_for_byte(net, gw):
    host = VelmoraHost(gw, SETTINGS)
    gw.wait_for_log(pane_line(f"Start RTSP server on port {RTSP_PORT}"))
    sdp = ("v=0\r\no=- 77 1 IN IP4 10.77.0.2\r\ns=Stra\u00dfe 1\r\nc=IN IP4 239.69.1.7/32\r\nt=0 0\r\n"
           "m=audio 5004 RTP/AVP 98\r\n").encode("utf-8")
    peer_socket(net).sendto(sap_packet("") + sdp, (GROUP, SAP_PORT))
    table = host.wait_for_streams(lambda t: len(t) == 1)
    assert table[0]["name"] == "Stra\u00dfe 1"
    gw.wait_for_log(pane_line("Received SAP announce for: Stra\u00dfe 1"))

    host.command("rtsp on SAP Stra\u00dfe 1")
    host.wait_for_streams(lambda t: t[0]["rtsp"] == "1/1")
    client = RawClient(net.peer, net.gw.address, RTSP_PORT)
    url = f"rtsp://{net.gw.address}:{RTSP_PORT}/by-name/Stra%C3%9Fe%201"
    status, headers, body = client.request(f"DESCRIBE {url} RTSP/1.0\r\nCSeq: 1\r\n\r\n")
    assert status == "RTSP/1.0 200 OK"
    assert body == sdp
    client.close()
    assert host.exit() < 5


class SilentDns:
    """A name server on the peer that takes every query and answers none."""

    def __init__(self, net):
        self.sock = net.peer.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((net.peer.address, 53))
        self.sock.settimeout(0.2)
        self.queries = 0
        self.closed = False
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        while not self.closed:
            try:
                self.sock.recvfrom(2048)
                self.queries += 1
            except OSError:
                continue

    def close(self):
        self.closed = True
        self.sock.close()


def test_a_silent_resolver_bounds_the_fetch_and_the_program_ends_within_5_s(net, gw):
    # "ip netns exec" puts /etc/netns/<namespace>/resolv.conf in place of the host's for the
    # programs of the gateway's namespace; the wineserver and the host are started after it exists.
    etc = f"/etc/netns/{net.gw.name}"
    os.makedirs(etc, exist_ok=True)
    try:
        with open(f"{etc}/resolv.conf", "w") as f:
            f.write(f"nameserver {net.peer.address}\noptions timeout:30 attempts:3\n")
        dns = SilentDns(net)
        host = VelmoraHost(gw, SETTINGS)
        host.command("rtsp-add rtsp://studio-a.example:8554/by-name/x")
        wait_until("a query at the silent server", lambda: dns.queries > 0, 10)
        log = gw.wait_for_log("for rtsp://studio-a.example:8554/by-name/x failed, State = connecting", timeout=15)
        assert "Received SDP for" not in log
        # A second fetch waits for the resolver when the program is told to end.
        host.command("rtsp-add rtsp://studio-b.example:8554/by-name/y")
        wait_until("the second lookup", lambda: "studio-b.example, 8554" in gw.log_text(), 5)
        assert host.exit() < 5
        dns.close()
    finally:
        shutil.rmtree(etc, ignore_errors=True)


def test_an_unusable_log_folder_gives_one_red_line_and_the_program_runs_on(net, gw):
    # A folder below a file.
    blocker = gw.drive_c("blocker")
    blocker.parent.mkdir(parents=True, exist_ok=True)
    blocker.write_bytes(b"x")
    settings = dict(SETTINGS, Logging={"Directory": r"C:\blocker\logs", "Filename": "gw"})
    host = VelmoraHost(gw, settings, with_log=False)
    assert host.init_result == 1
    red = [line.split("\t", 2)[2] for line in host.command("pane")
           if line.startswith("pane\tred\t") and "log file" in line]
    assert len(red) == 1, red
    assert red[0].startswith("Cannot open log file C:\\blocker\\logs\\gw_") and ": error " in red[0], red[0]
    assert any("Start SAP listening OK" in line for line in host.command("pane"))
    assert host.exit() < 5


def test_an_invisible_saved_placement_is_replaced_by_the_default(net, gw):
    settings = dict(SETTINGS, WindowState={"WindowPlacement": "0,1,-1,-1,-1,-1,30000,30000,30800,30600"})
    dialog = Dialog(gw, settings)
    _, left, top, right, bottom, _ = dialog.placement()
    assert 0 <= left < 1280 and 0 <= top < 1024 and right > left and bottom > top
    dialog.command("syscommand", "close")
    assert dialog.wait_until_ended() == 0
    # What is saved is where the dialog really was.
    saved = read_settings(gw)["WindowState"]["WindowPlacement"]
    assert ",30000,30000," not in saved
