// The log file, black-box on real files: names, line format, continuation files, size limit,
// clean-up, many writers and the change of day under a clock the test drives.
#include "afx/afxplatform.h"
#include "foundation/LogFile.h"

#include "foundation/PathHelpers.h"
#include "test_support.h"

#include <atomic>
#include <climits>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

const ULONGLONG kMs = 10000; // FILETIME units

// The test's clock: local time as a FILETIME count that moves on by 1 ms at every reading, and a
// millisecond timer that moves on by 1 at every reading.
std::atomic<ULONGLONG> g_now{0};
std::atomic<DWORD> g_tick{0};

void SetDate(WORD year, WORD month, WORD day, WORD hour = 12, WORD minute = 0, WORD second = 0)
{
    SYSTEMTIME time = {year, month, 0, day, hour, minute, second, 0};
    g_now = SystemTimeToTicks(time);
}

void WINAPI FakeLocalTime(LPSYSTEMTIME time)
{
    *time = TicksToSystemTime(g_now.fetch_add(kMs));
}

DWORD WINAPI FakeTick()
{
    return g_tick.fetch_add(1);
}

// A clock whose local time never moves: too coarse, so the time comes from the timer.
SYSTEMTIME g_coarseTime = {2016, 9, 0, 7, 12, 0, 0, 0};

void WINAPI CoarseLocalTime(LPSYSTEMTIME time)
{
    *time = g_coarseTime;
}

LONGLONG FileSize(const CMfxString& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path.GetString(), GetFileExInfoStandard, &data)) {
        return -1;
    }
    return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::vector<std::string> Lines(const std::string& bytes)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = bytes.find("\r\n"); end != std::string::npos; end = bytes.find("\r\n", start)) {
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    EXPECT_EQ(start, bytes.size()) << "every line ends in CR LF";
    return lines;
}

bool Contains(const std::string& bytes, const std::string& text)
{
    return bytes.find(text) != std::string::npos;
}

// Waits until the file holds the text (the writer thread writes a moment later).
bool WaitForText(const CMfxString& path, const std::string& text)
{
    for (int round = 0; round < 500; ++round) {
        if (Contains(ReadBytes(path), text)) {
            return true;
        }
        Sleep(10);
    }
    return false;
}

// Waits until the writer thread has reported a failed reopen.
bool WaitForReopenFailure(CLogFile& log, CMfxString& path, CMfxString& failure)
{
    for (int round = 0; round < 500; ++round) {
        if (log.TakeReopenFailure(path, failure)) {
            return true;
        }
        Sleep(10);
    }
    return false;
}

void RemoveFolder(const CMfxString& folder)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").GetString(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            CMfxString name = entry.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            CMfxString path = folder + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveFolder(path);
            } else {
                DeleteFileW(path.GetString());
            }
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryW(folder.GetString());
}

// Each test gets its own folder, whose name holds the base name "gw".
class LogFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        m_Folder.Format(L"%sgw_logs_%lu_%S", temp, GetCurrentProcessId(),
                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
        RemoveFolder(m_Folder);
        CreateDirectoryPath(m_Folder);
        SetDate(2016, 9, 7, 13, 5, 9);
    }
    void TearDown() override { RemoveFolder(m_Folder); }

    CMfxString File(const wchar_t* name) const { return m_Folder + L"\\" + name; }

    static void UseTestClock(CLogFile& log) { log.GetTimeState().SetClock(&FakeLocalTime, &FakeTick); }

    // One start of the program that writes one line with base name "gw" and ends.
    void RunOneStart(int deleteOld, int deleteKeepDays)
    {
        CLogFile log;
        UseTestClock(log);
        ASSERT_TRUE(log.Open(deleteOld, deleteKeepDays, 0, m_Folder, L"gw", L""));
        log.WriteLine(L"first line");
    }

    CMfxString m_Folder;
};

} // namespace

