// The stream table and the streams' SAP steps on a manager that was never started, with an
// injected millisecond clock: SAP reception, announcing and deletion, life of heard streams,
// refusals of the SAP and DNS-SD wishes, the duplicate-stream check and the deletion of streams.
#include "afx/afxplatform.h"
#include "discovery/StreamInfo.h"
#include "gateway/SapPacket.h"
#include "gateway/VelmoraManager.h"
#include "gateway/VelmoraStream.h"
#include "test_support.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <atomic>
#include <memory>
#include <thread>
#include <string>
#include <vector>

namespace {

DWORD g_RawClock = 5000;
DWORD WINAPI TestClock()
{
    return g_RawClock;
}

std::string Sdp(const char* name, int session = 4242, int version = 1,
                const char* connection = "239.1.1.1/32")
{
    return std::string("v=0\r\no=peer ") + std::to_string(session) + " " + std::to_string(version) +
           " IN IP4 10.0.0.2\r\ns=" + name + "\r\nc=IN IP4 " + connection +
           "\r\nt=0 0\r\nm=audio 5004 RTP/AVP 98\r\n";
}

std::vector<BYTE> Announcement(const std::string& sdp, bool deletion = false)
{
    std::vector<BYTE> packet = BuildSapPacket(CMfxString(sdp.c_str()), FALSE, L"10.0.0.1", &rand);
    if (deletion) {
        packet[0] |= kSapFlagDeletion;
    }
    return packet;
}

class StreamTableTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // An owner that is never shown: pane lines queue up in the manager, where the tests read them.
        m_Manager.reset(new CVelmoraManager(reinterpret_cast<CVelmoraDlg*>(&m_FakeOwner)));
        m_Manager->SetMilliSecSource(&TestClock);
        // Packets go to this list instead of the network.
        m_Manager->m_SendSAP = [this](const std::vector<BYTE>& packet) {
            m_Sent.push_back(packet);
            return m_SendWorks;
        };
        Advance(10);
        srand(7);
    }

    void Advance(DWORD milliseconds) { g_RawClock += milliseconds; }
    ULONGLONG Now() { return m_Manager->GetMilliSec(); }
    void Tick() { m_Manager->OnTimer(); }

    void Receive(const std::vector<BYTE>& datagram)
    {
        std::vector<BYTE> copy = datagram;
        m_Manager->OnSAPPacket(static_cast<int>(copy.size()), copy.data());
    }

    // The pane lines written since the last call, without their time stamps.
    std::vector<std::string> TakeLines(std::vector<COLORREF>* colours = nullptr)
    {
        std::vector<std::string> lines;
        for (const CLogTextEntry& entry : m_Manager->m_LogLines) {
            lines.push_back(Narrow(CMfxString(entry.m_Text.Mid(24))));
            if (colours != nullptr) {
                colours->push_back(entry.m_Colour);
            }
        }
        m_Manager->m_LogLines.clear();
        return lines;
    }

    size_t Count(const std::vector<std::string>& lines, const std::string& line)
    {
        size_t count = 0;
        for (const std::string& l : lines) {
            count += l == line ? 1 : 0;
        }
        return count;
    }

    CVelmoraStream* Stream(size_t index) { return m_Manager->m_Streams.at(index); }

    CVelmoraStream* AddSdpStream(const std::string& sdp)
    {
        m_Manager->AddSDPStream(CMfxString(sdp.c_str()));
        return m_Manager->m_Streams.back();
    }

    CVelmoraStream* AddFoundStream(const char* name, const char* origin, const char* connection)
    {
        m_Records.push_back(Corvane::CStreamInfoRef::Adopt(
            new Corvane::CStreamInfo(nullptr, Corvane::CStreamInfo::kSourceDiscovery)));
        m_Records.back()->SetName(name);
        m_Manager->AddBonjourStream(m_Records.back().get());
        CVelmoraStream* stream = m_Manager->m_Streams.back();
        stream->SetOriginLine(origin);
        stream->SetConnectionAddress(connection);
        return stream;
    }

    int m_FakeOwner = 0;
    std::vector<std::vector<BYTE>> m_Sent;
    bool m_SendWorks = true;
    std::unique_ptr<CVelmoraManager> m_Manager;
    std::vector<Corvane::CStreamInfoRef> m_Records;
};

} // namespace

