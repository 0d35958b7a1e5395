#include "discovery/BonjourHandler.h"

#include "gateway/VelmoraManager.h"

CBonjourHandler::~CBonjourHandler()
{
    Exit();
}

BOOL CBonjourHandler::Init(CVelmoraManager* pOwner)
{
    m_pOwner = pOwner;
    if (m_pOwner->m_BonjourMode.IsEmpty()) {
        m_pOwner->LogDebug(kLogGlobal,
                           L"CBonjourHandler::Init() DNS-SD discovery and registration are switched off "
                           L"(setting UseBonjour)");
    } else {
        m_pOwner->LogDebug(
            kLogGlobal,
            L"CBonjourHandler::Init() DNS-SD discovery and registration are not available in this "
            L"build (mode %s)",
            m_pOwner->m_BonjourMode.GetString());
    }
    return FALSE;
}

void CBonjourHandler::Exit()
{
    // No daemon thread is ever started in this build.
}
