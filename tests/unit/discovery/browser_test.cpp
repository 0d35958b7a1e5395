// The stream browser and its service threads against the DNS-SD fake: what is browsed, resolved and
// looked up, what is handed to the gateway and when, and how workers end.
#include "afx/afxthread.h"
#include "discovery/CorvaneManager.h"
#include "discovery/ServiceThread.h"
#include "discovery/StreamBrowser.h"
#include "discovery/StreamInfo.h"
#include "discovery_fixture.h"
#include "gateway/VelmoraStream.h"

#include <algorithm>
#include <string>
#include <functional>
#include <gtest/gtest.h>
#include <set>

using namespace dnssd_fake;
using namespace fake_interfaces;
using namespace manager_test;

namespace {

const char kCorvaneType[] = "_rtsp._tcp,_corvane_session";
const char kZintType[] = "_rtsp._tcp,_zint_session";

bool Contains(const std::vector<std::wstring>& lines, const std::wstring& text)
{
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::wstring& line) { return line.find(text) != std::wstring::npos; });
}

class BrowserTest : public DiscoveryFixture
{
protected:
    void SetUp() override
    {
        StartManager(L"APPLE");
        manager->m_CorvaneManager.m_pOwner = manager.get();
        browser = &manager->m_CorvaneManager.m_StreamBrowser;
    }

    // Init, "_rtsp" announced on interface 7: the Corvane and Zint browses.
    void BrowseRtsp()
    {
        ASSERT_TRUE(browser->Init(&manager->m_CorvaneManager));
        const Call types = Find("Browse", "_services._dns-sd._udp");
        ASSERT_NE(types.reference, nullptr);
        BrowseReply(types.reference, kDNSServiceFlagsAdd, 7, 0, "_rtsp", "_tcp.local.", ".");
        ASSERT_TRUE(WaitFor([] { return Find("Browse", kCorvaneType).reference != nullptr; }));
        corvane = Find("Browse", kCorvaneType).reference;
        zint = Find("Browse", kZintType).reference;
    }
    size_t Messages()
    {
        CSingleLock lock(&manager->m_DelayedLock, TRUE);
        return manager->m_DelayedMessages.size();
    }
    CDelayedMessage Message(size_t index)
    {
        CSingleLock lock(&manager->m_DelayedLock, TRUE);
        return manager->m_DelayedMessages.at(index);
    }
    size_t Records()
    {
        CSingleLock lock(&browser->m_StreamInfosLock, TRUE);
        return browser->m_StreamInfos.size();
    }
    size_t ServiceThreads()
    {
        CSingleLock lock(&browser->m_ServiceThreadsLock, TRUE);
        return browser->m_ServiceThreads.size();
    }
    // A service thread of the browser's list for a fake reference.
    Corvane::CServiceThread* AddThread(const wchar_t* name, DNSServiceRef reference)
    {
        CSingleLock lock(&browser->m_ServiceThreadsLock, TRUE);
        browser->m_ServiceThreads.push_back(new Corvane::CServiceThread(browser, name, L"", -1, reference));
        return browser->m_ServiceThreads.back();
    }
    // Whether a service thread of that name serves its request (not done).
    bool Serving(const std::wstring& threadName)
    {
        CSingleLock lock(&browser->m_ServiceThreadsLock, TRUE);
        return std::any_of(browser->m_ServiceThreads.begin(), browser->m_ServiceThreads.end(),
                           [&](const Corvane::CServiceThread* thread) {
                               return !thread->m_Done && Text(thread->m_ThreadName) == threadName;
                           });
    }
    // Service threads of resolves and address lookups, done or not.
    size_t InstanceThreads()
    {
        CSingleLock lock(&browser->m_ServiceThreadsLock, TRUE);
        return std::count_if(
            browser->m_ServiceThreads.begin(), browser->m_ServiceThreads.end(),
            [](const Corvane::CServiceThread* thread) { return !thread->m_InstanceName.IsEmpty(); });
    }
    // Answers the last resolve of the instance with the host, and its lookup with the address; TRUE
    // once the record is resolved.
    bool Answer(const char* name, const char* host, const char* address)
    {
        ResolveReply(Find("Resolve", name).reference, 0, 7, 0,
                     (std::string(name) + "._rtsp._tcp.local.").c_str(), host, 8554);
        if (!WaitFor([&] { return Find("GetAddrInfo", host).reference != nullptr; })) {
            return false;
        }
        AddressReply(Find("GetAddrInfo", host).reference, 0, 0, host, address);
        Corvane::CStreamInfo* record = browser->FindStreamInfo(CMfxString(name), 7, 1);
        return record != nullptr && WaitFor([&] { return record->m_Resolved == 1; });
    }
    DNSServiceRef OpenReference()
    {
        DNSServiceRef reference = nullptr;
        DNSServiceBrowse(&reference, 0, 0, "_test._tcp", "", nullptr, nullptr);
        return reference;
    }

    Corvane::CStreamBrowser* browser = nullptr;
    DNSServiceRef corvane = nullptr;
    DNSServiceRef zint = nullptr;
};

TEST_F(BrowserTest, OnlyRtspStartsTheTwoSubtypeBrowsesAndItsLeavingRemovesWhatTheyFound)
{
    ASSERT_TRUE(browser->Init(&manager->m_CorvaneManager));
    const Call types = Find("Browse", "_services._dns-sd._udp");
    EXPECT_EQ(types.flags, 0u);
    EXPECT_EQ(types.interfaceIndex, 7u);
    BrowseReply(types.reference, kDNSServiceFlagsAdd, 7, 0, "_http", "_tcp.local.", ".");
    BrowseReply(types.reference, kDNSServiceFlagsAdd, 7, 0, "_rtsp", "_tcp.local.", ".");
    ASSERT_TRUE(WaitFor([] { return Calls().size() == 3; }));
    Sleep(100);
    const std::vector<Call> calls = Calls();
    ASSERT_EQ(calls.size(), 3u); // the enumeration, then exactly Zint and Corvane
    EXPECT_EQ(calls[1].regtype, kZintType);
    EXPECT_EQ(calls[2].regtype, kCorvaneType);
    for (const Call& call : {calls[1], calls[2]}) {
        EXPECT_EQ(call.interfaceIndex, 7u);
        EXPECT_EQ(call.flags, 0u);
    }
    // A second add for the same interface browses nothing more.
    BrowseReply(types.reference, kDNSServiceFlagsAdd, 7, 0, "_rtsp", "_tcp.local.", ".");
    Sleep(100);
    EXPECT_EQ(Calls().size(), 3u);

    // An instance: a record, its resolve, and the add message due 1000 ms later.
    g_rawMilliSec = 0;
    manager->SetMilliSecSource(&RawMilliSec);
    BrowseReply(calls[2].reference, kDNSServiceFlagsAdd, 7, 0, "Studio A", kCorvaneType, "local.");
    ASSERT_TRUE(WaitFor([this] { return Messages() == 1; }));
    EXPECT_EQ(Message(0).m_wParam, +CDelayedMessage::kAddStream);
    EXPECT_EQ(Message(0).m_DueMilliSec, 1000u);
    // The resolve opens on a service thread of its own, maybe after the record is listed.
    ASSERT_TRUE(WaitFor([] { return Find("Resolve", "Studio A").reference != nullptr; }));
    const Call resolve = Find("Resolve", "Studio A");
    EXPECT_EQ(resolve.regtype, kCorvaneType);
    EXPECT_EQ(resolve.interfaceIndex, 7u);

    // The Zint session of the same name takes its place: still one record.
    Tick(*manager, 1100);
    ASSERT_EQ(manager->m_Streams.size(), 1u);
    BrowseReply(calls[1].reference, kDNSServiceFlagsAdd, 7, 0, "Studio A", kZintType, "local.");
    ASSERT_TRUE(WaitFor([this] { return Messages() == 2; }));
    EXPECT_EQ(Records(), 1u);
    EXPECT_EQ(Message(0).m_wParam, +CDelayedMessage::kRemoveStream);
    EXPECT_EQ(Message(1).m_wParam, +CDelayedMessage::kAddStream);
    Tick(*manager, 1);
    Tick(*manager, 1100);
    ASSERT_EQ(manager->m_Streams.size(), 1u);
    CVelmoraStream* stream = manager->m_Streams[0];
    ASSERT_NE(stream->m_pStreamInfo, nullptr);
    EXPECT_EQ(stream->m_pStreamInfo->m_SessionKind, +Corvane::CStreamInfo::kSessionZint);

    // "_rtsp" leaves the interface: the browses end and their record goes with a remove due now.
    BrowseReply(types.reference, 0, 7, 0, "_rtsp", "_tcp.local.", ".");
    ASSERT_TRUE(WaitFor([this] { return Messages() == 1; }));
    EXPECT_EQ(Message(0).m_wParam, +CDelayedMessage::kRemoveStream);
    EXPECT_EQ(Message(0).m_DueMilliSec, manager->GetMilliSec());
    EXPECT_EQ(Records(), 0u);
    ASSERT_TRUE(WaitFor([&] {
        return DeallocateCount(calls[1].reference) == 1 && DeallocateCount(calls[2].reference) == 1;
    }));

    // After Close the stream's record is still there to read, until the manager has gone.
    browser->Close();
    EXPECT_EQ(Text(stream->m_pStreamInfo->GetName()), L"Studio A");
    EXPECT_EQ(DeallocateCount(types.reference), 1);
}

