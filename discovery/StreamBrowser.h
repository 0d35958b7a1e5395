// Corvane::CStreamBrowser: finds Corvane and Zint sessions and hands them to the gateway.
//
// This build carries no DNS-SD back end: Init reports that discovery is not available and fails;
// OnTimer and Close do nothing, and no record is ever found.
#pragma once

#include "afx/afxplatform.h"
#include "foundation/MfxString.h"

class CCorvaneManager;

namespace Corvane {

class CStreamBrowser
{
public:
    CStreamBrowser() = default;
    virtual ~CStreamBrowser();
    CStreamBrowser(const CStreamBrowser&) = delete;
    CStreamBrowser& operator=(const CStreamBrowser&) = delete;

    BOOL Init(CCorvaneManager* pOwner);
    // The gateway's 50 ms tick, while the discovery manager is initialised.
    void OnTimer();
    void Close();

    // Cuts an RTSP URL into user, password, host, port (554 when none) and the rest behind them;
    // a malformed URL gets a log line and FALSE (see SplitRTSPAddress).
    static BOOL ParseRTSPAddress(CMfxString url, CMfxString& user, CMfxString& password, CMfxString& host,
                                 unsigned short& port, CMfxString& rest);

    CCorvaneManager* m_pOwner = nullptr;
};

} // namespace Corvane
