"""The operator's dialog under Wine on a virtual display: streams added and switched through the
dialog as an operator's clicks and keys do it, every way of closing it, and its saved state."""
import re
import struct
import time

import pytest

from harness import wine
from harness.dialog_driver import Dialog, read_settings
from harness.sap_peer import GROUP, PORT, peer_socket, received_from_gateway, sap_packet
from harness.velmora_host import pane_line
from harness.wait import wait_until

SETTINGS = {"Network": {"Interface": "10.77.0.1 (any adapter)", "UseBonjour": "off"}}

# Controls of the main dialog.
LIST_CORVANE, LIST_SAP, LIST_LOCAL = 1005, 1007, 1012
BUTTON_SDP = 1009
AUTO_CORVANE_SAP, AUTO_LOCAL, AUTO_LOCAL_CORVANE, AUTO_LOCAL_SAP = 1014, 1020, 1021, 1027
CORVANE_TO_SAP, CORVANE_SAP_OFF, SAP_TO_CORVANE, SAP_CORVANE_OFF = 1015, 1016, 1017, 1018
LOCAL_CORVANE_ADD, LOCAL_CORVANE_REMOVE, LOCAL_SAP_ADD, LOCAL_SAP_REMOVE = 1025, 1026, 1029, 1030
EDIT_SDP = 1016
# The list headings and the small labels above the LOCAL list's AUTO switches.
HEADING_CORVANE, HEADING_SAP, HEADING_LOCAL, LABEL_LOCAL_CORVANE, LABEL_LOCAL_SAP = 1010, 1011, 1013, 1024, 1028
EXIT_DONE = "CVelmoraManager::Exit() done"


def sdp_text(name):
    return (f"v=0\r\no=- 4711 1 IN IP4 10.77.0.1\r\ns={name}\r\nc=IN IP4 239.77.2.2/32\r\nt=0 0\r\n"
            "m=audio 5004 RTP/AVP 98\r\na=rtpmap:98 L24/48000/2\r\n")


def add_sdp_stream(dialog, name):
    dialog.command("click", BUTTON_SDP)
    dialog.command("find-window", "Add SDP Stream")
    dialog.command("settext", "Add SDP Stream", EDIT_SDP, sdp_text(name).replace("\r", "\\r").replace("\n", "\\n"))
    dialog.command("click", 1, "Add SDP Stream")
    # The multicast address shows once the gateway's next tick has read the SDP.
    return wait_until(f"a LOCAL row for {name}",
                    lambda: [r for r in dialog.rows(LIST_LOCAL) if r and r[0] == name and r[1]])[0]


def test_sdp_stream_added_in_the_dialog_is_announced_by_sap(net, gw):
    dialog = Dialog(gw, SETTINGS)
    gw.wait_for_log(pane_line("Start SAP listening OK"))
    peer = peer_socket(net)

    row = add_sdp_stream(dialog, "Dialog Stream")
    # LOCAL columns: Streamname, Multicast, Source, COR, SAP.
    assert row == ["Dialog Stream", "239.77.2.2/32", "SDP", "", ""]

    dialog.command("select", LIST_LOCAL, 0)
    wait_until("the row's selection", lambda: dialog.command("selected", LIST_LOCAL) == ["selected\t0"])
    dialog.command("click", LOCAL_SAP_ADD)

    # The packet's form is the SAP tests'; here the button has to make it go out.
    wait_until("the announcement at the peer",
               lambda: [p for p in received_from_gateway(peer, net, 1) if b"s=Dialog Stream" in p])
    gw.wait_for_log(pane_line("Send SAP announce for: Dialog Stream"))

    # Its own announcement comes back: the stream is marked "A", and the announcement heard back is
    # listed under SAP without a mark (the duplicate check links the two).
    wait_until("the SAP mark", lambda: [r for r in dialog.rows(LIST_LOCAL) if r[0] == "Dialog Stream"][0][4] == "A")
    wait_until("the heard-back row", lambda: ["Dialog Stream", "10.77.0.1", "239.77.2.2/32", ""] in dialog.rows(LIST_SAP))

    # A switch shows in its row at once, by button and by AUTO, also where nothing else changes: DNS-SD
    # is off here, so no republication is found back (the next change would be the row's 35 s mark).
    def cor_mark():
        return [r for r in dialog.rows(LIST_LOCAL) if r[0] == "Dialog Stream"][0][3]
    dialog.command("click", LOCAL_CORVANE_ADD)
    wait_until("the COR mark of the button", lambda: cor_mark() == "A", timeout=5)
    dialog.command("click", LOCAL_CORVANE_REMOVE)
    wait_until("the COR mark gone", lambda: cor_mark() == "", timeout=5)
    dialog.command("click", AUTO_LOCAL_CORVANE)
    wait_until("the COR mark of AUTO", lambda: cor_mark() == "A", timeout=5)

    # Double-clicking the row shows its SDP under the stream's name; the system menu opens the About box.
    dialog.command("dblclick", LIST_LOCAL, 0)
    dialog.command("find-window", "Stream: Dialog Stream")
    dialog.command("click", 2, "Stream: Dialog Stream")
    dialog.command("window-gone", "Stream: Dialog Stream")
    dialog.command("syscommand", "about")
    dialog.command("find-window", "About Velmora")
    dialog.command("click", 1, "About Velmora")
    dialog.command("window-gone", "About Velmora")

    dialog.screenshot_png("main-dialog")
    dialog.command("syscommand", "close")
    assert dialog.wait_until_ended() == 0
    assert gw.log_text().count(EXIT_DONE) == 1


