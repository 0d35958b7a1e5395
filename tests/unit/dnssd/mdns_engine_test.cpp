// The multicast-DNS engine with an injected clock: query back-off, cache refresh and expiry,
// goodbyes, the address look-up time-out, probing, renaming, announcing and answering.
#include "dnssd/core/mdns_engine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace mdns;

namespace {

const uint32_t kIf = 3;
const uint32_t kOwn = 0x0A4D0001;  // 10.77.0.1
const uint32_t kPeer = 0x0A4D0002; // 10.77.0.2

struct Sent
{
    uint64_t at;
    uint32_t address;
    uint16_t port;
    Message message;
    uint32_t ifIndex;
};

struct Got
{
    void* owner;
    Reply reply;
};

class Fixture : public Environment, public Listener, public ::testing::Test
{
protected:
    Fixture() : engine(*this, *this)
    {
        engine.SetHostLabel("GW");
        Vector<Interface> list(1);
        list[0].index = kIf;
        list[0].address = kOwn;
        list[0].mask = 0xFFFFFF00;
        engine.SetInterfaces(list);
    }

    uint64_t Now() override { return now; }
    uint32_t Random(uint32_t) override { return 0; }
    void Send(uint32_t ifIndex, const uint8_t* data, size_t size, uint32_t address, uint16_t port) override
    {
        Sent s{now, address, port, Message(), ifIndex};
        EXPECT_TRUE(ParseMessage(data, size, s.message));
        sent.push_back(s);
    }
    void Log(const char* line) override { logged.push_back(line); }
    void OnReply(void* owner, const Reply& reply) override { got.push_back(Got{owner, reply}); }

    // Runs the engine until `until`, at each time it asks for.
    void RunTo(uint64_t until)
    {
        for (;;) {
            uint64_t next = engine.Run();
            if (next > until) {
                break;
            }
            now = next > now ? next : now + 1;
        }
        now = until;
        engine.Run();
    }

    void Feed(const Message& m, uint32_t source = kPeer, uint16_t port = kMdnsPort, uint32_t ifIndex = kIf)
    {
        Bytes wire;
        ASSERT_TRUE(BuildMessage(m, wire));
        engine.Receive(ifIndex, wire.data(), wire.size(), source, port);
    }

    static Record Make(const char* name, uint16_t type, uint32_t ttl, const char* target = "",
                       uint16_t port = 0)
    {
        Record r;
        NameFromText(name, r.name);
        r.type = type;
        r.ttl = ttl;
        if (type == kTypePTR || type == kTypeSRV) {
            NameFromText(target, r.target);
        }
        r.port = port;
        r.cacheFlush = type != kTypePTR;
        if (type == kTypeTXT) {
            r.data.assign(1, 0);
        }
        if (type == kTypeA) {
            r.data = {10, 77, 0, 2};
        }
        return r;
    }

    static Message Response(std::initializer_list<Record> records)
    {
        Message m;
        m.flags = kFlagResponse | kFlagAuthoritative;
        for (const Record& r : records) {
            m.answers.push_back(r);
        }
        return m;
    }

    // Registers "GW" under _http._tcp, lets it be announced, and gives a query for its PTR.
    Message AnnouncedHttpService()
    {
        EXPECT_EQ(engine.Register(&owner, 0, 0, "", "_http._tcp", "", "", 80, nullptr, 0), kErrNoError);
        RunTo(now + 3000);
        Message query;
        Question q;
        NameFromText("_http._tcp.local", q.name);
        q.type = kTypePTR;
        query.questions.push_back(q);
        return query;
    }

    std::vector<uint64_t> QueryTimes(uint16_t type)
    {
        std::vector<uint64_t> times;
        for (const Sent& s : sent) {
            if (!(s.message.flags & kFlagResponse) && !s.message.questions.empty() &&
                s.message.questions[0].type == type) {
                times.push_back(s.at);
            }
        }
        return times;
    }