TEST_F(BrowserTest, ResolveAndAddressReplies)
{
    BrowseRtsp();
    // A resolve that the daemon can never open leaves no record, and the gateway hears nothing of it
    // (its remove cancels its add).
    FailNext("Resolve", kDNSServiceErr_BadParam);
    BrowseReply(corvane, kDNSServiceFlagsAdd, 7, 0, "Lost", kCorvaneType, "local.");
    BrowseReply(corvane, kDNSServiceFlagsAdd, 7, 0, "Studio A", kCorvaneType, "local.");
    ASSERT_TRUE(WaitFor([this] { return Records() == 1 && Messages() == 1; }));
    ASSERT_TRUE(WaitFor([] { return Find("Resolve", "Studio A").reference != nullptr; }));
    DNSServiceRef resolve = Find("Resolve", "Studio A").reference;
    Corvane::CStreamInfo* record = browser->FindStreamInfo(L"Studio A", 7, 1);
    ASSERT_NE(record, nullptr);

    // Replies that are not to be trusted, given straight to the callbacks: an error with names
    // that must not be read, and address replies without a usable IPv4 address.
    const char* const junk = reinterpret_cast<const char*>(1);
    Corvane::CStreamBrowser::ResolveInstance(nullptr, 0, 7, kDNSServiceErr_Unknown, junk, junk, 1, 0, nullptr,
                                             record);
    sockaddr_in6 ipv6 = {};
    ipv6.sin6_family = AF_INET6;
    const sockaddr* addresses[] = {nullptr, reinterpret_cast<sockaddr*>(&ipv6)};
    for (const sockaddr* address : addresses) {
        Corvane::CStreamBrowser::GetAddress(nullptr, 0, 7, 0, "sender1.local.", address, 0, record);
    }
    Corvane::CStreamBrowser::GetAddress(nullptr, 0, 7, kDNSServiceErr_Timeout, junk,
                                        reinterpret_cast<const sockaddr*>(junk), 0, record);
    EXPECT_EQ(record->m_Resolved, 0);
    EXPECT_EQ(DeallocateCount(resolve), 0);

    // More to come keeps the resolve open; the last reply ends it and looks the host up.
    ResolveReply(resolve, kDNSServiceFlagsMoreComing, 7, 0, "Studio\\032A._rtsp._tcp.local.",
                 "sender1.local.", 8554);
    ASSERT_TRUE(WaitFor([] { return Calls().back().function == "GetAddrInfo"; }));
    Sleep(1200); // a housekeeping round
    EXPECT_EQ(DeallocateCount(resolve), 0);
    const Call lookup = Calls().back();
    EXPECT_EQ(lookup.flags, static_cast<DNSServiceFlags>(kDNSServiceFlagsTimeout));
    EXPECT_EQ(lookup.protocol, static_cast<uint32_t>(kDNSServiceProtocol_IPv4));
    EXPECT_EQ(lookup.name, "sender1.local.");
    EXPECT_EQ(record->m_Port, 8554);
    EXPECT_EQ(Text(CMfxString(record->GetInterfaceIP())), L"10.77.0.1");
    ResolveReply(resolve, 0, 7, 0, "Studio\\032A._rtsp._tcp.local.", "sender1.local.", 8554);
    ASSERT_TRUE(WaitFor([&] { return DeallocateCount(resolve) == 1; }));

    AddressReply(lookup.reference, 0, 0, "sender1.local.", "10.77.0.2");
    ASSERT_TRUE(WaitFor([&] { return DeallocateCount(lookup.reference) == 1; }));
    EXPECT_EQ(record->m_Resolved, 1);
    EXPECT_EQ(Text(CMfxString(record->GetClientIP())), L"10.77.0.2");
    EXPECT_EQ(Text(CMfxString(record->GetClientName())), L"sender1");
    EXPECT_EQ(Text(record->GetStreamRTSPURL()), L"rtsp://10.77.0.2:8554/by-name/Studio%20A");

    // A second instance whose lookup times out stays unresolved.
    BrowseReply(corvane, kDNSServiceFlagsAdd, 7, 0, "Studio B", kCorvaneType, "local.");
    ASSERT_TRUE(WaitFor([] { return Find("Resolve", "Studio B").reference != nullptr; }));
    ResolveReply(Find("Resolve", "Studio B").reference, 0, 7, 0, "Studio\\032B._rtsp._tcp.local.",
                 "nowhere.local.", 8554);
    ASSERT_TRUE(WaitFor([] { return Find("GetAddrInfo", "nowhere.local.").reference != nullptr; }));
    const DNSServiceRef timeout = Find("GetAddrInfo", "nowhere.local.").reference;
    AddressReply(timeout, 0, kDNSServiceErr_Timeout, "nowhere.local.", nullptr);
    ASSERT_TRUE(WaitFor([&] { return DeallocateCount(timeout) == 1; }));
    Corvane::CStreamInfo* unresolved = browser->FindStreamInfo(L"Studio B", 7, 1);
    ASSERT_NE(unresolved, nullptr);
    EXPECT_EQ(unresolved->m_Resolved, 0);
    EXPECT_TRUE(unresolved->GetStreamRTSPURL().IsEmpty());

    // The sender leaves: a remove message, and nothing is left open.
    BrowseReply(corvane, 0, 7, 0, "Studio A", kCorvaneType, "local.");
    ASSERT_TRUE(WaitFor([this] { return Records() == 1; }));
    const std::vector<std::wstring> lines = WaitForLogLine(folder, L"errorCode = -65568, hostname");
    EXPECT_TRUE(Contains(lines, L"errorCode = -65537, fullname = , hosttarget = , port = 256,"));
    EXPECT_TRUE(Contains(lines, L"errorCode = -65568, hostname = , context"));
    EXPECT_TRUE(Contains(lines, L"stream resolved Studio A, ClientName = sender1, ClientIP = 10.77.0.2"));
}