TEST_F(StreamTableTest, AnnouncesAtOnceThenEvery20To40SecondsAndWithdrawsOnce)
{
    CVelmoraStream* stream = AddSdpStream(Sdp("Studio"));
    Tick(); // the SDP values
    TakeLines();
    ASSERT_TRUE(m_Manager->SetSAPAdvertising(stream, TRUE, TRUE));

    Tick();
    std::vector<std::string> lines = TakeLines();
    const std::vector<BYTE> packet = stream->m_SAPPacket;
    ASSERT_FALSE(packet.empty());
    EXPECT_EQ(lines, (std::vector<std::string>{"Create SAP announce for: Studio, size is " +
                                                   std::to_string(packet.size()),
                                               "Send SAP announce for: Studio"}));
    EXPECT_EQ(packet[0], 0x20);
    EXPECT_EQ(stream->m_SAPActive, 1);

    for (int round = 0; round < 200; ++round) {
        const ULONGLONG sent = Now();
        const ULONGLONG next = stream->m_NextSAPSend;
        ASSERT_GE(next - sent, 20000u);
        ASSERT_LE(next - sent, 40000u);
        // Not at the scheduled time itself, only after it.
        Advance(static_cast<DWORD>(next - sent));
        Tick();
        ASSERT_TRUE(TakeLines().empty());
        Advance(1);
        Tick();
        ASSERT_EQ(TakeLines(), std::vector<std::string>{"Send SAP announce for: Studio"});
    }
    EXPECT_EQ(stream->m_SAPPacket, packet); // built once

    ASSERT_TRUE(m_Manager->SetSAPAdvertising(stream, FALSE, TRUE));
    for (int i = 0; i < 5; ++i) {
        Advance(30000);
        Tick();
    }
    EXPECT_EQ(TakeLines(), std::vector<std::string>{"Send SAP delete for: Studio"});
    EXPECT_EQ(stream->m_SAPActive, 0);
    EXPECT_TRUE(stream->m_SAPPacket.empty());

    // On again: a new packet, announced at once.
    ASSERT_TRUE(m_Manager->SetSAPAdvertising(stream, TRUE, TRUE));
    Tick();
    EXPECT_EQ(TakeLines().size(), 2u);
    EXPECT_EQ(stream->m_SAPPacket, packet);
}

TEST_F(StreamTableTest, NoDeletionIsMadeOfAnEmptyPacket)
{
    CVelmoraStream* stream = AddSdpStream(Sdp("Studio"));
    stream->m_SAPActive = 1; // active without a packet
    Tick();
    EXPECT_EQ(stream->m_SAPActive, 0);
    for (const std::string& line : TakeLines()) {
        EXPECT_EQ(line.find("Send SAP"), std::string::npos) << line;
    }
}

TEST_F(StreamTableTest, HeardStreamLivesUntil300SecondsAfterItsLastAnnouncement)
{
    Receive(Announcement(Sdp("Heard")));
    ASSERT_EQ(m_Manager->m_Streams.size(), 1u);
    CVelmoraStream* stream = Stream(0);
    EXPECT_EQ(stream->m_Kind, CVelmoraStream::kKindSAP);
    EXPECT_EQ(Narrow(stream->GetOriginLine()), "peer 4242 1 IN IP4 10.0.0.2");

    BOOL changed = FALSE;
    Advance(299998);
    stream->OnTimer(changed); // reports the SDP age
    Advance(1);
    EXPECT_TRUE(stream->IsAlive());
    changed = FALSE;
    stream->OnTimer(changed);
    EXPECT_FALSE(changed);
    Advance(1);
    EXPECT_FALSE(stream->IsAlive());
    stream->OnTimer(changed);
    EXPECT_TRUE(changed) << "the lists must drop a stream that fell silent";
    Tick();
    ASSERT_EQ(m_Manager->m_Streams.size(), 1u); // not alive, still in the table

    Receive(Announcement(Sdp("Heard")));
    ASSERT_EQ(m_Manager->m_Streams.size(), 1u);
    EXPECT_TRUE(stream->IsAlive());
    changed = FALSE;
    stream->OnTimer(changed);
    EXPECT_TRUE(changed) << "the lists must show a stream heard again";
    Advance(299999);
    EXPECT_TRUE(stream->IsAlive());
}

