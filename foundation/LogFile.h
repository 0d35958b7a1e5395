// CLogFile: the program's daily text log.
//
// Callers on any thread hand it finished message text; it puts a time-and-thread stamp in front, ends
// the line with CR LF and queues it for its own writer thread, which appends the lines to the day's
// file in the ANSI code page. A file past the size limit continues in a numbered file, a change of
// day starts a new file, and files older than a number of days are deleted.
#pragma once

#include "afx/afxplatform.h"
#include "afx/afxmt.h"
#include "foundation/MfxString.h"

#include <memory>
#include <vector>

// Local time with real milliseconds. When the system clock is coarse, the time is derived from the
// millisecond timer (extended to 64 bits, so it stays right past the timer's wrap) and one local time
// taken at calibration; the first call calibrates and takes at least 100 timer steps.
class CLocalTimeState
{
public:
    using LocalTimeSource = void(WINAPI*)(LPSYSTEMTIME time);
    using TickSource = DWORD(WINAPI*)();

    CLocalTimeState();
    CLocalTimeState(const CLocalTimeState&) = delete;
    CLocalTimeState& operator=(const CLocalTimeState&) = delete;

    // Puts other clock sources in place of GetLocalTime and timeGetTime (tests); before the first use.
    void SetClock(LocalTimeSource localTime, TickSource tick);
    void GetTime(SYSTEMTIME& now);
    // Reads the timer once so that its 64-bit extension never misses a wrap; cheap after calibration.
    void KeepTickCurrent();

private:
    ULONGLONG ReadTick();
    void Calibrate();

    CCriticalSection m_Lock;
    bool m_Calibrate = true;
    bool m_Plain = true;
    SYSTEMTIME m_BaseTime = {};
    ULONGLONG m_BaseTick = 0;
    DWORD m_LastRawTick = 0;
    ULONGLONG m_Tick = 0;
    LocalTimeSource m_GetLocalTime;
    TickSource m_GetTick;
};

void GetLocalTimeMs(CLocalTimeState& state, SYSTEMTIME& now);

// A time as a count of 100-nanosecond steps (FILETIME), for arithmetic on dates and times.
ULONGLONG SystemTimeToTicks(const SYSTEMTIME& time);
SYSTEMTIME TicksToSystemTime(ULONGLONG ticks);

// A number that orders stamps by their time (year down to millisecond); cheap enough for every line.
inline ULONGLONG StampOrder(const SYSTEMTIME& time)
{
    ULONGLONG order = time.wYear;
    order = order * 16 + time.wMonth;
    order = order * 32 + time.wDay;
    order = order * 32 + time.wHour;
    order = order * 64 + time.wMinute;
    order = order * 64 + time.wSecond;
    return order * 1024 + time.wMilliseconds;
}

// One finished line of the log file and the time of its stamp (StampOrder): the lines that the
// writer thread takes at once are written in the order of their stamps.
struct CLogLine
{
    ULONGLONG order;
    CMfxString text; // stamp, text and CR LF
};

// Lines whose text is finished on the log's writer thread: the producer stamps each line when it
// happens (CLogFile::FormatStamp with its own time and thread) and hands many over at once, so
// that its own thread neither formats nor wakes the writer per line.
class CLogLineBatch
{
public:
    virtual ~CLogLineBatch() = default;
    // Appends the finished lines, each with its stamp in front and CR LF at its end, in time order.
    virtual void AppendLines(std::vector<CLogLine>& lines) = 0;
};

class CLogFile
{
public:
    static constexpr ULONGLONG kMaxFileSize = 64ull * 1024 * 1024;

    CLogFile();
    virtual ~CLogFile();
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

    // Opens the log file in directory for the base name filename (an extension in it replaces "txt").
    // File number 0 picks the day's first file, or the first continuation file that does not exist
    // yet; another number opens that continuation file. TRUE when the file is open.
    BOOL Open(int deleteOld, int deleteKeepDays, int fileNumber, CMfxString directory, CMfxString filename,
              CMfxString linePrefix);
    // Queues one line (trailing line breaks dropped); FALSE when no file has been opened.
    BOOL WriteLine(const wchar_t* text);
    BOOL WriteLineFormat(const wchar_t* format, ...);
    // Queues a batch behind the lines queued so far; lastTime is the time of its last line. FALSE
    // (and the batch dropped) when no file has been opened.
    BOOL QueueBatch(std::unique_ptr<CLogLineBatch> batch, const SYSTEMTIME& lastTime);
    // The stamp in front of each line: "dd.mm.yyyy hh:mm:ss,mmm T:tttt  ".
    static CMfxString FormatStamp(const SYSTEMTIME& time, DWORD threadId);

    // Stops the writer thread and writes out what is queued; later lines are written at once.
    void Flush();

    BOOL IsOpen() const;
    CMfxString GetFilePath() const;
    // Why the last open failed: the system's error code and its text.
    CMfxString GetOpenFailure() const;
    // TRUE once for each new file that could not be opened at a change of day or past the size
    // limit, with its path and the reason (as GetOpenFailure gives it). The log runs on: the lines
    // of later batches go to that file once it can be opened.
    BOOL TakeReopenFailure(CMfxString& path, CMfxString& failure);
    // The clock of the stamps, shared with whoever shows lines with the same calibration.
    CLocalTimeState& GetTimeState();

    static UINT WriterThreadProc(LPVOID param);
    // Appends the full path of each file in directory that matches pattern (sub-folders down to
    // maxDepth), without repeating a path already listed.
    static void ListFiles(std::vector<CMfxString>& list, int maxDepth, int depth, CMfxString directory,
                          CMfxString pattern);

private:
    class CCore;
    // Shared with the writer thread, so that a writer that outlives the object never uses freed state.
    std::shared_ptr<CCore> m_Core;
};