def column_state_bytes(text):
    """The bytes of a column-state string; checks its form (length, then that many bytes)."""
    values = [int(v) for v in text.split(",")]
    assert values[0] == len(values) - 1 and all(0 <= v <= 255 for v in values[1:]), text
    return bytes(values[1:])


@pytest.mark.parametrize("ending", ["close box", "enter", "escape"])
def test_every_way_of_closing_stops_the_gateway_once_and_saves_the_state(gw, ending):
    def close(dialog):
        if ending == "close box":
            dialog.command("syscommand", "close")
        else:
            dialog.command("key", "return" if ending == "enter" else "escape")
        assert dialog.wait_until_ended() == 0

    dialog = Dialog(gw, SETTINGS)
    gw.wait_for_log(pane_line("Start SAP listening OK"))
    # The operator switches AUTO from CORVANE to SAP and from LOCAL to SAP on, widens a column of the
    # SAP list and moves and enlarges the window.
    dialog.command("click", AUTO_CORVANE_SAP)
    dialog.command("click", AUTO_LOCAL_SAP)
    wait_until("the AUTO switches", lambda: dialog.check(AUTO_CORVANE_SAP) == 1 and dialog.check(AUTO_LOCAL_SAP) == 1)
    assert not dialog.enabled(CORVANE_TO_SAP) and not dialog.enabled(SAP_CORVANE_OFF)
    assert not dialog.enabled(LOCAL_SAP_ADD) and not dialog.enabled(LOCAL_SAP_REMOVE)
    assert dialog.enabled(LOCAL_CORVANE_ADD) and dialog.enabled(LOCAL_CORVANE_REMOVE)
    assert dialog.column_width(LIST_SAP, 1, 123) == 123
    _, left, top, right, bottom, _ = dialog.placement()
    width, height = right - left + 30, bottom - top + 20
    lists_before = [dialog.rect(i) for i in (LIST_CORVANE, LIST_SAP, LIST_LOCAL)]
    dialog.command("move", 40, 30, width, height)
    wait_until("the move", lambda: dialog.placement()[1:5] == (40, 30, 40 + width, 30 + height))
    # 30 pixels more width: each list is 10 wider, SAP moves by 10 and LOCAL by 20; all are 20 taller.
    lists_after = [dialog.rect(i) for i in (LIST_CORVANE, LIST_SAP, LIST_LOCAL)]
    for (l0, t0, r0, b0), (l1, t1, r1, b1), move in zip(lists_before, lists_after, (0, 10, 20)):
        assert (l1 - l0, t1 - t0, r1 - r0, b1 - b0) == (move, 0, move + 10, 20)
    if ending == "escape":
        # Closed while maximized: restored maximized, with its normal rectangle kept.
        dialog.command("syscommand", "maximize")
        wait_until("the maximized window", lambda: dialog.placement()[5] == 1)
    close(dialog)

    log = gw.log_text()
    assert log.count(EXIT_DONE) == 1
    saved = read_settings(gw)
    assert saved["ButtonCheckState"] == {"AutoVelmora": "1", "AutoLocal": "0", "AutoLocalCor": "0", "AutoLocalSap": "1"}
    state = saved["WindowState"]
    # Five, four and five columns: 8 + 9 x N bytes each.
    corvane, sap, local = (column_state_bytes(state[k]) for k in ("ListCorvane", "ListSap", "ListLocal"))
    assert (len(corvane), len(sap), len(local)) == (53, 44, 53)
    assert struct.unpack_from("<IiBi", sap, 0)[0] == 4
    assert struct.unpack_from("<i", sap, 8 + 9 + 1)[0] == 123, "the SAP list's column 1 width"
    flags_show = "2,3" if ending == "escape" else "0,1"
    assert re.fullmatch(rf"{flags_show},-?\d+,-?\d+,-?\d+,-?\d+,40,30,{40 + width},{30 + height}",
                        state["WindowPlacement"])

    # The next start finds it all again.
    dialog = Dialog(gw)
    gw.wait_for_log(pane_line("Start SAP listening OK"), count=2)
    assert (dialog.check(AUTO_CORVANE_SAP), dialog.check(AUTO_LOCAL), dialog.check(AUTO_LOCAL_CORVANE),
            dialog.check(AUTO_LOCAL_SAP)) == (1, 0, 0, 1)
    assert not dialog.enabled(CORVANE_TO_SAP) and not dialog.enabled(LOCAL_SAP_ADD)
    assert dialog.enabled(LOCAL_CORVANE_ADD)
    assert dialog.column_width(LIST_SAP, 1) == 123
    if ending == "escape":
        show_command, *_, maximized = dialog.placement()
        assert (show_command, maximized) == (3, 1)
        # Restoring brings back the normal rectangle it had. (Wine tells another process the
        # normal rectangle of a maximized window wrongly, so it is read once restored.)
        dialog.command("syscommand", "restore")
        wait_until("the restored window", lambda: dialog.placement()[5] == 0)
    assert dialog.placement() == (1, 40, 30, 40 + width, 30 + height, 0)
    close(dialog)
    assert gw.log_text().count(EXIT_DONE) == 2