TEST_F(StreamTableTest, ReceptionAddsRefreshesWithdrawsAndRejects)
{
    // New, repeated, a new version of the session.
    Receive(Announcement(Sdp("One")));
    Receive(Announcement(Sdp("One")));
    Receive(Announcement(Sdp("One", 4242, 2)));
    EXPECT_EQ(TakeLines(),
              (std::vector<std::string>{"Received SAP announce for: One", "Received SAP announce for: One",
                                        "Received SAP announce for: One"}));
    ASSERT_EQ(m_Manager->m_Streams.size(), 2u);

    // A deletion of an unknown session adds nothing.
    Receive(Announcement(Sdp("Other", 99), true));
    EXPECT_EQ(TakeLines(), std::vector<std::string>{"Received SAP delete for: Other"});
    EXPECT_EQ(m_Manager->m_Streams.size(), 2u);

    // A deletion marks the stream; a second one finds nothing; the same announcement makes a new one.
    CVelmoraStream* first = Stream(0);
    Receive(Announcement(Sdp("One"), true));
    EXPECT_EQ(first->m_Removed, 1);
    EXPECT_TRUE(first->GetOriginLine().IsEmpty());
    EXPECT_FALSE(first->IsAlive());
    Receive(Announcement(Sdp("One"), true));
    EXPECT_EQ(m_Manager->m_Streams.size(), 2u);
    Receive(Announcement(Sdp("One")));
    EXPECT_EQ(m_Manager->m_Streams.size(), 3u);
    TakeLines();

    Tick();
    EXPECT_EQ(TakeLines(), std::vector<std::string>{"Removed Stream One (Type: SAP)"});
    EXPECT_EQ(m_Manager->m_Streams.size(), 2u);
    // The deleted stream left the index: its session is found under the new stream.
    Receive(Announcement(Sdp("One")));
    EXPECT_EQ(m_Manager->m_Streams.size(), 2u);
    TakeLines();

    // Deleted at once instead of withdrawn: the index forgets it, its session is new again.
    CVelmoraStream* known = m_Manager->FindSAPStream(L"peer 4242 1 IN IP4 10.0.0.2");
    ASSERT_NE(known, nullptr);
    m_Manager->DeleteStream(known);
    EXPECT_EQ(m_Manager->FindSAPStream(L"peer 4242 1 IN IP4 10.0.0.2"), nullptr);
    Receive(Announcement(Sdp("One")));
    EXPECT_EQ(m_Manager->m_Streams.size(), 2u);
    EXPECT_NE(m_Manager->FindSAPStream(L"peer 4242 1 IN IP4 10.0.0.2"), nullptr);
}

TEST_F(StreamTableTest, ADeletionCarryingOnlyTheOriginLineWithdrawsItsStream)
{
    Receive(Announcement(Sdp("One")));
    Receive(Announcement(Sdp("Two", 77)));
    TakeLines();
    CVelmoraStream* one = Stream(0);

    // RFC 2974's deletion: payload type and the origin line alone.
    std::vector<BYTE> deletion = {0x24, 0, 0x12, 0x34, 10, 0, 0, 2};
    const std::string payload = std::string("application/sdp") + '\0' + "o=peer 4242 1 IN IP4 10.0.0.2\r\n";
    deletion.insert(deletion.end(), payload.begin(), payload.end());
    Receive(deletion);
    EXPECT_EQ(one->m_Removed, 1);
    EXPECT_FALSE(Stream(1)->m_Removed);
    EXPECT_EQ(TakeLines(), std::vector<std::string>{"Received SAP delete for: One"});
    // Again: the stream is withdrawn already; the line names the origin.
    Receive(deletion);
    EXPECT_EQ(TakeLines(), std::vector<std::string>{"Received SAP delete for: peer 4242 1 IN IP4 10.0.0.2"});
    Tick();
    EXPECT_EQ(TakeLines(), std::vector<std::string>{"Removed Stream One (Type: SAP)"});
    ASSERT_EQ(m_Manager->m_Streams.size(), 1u);

    // The full deletion keeps working.
    Receive(Announcement(Sdp("Two", 77), true));
    EXPECT_EQ(Stream(0)->m_Removed, 1);
    EXPECT_EQ(TakeLines(), std::vector<std::string>{"Received SAP delete for: Two"});
}

