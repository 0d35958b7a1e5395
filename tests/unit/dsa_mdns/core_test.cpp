// The engine's service logic with an injected clock and way out: registration, answers, evaluation
// of received records and the per-second countdowns, called directly.
#include "dsa_mdns/corvane_mdns.h"
#include "mdns_samples.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <stdarg.h>
#include <stdlib.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <thread>
#include <vector>

namespace {

struct World
{
    uint32_t now = 0;
    std::vector<corvane_question_list> queries;
    std::vector<corvane_record_list> responses;
    std::vector<std::string> log;
};
World* g_world = nullptr;

uint32_t Tick()
{
    return g_world->now;
}

corvane_status Queries(const corvane_question_list* list)
{
    g_world->queries.push_back(*list);
    return CORVANE_OK;
}

corvane_status Responses(uint8_t, const corvane_record_list* list)
{
    g_world->responses.push_back(*list);
    return CORVANE_OK;
}

void Log(const char* format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    g_world->log.push_back(line);
}

std::string Hex(const corvane_msg& msg)
{
    return ToHex(msg.data, msg.length);
}

class DsaCore : public ::testing::Test
{
protected:
    void SetUp() override
    {
        saved_ = corvane_core_env;
        g_world = &world_;
        corvane_core_init();
        corvane_core_reset_for_test();
        corvane_core_env = {Tick, Queries, Responses};
        corvane_log_hook = Log;
        const uint8_t address[4] = {10, 99, 0, 1};
        ASSERT_EQ(corvane_core_prepare("MYPC", address, 1), CORVANE_OK);
    }
    void TearDown() override
    {
        corvane_core_env = saved_;
        corvane_log_hook = nullptr;
        corvane_core_reset_for_test();
    }

    static uint8_t Register(const char* name, uint32_t kind = 3, uint16_t port = 8554)
    {
        corvane_register_parameters parameters = {port, kind};
        uint8_t handle = 0;
        EXPECT_EQ(corvane_core_register_stream(0, name, &parameters, &handle), CORVANE_OK) << name;
        return handle;
    }

    static corvane_question Question(uint32_t kind, const char* label, uint32_t type)
    {
        corvane_question q{};
        corvane_name_set(&q.name, kind, label);
        q.type = type;
        return q;
    }

    // The records the engine answers to one question.
    // A second apart each, so that the once-a-second limit of the same record never applies here.
    size_t AnswerCount(const corvane_question& question)
    {
        world_.now += 1000;
        world_.responses.clear();
        corvane_question_list list{};
        list.questions[list.count++] = question;
        EXPECT_EQ(corvane_core_answer_queries(&list, 0), CORVANE_OK);
        size_t n = 0;
        for (const corvane_record_list& r : world_.responses) {
            n += r.total;
        }
        return n;
    }

    void Evaluate(std::vector<corvane_record> records)
    {
        corvane_record_list list{};
        for (const corvane_record& r : records) {
            list.records[list.total++] = r;
        }
        EXPECT_EQ(corvane_core_mdns_responses_eval(0, &list), CORVANE_OK);
    }

    static corvane_record Ptr(uint32_t kind, uint32_t target_kind, const char* instance, uint32_t ttl = 4500)
    {
        corvane_record r{};
        r.type = CORVANE_TYPE_PTR;
        corvane_name_set(&r.name, kind, nullptr);
        corvane_name_set(&r.rdata.ptr, target_kind, instance);
        r.ttl = ttl;
        return r;
    }

    static corvane_record Srv(const char* instance, uint32_t target_kind, const char* host,
                              uint32_t ttl = 120)
    {
        corvane_record r{};
        r.type = CORVANE_TYPE_SRV;
        corvane_name_set(&r.name, CORVANE_KIND_INSTANCE, instance);
        corvane_name_set(&r.rdata.srv.target, target_kind, host);
        r.rdata.srv.port = 8554;
        r.ttl = ttl;
        return r;
    }

    static corvane_record A(const char* host)
    {
        corvane_record r{};
        r.type = CORVANE_TYPE_A;
        corvane_name_set(&r.name, CORVANE_KIND_HOST, host);
        const uint8_t address[4] = {10, 77, 0, 2};
        memcpy(r.rdata.a, address, 4);
        r.ttl = 120;
        return r;
    }

    static const corvane_remote_stream* Stream(const char* name)
    {
        for (const corvane_remote_stream& row : corvane_remote_streams) {
            if (row.hash != 0 && strcmp(row.name, name) == 0) {
                return &row;
            }
        }
        return nullptr;
    }

    bool Logged(const std::string& line) const
    {
        for (const std::string& l : world_.log) {
            if (l == line) {
                return true;
            }
        }
        return false;
    }

    // The SRV or A questions for `name` sent by one per-second call.
    size_t QuestionsFor(const char* name)
    {
        size_t n = 0;
        for (const corvane_question_list& list : world_.queries) {
            for (uint16_t i = 0; i < list.count; ++i) {
                n += strcmp(list.questions[i].name.text, name) == 0;
            }
        }
        world_.queries.clear();
        return n;
    }

    World world_;
    corvane_env saved_;
};

} // namespace

// Runs before every test of the program, while the engine is not initialised yet.
class BeforeInit : public ::testing::Environment
{
public:
    void SetUp() override
    {
        uint16_t found = 0, free_row = 0, further = 0;
        EXPECT_EQ(corvane_core_find_remote_node("x", &found, &free_row), CORVANE_ERR_NOT_INITIALISED);
        EXPECT_EQ(corvane_core_find_remote_stream("x", &further, &found, &free_row),
                  CORVANE_ERR_NOT_INITIALISED);
        EXPECT_EQ(corvane_core_start(), CORVANE_ERR_NOT_INITIALISED);
    }
};
const ::testing::Environment* const g_BeforeInit = ::testing::AddGlobalTestEnvironment(new BeforeInit);

