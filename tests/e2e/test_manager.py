"""The gateway manager under Wine: start-up, log-file lines, exit."""
import re

from harness.velmora_host import VelmoraHost, pane_line

STAMP = r"\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d,\d{3} T:\d{4,}  "
CATEGORY = r"( Global,     | IPC,        | ASIO,       | FileAccess, | Debug,      | Statistics, | Stackdump,  | Syslog,  |, )"
MANAGER_LINE = re.compile(STAMP + r"Velmora 1\.0\.0\.27 \( 0x[0-9a-f]{8} \)" + CATEGORY + r".*$")
# The log file's own clean-up lines carry their fixed front part.
LOG_FILE_LINE = re.compile(STAMP + r"Zint -\.-\.-\.- \( 0x00000000 \) Global,      CLogFile::.*$")


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
            "CCorvaneManager::Init() Bonjour handler init OK",
            "CStreamBrowser::MDNS_DSA_LogCallback() Starting mDNS service for device 0...",
            "CCorvaneManager::Init() Stream browser init OK",
            "CCorvaneManager::Init() Stream provider init OK",
            "CCorvaneManager::Init() QueryPerformanceFrequency return ",
            "CVelmoraManager::Init() start CorvaneManager OK",
            pane_line("Start stream browsing OK"),
            pane_line("Start SAP listening OK"),
            "CVelmoraManager::Exit() exit CorvaneManager",
            "CCorvaneManager::Exit() close StreamBrowser",
            "CStreamBrowser::Close( ThreadID = ",
            ") stop mDNS DSA device 0",
            "CStreamBrowser::MDNS_DSA_LogCallback() Stopping mDNS service for device 0...",
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
    assert re.search(r" Global,     CVelmoraManager::Init\(\) start CorvaneManager OK", log)
    assert re.search(r" Debug,      CVelmoraManager::AddLogTextWnd\(\) Velmora new start", log)