TEST_F(StreamTableTest, RefusedDatagramsGiveOneRedLineASenderAMinuteWhateverTheNumberOfSenders)
{
    const std::vector<BYTE> empty = {0x20, 0, 0, 0, 10, 0, 0, 2};
    const std::string emptyLine = "Received invalid SAP message - ignoring (empty payload)";
    std::vector<COLORREF> colours;
    m_Manager->OnSAPPacket(static_cast<int>(empty.size()), const_cast<BYTE*>(empty.data()), 0x0200000A);
    m_Manager->OnSAPPacket(static_cast<int>(empty.size()), const_cast<BYTE*>(empty.data()), 0x0200000A);
    m_Manager->OnSAPUnreadable(WSAEMSGSIZE, 0x0200000A);
    EXPECT_EQ(TakeLines(&colours), std::vector<std::string>{emptyLine});
    EXPECT_EQ(colours, std::vector<COLORREF>{kLogRed});

    // 40 senders taking turns, three rounds: a line for each of the first 16 (the first sender
    // included), one summary for the rest; within the minute nothing more.
    for (int round = 0; round < 3; ++round) {
        for (DWORD sender = 0; sender < 40; ++sender) {
            m_Manager->OnSAPPacket(static_cast<int>(empty.size()), const_cast<BYTE*>(empty.data()),
                                   0x0200000A + (sender << 24));
        }
    }
    std::vector<std::string> lines = TakeLines();
    ASSERT_EQ(lines.size(), 16u);
    EXPECT_EQ(Count(lines, emptyLine), 15u);
    EXPECT_EQ(lines.back(),
              "Received 1 invalid SAP messages from senders beyond the first 16 of a minute - ignoring");

    Advance(60000);
    m_Manager->OnSAPUnreadable(WSAEMSGSIZE, 0x0200000A);
    for (DWORD sender = 1; sender < 40; ++sender) {
        m_Manager->OnSAPPacket(static_cast<int>(empty.size()), const_cast<BYTE*>(empty.data()),
                               0x0200000A + (sender << 24));
    }
    lines = TakeLines();
    ASSERT_EQ(lines.size(), 17u);
    EXPECT_EQ(lines[0], "Received SAP message that cannot be read - ignoring (error 10040)");
    EXPECT_EQ(lines.back(),
              "Received " + std::to_string(24 * 3) +
                  " invalid SAP messages from senders beyond the first 16 of a minute - ignoring");
}

TEST_F(StreamTableTest, OperatorAdditions)
{
    m_Manager->AddSDPStream(L"v=0\r\no=- 1 1 IN IP4 1.1.1.1\r\n");
    std::vector<COLORREF> colours;
    EXPECT_EQ(
        TakeLines(&colours),
        std::vector<std::string>{"Cannot add SDP stream without session name inside SDP (missing s=...)"});
    EXPECT_EQ(colours, std::vector<COLORREF>{kLogRed});
    EXPECT_TRUE(m_Manager->m_Streams.empty());

    m_Manager->AddSDPStream(CMfxString(Sdp("Pasted").c_str()));
    m_Manager->AddSDPStream(CMfxString(Sdp("Pasted").c_str())); // no look-up for an existing one
    m_Manager->AddRTSPStream(L"rtsp://10.0.0.9:8554/x");
    ASSERT_EQ(m_Manager->m_Streams.size(), 3u);
    EXPECT_EQ(Narrow(Stream(0)->GetName()), "Pasted");
    EXPECT_EQ(Stream(0)->m_Kind, CVelmoraStream::kKindSDP);
    EXPECT_EQ(Stream(2)->m_Kind, CVelmoraStream::kKindRTSP);
    EXPECT_TRUE(Stream(2)->GetName().IsEmpty());
    EXPECT_EQ(Narrow(Stream(2)->GetURL()), "rtsp://10.0.0.9:8554/x");
}