TEST_F(BrowserTest, FailedCallsAndThreadStartsAreTriedAgainASecondLaterWithOneLine)
{
    g_rawMilliSec = 0;
    manager->SetMilliSecSource(&RawMilliSec);
    // Advances the clock to just before the retry (nothing happens), then to it (the request opens).
    auto retried = [&](const std::wstring& threadName) {
        Sleep(300);
        EXPECT_FALSE(Serving(threadName)) << "before its retry";
        g_rawMilliSec += 999;
        Sleep(400);
        EXPECT_FALSE(Serving(threadName)) << "before its retry";
        g_rawMilliSec += 1;
        return WaitFor([&] { return Serving(threadName); });
    };
    ASSERT_TRUE(browser->Init(&manager->m_CorvaneManager));
    const Call types = Find("Browse", "_services._dns-sd._udp");
    // The Zint browse finds the daemon busy; the Corvane one opens at once.
    FailNext("Browse", kDNSServiceErr_NoMemory);
    BrowseReply(types.reference, kDNSServiceFlagsAdd, 7, 0, "_rtsp", "_tcp.local.", ".");
    ASSERT_TRUE(WaitFor([] { return Find("Browse", kCorvaneType).reference != nullptr; }));
    ASSERT_TRUE(retried(L"IterateServiceInstances ZintSession on interface 7"));
    const DNSServiceRef sessions = Find("Browse", kCorvaneType).reference;

    const auto refuse = [](const char* function) {
        return [=] { FailNext(function, kDNSServiceErr_ServiceNotRunning); };
    };
    const auto noThread = [] { afx_detail::FailThreadStarts(&Corvane::CServiceThread::ThreadEntry, 1); };
    struct Case
    {
        const char* name;
        std::function<void()> fail;
        bool atResolve; // else at the address lookup
    };
    const Case cases[] = {
        {"Refused resolve", refuse("Resolve"), true},
        {"Threadless resolve", noThread, true},
        {"Refused lookup", refuse("GetAddrInfo"), false},
        {"Threadless lookup", noThread, false},
    };
    for (const Case& c : cases) {
        const std::wstring name = Text(CMfxString(c.name));
        const auto opens = [&](const std::wstring& threadName, bool fails) {
            return fails ? retried(threadName) : WaitFor([&] { return Serving(threadName); });
        };
        if (c.atResolve) {
            c.fail();
        }
        BrowseReply(sessions, kDNSServiceFlagsAdd, 7, 0, c.name, kCorvaneType, "local.");
        // Listed and told to the gateway at once, whatever its resolve does.
        ASSERT_TRUE(WaitFor([&] { return browser->FindStreamInfo(c.name, 7, 1) != nullptr; })) << c.name;
        ASSERT_TRUE(opens(L"ResolveInstance " + name, c.atResolve)) << c.name;
        if (!c.atResolve) {
            c.fail();
        }
        ResolveReply(Find("Resolve", c.name).reference, 0, 7, 0, "x._rtsp._tcp.local.", "sender1.local.",
                     8554);
        ASSERT_TRUE(opens(L"GetAddress " + name, !c.atResolve)) << c.name;
        AddressReply(Calls().back().reference, 0, 0, "sender1.local.", "10.77.0.2");
        Corvane::CStreamInfo* record = browser->FindStreamInfo(c.name, 7, 1);
        ASSERT_TRUE(WaitFor([&] { return record->m_Resolved == 1; })) << c.name;
    }
    const std::vector<std::wstring> lines = ReadLogLines(folder);
    for (const std::wstring& thread :
         {std::wstring(
              L"IterateServiceInstances ZintSession on interface 7, DNSServiceBrowse = -65539, trying again"),
          std::wstring(L"ResolveInstance Refused resolve, DNSServiceResolve = -65563, trying again in 1 s"),
          std::wstring(L"ResolveInstance Threadless resolve, start thread failed, trying again in 1 s"),
          std::wstring(L"GetAddress Refused lookup, DNSServiceGetAddrInfo = -65563, trying again in 1 s"),
          std::wstring(L"GetAddress Threadless lookup, start thread failed, trying again in 1 s")}) {
        EXPECT_EQ(
            std::count_if(lines.begin(), lines.end(),
                          [&](const std::wstring& line) { return line.find(thread) != std::wstring::npos; }),
            1)
            << Text(CMfxString(thread.c_str()));
    }
    EXPECT_EQ(Records(), 4u);
}

