// The shared log entry and the log-pane entry: line format, category words, the 2047-character
// cut, pane lines from other threads, a pane that is gone, no log file.
#include "manager_test_support.h"
#include "test_support.h"

#include "gateway/LoggingUsageEnvironment.h"

#include <gtest/gtest.h>
#include <memory>
#include <regex>
#include <thread>

using namespace manager_test;

namespace {

const std::wregex kFileStamp(L"^\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d,\\d{3} T:\\d{4,}  ");

// What follows the log file's stamp.
std::wstring AfterStamp(const std::wstring& line)
{
    std::wsmatch match;
    if (!std::regex_search(line, match, kFileStamp)) {
        return L"<no stamp: " + line + L">";
    }
    return line.substr(static_cast<size_t>(match.length(0)));
}

std::wstring Front(const wchar_t* product, const wchar_t* version, unsigned long identity,
                   const wchar_t* word)
{
    wchar_t identityText[32];
    swprintf(identityText, 32, L"( 0x%08lx )", identity);
    return std::wstring(product) + L" " + version + L" " + identityText + word;
}

// The pane's clock: a local time that never moves (so the time comes from the timer) and a timer
// that steps on by itself while the clock calibrates and stands still afterwards.
SYSTEMTIME g_paneTime = {2016, 9, 0, 7, 12, 0, 0, 0};
DWORD g_paneTick = 0;
bool g_paneTickRuns = true;

void WINAPI PaneLocalTime(LPSYSTEMTIME time)
{
    *time = g_paneTime;
}

DWORD WINAPI PaneTick()
{
    return g_paneTickRuns ? g_paneTick++ : g_paneTick;
}

// A manager of the owner whose stamps come from the pane's clock, the timer at 0 and running.
std::unique_ptr<CVelmoraManager> MakeManagerOnPaneClock(FakeOwner& owner)
{
    g_paneTick = 0;
    g_paneTickRuns = true;
    auto manager = MakeManager(owner.AsOwner());
    manager->m_LogFile.GetTimeState().SetClock(&PaneLocalTime, &PaneTick);
    return manager;
}

} // namespace

TEST(ManagerLog, EveryCategoryWordBehindProductVersionAndIdentity)
{
    const std::wstring folder = MakeTempFolder(L"categories");
    unsigned long identity = 0;
    {
        auto manager = MakeManager();
        identity = manager->GetIdentity();
        // Percent signs in product and version are text, not format.
        manager->m_ProductName = L"Velmora %n%s%d";
        manager->m_FileVersion = L"1.0%%";
        OpenLogIn(*manager, folder, L"manager_log_probe");
        const DWORD masks[] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x11, 0x100};
        for (DWORD mask : masks) {
            manager->LogDebug(mask, L"mask %d, %s\n", static_cast<int>(mask), L"text");
        }
    }
    const wchar_t* words[] = {L" Global,     ",
                              L" IPC,        ",
                              L" ASIO,       ",
                              L" FileAccess, ",
                              L" Debug,      ",
                              L" Statistics, ",
                              L" Stackdump,  ",
                              L" Syslog,  ",
                              L", ",
                              L", "};
    const int numbers[] = {1, 2, 4, 8, 16, 32, 64, 128, 17, 256};
    const std::vector<std::wstring> lines = ReadLogLines(folder);
    ASSERT_EQ(lines.size(), 10u);
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(AfterStamp(lines[i]), Front(L"Velmora %n%s%d", L"1.0%%", identity, words[i]) + L"mask " +
                                            std::to_wstring(numbers[i]) + L", text");
    }
}