TEST_F(StreamTableTest, SwitchingAWishOnIsRefusedOnANameClash)
{
    CVelmoraStream* pasted = AddSdpStream(Sdp("Same"));
    Receive(Announcement(Sdp("Same", 7)));
    CVelmoraStream* lower = AddSdpStream(Sdp("same", 8));

    EXPECT_FALSE(m_Manager->SetSAPAdvertising(pasted, TRUE, TRUE)); // heard by SAP
    EXPECT_EQ(pasted->m_SAPWanted, 0);
    EXPECT_TRUE(m_Manager->SetBonjourAdvertising(pasted, TRUE, TRUE)); // none found by DNS-SD
    EXPECT_TRUE(m_Manager->SetSAPAdvertising(lower, TRUE, TRUE));      // names compare exactly

    CVelmoraStream* second = AddSdpStream(Sdp("Same", 9));
    EXPECT_FALSE(m_Manager->SetBonjourAdvertising(second, TRUE, TRUE)); // the first is DNS-SD wanted
    EXPECT_TRUE(m_Manager->SetBonjourAdvertising(second, FALSE, TRUE)); // off is never refused
    CVelmoraStream* lowerTwin = AddSdpStream(Sdp("same", 10));
    EXPECT_FALSE(m_Manager->SetSAPAdvertising(lowerTwin, TRUE, TRUE)); // the other one is SAP wanted

    AddFoundStream("Found", "", "");
    CVelmoraStream* foundName = AddSdpStream(Sdp("Found", 11));
    EXPECT_FALSE(m_Manager->SetBonjourAdvertising(foundName, TRUE, TRUE));
    EXPECT_TRUE(m_Manager->SetSAPAdvertising(foundName, TRUE, TRUE));

    int notAStream = 0;
    EXPECT_FALSE(m_Manager->SetSAPAdvertising(reinterpret_cast<CVelmoraStream*>(&notAStream), FALSE, TRUE));

    // Without an owner window there is no box to show, even when not quiet.
    CVelmoraManager ownerless(nullptr);
    ownerless.AddSDPStream(CMfxString(Sdp("X", 1).c_str()));
    ownerless.AddSDPStream(CMfxString(Sdp("X", 2).c_str()));
    EXPECT_TRUE(ownerless.SetSAPAdvertising(ownerless.m_Streams[0], TRUE, FALSE));
    EXPECT_FALSE(ownerless.SetSAPAdvertising(ownerless.m_Streams[1], TRUE, FALSE));
}

TEST_F(StreamTableTest, DuplicateCheckLinksTwinsOfDifferentKinds)
{
    CVelmoraStream* found = AddFoundStream("F", "- 1 1 IN IP4 10.0.0.2", "239.1.1.1/32");
    Receive(Announcement(Sdp("H1", 1)));
    CVelmoraStream* heard1 = Stream(1);
    heard1->SetConnectionAddress(L"239.1.1.1/32");
    heard1->SetOriginLine(L"- 1 1 IN IP4 10.0.0.2");
    Receive(Announcement(Sdp("H2", 2)));
    CVelmoraStream* heard2 = Stream(2);
    heard2->SetOriginLine(L"- 1 1 IN IP4 10.0.0.2");
    heard2->SetConnectionAddress(L"239.1.1.1/32");
    // Same origin line, other TTL: no twin.
    Receive(Announcement(Sdp("H3", 3)));
    CVelmoraStream* heard3 = Stream(3);
    heard3->SetOriginLine(L"- 1 1 IN IP4 10.0.0.2");
    heard3->SetConnectionAddress(L"239.1.1.1/16");
    // A pasted stream of the same session, announced and registered.
    CVelmoraStream* pasted = AddSdpStream(Sdp("P", 4));
    pasted->SetOriginLine(L"- 1 1 IN IP4 10.0.0.2");
    pasted->SetConnectionAddress(L"239.1.1.1/32");

    BOOL changed = FALSE;
    m_Manager->CheckDuplicateStreams(changed);
    EXPECT_TRUE(changed);
    EXPECT_EQ(found->m_pTwinSAP, heard2); // the last match wins
    EXPECT_EQ(found->m_pTwinBonjour, nullptr);
    EXPECT_EQ(found->m_TwinBonjourRegistered, 0);
    EXPECT_EQ(heard1->m_pTwinBonjour, found);
    EXPECT_EQ(heard2->m_pTwinBonjour, found);
    EXPECT_EQ(heard2->m_pTwinSAP, nullptr); // same kind: never twins
    EXPECT_EQ(heard3->m_pTwinBonjour, nullptr);
    EXPECT_EQ(heard1->m_TwinSAPActive, 0);
    EXPECT_EQ(pasted->m_pTwinBonjour, nullptr); // operator's streams are never written
    EXPECT_EQ(pasted->m_pTwinSAP, nullptr);

    changed = FALSE;
    m_Manager->CheckDuplicateStreams(changed);
    EXPECT_FALSE(changed);

    pasted->m_SAPWanted = 1;
    pasted->m_SAPActive = 1;
    pasted->m_BonjourWanted = 1;
    pasted->m_BonjourRegistered = 1;
    m_Manager->CheckDuplicateStreams(changed);
    EXPECT_TRUE(changed);
    EXPECT_EQ(found->m_TwinBonjourRegistered, 1);
    EXPECT_EQ(heard1->m_TwinSAPActive, 1);
    EXPECT_EQ(heard2->m_TwinSAPActive, 1);
    EXPECT_EQ(heard3->m_TwinSAPActive, 0);
    EXPECT_EQ(pasted->m_TwinSAPActive, 0);

    // Only wanted and active (or registered) together count.
    pasted->m_SAPWanted = 0;
    pasted->m_BonjourRegistered = 0;
    changed = FALSE;
    m_Manager->CheckDuplicateStreams(changed);
    EXPECT_TRUE(changed);
    EXPECT_EQ(found->m_TwinBonjourRegistered, 0);
    EXPECT_EQ(heard1->m_TwinSAPActive, 0);
    pasted->m_SAPActive = 0;
    pasted->m_BonjourWanted = 0;

    // A deleted twin leaves no link behind: at once, not at the next check.
    m_Manager->DeleteStream(heard2);
    EXPECT_EQ(found->m_pTwinSAP, nullptr);
    m_Manager->CheckDuplicateStreams(changed);
    EXPECT_EQ(found->m_pTwinSAP, heard1);
    heard1->m_Removed = 1;
    m_Manager->m_LastDuplicateCheck = Now();
    Tick(); // the removal scan, without a duplicate check in this tick
    EXPECT_EQ(m_Manager->m_Streams.size(), 3u);
    EXPECT_EQ(found->m_pTwinSAP, nullptr);
    EXPECT_EQ(heard3->m_pTwinBonjour, nullptr);
}