    uint64_t now = 1000000;
    std::vector<Sent> sent;
    std::vector<std::string> logged;
    std::vector<Got> got;
    Engine engine;
    int owner = 0;
};

} // namespace

TEST_F(Fixture, RequestsWithBadParametersAreRefused)
{
    const std::string longName(64, 'n');
    const struct
    {
        int32_t expected;
        int32_t actual;
    } cases[] = {
        {kErrBadParam, engine.Browse(&owner, 0, "_rtsp", "")},
        {kErrBadParam, engine.Browse(&owner, 0, "rtsp._tcp", "")},
        {kErrBadParam, engine.Browse(&owner, 0, "_rtsp._sctp", "")},
        {kErrBadParam, engine.Browse(&owner, 0, "_rtsp._tcp", "example.com")},
        {kErrBadInterfaceIndex, engine.Browse(&owner, 65535, "_rtsp._tcp", "")},
        {kErrBadParam, engine.Resolve(&owner, 0, longName.c_str(), "_rtsp._tcp", "local.")},
        {kErrBadParam, engine.Register(&owner, 0, 0, longName.c_str(), "_rtsp._tcp", "", "", 1, nullptr, 0)},
        {kErrBadParam, engine.Register(&owner, 0, 0, "n", "_rtsp._tcp,", "", "", 1, nullptr, 0)},
        {kErrBadInterfaceIndex, engine.Register(&owner, 0, 65535, "n", "_rtsp._tcp", "", "", 1, nullptr, 0)},
        {kErrNoError, engine.Browse(&owner, kIf, "_rtsp._tcp.,_corvane_session", "local.")},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        EXPECT_EQ(cases[i].actual, cases[i].expected) << "case " << i;
    }
}

TEST_F(Fixture, QueriesBackOffFromOneSecondToAnHour)
{
    ASSERT_EQ(engine.Browse(&owner, 0, "_rtsp._tcp,_corvane_session", ""), kErrNoError);
    RunTo(now + 3 * 3600 * 1000);
    std::vector<uint64_t> times = QueryTimes(kTypePTR);
    ASSERT_GE(times.size(), 14u);
    EXPECT_EQ(times[0], 1000020u);
    for (size_t i = 1; i < times.size(); ++i) {
        const uint64_t expected = i <= 12 ? (1000ull << (i - 1)) : 3600000ull;
        EXPECT_EQ(times[i] - times[i - 1], expected) << "query " << i;
    }
    EXPECT_EQ(NameToText(sent[0].message.questions[0].name), "_corvane_session._sub._rtsp._tcp.local.");
}

TEST_F(Fixture, CacheRefreshesAt80To95PercentThenExpires)
{
    ASSERT_EQ(engine.Browse(&owner, 0, "_rtsp._tcp", ""), kErrNoError);
    RunTo(now + 100);
    const uint64_t start = now;
    Feed(Response({Make("_rtsp._tcp.local", kTypePTR, 100, "X._rtsp._tcp.local")}));
    sent.clear();
    RunTo(start + 100 * 1000 + 10);
    std::vector<uint64_t> refreshes;
    for (uint64_t t : QueryTimes(kTypePTR)) {
        if (t - start >= 64000) {
            refreshes.push_back(t - start);
        }
    }
    EXPECT_EQ(refreshes, (std::vector<uint64_t>{80000, 85000, 90000, 95000}));
    // A known answer while more than half its TTL is left, none after.
    EXPECT_EQ(sent[0].message.answers.size(), 1u);
    EXPECT_EQ(sent.back().message.answers.size(), 0u);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].reply.flags, uint32_t(kReplyAdd));
    EXPECT_EQ(got[0].reply.name, "X");
    EXPECT_EQ(got[0].reply.type, "_rtsp._tcp.");
    EXPECT_EQ(got[0].reply.domain, "local.");
    EXPECT_EQ(got[0].reply.ifIndex, kIf);
    EXPECT_EQ(got[1].reply.flags, 0u);
    EXPECT_EQ(engine.CacheSize(), 1u); // only our own address record is left
}