TEST(ManagerLog, LinesAreCutAt2047CharactersInTheFileAndInThePane)
{
    const std::wstring folder = MakeTempFolder(L"cut");
    FakeOwner owner;
    const std::wstring longText(3000, L'y');
    {
        auto manager = MakeManager(owner.AsOwner());
        OpenLogIn(*manager, folder, L"manager_log_probe");
        manager->LogDebug(kLogGlobal, L"%s", longText.c_str());
        manager->AddLogText(kLogRed, L"%s", longText.c_str());
    }
    const std::vector<std::wstring> lines = ReadLogLines(folder);
    ASSERT_EQ(lines.size(), 2u);
    for (const std::wstring& line : lines) {
        EXPECT_EQ(AfterStamp(line).size(), 2047u);
        EXPECT_EQ(line.back(), L'y');
    }
    EXPECT_NE(AfterStamp(lines[1]).find(L" Debug,      CVelmoraManager::AddLogTextWnd() yyy"),
              std::wstring::npos);
    ASSERT_EQ(owner.paneLines.size(), 1u);
    const std::wstring& pane = owner.paneLines[0].first;
    EXPECT_EQ(pane.size(), 24u + 2047u); // "dd.mm.yyyy hh:mm:ss,mmm " and the cut text
    EXPECT_EQ(pane.substr(24), longText.substr(0, 2047));
    EXPECT_EQ(owner.paneLines[0].second, kLogRed);
}

TEST(ManagerLog, WithoutALogFileNothingIsWrittenAndPaneLinesAreStillShown)
{
    const std::wstring folder = MakeTempFolder(L"nofile");
    FakeOwner owner;
    {
        auto manager = MakeManager(owner.AsOwner());
        FreshSettings(*manager, L"manager_log_probe");
        manager->m_Settings.WriteString(SettingsKey::kLogDirectory, folder.c_str());
        manager->ReadSettings();
        manager->LogDebug(kLogGlobal, L"never written");
        manager->AddLogText(kLogGreen, L"shown %d", 1);
        EXPECT_TRUE(manager->m_LogLines.empty());
    }
    EXPECT_TRUE(ReadLogLines(folder).empty());
    ASSERT_EQ(owner.paneLines.size(), 1u);
    EXPECT_EQ(owner.paneLines[0].first.substr(24), L"shown 1");

    // Without an owner there is no pane line at all, not even a queued one.
    auto manager = MakeManager();
    manager->AddLogText(kLogGreen, L"nowhere");
    EXPECT_TRUE(manager->m_LogLines.empty());
}

TEST(ManagerLog, ALogFolderThatCannotBeUsedGivesOneRedLineAndTheProgramGoesOn)
{
    const std::wstring folder = MakeTempFolder(L"unusable");
    const std::wstring file = folder + L"\\a_file";
    WriteBytes(file.c_str(), "x");
    // A folder below a file, and a name longer than any path.
    for (const std::wstring& directory : {file + L"\\logs", folder + L"\\" + std::wstring(300, L'n')}) {
        FakeOwner owner;
        auto manager = MakeManager(owner.AsOwner());
        FreshSettings(*manager, L"manager_log_probe");
        manager->m_Settings.WriteString(SettingsKey::kLogDirectory, directory.c_str());
        manager->m_Settings.WriteString(SettingsKey::kLogFilename, L"gw");
        manager->ReadSettings();
        EXPECT_FALSE(manager->m_LogFile.IsOpen());
        ASSERT_EQ(owner.paneLines.size(), 1u);
        const std::wstring line = owner.paneLines[0].first.substr(24);
        EXPECT_EQ(line.rfind(L"Cannot open log file " + directory + L"\\gw_", 0), 0u) << line;
        EXPECT_NE(line.find(L": error "), std::wstring::npos) << line;
        EXPECT_EQ(owner.paneLines[0].second, kLogRed);
        manager->AddLogText(kLogGreen, L"still running");
        EXPECT_EQ(owner.paneLines.size(), 2u);
    }
}

TEST(ManagerLog, LinesFromOtherThreadsAreShownInOrderWithTheTimeTheyWereWritten)
{
    FakeOwner owner;
    auto manager = MakeManagerOnPaneClock(owner);
    SYSTEMTIME calibrated;
    GetLocalTimeMs(manager->m_LogFile.GetTimeState(), calibrated); // calibrates at tick 0
    g_paneTickRuns = false;

    auto writeOnWorker = [&](DWORD tick, const wchar_t* text) {
        g_paneTick = tick;
        std::thread worker([&] { manager->AddLogText(kLogGreen, L"%s", text); });
        worker.join();
    };
    writeOnWorker(1000, L"one");
    writeOnWorker(2500, L"two");
    EXPECT_TRUE(owner.paneLines.empty());
    g_paneTick = 3000;
    // The GUI thread writes to the pane at once, behind the lines written before it.
    manager->AddLogText(kLogRed, L"direct");
    writeOnWorker(4007, L"three");
    ASSERT_EQ(owner.paneLines.size(), 3u);
    EXPECT_EQ(manager->m_LogLines.size(), 1u);

    g_paneTick = 9000;
    Tick(*manager);
    const std::vector<std::pair<std::wstring, COLORREF>> expected = {
        {L"07.09.2016 12:00:01,000 one", kLogGreen},
        {L"07.09.2016 12:00:02,500 two", kLogGreen},
        {L"07.09.2016 12:00:03,000 direct", kLogRed},
        {L"07.09.2016 12:00:04,007 three", kLogGreen},
    };
    EXPECT_EQ(owner.paneLines, expected);
    EXPECT_TRUE(manager->m_LogLines.empty());
}

