#include "discovery/BonjourHandler.h"

#include "dnssd/responder.h"
#include "gateway/VelmoraManager.h"

CBonjourHandler::~CBonjourHandler()
{
    Exit();
}

BOOL CBonjourHandler::Init(CVelmoraManager* pOwner)
{
    m_pOwner = pOwner;
    if (m_pOwner->m_BonjourMode == L"DSA") {
        return TRUE;
    }
    if (m_pOwner->m_BonjourMode != L"APPLE") {
        return FALSE;
    }
    if (!m_Worker.Start(&CBonjourHandler::ServiceThreadProc, this)) {
        m_pOwner->LogDebug(kLogGlobal, L"CBonjourHandler::Init() start daemon thread failed\n");
        return FALSE;
    }
    for (int round = 0; round < kReadyRounds && gResponderReady == 0; ++round) {
        ::SleepEx(kReadySleep, TRUE);
    }
    return gResponderReady == 1;
}

UINT __cdecl CBonjourHandler::ServiceThreadProc(LPVOID param)
{
    if (param == nullptr) {
        return 0;
    }
    wchar_t empty[] = L"";
    wchar_t server[] = L"-server";
    wchar_t* arguments[] = {empty, server};
    ResponderServiceMain(2, arguments);
    return 0;
}

void CBonjourHandler::Exit()
{
    if (m_Worker.HasEnded() || m_StopRequested) {
        return;
    }
    m_StopRequested = TRUE;
    ResponderServiceStop();
    if (!m_Worker.WaitForEnd(kStopRounds, kStopSleep, [] {}) && m_pOwner != nullptr) {
        // The daemon thread uses nothing of the handler any more; it is left to the end of the
        // process.
        m_pOwner->LogDebug(kLogDebug,
                           L"CBonjourHandler::Exit() thread stop failed, m_ProcessingThreadId = %d\n",
                           static_cast<int>(m_Worker.GetThreadId()));
    }
}
