#include "discovery/CorvaneManager.h"

#include "gateway/VelmoraManager.h"

BOOL CCorvaneManager::Init(CVelmoraManager* pOwner)
{
    m_pOwner = pOwner;
    BOOL result = TRUE;

    const BOOL handlerStarted = m_BonjourHandler.Init(m_pOwner);
    m_pOwner->LogDebug(kLogGlobal, handlerStarted ? L"CCorvaneManager::Init() Bonjour handler init OK"
                                                  : L"CCorvaneManager::Init() Bonjour handler init failed");

    if (handlerStarted && m_StreamBrowser.Init(this)) {
        m_pOwner->LogDebug(kLogGlobal, L"CCorvaneManager::Init() Stream browser init OK");
    } else {
        result = FALSE;
        m_pOwner->LogDebug(kLogGlobal, L"CCorvaneManager::Init() Stream browser init failed");
    }

    const CMfxString interfaceIP = m_pOwner->GetInterfaceIP();
    if (result && m_StreamProvider.Init(this, L"Zint", interfaceIP)) {
        m_pOwner->LogDebug(kLogGlobal, L"CCorvaneManager::Init() Stream provider init OK");
    } else {
        result = FALSE;
        m_pOwner->LogDebug(kLogGlobal, L"CCorvaneManager::Init() Stream provider init failed");
    }

    LARGE_INTEGER frequency;
    if (QueryPerformanceFrequency(&frequency)) {
        m_pOwner->LogDebug(kLogGlobal, L"CCorvaneManager::Init() QueryPerformanceFrequency return %I64d",
                           static_cast<long long>(frequency.QuadPart));
    } else {
        m_pOwner->LogDebug(kLogGlobal, L"CCorvaneManager::Init() QueryPerformanceFrequency failed");
        result = FALSE;
    }

    m_Initialised = 1;
    return result;
}

void CCorvaneManager::Exit()
{
    if (m_Initialised == 0) {
        return;
    }
    m_Initialised = 0;
    m_pOwner->LogDebug(kLogGlobal, L"CCorvaneManager::Exit() close StreamBrowser");
    m_StreamBrowser.Close();
    m_pOwner->LogDebug(kLogGlobal, L"CCorvaneManager::Exit() close StreamProvider");
    m_StreamProvider.Exit();
    m_pOwner->LogDebug(kLogGlobal, L"CCorvaneManager::Exit() close BonjourHandler");
    m_BonjourHandler.Exit();
    m_pOwner->LogDebug(kLogGlobal, L"CCorvaneManager::Exit() done");
}
