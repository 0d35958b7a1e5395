"""The RTSP library seen from the network: a raw client, ffprobe and an RTCP listener on the peer."""
import subprocess
import time

import pytest

from harness.rtsp_peer import (STUDIO_A_SDP, RawClient, first_report, group_listener, parse_rtcp, receive,
                               wait_for_bye)

PORT = 8554
NAME = "Studio A"
PATH = "by-name/Studio%20A"
SDP = STUDIO_A_SDP


class Server:
    """rtsp_serve.exe under Wine in the program's namespace, driven through stdin."""

    def __init__(self, net, gw, tmp_path):
        sdp_file = gw.drive_c("rtsp-test", "session.sdp")
        sdp_file.parent.mkdir(parents=True, exist_ok=True)
        sdp_file.write_bytes(SDP.encode("ascii"))
        self.trace = open(tmp_path / "library-output.txt", "w+")
        self.proc = gw.start(
            "rtsp_serve.exe", net.gw.address, PORT, NAME, r"C:\rtsp-test\session.sdp",
            stdin=subprocess.PIPE, stderr=self.trace,
        )
        assert self.expect("listening") == f"listening {PORT}"

    def expect(self, prefix, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            line = self.proc.stdout.readline()
            if not line:
                break
            if line.startswith(prefix):
                return line.strip()
        raise AssertionError(f"rtsp_serve never said {prefix!r}")

    def command(self, text, answer):
        self.proc.stdin.write(text + "\n")
        self.proc.stdin.flush()
        return self.expect(answer)

    def library_output(self):
        self.trace.seek(0)
        return self.trace.read()


@pytest.fixture
def server(net, gw, tmp_path):
    srv = Server(net, gw, tmp_path)
    yield srv
    if srv.proc.poll() is None:
        srv.command("quit", "stopped")


def test_describe_options_ffprobe_and_rtcp(net, server):
    rtcp = group_listener(net.peer, 5005)
    rtp = group_listener(net.peer, 5004)
    url = f"rtsp://{net.gw.address}:{PORT}/{PATH}"

    client = RawClient(net.peer, net.gw.address, PORT)
    status, headers, _ = client.request(f"DESCRIBE {url} RTSP/1.0\r\nCSeq: 1\r\n\r\n")
    assert status == "RTSP/1.0 404 Not Found", "nothing is published yet"

    published_at = time.monotonic()
    assert server.command("publish", "published") == f"published {url}"

    status, headers, _ = client.request(f"OPTIONS {url} RTSP/1.0\r\nCSeq: 2\r\n\r\n")
    assert status == "RTSP/1.0 200 OK"
    assert headers["cseq"] == "2"
    assert headers["public"] == "OPTIONS, DESCRIBE"
    assert headers["date"].endswith(" GMT")

    status, headers, body = client.request(f"DESCRIBE {url} RTSP/1.0\r\nCSeq: 3\r\nAccept: application/sdp\r\n\r\n")
    assert status == "RTSP/1.0 200 OK"
    assert headers["cseq"] == "3"
    assert headers["content-type"] == "application/sdp"
    assert headers["content-base"] == url + "/"
    assert body == SDP.encode("ascii")
    assert int(headers["content-length"]) == len(body)

    status, headers, _ = client.request(
        f"DESCRIBE rtsp://{net.gw.address}:{PORT}/by-name/Nobody RTSP/1.0\r\nCSeq: 4\r\n\r\n")
    assert status == "RTSP/1.0 404 Not Found"
    assert headers["cseq"] == "4"

    # ffprobe, an independent client, reads the same description. It then asks for SETUP,
    # which this server refuses: the description is all it serves.
    probe = net.peer.run("ffprobe", "-loglevel", "debug", "-rtsp_transport", "tcp", "-show_streams", url,
                         check=False, timeout=60)
    output = probe.stdout + probe.stderr
    for line in SDP.strip().split("\r\n"):
        assert line in output, f"ffprobe did not show {line!r}:\n{output}"
    assert "audio codec set to: pcm_s24be" in output, output
    assert "SETUP" in output and "405" in output, output

    # RTCP: a report right at publication, the next within the RFC 3550 spread of 5 s.
    ssrc, cname, first_at = first_report(rtcp, net.gw.address, published_at)
    data, _, second_at = receive(rtcp, 10)
    assert data is not None, "no second RTCP report"
    assert parse_rtcp(data) == [(200, ssrc, None), (202, ssrc, cname)]
    assert 1.5 < second_at - first_at < 7.5

    assert server.command("unpublish", "unpublished")
    assert wait_for_bye(rtcp) == [(200, ssrc, None), (202, ssrc, cname), (203, ssrc, None)]

    data, _, _ = receive(rtp, 0.5)
    assert data is None, "nothing may be sent on the RTP port"

    status, _, _ = client.request(f"DESCRIBE {url} RTSP/1.0\r\nCSeq: 5\r\n\r\n")
    assert status == "RTSP/1.0 404 Not Found"

    trace = server.library_output()
    assert f"setupStreamSocket bind at {net.gw.address}:{PORT}" in trace
    assert f"accept()ed connection from {net.peer.address}" in trace
