// The dialog's rules without a window: rows, marks and grey state of the three lists, the AUTO
// switches, the buttons against a fake stream table and against the gateway manager's table, the
// resize layout, the placement text, the log pane's scroll arithmetic and premultiplied alpha; and
// the refresh of real list views from a fake stream table with an injected clock.
#include "gateway/VelmoraManager.h"
#include "gateway/VelmoraStream.h"
#include "res/resource.h"
#include "ui/DialogLayout.h"
#include "ui/DialogLists.h"
#include "ui/DialogStreamTable.h"
#include "ui/GDIDrawStream.h"
#include "ui/LogText.h"
#include "ui/StreamRules.h"
#include "ui/WindowPlacement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace StreamRules;

const ULONGLONG kNow = 1000000;

std::vector<std::wstring> Texts(const std::vector<CMfxString>& cells)
{
    std::vector<std::wstring> texts;
    for (const CMfxString& cell : cells)
        texts.push_back(cell.GetString());
    return texts;
}

StreamFacts Found(DWORD key, ULONGLONG sdpAge = 60000)
{
    StreamFacts stream;
    stream.key = key;
    stream.kind = kKindBonjour;
    stream.name = L"Studio A";
    stream.hasRecord = true;
    stream.recordName = L"Studio A";
    stream.recordURL = L"rtsp://10.0.0.5:9010/by-name/Studio A";
    stream.sdp = L"v=0\r\n";
    stream.originAddress = L"10.0.0.5";
    stream.connectionAddress = L"239.1.2.3/32";
    stream.sdpTime = kNow - sdpAge;
    return stream;
}

StreamFacts Heard(DWORD key, ULONGLONG sinceAnnounce = 1000, ULONGLONG sdpAge = 60000)
{
    StreamFacts stream;
    stream.key = key;
    stream.kind = kKindSAP;
    stream.name = L"Peer";
    stream.sdp = L"v=0\r\n";
    stream.originAddress = L"10.0.0.9";
    stream.connectionAddress = L"239.9.9.9/32";
    stream.sdpTime = kNow - sdpAge;
    stream.lastSAPAnnounce = kNow - sinceAnnounce;
    return stream;
}

StreamFacts Local(DWORD key, DWORD kind = kKindSDP)
{
    StreamFacts stream;
    stream.key = key;
    stream.kind = kind;
    stream.name = L"Desk";
    stream.url = kind == kKindRTSP ? L"rtsp://10.0.0.7/desk" : L"";
    stream.sdp = L"v=0\r\ns=Desk\r\n";
    stream.connectionAddress = L"239.7.7.7/32";
    stream.sdpTime = kNow - 10; // the operator's streams wait for nothing
    return stream;
}

AutoSwitches Autos(bool corvaneSap, bool local = false, bool localCorvane = false, bool localSap = false)
{
    AutoSwitches autos;
    autos.corvaneSap = corvaneSap;
    autos.local = local;
    autos.localCorvane = localCorvane;
    autos.localSap = localSap;
    return autos;
}

// --- rows and marks --------------------------------------------------------------------------------

TEST(ListRows, EachKindHasItsListAndItsTest)
{
    EXPECT_EQ(ListOf(Found(1)), kListCorvane);
    EXPECT_EQ(ListOf(Heard(2)), kListSap);
    EXPECT_EQ(ListOf(Local(3)), kListLocal);
    EXPECT_EQ(ListOf(Local(4, kKindRTSP)), kListLocal);
    StreamFacts unknown = Local(5);
    unknown.kind = 0x02;
    EXPECT_EQ(ListOf(unknown), kListNone);
    EXPECT_FALSE(IsListed(unknown, kNow));

    StreamFacts lost = Found(6);
    lost.hasRecord = false;
    EXPECT_TRUE(IsListed(Found(6), kNow));
    EXPECT_FALSE(IsListed(lost, kNow));

    // Heard streams are listed while their last announcement is younger than 300 s.
    EXPECT_TRUE(IsListed(Heard(7, 299999), kNow));
    EXPECT_FALSE(IsListed(Heard(7, 300000), kNow));
    StreamFacts withdrawn = Heard(8);
    withdrawn.lastSAPAnnounce = 0;
    EXPECT_FALSE(IsListed(withdrawn, kNow));
    EXPECT_TRUE(IsListed(Local(9), kNow));
}

// The rows of found, heard and pasted streams are read cell by cell by the end-to-end tests; a LOCAL
// stream given by its RTSP URL shows the URL as its source.
TEST(ListRows, CellsInColumnOrder)
{
    StreamFacts byUrl = Local(4, kKindRTSP);
    byUrl.sapWanted = true;
    EXPECT_EQ(Texts(PlanRow(byUrl, kNow, Autos(false)).cells),
              (std::vector<std::wstring>{L"Desk", L"239.7.7.7/32", L"rtsp://10.0.0.7/desk", L"", L"A"}));
}

