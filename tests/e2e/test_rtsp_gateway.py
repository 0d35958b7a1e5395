"""The gateway's RTSP server under Wine: streams published by their RTSP wish and seen from the peer
by a raw client, ffprobe and an RTCP listener; the port check; the server thread's end."""
import socket
import time

from harness.rtsp_peer import (STUDIO_A_SDP, RawClient, first_report, group_listener, parse_rtcp, receive,
                               wait_for_bye)
from harness.sap_peer import GROUP, PORT as SAP_PORT, peer_socket, sap_packet
from harness.velmora_host import VelmoraHost, pane_line

PORT = 8554
SDP = STUDIO_A_SDP
# Another stream of the same name (another origin).
OTHER_SDP = SDP.replace("o=- 1311738121 1311738121", "o=- 42 7").replace("239.69.1.2", "239.69.1.3")


def add_sdp(host, sdp):
    """The SDP text as the operator pastes it (the host's "add-sdp" takes lines joined by "\\n")."""
    host.command("add-sdp " + sdp.replace("\r\n", "\\n"))


def library_line(text):
    return "CLoggingUsageEnvironment::AddLogging() " + text


def start_host(gw, port=PORT):
    host = VelmoraHost(gw, {"Network": {"Interface": "10.77.0.1 (any adapter)", "RTSPPort": port,
                                        "UseBonjour": "off"}})
    assert host.init_result == 1
    return host


def published(host, kind_text):
    """The rtsp=<wanted>/<published> field of each stream of that kind, in table order."""
    return [s["rtsp"] for s in host.streams() if s["kind"] == kind_text]


def url(net, name_path="by-name/Studio%20A"):
    return f"rtsp://{net.gw.address}:{PORT}/{name_path}"


def describe(client, target, cseq):
    return client.request(f"DESCRIBE {target} RTSP/1.0\r\nCSeq: {cseq}\r\nAccept: application/sdp\r\n\r\n")


def test_published_stream_is_described_probed_and_reported(net, gw):
    rtcp = group_listener(net.peer, 5005)
    rtp = group_listener(net.peer, 5004)
    host = start_host(gw)
    gw.wait_for_log(pane_line(f"Start RTSP server on port {PORT}"))
    sap = peer_socket(net)
    sap.sendto(sap_packet(SDP), (GROUP, SAP_PORT))
    host.wait_for_streams(lambda table: [s["kind"] for s in table] == ["SAP"])
    client = RawClient(net.peer, net.gw.address, PORT)

    status, _, _ = describe(client, url(net), 1)
    assert status == "RTSP/1.0 404 Not Found", "published before its wish"

    host.command("rtsp on SAP Studio A")
    published_at = time.monotonic()
    host.wait_for_streams(lambda table: table[0]["rtsp"] == "1/1")

    status, headers, _ = client.request(f"OPTIONS {url(net)} RTSP/1.0\r\nCSeq: 2\r\n\r\n")
    assert status == "RTSP/1.0 200 OK"
    assert headers["cseq"] == "2" and headers["public"] == "OPTIONS, DESCRIBE"
    assert headers["date"].endswith(" GMT")

    # The session "by-name/Studio A" is found by its escaped name; the body is the SDP as heard.
    status, headers, body = describe(client, url(net), 3)
    assert status == "RTSP/1.0 200 OK"
    assert headers["cseq"] == "3"
    assert headers["content-type"] == "application/sdp"
    assert headers["content-base"] == url(net) + "/"
    assert int(headers["content-length"]) == len(body)
    assert body == SDP.encode("ascii")

    status, headers, _ = describe(client, url(net, "by-name/Nobody"), 4)
    assert status == "RTSP/1.0 404 Not Found" and headers["cseq"] == "4"

    probe = net.peer.run("ffprobe", "-loglevel", "debug", "-rtsp_transport", "tcp", "-show_streams", url(net),
                         check=False, timeout=60)
    output = probe.stdout + probe.stderr
    for line in SDP.strip().split("\r\n"):
        assert line in output, f"ffprobe did not show {line!r}:\n{output}"
    assert "audio codec set to: pcm_s24be" in output, output

    # RTCP of the placeholder session: a report at once, with the host name as CNAME, and more after it.
    ssrc, cname, _ = first_report(rtcp, net.gw.address, published_at)
    assert len(cname) < 100
    data, _, _ = receive(rtcp, 10)
    assert data is not None, "no second RTCP report"
    assert parse_rtcp(data) == [(200, ssrc, None), (202, ssrc, cname)]

    host.command("rtsp off SAP Studio A")
    host.wait_for_streams(lambda table: table[0]["rtsp"] == "0/0")
    assert wait_for_bye(rtcp) == [(200, ssrc, None), (202, ssrc, cname), (203, ssrc, None)]
    status, _, _ = describe(client, url(net), 5)
    assert status == "RTSP/1.0 404 Not Found", "still described after its wish was cleared"
    data, _, _ = receive(rtcp, 6)
    assert data is None, "RTCP went on after the publication ended"
    data, _, _ = receive(rtp, 0.1)
    assert data is None, "nothing may be sent on the RTP port"
    client.close()

    assert host.exit() < 5
    log = gw.wait_for_log("CVelmoraManager::Exit() done")
    assert library_line(f"setupStreamSocket bind at {net.gw.address}:{PORT}") in log
    assert library_line(f"accept()ed connection from {net.peer.address}") in log
    assert library_line(f'Play this stream using the URL "{url(net)}"') in log
    sdp_line = SDP.replace("\r", " ").replace("\n", " ").strip()
    assert library_line(f'Play this stream using the SDP "{sdp_line}  "') in log
    # A request of several header lines is one log line, line ends turned into blanks.
    assert (f"new bytes:DESCRIBE {url(net)} RTSP/1.0  CSeq: 3  Accept: application/sdp") in log
    assert "library objects still in use" not in log