TEST_F(LogFileTest, LineFormatInTheDaysFirstFile)
{
    {
        CLogFile log;
        UseTestClock(log);
        ASSERT_TRUE(log.Open(0, 3, 0, m_Folder + L"\\", L"gw", L"PREFIX-NOT-WRITTEN "));
        EXPECT_EQ(Text(log.GetFilePath()), Text(File(L"gw_2016_09_07.txt")));
        EXPECT_TRUE(log.WriteLine(L"abc\r\n"));
        EXPECT_TRUE(log.WriteLine(L"\r\n")) << "nothing left to write is no failure";
        EXPECT_TRUE(log.WriteLine(L"two breaks\n\r"));
        EXPECT_TRUE(log.WriteLine(L"gr\u00fcn \u20ac"));
        std::wstring longText(3000, L'x');
        EXPECT_TRUE(log.WriteLineFormat(L"%s", longText.c_str()));
    }
    std::string bytes = ReadBytes(File(L"gw_2016_09_07.txt"));
    EXPECT_FALSE(Contains(bytes, "PREFIX-NOT-WRITTEN"));
    std::vector<std::string> lines = Lines(bytes);
    ASSERT_EQ(lines.size(), 4u);
    std::regex stamp(R"(07\.09\.2016 13:05:(\d\d),(\d{3}) T:(\d{4,})  (.*))");
    const std::string texts[] = {"abc", "two breaks", "gr\xfcn \x80", std::string(2047, 'x')};
    for (size_t i = 0; i < lines.size(); ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[i], match, stamp)) << lines[i].substr(0, 80);
        EXPECT_EQ(std::stoul(match[3].str()), GetCurrentThreadId());
        EXPECT_EQ(match[4].str(), texts[i]);
    }
}

TEST_F(LogFileTest, LaterStartsOfTheDayContinueInNumberedFiles)
{
    const wchar_t* expected[] = {L"gw_2016_09_07.txt", L"gw_2016_09_07__1.txt", L"gw_2016_09_07__2.txt"};
    for (int start = 0; start < 3; ++start) {
        CLogFile log;
        UseTestClock(log);
        ASSERT_TRUE(log.Open(1, 3, 0, m_Folder, L"gw", L""));
        EXPECT_EQ(Text(log.GetFilePath()), Text(File(expected[start])));
        log.WriteLineFormat(L"start %d", start);
    }
    for (int start = 0; start < 3; ++start) {
        std::string bytes = ReadBytes(File(expected[start]));
        for (int other = 0; other < 3; ++other) {
            EXPECT_EQ(Contains(bytes, "  start " + std::to_string(other) + "\r\n"), other == start);
        }
    }
}

TEST_F(LogFileTest, ExtensionComesFromTheFilename)
{
    {
        CLogFile log;
        UseTestClock(log);
        ASSERT_TRUE(log.Open(0, 3, 0, m_Folder, L"gw.log", L""));
        EXPECT_EQ(Text(log.GetFilePath()), Text(File(L"gw_2016_09_07.log")));
        log.WriteLine(L"in the log file");
    }
    EXPECT_TRUE(Contains(ReadBytes(File(L"gw_2016_09_07.log")), "in the log file"));

    // A base name with a dot of its own keeps base name and extension across a change of day.
    CLogFile log;
    UseTestClock(log);
    ASSERT_TRUE(log.Open(0, 3, 0, m_Folder, L"my.app.log", L""));
    EXPECT_EQ(Text(log.GetFilePath()), Text(File(L"my.app_2016_09_07.log")));
    log.WriteLine(L"day one");
    ASSERT_TRUE(WaitForText(File(L"my.app_2016_09_07.log"), "day one"));
    SetDate(2016, 9, 8);
    log.WriteLine(L"day two");
    EXPECT_TRUE(WaitForText(File(L"my.app_2016_09_08.log"), "day two"));
}