// Names and URLs come from the network: a cell shows their control characters escaped, never raw, and
// keeps the rest (UTF-8 names read as such) as it is.
TEST(ListRows, CellsShowControlCharactersEscaped)
{
    StreamFacts found = Found(1);
    found.recordName = L"HX\r\nInjected:\t1\x7f";
    found.recordURL = CMfxString(L"rtsp://10.0.0.5:8080/by-name/HX%0d%0aInjected%3a%091%7f").UrlUnescape();
    const std::vector<std::wstring> cells = Texts(PlanRow(found, kNow, Autos(false)).cells);
    ASSERT_EQ(cells.size(), 5u);
    EXPECT_EQ(cells[0], L"HX\\r\\nInjected:\\t1\\x7f");
    EXPECT_EQ(cells[4], L"rtsp://10.0.0.5:8080/by-name/HX\\r\\nInjected:\\t1\\x7f");
    StreamFacts heard = Heard(2);
    heard.name = L"B\u00fchne S\u00fcd\n";
    EXPECT_EQ(Texts(PlanRow(heard, kNow, Autos(false)).cells)[0], L"B\u00fchne S\u00fcd\\n");
}

// Wishes and twins of a stream, as flags for the table below.
enum : unsigned
{
    kWantsSap = 1,
    kWantsBonjour = 2,
    kTwinSap = 4,           // a found stream's twin heard by SAP ...
    kTwinIsOwnSap = 8,      // ... which is this gateway's announcement heard back
    kOwnRepublication = 16, // a republication of this gateway matches the found stream
    kTwinBonjour = 32,      // a heard stream's twin found by DNS-SD ...
    kTwinIsOwnBonjour = 64, // ... which is this gateway's republication found back
    kOwnAnnouncement = 128  // an announcement of this gateway matches the heard stream
};

StreamFacts With(StreamFacts stream, unsigned flags)
{
    stream.sapWanted = (flags & kWantsSap) != 0;
    stream.bonjourWanted = (flags & kWantsBonjour) != 0;
    stream.hasTwinSAP = (flags & kTwinSap) != 0;
    stream.twinOfTwinSAPActive = (flags & kTwinIsOwnSap) != 0;
    stream.twinBonjourRegistered = (flags & kOwnRepublication) != 0;
    stream.hasTwinBonjour = (flags & kTwinBonjour) != 0;
    stream.twinOfTwinBonjourRegistered = (flags & kTwinIsOwnBonjour) != 0;
    stream.twinSAPActive = (flags & kOwnAnnouncement) != 0;
    return stream;
}

// Grey or not, the "W"/"A" mark and what AUTO does, as found and heard streams age, are announced or
// republished by this gateway or by someone else.
TEST(ListRows, GreyStateMarkAndAutoActions)
{
    const struct
    {
        const char* what;
        StreamFacts stream;
        bool autos, enabled;
        const wchar_t* mark;
        int autoActions;
    } cases[] = {
        {"found, younger than 35 s: waits grey", Found(1, 34999), true, false, L"W", kAutoNone},
        {"heard, younger than 35 s", Heard(2, 1000, 34999), true, false, L"W", kAutoNone},
        {"found, 35 s old", Found(1, 35000), true, true, L"", kAutoSapOn},
        {"heard, 35 s old", Heard(2, 1000, 35000), true, true, L"", kAutoBonjourOn},
        {"found, announced by someone else", With(Found(1), kTwinSap), true, false, L"", kAutoNone},
        {"found, announced by this gateway (even while young)",
         With(Found(1, 10), kWantsSap | kTwinSap | kTwinIsOwnSap), true, true, L"A", kAutoNone},
        {"heard: this gateway's own announcement, no W",
         With(Heard(2, 1000, 10), kOwnAnnouncement | kTwinBonjour), true, false, L"", kAutoNone},
        {"heard, republished by this gateway",
         With(Heard(1), kWantsBonjour | kTwinBonjour | kTwinIsOwnBonjour), false, true, L"A", kAutoNone},
        {"heard, republished but not by this gateway", With(Heard(1), kWantsBonjour | kTwinBonjour), true,
         false, L"", kAutoNone},
        {"found: this gateway's own republication",
         With(Found(2), kOwnRepublication | kTwinSap | kTwinIsOwnSap | kWantsSap), true, false, L"",
         kAutoNone},
    };
    for (const auto& c : cases) {
        const RowPlan row = PlanRow(c.stream, kNow, Autos(c.autos));
        EXPECT_EQ(row.enabled, c.enabled) << c.what;
        EXPECT_EQ(row.cells[3], CMfxString(c.mark)) << c.what;
        EXPECT_EQ(row.autoActions, c.autoActions) << c.what;
    }
    EXPECT_EQ(ActionFor(kCorvaneToSap, With(Found(1), kTwinSap)), kSkip) << "the button leaves it alone too";
}

// --- AUTO switches ---------------------------------------------------------------------------------

