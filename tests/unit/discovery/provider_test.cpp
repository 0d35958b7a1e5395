// The discovery manager's chain with the daemon host, and the stream provider's registrations,
// against the DNS-SD fake.
#include "discovery/CorvaneManager.h"
#include "dnssd/responder.h"
#include "discovery_fixture.h"
#include "gateway/VelmoraStream.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace dnssd_fake;
using namespace fake_interfaces;
using namespace manager_test;

namespace {

const wchar_t kStreamType[] = L"_rtsp._tcp,_corvane_session";

size_t Count(const std::vector<std::wstring>& lines, const std::wstring& text)
{
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::wstring& line) {
        return line.find(text) != std::wstring::npos;
    }));
}

class DiscoveryTest : public DiscoveryFixture
{
protected:
    Corvane::CStreamProvider& Provider() { return manager->m_CorvaneManager.m_StreamProvider; }
};

TEST_F(DiscoveryTest, TheGatewayAndItsStreamsAreRegisteredAndWithdrawnOnce)
{
    StartManager(L"APPLE");
    // Before Init (as after a failed chain) nothing is registered.
    DWORD handle = 7;
    EXPECT_FALSE(Provider().RegisterStream(handle, 8554, L"10.77.0.1", L"Studio B", kStreamType));
    EXPECT_FALSE(Provider().UnregisterStream(handle));
    EXPECT_TRUE(Calls().empty());

    ASSERT_TRUE(manager->m_CorvaneManager.Init(manager.get()));
    EXPECT_EQ(manager->m_CorvaneManager.m_BonjourHandler.GetProcessingThreadId() != CWorkerThread::kNoThread,
              true);
    const std::string name = std::string("Velmora (on ") + CMfxString(GetLocalComputerName()).GetAnsi() + ")";
    std::vector<Call> registrations;
    for (const Call& call : Calls()) {
        if (call.function == "Register") {
            registrations.push_back(call);
        }
    }
    const char* const types[] = {"_http._tcp", "_rtsp._tcp", "_http._tcp,_corvane", "_rtsp._tcp,_corvane"};
    ASSERT_EQ(registrations.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(registrations[i].regtype, types[i]);
        EXPECT_EQ(registrations[i].name, name);
        EXPECT_EQ(registrations[i].port, 8080);
        EXPECT_EQ(registrations[i].flags, 0u);
        EXPECT_EQ(registrations[i].interfaceIndex, 7u);
    }

    // A stream on the RTSP port, unique; withdrawn once.
    manager->m_RTSPPort = 8554;
    ASSERT_TRUE(Provider().RegisterStream(handle, 8554, L"10.77.0.1", L"Studio B", kStreamType));
    const Call stream = Calls().back();
    EXPECT_EQ(stream.name, "Studio B");
    EXPECT_EQ(stream.regtype, "_rtsp._tcp,_corvane_session");
    EXPECT_EQ(stream.port, 8554);
    EXPECT_EQ(stream.flags, static_cast<DNSServiceFlags>(kDNSServiceFlagsUnique));
    EXPECT_EQ(handle, static_cast<DWORD>(reinterpret_cast<uintptr_t>(stream.reference)));

    // The daemon's replies are read and logged, a rename included.
    RegisterReply(stream.reference, kDNSServiceFlagsAdd, 0, "Studio B (2)", "_rtsp._tcp.");
    ASSERT_TRUE(WaitFor([this] {
        return Count(ReadLogLines(folder),
                     L"name = Studio B (2), regtype = _rtsp._tcp., domain = local., flags = "
                     L"0x00000002, errorCode = 0") == 1;
    }));

    EXPECT_TRUE(Provider().UnregisterStream(handle));
    EXPECT_FALSE(Provider().UnregisterStream(handle));
    EXPECT_EQ(DeallocateCount(stream.reference), 1);

    manager->m_CorvaneManager.Exit();
    EXPECT_EQ(gResponderRunning, 0);
    for (const Call& call : registrations) {
        EXPECT_EQ(DeallocateCount(call.reference), 1);
    }
    EXPECT_FALSE(Provider().UnregisterStream(
        static_cast<DWORD>(reinterpret_cast<uintptr_t>(registrations[0].reference))));
}