TEST(ManagerLog, APaneLineOfTheGuiThreadWaitsWhileThePaneWindowIsGone)
{
    FakeOwner owner;
    auto manager = MakeManager(owner.AsOwner());
    owner.DestroyPane();
    manager->AddLogText(kLogGreen, L"kept");
    EXPECT_TRUE(owner.paneLines.empty());
    ASSERT_EQ(manager->m_LogLines.size(), 1u);
    Tick(*manager);
    EXPECT_TRUE(owner.paneLines.empty());

    owner.CreatePane();
    Tick(*manager);
    ASSERT_EQ(owner.paneLines.size(), 1u);
    EXPECT_EQ(owner.paneLines[0].first.substr(24), L"kept");
}

TEST(ManagerLog, LibraryLinesAreFinishedOnTheWriterInTheirPlaceWithTheirOwnStamp)
{
    // The RTSP-server thread only stamps its lines; they are made on the log's writer thread, one
    // batch per scheduler step, and keep their place among the lines of other threads.
    const std::wstring folder = MakeTempFolder(L"envbatch");
    DWORD serverThread = 0;
    unsigned long identity = 0;
    {
        auto manager = MakeManager();
        identity = manager->GetIdentity();
        OpenLogIn(*manager, folder, L"manager_log_probe");
        std::unique_ptr<BasicTaskScheduler> scheduler(BasicTaskScheduler::createNew());
        std::thread server([&] {
            serverThread = GetCurrentThreadId();
            CLoggingUsageEnvironment* env = new CLoggingUsageEnvironment(*scheduler, manager.get());
            *env << "Play this stream using the URL \""
                 << "rtsp://10.77.0.1:8554/by-name/A"
                 << "\"\n";
            *env << "read " << 52 << " new bytes:DESCRIBE x RTSP/1.0\r\nCSeq: 2\r\n\r\n"
                 << "\n";
            *env << "   \r\n";
            env->FlushLog();
            manager->LogDebug(kLogDebug, L"after the batch");
            *env << "pending at the end\n"; // handed over when the environment ends
            env->reclaim();
        });
        server.join();
        manager->m_LogMask = ~static_cast<DWORD>(kLogDebug);
        CLoggingUsageEnvironment* masked = new CLoggingUsageEnvironment(*scheduler, manager.get());
        *masked << "masked\n";
        masked->reclaim();
    }
    const std::vector<std::wstring> lines = ReadLogLines(folder);
    std::vector<std::wstring> ours;
    for (const std::wstring& line : lines) {
        if (line.find(L"AddLogging()") != std::wstring::npos ||
            line.find(L"after the batch") != std::wstring::npos) {
            ours.push_back(line);
            wchar_t thread[32];
            swprintf(thread, 32, L" T:%04d  ", static_cast<int>(serverThread));
            EXPECT_NE(std::wstring::npos, line.find(thread)) << line;
        }
    }
    const std::wstring front = Front(L"", L"", identity, L" Debug,      ");
    ASSERT_EQ(4u, ours.size());
    EXPECT_EQ(L"CLoggingUsageEnvironment::AddLogging() Play this stream using the URL "
              L"\"rtsp://10.77.0.1:8554/by-name/A\"",
              AfterStamp(ours[0]).substr(AfterStamp(ours[0]).find(L"CLogging")));
    EXPECT_NE(std::wstring::npos, AfterStamp(ours[0]).find(front.substr(2))) << ours[0];
    EXPECT_EQ(L"CLoggingUsageEnvironment::AddLogging() read 52 new bytes:DESCRIBE x RTSP/1.0  CSeq: 2",
              AfterStamp(ours[1]).substr(AfterStamp(ours[1]).find(L"CLogging")));
    EXPECT_NE(std::wstring::npos, ours[2].find(L"after the batch"));
    EXPECT_NE(std::wstring::npos, ours[3].find(L"AddLogging() pending at the end"));
}