TEST(AutoSwitches, EveryCombinationOfTheFourBoxes)
{
    for (int bits = 0; bits < 16; ++bits) {
        const AutoSwitches autos = Autos(bits & 1, bits & 2, bits & 4, bits & 8);
        const ButtonStates buttons = EnabledButtons(autos);
        SCOPED_TRACE(bits);
        EXPECT_EQ(buttons.corvaneSap, !autos.corvaneSap);
        EXPECT_EQ(buttons.localCorvane, !autos.local && !autos.localCorvane);
        EXPECT_EQ(buttons.localSap, !autos.local && !autos.localSap);

        // An eligible found or heard stream follows 1014 alone.
        EXPECT_EQ(PlanRow(Found(1), kNow, autos).autoActions, autos.corvaneSap ? kAutoSapOn : kAutoNone);
        EXPECT_EQ(PlanRow(Heard(2), kNow, autos).autoActions, autos.corvaneSap ? kAutoBonjourOn : kAutoNone);
        // A complete LOCAL stream: 1020 or 1021 republishes it, 1020 or 1027 announces it.
        int expected = kAutoNone;
        if (autos.local || autos.localCorvane)
            expected |= kAutoBonjourOn;
        if (autos.local || autos.localSap)
            expected |= kAutoSapOn;
        EXPECT_EQ(PlanRow(Local(3), kNow, autos).autoActions, expected);
        // Only switched on, never again, and never for an incomplete stream.
        EXPECT_EQ(PlanRow(With(Local(4), kWantsSap | kWantsBonjour), kNow, autos).autoActions, kAutoNone);
        for (int missing = 0; missing < 3; ++missing) {
            StreamFacts incomplete = Local(5);
            (missing == 0   ? incomplete.sdp
             : missing == 1 ? incomplete.name
                            : incomplete.connectionAddress)
                .Empty();
            EXPECT_EQ(PlanRow(incomplete, kNow, autos).autoActions, kAutoNone);
        }
    }
}

// --- buttons against a fake stream table ------------------------------------------------------------

// A stream table that records what the dialog asks of it.
class CFakeStreamTable : public CDialogStreamTable
{
public:
    std::vector<StreamFacts> streams;
    std::vector<std::string> calls;
    std::vector<DWORD> refused;
    // While a switch for the first key runs (a message box's loop), the stream of the second key goes.
    std::map<DWORD, DWORD> deletedDuringCall;
    ULONGLONG now = kNow; // the injected clock

    CCriticalSection* GetLock() override { return &m_Lock; }
    ULONGLONG GetNow() override { return now; }
    void ReadStreams(std::vector<StreamFacts>& out) override { out = streams; }
    BOOL ReadStream(DWORD key, StreamFacts& stream) override
    {
        for (const StreamFacts& s : streams) {
            if (s.key == key) {
                stream = s;
                return TRUE;
            }
        }
        return FALSE;
    }
    BOOL SetSAPAdvertising(DWORD key, BOOL on, BOOL quiet) override { return Switch("sap", key, on, quiet); }
    BOOL SetBonjourAdvertising(DWORD key, BOOL on, BOOL quiet) override
    {
        return Switch("bonjour", key, on, quiet);
    }
    void SetRTSPWanted(DWORD key, BOOL on) override { Record("rtsp", key, on ? " on" : " off"); }
    BOOL RemoveStream(DWORD key) override
    {
        StreamFacts stream;
        if (!ReadStream(key, stream))
            return FALSE;
        Record("remove", key, "");
        Forget(key);
        return TRUE;
    }
    void ChangeSDP(DWORD key, CMfxString) override { Record("sdp", key, ""); }
    void AddLogText(COLORREF colour, CMfxString text) override
    {
        calls.push_back((colour == RGB(195, 0, 0) ? "red " : "green ") + Narrow(text));
    }

private:
    static std::string Narrow(const CMfxString& text)
    {
        CMfxString copy(text);
        return copy.GetAnsi();
    }
    void Record(const char* what, DWORD key, const char* detail)
    {
        calls.push_back(std::string(what) + " " + std::to_string(key) + detail);
    }
    void Forget(DWORD key)
    {
        streams.erase(std::remove_if(streams.begin(), streams.end(),
                                     [key](const StreamFacts& s) { return s.key == key; }),
                      streams.end());
    }
    BOOL Switch(const char* what, DWORD key, BOOL on, BOOL quiet)
    {
        StreamFacts stream;
        if (!ReadStream(key, stream))
            return FALSE;
        Record(what, key, on ? (quiet ? " on quiet" : " on") : (quiet ? " off quiet" : " off"));
        auto gone = deletedDuringCall.find(key);
        if (gone != deletedDuringCall.end())
            Forget(gone->second);
        return !(on && std::find(refused.begin(), refused.end(), key) != refused.end());
    }

    CCriticalSection m_Lock;
};

TEST(Buttons, AnnounceFoundStreamsBySapOnlyWhereNoOneDoesYet)
{
    CFakeStreamTable table;
    table.streams = {Found(1), With(Found(2), kWantsSap), With(Found(3), kTwinSap)};
    EXPECT_EQ(RunStreamCommand(table, kCorvaneToSap, {1, 2, 3, 99}), 1) << "the switched streams count";
    EXPECT_EQ(table.calls, (std::vector<std::string>{"sap 1 on"}));

    table.calls.clear();
    EXPECT_EQ(RunStreamCommand(table, kCorvaneSapOff, {1, 2, 3}), 1);
    EXPECT_EQ(table.calls, (std::vector<std::string>{"sap 2 off"}));
}