TEST_F(BrowserTest, ARequestWhoseDaemonConnectionDropsIsOpenedAgainASecondLaterWithOneLine)
{
    g_rawMilliSec = 0;
    manager->SetMilliSecSource(&RawMilliSec);
    const auto lostLines = [&](const std::wstring& threadName) {
        const std::vector<std::wstring> lines = ReadLogLines(folder);
        return std::count_if(lines.begin(), lines.end(), [&](const std::wstring& line) {
            return line.find(threadName + L", connection to the daemon lost") != std::wstring::npos;
        });
    };
    // The connection of `lost` (or of the lookup `dropped` that followed it) drops; the same request is
    // opened again a second later, not before.
    const auto reopened = [&](const std::string& function, const std::string& what, DNSServiceRef lost,
                              DNSServiceRef dropped = nullptr) {
        dropped = dropped != nullptr ? dropped : lost;
        ClosePeer(dropped);
        EXPECT_TRUE(WaitFor([&] { return DeallocateCount(dropped) == 1; })) << what;
        Sleep(300);
        EXPECT_EQ(Find(function, what).reference, lost) << what << ": before its second";
        g_rawMilliSec += 1000;
        EXPECT_TRUE(WaitFor([&] { return Find(function, what).reference != lost; })) << what;
        return Find(function, what).reference;
    };
    BrowseRtsp();
    const DNSServiceRef types =
        reopened("Browse", "_services._dns-sd._udp", Find("Browse", "_services._dns-sd._udp").reference);
    corvane = reopened("Browse", kCorvaneType, corvane);
    EXPECT_EQ(lostLines(L"IterateServiceTypes"), 1);
    EXPECT_EQ(lostLines(L"IterateServiceInstances CorvaneSession on interface 7"), 1);
    // The browses opened again serve as the first ones did.
    BrowseReply(types, kDNSServiceFlagsAdd, 7, 0, "_rtsp", "_tcp.local.", "."); // browsed already
    BrowseReply(corvane, kDNSServiceFlagsAdd, 7, 0, "Studio A", kCorvaneType, "local.");
    ASSERT_TRUE(WaitFor([] { return Find("Resolve", "Studio A").reference != nullptr; }));

    // A resolve lost goes back to its queue; so does the resolve of a lookup lost.
    const DNSServiceRef resolve = reopened("Resolve", "Studio A", Find("Resolve", "Studio A").reference);
    ResolveReply(resolve, 0, 7, 0, "Studio\\032A._rtsp._tcp.local.", "sender1.local.", 8554);
    ASSERT_TRUE(WaitFor([] { return Find("GetAddrInfo", "sender1.local.").reference != nullptr; }));
    const DNSServiceRef again =
        reopened("Resolve", "Studio A", resolve, Find("GetAddrInfo", "sender1.local.").reference);
    ResolveReply(again, 0, 7, 0, "Studio\\032A._rtsp._tcp.local.", "sender2.local.", 8554);
    ASSERT_TRUE(WaitFor([] { return Find("GetAddrInfo", "sender2.local.").reference != nullptr; }));
    AddressReply(Find("GetAddrInfo", "sender2.local.").reference, 0, 0, "sender2.local.", "10.77.0.3");
    Corvane::CStreamInfo* record = browser->FindStreamInfo(L"Studio A", 7, 1);
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(WaitFor([&] { return record->m_Resolved == 1; }));
    EXPECT_EQ(Text(record->GetStreamRTSPURL()), L"rtsp://10.77.0.3:8554/by-name/Studio%20A");
    EXPECT_EQ(lostLines(L"ResolveInstance Studio A"), 1);
    EXPECT_EQ(lostLines(L"GetAddress Studio A"), 1);

    // A browse opened again hears what the daemon knows once more: the listed instance stays as it is
    // (the same record, resolved, nothing removed), so its stream and its announcing go on.
    corvane = reopened("Browse", kCorvaneType, corvane);
    BrowseReply(corvane, kDNSServiceFlagsAdd, 7, 0, "Studio A", kCorvaneType, "local.");
    ASSERT_TRUE(WaitFor([&] { return Contains(ReadLogLines(folder), L"stream already exists, kept"); }));
    EXPECT_EQ(browser->FindStreamInfo(L"Studio A", 7, 1), record);
    EXPECT_EQ(record->m_Resolved, 1);
    EXPECT_EQ(Records(), 1u);
    EXPECT_FALSE(Contains(ReadLogLines(folder), L"stream already exists => remove"));

    // With the daemon gone for a while: one line for the drop, and tries every second until it is back.
    FailNext("Browse", kDNSServiceErr_ServiceNotRunning);
    const int before = Attempts("Browse");
    ClosePeer(corvane);
    ASSERT_TRUE(WaitFor([&] { return DeallocateCount(corvane) == 1; }));
    g_rawMilliSec += 1000;
    ASSERT_TRUE(WaitFor([&] { return Attempts("Browse") == before + 1; }));
    g_rawMilliSec += 1000;
    ASSERT_TRUE(WaitFor([&] { return Find("Browse", kCorvaneType).reference != corvane; }));
    EXPECT_EQ(lostLines(L"IterateServiceInstances CorvaneSession on interface 7"), 3);
    EXPECT_FALSE(Contains(ReadLogLines(folder), L"CorvaneSession on interface 7, DNSServiceBrowse = "));

    // A browse lost just before Close is not opened again.
    corvane = Find("Browse", kCorvaneType).reference;
    ClosePeer(corvane);
    ASSERT_TRUE(WaitFor([&] { return DeallocateCount(corvane) == 1; }));
    const int attempts = Attempts("Browse");
    browser->Close();
    g_rawMilliSec += 2000;
    Sleep(300);
    EXPECT_EQ(Attempts("Browse"), attempts);
}

TEST_F(BrowserTest, ATypeEnumerationRefusedAtInitIsTriedAgainASecondLater)
{
    g_rawMilliSec = 0;
    manager->SetMilliSecSource(&RawMilliSec);
    FailNext("Browse", kDNSServiceErr_ServiceNotRunning);
    EXPECT_TRUE(browser->Init(&manager->m_CorvaneManager));
    EXPECT_EQ(Attempts("Browse"), 1);
    Sleep(300);
    EXPECT_EQ(Find("Browse", "_services._dns-sd._udp").reference, nullptr);
    g_rawMilliSec += 1000;
    ASSERT_TRUE(WaitFor([] { return Find("Browse", "_services._dns-sd._udp").reference != nullptr; }));
    const Call types = Find("Browse", "_services._dns-sd._udp");
    EXPECT_EQ(types.interfaceIndex, 7u);
    BrowseReply(types.reference, kDNSServiceFlagsAdd, 7, 0, "_rtsp", "_tcp.local.", ".");
    EXPECT_TRUE(WaitFor([] { return Find("Browse", kCorvaneType).reference != nullptr; }));
    EXPECT_TRUE(
        Contains(ReadLogLines(folder), L"CStreamBrowser::Init() errTypes = -65563, trying again in 1 s"));
}

TEST_F(BrowserTest, AtMostABoundedNumberOfResolvesAndLookupsAreOpenTheOthersWaitTheirTurn)
{
    BrowseRtsp();
    browser->m_RequestStarts.SetLimit(3);
    const int count = 8;
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        names.push_back("Burst " + std::to_string(i));
    }
    for (const std::string& name : names) {
        BrowseReply(corvane, kDNSServiceFlagsAdd, 7, 0, name.c_str(), kCorvaneType, "local.");
    }
    ASSERT_TRUE(WaitFor([this] { return Records() == 8u; }));
    Sleep(200);
    const std::vector<Call> first = Calls();
    EXPECT_EQ(std::count_if(first.begin(), first.end(),
                            [](const Call& call) { return call.function == "Resolve"; }),
              3);
    // Every request is answered as soon as it is open; never more than three are.
    std::set<DNSServiceRef> answered;
    const auto resolved = [&] {
        return std::all_of(names.begin(), names.end(), [&](const std::string& name) {
            Corvane::CStreamInfo* record = browser->FindStreamInfo(name.c_str(), 7, 1);
            return record != nullptr && record->m_Resolved == 1;
        });
    };
    for (int round = 0; round < 500 && !resolved(); ++round) {
        EXPECT_LE(InstanceThreads(), 3u);
        for (const Call& call : Calls()) {
            if (!answered.insert(call.reference).second) {
                continue;
            }
            if (call.function == "Resolve") {
                ResolveReply(call.reference, 0, 7, 0, "x._rtsp._tcp.local.", "sender1.local.", 8554);
            } else if (call.function == "GetAddrInfo") {
                AddressReply(call.reference, 0, 0, "sender1.local.", "10.77.0.2");
            }
        }
        Sleep(20);
    }
    EXPECT_TRUE(resolved());
    // A lookup finishes what its resolve began: the first three go before the fourth resolve.
    const std::vector<Call> calls = Calls();
    const auto position = [&](const std::string& function, int nth) {
        int seen = 0;
        for (size_t i = 0; i < calls.size(); ++i) {
            if (calls[i].function == function && ++seen == nth) {
                return i;
            }
        }
        return calls.size();
    };
    EXPECT_LT(position("GetAddrInfo", 3), position("Resolve", 4));
    EXPECT_TRUE(WaitFor([this] { return InstanceThreads() == 0u; }));
}

TEST_F(BrowserTest, AnAddressThatMatchesNoInterfaceIsRefused)
{
    manager->m_NicIP = L"10.9.9.9";
    EXPECT_FALSE(browser->Init(&manager->m_CorvaneManager));
    EXPECT_TRUE(
        Contains(WaitForLogLine(folder, L"errTypes = "), L"CStreamBrowser::Init() errTypes = -65552"));
}

