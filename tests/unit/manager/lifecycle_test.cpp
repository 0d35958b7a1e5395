// Start and end: the RTSP-server thread's start and Exit's wait for its end, and the discovery
// record.
#include "manager_test_support.h"

#include "discovery/StreamInfo.h"
#include "fake_interfaces.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>

using namespace fake_interfaces;
using namespace manager_test;

namespace {

std::atomic<bool> g_threadEnded{false};

// Stores its id late, runs until asked to stop, and goes on for a while after it has given its id
// back, still touching the manager.
UINT __cdecl SlowServerThread(LPVOID param)
{
    CVelmoraManager* manager = static_cast<CVelmoraManager*>(param);
    Sleep(100);
    manager->m_RTSPThreadId = static_cast<int>(GetCurrentThreadId());
    while (!manager->m_StopRTSPThread) {
        Sleep(5);
    }
    manager->m_RTSPThreadId = -1;
    Sleep(300);
    manager->GetMilliSec();
    g_threadEnded = true;
    return 0;
}

HANDLE g_releaseStuckThread = nullptr;
UINT g_endProcessCode = 0;

// Stores its id and then ignores the stop flag until the test releases it.
UINT __cdecl StuckServerThread(LPVOID param)
{
    static_cast<CVelmoraManager*>(param)->m_RTSPThreadId = static_cast<int>(GetCurrentThreadId());
    WaitForSingleObject(g_releaseStuckThread, INFINITE);
    return 0;
}

void WINAPI RecordEndProcess(UINT exitCode)
{
    g_endProcessCode = exitCode;
}

UINT __cdecl ThreadThatEndsAtOnce(LPVOID /*param*/)
{
    return 0;
}

bool Contains(const std::vector<std::wstring>& lines, const std::wstring& text)
{
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::wstring& line) { return line.find(text) != std::wstring::npos; });
}

} // namespace

TEST(ManagerRTSPThread, StartReturnsOnceTheThreadRunsAndExitWaitsForItsRealEnd)
{
    const std::wstring folder = MakeTempFolder(L"rtspthread");
    g_threadEnded = false;
    {
        auto manager = MakeManager();
        OpenLogIn(*manager, folder, L"manager_lifecycle_probe");
        ASSERT_TRUE(manager->StartRTSPServerThread(&SlowServerThread));
        EXPECT_NE(manager->m_RTSPThreadId, -1); // so an early Exit cannot skip its wait
        manager->Exit();
        EXPECT_TRUE(g_threadEnded);
        EXPECT_EQ(manager->m_StopRTSPThread, 1);
    }
    const std::vector<std::wstring> lines = ReadLogLines(folder);
    EXPECT_TRUE(Contains(lines,
                         L" Global,     CVelmoraManager::Exit() RTSP server thread still running, waiting "
                         L"for its end"));
    EXPECT_TRUE(Contains(lines, L" Debug,      CVelmoraManager::Exit() done"));
}

TEST(ManagerRTSPThread, ExitGivesUpOnAThreadThatDoesNotEndAndTheDestructorEndsTheProcess)
{
    const std::wstring folder = MakeTempFolder(L"rtspstuck");
    g_releaseStuckThread = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_endProcessCode = 0;
    {
        auto manager = MakeManager();
        OpenLogIn(*manager, folder, L"manager_lifecycle_probe");
        manager->m_pfnEndProcess = &RecordEndProcess;
        ASSERT_TRUE(manager->StartRTSPServerThread(&StuckServerThread));
        const DWORD start = GetTickCount();
        manager->Exit();
        const DWORD took = GetTickCount() - start;
        EXPECT_GE(took, 2900u);
        EXPECT_LT(took, 4500u);
        EXPECT_EQ(0u, g_endProcessCode);
        // The manager goes while the thread still runs: the process is to end, log written out.
    }
    EXPECT_EQ(1u, g_endProcessCode);
    SetEvent(g_releaseStuckThread);
    const std::vector<std::wstring> lines = ReadLogLines(folder);
    EXPECT_TRUE(Contains(
        lines, L" Global,     CVelmoraManager::Exit() RTSP server thread did not end within 3000 ms, "
               L"giving up"));
    EXPECT_TRUE(Contains(lines, L" Debug,      CVelmoraManager::Exit() done"));
    EXPECT_TRUE(Contains(lines, L" Global,     CVelmoraManager::~CVelmoraManager() RTSP server thread still "
                                L"running, ending the process"));
    Sleep(50);
    CloseHandle(g_releaseStuckThread);
}

TEST(ManagerRTSPThread, AThreadThatEndsWithoutStoringItsIdDoesNotHoldUpStartOrExit)
{
    auto manager = MakeManager();
    ASSERT_TRUE(manager->StartRTSPServerThread(&ThreadThatEndsAtOnce));
    EXPECT_EQ(manager->m_RTSPThreadId, -1);
    manager->Exit();
    EXPECT_EQ(manager->m_StopRTSPThread, 0); // no thread was running, so none was asked to stop
}

TEST(ManagerRTSPThread, ExitEndsTheThreadEvenWhileTheCallerHoldsTheStreamTable)
{
    // A message loop that runs while the GUI thread holds the stream-table lock (a refusal box) may
    // deliver the close that calls Exit: the server thread must not wait for that lock any more.
    auto manager = MakeManager();
    manager->m_NicIP = L"127.0.0.1";
    manager->m_RTSPPort = 0; // any free port
    ASSERT_TRUE(manager->StartRTSPServerThread(&CVelmoraManager::RTSPServerThreadProc));
    ASSERT_NE(manager->m_RTSPThreadId, -1);
    Sleep(50); // some passes over the table
    CSingleLock lock(&manager->m_StreamsLock, TRUE);
    manager->Exit();
    EXPECT_EQ(manager->m_RTSPThreadId, -1);
}

TEST(StreamRecord, SequenceNumbersCountOnAndTheInterfaceFillTakesTheLastAddressOfTheIndex)
{
    Corvane::CStreamInfo first(nullptr, Corvane::CStreamInfo::kSourceDiscovery);
    Corvane::CStreamInfo second(nullptr, Corvane::CStreamInfo::kSourceDiscovery);
    EXPECT_EQ(second.GetSequenceNumber(), first.GetSequenceNumber() + 1);

    UseFakeInterfaces();
    g_interfaces = {{2, kEthernet, kUp, "Intel"}, {3, kEthernet, kUp, "Realtek"}};
    g_addresses = {Address("10.0.0.5", 2), Address("192.168.1.20", 3), Address("10.0.0.6", 2)};
    EXPECT_TRUE(first.FetchInterfaceInfo(2));
    EXPECT_EQ(first.m_InterfaceIndex, 2);
    EXPECT_EQ(Text(CMfxString(first.GetInterfaceIP())), L"10.0.0.6");
    // An interface that does not answer: nothing is taken.
    EXPECT_FALSE(second.FetchInterfaceInfo(7));
    EXPECT_EQ(second.m_InterfaceIndex, -1);
    SetInterfaceTableSource(nullptr);
}
