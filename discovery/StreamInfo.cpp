#include "discovery/StreamInfo.h"

#include "foundation/NetworkInterfaces.h"

#include <atomic>

namespace Corvane {

namespace {
// Process-wide: 1 for the first record, never reused.
std::atomic<DWORD> g_NextSequenceNumber{1};
std::atomic<LONG> g_LiveRecords{0};
} // namespace

CStreamInfo::CStreamInfo(CStreamBrowser* pOwner, DWORD sourceKind)
    : m_SourceKind(sourceKind), m_pOwner(pOwner), m_SequenceNumber(g_NextSequenceNumber.fetch_add(1))
{
    ++g_LiveRecords;
}

CStreamInfo::~CStreamInfo()
{
    --g_LiveRecords;
}

void CStreamInfo::AddRef()
{
    ::InterlockedIncrement(&m_References);
}

void CStreamInfo::Release()
{
    if (::InterlockedDecrement(&m_References) == 0) {
        delete this;
    }
}

LONG CStreamInfo::LiveCount()
{
    return g_LiveRecords;
}

BOOL CStreamInfo::SetLocation(CString clientIP, int port)
{
    CSingleLock lock(&m_TextLock, TRUE);
    const BOOL moved = m_Resolved && (m_ClientIP != clientIP || m_Port != port);
    m_ClientIP = clientIP;
    m_Port = port;
    if (moved) {
        ::InterlockedIncrement(&m_Moves);
    }
    return moved;
}

BOOL CStreamInfo::FetchInterfaceInfo(int interfaceIndex)
{
    MIB_IFROW row;
    if (!ReadInterfaceRow(static_cast<DWORD>(interfaceIndex), row)) {
        return FALSE;
    }
    m_InterfaceIndex = interfaceIndex;
    BOOL matched = FALSE;
    for (const CInterfaceAddress& entry : ReadInterfaceAddresses()) {
        if (entry.index == static_cast<DWORD>(interfaceIndex)) {
            Write(m_InterfaceIP, CString(FormatIPv4(entry.address)));
            matched = TRUE;
        }
    }
    return matched;
}

} // namespace Corvane