TEST_F(StreamTableTest, DeleteLeavesAStreamThatIsStillActiveToTheTick)
{
    CVelmoraStream* published = AddSdpStream(Sdp("Published"));
    published->m_Published = 1; // the RTSP-server thread has not unpublished it yet
    published->MarkRemoved();
    m_Manager->DeleteStream(published);
    ASSERT_EQ(m_Manager->m_Streams.size(), 1u);
    EXPECT_EQ(published->m_Removed, 1);
    Tick();
    EXPECT_EQ(m_Manager->m_Streams.size(), 1u);
    published->m_Published = 0;
    TakeLines();
    // Removed again before the tick has deleted it: the stream is not deleted under the caller.
    published->MarkRemoved();
    ASSERT_EQ(m_Manager->m_Streams.size(), 1u);
    EXPECT_TRUE(TakeLines().empty());
    Tick();
    EXPECT_TRUE(m_Manager->m_Streams.empty());
    EXPECT_EQ(TakeLines(), std::vector<std::string>{"Removed Stream Published (Type: SDP)"});

    // Announced, then deleted without being withdrawn first: one deletion, then it goes.
    CVelmoraStream* announced = AddSdpStream(Sdp("Announced"));
    ASSERT_TRUE(m_Manager->SetSAPAdvertising(announced, TRUE, TRUE));
    Tick();
    m_Manager->DeleteStream(announced);
    ASSERT_EQ(m_Manager->m_Streams.size(), 1u);
    for (int i = 0; i < 3; ++i) {
        Advance(50);
        Tick();
    }
    EXPECT_TRUE(m_Manager->m_Streams.empty());
    std::vector<std::string> lines = TakeLines();
    EXPECT_EQ(Count(lines, "Send SAP delete for: Announced"), 1u);
    EXPECT_EQ(Count(lines, "Removed Stream Announced (Type: SDP)"), 1u);

    // Withdrawn first, as the dialog does: the deletion goes out inside MarkRemoved.
    CVelmoraStream* withdrawn = AddSdpStream(Sdp("Withdrawn"));
    ASSERT_TRUE(m_Manager->SetSAPAdvertising(withdrawn, TRUE, TRUE));
    Tick();
    TakeLines();
    withdrawn->MarkRemoved();
    EXPECT_EQ(TakeLines(), std::vector<std::string>{"Send SAP delete for: Withdrawn"});
    m_Manager->DeleteStream(withdrawn);
    EXPECT_TRUE(m_Manager->m_Streams.empty());
}

TEST_F(StreamTableTest, FailedSendsAndOversizedPacketsAreRed)
{
    CVelmoraStream* stream = AddSdpStream(Sdp("Studio"));
    Tick();
    TakeLines();
    m_SendWorks = false;
    ASSERT_TRUE(m_Manager->SetSAPAdvertising(stream, TRUE, TRUE));
    Tick();
    std::vector<COLORREF> colours;
    std::vector<std::string> lines = TakeLines(&colours);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "Send SAP announce for: Studio failed");
    EXPECT_EQ(colours[1], kLogRed);
    ASSERT_TRUE(m_Manager->SetSAPAdvertising(stream, FALSE, TRUE));
    Tick();
    EXPECT_EQ(TakeLines(), std::vector<std::string>{"Send SAP delete for: Studio failed"});

    // A description no datagram can carry: one red line, nothing sent, not tried on every tick.
    m_SendWorks = true;
    m_Sent.clear();
    CVelmoraStream* huge = AddSdpStream(Sdp("Huge") + "a=x:" + std::string(65536, 'y') + "\r\n");
    Tick();
    TakeLines();
    ASSERT_TRUE(m_Manager->SetSAPAdvertising(huge, TRUE, TRUE));
    for (int i = 0; i < 3; ++i) {
        Advance(50);
        Tick();
    }
    lines = TakeLines(&colours);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Create SAP announce for: Huge failed, size is ", 0), 0u) << lines[0];
    EXPECT_TRUE(m_Sent.empty());
    EXPECT_EQ(huge->m_SAPActive, 0);
}