TEST_F(LogFileTest, FileAtTheSizeLimitIsKeptAndOnePastItContinuesInTheNextNumber)
{
    const LONGLONG limit = 64ll * 1024 * 1024;
    WriteBytes(File(L"gw_2016_09_07__1.txt"), "prepared", limit);
    {
        CLogFile log;
        UseTestClock(log);
        ASSERT_TRUE(log.Open(0, 3, 1, m_Folder, L"gw", L""));
        EXPECT_EQ(Text(log.GetFilePath()), Text(File(L"gw_2016_09_07__1.txt")));
        log.WriteLine(L"at the limit");
    }
    std::string tail = ReadBytes(File(L"gw_2016_09_07__1.txt"), 100);
    EXPECT_TRUE(Contains(tail, "  at the limit\r\n"));
    LONGLONG sizeAfter = FileSize(File(L"gw_2016_09_07__1.txt"));
    EXPECT_GT(sizeAfter, limit);
    {
        CLogFile log;
        UseTestClock(log);
        ASSERT_TRUE(log.Open(0, 3, 1, m_Folder, L"gw", L""));
        log.WriteLine(L"past the limit");
    }
    EXPECT_EQ(FileSize(File(L"gw_2016_09_07__1.txt")), sizeAfter);
    EXPECT_TRUE(Contains(ReadBytes(File(L"gw_2016_09_07__2.txt")), "  past the limit\r\n"));
}

TEST_F(LogFileTest, DeletesOnlyItsOwnOldFiles)
{
    const wchar_t* stay[] = {L"gw_2016_09_10.txt",  L"gw_2016_09_09.txt",     L"gw_2016_09_08__3.txt",
                             L"gw_2016_09_07.txt",  L"gw_2016_09_06.log",     L"other_2016_09_01.txt",
                             L"xx_2016_09_01.txt",  L"gwx_2016_09_01.txt",    L"gw_2016_0a_01.txt",
                             L".gw_2016_09_01.txt", L"sub\\gw_2016_09_01.txt"};
    const wchar_t* go[] = {L"gw_2016_09_06.txt", L"gw_2016_09_05__2.txt", L"gw_2015_12_31.txt"};
    // Kept days reach back across the end of a month.
    SetDate(2016, 3, 2);
    WriteBytes(File(L"gw_2016_02_29.txt"), "keep");
    WriteBytes(File(L"gw_2016_02_27.txt"), "old");
    RunOneStart(1, 3);
    EXPECT_TRUE(FileExists(File(L"gw_2016_02_29.txt")));
    EXPECT_FALSE(FileExists(File(L"gw_2016_02_27.txt")));
    SetDate(2016, 9, 10);
    CreateDirectoryPath(File(L"sub"));
    for (const wchar_t* name : stay) {
        WriteBytes(File(name), "keep");
    }
    for (const wchar_t* name : go) {
        WriteBytes(File(name), "old");
    }
    RunOneStart(1, 3);
    for (const wchar_t* name : stay) {
        EXPECT_TRUE(FileExists(File(name))) << CMfxString(name).GetAnsi();
    }
    for (const wchar_t* name : go) {
        EXPECT_FALSE(FileExists(File(name))) << CMfxString(name).GetAnsi();
    }
    std::string bytes = ReadBytes(File(L"gw_2016_09_10__1.txt"));
    EXPECT_TRUE(Contains(bytes,
                         "  Zint -.-.-.- ( 0x00000000 ) Global,      CLogFile::DeleteOldFiles() start check "
                         "old files for filename gw_xxxx_xx_xx*.txt\r\n"));
    for (const wchar_t* name : go) {
        EXPECT_TRUE(Contains(bytes, "CLogFile::DeleteOldFiles() delete file " +
                                        std::string(File(name).GetAnsi()) + "\r\n"));
    }
}

TEST_F(LogFileTest, DeleteOldZeroOrAHugeKeepDaysKeepsEverything)
{
    SetDate(2016, 9, 10);
    WriteBytes(File(L"gw_2016_01_01.txt"), "old");
    RunOneStart(0, 3);
    EXPECT_TRUE(FileExists(File(L"gw_2016_01_01.txt")));
    EXPECT_FALSE(Contains(ReadBytes(File(L"gw_2016_09_10.txt")), "DeleteOldFiles"));
    // Not a date for every one of these days: the start goes on at once.
    RunOneStart(1, INT_MAX);
    EXPECT_TRUE(FileExists(File(L"gw_2016_01_01.txt")));
    EXPECT_TRUE(Contains(ReadBytes(File(L"gw_2016_09_10__1.txt")), "start check old files"));
}