TEST_F(DsaCore, RegistryCodes)
{
    EXPECT_EQ(Register("Test"), 1);
    uint8_t handle = 0;
    EXPECT_EQ(corvane_core_register_stream(0, "Test", nullptr, &handle), CORVANE_ERR_NAME_TAKEN);
    Register(std::string(60, 'x').c_str());
    EXPECT_EQ(corvane_core_register_stream(0, std::string(47, 'x').c_str(), nullptr, &handle),
              CORVANE_ERR_NAME_TAKEN);
    EXPECT_EQ(corvane_core_register_stream(0, "", nullptr, &handle), CORVANE_ERR_EMPTY_NAME);
    EXPECT_EQ(corvane_core_register_stream(2, "y", nullptr, &handle), CORVANE_ERR_DEVICE);
    EXPECT_EQ(corvane_core_register_stream(1, "y", nullptr, &handle), CORVANE_ERR_NOT_STARTED);
    for (int i = 2; i < 64; ++i) {
        Register(("s" + std::to_string(i)).c_str());
    }
    EXPECT_EQ(corvane_core_register_stream(0, "one too many", nullptr, &handle), CORVANE_ERR_SERVICES_FULL);
    EXPECT_EQ(corvane_core_unregister_stream(0, 64), CORVANE_OK);
    EXPECT_EQ(corvane_core_unregister_stream(0, 64), CORVANE_ERR_NO_SERVICE);
    EXPECT_EQ(corvane_core_unregister_stream(0, 0), CORVANE_ERR_HANDLE);
    EXPECT_EQ(corvane_core_unregister_stream(0, 65), CORVANE_ERR_HANDLE);
    EXPECT_EQ(corvane_core_find_local_service(0, std::string(50, 'x').c_str(), &handle), CORVANE_OK);
    EXPECT_EQ(handle, 2);
}

TEST_F(DsaCore, AnnouncementAndGoodbyeAreTheKnownMessages)
{
    uint8_t handle = Register("Test");
    ASSERT_EQ(world_.responses.size(), 1u);
    static corvane_msg msg;
    uint16_t next = 0;
    ASSERT_EQ(corvane_mdns_build_response(&msg, &world_.responses[0], &next), CORVANE_OK);
    EXPECT_EQ(Hex(msg), kAnnouncementHex);

    corvane_record_list back;
    ASSERT_EQ(corvane_mdns_parse_responses(&msg, &back), CORVANE_OK);
    ASSERT_EQ(back.total, 4);
    const uint32_t kinds[4] = {3, 6, 6, 7}, ttls[4] = {300, 300, 600, 120};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(back.records[i].name.kind, kinds[i]);
        EXPECT_EQ(back.records[i].ttl, ttls[i]);
    }

    ASSERT_EQ(corvane_core_unregister_stream(0, handle), CORVANE_OK);
    next = 0;
    ASSERT_EQ(corvane_mdns_build_response(&msg, &world_.responses[1], &next), CORVANE_OK);
    EXPECT_EQ(msg.length, 101);
}

TEST_F(DsaCore, AnswersByKindOfQuestion)
{
    Register("A", 3);
    Register("B", 2);
    corvane_device_config[0].port2 = 9000;
    strcpy(corvane_device_config[0].name1, "Velmora (on MYPC)");
    corvane_name_ref cut{};
    corvane_name_set(&cut, CORVANE_KIND_INSTANCE, "A");
    cut.cut = 1;
    struct Case
    {
        corvane_question question;
        size_t records;
    } cases[] = {
        {Question(CORVANE_KIND_SERVICES, nullptr, 12), 2},
        {Question(CORVANE_KIND_CORVANE, nullptr, 12), 7},
        {Question(CORVANE_KIND_ZINT, nullptr, 12), 7},
        {Question(CORVANE_KIND_RTSP, nullptr, 33), 2},
        {Question(CORVANE_KIND_INSTANCE, "A", 16), 1},
        {Question(CORVANE_KIND_INSTANCE, "a", 33), 1},
        {Question(CORVANE_KIND_INSTANCE, "A", 1), 0},
        {Question(CORVANE_KIND_INSTANCE, "C", 33), 0},
        {{cut, 33, 0}, 0},
        {Question(CORVANE_KIND_HOST, "MYPC_1", 1), 1},
        {Question(CORVANE_KIND_HOST, "mypc_1", 28), 1},
        {Question(CORVANE_KIND_HOST, "MYPC", 1), 0},
        {Question(CORVANE_KIND_QUILL, nullptr, 12), 0},
        {Question(CORVANE_KIND_QUILL_INSTANCE, "A", 33), 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AnswerCount(c.question), c.records)
            << "kind " << c.question.name.kind << " " << c.question.name.text;
    }
    corvane_device_config[0].port2 = 0;
    EXPECT_EQ(AnswerCount(Question(CORVANE_KIND_SERVICES, nullptr, 12)), 1u);
    corvane_core_unregister_stream(0, 1);
    corvane_core_unregister_stream(0, 2);
    EXPECT_EQ(AnswerCount(Question(CORVANE_KIND_CORVANE, nullptr, 12)), 1u);
}

TEST_F(DsaCore, ManyLongNamesAreAnsweredInWholeMessagesOfAtMost1280Bytes)
{
    for (int i = 0; i < 12; ++i) {
        Register((std::string(45, 'n') + static_cast<char>('a' + i) + "!").c_str());
    }
    ASSERT_EQ(AnswerCount(Question(CORVANE_KIND_CORVANE, nullptr, 12)), 37u);
    size_t messages = 0, records = 0;
    for (const corvane_record_list& list : world_.responses) {
        static corvane_msg msg;
        for (uint16_t next = 0; next < list.total; ++messages) {
            ASSERT_EQ(corvane_mdns_build_response(&msg, &list, &next), CORVANE_OK);
            EXPECT_LE(msg.length, 1280);
            corvane_record_list back;
            ASSERT_EQ(corvane_mdns_parse_responses(&msg, &back), CORVANE_OK);
            EXPECT_EQ(back.total, (msg.data[6] << 8 | msg.data[7]) + (msg.data[10] << 8 | msg.data[11]));
            records += back.total;
        }
    }
    EXPECT_EQ(records, 37u);
    EXPECT_GT(messages, 2u);
}

TEST_F(DsaCore, InitialQueriesAnnounceRegisteredStreamsOnce)
{
    Register("Test");
    world_.responses.clear();
    corvane_core_do_initial_queries(&corvane_device_states[0]);
    corvane_core_do_initial_queries(&corvane_device_states[0]);
    ASSERT_EQ(world_.queries.size(), 1u);
    EXPECT_EQ(world_.queries[0].count, 3);
    ASSERT_EQ(world_.responses.size(), 1u);
    EXPECT_EQ(world_.responses[0].total, 8); // PTR, SRV, TXT and A for each of the two subtypes
    EXPECT_TRUE(Logged("corvane_core_do_initial_queries -> corvane_mdns_enqueue_queries_list, status = 0"));
}