TEST_F(DiscoveryTest, AFailedRegistrationFailsTheChainButTheOthersStay)
{
    StartManager(L"APPLE");
    FailNext("Register", kDNSServiceErr_NameConflict);
    EXPECT_FALSE(manager->m_CorvaneManager.Init(manager.get()));
    manager->m_CorvaneManager.Exit();
    const std::vector<std::wstring> lines = WaitForLogLine(folder, L"CCorvaneManager::Exit() done");
    EXPECT_EQ(Count(lines, L", _http._tcp = -65548"), 1u);
    EXPECT_EQ(Count(lines, L"CCorvaneManager::Init() Stream browser init OK"), 1u);
    EXPECT_EQ(Count(lines, L"CCorvaneManager::Init() Stream provider init failed"), 1u);
}

TEST_F(DiscoveryTest, WithoutADaemonOrWithDiscoveryOffEveryStepFails)
{
    struct Case
    {
        const wchar_t* mode;
        bool daemonReady;
    };
    for (const Case& c : {Case{L"", true}, Case{L"APPLE", false}}) {
        manager.reset();
        StartManager(c.mode);
        SetDaemonReady(c.daemonReady);
        CCorvaneManager& discovery = manager->m_CorvaneManager;
        EXPECT_FALSE(discovery.Init(manager.get()));
        EXPECT_EQ(discovery.m_Initialised, 1);
        Tick(*manager); // the browser's tick has nothing to do
        DWORD handle = 7;
        EXPECT_FALSE(
            discovery.m_StreamProvider.RegisterStream(handle, 8080, L"10.77.0.1", L"Studio A", kStreamType));
        EXPECT_FALSE(discovery.m_StreamProvider.UnregisterStream(handle));
        EXPECT_EQ(handle, 7u);
        discovery.Exit();
        discovery.Exit();
        const std::vector<std::wstring> lines = WaitForLogLine(folder, L"CCorvaneManager::Exit() done");
        for (const wchar_t* line :
             {L"CCorvaneManager::Init() Bonjour handler init failed",
              L"CCorvaneManager::Init() Stream browser init failed",
              L"CCorvaneManager::Init() Stream provider init failed", L"CCorvaneManager::Exit() done"}) {
            EXPECT_EQ(Count(lines, line), 1u) << c.mode;
        }
        EXPECT_EQ(gResponderRunning, 0);
    }
    SetDaemonReady(true);
}

// Names go to the daemon as UTF-8; a rename after a conflict is logged with both names, and the
// registration's name is the new one from then on.
TEST_F(DiscoveryTest, NamesGoOutAsUtf8AndARenameIsKnownWithBothNames)
{
    StartManager(L"APPLE");
    ASSERT_TRUE(manager->m_CorvaneManager.Init(manager.get()));
    DWORD handle = 0;
    ASSERT_TRUE(Provider().RegisterStream(handle, 8554, L"10.77.0.1", L"B\u00fchne S\u00fcd", kStreamType));
    const Call stream = Calls().back();
    EXPECT_EQ(stream.name, "B\xc3\xbchne S\xc3\xbc"
                           "d");
    EXPECT_EQ(Text(Provider().GetRegisteredName(handle)), L"B\u00fchne S\u00fcd");
    EXPECT_EQ(Text(Provider().GetRegisteredName(handle + 1)), L"");

    // The first reply confirms the name: nothing to tell.
    RegisterReply(stream.reference, kDNSServiceFlagsAdd, 0,
                  "B\xc3\xbchne S\xc3\xbc"
                  "d",
                  "_rtsp._tcp.");
    RegisterReply(stream.reference, kDNSServiceFlagsAdd, 0,
                  "B\xc3\xbchne S\xc3\xbc"
                  "d (2)",
                  "_rtsp._tcp.");
    ASSERT_TRUE(
        WaitFor([&] { return Text(Provider().GetRegisteredName(handle)) == L"B\u00fchne S\u00fcd (2)"; }));
    const std::vector<std::wstring> lines =
        WaitForLogLine(folder, L"DNS-SD registration B\u00fchne S\u00fcd renamed to B\u00fchne S\u00fcd (2)");
    EXPECT_EQ(Count(lines, L"renamed to"), 1u);

    EXPECT_TRUE(Provider().UnregisterStream(handle));
    EXPECT_EQ(Text(Provider().GetRegisteredName(handle)), L"");
    manager->m_CorvaneManager.Exit();
}

