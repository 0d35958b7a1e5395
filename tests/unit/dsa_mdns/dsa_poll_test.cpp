// The browser's side of the DSA engine: which engine rows its poll takes, and when it polls.
#include "discovery/CorvaneManager.h"
#include "discovery/DsaPoll.h"
#include "discovery/StreamInfo.h"
#include "manager/manager_test_support.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <initializer_list>
#include <memory>
#include <string.h>
#include <string>
#include <vector>

using Corvane::CopyDsaRows;
using Corvane::DsaRowTakesPart;

TEST(DsaPoll, RowRules)
{
    corvane_core_reset_for_test();
    corvane_remote_node& node = corvane_remote_nodes[4]; // row 5
    strcpy(node.name, "peer.sub");
    node.hash = 7;
    const uint8_t address[4] = {10, 77, 0, 2};
    memcpy(node.address, address, 4);
    corvane_remote_nodes[5].hash = 0; // row 6: not in use
    corvane_remote_nodes[6].hash = 9; // row 7: no address yet
    corvane_remote_nodes[6].no_address = 1;

    struct Case
    {
        uint32_t hash;
        uint8_t node, device, kind;
        int scanned_device;
        bool takes_part;
    } cases[] = {
        {1, 5, 1, 3, 0, true},  {1, 5, 1, 2, 0, true},    {1, 5, 1, 5, 0, true},  {0, 5, 1, 3, 0, false},
        {1, 0, 1, 3, 0, false}, {1, 201, 1, 3, 0, false}, {1, 6, 1, 3, 0, false}, {1, 7, 1, 3, 0, false},
        {1, 5, 2, 3, 0, false}, {1, 5, 2, 3, 1, true},    {1, 5, 1, 3, 1, false}, {1, 5, 1, 4, 0, false},
        {1, 5, 0, 3, 0, false},
    };
    for (const Case& c : cases) {
        corvane_remote_stream row{};
        row.hash = c.hash;
        row.node = c.node;
        row.device = c.device;
        row.kind = c.kind;
        EXPECT_EQ(DsaRowTakesPart(row, c.scanned_device), c.takes_part)
            << "node " << int(c.node) << " device " << int(c.device) << " kind " << int(c.kind);
    }

    corvane_remote_stream& row = corvane_remote_streams[2];
    strcpy(row.name, "Studio \xE4");
    row.hash = 1;
    row.node = 5;
    row.device = 1;
    row.kind = 3;
    row.port = 8554;
    auto rows = CopyDsaRows(0);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_STREQ(rows[0].name.GetString(), L"Studio \u00E4");
    EXPECT_STREQ(rows[0].hostName.GetString(), L"peer");
    EXPECT_STREQ(rows[0].hostIP.GetString(), L"10.77.0.2");
    EXPECT_EQ(rows[0].port, 8554);
    corvane_core_reset_for_test();
}

namespace {

corvane_status NoSend(const corvane_question_list*)
{
    return CORVANE_OK;
}

corvane_status NoSendResponses(uint8_t, const corvane_record_list*)
{
    return CORVANE_OK;
}

// A manager that is never started whose browser and provider run the "DSA" steps against engine
// tables filled by the test (no engine threads, nothing sent).
class DsaRoad : public ::testing::Test
{
protected:
    void SetUp() override
    {
        saved_ = corvane_core_env;
        corvane_core_init();
        corvane_core_reset_for_test();
        corvane_core_env = {nullptr, NoSend, NoSendResponses};
        const uint8_t address[4] = {10, 77, 0, 1};
        ASSERT_EQ(corvane_core_prepare("PC", address, 1), CORVANE_OK);
        corvane_device_config[0].active = 1;
        corvane_device_config[0].interface_index = 7;
        UseManager(manager_test::MakeManager());
    }
    void UseManager(std::unique_ptr<CVelmoraManager> made)
    {
        manager = std::move(made);
        manager->m_BonjourMode = L"DSA";
        CCorvaneManager& discovery = manager->m_CorvaneManager;
        discovery.m_pOwner = manager.get();
        discovery.m_StreamBrowser.m_pOwner = &discovery;
        discovery.m_StreamProvider.m_pOwner = &discovery;
        discovery.m_StreamProvider.m_BonjourInterfaceIndex = 7;
    }
    void TearDown() override
    {
        manager.reset();
        corvane_core_env = saved_;
        corvane_core_reset_for_test();
    }

    static void Row(int row, const char* name, uint8_t kind, uint8_t node, uint16_t port)
    {
        corvane_remote_stream& s = corvane_remote_streams[row];
        strcpy(s.name, name);
        s.hash = corvane_name_hash(name, CORVANE_NAME_MAX);
        s.kind = kind;
        s.node = node;
        s.device = 1;
        s.port = port;
    }