TEST_F(DsaCore, PtrSrvAndAMakeAResolvedStreamAndGoodbyeRemovesIt)
{
    Evaluate({Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, "S")});
    ASSERT_NE(Stream("S"), nullptr);
    EXPECT_EQ(Stream("S")->flags, CORVANE_FLAG_UNRESOLVED | CORVANE_FLAG_CHANGED);
    EXPECT_EQ(Stream("S")->device, 1);
    Evaluate({Srv("S", CORVANE_KIND_HOST, "peer")});
    EXPECT_EQ(Stream("S")->node, 1);
    EXPECT_EQ(Stream("S")->port, 8554);
    EXPECT_EQ(corvane_remote_nodes[0].no_address, 1);
    Evaluate({A("peer")});
    EXPECT_EQ(corvane_remote_nodes[0].no_address, 0);
    EXPECT_EQ(ToHex(corvane_remote_nodes[0].address, 4), "0a4d0002");
    for (const char* line : {"corvane_core_mdns_responses_eval, device_id = 0, add stream = S",
                             "corvane_core_mdns_responses_eval, device_id = 0, add stream node = peer"}) {
        EXPECT_TRUE(Logged(line)) << line;
    }

    // The goodbye takes effect a second after it arrived (RFC 6762 section 10.1).
    Evaluate({Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, "S", 0)});
    world_.now += 999;
    corvane_core_check_remote_streams_table();
    ASSERT_NE(Stream("S"), nullptr);
    world_.now += 1;
    corvane_core_check_remote_streams_table();
    EXPECT_EQ(Stream("S"), nullptr);
    EXPECT_TRUE(Logged("corvane_core_check_remote_streams_table, remove stream = S, is_remote_removed"));
}

TEST_F(DsaCore, RecordsNamingNothingCreateNothing)
{
    Evaluate({Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, "gone", 0),
              Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_HOST, "host"),
              Ptr(CORVANE_KIND_ZINT, CORVANE_KIND_INSTANCE, ""),
              Ptr(CORVANE_KIND_QUILL, CORVANE_KIND_INSTANCE, "q"), Srv("S", CORVANE_KIND_INSTANCE, "x"),
              Srv("S", CORVANE_KIND_HOST, "")});
    for (const corvane_remote_stream& row : corvane_remote_streams) {
        EXPECT_EQ(row.hash, 0u) << row.name;
    }
    for (const corvane_remote_node& row : corvane_remote_nodes) {
        EXPECT_EQ(row.hash, 0u) << row.name;
    }
}

TEST_F(DsaCore, FullTablesEndTheEvaluation)
{
    // Every node row is pointed to by a stream: an SRV naming a new host finds no row.
    Evaluate({Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, "S")});
    for (int i = 0; i < CORVANE_REMOTE_NODES; ++i) {
        corvane_remote_nodes[i].hash = 1;
        corvane_remote_streams[i + 1].hash = 1;
        corvane_remote_streams[i + 1].node = static_cast<uint8_t>(i + 1);
    }
    corvane_record_list list{};
    list.records[list.total++] = Srv("S", CORVANE_KIND_HOST, "new");
    EXPECT_EQ(corvane_core_mdns_responses_eval(0, &list), CORVANE_ERR_NODES_FULL);
    for (corvane_remote_stream& row : corvane_remote_streams) {
        row.hash = 1;
    }
    list.records[0] = Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, "S");
    EXPECT_EQ(corvane_core_mdns_responses_eval(0, &list), CORVANE_ERR_STREAMS_FULL);
}

TEST_F(DsaCore, AResolvedStreamIsAskedAt240And270AndClearedAt321)
{
    Evaluate({Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, "S"), Srv("S", CORVANE_KIND_HOST, "peer"),
              A("peer")});
    std::vector<int> asked;
    for (int call = 1; call <= 321; ++call) {
        world_.now = call * 1000;
        corvane_core_check_remote_streams_table();
        if (QuestionsFor("S") > 0) {
            asked.push_back(call);
        }
        if (call == 299) {
            EXPECT_EQ(Stream("S")->flags & CORVANE_FLAG_EXPIRED, 0);
        }
        if (call == 300) {
            EXPECT_NE(Stream("S")->flags & CORVANE_FLAG_EXPIRED, 0);
        }
        if (call == 320) {
            ASSERT_NE(Stream("S"), nullptr);
        }
    }
    EXPECT_EQ(asked, (std::vector<int>{240, 270}));
    EXPECT_EQ(Stream("S"), nullptr);
    EXPECT_TRUE(Logged("corvane_core_check_remote_streams_table, remove stream = S, TTL expired"));
}

TEST_F(DsaCore, ANodeIsAskedAt480And540AndClearedAt631LeavingItsStreamsUnresolved)
{
    Evaluate({Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, "S"), Srv("S", CORVANE_KIND_HOST, "peer"),
              A("peer")});
    std::vector<int> asked;
    for (int call = 1; call <= 631; ++call) {
        corvane_core_refresh_nodes();
        if (QuestionsFor("peer") > 0) {
            asked.push_back(call);
        }
        if (call == 630) {
            ASSERT_NE(corvane_remote_nodes[0].hash, 0u);
        }
        // The stream is kept alive meanwhile, as its SRV answers would.
        const_cast<corvane_remote_stream*>(Stream("S"))->countdown = 300;
    }
    EXPECT_EQ(asked, (std::vector<int>{480, 540}));
    EXPECT_EQ(corvane_remote_nodes[0].hash, 0u);
    EXPECT_EQ(Stream("S")->node, 0);
    EXPECT_NE(Stream("S")->flags & CORVANE_FLAG_UNRESOLVED, 0);
}

TEST_F(DsaCore, UnresolvedStreamsAreAskedForInListsOfEight)
{
    for (int i = 0; i < 9; ++i) {
        Evaluate({Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, ("S" + std::to_string(i)).c_str())});
    }
    corvane_core_check_remote_streams_table();
    ASSERT_EQ(world_.queries.size(), 2u);
    EXPECT_EQ(world_.queries[0].count, 8);
    EXPECT_EQ(world_.queries[1].count, 1);
    EXPECT_EQ(world_.queries[0].questions[0].type, CORVANE_TYPE_SRV);
}