TEST_F(BrowserTest, WorkersEndOnceAndAreNeverFreedWhileTheyRun)
{
    ASSERT_TRUE(browser->Init(&manager->m_CorvaneManager));
    // Done before the worker ran: stopped and deallocated once.
    for (int i = 0; i < 20; ++i) {
        DNSServiceRef reference = OpenReference();
        Corvane::CServiceThread* thread = new Corvane::CServiceThread(nullptr, L"early", L"", -1, reference);
        thread->m_Done = 1;
        EXPECT_TRUE(thread->StopProcessingThread());
        delete thread;
        EXPECT_EQ(DeallocateCount(reference), 1);
    }

    // A stop from the worker's own callback is refused; the worker ends after the callback.
    DNSServiceRef own = OpenReference();
    Corvane::CServiceThread* ownThread = AddThread(L"own", own);
    BOOL stopResult = TRUE;
    Reply(own, [&] {
        browser->SetServiceThreadDone(own);
        stopResult = ownThread->StopProcessingThread();
    });
    EXPECT_TRUE(WaitFor([&] { return DeallocateCount(own) == 1; }));
    EXPECT_FALSE(stopResult);

    // The daemon's end goes away: one failed read, the worker marks itself done and is reaped.
    DNSServiceRef closed = OpenReference();
    AddThread(L"closed", closed);
    ClosePeer(closed);
    EXPECT_TRUE(WaitFor([&] { return DeallocateCount(closed) == 1; }));
    EXPECT_EQ(ProcessCount(closed), 1);

    // A worker stuck in a callback is tried again later, never deleted under it.
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DNSServiceRef stuck = OpenReference();
    Corvane::CServiceThread* stuckThread = AddThread(L"stuck", stuck);
    stuckThread->m_StopRounds = 5;
    Reply(stuck, [&] { WaitForSingleObject(release, INFINITE); });
    ASSERT_TRUE(WaitFor([&] { return ProcessCount(stuck) == 1; }));
    browser->SetServiceThreadDone(stuck);
    ASSERT_TRUE(Contains(WaitForLogLine(folder, L"stuck, cannot stop processing"), L"stuck, cannot"));
    EXPECT_TRUE(WaitFor([&] { return ServiceThreads() == 2u; })); // the enumeration and the stuck one
    SetEvent(release);
    EXPECT_TRUE(WaitFor([&] { return DeallocateCount(stuck) == 1 && ServiceThreads() == 1; }));

    // At Close as well: the stuck worker keeps its object until it has ended.
    ResetEvent(release);
    stuck = OpenReference();
    stuckThread = AddThread(L"stuck at close", stuck);
    stuckThread->m_StopRounds = 5;
    Reply(stuck, [&] { WaitForSingleObject(release, INFINITE); });
    ASSERT_TRUE(WaitFor([&] { return ProcessCount(stuck) == 1; }));
    browser->m_CloseRounds = 3;
    browser->Close();
    // Close keeps it, or the housekeeping thread does when it holds the worker at that moment.
    EXPECT_TRUE(WaitFor([&] {
        const std::vector<std::wstring> lines = ReadLogLines(folder);
        return Contains(lines, L"stuck at close still running, kept until it ends") ||
               Contains(lines, L"stuck at close, cannot stop processing");
    }));
    EXPECT_EQ(stuckThread->m_ThreadName, L"stuck at close"); // still readable
    SetEvent(release);
    EXPECT_TRUE(WaitFor([&] { return DeallocateCount(stuck) == 1; }));
    CloseHandle(release);
}

TEST_F(BrowserTest, AWorkerStillRunningWhenTheBrowserIsDestroyedIsNeitherFreedNorPointingBack)
{
    // What the housekeeping thread failed to stop goes back to the list, possibly after Close emptied
    // it: the destructor must treat it as Close treats a stuck worker.
    struct Probe : Corvane::CServiceThread
    {
        using Corvane::CServiceThread::CServiceThread;
        ~Probe() override { *deleted = true; }
        bool* deleted = nullptr;
    };
    bool deleted = false;
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DNSServiceRef stuck = OpenReference();
    Probe* probe = nullptr;
    {
        Corvane::CStreamBrowser doomed;
        probe = new Probe(&doomed, L"stuck at destruction", L"", -1, stuck);
        probe->deleted = &deleted;
        probe->m_StopRounds = 5;
        doomed.m_ServiceThreads.push_back(probe);
        Reply(stuck, [&] { WaitForSingleObject(release, INFINITE); });
        EXPECT_TRUE(WaitFor([&] { return ProcessCount(stuck) == 1; }));
    }
    EXPECT_FALSE(deleted);
    EXPECT_EQ(probe->m_pOwner, nullptr);
    SetEvent(release);
    EXPECT_TRUE(WaitFor([&] { return DeallocateCount(stuck) == 1; }));
    EXPECT_TRUE(probe->StopProcessingThread());
    delete probe;
    CloseHandle(release);
}

} // namespace

namespace {

// One instance through browse, resolve and a timed-out address lookup; its add message handled.
void FindAndLose(Corvane::CStreamBrowser* browser, CVelmoraManager& manager, DNSServiceRef corvane,
                 const std::string& name)
{
    BrowseReply(corvane, kDNSServiceFlagsAdd, 7, 0, name.c_str(), kCorvaneType, "local.");
    ASSERT_TRUE(WaitFor([&] { return Find("Resolve", name).reference != nullptr; }));
    ResolveReply(Find("Resolve", name).reference, 0, 7, 0, (name + "._rtsp._tcp.local.").c_str(),
                 "gone.local.", 8554);
    ASSERT_TRUE(WaitFor([] { return Find("GetAddrInfo", "gone.local.").reference != nullptr; }));
    AddressReply(Find("GetAddrInfo", "gone.local.").reference, 0, kDNSServiceErr_Timeout, "gone.local.",
                 nullptr);
    Tick(manager, 1100); // the add: a stream holds the record
    BrowseReply(corvane, 0, 7, 0, name.c_str(), kCorvaneType, "local.");
    ASSERT_TRUE(WaitFor([&] { return browser->FindStreamInfo(CMfxString(name.c_str()), 7, 1) == nullptr; }));
    Tick(manager, 1); // the remove
}

} // namespace

TEST_F(BrowserTest, ARecordIsFreedByWhicheverHolderLetsGoLast)
{
    BrowseRtsp();
    g_rawMilliSec = 0;
    manager->SetMilliSecSource(&RawMilliSec);
    const LONG before = Corvane::CStreamInfo::LiveCount();

    // Senders that come and go: list, messages, streams and workers all let go in the end.
    for (int i = 0; i < 10; ++i) {
        Reset(); // Find sees this round's calls only
        FindAndLose(browser, *manager, corvane, "Churn " + std::to_string(i));
        for (int round = 0; round < 5; ++round) {
            Tick(*manager, 1000); // removed streams leave the table
        }
    }
    // One that leaves before its add is handled: the remove cancels the add.
    BrowseReply(corvane, kDNSServiceFlagsAdd, 7, 0, "Brief", kCorvaneType, "local.");
    ASSERT_TRUE(WaitFor([this] { return Records() == 1; }));
    BrowseReply(corvane, 0, 7, 0, "Brief", kCorvaneType, "local.");
    ASSERT_TRUE(WaitFor([this] { return Records() == 0 && Messages() == 0; }));
    EXPECT_TRUE(WaitFor([&] { return Corvane::CStreamInfo::LiveCount() == before; }))
        << Corvane::CStreamInfo::LiveCount() - before << " records left";

    // A stream keeps its record past the browser's list and Close, and frees it when it goes.
    BrowseReply(corvane, kDNSServiceFlagsAdd, 7, 0, "Kept", kCorvaneType, "local.");
    ASSERT_TRUE(WaitFor([this] { return Messages() == 1; }));
    Tick(*manager, 1100);
    ASSERT_EQ(manager->m_Streams.size(), 1u);
    browser->Close();
    EXPECT_EQ(Text(manager->m_Streams[0]->m_pStreamInfo->GetName()), L"Kept");
    EXPECT_EQ(Corvane::CStreamInfo::LiveCount(), before + 1);
    manager.reset();
    EXPECT_EQ(Corvane::CStreamInfo::LiveCount(), before);
}