    // A node row in use with a name and an address.
    static void Node(int index, const char* name, std::initializer_list<uint8_t> address)
    {
        corvane_remote_node& node = corvane_remote_nodes[index];
        strcpy(node.name, name);
        node.hash = static_cast<uint32_t>(index + 1);
        std::copy(address.begin(), address.end(), node.address);
    }

    std::vector<Corvane::CStreamInfo*>& Records()
    {
        return manager->m_CorvaneManager.m_StreamBrowser.m_StreamInfos;
    }
    void PollAt(DWORD milliseconds)
    {
        manager_test::g_rawMilliSec = milliseconds;
        manager->m_CorvaneManager.m_StreamBrowser.OnTimer();
    }

    std::unique_ptr<CVelmoraManager> manager;
    corvane_env saved_;
};

} // namespace

TEST_F(DsaRoad, PollMakesOneRecordPerNameAndRemovesItWithItsLastRow)
{
    Node(4, "peer.sub", {10, 77, 0, 2});
    corvane_remote_nodes[6].hash = 7;
    corvane_remote_nodes[6].no_address = 1;
    Row(0, "A", CORVANE_KIND_CORVANE, 5, 8554);
    Row(1, "A", CORVANE_KIND_ZINT, 5, 9000);
    Row(2, "Q", CORVANE_KIND_QUILL, 5, 1);
    Row(3, "B", CORVANE_KIND_CORVANE, 7, 1);

    PollAt(1000);
    EXPECT_TRUE(Records().empty()) << "a poll only after more than 1000 ms";
    PollAt(1001);
    ASSERT_EQ(Records().size(), 1u);
    Corvane::CStreamInfo* record = Records()[0];
    EXPECT_STREQ(record->GetName().GetString(), L"A");
    EXPECT_EQ(record->m_SessionKind, DWORD{Corvane::CStreamInfo::kSessionCorvane});
    EXPECT_EQ(record->m_Port, 8554);
    EXPECT_EQ(record->m_InterfaceIndex, 7);
    EXPECT_STREQ(record->GetClientIP().GetString(), L"10.77.0.2");
    EXPECT_STREQ(record->GetClientName().GetString(), L"peer");
    EXPECT_EQ(record->m_Resolved, 1);

    corvane_remote_streams[0].hash = 0; // the Zint row of the same name keeps the record
    PollAt(2002);
    EXPECT_EQ(Records().size(), 1u);
    corvane_remote_streams[1].hash = 0;
    PollAt(3003);
    EXPECT_TRUE(Records().empty());
}

TEST_F(DsaRoad, ProviderRegistersByKindOnActiveDevicesOnly)
{
    Corvane::CStreamProvider& provider = manager->m_CorvaneManager.m_StreamProvider;
    DWORD zint = 0, corvane = 0, none = 0;
    ASSERT_TRUE(provider.RegisterStream(zint, 8554, L"", L"Zint One", L"_rtsp._tcp,_zint_session"));
    ASSERT_TRUE(provider.RegisterStream(corvane, 8554, L"", L"Cor One", L"_rtsp._tcp,_corvane_session"));
    EXPECT_EQ(corvane_local_services[0][zint - 1].kind, CORVANE_KIND_ZINT);
    EXPECT_EQ(corvane_local_services[0][corvane - 1].kind, CORVANE_KIND_CORVANE);
    EXPECT_EQ(corvane_local_services[0][corvane - 1].port, 8554);
    EXPECT_TRUE(provider.UnregisterStream(zint));
    EXPECT_EQ(corvane_local_services[0][zint - 1].hash, 0u);
    corvane_device_config[0].active = 0;
    EXPECT_FALSE(provider.RegisterStream(none, 8554, L"", L"Nobody", L"_rtsp._tcp,_corvane_session"));
}

TEST_F(DsaRoad, ASenderThatMovesIsFollowedByItsRowOfTheRecordsKind)
{
    Node(4, "peer.sub", {10, 77, 0, 2});
    Node(5, "other", {10, 77, 0, 9});
    Row(0, "A", CORVANE_KIND_CORVANE, 5, 8554);
    Row(1, "A", CORVANE_KIND_ZINT, 5, 9000);  // same name, other kind: takes no part in where A is
    Row(2, "A", CORVANE_KIND_QUILL, 5, 4000); // a quill service neither
    PollAt(1001);
    ASSERT_EQ(Records().size(), 1u);
    Corvane::CStreamInfoRef record(Records()[0]);

    struct Step
    {
        void (*change)();
        LONG moves;
        const wchar_t* url;
        const wchar_t* host;
    } steps[] = {
        {[] {}, 0, L"rtsp://10.77.0.2:8554/by-name/A", L"peer"},
        {[] { corvane_remote_streams[0].port = 8600; }, 1, L"rtsp://10.77.0.2:8600/by-name/A", L"peer"},
        {[] { corvane_remote_streams[1].port = 9100; }, 1, L"rtsp://10.77.0.2:8600/by-name/A", L"peer"},
        {[] { corvane_remote_nodes[4].address[3] = 3; }, 2, L"rtsp://10.77.0.3:8600/by-name/A", L"peer"},
        {[] { corvane_remote_streams[0].node = 6; }, 3, L"rtsp://10.77.0.9:8600/by-name/A", L"other"},
    };
    DWORD now = 1001;
    for (const Step& step : steps) {
        step.change();
        now += 1001;
        PollAt(now);
        ASSERT_EQ(Records().size(), 1u);
        EXPECT_EQ(Records()[0], record.get()) << "the same record follows";
        EXPECT_EQ(record->GetMoves(), step.moves);
        EXPECT_STREQ(record->GetStreamRTSPURL().GetString(), step.url);
        EXPECT_STREQ(record->GetClientName().GetString(), step.host);
    }
}