TEST_F(LogFileTest, ChangeOfDayStartsANewFileAndCleansUp)
{
    SetDate(2016, 9, 7, 23, 59, 50);
    WriteBytes(File(L"gw_2016_09_06.txt"), "yesterday");
    CLogFile log;
    UseTestClock(log);
    ASSERT_TRUE(log.Open(1, 1, 0, m_Folder, L"gw", L""));
    log.WriteLine(L"before midnight");
    ASSERT_TRUE(WaitForText(File(L"gw_2016_09_07.txt"), "before midnight"));
    EXPECT_TRUE(FileExists(File(L"gw_2016_09_06.txt"))) << "kept on the 7th";

    SetDate(2016, 9, 8, 0, 0, 1);
    log.WriteLine(L"after midnight");
    ASSERT_TRUE(WaitForText(File(L"gw_2016_09_08.txt"), "after midnight"));
    EXPECT_TRUE(WaitForText(File(L"gw_2016_09_08.txt"), "delete file"));
    EXPECT_FALSE(FileExists(File(L"gw_2016_09_06.txt")));
    EXPECT_FALSE(Contains(ReadBytes(File(L"gw_2016_09_07.txt")), "after midnight"));
    EXPECT_TRUE(Contains(ReadBytes(File(L"gw_2016_09_08.txt")), "08.09.2016 00:00:01,"));

    // A month later on the same day of the month is a change of day too.
    SetDate(2016, 10, 8);
    log.WriteLine(L"a month later");
    EXPECT_TRUE(WaitForText(File(L"gw_2016_10_08.txt"), "a month later"));
    EXPECT_FALSE(Contains(ReadBytes(File(L"gw_2016_09_08.txt")), "a month later"));
}

TEST_F(LogFileTest, ManyThreadsLoseNothingAndKeepTheirOrder)
{
    const int threads = 8;
    const int linesPerThread = 1000;
    {
        CLogFile log;
        UseTestClock(log);
        ASSERT_TRUE(log.Open(0, 3, 0, m_Folder, L"gw", L""));
        std::vector<std::thread> writers;
        for (int t = 0; t < threads; ++t) {
            writers.emplace_back([&log, t] {
                for (int i = 0; i < linesPerThread; ++i) {
                    log.WriteLineFormat(L"writer %d line %d", t, i);
                }
            });
        }
        for (std::thread& writer : writers) {
            writer.join();
        }
    }
    std::vector<std::string> lines = Lines(ReadBytes(File(L"gw_2016_09_07.txt")));
    ASSERT_EQ(lines.size(), static_cast<size_t>(threads * linesPerThread));
    std::regex line(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d,\d{3} T:(\d{4,})  writer (\d) line (\d+))");
    std::vector<int> next(threads, 0);
    std::map<int, std::string> threadIds;
    for (const std::string& text : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(text, match, line)) << text;
        int writer = std::stoi(match[2].str());
        EXPECT_EQ(std::stoi(match[3].str()), next[writer]++) << "lines of one thread stay in order";
        auto known = threadIds.emplace(writer, match[1].str());
        EXPECT_EQ(known.first->second, match[1].str());
    }
    for (int count : next) {
        EXPECT_EQ(count, linesPerThread);
    }
}

namespace {

// Lines stamped by their own thread at the given times, handed over later.
class CStampedBatch : public CLogLineBatch
{
public:
    CStampedBatch(std::vector<std::pair<SYSTEMTIME, std::string>> lines) : m_Lines(std::move(lines)) {}
    void AppendLines(std::vector<CLogLine>& lines) override
    {
        for (const auto& line : m_Lines) {
            CMfxString text = CLogFile::FormatStamp(line.first, 7);
            text += CMfxString(line.second.c_str());
            text += L"\r\n";
            lines.push_back({StampOrder(line.first), text});
        }
    }

private:
    std::vector<std::pair<SYSTEMTIME, std::string>> m_Lines;
};

// A batch that holds the writer thread inside its flush until the test lets it go.
class CBlockingBatch : public CLogLineBatch
{
public:
    CBlockingBatch(HANDLE entered, HANDLE release) : m_Entered(entered), m_Release(release) {}
    void AppendLines(std::vector<CLogLine>& /*lines*/) override
    {
        SetEvent(m_Entered);
        WaitForSingleObject(m_Release, 10000);
    }

private:
    HANDLE m_Entered;
    HANDLE m_Release;
};

} // namespace

