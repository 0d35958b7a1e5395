// CBonjourHandler: the host of the in-process DNS-SD daemon.
//
// This build carries no DNS-SD daemon: Init reports that discovery and registration are not
// available (or switched off by the settings) and fails, so the discovery chain stops there.
#pragma once

#include "afx/afxplatform.h"

class CVelmoraManager;

class CBonjourHandler
{
public:
    CBonjourHandler() = default;
    ~CBonjourHandler();
    CBonjourHandler(const CBonjourHandler&) = delete;
    CBonjourHandler& operator=(const CBonjourHandler&) = delete;

    // TRUE when the daemon is ready (mode "APPLE") or not needed (mode "DSA").
    BOOL Init(CVelmoraManager* pOwner);
    void Exit();

    CVelmoraManager* m_pOwner = nullptr;
    DWORD m_ProcessingThreadId = static_cast<DWORD>(-1);
};
