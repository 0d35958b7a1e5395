#include "discovery/StreamBrowser.h"

#include "discovery/CorvaneManager.h"
#include "gateway/VelmoraManager.h"

namespace Corvane {

CStreamBrowser::~CStreamBrowser()
{
    Close();
}

BOOL CStreamBrowser::Init(CCorvaneManager* pOwner)
{
    m_pOwner = pOwner;
    m_pOwner->m_pOwner->LogDebug(kLogGlobal,
                                 L"CStreamBrowser::Init() DNS-SD discovery is not available in this build");
    return FALSE;
}

void CStreamBrowser::OnTimer()
{
    // Nothing to poll in this build.
}

void CStreamBrowser::Close()
{
    // No request and no record exist in this build.
}

} // namespace Corvane