def heard_sdp(name, session, group):
    return (f"v=0\r\no=- {session} 1 IN IP4 10.77.0.2\r\ns={name}\r\nc=IN IP4 {group}/32\r\nt=0 0\r\n"
            "m=audio 5004 RTP/AVP 98\r\na=rtpmap:98 L24/48000/2\r\n")


def assert_inside(dialog, what):
    controls, (width, height) = dialog.controls()
    assert len(controls) > 20, controls
    outside = {cid: rects for cid, rects in controls.items()
               if any(l < 0 or t < 0 or r > width or b > height or r <= l or b <= t for l, t, r, b in rects)}
    assert not outside, f"{what}: controls outside the client area {width} x {height}: {outside}"


def assert_texts_whole(dialog, dpi, what):
    """Every heading and label is at least as wide as its text: no letter of it is cut off. The dialog's
    font is the template's, 8 points of "MS Shell Dlg" made as a dialog makes it; the headings' is
    that one's height times 100 / 70, bold."""
    face = "MS Shell Dlg"
    height = -((8 * dpi + 36) // 72)
    fonts = {HEADING_CORVANE: (int(height * 100 / 70), 700), HEADING_SAP: (int(height * 100 / 70), 700),
             HEADING_LOCAL: (int(height * 100 / 70), 700), LABEL_LOCAL_CORVANE: (height, 400),
             LABEL_LOCAL_SAP: (height, 400)}
    cut = {}
    for control, (font_height, weight) in fonts.items():
        _, width, _, text = dialog.command("textsize", control, font_height, weight, face)[0].split("\t")
        left, _, right, _ = dialog.rect(control)
        if int(width) > right - left:
            cut[text] = (int(width), right - left)
    assert not cut, f"{what}: texts wider than their controls (text width, control width): {cut}"


@pytest.mark.parametrize("dpi", [96, 120, 144])
def test_every_control_lies_inside_the_dialog_at_every_dpi(net, dpi):
    """On the 1280 x 1024 display at 96, 120 and 144 dots per inch (a prefix of its own for each but
    96): every control inside the client area and every heading and label as wide as its text, as
    opened and maximized; columns scaled; a picture of each kept. Hiding a column takes it out of what
    the row reader gives. The window placement was saved at 96 DPI."""
    side = wine.WineSide(net.gw, slot="gw" if dpi == 96 else f"gw-dpi{dpi}", dpi=None if dpi == 96 else dpi)
    try:
        side.start_server()
        dialog = Dialog(side, dict(SETTINGS, WindowState={"WindowPlacement": "0,1,-1,-1,-1,-1,20,10,1020,610"}))
        side.wait_for_log(pane_line("Start SAP listening OK"))
        assert dialog.column_width(LIST_SAP, 0) == 80 * dpi // 96, "column widths follow the DPI"
        peer = peer_socket(net)
        peer.sendto(sap_packet(heard_sdp("Heard Stream", 5001, "239.77.3.3")), (GROUP, PORT))
        row = wait_until("the heard stream's row", lambda: [r for r in dialog.rows(LIST_SAP) if r[1]])[0]
        assert row[:3] == ["Heard Stream", "10.77.0.2", "239.77.3.3/32"]
        assert_inside(dialog, "as opened")
        assert_texts_whole(dialog, dpi, "as opened")
        dialog.screenshot_png(f"main-dialog-{dpi}dpi")
        dialog.command("syscommand", "maximize")
        wait_until("the maximized window", lambda: dialog.placement()[5] == 1)
        assert_inside(dialog, "maximized")
        assert_texts_whole(dialog, dpi, "maximized")
        # The header menu hides "Origin": the row reader leaves its cells out.
        dialog.command("togglecol", LIST_SAP, 1)
        assert dialog.columns(LIST_SAP) == [True, False, True, True]
        assert dialog.rows(LIST_SAP) == [[row[0]] + row[2:]]
        dialog.command("syscommand", "close")
        assert dialog.wait_until_ended() == 0
    finally:
        side.stop()


def test_a_burst_of_a_thousand_announcements_all_enter_the_lists(net, gw):
    """1000 distinct streams announced 5 ms apart from the peer while the dialog is open: every one
    enters the table and the SAP list."""
    dialog = Dialog(gw, SETTINGS)
    gw.wait_for_log(pane_line("Start SAP listening OK"))
    peer = peer_socket(net)
    packets = [sap_packet(heard_sdp(f"Burst {i:04d}", 20000 + i, f"239.78.{i // 250}.{i % 250 + 1}"))
               for i in range(1000)]
    start = time.monotonic()
    for i, packet in enumerate(packets):
        peer.sendto(packet, (GROUP, PORT))
        time.sleep(max(0.0, start + (i + 1) * 0.005 - time.monotonic()))
    sent = time.monotonic()
    try:
        wait_until("a row for every stream", lambda: dialog.count(LIST_SAP) == 1000, timeout=60)
    except AssertionError:
        heard = gw.log_text().count(pane_line("Received SAP announce for: Burst "))
        raise AssertionError(f"{dialog.count(LIST_SAP)} rows listed, {heard} announcements received, "
                             f"{net.gw.udp_drops(PORT)} dropped by the kernel")
    print(f"1000 announcements sent in {sent - start:.2f} s; all listed {time.monotonic() - sent:.2f} s later")
    log = gw.wait_for_log(pane_line("Received SAP announce for: Burst 0999"))
    assert log.count(pane_line("Received SAP announce for: Burst ")) == 1000
    rows = dialog.rows(LIST_SAP)
    assert sorted(r[0] for r in rows) == [f"Burst {i:04d}" for i in range(1000)], "sorted, one row each"
    assert [r[0] for r in rows] == sorted(r[0] for r in rows)
    dialog.command("syscommand", "close")
    assert dialog.wait_until_ended() == 0
