// The shared log entry (log file) and the log-pane entry of the manager.
#include "gateway/VelmoraManager.h"

#include <cstdio>
#include <utility>

namespace {

// The format filled with the arguments, cut to kMaxLogLineLength characters.
CMfxString FormatCut(const wchar_t* format, va_list args)
{
    wchar_t buffer[kMaxLogLineLength + 1];
    const int written = _vsnwprintf(buffer, kMaxLogLineLength, format, args);
    // On truncation the runtime returns -1 and may leave no NUL.
    buffer[(written >= 0 && written < kMaxLogLineLength) ? written : kMaxLogLineLength] = 0;
    // Names and texts from the network may hold control characters: never raw in a log line.
    return CMfxString(buffer).VisibleControls(true);
}

const wchar_t* CategoryWord(DWORD mask)
{
    switch (mask) {
    case kLogGlobal:
        return L" Global,     ";
    case kLogIPC:
        return L" IPC,        ";
    case kLogASIO:
        return L" ASIO,       ";
    case kLogFileAccess:
        return L" FileAccess, ";
    case kLogDebug:
        return L" Debug,      ";
    case kLogStatistics:
        return L" Statistics, ";
    case kLogStackdump:
        return L" Stackdump,  ";
    case kLogSyslog:
        return L" Syslog,  ";
    default:
        return L", ";
    }
}

} // namespace

CMfxString FormatLogCategories(CVelmoraManager* pManager, DWORD mask)
{
    // Product and version are arguments, never part of a format.
    CMfxString front;
    front.Format(L"%s %s ( 0x%08lx )%s", pManager->m_ProductName.GetString(),
                 pManager->m_FileVersion.GetString(), pManager->GetIdentity(), CategoryWord(mask));
    return front;
}

void CVelmoraManager::LogDebug(DWORD mask, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    WriteLogFile(mask, format, args);
    va_end(args);
}

void CVelmoraManager::WriteLogFile(DWORD mask, const wchar_t* format, va_list args)
{
    if ((m_LogMask & mask) == 0 || !m_LogFile.IsOpen()) {
        return;
    }
    // The message is formatted on its own, then put behind the front part.
    CMfxString line = FormatLogCategories(this, mask);
    line += FormatCut(format, args);
    if (line.GetLength() > kMaxLogLineLength) {
        line.Truncate(kMaxLogLineLength);
    }
    m_LogFile.WriteLine(line.GetString());
}

void CVelmoraManager::AddLogText(COLORREF colour, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    AddLogTextWnd(colour, format, args);
    va_end(args);
}

void CVelmoraManager::AddLogTextWnd(COLORREF colour, const wchar_t* format, va_list args)
{
    const CMfxString text = FormatCut(format, args);
    LogDebug(kLogDebug, L"CVelmoraManager::AddLogTextWnd() %s", text.GetString());
    if (m_pOwner == nullptr) {
        return;
    }
    // Every pane line is stamped and queued under one lock, so the queue is in the order of the
    // stamps whichever thread writes. The GUI thread then shows the queue at once, its own line
    // behind the lines that other threads wrote before it.
    {
        CSingleLock lock(&m_LogLinesLock, TRUE);
        SYSTEMTIME now;
        GetLocalTimeMs(m_LogFile.GetTimeState(), now);
        CMfxString line;
        line.Format(L"%02d.%02d.%04d %02d:%02d:%02d,%03d ", now.wDay, now.wMonth, now.wYear, now.wHour,
                    now.wMinute, now.wSecond, now.wMilliseconds);
        line += text;
        m_LogLines.emplace_back(line, colour);
    }
    if (GetCurrentThreadId() == m_GuiThreadId) {
        ShowQueuedLogLines();
    }
}

void CVelmoraManager::FlushLogLines()
{
    // A log file that could not be opened again (a new day, the size limit) says so once, as a
    // failed open at the start does.
    CMfxString path;
    CMfxString failure;
    if (m_LogFile.TakeReopenFailure(path, failure)) {
        AddLogText(kLogRed, L"Cannot open log file %s: %s", path.GetString(), failure.GetString());
    }
    ShowQueuedLogLines();
}

void CVelmoraManager::ShowQueuedLogLines()
{
    // Only the GUI thread touches the pane, and only while its window exists.
    HWND pane = GetLogPaneWindow();
    if (pane == nullptr || !IsWindow(pane)) {
        return;
    }
    std::vector<CLogTextEntry> lines;
    {
        CSingleLock lock(&m_LogLinesLock, TRUE);
        lines.swap(m_LogLines);
    }
    for (const CLogTextEntry& entry : lines) {
        ShowInLogPane(entry.m_Text, entry.m_Colour);
    }
}