TEST_F(DsaCore, NodeRowsAreMadeOnlyForHostsThatStreamsName)
{
    // Hosts that announce only their address (laptops, phones) take no row.
    for (int i = 0; i < 2 * CORVANE_REMOTE_NODES; ++i) {
        Evaluate({A(("laptop" + std::to_string(i)).c_str())});
    }
    for (const corvane_remote_node& row : corvane_remote_nodes) {
        ASSERT_EQ(row.hash, 0u) << row.name;
    }
    // Labels that begin with a NUL byte name nothing: no row that reads as free is ever used.
    corvane_record nul_ptr = Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, "xy");
    nul_ptr.rdata.ptr.text[0] = '\0';
    Evaluate({nul_ptr, Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, "N")});
    corvane_record nul_srv = Srv("N", CORVANE_KIND_HOST, "xy");
    nul_srv.rdata.srv.target.text[0] = '\0';
    Evaluate({nul_srv});
    EXPECT_EQ(Stream("N")->node, 0);
    EXPECT_EQ(corvane_remote_streams[1].hash, 0u);
    // An SRV of an instance without a stream row makes no node either.
    Evaluate({Srv("unknown", CORVANE_KIND_HOST, "ghost")});
    EXPECT_EQ(corvane_remote_nodes[0].hash, 0u);
    // The A record before the SRV naming its host, in one message, still gives the address.
    Evaluate({Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, "S"), A("peer"),
              Srv("S", CORVANE_KIND_HOST, "peer")});
    EXPECT_EQ(Stream("S")->node, 1);
    EXPECT_EQ(corvane_remote_nodes[0].no_address, 0);
    EXPECT_EQ(ToHex(corvane_remote_nodes[0].address, 4), "0a4d0002");
    EXPECT_FALSE(Logged("corvane_core_mdns_responses_eval, device_id = 0, add node = laptop0"));
}

TEST_F(DsaCore, AFullNodeTableGivesTheOldestRowNoStreamPointsTo)
{
    // Rows 1..200 changed at 1000 + row: row 1 is the oldest. Streams point at the rows in `referenced`.
    struct Case
    {
        std::vector<int> referenced;
        int taken; // the row the new host gets, 0: none (102)
    } cases[] = {
        {{}, 1},
        {{1, 2, 3}, 4},
        {{1, 5}, 2},
        {[] {
             std::vector<int> all;
             for (int i = 1; i < CORVANE_REMOTE_NODES; ++i) {
                 all.push_back(i);
             }
             return all;
         }(),
         CORVANE_REMOTE_NODES},
        {[] {
             std::vector<int> all;
             for (int i = 1; i <= CORVANE_REMOTE_NODES; ++i) {
                 all.push_back(i);
             }
             return all;
         }(),
         0},
    };
    for (const Case& c : cases) {
        corvane_core_reset_for_test();
        ASSERT_EQ(corvane_core_prepare("MYPC", corvane_device_states[0].address, 1), CORVANE_OK);
        world_.log.clear();
        world_.now = 100000;
        for (int i = 0; i < CORVANE_REMOTE_NODES; ++i) {
            snprintf(corvane_remote_nodes[i].name, CORVANE_TEXT_SIZE, "old%d", i + 1);
            corvane_remote_nodes[i].hash = corvane_name_hash(corvane_remote_nodes[i].name, CORVANE_NAME_MAX);
            corvane_remote_nodes[i].changed_at = 1000 + static_cast<uint32_t>(i);
        }
        for (size_t k = 0; k < c.referenced.size(); ++k) {
            corvane_remote_streams[k + 1].hash = 1;
            corvane_remote_streams[k + 1].node = static_cast<uint8_t>(c.referenced[k]);
        }
        corvane_record_list list{};
        list.records[list.total++] = Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, "S");
        list.records[list.total++] = Srv("S", CORVANE_KIND_HOST, "sender");
        list.records[list.total++] = A("sender");
        corvane_status status = corvane_core_mdns_responses_eval(0, &list);
        if (c.taken == 0) {
            EXPECT_EQ(status, CORVANE_ERR_NODES_FULL);
            EXPECT_EQ(Stream("S")->node, 0);
            continue;
        }
        EXPECT_EQ(status, CORVANE_OK);
        EXPECT_EQ(Stream("S")->node, c.taken);
        const corvane_remote_node& node = corvane_remote_nodes[c.taken - 1];
        EXPECT_STREQ(node.name, "sender");
        EXPECT_EQ(node.no_address, 0);
        EXPECT_TRUE(Logged("corvane_core_mdns_responses_eval, device_id = 0, replace node = old" +
                           std::to_string(c.taken)));
    }
}

TEST_F(DsaCore, UnresolvedRowsAreAskedAtGrowingIntervalsOfAtMostAMinute)
{
    Evaluate({Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, "S"),
              Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, "T"), Srv("T", CORVANE_KIND_HOST, "peer")});
    std::vector<int> srv_asked, a_asked;
    size_t waiting_lines = 0;
    for (int call = 1; call <= 250; ++call) {
        world_.now = static_cast<uint32_t>(call) * 1000;
        corvane_core_check_remote_streams_table();
        if (QuestionsFor("S") > 0) {
            srv_asked.push_back(call);
        }
        corvane_core_refresh_nodes();
        if (QuestionsFor("peer") > 0) {
            a_asked.push_back(call);
        }
        // The streams are kept alive, as re-announcements would.
        const_cast<corvane_remote_stream*>(Stream("S"))->countdown = 300;
        const_cast<corvane_remote_stream*>(Stream("T"))->countdown = 300;
    }
    const std::vector<int> expected = {1, 2, 4, 8, 16, 32, 64, 124, 184, 244};
    EXPECT_EQ(srv_asked, expected);
    EXPECT_EQ(a_asked, expected);
    for (const std::string& line : world_.log) {
        waiting_lines += line.find("node rows wait for an answer") != std::string::npos;
    }
    EXPECT_EQ(waiting_lines, 5u); // seconds 1, 61, 121, 181, 241
    EXPECT_TRUE(
        Logged("corvane_core_check_remote_streams_table, 1 stream rows and 1 node rows wait for an answer"));

    // Once answered, the node is asked only before its countdown ends; its A clears the waiting count.
    Evaluate({A("peer")});
    world_.log.clear();
    world_.now += 60000;
    corvane_core_refresh_nodes();
    EXPECT_EQ(QuestionsFor("peer"), 0u);
    corvane_core_check_remote_streams_table();
    EXPECT_TRUE(
        Logged("corvane_core_check_remote_streams_table, 1 stream rows and 0 node rows wait for an answer"));
}