def test_name_clash_keeps_the_published_session_and_retries_later(net, gw):
    host = start_host(gw)
    sap = peer_socket(net)
    sap.sendto(sap_packet(SDP), (GROUP, SAP_PORT))
    host.wait_for_streams(lambda table: len(table) == 1)
    add_sdp(host, OTHER_SDP)
    host.command("rtsp on SAP Studio A")
    host.wait_for_streams(lambda table: table[0]["rtsp"] == "1/1")
    host.command("rtsp on SDP Studio A")
    clash = "CVelmoraStream::AddToRTSPServer() cannot publish Studio A: a session of this name is already published"
    gw.wait_for_log(clash)
    time.sleep(1)
    assert gw.log_text().count(clash) == 1, "the failed publication was tried again at once"
    assert published(host, "SDP") == ["1/0"]
    # Switching the wish off and on again tries at once.
    host.command("rtsp off SDP Studio A")
    time.sleep(0.2)  # the server thread sees the wish off on one of its 10 ms passes
    host.command("rtsp on SDP Studio A")
    gw.wait_for_log(clash, count=2, timeout=2)

    client = RawClient(net.peer, net.gw.address, PORT)
    status, _, body = describe(client, url(net), 1)
    assert status == "RTSP/1.0 200 OK" and body == SDP.encode("ascii"), "the clash touched the first session"

    # Once the name is free, the waiting stream is published on its next try.
    host.command("rtsp off SAP Studio A")
    host.wait_for_streams(lambda table: table[0]["rtsp"] == "0/0")
    host.wait_for_streams(lambda table: table[1]["rtsp"] == "1/1", timeout=25)
    status, _, body = describe(client, url(net), 2)
    assert status == "RTSP/1.0 200 OK" and body == OTHER_SDP.encode("ascii")
    client.close()

    # Removing an SDP-text stream (as the dialog does) unpublishes it before it is deleted.
    host.command("remove SDP Studio A")
    assert len(host.streams()) == 1
    client = RawClient(net.peer, net.gw.address, PORT)
    status, _, _ = describe(client, url(net), 3)
    assert status == "RTSP/1.0 404 Not Found"
    client.close()
    host.exit()


def test_exit_while_published_says_goodbye_and_ends_promptly(net, gw):
    rtcp = group_listener(net.peer, 5005)
    host = start_host(gw)
    add_sdp(host, SDP)
    host.command("rtsp on SDP Studio A")
    data, _, _ = receive(rtcp, 10)
    assert data is not None
    ssrc = parse_rtcp(data)[0][1]

    seconds = host.exit()
    assert seconds < 3, f"Exit took {seconds:.1f} s"
    assert wait_for_bye(rtcp)[-1] == (203, ssrc, None)
    log = gw.wait_for_log("CVelmoraManager::Exit() done")
    assert "library objects still in use" not in log


def test_port_in_use_is_reported_and_no_server_runs(net, gw):
    holder = net.gw.socket(socket.AF_INET, socket.SOCK_STREAM)
    holder.bind(("", 8080))
    holder.listen(1)
    try:
        # A port beyond 16 bits: the default port 8080 is used, and the line names it.
        host = start_host(gw, port="70000")
        assert host.state()["rtspport"] == "8080"
        log = gw.wait_for_log(pane_line("Check RTSP server port 8080 failed"))
        assert "Start RTSP server on port" not in log
        add_sdp(host, SDP)
        host.command("rtsp on SDP Studio A")
        time.sleep(0.5)
        assert published(host, "SDP") == ["1/0"], "published without a server"
        assert host.exit() < 3
    finally:
        holder.close()

    # The test host itself holding the port: a second one finds it taken.
    first = start_host(gw)
    gw.wait_for_log(pane_line(f"Start RTSP server on port {PORT}"))
    RawClient(net.peer, net.gw.address, PORT).close()  # its listening socket is up
    second = start_host(gw)
    gw.wait_for_log(pane_line(f"Check RTSP server port {PORT} failed"))
    second.exit()
    first.exit()
