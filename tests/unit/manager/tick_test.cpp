// The millisecond clock, the delayed-message queue, the tick's refresh requests and removal scan,
// and the stream's own step, on a raw millisecond source the test drives.
#include "manager_test_support.h"

#include "discovery/StreamInfo.h"
#include "gateway/VelmoraStream.h"

#include <gtest/gtest.h>

using namespace manager_test;

namespace {

std::vector<std::wstring> StreamNames(CVelmoraManager& manager)
{
    std::vector<std::wstring> names;
    for (CVelmoraStream* stream : manager.m_Streams) {
        names.push_back(Text(stream->GetName()));
    }
    return names;
}

Corvane::CStreamInfoRef Record(CVelmoraManager& manager, const wchar_t* name)
{
    Corvane::CStreamInfoRef record = Corvane::CStreamInfoRef::Adopt(new Corvane::CStreamInfo(
        &manager.m_CorvaneManager.m_StreamBrowser, Corvane::CStreamInfo::kSourceDiscovery));
    record->SetName(name);
    return record;
}

const wchar_t kSdp[] = L"v=0\r\n"
                       L"o=- 1311738121 1311738121 IN IP4 192.168.1.20\r\n"
                       L"s=Studio B\r\n"
                       L"c=IN IP4 239.1.2.3/32\r\n"
                       L"t=0 0\r\n"
                       L"m=audio 5004 RTP/AVP 98\r\n";

} // namespace

TEST(ManagerClock, CountsOnAcrossTheWrapOfTheRawSource)
{
    g_rawMilliSec = 0xFFFFFF00u;
    auto manager = MakeManager();
    EXPECT_EQ(manager->GetMilliSec(), 0u);
    g_rawMilliSec = 0xFFFFFFF0u;
    EXPECT_EQ(manager->GetMilliSec(), 0xF0u);
    g_rawMilliSec = 0x10u; // wrapped
    EXPECT_EQ(manager->GetMilliSec(), 0x110u);
    g_rawMilliSec += 5000;
    EXPECT_EQ(manager->GetMilliSec(), 0x110u + 5000u);
    EXPECT_EQ(manager->GetMilliSec(), 0x110u + 5000u); // no time passed, no change
}

TEST(ManagerDelayedMessages, AMessageIsHandledStrictlyAfterItsDueTimeOnePerTick)
{
    g_rawMilliSec = 1000;
    auto manager = MakeManager();
    auto first = Record(*manager, L"First");
    auto second = Record(*manager, L"Second");
    manager->AddDelayedMessage(CDelayedMessage::kAddStream, 100, first.get());
    manager->AddDelayedMessage(CDelayedMessage::kAddStream, 100, second.get());

    Tick(*manager, 100); // clock 100: due, not past due
    EXPECT_TRUE(manager->m_Streams.empty());
    Tick(*manager, 1);
    EXPECT_EQ(StreamNames(*manager), std::vector<std::wstring>{L"First"});
    Tick(*manager, 1);
    EXPECT_EQ(StreamNames(*manager), (std::vector<std::wstring>{L"First", L"Second"}));
    EXPECT_TRUE(manager->m_DelayedMessages.empty());
    EXPECT_EQ(manager->m_Streams[0]->m_pStreamInfo, first.get());
    EXPECT_EQ(manager->m_Streams[0]->m_Kind, static_cast<DWORD>(CVelmoraStream::kKindBonjour));
}

