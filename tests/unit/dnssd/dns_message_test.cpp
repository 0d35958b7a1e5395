// The DNS message codec: round trips with compression, malformed input refused promptly, and the
// fuzz corpus (real packets) cut at every length and corrupted byte by byte.
#include "dnssd/core/dns_message.h"
#include "tests/fuzz/dns_fuzz_check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>
#include <windows.h>

using namespace mdns;

namespace {

Name N(const char* text)
{
    Name name;
    EXPECT_TRUE(NameFromText(text, name)) << text;
    return name;
}

Record Ptr(const char* name, const char* target)
{
    Record r;
    r.name = N(name);
    r.type = kTypePTR;
    r.ttl = 4500;
    r.target = N(target);
    return r;
}

std::vector<uint8_t> Raw(std::initializer_list<int> values)
{
    std::vector<uint8_t> bytes;
    for (int v : values) {
        bytes.push_back(static_cast<uint8_t>(v));
    }
    return bytes;
}

std::vector<std::vector<uint8_t>> Corpus()
{
    std::vector<std::vector<uint8_t>> packets;
    WIN32_FIND_DATAA found;
    const std::string dir = DNSSD_CORPUS_DIR;
    HANDLE find = FindFirstFileA((dir + "/*.bin").c_str(), &found);
    while (find != INVALID_HANDLE_VALUE) {
        std::FILE* f = std::fopen((dir + "/" + found.cFileName).c_str(), "rb");
        std::vector<uint8_t> bytes(9001);
        bytes.resize(f != nullptr ? std::fread(bytes.data(), 1, bytes.size(), f) : 0);
        if (f != nullptr) {
            std::fclose(f);
        }
        packets.push_back(bytes);
        if (!FindNextFileA(find, &found)) {
            FindClose(find);
            break;
        }
    }
    return packets;
}

} // namespace

TEST(DnsMessage, RoundTripCompressesRepeatedSuffixes)
{
    Message m;
    m.id = 7;
    m.flags = kFlagResponse | kFlagAuthoritative;
    Question q;
    q.name = N("_rtsp._tcp.local");
    q.type = kTypePTR;
    q.unicastResponse = true;
    m.questions.push_back(q);
    m.answers.push_back(Ptr("_rtsp._tcp.local.", "My\\.Stream (2)._rtsp._tcp.local."));
    Record srv;
    srv.name = N("My\\.Stream (2)._rtsp._tcp.local.");
    srv.type = kTypeSRV;
    srv.cacheFlush = true;
    srv.ttl = 120;
    srv.port = 8554;
    srv.target = N("HOST.local.");
    m.answers.push_back(srv);
    Record txt;
    txt.name = srv.name;
    txt.type = kTypeTXT;
    txt.data.assign(1, 0);
    m.authorities.push_back(txt);
    Record a;
    a.name = N("host.local");
    a.type = kTypeA;
    a.data = {10, 77, 0, 1};
    m.additionals.push_back(a);

    mdns::Bytes wire;
    ASSERT_TRUE(BuildMessage(m, wire));
    EXPECT_LT(wire.size(), 130u); // "_rtsp._tcp.local." written once, then pointers
    Message back;
    ASSERT_TRUE(ParseMessage(wire.data(), wire.size(), back));
    EXPECT_EQ(back.id, 7);
    ASSERT_EQ(back.questions.size(), 1u);
    EXPECT_TRUE(back.questions[0].unicastResponse);
    ASSERT_EQ(back.answers.size(), 2u);
    EXPECT_TRUE(SameRecord(back.answers[0], m.answers[0]));
    EXPECT_TRUE(SameRecord(back.answers[1], srv));
    EXPECT_TRUE(back.answers[1].cacheFlush);
    EXPECT_TRUE(SameRecord(back.authorities[0], txt));
    EXPECT_TRUE(SameRecord(back.additionals[0], a)); // names compare without regard to case
    EXPECT_EQ(NameToText(back.answers[0].target), "My\\.Stream (2)._rtsp._tcp.local.");
    EXPECT_TRUE(dnssd_fuzz::RoundTripHolds(wire.data(), wire.size()));
}