TEST_F(StreamTableTest, DescriptionsKeepTheirBytesAndUtf8NamesAreRead)
{
    m_Manager->m_DoSDPSort = 0;
    for (const std::string& name : {std::string("Stra\xc3\x9f"
                                                "e"),
                                    std::string("Gro\xdf")}) {
        const std::string sdp =
            "v=0\r\no=- " + std::to_string(name.size()) + " 1 IN IP4 10.0.0.2\r\ns=" + name + "\r\nt=0 0\r\n";
        std::vector<BYTE> datagram = Announcement("v=0\r\n");
        datagram.resize(datagram.size() - 5);
        datagram.insert(datagram.end(), sdp.begin(), sdp.end());
        Receive(datagram);
        CVelmoraStream* heard = m_Manager->m_Streams.back();
        EXPECT_EQ(Text(heard->GetName()), name.size() == 7 ? L"Stra\u00dfe" : L"Gro\u00df");
        EXPECT_EQ(heard->GetSDPBytes(), sdp);
        // Announced on by SAP: the payload is the description byte for byte.
        heard->m_SAPWanted = 1;
        m_Sent.clear();
        Tick();
        ASSERT_EQ(m_Sent.size(), 1u);
        const std::string sent(m_Sent[0].begin(), m_Sent[0].end());
        EXPECT_EQ(sent.substr(sent.size() - sdp.size()), sdp);
    }
}

TEST_F(StreamTableTest, SilentHeardStreamsLeaveAfterAnHourAndTheTableIsCapped)
{
    Receive(Announcement(Sdp("Silent", 1)));
    Receive(Announcement(Sdp("Wanted", 2)));
    Receive(Announcement(Sdp("Published", 3)));
    Stream(1)->m_SAPWanted = 1;
    CVelmoraStream* published = Stream(2);
    published->m_RTSPWanted = 1;
    published->m_Published = 1;
    Advance(static_cast<DWORD>(CVelmoraStream::kSAPForgetMilliSec - 1));
    Tick();
    EXPECT_EQ(m_Manager->m_Streams.size(), 3u);
    TakeLines();
    Advance(1);
    Tick();
    // The published one waits for the RTSP-server thread to unpublish it.
    ASSERT_EQ(m_Manager->m_Streams.size(), 2u);
    EXPECT_EQ(published->m_RTSPWanted, 0);
    published->m_Published = 0;
    Tick();
    ASSERT_EQ(m_Manager->m_Streams.size(), 1u);
    EXPECT_EQ(Narrow(Stream(0)->GetName()), "Wanted");
    EXPECT_EQ(Count(TakeLines(), "Removed Stream Silent (Type: SAP)"), 1u);
    EXPECT_EQ(m_Manager->FindSAPStream(L"peer 1 1 IN IP4 10.0.0.2"), nullptr);
    EXPECT_FALSE(Stream(0)->m_pSdpFetcher) << "only URL and found streams carry a fetcher";

    // Full table: a new origin is refused with one red line a minute; known ones are still heard.
    for (int i = 1; i < static_cast<int>(CVelmoraManager::kMaxHeardStreams); ++i) {
        Receive(Announcement(Sdp("Many", 1000 + i)));
    }
    ASSERT_EQ(m_Manager->m_HeardStreams, CVelmoraManager::kMaxHeardStreams);
    TakeLines();
    std::vector<COLORREF> colours;
    Receive(Announcement(Sdp("Late", 99)));
    Receive(Announcement(Sdp("Later", 98)));
    EXPECT_EQ(TakeLines(&colours).size(), 1u);
    EXPECT_EQ(colours, std::vector<COLORREF>{kLogRed});
    Advance(static_cast<DWORD>(CVelmoraManager::kTableFullLinePeriod));
    Receive(Announcement(Sdp("Later", 98)));
    EXPECT_EQ(TakeLines().size(), 1u);
    EXPECT_EQ(m_Manager->m_Streams.size(), CVelmoraManager::kMaxHeardStreams);
    Receive(Announcement(Sdp("Many", 1001)));
    EXPECT_EQ(TakeLines(), std::vector<std::string>{"Received SAP announce for: Many"});
}