TEST(Buttons, RepublishHeardStreamsWithTheirRtspWish)
{
    CFakeStreamTable table;
    table.streams = {Heard(1), With(Heard(2), kWantsBonjour), With(Heard(3), kTwinBonjour), Heard(4)};
    table.refused = {4};
    EXPECT_EQ(RunStreamCommand(table, kSapToCorvane, {1, 2, 3, 4}), 1) << "a refused switch does not count";
    EXPECT_EQ(table.calls, (std::vector<std::string>{"bonjour 1 on", "rtsp 1 on", "bonjour 4 on"}))
        << "a refused switch sets no RTSP wish";

    table.calls.clear();
    RunStreamCommand(table, kSapCorvaneOff, {1, 2});
    EXPECT_EQ(table.calls, (std::vector<std::string>{"bonjour 2 off", "rtsp 2 off"}));
}

TEST(Buttons, LocalPlusRefusesIncompleteStreamsAndGoesOn)
{
    CFakeStreamTable table;
    StreamFacts incomplete = Local(1);
    incomplete.connectionAddress.Empty();
    table.streams = {incomplete, Local(2)};
    RunStreamCommand(table, kLocalCorvaneAdd, {1, 2});
    RunStreamCommand(table, kLocalSapAdd, {1, 2});
    const std::string red = std::string("red ") +
                            "Cannot add empty stream (missing SDP or name or multicast address "
                            "inside SDP";
    EXPECT_EQ(table.calls, (std::vector<std::string>{red, "bonjour 2 on", "rtsp 2 on", red, "sap 2 on"}));

    table.calls.clear();
    table.streams[1].bonjourWanted = table.streams[1].sapWanted = true;
    RunStreamCommand(table, kLocalCorvaneRemove, {1, 2});
    RunStreamCommand(table, kLocalSapRemove, {1, 2});
    EXPECT_EQ(table.calls, (std::vector<std::string>{"bonjour 2 off", "rtsp 2 off", "sap 2 off"}));
}

TEST(Buttons, RemovingTwoLocalStreamsRemovesBothOnce)
{
    CFakeStreamTable table;
    table.streams = {Local(1), Local(2), Local(3)};
    EXPECT_EQ(RunStreamCommand(table, kLocalRemove, {1, 3, 3}), 2);
    EXPECT_EQ(table.calls, (std::vector<std::string>{"remove 1", "remove 3"}));
    ASSERT_EQ(table.streams.size(), 1u);
    EXPECT_EQ(table.streams[0].key, 2u);
}

TEST(Buttons, StreamsGoneWhileAMessageBoxRanAreNotTouched)
{
    CFakeStreamTable table;
    table.streams = {Found(1), Found(2), Found(3)};
    table.refused = {1};
    table.deletedDuringCall[1] = 2; // the refusal box of stream 1 lets the tick delete stream 2
    RunStreamCommand(table, kCorvaneToSap, {1, 2, 3});
    EXPECT_EQ(table.calls, (std::vector<std::string>{"sap 1 on", "sap 3 on"}));
}

TEST(Buttons, AutoSwitchesOnQuietly)
{
    CFakeStreamTable table;
    table.streams = {Local(1), Local(2)};
    table.refused = {2};
    EXPECT_TRUE(RunAutoActions(table, 1, kAutoBonjourOn | kAutoSapOn));
    EXPECT_FALSE(RunAutoActions(table, 2, kAutoBonjourOn)) << "refused";
    EXPECT_FALSE(RunAutoActions(table, 1, kAutoNone));
    EXPECT_EQ(table.calls, (std::vector<std::string>{"bonjour 1 on quiet", "rtsp 1 on", "sap 1 on quiet",
                                                     "bonjour 2 on quiet"}));
}

TEST(Buttons, StreamOptionsShowTheSdpAndEditOnlyFreeSdpStreams)
{
    SdpView view = ViewOf(Local(1));
    EXPECT_EQ(view.text, CMfxString(L"v=0\r\ns=Desk\r\n"));
    EXPECT_TRUE(view.editable);
    const StreamFacts announced = With(Local(2), kWantsSap);
    EXPECT_FALSE(ViewOf(announced).editable);
    EXPECT_FALSE(ViewOf(Local(3, kKindRTSP)).editable);
    StreamFacts withoutSdp = Found(4);
    withoutSdp.sdp.Empty();
    view = ViewOf(withoutSdp);
    EXPECT_EQ(view.text, CMfxString(L"No SDP available for Studio A"));
    EXPECT_FALSE(view.editable);
    EXPECT_TRUE(MayChangeSDP(Local(5)));
    EXPECT_FALSE(MayChangeSDP(announced));
}

// --- the gateway manager's stream table --------------------------------------------------------------

DWORD g_RawClock = 5000;
DWORD WINAPI TestClock()
{
    return g_RawClock;
}

