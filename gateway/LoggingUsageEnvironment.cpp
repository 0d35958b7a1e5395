#include "gateway/LoggingUsageEnvironment.h"

#include "gateway/VelmoraManager.h"

#include <cstdio>
#include <memory>
#include <utility>

namespace {

// A batch is handed over at the latest when it holds this many lines.
const size_t kMaxBatchLines = 512;

const wchar_t kLinePrefix[] = L"CLoggingUsageEnvironment::AddLogging() ";

} // namespace

// Completed lines of one scheduler step, finished on the log's writer thread.
class CLoggingUsageEnvironment::CBatch : public CLogLineBatch
{
public:
    CBatch(const CMfxString& front, std::vector<CRawLine>&& lines) : m_Front(front), m_Lines(std::move(lines))
    {
    }

    void AppendLines(std::vector<CLogLine>& lines) override
    {
        for (const CRawLine& raw : m_Lines) {
            const CMfxString text = FinishLine(raw.text);
            if (text.IsEmpty()) {
                continue;
            }
            CMfxString line = m_Front;
            line += kLinePrefix;
            line += text;
            if (line.GetLength() > kMaxLogLineLength) {
                line.Truncate(kMaxLogLineLength);
            }
            CMfxString stamped = CLogFile::FormatStamp(raw.time, raw.threadId);
            stamped += line;
            stamped += L"\r\n";
            lines.push_back({StampOrder(raw.time), stamped});
        }
    }

private:
    CMfxString m_Front;
    std::vector<CRawLine> m_Lines;
};

CLoggingUsageEnvironment::CLoggingUsageEnvironment(TaskScheduler& scheduler, CVelmoraManager* pOwner)
    : BasicUsageEnvironment(scheduler), m_pOwner(pOwner)
{
    if (m_pOwner != nullptr) {
        m_Front = FormatLogCategories(m_pOwner, kLogDebug);
    }
}

CLoggingUsageEnvironment::~CLoggingUsageEnvironment()
{
    FlushLog();
}

CMfxString CLoggingUsageEnvironment::FinishLine(const std::string& raw)
{
    CMfxString text(raw.c_str());
    text = text.Replace(L"\n", L" ").Replace(L"\r", L" ");
    text.Trim();
    // A client's request is traced as it came: its other control characters are shown escaped.
    return text.VisibleControls();
}

UsageEnvironment& CLoggingUsageEnvironment::operator<<(char const* str)
{
    const char* piece = str ? str : "(NULL)";
    const size_t length = std::char_traits<char>::length(piece);
    m_PendingLine.append(piece, length);
    if (length > 0 && piece[length - 1] == '\n') {
        CompleteLine();
    }
    return *this;
}

UsageEnvironment& CLoggingUsageEnvironment::operator<<(int i)
{
    m_PendingLine += std::to_string(i);
    return *this;
}

UsageEnvironment& CLoggingUsageEnvironment::operator<<(unsigned u)
{
    m_PendingLine += std::to_string(u);
    return *this;
}

UsageEnvironment& CLoggingUsageEnvironment::operator<<(double d)
{
    // The runtime's own formatting ("_snprintf"), as in every other line of the log.
    char text[64] = {};
    _snprintf(text, sizeof(text) - 1, "%f", d);
    m_PendingLine += text;
    return *this;
}

UsageEnvironment& CLoggingUsageEnvironment::operator<<(void* p)
{
    char text[32] = {};
    _snprintf(text, sizeof(text) - 1, "%p", p);
    m_PendingLine += text;
    return *this;
}

void CLoggingUsageEnvironment::CompleteLine()
{
    std::string raw;
    raw.swap(m_PendingLine);
    if (m_pOwner == nullptr) {
        const CMfxString text = FinishLine(raw);
        if (!text.IsEmpty()) {
            AddLogging(text);
        }
        return;
    }
    if ((m_pOwner->m_LogMask & kLogDebug) == 0 || !m_pOwner->m_LogFile.IsOpen()) {
        return;
    }
    CRawLine line;
    GetLocalTimeMs(m_pOwner->m_LogFile.GetTimeState(), line.time);
    line.threadId = GetCurrentThreadId();
    line.text.swap(raw);
    m_Batch.push_back(std::move(line));
    if (m_Batch.size() >= kMaxBatchLines) {
        FlushLog();
    }
}

void CLoggingUsageEnvironment::FlushLog()
{
    if (m_Batch.empty() || m_pOwner == nullptr) {
        return;
    }
    const SYSTEMTIME lastTime = m_Batch.back().time;
    std::unique_ptr<CLogLineBatch> batch(new CBatch(m_Front, std::move(m_Batch)));
    m_Batch.clear();
    m_pOwner->m_LogFile.QueueBatch(std::move(batch), lastTime);
}

void CLoggingUsageEnvironment::AddLogging(const CMfxString& /*line*/) {}
