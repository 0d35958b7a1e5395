#include "afx/afxplatform.h"
#include "foundation/LogFile.h"

#include "afx/afxfile.h"
#include "afx/afxthread.h"
#include "foundation/PathHelpers.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cwchar>
#include <mmsystem.h>

namespace {

const ULONGLONG kFileTimeTicksPerMs = 10000;
const ULONGLONG kFileTimeTicksPerDay = 24ull * 60 * 60 * 1000 * kFileTimeTicksPerMs;
const int kCalibrationTimerSteps = 100;
const int kFineClockMinimumChanges = 80;
const DWORD kWriterWakeMs = 1000;
const int kStopPollRounds = 1000;
const int kStopPollMs = 5;
const int kStartWaitRounds = 10000;
const int kFormatBufferChars = 2048;
const int kStampBufferChars = 256;
const int kSearchPathChars = 8192;
// The kept dates are listed one by one. A larger DeleteKeepDays (a way of saying "keep everything")
// would list dates for ever, so it keeps every file: none can be that old.
const int kMaxKeepDays = 3660;
const DWORD kNoThread = static_cast<DWORD>(-1);
const wchar_t kDefaultLinePrefix[] = L"unknown 0.0.0.0 ( 0x00000000 ) Stackdump, ";

// Year, month and day as one number (20160907), to tell days apart.
DWORD DayNumber(const SYSTEMTIME& time)
{
    return time.wYear * 10000u + time.wMonth * 100u + time.wDay;
}

bool IsDigitAt(const CMfxString& text, int position)
{
    return text[position] >= L'0' && text[position] <= L'9';
}

// "error N, <the system's text for N>".
CMfxString FormatOpenFailure(DWORD error)
{
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                              FORMAT_MESSAGE_IGNORE_INSERTS,
                                          nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    CMfxString reason;
    if (length > 0 && text != nullptr) {
        reason = text;
        reason.TrimRight();
    }
    if (text != nullptr) {
        ::LocalFree(text);
    }
    CMfxString failure;
    failure.Format(L"error %u%s%s", static_cast<unsigned>(error), reason.IsEmpty() ? L"" : L", ",
                   reason.GetString());
    return failure;
}

} // namespace