TEST_F(DsaCore, AThousandUnresolvedRowsAskAtMost80QuestionsASecondAndEachIsAskedFirstWithin13)
{
    for (int i = 0; i < 1000; ++i) {
        Evaluate({Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, ("ghost" + std::to_string(i)).c_str())});
    }
    std::vector<int> first_asked(1000, 0);
    size_t in_window = 0, most = 0;
    for (int call = 1; call <= 330; ++call) { // past the end of the rows' countdown
        world_.now = static_cast<uint32_t>(call) * 1000;
        corvane_core_check_remote_streams_table();
        size_t n = 0;
        for (const corvane_question_list& list : world_.queries) {
            for (uint16_t q = 0; q < list.count; ++q) {
                int i = atoi(list.questions[q].name.text + 5);
                if (first_asked[i] == 0) {
                    first_asked[i] = call;
                }
            }
            n += list.count;
        }
        world_.queries.clear();
        most = std::max(most, n);
        in_window += call > 60 && call <= 90 ? n : 0;
    }
    EXPECT_LE(most, 80u);
    EXPECT_LE(*std::max_element(first_asked.begin(), first_asked.end()), 13);
    EXPECT_GE(*std::min_element(first_asked.begin(), first_asked.end()), 1);
    EXPECT_LE(in_window, 30u * 80u);
    EXPECT_GE(in_window, 1000u / 2); // each row is still asked about once a minute
}

TEST_F(DsaCore, AFullStreamTableGivesANewInstanceTheRowUnansweredLongest)
{
    for (int i = 0; i < CORVANE_REMOTE_STREAMS; ++i) {
        corvane_remote_stream& row = corvane_remote_streams[i];
        snprintf(row.name, CORVANE_TEXT_SIZE, "junk%d", i);
        row.hash = corvane_name_hash(row.name, CORVANE_NAME_MAX);
        row.flags = CORVANE_FLAG_UNRESOLVED;
        row.countdown = static_cast<int16_t>(300 - (i == 4321 ? 12 : i == 77 ? 11 : 5));
        row.device = 1;
    }
    corvane_record_list list{};
    list.records[list.total++] = Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, "real");
    EXPECT_EQ(corvane_core_mdns_responses_eval(0, &list), CORVANE_OK);
    EXPECT_EQ(Stream("real"), &corvane_remote_streams[4321]);
    EXPECT_TRUE(Logged("corvane_core_mdns_responses_eval, device_id = 0, replace stream = junk4321"));
    list.records[0] = Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, "second");
    EXPECT_EQ(corvane_core_mdns_responses_eval(0, &list), CORVANE_OK);
    EXPECT_EQ(Stream("second"), &corvane_remote_streams[77]);
    // Rows asked for less than 10 s, and rows that are answered, keep their place.
    list.records[0] = Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, "third");
    EXPECT_EQ(corvane_core_mdns_responses_eval(0, &list), CORVANE_ERR_STREAMS_FULL);
    corvane_remote_streams[5].flags = 0;
    corvane_remote_streams[5].countdown = 10;
    EXPECT_EQ(corvane_core_mdns_responses_eval(0, &list), CORVANE_ERR_STREAMS_FULL);
}

TEST_F(DsaCore, InitialQuestionsAreRepeatedAtGrowingIntervalsUpToAnHourAndAnsweredLocallyOnce)
{
    Register("Test");
    world_.responses.clear();
    corvane_device_state* state = &corvane_device_states[0];
    corvane_core_repeat_initial_queries(state); // nothing before the first sending
    EXPECT_TRUE(world_.queries.empty());
    world_.now = 1000;
    corvane_core_do_initial_queries(state);
    ASSERT_EQ(world_.queries.size(), 1u);
    world_.queries.clear();
    std::vector<int> repeats;
    for (int second = 2; second <= 12000; ++second) {
        world_.now = static_cast<uint32_t>(second) * 1000;
        corvane_core_repeat_initial_queries(state);
        if (!world_.queries.empty()) {
            ASSERT_EQ(world_.queries.size(), 1u);
            ASSERT_EQ(world_.queries[0].count, 3);
            EXPECT_EQ(world_.queries[0].questions[0].name.kind, CORVANE_KIND_CORVANE);
            EXPECT_EQ(world_.queries[0].questions[2].type, CORVANE_TYPE_PTR);
            repeats.push_back(second);
            world_.queries.clear();
        }
    }
    EXPECT_EQ(repeats, (std::vector<int>{2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048, 4096, 7696, 11296}));
    EXPECT_EQ(world_.responses.size(), 1u); // the announcing answer of the first sending only
}

TEST_F(DsaCore, TheSameRecordIsAnsweredAtMostOnceASecond)
{
    Register("A", 3);
    const corvane_question subtype = Question(CORVANE_KIND_CORVANE, nullptr, 12);
    const corvane_question host = Question(CORVANE_KIND_HOST, "MYPC_1", 1);
    const corvane_question srv = Question(CORVANE_KIND_INSTANCE, "A", 33);
    struct Step
    {
        uint32_t at_ms;
        corvane_question question;
        size_t records;
    } steps[] = {
        {10000, subtype, 4}, // PTR, SRV, TXT, A
        {10500, subtype, 0}, // dropped, not queued
        {10999, host, 0},    // the A went out with the subtype answer
        {10999, srv, 0},     // so did the SRV
        {11000, subtype, 4}, {11100, Question(CORVANE_KIND_SERVICES, nullptr, 12), 1}, // another record
        {12500, host, 1},    {12600, subtype, 3}, // the A of 12500 is left out
    };
    for (const Step& step : steps) {
        world_.now = step.at_ms;
        world_.responses.clear();
        corvane_question_list list{};
        list.questions[list.count++] = step.question;
        EXPECT_EQ(corvane_core_answer_queries(&list, 0), CORVANE_OK);
        size_t n = 0;
        for (const corvane_record_list& r : world_.responses) {
            n += r.total;
            EXPECT_EQ(r.answers + r.authority + r.additional, r.total);
        }
        EXPECT_EQ(n, step.records) << "at " << step.at_ms;
    }

    // A flood of 2,000 questions in one second draws one answer.
    world_.now = 20000;
    size_t answered = 0;
    for (int i = 0; i < 2000; ++i) {
        world_.responses.clear();
        corvane_question_list list{};
        list.questions[list.count++] = subtype;
        corvane_core_answer_queries(&list, 0);
        answered += world_.responses.size();
        world_.now += i % 2;
    }
    EXPECT_EQ(answered, 1u);
    // Registration announcements are not held back by answers.
    world_.responses.clear();
    Register("B", 3);
    EXPECT_EQ(world_.responses.size(), 1u);
}