std::string Sdp(const char* name, int session, const char* connection)
{
    return std::string("v=0\r\no=peer ") + std::to_string(session) + " 1 IN IP4 10.0.0.2\r\ns=" + name +
           "\r\nc=IN IP4 " + connection + "\r\nt=0 0\r\nm=audio 5004 RTP/AVP 98\r\n";
}

class ManagerTableTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_Manager.reset(new CVelmoraManager(nullptr));
        m_Manager->SetMilliSecSource(&TestClock);
        g_RawClock += 10;
    }
    CVelmoraStream* AddSdp(const std::string& sdp)
    {
        m_Manager->AddSDPStream(CMfxString(sdp.c_str()));
        return m_Manager->m_Streams.back();
    }
    std::unique_ptr<CVelmoraManager> m_Manager;
};

TEST_F(ManagerTableTest, KeysAreNeverReusedAndGoneStreamsAreNotFound)
{
    CManagerStreamTable table(*m_Manager);
    CVelmoraStream* first = AddSdp(Sdp("One", 1, "239.0.0.1/32"));
    const DWORD firstKey = first->m_Serial;
    m_Manager->DeleteStream(first);
    CVelmoraStream* second = AddSdp(Sdp("Two", 2, "239.0.0.2/32"));
    EXPECT_GT(second->m_Serial, firstKey);
    StreamFacts facts;
    EXPECT_FALSE(table.ReadStream(firstKey, facts)) << "even when the new stream got the same address";
    ASSERT_TRUE(table.ReadStream(second->m_Serial, facts));
    EXPECT_EQ(facts.name, CMfxString(L"Two"));
    EXPECT_FALSE(table.SetSAPAdvertising(firstKey, TRUE, TRUE));
    EXPECT_FALSE(table.RemoveStream(firstKey));
}

TEST_F(ManagerTableTest, CommandsReachTheStreamsOfTheTable)
{
    CManagerStreamTable table(*m_Manager);
    CVelmoraStream* desk = AddSdp(Sdp("Desk", 1, "239.0.0.1/32"));
    const DWORD deskKey = desk->m_Serial;
    const DWORD otherKey = AddSdp(Sdp("Other", 2, "239.0.0.2/32"))->m_Serial;
    m_Manager->OnTimer();
    // (The switches reach the streams in the dialog's end-to-end test, which reads their marks.)
    table.ChangeSDP(deskKey, CMfxString(Sdp("Desk Two", 3, "239.0.0.3/32").c_str()));
    EXPECT_TRUE(desk->GetName().IsEmpty()) << "the name comes again from the new SDP on the next tick";
    EXPECT_EQ(RunStreamCommand(table, kLocalRemove, {otherKey, deskKey}), 2);
    EXPECT_TRUE(m_Manager->m_Streams.empty());
}

// --- resize layout ----------------------------------------------------------------------------------

// The controls' client rectangles as the template places them at 1.5 x 1.625 pixels per dialog unit.
std::map<int, RECT> TemplateRects()
{
    auto dlu = [](int x, int y, int w, int h) {
        return RECT{x * 3 / 2, y * 13 / 8, (x + w) * 3 / 2, (y + h) * 13 / 8};
    };
    return {{IDC_LIST_CORVANE, dlu(7, 24, 265, 200)},      {IDC_LIST_SAP, dlu(314, 24, 144, 200)},
            {IDC_LIST_LOCAL, dlu(500, 24, 136, 200)},      {IDC_AUTO_CORVANE_SAP, dlu(275, 23, 36, 15)},
            {IDC_HEADING_SAP, dlu(314, 11, 38, 10)},       {IDC_ADD_RTSP, dlu(544, 8, 27, 14)},
            {IDC_LOCAL_SAP_REMOVE, dlu(481, 138, 15, 14)}, {IDC_LOG_PLACEHOLDER, dlu(7, 232, 428, 99)},
            {DialogLayout::kLogPane, dlu(7, 232, 428, 99)}};
}

// Runs layout passes over the rectangles (moved the way the dialog moves its controls).
void Layout(CLayoutRecords& records, std::map<int, RECT>& rects, int dW, int dH)
{
    for (const DialogLayout::Step& step : DialogLayout::Steps(dW, dH)) {
        auto found = rects.find(step.control);
        if (found == rects.end())
            continue;
        RECT moved;
        if (records.Apply(static_cast<UINT_PTR>(step.control + 100000), found->second, step.moveX, step.moveY,
                          step.growWidth, step.growHeight, moved))
            found->second = moved;
    }
}

// --- the refresh of the three lists ---------------------------------------------------------------

