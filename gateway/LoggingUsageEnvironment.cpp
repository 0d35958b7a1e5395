#include "gateway/LoggingUsageEnvironment.h"

#include "gateway/VelmoraManager.h"

CLoggingUsageEnvironment::CLoggingUsageEnvironment(TaskScheduler& scheduler, CVelmoraManager* pOwner)
    : BasicUsageEnvironment(scheduler), m_pOwner(pOwner)
{
}

CLoggingUsageEnvironment::~CLoggingUsageEnvironment() = default;

UsageEnvironment& CLoggingUsageEnvironment::operator<<(char const* str)
{
    CMfxString piece(str ? str : "(NULL)");
    const int length = piece.GetLength();
    const bool completesLine = length > 0 && piece[length - 1] == L'\n';
    piece = piece.Replace(L"\n", L" ").Replace(L"\r", L" ");
    m_PendingLine += piece;
    if (completesLine) {
        m_PendingLine.Trim();
        if (!m_PendingLine.IsEmpty())
            AddLogging(m_PendingLine);
        m_PendingLine.Empty();
    }
    return *this;
}

UsageEnvironment& CLoggingUsageEnvironment::operator<<(int i)
{
    m_PendingLine.AppendFormat(L"%d", i);
    return *this;
}

UsageEnvironment& CLoggingUsageEnvironment::operator<<(unsigned u)
{
    m_PendingLine.AppendFormat(L"%u", u);
    return *this;
}

UsageEnvironment& CLoggingUsageEnvironment::operator<<(double d)
{
    m_PendingLine.AppendFormat(L"%f", d);
    return *this;
}

UsageEnvironment& CLoggingUsageEnvironment::operator<<(void* p)
{
    m_PendingLine.AppendFormat(L"%p", p);
    return *this;
}

void CLoggingUsageEnvironment::AddLogging(const CMfxString& line)
{
    if (m_pOwner)
        m_pOwner->LogDebug(kLogDebug, L"CLoggingUsageEnvironment::AddLogging() %s", line.GetString());
}