TEST(ManagerDelayedMessages, ARemoveDueAtOnceIsHandledBeforeAnEarlierAdd)
{
    g_rawMilliSec = 0;
    auto manager = MakeManager();
    auto gone = Record(*manager, L"Gone");
    auto later = Record(*manager, L"Later");
    manager->AddDelayedMessage(CDelayedMessage::kAddStream, 0, gone.get());
    Tick(*manager, 1);
    ASSERT_EQ(StreamNames(*manager), std::vector<std::wstring>{L"Gone"});

    manager->AddDelayedMessage(CDelayedMessage::kAddStream, manager->GetMilliSec() + 800, later.get());
    manager->AddDelayedMessage(CDelayedMessage::kRemoveStream, manager->GetMilliSec(), gone.get());
    Tick(*manager, 1);
    // The remove was handled and its stream, idle, deleted in the same tick; the add still waits.
    EXPECT_TRUE(manager->m_Streams.empty());
    ASSERT_EQ(manager->m_DelayedMessages.size(), 1u);
    EXPECT_EQ(manager->m_DelayedMessages[0].m_lParam, later.get());
    Tick(*manager, 799);
    EXPECT_TRUE(manager->m_Streams.empty());
    Tick(*manager, 1);
    EXPECT_EQ(StreamNames(*manager), std::vector<std::wstring>{L"Later"});
}

TEST(ManagerDelayedMessages, ARecordLostBeforeItsAddIsHandledNeverBecomesAStream)
{
    g_rawMilliSec = 0;
    auto manager = MakeManager();
    auto brief = Record(*manager, L"Brief");
    auto other = Record(*manager, L"Other");
    manager->AddDelayedMessage(CDelayedMessage::kAddStream, 1000, brief.get());
    manager->AddDelayedMessage(CDelayedMessage::kAddStream, 1000, other.get());
    manager->AddDelayedMessage(CDelayedMessage::kRemoveStream, 0, brief.get());
    ASSERT_EQ(manager->m_DelayedMessages.size(), 1u);
    for (int i = 0; i < 60; ++i) {
        Tick(*manager);
    }
    EXPECT_EQ(StreamNames(*manager), std::vector<std::wstring>{L"Other"});
    EXPECT_TRUE(manager->m_DelayedMessages.empty());
}

TEST(ManagerDelayedMessages, AnAddForAKnownInstanceNameTakesTheNewRecord)
{
    g_rawMilliSec = 0;
    auto manager = MakeManager();
    auto first = Record(*manager, L"Studio A");
    auto again = Record(*manager, L"Studio A");
    manager->AddDelayedMessage(CDelayedMessage::kAddStream, 0, first.get());
    Tick(*manager, 1);
    Tick(*manager, 40000);
    ASSERT_EQ(manager->m_Streams.size(), 1u);
    EXPECT_EQ(manager->m_Streams[0]->m_SdpAged, 1);

    manager->AddDelayedMessage(CDelayedMessage::kAddStream, 0, again.get());
    Tick(*manager, 1);
    ASSERT_EQ(manager->m_Streams.size(), 1u);
    EXPECT_EQ(manager->m_Streams[0]->m_pStreamInfo, again.get());
    EXPECT_EQ(manager->m_Streams[0]->m_SdpTime, manager->GetMilliSec());
    EXPECT_EQ(manager->m_Streams[0]->m_SdpAged, 0);
    // A remove for the replaced record finds no stream.
    manager->AddDelayedMessage(CDelayedMessage::kRemoveStream, 0, first.get());
    Tick(*manager, 1);
    EXPECT_EQ(manager->m_Streams.size(), 1u);
}