// The three owner-drawn report lists of the dialog, in a popup window.
class ListRefresh : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_host.CreateEx(0, nullptr, L"lists", WS_POPUP, CRect(0, 0, 600, 400), nullptr, 0));
        CMfxListCtrl* lists[] = {&m_corvane, &m_sap, &m_local};
        for (CMfxListCtrl* pList : lists) {
            HWND hWnd = ::CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | LVS_REPORT | LVS_OWNERDRAWFIXED, 0,
                                          0, 200, 300, m_host.m_hWnd, nullptr, nullptr, nullptr);
            ASSERT_TRUE(hWnd != nullptr && pList->SubclassWindow(hWnd));
        }
        m_lists.AddColumns(96);
    }
    void TearDown() override
    {
        if (m_host.m_hWnd != nullptr)
            m_host.DestroyWindow();
    }
    // Column 0 of each item, in list order.
    static std::vector<std::wstring> Names(CMfxListCtrl& list)
    {
        std::vector<std::wstring> names;
        for (int i = 0; i < list.GetItemCount(); ++i)
            names.push_back(list.GetItemText(i, 0).GetString());
        return names;
    }
    static StreamFacts Named(StreamFacts stream, const wchar_t* name)
    {
        stream.name = name;
        return stream;
    }

    CWnd m_host;
    CMfxListCtrl m_corvane, m_sap, m_local;
    CDialogLists m_lists{m_corvane, m_sap, m_local};
    CFakeStreamTable m_table;
};

TEST_F(ListRefresh, RowsFollowTheTableAndSilentHeardStreamsLeave)
{
    using Names_ = std::vector<std::wstring>;
    // Heard 1 s and 250 s ago, and one heard 301 s ago that is not listed at all.
    m_table.streams = {Named(Heard(1, 1000), L"Fresh"), Named(Heard(2, 250000), L"Fading"),
                       Named(Heard(5, 301000), L"Silent"), Local(3), Found(4)};
    EXPECT_EQ(m_lists.Refresh(m_table, Autos(false)), 4);
    EXPECT_EQ(Names(m_sap), (Names_{L"Fading", L"Fresh"})) << "sorted by name";
    EXPECT_EQ(Names(m_local), Names_{L"Desk"});
    EXPECT_EQ(Names(m_corvane), Names_{L"Studio A"});
    EXPECT_EQ(m_lists.Refresh(m_table, Autos(false)), 0) << "nothing changed, no row touched";

    // 60 s later "Fading" has been silent for 310 s: its row goes at the next refresh.
    m_table.now += 60000;
    EXPECT_EQ(m_lists.Refresh(m_table, Autos(false)), 1);
    EXPECT_EQ(Names(m_sap), Names_{L"Fresh"});
    EXPECT_EQ(m_sap.GetItemKey(0), reinterpret_cast<void*>(1));

    // Heard again: back; renamed: the row follows; gone from the table: the row goes.
    m_table.streams[1].lastSAPAnnounce = m_table.now;
    m_table.streams[0].name = L"Renamed";
    m_table.streams.erase(m_table.streams.begin() + 3); // the LOCAL stream
    EXPECT_EQ(m_lists.Refresh(m_table, Autos(false)), 3);
    EXPECT_EQ(Names(m_sap), (Names_{L"Fading", L"Renamed"}));
    EXPECT_TRUE(Names(m_local).empty());
    EXPECT_EQ(m_table.calls, std::vector<std::string>{}) << "no switch without AUTO";
}

TEST(ResizeLayout, ThirtyPixelsWiderShareOutInThirds)
{
    std::map<int, RECT> rects = TemplateRects();
    const std::map<int, RECT> before = rects;
    CLayoutRecords records;
    Layout(records, rects, 30, 12);
    auto delta = [&](int id) {
        const RECT &a = before.at(id), &b = rects.at(id);
        return std::vector<LONG>{b.left - a.left, b.top - a.top, b.right - a.right, b.bottom - a.bottom};
    };
    EXPECT_EQ(delta(IDC_LIST_CORVANE), (std::vector<LONG>{0, 0, 10, 12}));
    EXPECT_EQ(delta(IDC_LIST_SAP), (std::vector<LONG>{10, 0, 20, 12}));
    EXPECT_EQ(delta(IDC_LIST_LOCAL), (std::vector<LONG>{20, 0, 30, 12}));
    EXPECT_EQ(delta(IDC_AUTO_CORVANE_SAP), (std::vector<LONG>{10, 0, 10, 0}));
    EXPECT_EQ(delta(IDC_HEADING_SAP), (std::vector<LONG>{10, 0, 10, 0}));
    EXPECT_EQ(delta(IDC_ADD_RTSP), (std::vector<LONG>{20, 0, 20, 0}));
    EXPECT_EQ(delta(IDC_LOCAL_SAP_REMOVE), (std::vector<LONG>{20, 0, 20, 0}));
    EXPECT_EQ(delta(IDC_LOG_PLACEHOLDER), (std::vector<LONG>{0, 12, 30, 12}));
    EXPECT_EQ(delta(DialogLayout::kLogPane), (std::vector<LONG>{0, 12, 30, 12}));
    // Minimizing and restoring changes nothing.
    const std::map<int, RECT> after = rects;
    Layout(records, rects, 0, 0);
    for (const auto& entry : after)
        EXPECT_EQ(0, memcmp(&entry.second, &rects.at(entry.first), sizeof(RECT))) << entry.first;
}