TEST_F(Fixture, GoodbyeAndCacheFlushRemoveOneSecondLater)
{
    ASSERT_EQ(engine.Browse(&owner, 0, "_rtsp._tcp", ""), kErrNoError);
    ASSERT_EQ(engine.Resolve(&owner, 0, "X", "_rtsp._tcp", "local"), kErrNoError);
    RunTo(now + 200);
    Feed(Response({Make("_rtsp._tcp.local", kTypePTR, 4500, "X._rtsp._tcp.local"),
                   Make("X._rtsp._tcp.local", kTypeSRV, 120, "peer.local", 8554),
                   Make("X._rtsp._tcp.local", kTypeTXT, 4500)}));
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].reply.name, "X._rtsp._tcp.local.");
    EXPECT_EQ(got[1].reply.type, "peer.local.");
    EXPECT_EQ(got[1].reply.port, 8554);
    RunTo(now + 5000);
    // A new SRV with cache-flush: the old one goes 1 s later, the resolve reports the new one.
    Feed(Response({Make("X._rtsp._tcp.local", kTypeSRV, 120, "peer.local", 9000)}));
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[2].reply.port, 9000);
    // A second host has the PTR too: the first one's goodbye leaves it, the second's removes it.
    const uint32_t second = kPeer + 1;
    Feed(Response({Make("_rtsp._tcp.local", kTypePTR, 4500, "X._rtsp._tcp.local")}), second);
    Record goodbye = Make("_rtsp._tcp.local", kTypePTR, 0, "X._rtsp._tcp.local");
    Feed(Response({goodbye}));
    RunTo(now + 2000);
    EXPECT_EQ(got.size(), 3u);
    Feed(Response({goodbye}), second);
    const uint64_t at = now;
    RunTo(at + 999);
    EXPECT_EQ(got.size(), 3u);
    RunTo(at + 1000);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[3].reply.flags, 0u);
    EXPECT_EQ(got[3].reply.name, "X");
}

// An instance name with a NUL byte cannot reach a client whole (the client interface passes C
// strings): such a browse answer is not passed on, with one log line that shows the name escaped.
TEST_F(Fixture, ABrowseAnswerWhoseInstanceNameHoldsANulIsNotPassedOn)
{
    ASSERT_EQ(engine.Browse(&owner, 0, "_rtsp._tcp", ""), kErrNoError);
    RunTo(now + 200);
    const Record cut = Make("_rtsp._tcp.local", kTypePTR, 4500, "ab\\000cd._rtsp._tcp.local");
    ASSERT_EQ(NameLabel(cut.target, 0), String("ab\0cd", 5));
    Feed(Response({cut, Make("_rtsp._tcp.local", kTypePTR, 4500, "ab._rtsp._tcp.local")}));
    RunTo(now + 1000);
    Feed(Response({cut})); // a repeat changes nothing
    RunTo(now + 1000);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].reply.name, "ab");
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0],
              "mDNS: browse answer ab\\000cd._rtsp._tcp.local. not passed on: its instance name holds "
              "a NUL byte");
    // Its goodbye is not passed on either.
    Record goodbye = cut;
    goodbye.ttl = 0;
    Feed(Response({goodbye}));
    RunTo(now + 2000);
    EXPECT_EQ(got.size(), 1u);
    EXPECT_EQ(logged.size(), 1u);
}