TEST_F(BrowserTest, InstancesAnnouncedUnderBothSubtypesAtOnceNeverUseAFreedRecord)
{
    // Both browses see each instance from one datagram: the second reply takes the first one's record
    // out of the list while the first callback is still making its resolve, and the removes may come
    // while a resolve is being opened. Every record is counted: one used after its last reference went
    // shows as a record freed twice or never; a resolve the remove missed stays open.
    BrowseRtsp();
    g_rawMilliSec = 0;
    manager->SetMilliSecSource(&RawMilliSec);
    const LONG before = Corvane::CStreamInfo::LiveCount();
    const int count = 400;
    for (int round = 0; round < 2; ++round) {
        std::vector<std::string> names;
        for (int i = 0; i < count; ++i) {
            names.push_back("Twin " + std::to_string(round) + "." + std::to_string(i));
        }
        for (const std::string& name : names) {
            BrowseReply(corvane, kDNSServiceFlagsAdd, 7, 0, name.c_str(), kCorvaneType, "local.");
            BrowseReply(zint, kDNSServiceFlagsAdd, 7, 0, name.c_str(), kZintType, "local.");
        }
        for (const std::string& name : names) {
            BrowseReply(corvane, 0, 7, 0, name.c_str(), kCorvaneType, "local.");
            BrowseReply(zint, 0, 7, 0, name.c_str(), kZintType, "local.");
        }
        ASSERT_TRUE(WaitFor([&] { return ProcessCount(corvane) >= 2 * count * (round + 1); }, 60000));
        ASSERT_TRUE(WaitFor([&] { return ProcessCount(zint) >= 2 * count * (round + 1); }, 60000));
        ASSERT_TRUE(WaitFor([this] { return Records() == 0; }));
        Tick(*manager, 1); // the removes due now
        // Every resolve either opened and was ended with its instance, or was dropped unopened.
        ASSERT_TRUE(WaitFor(
            [this] {
                return InstanceThreads() == 0 && browser->m_RequestStarts.Waiting() == 0 &&
                       browser->m_RequestStarts.Running() == 0;
            },
            10000))
            << InstanceThreads() << " requests still open";
    }
    EXPECT_EQ(Messages(), 0u);
    EXPECT_TRUE(WaitFor([&] { return Corvane::CStreamInfo::LiveCount() == before; }))
        << Corvane::CStreamInfo::LiveCount() - before << " records left";
}

TEST_F(BrowserTest, RtspLeavingRemovesEveryRecordOfTheInterfaceEvenPastOneGoneMeanwhile)
{
    BrowseRtsp();
    for (const char* name : {"A", "B", "C", "D"}) {
        BrowseReply(corvane, kDNSServiceFlagsAdd, 7, 0, name, kCorvaneType, "local.");
    }
    ASSERT_TRUE(WaitFor([this] { return Records() == 4; }));
    // A removal list whose first and third records have left the list already.
    std::vector<Corvane::CStreamInfoRef> found;
    for (const wchar_t* name : {L"A", L"B", L"C", L"D"}) {
        found.emplace_back(browser->FindStreamInfo(name, 7, 1));
    }
    ASSERT_TRUE(browser->RemoveStreamInfo(found[0]));
    ASSERT_TRUE(browser->RemoveStreamInfo(found[2]));
    EXPECT_EQ(browser->RemoveStreamInfos(found), 2);
    EXPECT_EQ(Records(), 0u);

    // The same through "_rtsp" leaving, with a browse remove racing it.
    for (const char* name : {"E", "F", "G"}) {
        BrowseReply(corvane, kDNSServiceFlagsAdd, 7, 0, name, kCorvaneType, "local.");
    }
    ASSERT_TRUE(WaitFor([this] { return Records() == 3; }));
    BrowseReply(Find("Browse", "_services._dns-sd._udp").reference, 0, 7, 0, "_rtsp", "_tcp.local.", ".");
    BrowseReply(corvane, 0, 7, 0, "F", kCorvaneType, "local.");
    EXPECT_TRUE(WaitFor([this] { return Records() == 0; }));
}

TEST_F(BrowserTest, AResolvedSenderIsResolvedAgainAndItsNewPortAndAddressAreTaken)
{
    g_rawMilliSec = 0;
    manager->SetMilliSecSource(&RawMilliSec);
    BrowseRtsp();
    BrowseReply(corvane, kDNSServiceFlagsAdd, 7, 0, "Mover", kCorvaneType, "local.");
    ASSERT_TRUE(WaitFor([] { return Find("Resolve", "Mover").reference != nullptr; }));
    ResolveReply(Find("Resolve", "Mover").reference, 0, 7, 0, "Mover._rtsp._tcp.local.", "host1.local.",
                 8554);
    ASSERT_TRUE(WaitFor([] { return Find("GetAddrInfo", "host1.local.").reference != nullptr; }));
    AddressReply(Find("GetAddrInfo", "host1.local.").reference, 0, 0, "host1.local.", "10.77.0.2");
    Corvane::CStreamInfo* record = browser->FindStreamInfo(L"Mover", 7, 1);
    ASSERT_NE(record, nullptr);
    ASSERT_TRUE(WaitFor([&] { return record->m_Resolved == 1; }));
    EXPECT_EQ(record->GetMoves(), 0);
    Sleep(1200); // a housekeeping round sets the first re-check's time

    auto resolves = [] {
        int count = 0;
        for (const Call& call : Calls()) {
            count += call.function == "Resolve" && call.name == "Mover" ? 1 : 0;
        }
        return count;
    };
    struct Step
    {
        const char* host;
        uint16_t port;
        const char* address; // null: the lookup times out
        LONG moves;
        const wchar_t* url;
    } steps[] = {
        {"h1.local.", 8554, "10.77.0.2", 0, L"rtsp://10.77.0.2:8554/by-name/Mover"}, // nothing changed
        {"h2.local.", 9554, "10.77.0.2", 1, L"rtsp://10.77.0.2:9554/by-name/Mover"}, // a new port
        {"h3.local.", 9554, "10.77.0.3", 2, L"rtsp://10.77.0.3:9554/by-name/Mover"}, // a new address
        {"h4.local.", 9554, nullptr, 2, L"rtsp://10.77.0.3:9554/by-name/Mover"},     // no answer
    };
    int opened = 1;
    for (const Step& step : steps) {
        g_rawMilliSec += static_cast<DWORD>(Corvane::CStreamBrowser::kCheckPeriod) + 1000;
        ASSERT_TRUE(WaitFor([&] { return resolves() == opened + 1; })) << step.port;
        ++opened;
        ResolveReply(Find("Resolve", "Mover").reference, 0, 7, 0, "Mover._rtsp._tcp.local.", step.host,
                     step.port);
        ASSERT_TRUE(WaitFor([&] { return Find("GetAddrInfo", step.host).reference != nullptr; }));
        const DNSServiceRef lookup = Find("GetAddrInfo", step.host).reference;
        if (step.address != nullptr) {
            AddressReply(lookup, 0, 0, step.host, step.address);
        } else {
            AddressReply(lookup, 0, kDNSServiceErr_Timeout, step.host, nullptr);
        }
        ASSERT_TRUE(WaitFor([&] { return DeallocateCount(lookup) == 1; }));
        EXPECT_EQ(record->GetMoves(), step.moves) << step.port;
        EXPECT_EQ(Text(record->GetStreamRTSPURL()), step.url);
    }

    // A re-check that gets no answer is ended after its time limit.
    g_rawMilliSec += static_cast<DWORD>(Corvane::CStreamBrowser::kCheckPeriod) + 1000;
    ASSERT_TRUE(WaitFor([&] { return resolves() == opened + 1; }));
    const DNSServiceRef silent = Find("Resolve", "Mover").reference;
    Sleep(1500);
    EXPECT_EQ(DeallocateCount(silent), 0);
    g_rawMilliSec += static_cast<DWORD>(Corvane::CStreamBrowser::kCheckTimeLimit) + 1;
    EXPECT_TRUE(WaitFor([&] { return DeallocateCount(silent) == 1; }));
}

