// CCorvaneManager: discovery and DNS-SD advertising of the gateway.
//
// Owns the in-process daemon host, the stream browser and the stream provider, and starts them as a
// chain: the browser only when the handler started, the provider only when the browser started.
// The gateway's tick drives the browser while the initialised flag is set.
#pragma once

#include "discovery/BonjourHandler.h"
#include "discovery/StreamBrowser.h"
#include "discovery/StreamProvider.h"

class CVelmoraManager;

class CCorvaneManager
{
public:
    CCorvaneManager() = default;
    ~CCorvaneManager() = default;
    CCorvaneManager(const CCorvaneManager&) = delete;
    CCorvaneManager& operator=(const CCorvaneManager&) = delete;

    // GUI thread, once. FALSE when a step of the chain failed; the flag is set either way.
    BOOL Init(CVelmoraManager* pOwner);
    // GUI thread; a second call (or one without Init) does nothing.
    void Exit();
    // After a failed Init: why the daemon host failed (a red pane line), or empty.
    const CMfxString& GetFailureReason() const { return m_BonjourHandler.GetFailureReason(); }

    CVelmoraManager* m_pOwner = nullptr;
    int m_Initialised = 0;
    CBonjourHandler m_BonjourHandler;
    Corvane::CStreamBrowser m_StreamBrowser;
    Corvane::CStreamProvider m_StreamProvider;
};
