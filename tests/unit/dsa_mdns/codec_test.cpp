// The engine's message codec: its own messages byte for byte, names by kind, and malformed or
// unusual input from the network refused cleanly or read the way a standard responder means it.
#include "dsa_mdns/corvane_codec.h"
#include "dsa_mdns/corvane_mdns.h"
#include "mdns_samples.h"

#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

corvane_msg g_msg;

corvane_status ParseResponse(const std::string& bytes, corvane_record_list& list)
{
    corvane_msg_set(&g_msg, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return corvane_mdns_parse_responses(&g_msg, &list);
}

corvane_status ParseQuery(const std::string& bytes, corvane_question_list& list)
{
    corvane_msg_set(&g_msg, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return corvane_mdns_parse_queries(&g_msg, &list);
}

std::string U16(unsigned value)
{
    return std::string{static_cast<char>(value >> 8), static_cast<char>(value)};
}

std::string Header(unsigned flags, unsigned qd, unsigned an, unsigned ns = 0, unsigned ar = 0)
{
    return U16(0) + U16(flags) + U16(qd) + U16(an) + U16(ns) + U16(ar);
}

std::string Name(std::vector<std::string> labels)
{
    std::string wire;
    for (const std::string& label : labels) {
        wire += static_cast<char>(label.size()) + label;
    }
    return wire + '\0';
}

std::string Record(const std::string& name, unsigned type, const std::string& rdata, unsigned ttl = 120)
{
    return name + U16(type) + U16(0x8001) + U16(ttl >> 16) + U16(ttl & 0xFFFF) + U16(rdata.size()) + rdata;
}

const std::string kHost = Name({"peer", "local"});
const std::string kA = Record(kHost, 1, std::string("\x0a\x4d\x00\x02", 4));

// Records with their names' cut flags cleared: a name cut on reading is whole when read again.
std::vector<corvane_record> Comparable(const corvane_record_list& list)
{
    std::vector<corvane_record> records(list.records, list.records + list.total);
    for (corvane_record& r : records) {
        r.name.cut = 0;
        r.name.whole = 0;
        if (r.type == CORVANE_TYPE_PTR || r.type == CORVANE_TYPE_NSEC) {
            r.rdata.ptr.cut = 0;
            r.rdata.ptr.whole = 0;
        } else if (r.type == CORVANE_TYPE_SRV) {
            r.rdata.srv.target.cut = 0;
            r.rdata.srv.target.whole = 0;
        }
    }
    return records;
}

bool SameRecords(const corvane_record_list& a, const corvane_record_list& b)
{
    std::vector<corvane_record> x = Comparable(a), y = Comparable(b);
    return x.size() == y.size() && memcmp(x.data(), y.data(), x.size() * sizeof(corvane_record)) == 0;
}

// An announcement (PTR, SRV, A) of an instance whose UTF-8 name is longer than the engine keeps.
std::string LongNameAnnouncement(const std::string& instance)
{
    const std::string name = Name({instance, "_rtsp", "_tcp", "local"});
    return Header(0x8400, 0, 1, 0, 2) +
           Record(Name({"_corvane_session", "_sub", "_rtsp", "_tcp", "local"}), 12, name, 4500) +
           Record(name, 33, U16(0) + U16(0) + U16(8554) + kHost) + kA;
}

} // namespace

TEST(DsaCodec, InitialQueryIsByteForByteTheKnownMessage)
{
    corvane_question_list list{};
    for (uint32_t kind : {CORVANE_KIND_CORVANE, CORVANE_KIND_ZINT, CORVANE_KIND_QUILL}) {
        corvane_name_set(&list.questions[list.count].name, kind, nullptr);
        list.questions[list.count++].type = CORVANE_TYPE_PTR;
    }
    ASSERT_EQ(corvane_mdns_build_query(&g_msg, &list), CORVANE_OK);
    EXPECT_EQ(ToHex(g_msg.data, g_msg.length), kInitialQueryHex);
    EXPECT_EQ(g_msg.length, 89);
}

TEST(DsaCodec, NameHashOfKnownNames)
{
    EXPECT_EQ(corvane_name_hash("Test", 47), 0xB7672118u);
    EXPECT_EQ(corvane_name_hash("MYPC_1", 47), 0x8C104E83u);
    EXPECT_EQ(corvane_name_hash("\xE4", 47), 0xFFFFFFE4u);
    EXPECT_EQ(corvane_name_hash(std::string(60, 'x').c_str(), 47), 0x3FA2DA78u);
    EXPECT_EQ(corvane_name_hash(std::string(47, 'x').c_str(), 47), 0x3FA2DA78u);
    EXPECT_EQ(corvane_name_hash("", 47), 0u);
}

TEST(DsaCodec, NamesAreMatchedToKindsByWholeLabelsWithoutRegardToCase)
{
    struct Case
    {
        std::vector<std::string> labels;
        corvane_status status;
        uint32_t kind;
        const char* text;
    } cases[] = {
        {{"_rtsp", "_tcp", "local"}, CORVANE_OK, CORVANE_KIND_RTSP, ""},
        {{"_RTSP", "_TCP", "Local"}, CORVANE_OK, CORVANE_KIND_RTSP, ""},
        {{"_rtspx", "_tcp", "local"}, CORVANE_OK, CORVANE_KIND_NONE, ""},
        {{"_rtsp", "_tc", "local"}, CORVANE_OK, CORVANE_KIND_NONE, ""},
        {{"Studio A", "_rtsp", "_tcp", "local"}, CORVANE_OK, CORVANE_KIND_INSTANCE, "Studio A"},
        {{"MYPC_1", "local"}, CORVANE_OK, CORVANE_KIND_HOST, "MYPC_1"},
        {{"x", "_quill", "_tcp", "local"}, CORVANE_OK, CORVANE_KIND_QUILL_INSTANCE, "x"},
        {{"_services", "_dns-sd", "_udp", "local"}, CORVANE_OK, CORVANE_KIND_SERVICES, ""},
        {{"a", "b", "c", "d", "e", "f"}, CORVANE_ERR_LABELS, CORVANE_KIND_NONE, ""},
    };
    for (const Case& c : cases) {
        std::string bytes = Name(c.labels);
        corvane_msg_set(&g_msg, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        corvane_name_ref name;
        EXPECT_EQ(corvane_msg_read_name(&g_msg, &name), c.status) << c.labels[0];
        EXPECT_EQ(g_msg.position, bytes.size()) << c.labels[0];
        if (c.status == CORVANE_OK) {
            EXPECT_EQ(name.kind, c.kind) << c.labels[0];
            EXPECT_EQ(std::string(name.text, name.length), c.text);
        }
    }
}

// Responses from the network: each case is read to the records the engine uses, or refused with
// 31, and none of them takes long.
TEST(DsaCodec, ResponsesAreReadWithinTheirBoundsAndUnusedRecordsSkipped)
{
    std::string ptr = Record(Name({"_corvane_session", "_sub", "_rtsp", "_tcp", "local"}), 12,
                             Name({"S", "_rtsp", "_tcp", "local"}) + "\x01\x02");
    std::string big(8000, 'z');
    struct Case
    {
        const char* what;
        std::string bytes;
        corvane_status status;
        uint16_t total;
    } cases[] = {
        {"pointer to itself", Header(0x8400, 0, 1) + "\xc0\x0c", CORVANE_ERR_READ_END, 0},
        {"pointer forward", Header(0x8400, 0, 1) + "\xc0\x20" + kA.substr(12), CORVANE_ERR_READ_END, 0},
        {"pointer back into its own name", Header(0x8400, 0, 1) + std::string("\x01\x61\xc0\x0c", 4),
         CORVANE_ERR_READ_END, 0},
        {"length byte 0x40", Header(0x8400, 0, 1) + "\x40" + std::string(70, 'a'), CORVANE_ERR_READ_END, 0},
        {"length byte 0x80", Header(0x8400, 0, 1) + "\x80" + std::string(70, 'a'), CORVANE_ERR_READ_END, 0},
        {"data past the end", Header(0x8400, 0, 1) + kA.substr(0, kA.size() - 2), CORVANE_ERR_READ_END, 0},
        {"A of 5 bytes", Header(0x8400, 0, 1) + Record(kHost, 1, std::string("\x0a\x4d\x00\x02\x09", 5)),
         CORVANE_ERR_READ_END, 0},
        {"name in PTR data runs past the data",
         Header(0x8400, 0, 1) + Record(kHost, 12, std::string("\x04peer", 5)) +
             std::string("\x05local\x00", 7),
         CORVANE_ERR_READ_END, 0},
        {"PTR data longer than its name", Header(0x8400, 0, 2) + ptr + kA, CORVANE_OK, 2},
        {"AAAA then A", Header(0x8400, 0, 2) + Record(kHost, 28, std::string(16, '\1')) + kA, CORVANE_OK, 1},
        {"HINFO then A", Header(0x8400, 0, 2) + Record(kHost, 13, "\x01x\x01y") + kA, CORVANE_OK, 1},
        {"reverse PTR then A",
         Header(0x8400, 0, 2) + Record(Name({"2", "0", "77", "10", "in-addr", "arpa"}), 12, kHost) + kA,
         CORVANE_OK, 1},
        {"question in a response", Header(0x8400, 1, 1) + kHost + U16(1) + U16(1) + kA, CORVANE_OK, 1},
        {"type 0x0101 is not A",
         Header(0x8400, 0, 2) + Record(kHost, 0x0101, std::string("\x0a\x4d\x00\x02", 4)) + kA, CORVANE_OK,
         1},
        {"opcode not 0", Header(0x8400 | 0x2800, 0, 1) + kA, CORVANE_OK, 0},
        {"rcode not 0", Header(0x8403, 0, 1) + kA, CORVANE_OK, 0},
        {"datagram of 8 KB", Header(0x8400, 0, 2) + Record(kHost, 99, big) + kA, CORVANE_OK, 1},
    };
    for (const Case& c : cases) {
        corvane_record_list list;
        EXPECT_EQ(ParseResponse(c.bytes, list), c.status) << c.what;
        EXPECT_EQ(list.total, c.total) << c.what;
        if (c.status == CORVANE_OK && c.total > 0) {
            const corvane_record& last = list.records[c.total - 1];
            EXPECT_EQ(last.type, CORVANE_TYPE_A) << c.what;
            EXPECT_EQ(ToHex(last.rdata.a, 4), "0a4d0002") << c.what;
        }
    }
}

TEST(DsaCodec, LongNamesAndTextsAreCutWithTheirLengths)
{
    std::string long_host = Name({std::string(60, 'h'), "local"});
    std::string bytes = Header(0x8400, 0, 2) + Record(long_host, 1, std::string("\x0a\x4d\x00\x02", 4)) +
                        Record(Name({"S", "_rtsp", "_tcp", "local"}), 16, std::string(100, 't'));
    corvane_record_list list;
    ASSERT_EQ(ParseResponse(bytes, list), CORVANE_OK);
    ASSERT_EQ(list.total, 2);
    EXPECT_EQ(list.records[0].name.length, 47);
    EXPECT_EQ(list.records[0].name.cut, 1);
    EXPECT_EQ(std::string(list.records[0].name.text), std::string(47, 'h'));
    EXPECT_EQ(list.records[1].rdata.txt.length, 47);

    // A UTF-8 instance name is cut before the character that does not fit whole; the hash of the
    // whole label tells apart two names cut the same, and is 0 for a name kept whole.
    const std::string prefix(46, 'n');
    struct Case
    {
        std::string instance;
        size_t kept;
    } cases[] = {
        {prefix + "\xC3\xBC" + "ber", 46},
        {prefix + "\xC3\xBC" + "ber 2", 46},
        {prefix + "\xC3\xBC" + "ber", 46},
        {prefix + "x", 47},
        {prefix + "xy", 47},
    };
    std::vector<uint32_t> wholes;
    for (const Case& c : cases) {
        ASSERT_EQ(ParseResponse(LongNameAnnouncement(c.instance), list), CORVANE_OK) << c.instance;
        const corvane_name_ref& ptr = list.records[0].rdata.ptr;
        EXPECT_EQ(ptr.kind, CORVANE_KIND_INSTANCE);
        EXPECT_EQ(ptr.length, c.kept) << c.instance;
        EXPECT_EQ(std::string(ptr.text), c.instance.substr(0, c.kept));
        EXPECT_EQ(ptr.cut, c.instance.size() > 47 ? 1 : 0);
        EXPECT_EQ(list.records[1].name.whole, ptr.whole) << "the SRV's owner is the same label";
        wholes.push_back(ptr.whole);
    }
    EXPECT_NE(wholes[0], 0u);
    EXPECT_NE(wholes[0], wholes[1]);
    EXPECT_EQ(wholes[0], wholes[2]);
    EXPECT_EQ(wholes[3], 0u);
    EXPECT_NE(wholes[4], 0u);
}

TEST(DsaCodec, QueriesKeepAtMostEightQuestionsAndOnlyThoseRead)
{
    std::string question = Name({"MYPC_1", "local"}) + U16(0x0110) + U16(0x8001);
    std::string twelve = Header(0, 12, 0);
    for (int i = 0; i < 12; ++i) {
        twelve += question;
    }
    corvane_question_list list;
    ASSERT_EQ(ParseQuery(twelve, list), CORVANE_OK);
    EXPECT_EQ(list.count, 8);
    EXPECT_EQ(list.questions[0].type, 0x0110u); // 16 bits: not a TXT question
    EXPECT_EQ(list.questions[0].unicast, 1);

    std::string cut = Header(0, 3, 0) + question + question + question.substr(0, 5);
    EXPECT_EQ(ParseQuery(cut, list), CORVANE_ERR_READ_END);
    EXPECT_EQ(list.count, 2);
}

// Every sample cut at every length and with every byte changed: a clean status, and whatever is
// read builds back into a message that reads the same.
TEST(DsaCodec, CutAndCorruptedSamplesAreRefusedOrReadConsistently)
{
    for (const std::string& whole :
         {FromHex(kInitialQueryHex), FromHex(kAnnouncementHex), FromHex(kZeroconfResponseHex),
          LongNameAnnouncement(std::string(45, 'n') + "\xE2\x82\xAC" + " and more")}) {
        std::vector<std::string> inputs;
        for (size_t n = 0; n < whole.size(); ++n) {
            inputs.push_back(whole.substr(0, n));
            for (uint8_t flip : {0xFF, 0x40, 0x01}) {
                std::string changed = whole;
                changed[n] = static_cast<char>(changed[n] ^ flip);
                inputs.push_back(changed);
            }
        }
        inputs.push_back(whole);
        for (const std::string& input : inputs) {
            corvane_record_list list, again;
            corvane_question_list questions;
            ParseQuery(input, questions);
            if (ParseResponse(input, list) != CORVANE_OK || list.total == 0) {
                continue;
            }
            static corvane_msg built;
            uint16_t next = 0;
            if (corvane_mdns_build_response(&built, &list, &next) != CORVANE_OK) {
                continue; // e.g. a PTR to a name of no kind: nothing to write it as
            }
            ASSERT_EQ(next, list.total);
            ASSERT_EQ(ParseResponse(std::string(reinterpret_cast<char*>(built.data), built.length), again),
                      CORVANE_OK);
            EXPECT_TRUE(SameRecords(list, again))
                << ToHex(reinterpret_cast<const uint8_t*>(input.data()), input.size());
        }
    }
}

TEST(DsaCodec, ZeroconfResponseGivesItsFiveUsableRecords)
{
    corvane_record_list list;
    ASSERT_EQ(ParseResponse(FromHex(kZeroconfResponseHex), list), CORVANE_OK);
    ASSERT_EQ(list.total, 5); // PTR, SRV, TXT, A, NSEC; the AAAA is skipped
    EXPECT_EQ(list.records[0].rdata.ptr.kind, CORVANE_KIND_INSTANCE);
    EXPECT_STREQ(list.records[0].rdata.ptr.text, "Studio A");
    EXPECT_EQ(list.records[1].rdata.srv.port, 8554);
    EXPECT_STREQ(list.records[1].rdata.srv.target.text, "peer");
    EXPECT_EQ(list.records[4].type, CORVANE_TYPE_NSEC);
}