TEST(ManagerLog, PaneLinesOfAllThreadsAppearInTheOrderOfTheirStamps)
{
    // Every reading of the clock is a millisecond later, so no two lines share a stamp.
    FakeOwner owner;
    auto manager = MakeManagerOnPaneClock(owner);
    const int workers = 4;
    const int linesEach = 300;
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&manager, w] {
            for (int i = 0; i < linesEach; ++i) {
                manager->AddLogText(kLogGreen, L"worker %d line %d", w, i);
            }
        });
    }
    for (int i = 0; i < linesEach; ++i) {
        manager->AddLogText(kLogRed, L"gui line %d", i);
        if (i % 50 == 0) {
            Tick(*manager, 0);
        }
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    Tick(*manager, 0);
    ASSERT_EQ(owner.paneLines.size(), static_cast<size_t>((workers + 1) * linesEach));
    // "dd.mm.yyyy hh:mm:ss,mmm ": one day, so the time of day orders them.
    for (size_t i = 1; i < owner.paneLines.size(); ++i) {
        const std::wstring& before = owner.paneLines[i - 1].first;
        const std::wstring& after = owner.paneLines[i].first;
        ASSERT_LT(before.substr(11, 12), after.substr(11, 12)) << i;
    }
}

TEST(ManagerLog, ALogFileThatCannotBeOpenedAtTheChangeOfDayGivesOneRedLine)
{
    const std::wstring folder = MakeTempFolder(L"newday");
    const std::wstring away = folder + L"_away";
    RemoveDirectoryW(away.c_str());
    g_paneTime = {2016, 9, 0, 7, 23, 59, 50, 0};
    FakeOwner owner;
    auto manager = MakeManagerOnPaneClock(owner);
    OpenLogIn(*manager, folder, L"manager_log_probe");
    ASSERT_TRUE(manager->m_LogFile.IsOpen());
    manager->LogDebug(kLogGlobal, L"before midnight");
    ASSERT_FALSE(WaitForLogLine(folder, L"before midnight").empty());

    // The folder goes, and a file of its name keeps it from being made again.
    ASSERT_TRUE(MoveFileW(folder.c_str(), away.c_str()));
    WriteBytes(folder.c_str(), "not a folder");
    g_paneTime = {2016, 9, 0, 8, 0, 0, 1, 0};
    manager->m_LogFile.GetTimeState().SetClock(&PaneLocalTime, &PaneTick);
    manager->LogDebug(kLogGlobal, L"after midnight");

    auto redLines = [&owner] {
        std::vector<std::wstring> red;
        for (const auto& line : owner.paneLines) {
            if (line.second == kLogRed) {
                red.push_back(line.first.substr(24));
            }
        }
        return red;
    };
    for (int round = 0; round < 250 && redLines().empty(); ++round) {
        Sleep(20); // the log's writer thread tries the new file
        Tick(*manager, 20);
    }
    std::vector<std::wstring> red = redLines();
    ASSERT_EQ(red.size(), 1u);
    const std::wstring expected = L"Cannot open log file " + folder + L"\\velmora_2016_09_08.txt: error ";
    EXPECT_EQ(red[0].rfind(expected, 0), 0u) << red[0];
    EXPECT_GT(red[0].size(), expected.size() + 3) << "the system's text follows the number";

    // Once: later lines and ticks say nothing more, and the program runs on.
    for (int i = 0; i < 5; ++i) {
        manager->LogDebug(kLogGlobal, L"still without a file %d", i);
        manager->AddLogText(kLogGreen, L"running %d", i);
        Sleep(50);
        Tick(*manager, 50);
    }
    EXPECT_EQ(redLines().size(), 1u);
    EXPECT_EQ(owner.paneLines.back().first.substr(24), L"running 4");

    manager.reset();
    DeleteFileW(folder.c_str());
    MoveFileW(away.c_str(), folder.c_str());
    g_paneTime = {2016, 9, 0, 7, 12, 0, 0, 0};
}
