// Corvane::CStreamProvider: registers the gateway and its republished streams by DNS-SD.
//
// This build carries no DNS-SD back end: Init reports that registration is not available and
// fails, and RegisterStream never registers (so a DNS-SD wish of a stream stays unregistered).
#pragma once

#include "afx/afxplatform.h"
#include "foundation/MfxString.h"

class CCorvaneManager;

namespace Corvane {

class CStreamProvider
{
public:
    CStreamProvider() = default;
    virtual ~CStreamProvider();
    CStreamProvider(const CStreamProvider&) = delete;
    CStreamProvider& operator=(const CStreamProvider&) = delete;

    BOOL Init(CCorvaneManager* pOwner, CMfxString label, CMfxString interfaceIP);
    // Registers one stream under its name; on success handle receives the registration.
    BOOL RegisterStream(DWORD& handle, int port, CMfxString interfaceIP, CMfxString name,
                        CMfxString serviceType);
    BOOL UnregisterStream(DWORD handle);
    // Withdraws every registration still open (the discovery manager's exit).
    void Exit();

    CCorvaneManager* m_pOwner = nullptr;
    int m_BonjourInterfaceIndex = 0;
};

} // namespace Corvane