TEST_F(DsaCore, AnAnnouncementAfterAGoodbyeTakesItBack)
{
    struct Case
    {
        const char* name;
        bool srv_goodbye;   // the goodbye is the SRV's, not the PTR's
        int again_after_ms; // the new announcement, -1 none
        bool kept;
    } cases[] = {
        {"ptr restart", false, 100, true},
        {"srv restart", true, 100, true},
        {"ptr gone", false, -1, false},
        {"srv gone", true, -1, false},
        {"restart late in the second", false, 900, true},
    };
    for (const Case& c : cases) {
        world_.now = 50000;
        Evaluate({Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, c.name),
                  Srv(c.name, CORVANE_KIND_HOST, "peer"), A("peer")});
        world_.now += 400;
        Evaluate({c.srv_goodbye ? Srv(c.name, CORVANE_KIND_HOST, "peer", 0)
                                : Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, c.name, 0)});
        for (int ms = 100; ms <= 3000; ms += 100) {
            world_.now += 100;
            if (ms == c.again_after_ms && Stream(c.name) != nullptr) {
                Evaluate({Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, c.name),
                          Srv(c.name, CORVANE_KIND_HOST, "peer")});
            }
            if (ms % 1000 == 600) {
                corvane_core_check_remote_streams_table();
            }
        }
        const corvane_remote_stream* row = Stream(c.name);
        if (!c.kept) {
            EXPECT_EQ(row, nullptr) << c.name;
            continue;
        }
        ASSERT_NE(row, nullptr) << c.name;
        EXPECT_EQ(row->flags & (CORVANE_FLAG_GOODBYE | CORVANE_FLAG_UNRESOLVED), 0) << c.name;
        EXPECT_EQ(row->node, 1) << c.name;
    }
}

TEST_F(DsaCore, ASenderWhoseSrvNamesAnotherHostFollowsItOnceThatHostsAddressIsKnown)
{
    auto srv = [](const char* host, uint16_t port, uint8_t cache_flush) {
        corvane_record r = Srv("S", CORVANE_KIND_HOST, host);
        r.rdata.srv.port = port;
        r.cache_flush = cache_flush;
        return r;
    };
    auto a = [](const char* host, uint8_t last) {
        corvane_record r = A(host);
        r.rdata.a[3] = last;
        return r;
    };
    auto node_name = [] { return std::string(corvane_remote_nodes[Stream("S")->node - 1].name); };
    Evaluate({Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, "S"), srv("old", 8554, 1), a("old", 2)});
    ASSERT_EQ(node_name(), "old");

    // Another SRV without the cache-flush bit adds to the first: the row stays.
    Evaluate({srv("extra", 8600, 0), a("extra", 4)});
    EXPECT_EQ(node_name(), "old");
    EXPECT_EQ(Stream("S")->port, 8554);

    // The sender restarted on another host: the row keeps its place until the new host's address is
    // known, whatever the old host still answers, then takes the new host and port.
    Evaluate({srv("new", 8600, 1)});
    EXPECT_TRUE(Logged("corvane_core_mdns_responses_eval, device_id = 0, stream moves to another host = S"));
    Evaluate({a("old", 2)});
    EXPECT_EQ(node_name(), "old");
    EXPECT_EQ(Stream("S")->port, 8554);
    for (int second = 0; second < 3; ++second) {
        world_.now += 1000;
        corvane_core_refresh_nodes();
        corvane_core_check_remote_streams_table();
    }
    ASSERT_NE(Stream("S"), nullptr);
    EXPECT_EQ(node_name(), "old");
    EXPECT_GE(QuestionsFor("new"), 2u) << "the new host's address is asked for as for a new row";
    Evaluate({a("new", 3)});
    EXPECT_EQ(node_name(), "new");
    EXPECT_EQ(Stream("S")->port, 8600);
    EXPECT_EQ(Stream("S")->flags & (CORVANE_FLAG_UNRESOLVED | CORVANE_FLAG_GOODBYE), 0);
    Evaluate({a("old", 2), srv("new", 8600, 1)});
    EXPECT_EQ(node_name(), "new");

    // With the new host's address in the same message the row moves at once.
    Evaluate({srv("third", 8700, 1), a("third", 5)});
    EXPECT_EQ(node_name(), "third");
    EXPECT_EQ(Stream("S")->port, 8700);

    // A full node table never gives away the host a row waits to move to.
    Evaluate({srv("fourth", 8800, 1)});
    int waited_for = -1;
    for (int i = 0; i < CORVANE_REMOTE_NODES; ++i) {
        if (strcmp(corvane_remote_nodes[i].name, "fourth") == 0) {
            waited_for = i;
        }
    }
    ASSERT_GE(waited_for, 0);
    Evaluate({Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, "T")});
    for (int i = 0, s = 0; i < CORVANE_REMOTE_NODES; ++i) {
        corvane_remote_node& node = corvane_remote_nodes[i];
        if (node.hash == 0) {
            snprintf(node.name, CORVANE_TEXT_SIZE, "filler%d", i);
            node.hash = corvane_name_hash(node.name, CORVANE_NAME_MAX);
        }
        if (i != waited_for && strcmp(node.name, "third") != 0) {
            while (corvane_remote_streams[s].hash != 0) {
                ++s;
            }
            corvane_remote_streams[s].hash = 1;
            corvane_remote_streams[s].node = static_cast<uint8_t>(i + 1);
        }
    }
    corvane_record_list list{};
    list.records[list.total++] = Srv("T", CORVANE_KIND_HOST, "elsewhere");
    EXPECT_EQ(corvane_core_mdns_responses_eval(0, &list), CORVANE_ERR_NODES_FULL);
    Evaluate({a("fourth", 6)});
    EXPECT_EQ(node_name(), "fourth");
    EXPECT_EQ(Stream("S")->port, 8800);
}

