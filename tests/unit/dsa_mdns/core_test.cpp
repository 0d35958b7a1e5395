// The engine's service logic with an injected clock and way out: registration, answers, evaluation
// of received records and the per-second countdowns, called directly.
#include "dsa_mdns/corvane_mdns.h"
#include "mdns_samples.h"

#include <gtest/gtest.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <string>
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
    size_t AnswerCount(const corvane_question& question)
    {
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

    Evaluate({Ptr(CORVANE_KIND_CORVANE, CORVANE_KIND_INSTANCE, "S", 0)});
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
    for (int i = 0; i < CORVANE_REMOTE_NODES; ++i) {
        corvane_remote_nodes[i].hash = 1;
    }
    corvane_record_list list{};
    list.records[list.total++] = A("new");
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

TEST(DsaTransport, StartWithoutInterfaceAddressFailsWith23AndLeavesNothingRunning)
{
    corvane_core_init();
    corvane_device_config[0].interface_index = 0xFFFF;
    EXPECT_EQ(corvane_mdns_start(), CORVANE_ERR_SOCKET);
    EXPECT_EQ(corvane_mdns_start(), CORVANE_ERR_SOCKET); // not "already running"
    EXPECT_EQ(corvane_mdns_stop(0), CORVANE_ERR_NOT_STARTED);
}
