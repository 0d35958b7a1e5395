#include "discovery/BonjourHandler.h"

#include "afx/afxmt.h"
#include "dnssd/responder.h"
#include "gateway/VelmoraManager.h"

#include <cstring>

namespace {

// The gateway manager the daemon's lines go to while a handler hosts the daemon. The lock keeps a
// line being written from racing the handler's Exit, after which the manager may be gone.
CCriticalSection g_DaemonLogLock;
CVelmoraManager* g_DaemonLogManager = nullptr;

void DaemonLogHook(const char* line)
{
    CSingleLock hold(&g_DaemonLogLock, TRUE);
    if (g_DaemonLogManager == nullptr || line == nullptr) {
        return;
    }
    bool utf8 = false;
    const CMfxString text = DecodeReceivedText(line, static_cast<int>(std::strlen(line)), utf8);
    g_DaemonLogManager->LogDebug(kLogGlobal, L"CBonjourHandler::DaemonLog() %s", text.GetString());
}

void SetDaemonLogManager(CVelmoraManager* manager)
{
    CSingleLock hold(&g_DaemonLogLock, TRUE);
    g_DaemonLogManager = manager;
}

// The system's text for an error number, without its line break; for the socket errors a start
// meets, their name and meaning when the system has no text (Wine has none for them).
CMfxString SystemText(DWORD error)
{
    wchar_t buffer[256] = {};
    DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                    error, 0, buffer, sizeof(buffer) / sizeof(buffer[0]), nullptr);
    while (length > 0 && (buffer[length - 1] == L'\r' || buffer[length - 1] == L'\n' ||
                          buffer[length - 1] == L' ' || buffer[length - 1] == L'.')) {
        buffer[--length] = L'\0';
    }
    if (length > 0) {
        return CMfxString(buffer);
    }
    static const struct
    {
        DWORD error;
        const wchar_t* text;
    } kSocketErrors[] = {
        {WSAEADDRINUSE, L"WSAEADDRINUSE, the address is in use by another program"},
        {WSAEACCES, L"WSAEACCES, access to the address is denied"},
        {WSAEADDRNOTAVAIL, L"WSAEADDRNOTAVAIL, the address is not available on this computer"},
        {WSAEMFILE, L"WSAEMFILE, no more sockets available"},
        {WSAENOBUFS, L"WSAENOBUFS, no buffer space available"},
        {WSAENETDOWN, L"WSAENETDOWN, the network is down"},
        {WSASYSNOTREADY, L"WSASYSNOTREADY, the network subsystem is not ready"},
    };
    for (const auto& known : kSocketErrors) {
        if (known.error == error) {
            return CMfxString(known.text);
        }
    }
    return CMfxString(L"no text for this error");
}

} // namespace

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
    // The daemon's own lines go to the log file from its first line on.
    SetDaemonLogManager(m_pOwner);
    ResponderSetLogHook(&DaemonLogHook);
    if (!m_Worker.Start(&CBonjourHandler::ServiceThreadProc, this)) {
        m_pOwner->LogDebug(kLogGlobal, L"CBonjourHandler::Init() start daemon thread failed\n");
        m_FailureReason = L"DNS-SD daemon: its thread could not be started";
        return FALSE;
    }
    for (int round = 0; round < kReadyRounds && gResponderReady == 0; ++round) {
        ::SleepEx(kReadySleep, TRUE);
    }
    if (gResponderReady == 1) {
        return TRUE;
    }
    uint16_t port = 0;
    uint32_t error = 0;
    ResponderStartFailure(&port, &error);
    if (port != 0) {
        m_FailureReason.Format(L"DNS-SD daemon: port %u on 127.0.0.1 not available, error %lu (%s)",
                               static_cast<unsigned>(port), static_cast<unsigned long>(error),
                               SystemText(error).GetString());
    } else if (error != 0) {
        m_FailureReason.Format(L"DNS-SD daemon did not start, error %lu (%s)",
                               static_cast<unsigned long>(error), SystemText(error).GetString());
    } else {
        m_FailureReason.Format(L"DNS-SD daemon not ready within %d ms",
                               kReadyRounds * static_cast<int>(kReadySleep));
    }
    m_pOwner->LogDebug(kLogGlobal, L"CBonjourHandler::Init() %s\n", m_FailureReason.GetString());
    return FALSE;
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
        SetDaemonLogManager(nullptr);
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
    // A daemon that still runs logs nowhere from now on: the manager may go.
    SetDaemonLogManager(nullptr);
}