TEST_F(DsaCore, SendersWaitingForRoomInAFullNodeTableAreReportedOnceAMinute)
{
    for (int i = 0; i < CORVANE_REMOTE_NODES; ++i) {
        snprintf(corvane_remote_nodes[i].name, CORVANE_TEXT_SIZE, "host%d", i);
        corvane_remote_nodes[i].hash = corvane_name_hash(corvane_remote_nodes[i].name, CORVANE_NAME_MAX);
        corvane_remote_streams[100 + i].hash = 1;
        corvane_remote_streams[100 + i].node = static_cast<uint8_t>(i + 1);
    }
    auto announce = [&](const char* name) {
        corvane_record_list list{};
        list.records[list.total++] = Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, name);
        list.records[list.total++] = Srv(name, CORVANE_KIND_HOST, name);
        return corvane_core_mdns_responses_eval(0, &list);
    };
    corvane_room_report report;
    corvane_core_take_room_report(&report);
    EXPECT_EQ(report.streams_waiting, 0u) << "a full table alone is no fault";
    EXPECT_EQ(announce("S"), CORVANE_ERR_NODES_FULL);
    EXPECT_EQ(announce("T"), CORVANE_ERR_NODES_FULL);
    std::vector<uint32_t> reported;
    for (int second = 0; second <= 120; ++second) {
        world_.now = 1000u * static_cast<uint32_t>(second);
        if (second == 70) {
            corvane_remote_streams[100].hash = 0; // host0 is no stream's any more
            EXPECT_EQ(announce("S"), CORVANE_OK);
            EXPECT_EQ(Stream("S")->node, 1);
        }
        corvane_core_take_room_report(&report);
        if (report.streams_waiting != 0) {
            reported.push_back(static_cast<uint32_t>(second) * 10 + report.streams_waiting);
        }
    }
    EXPECT_EQ(reported, (std::vector<uint32_t>{2, 602, 1201})); // (second, waiting) as second * 10 + waiting
}

TEST_F(DsaCore, InstancesWhoseNamesAreCutTheSameAreKeptApartAndTheSecondIsNotTaken)
{
    const std::string cut(47, 'c');
    auto named = [&](corvane_record r, uint32_t whole) {
        corvane_name_ref& ref = r.type == CORVANE_TYPE_PTR ? r.rdata.ptr : r.name;
        ref.cut = 1;
        ref.whole = whole;
        return r;
    };
    auto ptr = [&](uint32_t whole, uint32_t ttl = 4500) {
        return named(Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, cut.c_str(), ttl), whole);
    };
    auto srv = [&](uint32_t whole, const char* host, uint16_t port) {
        corvane_record r = named(Srv(cut.c_str(), CORVANE_KIND_HOST, host), whole);
        r.rdata.srv.port = port;
        r.cache_flush = 1;
        return r;
    };
    Evaluate({ptr(111), srv(111, "first", 8554), A("first")});
    ASSERT_NE(Stream(cut.c_str()), nullptr);
    const std::string cut_line =
        "corvane_core_mdns_responses_eval, device_id = 0, name cut to 47 bytes = " + cut;
    EXPECT_TRUE(Logged(cut_line));

    Evaluate({ptr(222), srv(222, "second", 9000), A("second"), ptr(222, 0),
              named(Srv(cut.c_str(), CORVANE_KIND_HOST, "second", 0), 222)});
    Evaluate({ptr(111)}); // the first's own announcement again
    EXPECT_EQ(std::count(world_.log.begin(), world_.log.end(), cut_line), 1);
    EXPECT_TRUE(Logged("corvane_core_mdns_responses_eval, device_id = 0, stream not taken, its cut name is "
                       "another stream's = " +
                       cut));
    int rows = 0;
    for (const corvane_remote_stream& row : corvane_remote_streams) {
        rows += row.hash != 0;
    }
    EXPECT_EQ(rows, 1);
    const corvane_remote_stream* row = Stream(cut.c_str());
    EXPECT_STREQ(corvane_remote_nodes[row->node - 1].name, "first") << "the second's SRV is not the first's";
    EXPECT_EQ(row->port, 8554);
    EXPECT_EQ(row->flags & CORVANE_FLAG_GOODBYE, 0) << "nor is its goodbye";

    corvane_room_report report;
    corvane_core_take_room_report(&report);
    EXPECT_EQ(report.names_refused, 1u);
    EXPECT_EQ(std::string(report.refused_name), cut);
    world_.now += 60000;
    corvane_core_take_room_report(&report);
    EXPECT_EQ(report.names_refused, 0u) << "no line without a new refusal";
    Evaluate({ptr(222)});
    corvane_core_take_room_report(&report);
    EXPECT_EQ(report.names_refused, 1u);
}

std::atomic<int> g_lines_with_lock_free{0}, g_lines_under_lock{0};

void CheckingLog(const char*, ...)
{
    // Another thread tries the table lock: the engine never logs while holding it.
    bool free = false;
    std::thread probe([&] {
        free = corvane_tables_try_lock();
        if (free) {
            corvane_tables_unlock();
        }
    });
    probe.join();
    ++(free ? g_lines_with_lock_free : g_lines_under_lock);
}

TEST_F(DsaCore, LogLinesAreWrittenAfterTheTableLockIsReleased)
{
    corvane_log_hook = CheckingLog;
    std::vector<corvane_record> records;
    for (int i = 0; i < 10; ++i) {
        std::string name = "S" + std::to_string(i);
        records.push_back(Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, name.c_str()));
        records.push_back(Srv(name.c_str(), CORVANE_KIND_HOST, ("h" + std::to_string(i)).c_str()));
    }
    Evaluate(records);      // add stream, add stream node
    Evaluate({records[0]}); // refresh stream
    for (int i = 0; i < 10; ++i) {
        Evaluate({Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, ("S" + std::to_string(i)).c_str(), 0)});
    }
    world_.now += 1000;
    corvane_core_check_remote_streams_table(); // remove stream, and the waiting line
    EXPECT_EQ(g_lines_under_lock.load(), 0);
    EXPECT_EQ(g_lines_with_lock_free.load(), 31); // 10 + 10 added, 1 refreshed, 10 removed
    for (const corvane_remote_stream& row : corvane_remote_streams) {
        EXPECT_EQ(row.hash, 0u);
    }
}