// Resolving a known instance again (as a client does to follow a sender that may have moved) is
// answered from the cache and asks the network nothing while the unique answers are fresh; a shared
// record, or one past half its TTL, is asked for as before.
TEST_F(Fixture, AResolveOrLookUpAnsweredFreshFromTheCacheAsksNothing)
{
    int resolver = 0;
    int other = 0;
    // Questions of a type in everything sent (one datagram may ask several).
    auto asked = [this](uint16_t type) {
        size_t count = 0;
        for (const Sent& s : sent) {
            for (size_t i = 0; !(s.message.flags & kFlagResponse) && i < s.message.questions.size(); ++i) {
                count += s.message.questions[i].type == type ? 1 : 0;
            }
        }
        return count;
    };
    ASSERT_EQ(engine.Browse(&owner, 0, "_rtsp._tcp", ""), kErrNoError);
    RunTo(now + 200);
    Feed(Response({Make("_rtsp._tcp.local", kTypePTR, 4500, "X._rtsp._tcp.local"),
                   Make("X._rtsp._tcp.local", kTypeSRV, 120, "peer.local", 8554),
                   Make("X._rtsp._tcp.local", kTypeTXT, 4500), Make("peer.local", kTypeA, 120)}));
    sent.clear();
    got.clear();
    ASSERT_EQ(engine.Resolve(&resolver, 0, "X", "_rtsp._tcp", "local"), kErrNoError);
    ASSERT_EQ(engine.LookUpAddress(&resolver, kRequestTimeout, 0, 1, "peer.local"), kErrNoError);
    RunTo(now + 900);
    engine.Cancel(&resolver);
    EXPECT_EQ(asked(kTypeSRV), 0u);
    EXPECT_EQ(asked(kTypeA), 0u);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].reply.port, 8554);
    EXPECT_EQ(got[1].reply.address, kPeer);

    // Past half the SRV's and the A record's TTL, or for a shared record, the question goes out.
    RunTo(now + 61000);
    sent.clear();
    ASSERT_EQ(engine.Resolve(&other, 0, "X", "_rtsp._tcp", "local"), kErrNoError);
    ASSERT_EQ(engine.LookUpAddress(&other, kRequestTimeout, 0, 1, "peer.local"), kErrNoError);
    ASSERT_EQ(engine.Browse(&other, 0, "_rtsp._tcp", ""), kErrNoError);
    RunTo(now + 900);
    EXPECT_EQ(asked(kTypeSRV), 1u);
    EXPECT_EQ(asked(kTypeA), 1u);
    EXPECT_EQ(asked(kTypePTR), 1u);
}

TEST_F(Fixture, AddressLookUpTimesOutOnceAfterFiveSeconds)
{
    ASSERT_EQ(engine.LookUpAddress(&owner, kRequestTimeout, 0, 1, "nobody.local."), kErrNoError);
    RunTo(now + 4999);
    EXPECT_TRUE(got.empty());
    RunTo(now + 60000);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].reply.error, kErrTimeout);
    // Our own host name is known at once.
    ASSERT_EQ(engine.LookUpAddress(&owner, kRequestTimeout, kIf, 1, "gw.local"), kErrNoError);
    RunTo(now + 10);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].reply.address, kOwn);
    EXPECT_EQ(got[1].reply.ifIndex, kIf);
}