TEST_F(LogFileTest, LinesTakenInOneFlushAreWrittenInTheOrderOfTheirStamps)
{
    HANDLE entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        CLogFile log;
        UseTestClock(log);
        ASSERT_TRUE(log.Open(0, 3, 0, m_Folder, L"gw", L""));
        SYSTEMTIME now;
        GetLocalTimeMs(log.GetTimeState(), now);
        // The writer is held in one flush; what follows is taken by the next one.
        ASSERT_TRUE(log.QueueBatch(std::make_unique<CBlockingBatch>(entered, release), now));
        ASSERT_EQ(WaitForSingleObject(entered, 10000), WAIT_OBJECT_0);

        // Stamped before the line below, handed over after it; two lines of one millisecond.
        SYSTEMTIME early = TicksToSystemTime(SystemTimeToTicks(now) - 500 * kMs);
        SYSTEMTIME later = TicksToSystemTime(SystemTimeToTicks(now) + 100 * kMs);
        log.WriteLine(L"written now");
        ASSERT_TRUE(
            log.QueueBatch(std::make_unique<CStampedBatch>(std::vector<std::pair<SYSTEMTIME, std::string>>{
                               {early, "early a"}, {early, "early b"}, {later, "later"}}),
                           later));
        log.WriteLine(L"written last");
        SetEvent(release);
    }
    CloseHandle(entered);
    CloseHandle(release);
    std::vector<std::string> texts;
    for (const std::string& line : Lines(ReadBytes(File(L"gw_2016_09_07.txt")))) {
        texts.push_back(line.substr(line.find("  ") + 2));
    }
    const std::vector<std::string> expected = {"early a", "early b", "written now", "written last", "later"};
    EXPECT_EQ(texts, expected);
}

TEST_F(LogFileTest, ANewDaysFileThatCannotBeOpenedIsReportedOnceAndTheLogRunsOn)
{
    const CMfxString folder = File(L"logs");
    const CMfxString away = File(L"logs_away");
    SetDate(2016, 9, 7, 23, 59, 50);
    CLogFile log;
    UseTestClock(log);
    ASSERT_TRUE(log.Open(0, 3, 0, folder, L"gw", L""));
    log.WriteLine(L"before midnight");
    ASSERT_TRUE(WaitForText(folder + L"\\gw_2016_09_07.txt", "before midnight"));
    CMfxString path;
    CMfxString failure;
    EXPECT_FALSE(log.TakeReopenFailure(path, failure));

    // The folder goes, and a file of its name keeps it from being made again.
    ASSERT_TRUE(MoveFileW(folder.GetString(), away.GetString()));
    WriteBytes(folder, "not a folder");
    SetDate(2016, 9, 8, 0, 0, 1);
    EXPECT_TRUE(log.WriteLine(L"after midnight"));
    ASSERT_TRUE(WaitForReopenFailure(log, path, failure));
    EXPECT_EQ(Text(path), Text(folder + L"\\gw_2016_09_08.txt"));
    EXPECT_EQ(failure.Find(L"error "), 0) << failure.GetAnsi();
    EXPECT_GT(failure.GetLength(), 8) << "the system's text follows the number";

    // Later lines try the same file again without another report.
    EXPECT_TRUE(log.WriteLine(L"still without a file"));
    log.Flush();
    EXPECT_TRUE(log.WriteLine(L"written at once"));
    EXPECT_FALSE(log.TakeReopenFailure(path, failure));

    // Once the folder is back the lines go to the new day's file.
    ASSERT_TRUE(DeleteFileW(folder.GetString()));
    ASSERT_TRUE(MoveFileW(away.GetString(), folder.GetString()));
    EXPECT_TRUE(log.WriteLine(L"back again"));
    EXPECT_TRUE(Contains(ReadBytes(folder + L"\\gw_2016_09_08.txt"), "  back again\r\n"));
    EXPECT_FALSE(log.TakeReopenFailure(path, failure));
}