TEST(ManagerTick, PostsARefreshRequestOnlyWhenSomethingChanged)
{
    g_rawMilliSec = 0;
    FakeOwner owner;
    auto manager = MakeManager(owner.AsOwner());
    for (int i = 0; i < 3; ++i) {
        Tick(*manager);
    }
    EXPECT_EQ(owner.TakeRefreshRequests(), 0);

    auto record = Record(*manager, L"Studio A");
    manager->AddDelayedMessage(CDelayedMessage::kAddStream, manager->GetMilliSec(), record.get());
    Tick(*manager, 1);
    EXPECT_EQ(owner.TakeRefreshRequests(), 1);
    Tick(*manager);
    EXPECT_EQ(owner.TakeRefreshRequests(), 0);

    // The SDP age mark expires once, strictly after 35000 ms.
    Tick(*manager, 35000 - 50);
    EXPECT_EQ(owner.TakeRefreshRequests(), 0);
    Tick(*manager, 1);
    EXPECT_EQ(owner.TakeRefreshRequests(), 1);
    Tick(*manager);
    EXPECT_EQ(owner.TakeRefreshRequests(), 0);

    // A remove of an unknown record changes nothing.
    auto unknown = Record(*manager, L"Unknown");
    manager->AddDelayedMessage(CDelayedMessage::kRemoveStream, manager->GetMilliSec(), unknown.get());
    Tick(*manager);
    EXPECT_EQ(owner.TakeRefreshRequests(), 0);

    // The remove of the stream, then its deletion by the removal scan.
    manager->AddDelayedMessage(CDelayedMessage::kRemoveStream, manager->GetMilliSec(), record.get());
    Tick(*manager);
    EXPECT_TRUE(manager->m_Streams.empty());
    EXPECT_GE(owner.TakeRefreshRequests(), 1);
}

TEST(ManagerTick, RequestedDuplicateCheckComesOnTheNextTick)
{
    g_rawMilliSec = 0;
    auto manager = MakeManager();
    Tick(*manager, 2001);
    const ULONGLONG lastCheck = manager->m_LastDuplicateCheck;
    EXPECT_EQ(lastCheck, manager->GetMilliSec());
    Tick(*manager, 1);
    EXPECT_EQ(manager->m_LastDuplicateCheck, lastCheck);
    manager->RequestDuplicateCheck();
    Tick(*manager, 1);
    EXPECT_EQ(manager->m_LastDuplicateCheck, manager->GetMilliSec());
}

TEST(ManagerTick, AfterExitTheTickDoesNothingAndTheDestructorDetachesTheTimerCallback)
{
    g_rawMilliSec = 0;
    FakeOwner owner;
    auto manager = MakeManager(owner.AsOwner());
    auto record = Record(*manager, L"Late");
    manager->AddDelayedMessage(CDelayedMessage::kAddStream, 0, record.get());
    manager->Exit();
    Tick(*manager, 100);
    EXPECT_TRUE(manager->m_Streams.empty());
    EXPECT_EQ(manager->m_DelayedMessages.size(), 1u);
    EXPECT_EQ(owner.TakeRefreshRequests(), 0);

    g_pManager = manager.get();
    manager.reset();
    EXPECT_EQ(g_pManager, nullptr);
    CVelmoraManager::TimerProc(nullptr, WM_TIMER, CVelmoraManager::kTimerId, 0); // reaches nothing
}

TEST(ManagerStream, PastedAndHeardStreamsTakeTheirValuesFromTheSdp)
{
    g_rawMilliSec = 0;
    FakeOwner owner;
    auto manager = MakeManager(owner.AsOwner());
    auto* pasted = new CVelmoraStream(manager.get(), CVelmoraStream::kKindSDP, L"", L"", kSdp);
    manager->AddStream(pasted);
    Tick(*manager);
    EXPECT_EQ(Text(pasted->GetName()), L"Studio B");
    EXPECT_EQ(Text(pasted->GetConnectionAddress()), L"239.1.2.3/32");
    EXPECT_EQ(Text(pasted->GetOriginLine()), L"- 1311738121 1311738121 IN IP4 192.168.1.20");
    EXPECT_EQ(Text(pasted->GetOriginAddress()), L"192.168.1.20");
    EXPECT_EQ(owner.TakeRefreshRequests(), 1);
    Tick(*manager);
    EXPECT_EQ(owner.TakeRefreshRequests(), 0);

    // A changed SDP is read afresh on the next tick.
    pasted->m_SAPPacket = {1, 2, 3};
    pasted->ChangeSDP(L"v=0\r\ns=Studio C\r\n");
    EXPECT_TRUE(pasted->m_SAPPacket.empty());
    Tick(*manager);
    EXPECT_EQ(Text(pasted->GetName()), L"Studio C");
    EXPECT_TRUE(pasted->GetConnectionAddress().IsEmpty());
}