TEST_F(Fixture, ProbesAnnouncesRenamesOnConflictAndIgnoresItsOwnEcho)
{
    int browser = 0;
    ASSERT_EQ(engine.Register(&owner, 0, 0, "Gateway", "_rtsp._tcp,_corvane", "", "", 8080, nullptr, 0),
              kErrNoError);
    ASSERT_EQ(engine.Browse(&browser, 0, "_rtsp._tcp,_corvane", ""), kErrNoError);
    RunTo(now + 300);
    // Two probes so far (at 0 and 250 ms); our own echo is no conflict.
    std::vector<Sent> probes;
    for (const Sent& s : sent) {
        if (!s.message.authorities.empty()) {
            probes.push_back(s);
        }
    }
    ASSERT_EQ(probes.size(), 2u);
    EXPECT_TRUE(probes[0].message.questions[0].unicastResponse);
    EXPECT_FALSE(probes[1].message.questions[0].unicastResponse);
    Feed(probes[0].message, kOwn);
    // Another host answers for the name: rename and probe again.
    Feed(Response({Make("Gateway._rtsp._tcp.local", kTypeSRV, 120, "other.local", 1)}));
    sent.clear();
    RunTo(now + 3000);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].owner, &owner);
    EXPECT_EQ(got[0].reply.name, "Gateway (2)");
    EXPECT_EQ(got[0].reply.type, "_rtsp._tcp.");
    EXPECT_EQ(got[1].owner, &browser); // local registrations are seen by local browses
    EXPECT_EQ(got[1].reply.name, "Gateway (2)");
    std::vector<uint64_t> times;
    std::vector<Sent> own;
    for (const Sent& s : sent) {
        if (!s.message.authorities.empty() || (s.message.flags & kFlagResponse)) {
            times.push_back(s.at - sent[0].at);
            own.push_back(s);
        }
    }
    // Three probes 250 ms apart, then two announcements 1 s apart.
    EXPECT_EQ(times, (std::vector<uint64_t>{0, 250, 500, 750, 1750}));
    ASSERT_EQ(own.size(), 5u);
    EXPECT_EQ(own[3].message.answers.size(), 5u); // PTR, subtype PTR, enumeration PTR, SRV, TXT
    EXPECT_EQ(own[3].message.additionals.size(), 1u);

    // Goodbyes on cancel, TTL 0.
    sent.clear();
    engine.Cancel(&owner);
    ASSERT_EQ(sent.size(), 1u);
    for (const Record& r : sent[0].message.answers) {
        EXPECT_EQ(r.ttl, 0u);
    }
}

TEST_F(Fixture, ConflictWithoutAutoRenameReportsIt)
{
    ASSERT_EQ(
        engine.Register(&owner, kRequestNoAutoRename, 0, "Gateway", "_rtsp._tcp", "", "", 80, nullptr, 0),
        kErrNoError);
    RunTo(now + 100);
    Feed(Response({Make("gateway._RTSP._tcp.local", kTypeTXT, 120)}));
    RunTo(now + 3000);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].reply.error, kErrNameConflict);
}

TEST_F(Fixture, AnswersWithSuppressionUnicastAndLegacyReplies)
{
    Message query = AnnouncedHttpService();
    const struct
    {
        bool unicast;
        bool known;
        uint16_t port;
        size_t replies;
        uint32_t address;
        uint32_t ttl;
    } cases[] = {
        {false, false, kMdnsPort, 1, kMdnsGroup, 4500},
        {false, true, kMdnsPort, 0, 0, 0},
        {true, false, kMdnsPort, 1, kPeer, 4500},
        {false, false, 40000, 1, kPeer + 5, 10}, // another host: kPeer had this record a moment ago
    };
    for (const auto& c : cases) {
        sent.clear();
        query.questions[0].unicastResponse = c.unicast;
        query.answers.clear();
        if (c.known) {
            query.answers.push_back(Make("_http._tcp.local", kTypePTR, 3000, "GW._http._tcp.local"));
        }
        Feed(query, c.address == kMdnsGroup || c.address == 0 ? kPeer : c.address, c.port);
        RunTo(now + 200);
        ASSERT_EQ(sent.size(), c.replies);
        if (c.replies == 1) {
            EXPECT_EQ(sent[0].address, c.address);
            EXPECT_EQ(sent[0].message.answers[0].ttl, c.ttl);
            EXPECT_EQ(NameToText(sent[0].message.answers[0].target), "GW._http._tcp.local.");
            EXPECT_EQ(sent[0].message.questions.size(), c.port == kMdnsPort ? 0u : 1u);
        }
    }
    // Multicast at most once a second, however often asked; SRV, TXT (one zero byte) and address go
    // along as additional records.
    sent.clear();
    Feed(query);
    RunTo(now + 200);
    EXPECT_TRUE(sent.empty());
    RunTo(now + 1000);
    Feed(query);
    RunTo(now + 200);
    ASSERT_EQ(sent.back().message.additionals.size(), 3u);
    EXPECT_EQ(sent.back().message.additionals[1].data, Bytes(1, 0));
}

