#include "discovery/StreamProvider.h"

#include "discovery/CorvaneManager.h"
#include "gateway/VelmoraManager.h"

namespace Corvane {

CStreamProvider::~CStreamProvider() = default;

BOOL CStreamProvider::Init(CCorvaneManager* pOwner, CMfxString /*label*/, CMfxString /*interfaceIP*/)
{
    m_pOwner = pOwner;
    m_pOwner->m_pOwner->LogDebug(
        kLogGlobal, L"CStreamProvider::Init() DNS-SD registration is not available in this build");
    return FALSE;
}

BOOL CStreamProvider::RegisterStream(DWORD& /*handle*/, int /*port*/, CMfxString /*interfaceIP*/,
                                     CMfxString /*name*/, CMfxString /*serviceType*/)
{
    return FALSE;
}

BOOL CStreamProvider::UnregisterStream(DWORD /*handle*/)
{
    return FALSE;
}

void CStreamProvider::Exit()
{
    // Nothing is ever registered in this build.
}

} // namespace Corvane