TEST(ResizeLayout, ManySmallStepsLandWhereOneBigStepDoes)
{
    std::map<int, RECT> small = TemplateRects(), big = TemplateRects();
    CLayoutRecords smallRecords, bigRecords;
    for (int i = 0; i < 300; ++i)
        Layout(smallRecords, small, 1, 1);
    Layout(bigRecords, big, 300, 300);
    for (const auto& entry : big) {
        const RECT &a = entry.second, &b = small.at(entry.first);
        SCOPED_TRACE(entry.first);
        EXPECT_LE(std::abs(a.left - b.left), 1);
        EXPECT_LE(std::abs(a.top - b.top), 1);
        EXPECT_LE(std::abs(a.right - b.right), 1);
        EXPECT_LE(std::abs(a.bottom - b.bottom), 1);
    }
    EXPECT_EQ(big.at(IDC_LIST_LOCAL).left - TemplateRects().at(IDC_LIST_LOCAL).left, 200);
}

TEST(ResizeLayout, EmptyRectanglesAreNotMoved)
{
    CLayoutRecords records;
    RECT moved;
    EXPECT_FALSE(records.Apply(1, RECT{10, 10, 10, 20}, 5, 0, 0, 0, moved));
    EXPECT_TRUE(records.Apply(1, RECT{0, 0, 0, 0}, 0, 0, 3, 0, moved))
        << "the record, not the window, counts";
    EXPECT_EQ(moved.left, 15);
    EXPECT_EQ(moved.right, 18);
}

TEST(ResizeLayout, APassStartsFromTheFirstPlacesScaledDownForASmallWindow)
{
    CLayoutRecords records;
    RECT moved;
    // A window 80 % of the template's width: the places shrink to it, then the steps move them.
    records.BeginPass(0.8, 1.0);
    EXPECT_TRUE(records.Apply(1, RECT{500, 24, 636, 224}, 0, 0, 0, 0, moved));
    EXPECT_EQ(moved.left, 400);
    EXPECT_EQ(moved.right, 508);
    EXPECT_EQ(moved.bottom, 224);
    // Back to the template's size and 30 wider: as if the small window had never been.
    records.BeginPass(1.0, 1.0);
    EXPECT_TRUE(records.Apply(1, RECT{0, 0, 0, 0}, 20, 0, 10, 0, moved));
    EXPECT_EQ(moved.left, 520);
    EXPECT_EQ(moved.right, 666);
}

// --- window placement text -----------------------------------------------------------------------

// The dialog's own placement goes through the text and back in the closing end-to-end test.
TEST(WindowPlacementText, MaximizedWindowRoundTrip)
{
    CWindowPlacement placement;
    ASSERT_TRUE(placement.FromString(L"2,3,-1,-1,-8,-8,100,50,900,600"));
    const WINDOWPLACEMENT& p = placement.GetPlacement();
    EXPECT_EQ(p.length, 44u);
    EXPECT_EQ(p.flags, static_cast<UINT>(WPF_RESTORETOMAXIMIZED));
    EXPECT_EQ(p.showCmd, static_cast<UINT>(SW_SHOWMAXIMIZED));
    EXPECT_EQ(p.ptMinPosition.x, -1);
    EXPECT_EQ(p.ptMaxPosition.y, -8);
    EXPECT_EQ(p.rcNormalPosition.bottom, 600);
    EXPECT_STREQ(placement.ToString().GetString(), L"2,3,-1,-1,-8,-8,100,50,900,600");
}

TEST(WindowPlacementText, IncompleteTextsAreNotTaken)
{
    CWindowPlacement placement;
    ASSERT_TRUE(placement.FromString(L"0,1,-1,-1,-1,-1,10,20,30,40"));
    const WINDOWPLACEMENT before = placement.GetPlacement();
    for (const wchar_t* text :
         {L"", L"0,1,2,3", L"0,1,-1,-1,-1,-1,10,20,30", L"garbage", L"0;1;2;3;4;5;6;7;8;9"}) {
        EXPECT_FALSE(placement.FromString(text)) << text;
        EXPECT_FALSE(placement.IsValid()) << text;
        EXPECT_TRUE(placement.ToString().IsEmpty()) << text;
        EXPECT_EQ(0, memcmp(&before, &placement.GetPlacement(), sizeof(WINDOWPLACEMENT))) << text;
    }
}

TEST(WindowPlacementText, HiddenOrUnknownShowCommandsComeUpNormal)
{
    EXPECT_EQ(CWindowPlacement::VisibleShowCommand(SW_HIDE), static_cast<UINT>(SW_SHOWNORMAL));
    EXPECT_EQ(CWindowPlacement::VisibleShowCommand(4711), static_cast<UINT>(SW_SHOWNORMAL));
    for (UINT command : {SW_SHOWNORMAL, SW_SHOWMINIMIZED, SW_SHOWMAXIMIZED, SW_RESTORE})
        EXPECT_EQ(CWindowPlacement::VisibleShowCommand(command), command);
}

