"""The gateway manager under Wine: start-up, log-file lines, hand-over from discovery, exit."""
import re
import socket

from harness.velmora_host import VelmoraHost

STAMP = r"\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d,\d{3} T:\d{4,}  "
CATEGORY = r"( Global,     | IPC,        | ASIO,       | FileAccess, | Debug,      | Statistics, | Stackdump,  | Syslog,  |, )"
MANAGER_LINE = re.compile(STAMP + r"Velmora 1\.0\.0\.27 \( 0x[0-9a-f]{8} \)" + CATEGORY + r".*$")
# The log file's own clean-up lines carry their fixed front part.
LOG_FILE_LINE = re.compile(STAMP + r"Zint -\.-\.-\.- \( 0x00000000 \) Global,      CLogFile::.*$")


def pane_line(text):
    """How a pane line shows in the log file (the host has no pane)."""
    return "CVelmoraManager::AddLogTextWnd() " + text


def assert_in_order(log, texts):
    position = 0
    for text in texts:
        found = log.find(text, position)
        assert found >= 0, f"{text!r} missing after position {position}; log:\n{log[-6000:]}"
        position = found + len(text)


def test_start_up_lines_in_order_and_prompt_exit(gw):
    host = VelmoraHost(gw, {"Network": {"Interface": "10.77.0.1 (any adapter)"}})
    assert host.init_result == 1
    state = host.state()
    assert state["ip"] == "10.77.0.1"
    assert state["product"] == "Velmora" and state["version"] == "1.0.0.27"
    assert state["mode"] == "DSA" and state["rtspport"] == "8080"

    seconds = host.exit()
    assert seconds < 5, f"Exit took {seconds:.1f} s"
    assert host.proc.returncode == 0
    log = gw.wait_for_log("CVelmoraManager::Exit() done")
    assert_in_order(
        log,
        [
            pane_line("Velmora new start"),
            "CVelmoraManager::Init() searching interface 10.77.0.1 (any adapter)",
            "CVelmoraManager::Init() Interface Name: ",
            pane_line("Using NIC "),
            ", IP 10.77.0.1",
            "CVelmoraManager::Init() using interface ",
            "CBonjourHandler::Init() DNS-SD discovery and registration are not available in this build (mode DSA)",
            "CCorvaneManager::Init() Bonjour handler init failed",
            "CCorvaneManager::Init() Stream browser init failed",
            "CCorvaneManager::Init() Stream provider init failed",
            "CCorvaneManager::Init() QueryPerformanceFrequency return ",
            "CVelmoraManager::Init() start CorvaneManager failed",
            pane_line("Start stream browsing failed"),
            pane_line("Start SAP listening OK"),
            "CVelmoraManager::Exit() exit CorvaneManager",
            "CCorvaneManager::Exit() close StreamBrowser",
            "CCorvaneManager::Exit() close StreamProvider",
            "CCorvaneManager::Exit() close BonjourHandler",
            "CCorvaneManager::Exit() done",
            "CVelmoraManager::Exit() done",
        ],
    )
    assert "Check RTSP server port" not in log
    lines = log.splitlines()
    assert len(lines) > 20
    for line in lines:
        assert MANAGER_LINE.match(line) or LOG_FILE_LINE.match(line), f"malformed log line {line!r}"
    # Global for start-up results, Debug for everything else.
    assert re.search(r" Global,     CVelmoraManager::Init\(\) start CorvaneManager failed", log)
    assert re.search(r" Debug,      CVelmoraManager::AddLogTextWnd\(\) Velmora new start", log)


def test_interface_setting_without_match_uses_the_default(gw):
    host = VelmoraHost(gw, {"Network": {"Interface": "no such adapter anywhere", "UseBonjour": "off"}})
    state = host.state()
    assert state["ip"] == "10.77.0.1"  # the only operational Ethernet interface
    assert state["mode"] == ""
    host.exit()
    log = gw.wait_for_log("CVelmoraManager::Exit() done")
    assert "CVelmoraManager::Init() no interface found, use default" in log
    assert "CBonjourHandler::Init() DNS-SD discovery and registration are switched off" in log


def test_busy_rtsp_port_is_reported_with_the_port_in_use(net, gw):
    listener = net.gw.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("0.0.0.0", 8080))
    listener.listen(1)
    try:
        # Beyond 16 bits: the default port is used, and the line names it.
        host = VelmoraHost(gw, {"Network": {"RTSPPort": "70000"}})
        assert host.init_result == 1
        assert host.state()["rtspport"] == "8080"
        host.exit()
    finally:
        listener.close()
    log = gw.wait_for_log("CVelmoraManager::Exit() done")
    assert pane_line("Check RTSP server port 8080 failed") in log


def test_found_stream_is_added_after_a_second_and_removed_when_lost(gw):
    host = VelmoraHost(gw)
    host.command("discovery-add Studio A")
    assert host.streams() == []  # due 1000 ms later
    table = host.wait_for_streams(lambda t: len(t) == 1, timeout=5)
    assert table[0]["kind"] == "Bonjour" and table[0]["name"] == "Studio A" and table[0]["alive"] == "1"

    host.command("discovery-remove Studio A")
    host.wait_for_streams(lambda t: t == [], timeout=5)
    host.exit()
    log = gw.wait_for_log("CVelmoraManager::Exit() done")
    assert_in_order(
        log,
        [
            pane_line("Add stream from Bonjour: Studio A"),
            pane_line("Remove stream from Bonjour: Studio A"),
            pane_line("Removed Stream Studio A (Type: Bonjour)"),
        ],
    )


def test_stream_lost_before_its_add_is_never_seen(gw):
    host = VelmoraHost(gw)
    host.command("discovery-add Short Lived")
    host.command("discovery-remove Short Lived")
    host.command("discovery-add Stays")
    host.wait_for_streams(lambda t: [s["name"] for s in t] == ["Stays"], timeout=5)
    assert [s["name"] for s in host.streams()] == ["Stays"]
    host.exit()
    log = gw.wait_for_log("CVelmoraManager::Exit() done")
    assert "remove cancels the queued add" in log
    assert "Short Lived" not in log