TEST_F(StreamTableTest, OnlyLiveNamedStreamsClaimANameAndTheRefusalWaitsForNoLock)
{
    // A heard stream that fell silent, or was withdrawn, no longer holds its name.
    Receive(Announcement(Sdp("Gone", 1)));
    CVelmoraStream* pasted = AddSdpStream(Sdp("Gone", 2));
    Advance(static_cast<DWORD>(CVelmoraStream::kSAPAliveMilliSec));
    EXPECT_TRUE(m_Manager->SetSAPAdvertising(pasted, TRUE, TRUE));
    Receive(Announcement(Sdp("Withdrawn", 3)));
    Receive(Announcement(Sdp("Withdrawn", 3), true));
    CVelmoraStream* other = AddSdpStream(Sdp("Withdrawn", 4));
    EXPECT_TRUE(m_Manager->SetSAPAdvertising(other, TRUE, TRUE));
    // Two URL streams without a name yet do not clash.
    m_Manager->AddRTSPStream(L"rtsp://10.0.0.9/a");
    m_Manager->AddRTSPStream(L"rtsp://10.0.0.9/b");
    const size_t count = m_Manager->m_Streams.size();
    EXPECT_TRUE(m_Manager->SetSAPAdvertising(Stream(count - 2), TRUE, TRUE));
    EXPECT_TRUE(m_Manager->SetSAPAdvertising(Stream(count - 1), TRUE, TRUE));

    // A refusal is shown with the table's lock let go: another thread takes it meanwhile.
    Receive(Announcement(Sdp("Live", 5)));
    CVelmoraStream* clashing = AddSdpStream(Sdp("Live", 6));
    std::atomic<bool> locked{false};
    int shown = 0;
    m_Manager->m_ShowRefusal = [&](const wchar_t*) {
        ++shown;
        std::thread other([&] {
            CSingleLock lock(&m_Manager->m_StreamsLock, TRUE);
            locked = true;
        });
        for (int waited = 0; !locked && waited < 5000; waited += 10) {
            Sleep(10);
        }
        other.join();
    };
    EXPECT_FALSE(m_Manager->SetSAPAdvertising(clashing->m_Serial, TRUE, FALSE));
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(locked);
}

TEST_F(StreamTableTest, AFoundStreamWithdrawnAndFoundAgainBeforeItsDeletionIsANewStream)
{
    CVelmoraStream* lost = AddFoundStream("Studio", "", "");
    Corvane::CStreamInfo* lostRecord = m_Records.back().get();
    lost->m_BonjourRegistered = 1; // its withdrawal takes a tick or more
    ASSERT_TRUE(m_Manager->RemoveBonjourStream(lostRecord));
    EXPECT_FALSE(m_Manager->RemoveBonjourStream(lostRecord));
    CVelmoraStream* again = AddFoundStream("Studio", "", "");
    ASSERT_NE(again, lost);
    EXPECT_EQ(again->m_Removed, 0);
    EXPECT_EQ(again->m_pStreamInfo, m_Records.back().get());
    EXPECT_EQ(m_Manager->m_Streams.size(), 2u);
}

TEST_F(StreamTableTest, AFoundStreamRemovedFromTheListsLeavesTheIndexesOfFoundStreams)
{
    // Removed by the operator rather than by its sender: its record's later remove finds nothing,
    // and a sender of the same name makes a new stream.
    CVelmoraStream* removed = AddFoundStream("Studio", "", "");
    Corvane::CStreamInfo* removedRecord = m_Records.back().get();
    removed->MarkRemoved();
    EXPECT_EQ(m_Manager->m_FoundStreamsByName.count(L"Studio"), 0u);
    EXPECT_EQ(m_Manager->m_FoundStreamsByRecord.count(removedRecord), 0u);
    EXPECT_FALSE(m_Manager->RemoveBonjourStream(removedRecord));
    CVelmoraStream* again = AddFoundStream("Studio", "", "");
    ASSERT_NE(again, removed);
    EXPECT_EQ(again->m_Removed, 0);
    EXPECT_EQ(m_Manager->m_FoundStreamsByRecord.at(m_Records.back().get()), again);
}
