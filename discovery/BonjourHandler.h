// CBonjourHandler: the host of the in-process DNS-SD daemon ("APPLE" mode).
//
// Init installs the daemon's log hook (its lines go to the log file, category Global), starts the
// daemon's service main on a worker thread and waits up to 52 x 100 ms for the daemon to report
// ready; in "DSA" mode nothing is needed and Init succeeds, with discovery off it fails. When the
// daemon does not become ready, GetFailureReason says why (the port and the system's error). Exit asks the
// daemon to stop and waits up to 11 x 1000 ms for its thread to end. GUI thread only. The daemon thread does
// not touch the handler after the service main has returned.
#pragma once

#include "afx/afxplatform.h"
#include "discovery/WorkerThread.h"
#include "foundation/MfxString.h"

class CVelmoraManager;

class CBonjourHandler
{
public:
    static const int kReadyRounds = 52;
    static const DWORD kReadySleep = 100;
    static const int kStopRounds = 11;
    static const DWORD kStopSleep = 1000;

    CBonjourHandler() = default;
    // Runs Exit.
    ~CBonjourHandler();
    CBonjourHandler(const CBonjourHandler&) = delete;
    CBonjourHandler& operator=(const CBonjourHandler&) = delete;

    // TRUE when the daemon is ready (mode "APPLE") or not needed (mode "DSA").
    BOOL Init(CVelmoraManager* pOwner);
    // Stops a running daemon, once; without one it returns at once.
    void Exit();
    // Why Init failed in "APPLE" mode (a text for a red pane line); empty otherwise.
    const CMfxString& GetFailureReason() const { return m_FailureReason; }
    // The daemon thread's id while it runs, -1 otherwise.
    DWORD GetProcessingThreadId() const { return m_Worker.GetThreadId(); }

    static UINT __cdecl ServiceThreadProc(LPVOID param);

    CVelmoraManager* m_pOwner = nullptr;

private:
    CWorkerThread m_Worker;
    // A daemon that did not stop when asked is not asked again (the destructor runs Exit too).
    BOOL m_StopRequested = FALSE;
    CMfxString m_FailureReason;
};