// Resolve calls of an instance so far.
int ResolveCalls(const std::string& name)
{
    int count = 0;
    for (const Call& call : Calls()) {
        count += call.function == "Resolve" && call.name == name ? 1 : 0;
    }
    return count;
}

TEST_F(BrowserTest, AnUnansweredResolveOrLookupGivesItsPlaceBackAndIsTriedAgainLessAndLessOften)
{
    g_rawMilliSec = 0;
    manager->SetMilliSecSource(&RawMilliSec);
    BrowseRtsp();
    browser->m_RequestStarts.SetLimit(2);
    // A sender whose host's address lookup times out.
    BrowseReply(corvane, kDNSServiceFlagsAdd, 7, 0, "Hostless", kCorvaneType, "local.");
    ASSERT_TRUE(WaitFor([] { return ResolveCalls("Hostless") == 1; }));
    ResolveReply(Find("Resolve", "Hostless").reference, 0, 7, 0, "Hostless._rtsp._tcp.local.", "gone.local.",
                 8554);
    ASSERT_TRUE(WaitFor([] { return Find("GetAddrInfo", "gone.local.").reference != nullptr; }));
    AddressReply(Find("GetAddrInfo", "gone.local.").reference, 0, kDNSServiceErr_Timeout, "gone.local.",
                 nullptr);
    ASSERT_TRUE(WaitFor([this] { return InstanceThreads() == 0u; }));
    // Two resolves that never answer take every place: a newcomer waits.
    for (const char* name : {"Silent A", "Silent B"}) {
        BrowseReply(corvane, kDNSServiceFlagsAdd, 7, 0, name, kCorvaneType, "local.");
        ASSERT_TRUE(WaitFor([&] { return ResolveCalls(name) == 1; })) << name;
    }
    BrowseReply(corvane, kDNSServiceFlagsAdd, 7, 0, "Newcomer", kCorvaneType, "local.");
    ASSERT_TRUE(WaitFor([this] { return Records() == 4u; }));
    Sleep(300);
    EXPECT_EQ(ResolveCalls("Newcomer"), 0) << "every place is taken";

    // Past the time limit the silent resolves give their places back: the newcomer is resolved.
    const DWORD limit = static_cast<DWORD>(Corvane::CStreamBrowser::kCheckTimeLimit);
    const DWORD pause = static_cast<DWORD>(Corvane::CStreamBrowser::kFirstRetryPause);
    const DNSServiceRef silentA = Find("Resolve", "Silent A").reference;
    g_rawMilliSec = limit + 1;
    ASSERT_TRUE(WaitFor([] { return ResolveCalls("Newcomer") == 1; }));
    EXPECT_TRUE(WaitFor([&] { return DeallocateCount(silentA) == 1; }));
    ASSERT_TRUE(Answer("Newcomer", "new.local.", "10.77.0.9"));

    // Each stays listed and is resolved again after 30 s, then after 60 s.
    const auto tries = [](const std::vector<const char*>& names, DWORD at, int calls) {
        g_rawMilliSec = at;
        Sleep(600);
        return WaitFor([&] {
            return std::all_of(names.begin(), names.end(),
                               [&](const char* name) { return ResolveCalls(name) == calls; });
        });
    };
    EXPECT_TRUE(tries({"Hostless"}, pause - 1, 1));
    EXPECT_TRUE(tries({"Hostless"}, pause + 1, 2));
    EXPECT_TRUE(tries({"Silent A", "Silent B"}, limit + pause, 1));
    // The second try of the hostless one goes unanswered too; the silent ones take their turn.
    EXPECT_TRUE(tries({"Silent A", "Silent B"}, limit + pause + 2, 2));
    g_rawMilliSec = 2 * limit + pause + 3; // their second tries go unanswered too
    ASSERT_TRUE(WaitFor([] { return DeallocateCount(Find("Resolve", "Silent A").reference) == 1; }));
    EXPECT_TRUE(tries({"Hostless"}, limit + 3 * pause, 2));
    EXPECT_TRUE(tries({"Hostless"}, limit + 3 * pause + 2, 3));
    EXPECT_TRUE(tries({"Silent A", "Silent B"}, 2 * limit + 3 * pause + 2, 2));
    EXPECT_TRUE(tries({"Silent A", "Silent B"}, 2 * limit + 3 * pause + 4, 3));
    EXPECT_EQ(Records(), 4u);

    // One line for each instance, not one for each try; an answer ends the pauses.
    const std::vector<std::wstring> lines = ReadLogLines(folder);
    for (const std::wstring name : {L"Silent A", L"Silent B", L"Hostless"}) {
        const std::wstring line = L"stream " + name + L" is not answered, tried again in 30 s";
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [&](const std::wstring& l) { return l.find(line) != std::wstring::npos; }),
                  1)
            << Text(CMfxString(name.c_str()));
    }
    ASSERT_TRUE(Answer("Silent A", "back.local.", "10.77.0.8"));
    Corvane::CStreamInfo* returned = browser->FindStreamInfo(L"Silent A", 7, 1);
    CSingleLock lock(&browser->m_StreamInfosLock, TRUE);
    EXPECT_EQ(returned->m_RetryPause, 0u);
}