// A stream whose registration the daemon refuses is tried again at most once a second, over one
// call each, with one log line naming it and the error; once the daemon takes it, it is registered.
TEST_F(DiscoveryTest, ARefusedStreamRegistrationIsTriedOnceASecondWithOneLogLine)
{
    StartManager(L"APPLE");
    ASSERT_TRUE(manager->m_CorvaneManager.Init(manager.get()));
    const std::wstring name(70, L'x'); // over the 63 bytes of a DNS label
    CVelmoraStream* stream = new CVelmoraStream(manager.get(), CVelmoraStream::kKindSDP, name.c_str(), L"",
                                                L"v=0\r\ns=x\r\nc=IN IP4 239.1.1.1\r\n");
    manager->AddStream(stream);
    stream->m_BonjourWanted = 1;
    const int before = Attempts("Register");
    // 3 s of 50 ms ticks, the daemon refusing every call.
    for (int tick = 0; tick < 60; ++tick) {
        FailNext("Register", kDNSServiceErr_BadParam);
        Tick(*manager);
    }
    const int attempts = Attempts("Register") - before;
    EXPECT_GE(attempts, 3);
    EXPECT_LE(attempts, 4);
    EXPECT_EQ(stream->m_BonjourRegistered, 0);
    Reset(); // the daemon takes it from now on
    for (int tick = 0; tick < 21 && stream->m_BonjourRegistered == 0; ++tick) {
        Tick(*manager);
    }
    EXPECT_EQ(stream->m_BonjourRegistered, 1);
    EXPECT_EQ(Attempts("Register"), 1);
    const std::vector<std::wstring> lines = WaitForLogLine(folder, L"by DNS-SD failed");
    EXPECT_EQ(
        Count(lines, L"Register stream " + name + L" by DNS-SD failed: DNSServiceRegister error -65540"), 1u);
    stream->m_BonjourWanted = 0;
    Tick(*manager);
    EXPECT_EQ(stream->m_BonjourRegistered, 0);
    manager->m_CorvaneManager.Exit();
}

// A gateway registration that the daemon refused (connection refused or busy) is tried again a
// second later by the reply thread, with one line; the others are made at once.
TEST_F(DiscoveryTest, AFailedGatewayRegistrationIsTriedAgainASecondLater)
{
    StartManager(L"APPLE");
    FailNext("Register", kDNSServiceErr_ServiceNotRunning);
    EXPECT_FALSE(manager->m_CorvaneManager.Init(manager.get()));
    EXPECT_EQ(Find("Register", "_http._tcp").reference, nullptr);
    EXPECT_NE(Find("Register", "_rtsp._tcp").reference, nullptr);
    Sleep(300);
    EXPECT_EQ(Find("Register", "_http._tcp").reference, nullptr); // not before a second has passed
    Tick(*manager, 1000);
    ASSERT_TRUE(WaitFor([] { return Find("Register", "_http._tcp").reference != nullptr; }));
    const std::vector<std::wstring> lines = WaitForLogLine(folder, L"_http._tcp registered");
    EXPECT_EQ(Count(lines, L"are tried again every second"), 1u);
    EXPECT_EQ(Count(lines, L"_http._tcp registered"), 1u);
    manager->m_CorvaneManager.Exit();
    EXPECT_EQ(DeallocateCount(Find("Register", "_http._tcp").reference), 1);
}

} // namespace