TEST_F(Fixture, ResponsesFromOffTheLinkAndMalformedDatagramsAreDroppedWithOneLogLine)
{
    ASSERT_EQ(engine.Browse(&owner, 0, "_rtsp._tcp", ""), kErrNoError);
    RunTo(now + 200);
    Feed(Response({Make("_rtsp._tcp.local", kTypePTR, 4500, "X._rtsp._tcp.local")}), 0x0A4E0002);
    const uint8_t junk[5] = {1, 2, 3, 4, 5};
    for (int i = 0; i < 3; ++i) {
        engine.Receive(kIf, junk, sizeof(junk), kPeer, kMdnsPort);
    }
    RunTo(now + 1000);
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(logged.size(), 2u); // one per source per minute
}

TEST_F(Fixture, ManySendersTakingTurnsGetALineEachForTheFirstSixteenAndOneSummaryAMinute)
{
    const uint8_t junk[5] = {1, 2, 3, 4, 5};
    auto rounds = [&](int count) {
        for (int round = 0; round < count; ++round) {
            for (uint32_t peer = 0; peer < 40; ++peer) {
                engine.Receive(kIf, junk, sizeof(junk), kPeer + peer, kMdnsPort);
            }
        }
    };
    rounds(5);
    ASSERT_EQ(logged.size(), 17u);
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_NE(logged[i].find("from 10.77.0."), std::string::npos) << logged[i];
    }
    EXPECT_EQ(logged[16], "mDNS dropped 1 datagrams from senders beyond the first 16 of a minute");

    logged.clear();
    RunTo(now + 30000);
    rounds(5);
    EXPECT_TRUE(logged.empty()); // within the minute nothing more, however many senders

    RunTo(now + 30000);
    rounds(1);
    ASSERT_EQ(logged.size(), 17u);
    // The refusals held back since the last summary are counted in the next one.
    EXPECT_EQ(logged[16], "mDNS dropped " + std::to_string(24 * 4 + 24 * 5 + 24) +
                              " datagrams from senders beyond the first 16 of a minute");
}

TEST_F(Fixture, EachInterfaceHasItsOwnRecordsRepliesAndAnnouncements)
{
    const uint32_t kOther = 4;
    Vector<Interface> list(2);
    list[0].index = kIf;
    list[0].address = kOwn;
    list[0].mask = 0xFFFFFF00;
    list[1].index = kOther;
    list[1].address = 0xC0A80101; // 192.168.1.1
    list[1].mask = 0xFFFFFF00;
    engine.SetInterfaces(list);
    int onlyFirst = 0, registration = 0;
    ASSERT_EQ(engine.Browse(&owner, 0, "_rtsp._tcp", ""), kErrNoError);
    ASSERT_EQ(engine.Browse(&onlyFirst, kIf, "_rtsp._tcp", ""), kErrNoError);
    RunTo(now + 200);
    Feed(Response({Make("_rtsp._tcp.local", kTypePTR, 4500, "X._rtsp._tcp.local")}), 0xC0A80102, kMdnsPort,
         kOther);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].owner, &owner);
    EXPECT_EQ(got[0].reply.ifIndex, kOther);
    // A registration on one interface is probed, announced and answered there only.
    got.clear();
    sent.clear();
    ASSERT_EQ(engine.Register(&registration, 0, kIf, "Gw", "_http._tcp", "", "", 80, nullptr, 0),
              kErrNoError);
    RunTo(now + 3000);
    for (const Sent& s : sent) {
        if (!s.message.authorities.empty() || (s.message.flags & kFlagResponse)) {
            EXPECT_EQ(s.ifIndex, kIf);
        }
    }
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].owner, &registration);
}