TEST_F(BrowserTest, ReChecksGoRoundEveryRecordTheLongestWaitingFirst)
{
    g_rawMilliSec = 0;
    manager->SetMilliSecSource(&RawMilliSec);
    BrowseRtsp();
    const int count = 12;
    const auto name = [](int i) { return "Round " + std::to_string(i); };
    std::set<DNSServiceRef> answered;
    // Answers every open resolve and lookup (of the same place) and returns the instances resolved.
    const auto answerAll = [&] {
        std::vector<std::string> names;
        for (const Call& call : Calls()) {
            if (call.function != "Resolve" || !answered.insert(call.reference).second) {
                continue;
            }
            names.push_back(call.name);
            const std::string host = call.name.substr(6) + ".local.";
            ResolveReply(call.reference, 0, 7, 0, (call.name + "._rtsp._tcp.local.").c_str(), host.c_str(),
                         8554);
            EXPECT_TRUE(WaitFor([&] {
                const Call lookup = Find("GetAddrInfo", host);
                return lookup.reference != nullptr && answered.count(lookup.reference) == 0;
            }));
            const Call lookup = Find("GetAddrInfo", host);
            answered.insert(lookup.reference);
            AddressReply(lookup.reference, 0, 0, host.c_str(), "10.77.0.2");
            EXPECT_TRUE(WaitFor([&] { return DeallocateCount(lookup.reference) == 1; }));
        }
        return names;
    };
    for (int i = 0; i < count; ++i) {
        BrowseReply(corvane, kDNSServiceFlagsAdd, 7, 0, name(i).c_str(), kCorvaneType, "local.");
        ASSERT_TRUE(WaitFor([&] { return ResolveCalls(name(i)) == 1; }));
    }
    EXPECT_EQ(answerAll().size(), static_cast<size_t>(count));
    Sleep(1200); // a housekeeping round sets the first re-check times
    {
        // The first four were re-checked last.
        CSingleLock lock(&browser->m_StreamInfosLock, TRUE);
        ASSERT_EQ(browser->m_StreamInfos.size(), static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            browser->m_StreamInfos[i]->m_NextCheck = i < 4 ? 50000 : 10000;
        }
    }
    g_rawMilliSec = 60000;
    std::set<std::string> checked;
    for (int round = 0; round < 3; ++round) {
        const auto resolves = [] {
            const std::vector<Call> calls = Calls();
            return std::count_if(calls.begin(), calls.end(),
                                 [](const Call& c) { return c.function == "Resolve"; });
        };
        ASSERT_TRUE(WaitFor([&] { return resolves() == count + 4 * (round + 1); })) << round;
        Sleep(300);
        EXPECT_EQ(resolves(), count + 4 * (round + 1)) << "at most four at once";
        for (const std::string& again : answerAll()) {
            const int index = std::stoi(again.substr(6));
            EXPECT_EQ(index < 4, round == 2) << again << " in round " << round;
            EXPECT_TRUE(checked.insert(again).second) << again << " twice";
        }
    }
    EXPECT_EQ(checked.size(), static_cast<size_t>(count));
}

TEST_F(BrowserTest, CloseEndsTheResolvesUnderWayAtOnceAndOpensNoMoreReChecks)
{
    g_rawMilliSec = 0;
    manager->SetMilliSecSource(&RawMilliSec);
    BrowseRtsp();
    // Many resolved senders, all due for their re-check, and first resolves that get no answer.
    const size_t count = 60;
    std::vector<std::string> names; // the replies read them later
    for (size_t i = 0; i < count; ++i) {
        names.push_back("Found " + std::to_string(i));
    }
    for (const std::string& name : names) {
        BrowseReply(corvane, kDNSServiceFlagsAdd, 7, 0, name.c_str(), kCorvaneType, "local.");
    }
    ASSERT_TRUE(WaitFor([this] { return Records() == count; }));
    {
        CSingleLock lock(&browser->m_StreamInfosLock, TRUE);
        for (Corvane::CStreamInfo* record : browser->m_StreamInfos) {
            record->m_Resolved = 1;
        }
    }
    const auto resolves = [] {
        const std::vector<Call> calls = Calls();
        return static_cast<size_t>(std::count_if(
            calls.begin(), calls.end(), [](const Call& call) { return call.function == "Resolve"; }));
    };
    ASSERT_TRUE(WaitFor([&] { return resolves() == Corvane::CStreamBrowser::kMaxInstanceRequests; }));
    Sleep(1200); // a housekeeping round sets the first re-check's time
    g_rawMilliSec += static_cast<DWORD>(Corvane::CStreamBrowser::kCheckPeriod) + 1000;
    // The re-checks open; so may the first resolves still waiting, as the unanswered ones give their
    // places back.
    ASSERT_TRUE(WaitFor([&] {
        return resolves() >=
               Corvane::CStreamBrowser::kMaxInstanceRequests + Corvane::CStreamBrowser::kCheckParallel;
    }));

    // Close ends what is open in its first round and opens nothing while it waits.
    const size_t before = resolves();
    browser->Close();
    EXPECT_EQ(resolves(), before);
    const std::vector<std::wstring> lines = ReadLogLines(folder);
    const auto rounds = std::count_if(lines.begin(), lines.end(), [](const std::wstring& line) {
        return line.find(L"NbWaitLoops = ") != std::wstring::npos;
    });
    EXPECT_GE(rounds, 1);
    EXPECT_LE(rounds, 10) << "waited for requests it ended itself"; // 50 when it waits them out
    EXPECT_FALSE(Contains(lines, L"still running, kept until it ends"));
    for (const Call& call : Calls()) {
        EXPECT_EQ(DeallocateCount(call.reference), 1) << call.function << " " << call.name;
    }
}

DWORD WINAPI DestroyBrowser(LPVOID browser)
{
    delete static_cast<Corvane::CStreamBrowser*>(browser);
    return 0;
}

TEST_F(BrowserTest, TheDestructorWaitsForCallbacksUnderWayAndLaterOnesFindNoBrowser)
{
    HANDLE entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Corvane::CStreamBrowser* doomed = new Corvane::CStreamBrowser;
    DNSServiceRef reference = OpenReference();
    Corvane::CServiceThread* worker = new Corvane::CServiceThread(doomed, L"under way", L"", -1, reference);
    worker->m_StopRounds = 5;
    doomed->m_ServiceThreads.push_back(worker);
    bool heldOne = false;
    bool laterFound = true;
    Reply(reference, [&] {
        {
            Corvane::CStreamBrowser::CUse use(doomed); // what a reply callback holds while it runs
            heldOne = use.Get() == doomed;
            SetEvent(entered);
            WaitForSingleObject(release, INFINITE);
        }
        Corvane::CStreamBrowser::CUse later(doomed);
        laterFound = later.Get() != nullptr;
        // A type reply for the gone browser opens nothing.
        Corvane::CStreamBrowser::IterateServiceTypes(nullptr, kDNSServiceFlagsAdd, 7, 0, "_rtsp",
                                                     "_tcp.local.", ".", doomed);
    });
    ASSERT_EQ(WaitForSingleObject(entered, 5000), WAIT_OBJECT_0);
    HANDLE destroyer = CreateThread(nullptr, 0, &DestroyBrowser, doomed, 0, nullptr);
    EXPECT_EQ(WaitForSingleObject(destroyer, 500), static_cast<DWORD>(WAIT_TIMEOUT))
        << "gone under a callback";
    const size_t callsBefore = Calls().size();
    SetEvent(release);
    EXPECT_EQ(WaitForSingleObject(destroyer, 20000), WAIT_OBJECT_0);
    EXPECT_TRUE(WaitFor([&] { return DeallocateCount(reference) == 1; }));
    EXPECT_TRUE(heldOne);
    EXPECT_FALSE(laterFound);
    EXPECT_EQ(Calls().size(), callsBefore);
    CloseHandle(destroyer);
    CloseHandle(entered);
    CloseHandle(release);
}