TEST(DnsMessage, MalformedInputIsRefused)
{
    const std::vector<uint8_t> header = {0, 0, 0x84, 0, 0, 0, 0, 1, 0, 0, 0, 0};
    auto answer = [&](std::initializer_list<int> tail) {
        std::vector<uint8_t> m = header;
        for (int v : tail) {
            m.push_back(static_cast<uint8_t>(v));
        }
        return m;
    };
    std::vector<uint8_t> longName = header;
    for (int i = 0; i < 5; ++i) {
        longName.push_back(63);
        longName.insert(longName.end(), 63, 'a');
    }
    longName.insert(longName.end(), {0, 0, 1, 0, 1, 0, 0, 0, 1, 0, 4, 1, 2, 3, 4});
    const struct
    {
        const char* what;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"truncated header", Raw({0, 0, 0x84, 0, 0, 0, 0})},
        {"pointer to itself", answer({0xC0, 12, 0, 1, 0, 1, 0, 0, 0, 1, 0, 4, 1, 2, 3, 4})},
        {"forward pointer", answer({0xC0, 14, 0, 1, 0, 1, 0, 0, 0, 1, 0, 4, 1, 2, 3, 4})},
        {"looping pointers", answer({1, 'a', 0xC0, 12, 0, 12, 0, 1, 0, 0, 0, 1, 0, 2, 0xC0, 12})},
        {"label length 0x40", answer({0x40, 'a', 0, 0, 1, 0, 1, 0, 0, 0, 1, 0, 4, 1, 2, 3, 4})},
        {"label length 0x80", answer({0x80, 'a', 0, 0, 1, 0, 1, 0, 0, 0, 1, 0, 4, 1, 2, 3, 4})},
        {"name over 255 bytes", longName},
        {"rdlength past the end", answer({0, 0, 16, 0, 1, 0, 0, 0, 1, 0, 9, 1, 'a'})},
        {"A with rdlength 5", answer({0, 0, 1, 0, 1, 0, 0, 0, 1, 0, 5, 1, 2, 3, 4, 5})},
        {"PTR name past its rdlength", answer({0, 0, 12, 0, 1, 0, 0, 0, 1, 0, 2, 1, 'a', 0})},
        {"counts beyond the data", Raw({0, 0, 0x84, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 1, 0, 1})},
    };
    for (const auto& c : cases) {
        Message m;
        EXPECT_FALSE(ParseMessage(c.bytes.data(), c.bytes.size(), m)) << c.what;
    }
    // An unknown type is skipped, the rest kept.
    std::vector<uint8_t> unknown = header;
    unknown[7] = 2;
    unknown.insert(unknown.end(),
                   {0, 0, 99, 0, 1, 0, 0, 0, 1, 0, 2, 7, 7, 0, 0, 1, 0, 1, 0, 0, 0, 1, 0, 4, 1, 2, 3, 4});
    Message m;
    ASSERT_TRUE(ParseMessage(unknown.data(), unknown.size(), m));
    ASSERT_EQ(m.answers.size(), 1u);
    EXPECT_EQ(m.answers[0].type, kTypeA);
}

TEST(DnsMessage, CorpusPacketsCutOrCorruptedAreRefusedOrRoundTrip)
{
    const auto corpus = Corpus();
    ASSERT_GE(corpus.size(), 4u) << DNSSD_CORPUS_DIR;
    for (const auto& packet : corpus) {
        Message whole;
        ASSERT_TRUE(ParseMessage(packet.data(), packet.size(), whole));
        EXPECT_TRUE(dnssd_fuzz::RoundTripHolds(packet.data(), packet.size()));
        for (size_t cut = 0; cut < packet.size(); ++cut) {
            Message m;
            EXPECT_FALSE(ParseMessage(packet.data(), cut, m)) << "cut at " << cut;
        }
        for (size_t i = 0; i < packet.size(); ++i) {
            for (uint8_t flip : {0x01, 0x40, 0xFF}) {
                std::vector<uint8_t> bad = packet;
                bad[i] ^= flip;
                EXPECT_TRUE(dnssd_fuzz::RoundTripHolds(bad.data(), bad.size())) << "byte " << i;
            }
        }
    }
}

TEST(DnsMessage, NamesTextAndLabels)
{
    const struct
    {
        const char* text;
        bool ok;
        const char* back;
    } cases[] = {
        {"_rtsp._tcp.local", true, "_rtsp._tcp.local."},
        {"a\\.b\\\\c.local.", true, "a\\.b\\\\c.local."},
        {"tab\\009x.local.", true, "tab\\009x.local."},
        {"a..b", false, ""},
        {"bad\\3", false, ""},
        {"", false, ""},
        {"\\999.local", false, ""},
    };
    for (const auto& c : cases) {
        Name n;
        EXPECT_EQ(NameFromText(c.text, n), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(NameToText(n), c.back);
        }
    }
    Name label64;
    EXPECT_FALSE(NameFromText((std::string(64, 'a') + ".local").c_str(), label64));
}