TEST_F(Fixture, CacheFlushIsIgnoredOnSharedRecordsAndSparesRecordsJustReceived)
{
    ASSERT_EQ(engine.Browse(&owner, 0, "_rtsp._tcp", ""), kErrNoError);
    RunTo(now + 200);
    Feed(Response({Make("_rtsp._tcp.local", kTypePTR, 4500, "A._rtsp._tcp.local"),
                   Make("_rtsp._tcp.local", kTypePTR, 4500, "B._rtsp._tcp.local")}));
    RunTo(now + 5000);
    const struct
    {
        const char* what;
        Record record;
        uint32_t source;
        uint64_t after; // ms since the records it might flush were received
        size_t removed; // browse replies that remove an instance
    } cases[] = {
        {"a forged PTR with the bit set, another host",
         Make("_rtsp._tcp.local", kTypePTR, 4500, "F._rtsp._tcp.local"), kPeer + 1, 5000, 0},
        {"the same PTR from the first host", Make("_rtsp._tcp.local", kTypePTR, 4500, "A._rtsp._tcp.local"),
         kPeer, 5000, 0},
    };
    for (const auto& c : cases) {
        Record forged = c.record;
        forged.cacheFlush = true;
        const size_t before = got.size();
        Feed(Response({forged}), c.source);
        RunTo(now + 3000);
        size_t removed = 0;
        for (size_t i = before; i < got.size(); ++i) {
            removed += got[i].reply.flags == 0 ? 1 : 0;
        }
        EXPECT_EQ(removed, c.removed) << c.what;
    }
    // Unique records: the bit flushes those of the same name and type received over 1 s earlier.
    const struct
    {
        uint64_t gap;
        size_t kept; // SRV records of X in the cache afterwards
    } unique[] = {{500, 2}, {1001, 1}};
    for (const auto& u : unique) {
        Feed(Response({Make("X._rtsp._tcp.local", kTypeSRV, 120, "peer.local", 1)}));
        Feed(Response({Make("Y._rtsp._tcp.local", kTypeSRV, 120, "peer.local", 1)}));
        RunTo(now + u.gap);
        const size_t cached = engine.CacheSize();
        Feed(Response({Make("X._rtsp._tcp.local", kTypeSRV, 120, "peer.local", 2)}));
        RunTo(now + 1500);
        EXPECT_EQ(engine.CacheSize(), cached + 1 - (2 - u.kept)) << "gap " << u.gap;
        Record bye1 = Make("X._rtsp._tcp.local", kTypeSRV, 0, "peer.local", 1);
        Record bye2 = Make("X._rtsp._tcp.local", kTypeSRV, 0, "peer.local", 2);
        Feed(Response({bye1, bye2}));
        RunTo(now + 1500);
    }
}