ULONGLONG SystemTimeToTicks(const SYSTEMTIME& time)
{
    FILETIME fileTime = {};
    SystemTimeToFileTime(&time, &fileTime);
    return (static_cast<ULONGLONG>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
}

SYSTEMTIME TicksToSystemTime(ULONGLONG ticks)
{
    FILETIME fileTime = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME time = {};
    FileTimeToSystemTime(&fileTime, &time);
    return time;
}

CLocalTimeState::CLocalTimeState() : m_GetLocalTime(&GetLocalTime), m_GetTick(&timeGetTime) {}

void CLocalTimeState::SetClock(LocalTimeSource localTime, TickSource tick)
{
    CSingleLock lock(&m_Lock, TRUE);
    m_GetLocalTime = localTime;
    m_GetTick = tick;
    m_Calibrate = true;
    m_Plain = true;
}

ULONGLONG CLocalTimeState::ReadTick()
{
    // The 32-bit timer wraps every 49.7 days; the difference of two readings is right across a wrap.
    DWORD raw = m_GetTick();
    m_Tick += static_cast<DWORD>(raw - m_LastRawTick);
    m_LastRawTick = raw;
    return m_Tick;
}

void CLocalTimeState::Calibrate()
{
    m_Calibrate = false;
    m_GetLocalTime(&m_BaseTime);
    m_LastRawTick = m_GetTick();
    m_Tick = m_LastRawTick;
    m_BaseTick = m_Tick;
    // Watch both clocks for 100 timer steps: a system clock whose milliseconds change less often
    // than the timer's is too coarse for the stamps.
    DWORD lastTick = m_LastRawTick;
    WORD lastMilliseconds = m_BaseTime.wMilliseconds;
    int timerSteps = 0;
    int clockChanges = 0;
    while (timerSteps < kCalibrationTimerSteps) {
        DWORD tick = m_GetTick();
        SYSTEMTIME now;
        m_GetLocalTime(&now);
        if (tick != lastTick) {
            ++timerSteps;
            lastTick = tick;
        }
        if (now.wMilliseconds != lastMilliseconds) {
            ++clockChanges;
            lastMilliseconds = now.wMilliseconds;
        }
    }
    ReadTick();
    if (clockChanges < kFineClockMinimumChanges) {
        m_Plain = false;
    }
}

void CLocalTimeState::GetTime(SYSTEMTIME& now)
{
    CSingleLock lock(&m_Lock, TRUE);
    if (m_Calibrate) {
        Calibrate();
    }
    if (m_Plain) {
        m_GetLocalTime(&now);
        return;
    }
    ULONGLONG elapsed = ReadTick() - m_BaseTick;
    now = TicksToSystemTime(SystemTimeToTicks(m_BaseTime) + elapsed * kFileTimeTicksPerMs);
}

void CLocalTimeState::KeepTickCurrent()
{
    CSingleLock lock(&m_Lock, TRUE);
    if (!m_Calibrate) {
        ReadTick();
    }
}

void GetLocalTimeMs(CLocalTimeState& state, SYSTEMTIME& now)
{
    state.GetTime(now);
}

// The state of a log file, shared by the object and its writer thread.
class CLogFile::CCore
{
public:
    BOOL Open(int deleteOld, int deleteKeepDays, int fileNumber, CMfxString directory, CMfxString filename,
              CMfxString linePrefix);
    BOOL WriteLine(const wchar_t* text);
    BOOL WriteLineFormat(const wchar_t* format, ...);
    BOOL WriteLineFormatV(const wchar_t* format, va_list args);
    BOOL QueueBatch(std::unique_ptr<CLogLineBatch> batch, const SYSTEMTIME& lastTime);
    UINT WriterThread();
    void Flush();

    CMfxString m_Directory;
    CMfxString m_Filename;
    CMfxString m_Extension = L"txt";
    int m_DeleteOld = 0;
    int m_DeleteKeepDays = 1;
    std::atomic<int> m_NewDay{0};
    std::atomic<int> m_CheckOldFiles{0};
    std::atomic<int> m_SizeExceeded{0};
    int m_FileNumber = 0;
    std::atomic<ULONGLONG> m_FileSize{0};
    ULONGLONG m_MaxFileSize = kMaxFileSize;
    std::atomic<int> m_IsOpen{0};
    // The system's error code of the last open that failed.
    DWORD m_LastOpenError = 0;
    CMfxString m_FilePath;
    CLocalTimeState m_TimeState;
    CFile m_File;
    CCriticalSection m_FileLock;
    std::atomic<DWORD> m_LastLineDay{0};
    CEvent m_Event;
    std::atomic<DWORD> m_WriterThreadId{kNoThread};
    std::atomic<int> m_Run{1};
    CCriticalSection m_PendingLock;
    std::vector<CLogLine> m_PendingLines;
    // Batches with the number of pending lines queued before each.
    std::vector<std::pair<size_t, std::unique_ptr<CLogLineBatch>>> m_PendingBatches;
    CMfxString m_LinePrefix = kDefaultLinePrefix;
    // A reopen that failed, until the owner takes it (TakeReopenFailure).
    CCriticalSection m_ReopenFailureLock;
    bool m_ReopenFailed = false;
    CMfxString m_ReopenFailurePath;
    DWORD m_ReopenFailureError = 0;

private:
    CMfxString FormatStamp(SYSTEMTIME& now);
    void NoteLineTime(const SYSTEMTIME& now);
    CMfxString MakeFilePath(const SYSTEMTIME& date, int number) const;
    bool OpenFileAtEnd();
    void CheckReopen();
    void DeleteOldFiles();
    bool IsOldOwnFile(const CMfxString& path, const std::vector<CMfxString>& keptDates) const;
    void WriteBatch();
    void WriteLines(const std::vector<CLogLine>& lines);
    // Opens the file of a new day or the next continuation file; a failure is kept for the owner.
    void Reopen(int fileNumber);
};

CMfxString CLogFile::CCore::MakeFilePath(const SYSTEMTIME& date, int number) const
{
    CMfxString path;
    if (number == 0) {
        path.Format(L"%s\\%s_%04d_%02d_%02d.%s", m_Directory.GetString(), m_Filename.GetString(), date.wYear,
                    date.wMonth, date.wDay, m_Extension.GetString());
    } else {
        path.Format(L"%s\\%s_%04d_%02d_%02d__%d.%s", m_Directory.GetString(), m_Filename.GetString(),
                    date.wYear, date.wMonth, date.wDay, number, m_Extension.GetString());
    }
    return path;
}

bool CLogFile::CCore::OpenFileAtEnd()
{
    CSingleLock lock(&m_FileLock, TRUE);
    if (!OpenOrCreateFile(m_File, m_FilePath)) {
        m_LastOpenError = ::GetLastError();
        return false;
    }
    // Lines are appended: the position at the end is the file's length.
    ULONGLONG length = m_File.SeekToEnd();
    if (length == static_cast<ULONGLONG>(-1)) {
        const DWORD error = ::GetLastError();
        m_LastOpenError = error != ERROR_SUCCESS ? error : ERROR_SEEK;
        m_File.Close();
        return false;
    }
    m_FileSize = length;
    return true;
}

BOOL CLogFile::CCore::Open(int deleteOld, int deleteKeepDays, int fileNumber, CMfxString directory,
                           CMfxString filename, CMfxString linePrefix)
{
    const CMfxString given = directory;
    directory = RemoveTrailingPathSeparator(directory);
    if (directory.IsEmpty() || filename.IsEmpty()) {
        // Without both settings there is no log file, and nothing is created. A folder that is a
        // separator alone leaves no folder name: a failure with a reason of its own.
        if (!m_IsOpen) {
            m_FilePath = given; // the failure names what was asked for
        }
        m_LastOpenError = ERROR_BAD_PATHNAME;
        return FALSE;
    }
    m_Directory = directory;
    m_Filename = filename;
    m_DeleteOld = deleteOld;
    m_DeleteKeepDays = deleteKeepDays;
    m_FileNumber = fileNumber;
    m_LinePrefix = linePrefix;
    int dot = m_Filename.ReverseFind(L'.');
    if (dot >= 0) {
        m_Extension = m_Filename.Mid(dot + 1);
        m_Filename = m_Filename.Left(dot);
    }
    SYSTEMTIME now;
    GetLocalTimeMs(m_TimeState, now);
    m_LastLineDay = DayNumber(now);
    if (fileNumber == 0) {
        m_CheckOldFiles = 1;
    }
    if (!DirectoryExists(m_Directory)) {
        CreateDirectoryPath(m_Directory);
    }

    CSingleLock lock(&m_FileLock, TRUE);
    if (m_FileNumber == 0) {
        int number = 0;
        CMfxString path = MakeFilePath(now, 0);
        while (FileExists(path)) {
            path = MakeFilePath(now, ++number);
        }
        m_FilePath = path;
        m_FileNumber = number;
    } else {
        m_FilePath = MakeFilePath(now, m_FileNumber);
    }
    if (!OpenFileAtEnd()) {
        return FALSE;
    }
    m_IsOpen = 1;
    return TRUE;
}

CMfxString CLogFile::CCore::FormatStamp(SYSTEMTIME& now)
{
    GetLocalTimeMs(m_TimeState, now);
    return CLogFile::FormatStamp(now, GetCurrentThreadId());
}

CMfxString CLogFile::FormatStamp(const SYSTEMTIME& time, DWORD threadId)
{
    wchar_t stamp[kStampBufferChars] = {};
    _snwprintf(stamp, kStampBufferChars - 1, L"%02d.%02d.%04d %02d:%02d:%02d,%03d T:%04d  ", time.wDay,
               time.wMonth, time.wYear, time.wHour, time.wMinute, time.wSecond, time.wMilliseconds,
               static_cast<int>(threadId));
    return stamp;
}

void CLogFile::CCore::NoteLineTime(const SYSTEMTIME& now)
{
    // Year, month and day count, so that a gap of a whole month is a change of day too.
    if (m_LastLineDay.exchange(DayNumber(now)) != DayNumber(now)) {
        m_NewDay = 1;
        m_CheckOldFiles = 1;
    }
    if (!m_SizeExceeded && m_FileSize > m_MaxFileSize) {
        m_SizeExceeded = 1;
    }
}

BOOL CLogFile::CCore::WriteLine(const wchar_t* text)
{
    if (!m_IsOpen) {
        return FALSE;
    }
    if (text == nullptr) {
        text = L"";
    }
    SYSTEMTIME now;
    if (m_WriterThreadId != kNoThread) {
        size_t length = wcslen(text);
        for (int dropped = 0;
             dropped < 2 && length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n');
             ++dropped) {
            --length;
        }
        if (length == 0) {
            return TRUE;
        }
        {
            // Stamp and queue under one lock: the queue stays in time order, and a change of day is
            // seen once.
            CSingleLock lock(&m_PendingLock, TRUE);
            CMfxString line = FormatStamp(now);
            line.Append(text, static_cast<int>(length));
            line += L"\r\n";
            NoteLineTime(now);
            m_PendingLines.push_back({StampOrder(now), line});
        }
        m_Event.SetEvent();
        return TRUE;
    }
    CSingleLock lock(&m_FileLock, TRUE);
    CMfxString line = FormatStamp(now);
    line += text;
    line += L"\r\n";
    NoteLineTime(now);
    CheckReopen();
    WriteLines({{StampOrder(now), line}});
    return TRUE;
}

BOOL CLogFile::CCore::QueueBatch(std::unique_ptr<CLogLineBatch> batch, const SYSTEMTIME& lastTime)
{
    if (!m_IsOpen || !batch) {
        return FALSE;
    }
    if (m_WriterThreadId != kNoThread) {
        {
            CSingleLock lock(&m_PendingLock, TRUE);
            NoteLineTime(lastTime);
            m_PendingBatches.emplace_back(m_PendingLines.size(), std::move(batch));
        }
        m_Event.SetEvent();
        return TRUE;
    }
    CSingleLock lock(&m_FileLock, TRUE);
    std::vector<CLogLine> lines;
    batch->AppendLines(lines);
    NoteLineTime(lastTime);
    CheckReopen();
    WriteLines(lines);
    return TRUE;
}

BOOL CLogFile::CCore::WriteLineFormatV(const wchar_t* format, va_list args)
{
    if (!m_IsOpen) {
        return FALSE;
    }
    wchar_t text[kFormatBufferChars] = {};
    _vsnwprintf(text, kFormatBufferChars - 1, format, args);
    return WriteLine(text);
}

void CLogFile::CCore::CheckReopen()
{
    if (m_NewDay) {
        m_NewDay = 0;
        m_SizeExceeded = 0;
        Reopen(0);
    }
    if (m_SizeExceeded) {
        m_SizeExceeded = 0;
        Reopen(m_FileNumber + 1);
    }
    if (m_IsOpen) {
        CSingleLock lock(&m_FileLock, TRUE);
        if (!m_File.IsOpen()) {
            OpenFileAtEnd(); // the file was lost by a failed write or reopen: try again
        }
    }
    if (m_CheckOldFiles) {
        DeleteOldFiles();
        m_CheckOldFiles = 0;
    }
}

void CLogFile::CCore::Reopen(int fileNumber)
{
    CSingleLock lock(&m_FileLock, TRUE);
    m_File.Close();
    if (Open(m_DeleteOld, m_DeleteKeepDays, fileNumber, m_Directory, m_Filename + L"." + m_Extension,
             m_LinePrefix)) {
        return;
    }
    // Said once; later batches try the same file again without a word. Nothing is in that file yet:
    // the size of the file left behind would call for the next number again at every batch.
    m_FileSize = 0;
    CSingleLock failureLock(&m_ReopenFailureLock, TRUE);
    m_ReopenFailed = true;
    m_ReopenFailurePath = m_FilePath;
    m_ReopenFailureError = m_LastOpenError;
}

bool CLogFile::CCore::IsOldOwnFile(const CMfxString& path, const std::vector<CMfxString>& keptDates) const
{
    // Only names this log file gives: base name, "_yyyy_mm_dd", an optional number and the extension.
    CMfxString name = GetFileNameFromPath(path);
    int base = m_Filename.GetLength();
    if (GetFileExtension(path) != m_Extension || name.GetLength() < base + 11 ||
        name.Left(base) != m_Filename) {
        return false;
    }
    const int separators[] = {base, base + 5, base + 8};
    for (int position : separators) {
        if (name[position] != L'_') {
            return false;
        }
    }
    const int digits[] = {base + 1, base + 2, base + 3, base + 4, base + 6, base + 7, base + 9, base + 10};
    for (int position : digits) {
        if (!IsDigitAt(name, position)) {
            return false;
        }
    }
    for (const CMfxString& date : keptDates) {
        if (name.Find(date) >= 0) {
            return false;
        }
    }
    return true;
}

void CLogFile::CCore::DeleteOldFiles()
{
    if (!m_DeleteOld) {
        return;
    }
    m_CheckOldFiles = 0;
    WriteLineFormat(
        L"Zint -.-.-.- ( 0x00000000 ) Global,      CLogFile::DeleteOldFiles() start check old files "
        L"for filename %s_xxxx_xx_xx*.%s",
        m_Filename.GetString(), m_Extension.GetString());
    if (m_DeleteKeepDays > kMaxKeepDays) {
        return;
    }
    SYSTEMTIME today;
    GetLocalTimeMs(m_TimeState, today);
    std::vector<CMfxString> keptDates;
    for (int i = 0; i <= m_DeleteKeepDays; ++i) {
        SYSTEMTIME day =
            TicksToSystemTime(SystemTimeToTicks(today) - static_cast<ULONGLONG>(i) * kFileTimeTicksPerDay);
        CMfxString date;
        date.Format(L"_%04d_%02d_%02d", day.wYear, day.wMonth, day.wDay);
        keptDates.push_back(date);
    }
    std::vector<CMfxString> files;
    if (!m_Directory.IsEmpty()) {
        CLogFile::ListFiles(files, 0, 0, m_Directory, L"*.*");
    }
    for (const CMfxString& path : files) {
        if (IsOldOwnFile(path, keptDates)) {
            WriteLineFormat(
                L"Zint -.-.-.- ( 0x00000000 ) Global,      CLogFile::DeleteOldFiles() delete file %s",
                path.GetString());
            DeleteFileW(path.GetString()); // a file that cannot be deleted stays
        }
    }
}

BOOL CLogFile::CCore::WriteLineFormat(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    BOOL result = WriteLineFormatV(format, args);
    va_end(args);
    return result;
}

void CLogFile::CCore::WriteLines(const std::vector<CLogLine>& lines)
{
    CSingleLock lock(&m_FileLock, TRUE);
    if (!m_File.IsOpen()) {
        return; // no file: the lines are dropped
    }
    for (const CLogLine& line : lines) {
        int written = line.text.WriteAnsi(m_File);
        if (written < 0) {
            // Disk full or share gone: drop the rest of the batch and let the next batch reopen the file.
            m_File.Close();
            return;
        }
        m_FileSize += static_cast<ULONGLONG>(written);
    }
}

void CLogFile::CCore::WriteBatch()
{
    std::vector<CLogLine> lines;
    std::vector<std::pair<size_t, std::unique_ptr<CLogLineBatch>>> batches;
    {
        CSingleLock lock(&m_PendingLock, TRUE);
        lines.swap(m_PendingLines);
        batches.swap(m_PendingBatches);
    }
    if (!batches.empty()) {
        // The batches' lines are made here, each batch in its place in the queue.
        std::vector<CLogLine> merged;
        merged.reserve(lines.size());
        size_t taken = 0;
        for (auto& entry : batches) {
            merged.insert(merged.end(), lines.begin() + taken, lines.begin() + entry.first);
            taken = entry.first;
            entry.second->AppendLines(merged);
        }
        merged.insert(merged.end(), lines.begin() + taken, lines.end());
        lines.swap(merged);
        // A batch is stamped line by line on its own thread and handed over later, behind lines
        // that other threads stamped in the meantime: the stamps decide the order. Lines of the
        // same millisecond keep their order in the queue.
        auto earlier = [](const CLogLine& a, const CLogLine& b) { return a.order < b.order; };
        if (!std::is_sorted(lines.begin(), lines.end(), earlier)) {
            std::stable_sort(lines.begin(), lines.end(), earlier);
        }
    }
    if (!lines.empty()) {
        CheckReopen(); // the first line of a new day already goes to the new day's file
        WriteLines(lines);
    }
}

UINT CLogFile::CCore::WriterThread()
{
    m_WriterThreadId = GetCurrentThreadId();
    while (m_Run) {
        m_Event.Lock(kWriterWakeMs);
        m_Event.ResetEvent();
        m_TimeState.KeepTickCurrent();
        if (!m_Run) {
            break;
        }
        if (!m_IsOpen) {
            continue;
        }
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
        WriteBatch();
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
    }
    // Lines queued while stopping are written here, so that a writer that ends late loses none.
    WriteBatch();
    m_WriterThreadId = kNoThread;
    return 0;
}

void CLogFile::CCore::Flush()
{
    if (m_WriterThreadId != kNoThread) {
        m_Run = 0;
        m_Event.SetEvent();
        SleepEx(1, TRUE);
        for (int round = 0; round < kStopPollRounds && m_WriterThreadId != kNoThread; ++round) {
            SleepEx(kStopPollMs, TRUE);
        }
    }
    if (m_WriterThreadId != kNoThread) {
        return; // a writer that hangs (a lost share) writes what is left when it ends
    }
    WriteBatch();
}

CLogFile::CLogFile() : m_Core(std::make_shared<CCore>())
{
    auto* param = new std::shared_ptr<CCore>(m_Core);
    if (AfxBeginThread(&CLogFile::WriterThreadProc, param, THREAD_PRIORITY_BELOW_NORMAL) == nullptr) {
        delete param; // no writer thread: lines are written at once
        return;
    }
    for (int round = 0; round < kStartWaitRounds && m_Core->m_WriterThreadId == kNoThread; ++round) {
        SleepEx(1, TRUE);
    }
}

CLogFile::~CLogFile()
{
    m_Core->Flush();
}

UINT CLogFile::WriterThreadProc(LPVOID param)
{
    if (param == nullptr) {
        return 0;
    }
    std::shared_ptr<CCore> core = std::move(*static_cast<std::shared_ptr<CCore>*>(param));
    delete static_cast<std::shared_ptr<CCore>*>(param);
    return core->WriterThread();
}

BOOL CLogFile::Open(int deleteOld, int deleteKeepDays, int fileNumber, CMfxString directory,
                    CMfxString filename, CMfxString linePrefix)
{
    return m_Core->Open(deleteOld, deleteKeepDays, fileNumber, directory, filename, linePrefix);
}

BOOL CLogFile::WriteLine(const wchar_t* text)
{
    return m_Core->WriteLine(text);
}

BOOL CLogFile::WriteLineFormat(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    BOOL result = m_Core->WriteLineFormatV(format, args);
    va_end(args);
    return result;
}

BOOL CLogFile::QueueBatch(std::unique_ptr<CLogLineBatch> batch, const SYSTEMTIME& lastTime)
{
    return m_Core->QueueBatch(std::move(batch), lastTime);
}

void CLogFile::Flush()
{
    m_Core->Flush();
}

CMfxString CLogFile::GetOpenFailure() const
{
    return FormatOpenFailure(m_Core->m_LastOpenError);
}

BOOL CLogFile::TakeReopenFailure(CMfxString& path, CMfxString& failure)
{
    DWORD error = 0;
    {
        CSingleLock lock(&m_Core->m_ReopenFailureLock, TRUE);
        if (!m_Core->m_ReopenFailed) {
            return FALSE;
        }
        m_Core->m_ReopenFailed = false;
        path = m_Core->m_ReopenFailurePath;
        error = m_Core->m_ReopenFailureError;
    }
    failure = FormatOpenFailure(error);
    return TRUE;
}

BOOL CLogFile::IsOpen() const
{
    return m_Core->m_IsOpen ? TRUE : FALSE;
}

CMfxString CLogFile::GetFilePath() const
{
    CSingleLock lock(&m_Core->m_FileLock, TRUE);
    return m_Core->m_FilePath;
}

CLocalTimeState& CLogFile::GetTimeState()
{
    return m_Core->m_TimeState;
}

void CLogFile::ListFiles(std::vector<CMfxString>& list, int maxDepth, int depth, CMfxString directory,
                         CMfxString pattern)
{
    if (depth > maxDepth) {
        return;
    }
    int length = directory.GetLength();
    if (length > 0 && directory[length - 1] == L'\\') {
        directory = directory.Left(length - 1);
    }
    CMfxString search;
    search.Format(L"%s\\%s", directory.GetString(), pattern.GetString());
    if (search.GetLength() >= kSearchPathChars) {
        return;
    }
    WIN32_FIND_DATAW entry = {};
    HANDLE find = FindFirstFileW(search.GetString(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        if (entry.cFileName[0] == L'.') {
            continue; // ".", ".." and names that begin with "."
        }
        CMfxString path = directory + L"\\" + entry.cFileName;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            ListFiles(list, maxDepth, depth + 1, path, pattern);
        } else if (std::find(list.begin(), list.end(), path) == list.end()) {
            list.push_back(path);
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}
