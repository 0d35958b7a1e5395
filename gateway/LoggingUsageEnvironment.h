// The RTSP library's usage environment of the gateway: the library's text output is collected
// into lines, and every completed line goes to the program's log file as one Debug line.
#pragma once

#include "foundation/MfxString.h"
#include "live/BasicUsageEnvironment.hh"

class CVelmoraManager;

class CLoggingUsageEnvironment : public BasicUsageEnvironment
{
public:
    // The library's environment on `scheduler`; completed lines go to the owner's log file
    // (nowhere when the owner is null).
    CLoggingUsageEnvironment(TaskScheduler& scheduler, CVelmoraManager* pOwner);

    // A piece of text completes a line when its last character is "\n"; line breaks inside it
    // become blanks. A null text is written as "(NULL)".
    UsageEnvironment& operator<<(char const* str) override;
    // Numbers are appended ("%d", "%u", "%f", "%p") and never complete a line.
    UsageEnvironment& operator<<(int i) override;
    UsageEnvironment& operator<<(unsigned u) override;
    UsageEnvironment& operator<<(double d) override;
    UsageEnvironment& operator<<(void* p) override;

protected:
    // Deleted through reclaim() once no library object uses the environment any more.
    ~CLoggingUsageEnvironment() override;

    // Writes one completed, trimmed, non-empty line.
    virtual void AddLogging(const CMfxString& line);

private:
    CVelmoraManager* m_pOwner;
    CMfxString m_PendingLine; // text collected since the last completed line
};