TEST(DsaNames, RegisteredNamesAreCutOnAUtf8CharacterBoundary)
{
    const std::string a46(46, 'a'), a45(45, 'a'), a44(44, 'a'), a47(47, 'a');
    struct Case
    {
        std::string name;
        size_t kept;
    } cases[] = {
        {"short", 5},
        {a47, 47},
        {a47 + "b", 47},
        {a46 + "\xC3\xBC", 46},     // u umlaut: would end after its first byte
        {a45 + "\xC3\xBC", 47},     // fits whole
        {a45 + "\xE2\x82\xAC", 45}, // euro sign, 3 bytes
        {a44 + "\xE2\x82\xAC", 47},
        {a46 + "\xE2\x82\xAC", 46},
        {a44 + "\xF0\x9F\x8E\xB5", 44}, // 4 bytes
        {a46 + "\xFC\xFC", 47},         // code page 1252, not UTF-8: cut as bytes
        {a46 + "\xC3\x41", 47},         // a lead byte without its continuation
        {a47 + "\xBC", 47},             // a stray continuation byte after the cut
        {a44 + "\xC3\xBC\xBC\xBC", 47}, // stray continuations after a whole character are cut as bytes
        {std::string(60, 'x'), 47},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(corvane_name_cut_length(c.name.c_str()), c.kept) << c.name;
    }
    // Every cut of a text made of characters of 1 to 4 bytes ends on a character boundary.
    const char* pieces[] = {"a", "\xC3\xBC", "\xE2\x82\xAC", "\xF0\x9F\x8E\xB5"};
    for (int shift = 0; shift < 64; ++shift) {
        std::string text;
        std::vector<size_t> boundaries = {0};
        for (int i = 0; text.size() < 60; ++i) {
            text += pieces[(i * 7 + shift + i / 3) % 4];
            boundaries.push_back(text.size());
        }
        size_t kept = corvane_name_cut_length(text.c_str());
        EXPECT_LE(kept, 47u);
        EXPECT_GE(kept, 44u);
        EXPECT_NE(std::find(boundaries.begin(), boundaries.end(), kept), boundaries.end()) << shift;
    }
}

TEST_F(DsaCore, ALongUtf8NameIsRegisteredWholeCharactersAndFoundByItsFullName)
{
    const std::string name = std::string(46, 'n') + "\xC3\xBC" + "ber";
    uint8_t handle = Register(name.c_str());
    EXPECT_EQ(std::string(corvane_local_services[0][handle - 1].name), std::string(46, 'n'));
    uint8_t found = 0;
    EXPECT_EQ(corvane_core_find_local_service(0, name.c_str(), &found), CORVANE_OK);
    EXPECT_EQ(found, handle);
    uint8_t again = 0;
    EXPECT_EQ(corvane_core_register_stream(0, name.c_str(), nullptr, &again), CORVANE_ERR_NAME_TAKEN);
    // The announcement carries the 46 bytes.
    static corvane_msg msg;
    uint16_t next = 0;
    ASSERT_EQ(corvane_mdns_build_response(&msg, &world_.responses.back(), &next), CORVANE_OK);
    corvane_record_list back;
    ASSERT_EQ(corvane_mdns_parse_responses(&msg, &back), CORVANE_OK);
    EXPECT_EQ(back.records[0].rdata.ptr.length, 46);
}

TEST(DsaLogGate, ARepeatedLineGoesOutAtMostOncePerInterval)
{
    corvane_log_gate gate = {60000, false, 0};
    struct Step
    {
        uint32_t at;
        bool due;
    } steps[] = {{5, true},       {6, false},          {60004, false}, {60005, true},
                 {120004, false}, {0xFFFFFFF0u, true}, {5, false},     {60000 - 16, true}};
    for (const Step& step : steps) {
        EXPECT_EQ(gate.due(step.at), step.due) << step.at;
    }
}

std::atomic<bool> g_release_core{false};

// Holds the core thread in its first second's work until the test lets it go.
void HoldingLog(const char* format, ...)
{
    if (strcmp(format, "corvane_core_do_initial_queries") != 0) {
        return;
    }
    for (int i = 0; i < 3000 && !g_release_core; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

TEST(DsaTransport, AStartWhileTheCoreThreadOfAnEarlierStartStillRunsIsRefused)
{
    corvane_core_init();
    corvane_core_reset_for_test();
    corvane_device_config[0].interface_index = 0xFFFF;
    g_release_core = false;
    corvane_log_hook = HoldingLog;
    ASSERT_EQ(corvane_core_start(), CORVANE_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500)); // the thread is held in its first second
    EXPECT_EQ(corvane_core_stop(0), CORVANE_OK);                  // gives up on the thread after 5 s
    EXPECT_EQ(corvane_core_start(), CORVANE_ERR_ALREADY_STARTED);
    g_release_core = true;
    corvane_status status = CORVANE_ERR_ALREADY_STARTED;
    for (int i = 0; i < 100 && status == CORVANE_ERR_ALREADY_STARTED; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        status = corvane_core_start();
    }
    EXPECT_EQ(status, CORVANE_OK); // once the old thread has ended
    EXPECT_EQ(corvane_core_stop(0), CORVANE_OK);
    EXPECT_EQ(corvane_core_stop(0), CORVANE_ERR_NOT_STARTED);
    corvane_log_hook = nullptr;
    corvane_core_reset_for_test();
}

TEST(DsaTransport, StartWithoutInterfaceAddressFailsWith23AndLeavesNothingRunning)
{
    corvane_core_init();
    corvane_device_config[0].interface_index = 0xFFFF;
    EXPECT_EQ(corvane_mdns_start(), CORVANE_ERR_SOCKET);
    EXPECT_EQ(corvane_mdns_start(), CORVANE_ERR_SOCKET); // not "already running"
    EXPECT_EQ(corvane_mdns_stop(0), CORVANE_ERR_NOT_STARTED);
}