TEST_F(DsaRoad, RecordsOfSendersThatComeAndGoAreFreedOnceHandled)
{
    Node(4, "peer", {127, 0, 0, 1}); // a fetch is refused at once
    const LONG before = Corvane::CStreamInfo::LiveCount();
    for (int round = 0; round < 20; ++round) {
        const std::string name = "S" + std::to_string(round);
        Row(round % 3, name.c_str(), CORVANE_KIND_CORVANE, 5, 1);
        PollAt(manager_test::g_rawMilliSec + 1001);
        manager_test::Tick(*manager, 1001); // the add: a stream holds the record
        corvane_remote_streams[round % 3].hash = 0;
        PollAt(manager_test::g_rawMilliSec + 1001);
        for (int tick = 0; tick < 3; ++tick) {
            manager_test::Tick(*manager, 1000); // the remove, then the stream leaves the table
        }
    }
    EXPECT_TRUE(manager->m_Streams.empty());
    EXPECT_EQ(Corvane::CStreamInfo::LiveCount(), before);
}

TEST_F(DsaRoad, TheEnginesLimitsGiveRedLinesAtMostOnceAMinute)
{
    manager_test::FakeOwner owner;
    UseManager(manager_test::MakeManager(owner.AsOwner()));
    // Every host row holds a stream, and one more sender's host finds no room; a second sender's name
    // is cut the same as a first one's.
    for (int i = 0; i < CORVANE_REMOTE_NODES; ++i) {
        Node(i, ("host" + std::to_string(i)).c_str(), {10, 77, 1, static_cast<uint8_t>(i)});
        corvane_remote_nodes[i].hash = corvane_name_hash(corvane_remote_nodes[i].name, CORVANE_NAME_MAX);
        Row(i, ("S" + std::to_string(i)).c_str(), CORVANE_KIND_CORVANE, static_cast<uint8_t>(i + 1), 8554);
    }
    corvane_record_list list{};
    auto add = [&](corvane_record r) { list.records[list.total++] = r; };
    const std::string cut = "Studio " + std::string(40, 'x');
    for (uint32_t whole : {1u, 2u}) {
        corvane_record ptr{};
        ptr.type = CORVANE_TYPE_PTR;
        corvane_name_set(&ptr.name, CORVANE_KIND_CORVANE, nullptr);
        corvane_name_set(&ptr.rdata.ptr, CORVANE_KIND_INSTANCE, cut.c_str());
        ptr.rdata.ptr.cut = 1;
        ptr.rdata.ptr.whole = whole;
        ptr.ttl = 120;
        add(ptr);
    }
    corvane_record ptr{}, srv{};
    ptr.type = CORVANE_TYPE_PTR;
    corvane_name_set(&ptr.name, CORVANE_KIND_CORVANE, nullptr);
    corvane_name_set(&ptr.rdata.ptr, CORVANE_KIND_INSTANCE, "Late");
    ptr.ttl = 120;
    add(ptr);
    srv.type = CORVANE_TYPE_SRV;
    corvane_name_set(&srv.name, CORVANE_KIND_INSTANCE, "Late");
    corvane_name_set(&srv.rdata.srv.target, CORVANE_KIND_HOST, "latehost");
    srv.ttl = 120;
    add(srv);
    EXPECT_EQ(corvane_core_mdns_responses_eval(0, &list), CORVANE_ERR_NODES_FULL);

    PollAt(1001);
    PollAt(2002);
    std::vector<std::wstring> red;
    for (const auto& line : owner.paneLines) {
        if (line.second == kLogRed) {
            red.push_back(line.first.substr(24));
        }
    }
    EXPECT_EQ(red,
              (std::vector<std::wstring>{
                  L"DSA discovery: the table of 200 hosts is full, found senders waiting for room: 1",
                  L"DSA discovery: found sender not taken, its name cut to 47 bytes is another sender's: "
                  L"Studio xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx (announcements refused: 1)",
              }));
    EXPECT_EQ(Records().size(), 200u);
}