TEST(WindowPlacementText, OnlyAWellFormedRectangleThatMeetsTheWorkAreaIsApplied)
{
    const RECT work = {0, 0, 1280, 994};
    struct Case
    {
        RECT rect;
        BOOL usable;
    } cases[] = {
        {{100, 50, 900, 600}, TRUE},
        {{1250, 960, 2000, 1500}, FALSE},      // 30 and 34 pixels in: too little to take hold of
        {{900, 600, 100, 50}, FALSE},          // inverted
        {{100, 50, 100, 600}, FALSE},          // no width
        {{30000, 30000, 30800, 30600}, FALSE}, // far off-screen
        {{-900, 50, -100, 600}, FALSE},        // left of the screen
        {{-2147483647, 0, 2147483647, 600}, FALSE},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CWindowPlacement::IsUsableRect(c.rect, work), c.usable)
            << c.rect.left << "," << c.rect.top << "," << c.rect.right << "," << c.rect.bottom;
    EXPECT_TRUE(CWindowPlacement::IsUsableRect(RECT{1240, 950, 1290, 1000}, work))
        << "40 by 44 pixels of a small window in view";
}

// --- log pane scroll arithmetic ------------------------------------------------------------------

TEST(LogPaneScroll, RequestsMoveByPixelsAndPagesClampedToTheLastPage)
{
    const struct
    {
        int request, max, page, pos, track, expected;
    } cases[] = {
        {SB_LINEUP, 500, 100, 200, 321, 199},
        {SB_LINEDOWN, 500, 100, 200, 321, 201},
        {SB_PAGEUP, 500, 100, 200, 321, 100},
        {SB_PAGEDOWN, 500, 100, 200, 321, 300},
        {SB_TOP, 500, 100, 200, 321, 0},
        {SB_BOTTOM, 500, 100, 200, 321, 400},
        {SB_ENDSCROLL, 500, 100, 200, 321, 200},
        // Dragging the thumb scrolls while it moves; releasing it does not move the view again.
        {SB_THUMBTRACK, 500, 100, 200, 321, 321},
        {SB_THUMBPOSITION, 500, 100, 200, 321, 200},
        {SB_LINEUP, 500, 100, 0, 0, 0},
        {SB_PAGEUP, 500, 100, 50, 0, 0},
        {SB_LINEDOWN, 500, 100, 400, 0, 400},
        {SB_PAGEDOWN, 500, 100, 350, 0, 400},
        {SB_THUMBTRACK, 500, 100, 0, 9999, 400},
        // A page larger than the text leaves only position 0.
        {SB_BOTTOM, 80, 100, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCROLLINFO info = {};
        info.cbSize = sizeof(info);
        info.nMax = c.max;
        info.nPage = static_cast<UINT>(c.page);
        info.nPos = c.pos;
        info.nTrackPos = c.track;
        EXPECT_EQ(LogScroll::RequestedPosition(c.request, info), c.expected)
            << c.request << " at " << c.pos << " of " << c.max;
        if (c.request == SB_LINEUP && c.pos == 0) {
            EXPECT_EQ(LogScroll::Clamp(-5, info), 0);
        }
    }
}

// --- logo drawing --------------------------------------------------------------------------------

TEST(LogoDrawing, PremultipliedAlphaTruncatesAndKeepsAlpha)
{
    // Two rows of two pixels, blue green red alpha, walked from the top row with a negative pitch
    // as a bottom-up picture is stored.
    std::vector<BYTE> bottomUp = {// bottom row
                                  255, 255, 255, 0, 200, 100, 50, 255,
                                  // top row
                                  255, 128, 1, 128, 10, 20, 30, 254};
    BYTE* topRow = bottomUp.data() + 8;
    CGDIDrawStreamGUI::PremultiplyAlpha(topRow, 2, 2, -8);
    const std::vector<BYTE> expected = {0, 0, 0, 0, 200, 100, 50, 255, 128, 64, 0, 128, 9, 19, 29, 254};
    EXPECT_EQ(bottomUp, expected);
}

} // namespace

TEST(ResizeLayout, ALabelShrunkBelowItsTextGrowsEvenlyAroundItsCentre)
{
    struct Case
    {
        RECT place;
        SIZE text;
        RECT expected;
    };
    const Case cases[] = {
        {{100, 50, 160, 63}, {48, 13}, {100, 50, 160, 63}}, // holds the text: kept
        {{100, 50, 160, 63}, {60, 13}, {100, 50, 160, 63}}, // exactly: kept
        {{100, 50, 160, 63}, {79, 13}, {91, 50, 170, 63}},  // 19 short: 9 left, 10 right
        {{100, 50, 160, 63}, {60, 16}, {100, 49, 160, 65}}, // 3 too low: 1 up, 2 down
        {{100, 50, 127, 61}, {31, 18}, {98, 47, 129, 65}},  // both ways
    };
    for (const Case& c : cases) {
        const RECT whole = DialogLayout::KeepTextWhole(c.place, c.text);
        EXPECT_EQ((std::vector<LONG>{whole.left, whole.top, whole.right, whole.bottom}),
                  (std::vector<LONG>{c.expected.left, c.expected.top, c.expected.right, c.expected.bottom}))
            << c.text.cx << " x " << c.text.cy;
    }
}