TEST_F(LogFileTest, ANextFileThatCannotBeOpenedPastTheSizeLimitIsReportedOnceAndTriedAgain)
{
    const CMfxString folder = File(L"logs");
    const CMfxString away = File(L"logs_away");
    CreateDirectoryPath(folder);
    WriteBytes(folder + L"\\gw_2016_09_07__1.txt", "prepared", 64ll * 1024 * 1024 + 1);
    CLogFile log;
    UseTestClock(log);
    ASSERT_TRUE(log.Open(0, 3, 1, folder, L"gw", L""));

    ASSERT_TRUE(MoveFileW(folder.GetString(), away.GetString()));
    WriteBytes(folder, "not a folder");
    EXPECT_TRUE(log.WriteLine(L"past the limit"));
    CMfxString path;
    CMfxString failure;
    ASSERT_TRUE(WaitForReopenFailure(log, path, failure));
    EXPECT_EQ(Text(path), Text(folder + L"\\gw_2016_09_07__2.txt"));

    // Every later batch tries that same file again, without another report.
    for (int batch = 0; batch < 3; ++batch) {
        EXPECT_TRUE(log.WriteLine(L"still without a file"));
        log.Flush();
        EXPECT_FALSE(log.TakeReopenFailure(path, failure)) << Text(path);
    }

    ASSERT_TRUE(DeleteFileW(folder.GetString()));
    ASSERT_TRUE(MoveFileW(away.GetString(), folder.GetString()));
    EXPECT_TRUE(log.WriteLine(L"back again"));
    log.Flush();
    EXPECT_TRUE(Contains(ReadBytes(folder + L"\\gw_2016_09_07__2.txt"), "  back again\r\n"));
    EXPECT_FALSE(FileExists(folder + L"\\gw_2016_09_07__3.txt"));
    EXPECT_FALSE(log.TakeReopenFailure(path, failure));
}

TEST_F(LogFileTest, WithoutSettingsNothingIsWrittenOrCreated)
{
    CLogFile log;
    EXPECT_FALSE(log.IsOpen());
    EXPECT_FALSE(log.WriteLine(L"dropped"));
    EXPECT_FALSE(log.WriteLineFormat(L"dropped %d", 1));
    EXPECT_FALSE(log.Open(1, 3, 0, L"", L"gw", L""));
    EXPECT_FALSE(log.Open(1, 3, 0, File(L"never"), L"", L""));
    EXPECT_FALSE(DirectoryExists(File(L"never")));
    EXPECT_FALSE(log.WriteLine(L"dropped"));
}

TEST_F(LogFileTest, AFolderOfASeparatorAloneFailsWithItsOwnReason)
{
    // The folder setting is not empty, so the failure is reported: never as "error 0".
    CLogFile log;
    EXPECT_FALSE(log.Open(1, 3, 0, L"\\", L"gw", L""));
    EXPECT_EQ(log.GetFilePath(), CMfxString(L"\\"));
    EXPECT_EQ(log.GetOpenFailure().Find(L"error 161"), 0) << log.GetOpenFailure().GetString();
}

TEST_F(LogFileTest, MissingFolderIsCreated)
{
    CLogFile log;
    UseTestClock(log);
    ASSERT_TRUE(log.Open(0, 3, 0, File(L"new\\deeper\\"), L"gw", L""));
    EXPECT_TRUE(FileExists(File(L"new\\deeper\\gw_2016_09_07.txt")));
}

TEST(LocalTime, DerivedTimeStaysRightPastTheTimerWrap)
{
    const DWORD start = 0xFFFFFF00u;
    g_tick = start;
    CLocalTimeState state;
    state.SetClock(&CoarseLocalTime, &FakeTick);
    SYSTEMTIME now;
    state.GetTime(now); // calibrates at the tick `start`; the coarse clock makes the timer count

    g_tick = start + 0x80000000u;
    state.GetTime(now);
    g_tick = start + 1000u; // 2^32 + 1000 ms after the start
    state.GetTime(now);
    ULONGLONG elapsed = (SystemTimeToTicks(now) - SystemTimeToTicks(g_coarseTime)) / kMs;
    EXPECT_EQ(elapsed, (1ull << 32) + 1000);
    EXPECT_EQ(now.wYear, 2016);
    EXPECT_EQ(now.wMonth, 10);
    EXPECT_EQ(now.wDay, 27);
}
