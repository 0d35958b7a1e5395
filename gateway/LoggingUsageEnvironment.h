// The RTSP library's usage environment of the gateway: the library's text output is collected
// into lines, and every completed line goes to the program's log file as one Debug line.
//
// The RTSP-server thread only collects bytes and stamps each completed line (time, thread); the
// text conversion and the line's formatting happen on the log file's writer thread, in batches
// that the server thread hands over after each scheduler step (FlushLog). Without an open log file
// (or with Debug lines masked) completed lines are dropped at once.
#pragma once

#include "foundation/MfxString.h"
#include "live/BasicUsageEnvironment.hh"

#include <string>
#include <vector>

class CVelmoraManager;

class CLoggingUsageEnvironment : public BasicUsageEnvironment
{
public:
    // The library's environment on `scheduler`; completed lines go to the owner's log file
    // (to AddLogging at once when the owner is null).
    CLoggingUsageEnvironment(TaskScheduler& scheduler, CVelmoraManager* pOwner);

    // A piece of text completes a line when its last character is "\n"; line breaks inside it
    // become blanks. A null text is written as "(NULL)".
    UsageEnvironment& operator<<(char const* str) override;
    // Numbers are appended ("%d", "%u", "%f", "%p") and never complete a line.
    UsageEnvironment& operator<<(int i) override;
    UsageEnvironment& operator<<(unsigned u) override;
    UsageEnvironment& operator<<(double d) override;
    UsageEnvironment& operator<<(void* p) override;

    // Hands the lines completed since the last call to the log file (one batch). Called by the
    // RTSP-server thread after each scheduler step; also done when many lines have gathered and
    // when the environment ends.
    void FlushLog();

    // The text of a completed line as it is logged: bytes read in the ANSI code page, each "\n" and
    // "\r" a blank, white space trimmed at both ends (empty: nothing is logged).
    static CMfxString FinishLine(const std::string& raw);

protected:
    // Deleted through reclaim() once no library object uses the environment any more.
    ~CLoggingUsageEnvironment() override;

    // Without an owner: one completed, trimmed, non-empty line.
    virtual void AddLogging(const CMfxString& line);

private:
    struct CRawLine
    {
        SYSTEMTIME time;
        DWORD threadId;
        std::string text;
    };
    class CBatch;

    void CompleteLine();

    CVelmoraManager* m_pOwner;
    std::string m_PendingLine; // bytes collected since the last completed line
    std::vector<CRawLine> m_Batch;
    CMfxString m_Front; // the owner's front part of a Debug line
};