TEST_F(Fixture, UnicastAnswersGoOnlyToTheSubnetAndOncePerSecondPerAddress)
{
    Message query = AnnouncedHttpService();
    query.questions[0].unicastResponse = true;
    const uint32_t offLink = 0x0A630002; // 10.99.0.2
    const struct
    {
        const char* what;
        uint32_t source;
        uint16_t port;
        uint64_t wait; // ms before the query
        size_t replies;
    } cases[] = {
        {"on the subnet", kPeer, kMdnsPort, 0, 1},
        {"the same address again at once", kPeer, kMdnsPort, 100, 0},
        {"the same address from another port", kPeer, 40000, 100, 0},
        {"another address on the subnet", kPeer + 1, 40000, 0, 1},
        {"the first address a second later", kPeer, 40000, 1000, 1},
        {"off the subnet", offLink, kMdnsPort, 1000, 0},
        {"off the subnet, legacy port", offLink, 40000, 1000, 0},
    };
    for (const auto& c : cases) {
        RunTo(now + c.wait);
        sent.clear();
        Feed(query, c.source, c.port);
        RunTo(now + 200);
        EXPECT_EQ(sent.size(), c.replies) << c.what;
        for (const Sent& s : sent) {
            EXPECT_EQ(s.address, c.source) << c.what;
        }
    }
    // Off-link queries: one log line for the source.
    size_t lines = 0;
    for (const std::string& line : logged) {
        lines += line.find("unicast answers from off the link") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(lines, 1u);
}

TEST_F(Fixture, ProbeWarBacksOffFiveSecondsAfterFifteenConflictsInTenSeconds)
{
    ASSERT_EQ(engine.Register(&owner, 0, 0, "War", "_rtsp._tcp", "", "", 80, nullptr, 0), kErrNoError);
    // A peer that claims every name we probe for, at once, for a minute.
    std::vector<uint64_t> conflicts;
    size_t seen = 0;
    const uint64_t end = now + 60000;
    while (now < end) {
        const uint64_t next = engine.Run();
        for (; seen < sent.size(); ++seen) {
            if (!sent[seen].message.authorities.empty()) {
                const String name = NameToText(sent[seen].message.questions[0].name);
                Feed(Response({Make(name.c_str(), kTypeSRV, 120, "other.local", 1)}));
                conflicts.push_back(now);
            }
        }
        now = next > now ? (next < end ? next : end) : now + 1;
    }
    ASSERT_GE(conflicts.size(), 16u);
    for (size_t i = 1; i < conflicts.size(); ++i) {
        if (i < 15) {
            EXPECT_LT(conflicts[i] - conflicts[i - 1], 1000u) << "conflict " << i;
        } else {
            EXPECT_GE(conflicts[i] - conflicts[i - 1], 5000u) << "conflict " << i;
        }
    }
    EXPECT_LE(conflicts.size(), 15u + 12u);
    size_t backOffLines = 0;
    for (const std::string& line : logged) {
        backOffLines += line.find("each further probe waits 5 s") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(backOffLines, 1u);
    // Ten quiet seconds end the back-off: the next conflict is probed again at once.
    RunTo(now + 11000);
    const String label = got.back().reply.name;
    Feed(Response({Make((label + "._rtsp._tcp.local").c_str(), kTypeSRV, 120, "other.local", 1)}));
    const uint64_t conflict = now;
    sent.clear();
    RunTo(now + 1000);
    ASSERT_FALSE(sent.empty());
    EXPECT_LT(sent[0].at - conflict, 250u);
}

TEST_F(Fixture, RenamesCutLongUtf8NamesOnACharacterAndLogControlCharactersEscaped)
{
    const String umlaut = "\xC3\xBC"; // ü
    const struct
    {
        String name;
        String renamed;
    } cases[] = {
        {String(58, 'a') + umlaut + "bb", String(58, 'a') + " (2)"},
        {String(57, 'a') + umlaut + "bbb", String(57, 'a') + umlaut + " (2)"},
        {String(63, 'a'), String(59, 'a') + " (2)"},
        {"\xFC" + String(62, 'a'), "\xFC" + String(58, 'a') + " (2)"}, // not UTF-8: cut at the limit
        {"Bad\r\nName\t1", "Bad\r\nName\t1 (2)"},
    };
    int owners[sizeof(cases) / sizeof(cases[0])] = {};
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        got.clear();
        logged.clear();
        ASSERT_EQ(
            engine.Register(&owners[i], 0, 0, cases[i].name.c_str(), "_rtsp._tcp", "", "", 80, nullptr, 0),
            kErrNoError);
        RunTo(now + 100);
        Name instance;
        NamePrepend(cases[i].name, Name("\x05_rtsp\x04_tcp\x05local", 18), instance);
        Record srv = Make("x.local", kTypeSRV, 120, "other.local", 1);
        srv.name = instance;
        Feed(Response({srv}));
        RunTo(now + 3000);
        ASSERT_FALSE(got.empty()) << i;
        EXPECT_EQ(got[0].reply.name, cases[i].renamed) << i;
        ASSERT_FALSE(logged.empty()) << i;
        EXPECT_EQ(logged[0].find_first_of("\r\n\t"), std::string::npos) << logged[0];
    }
    // Shown as every log line shows control characters.
    EXPECT_NE(logged[0].find("\"Bad\\r\\nName\\t1 (2)\" (was \"Bad\\r\\nName\\t1\")"), std::string::npos)
        << logged[0];
}
