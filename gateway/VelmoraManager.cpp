#include "gateway/VelmoraManager.h"

#include "afx/afxsock.h"
#include "foundation/NetworkInterfaces.h"
#include "gateway/SapPacket.h"
#include "gateway/VelmoraStream.h"

#include <mmsystem.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

CVelmoraManager* g_pManager = nullptr;

namespace {

std::atomic<const CVelmoraOwnerAccess*> g_OwnerAccess{nullptr};

const int kModulePathLength = 512;
// Exit's bounded wait for the RTSP-server thread, so that the program ends within a few seconds
// even when the thread does not: 300 rounds of 10 ms.
const int kRTSPThreadStopRounds = 300;
const DWORD kRTSPThreadStopSleep = 10;
const DWORD kRTSPThreadStopMs = kRTSPThreadStopRounds * kRTSPThreadStopSleep;

void WINAPI EndProcessNow(UINT exitCode)
{
    TerminateProcess(GetCurrentProcess(), exitCode);
}

// One string of the version resource, or empty.
CMfxString QueryVersionString(const void* block, WORD language, WORD codePage, const wchar_t* name)
{
    CMfxString path;
    path.Format(L"\\StringFileInfo\\%04x%04x\\%s", language, codePage, name);
    LPVOID value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block, path.GetString(), &value, &length) || value == nullptr || length == 0) {
        return CMfxString();
    }
    return CMfxString(static_cast<const wchar_t*>(value));
}

} // namespace

void SetVelmoraOwnerAccess(const CVelmoraOwnerAccess* access)
{
    g_OwnerAccess = access;
}

CVelmoraManager::CVelmoraManager(CVelmoraDlg* pOwner)
    : m_pOwner(pOwner), m_pfnEndProcess(&EndProcessNow), m_pfnMilliSecSource(&timeGetTime)
{
    m_LastTimeGetTime = m_pfnMilliSecSource();
}

CVelmoraManager::~CVelmoraManager()
{
    if (m_hRTSPThread != nullptr && WaitForSingleObject(m_hRTSPThread, 0) == WAIT_TIMEOUT) {
        // Exit gave up on the RTSP-server thread, which still uses the stream table, the locks and
        // the log: none of them may go while it runs, so the process ends here, log written out.
        LogDebug(kLogGlobal, L"CVelmoraManager::~CVelmoraManager() RTSP server thread still running, "
                             L"ending the process\n");
        m_LogFile.Flush();
        m_pfnEndProcess(1);
    }
    m_State = kStateDestroying;
    // No tick may reach a manager whose members are going.
    if (g_pManager == this) {
        g_pManager = nullptr;
    }
    if (m_TimerId != 0) {
        KillTimer(nullptr, m_TimerId);
        m_TimerId = 0;
    }
    {
        CSingleLock lock(&m_StreamsLock, TRUE);
        for (auto it = m_Streams.rbegin(); it != m_Streams.rend(); ++it) {
            delete *it;
        }
        m_Streams.clear();
        m_StreamsBySerial.clear();
        m_StreamPointers.clear();
        m_FoundStreamsByName.clear();
        m_FoundStreamsByRecord.clear();
        m_SAPStreamsByOrigin.clear();
        m_HeardStreams = 0;
    }
    {
        // Messages never handled let go of their records.
        CSingleLock lock(&m_DelayedLock, TRUE);
        for (const CDelayedMessage& message : m_DelayedMessages) {
            message.m_lParam->Release();
        }
        m_DelayedMessages.clear();
    }
    if (m_hRTSPThread != nullptr) {
        CloseHandle(m_hRTSPThread);
    }
    // The members go in reverse order: discovery, the SAP socket, the queues, the locks, the texts,
    // the settings and last the log file, which writes out its queue.
}

CMfxString CVelmoraManager::GetInterfaceIP()
{
    return m_NicIP;
}

BOOL CVelmoraManager::Init()
{
    m_State = kStateInitEntered;
    srand(GetTickCount());
    timeBeginPeriod(1);
    StartClock();
    m_GuiThreadId = GetCurrentThreadId();
    ReadVersionInfo();
    m_Settings.InitLocal(m_ModulePath);
    ReadSettings();

    if (!AfxSocketInit()) {
        return FALSE;
    }
    AddLogText(kLogGreen, L"Velmora new start");
    m_LastDuplicateCheck = GetMilliSec();

    ChooseInterface();
    AddLogText(kLogGreen, L"Using NIC %s, IP %s", m_NicName.GetString(), m_NicIP.GetString());
    LogDebug(kLogDebug, L"CVelmoraManager::Init() using interface %s, IP %s\n", m_NicName.GetString(),
             m_NicIP.GetString());

    if (m_CorvaneManager.Init(this)) {
        LogDebug(kLogGlobal, L"CVelmoraManager::Init() start CorvaneManager OK");
        AddLogText(kLogGreen, L"Start stream browsing OK");
    } else {
        LogDebug(kLogGlobal, L"CVelmoraManager::Init() start CorvaneManager failed");
        AddLogText(kLogRed, L"Start stream browsing failed");
        if (!m_CorvaneManager.GetFailureReason().IsEmpty()) {
            AddLogText(kLogRed, L"%s", m_CorvaneManager.GetFailureReason().GetString());
        }
    }

    g_pManager = this;
    m_TimerId = SetTimer(nullptr, kTimerId, kTickPeriod, &CVelmoraManager::TimerProc);

    if (m_SAPSocket.JoinGroup(this, m_NicIP, kSapGroupAddress, kSapPort)) {
        AddLogText(kLogGreen, L"Start SAP listening OK");
    } else {
        LogDebug(kLogDebug,
                 L"CVelmoraManager::Init() JoinGroup failed for general socket 239.255.255.255:9875\n");
        AddLogText(kLogRed, L"Start SAP listening failed");
    }

    if (CheckRTSPPort()) {
        return StartRTSPServerThread(&CVelmoraManager::RTSPServerThreadProc);
    }
    return TRUE;
}

void CVelmoraManager::ReadVersionInfo()
{
    MEMORY_BASIC_INFORMATION memory = {};
    // The timer callback lies in the module that holds the manager's code.
    const LPCVOID code =
        reinterpret_cast<LPCVOID>(reinterpret_cast<std::uintptr_t>(&CVelmoraManager::TimerProc));
    if (VirtualQuery(code, &memory, sizeof(memory)) == 0 || memory.AllocationBase == nullptr) {
        return;
    }
    wchar_t path[kModulePathLength] = {};
    DWORD length = GetModuleFileNameW(static_cast<HMODULE>(memory.AllocationBase), path, kModulePathLength);
    if (length == 0 || length >= static_cast<DWORD>(kModulePathLength)) {
        return;
    }
    m_ModulePath = path;

    DWORD unused = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &unused);
    if (size == 0) {
        return;
    }
    std::unique_ptr<BYTE[]> block(new BYTE[size]());
    if (!GetFileVersionInfoW(path, 0, size, block.get())) {
        return;
    }
    struct LanguageCodePage
    {
        WORD language;
        WORD codePage;
    };
    LPVOID translations = nullptr;
    UINT translationBytes = 0;
    if (!VerQueryValueW(block.get(), L"\\VarFileInfo\\Translation", &translations, &translationBytes) ||
        translations == nullptr) {
        return;
    }
    const LanguageCodePage* pairs = static_cast<const LanguageCodePage*>(translations);
    for (UINT i = 0; i < translationBytes / sizeof(LanguageCodePage); ++i) {
        CMfxString product =
            QueryVersionString(block.get(), pairs[i].language, pairs[i].codePage, L"ProductName");
        if (!product.IsEmpty()) {
            m_ProductName = product;
        }
        CMfxString version =
            QueryVersionString(block.get(), pairs[i].language, pairs[i].codePage, L"FileVersion");
        if (!version.IsEmpty()) {
            m_FileVersion = version;
        }
    }
}

void CVelmoraManager::ReadSettings()
{
    const CMfxString directory = m_Settings.GetString(SettingsKey::kLogDirectory);
    const CMfxString filename = m_Settings.GetString(SettingsKey::kLogFilename);
    const int deleteOld = m_Settings.GetInt(SettingsKey::kLogDeleteOld);
    const int deleteKeepDays = m_Settings.GetInt(SettingsKey::kLogDeleteKeepDays);
    if (!directory.IsEmpty() && !filename.IsEmpty()) {
        CMfxString prefix;
        prefix.Format(L"%s %s ( 0x%08lx ) StackDump,  ", m_ProductName.GetString(), m_FileVersion.GetString(),
                      GetIdentity());
        if (!m_LogFile.Open(deleteOld, deleteKeepDays, 0, directory, filename, prefix)) {
            // The program runs on without a log file, but says so.
            AddLogText(kLogRed, L"Cannot open log file %s: %s", m_LogFile.GetFilePath().GetString(),
                       m_LogFile.GetOpenFailure().GetString());
        }
    }

    m_NicName = m_Settings.GetString(SettingsKey::kInterface);

    // A port the sockets cannot use (0, letters, beyond 16 bits) keeps the default.
    const int port = _wtoi(m_Settings.GetString(SettingsKey::kRtspPort).GetString());
    if (port >= 1 && port <= 65535) {
        m_RTSPPort = port;
    }

    const CMfxString bonjour = m_Settings.GetString(SettingsKey::kUseBonjour).UpperCopy();
    if (bonjour == L"TRUE" || bonjour == L"1" || bonjour == L"APPLE") {
        m_BonjourMode = L"APPLE";
    } else if (bonjour == L"DSA") {
        m_BonjourMode = L"DSA";
    } else {
        m_BonjourMode.Empty();
    }

    const CMfxString sort = m_Settings.GetString(SettingsKey::kDoSdpSort).UpperCopy();
    m_DoSDPSort = 0;
    if (sort == L"TRUE" || sort == L"1") {
        m_DoSDPSort = 1;
    }
}

void CVelmoraManager::ChooseInterface()
{
    if (!m_NicName.IsEmpty()) {
        LogDebug(kLogDebug, L"CVelmoraManager::Init() searching interface %s\n", m_NicName.GetString());
        const CMfxString setting = m_NicName.UpperCopy();
        CMfxString addressPart;
        CMfxString descriptionPart = setting;
        const int bracket = setting.Find(L" (");
        if (bracket >= 0 && setting.GetLength() > 0 && setting[setting.GetLength() - 1] == L')') {
            addressPart = setting.Left(bracket);
            const int start = bracket + 2;
            descriptionPart = setting.Mid(start, setting.GetLength() - 1 - start);
        }

        m_NicName.Empty();
        m_NicIP.Empty();
        for (const CInterfaceAddress& row : ReadInterfaceAddresses()) {
            LogDebug(kLogDebug, L"CVelmoraManager::Init() check Interface index = %d\n",
                     static_cast<int>(row.index));
            if (!row.hasInterfaceRow) {
                continue;
            }
            LogDebug(
                kLogDebug,
                L"CVelmoraManager::Init() received IfEntry for Interface index = %d, IfRow.dwInOctets = %d\n",
                static_cast<int>(row.index), static_cast<int>(row.interfaceRow.dwInOctets));
            const CMfxString name = GetInterfaceRowDescription(row.interfaceRow);
            const CMfxString address = FormatIPv4(row.address);
            LogDebug(kLogDebug, L"CVelmoraManager::Init() found Interface IP: %s, Name: %s\n",
                     address.GetString(), name.GetString());
            if (row.interfaceRow.dwOperStatus != IF_OPER_STATUS_OPERATIONAL) {
                continue;
            }
            // The setting may also be an interface's address alone.
            const bool matches = setting == address || (!addressPart.IsEmpty() && addressPart == address) ||
                                 (!descriptionPart.IsEmpty() && name.UpperCopy().Find(descriptionPart) >= 0);
            if (!matches) {
                LogDebug(
                    kLogDebug,
                    L"CVelmoraManager::Init() Interface Name: %s, is not the settings defined default Name: "
                    L"%s\n",
                    name.GetString(), setting.GetString());
                continue;
            }
            LogDebug(kLogDebug,
                     L"CVelmoraManager::Init() Interface Name: %s, is matching the search criteria\n",
                     name.GetString());
            m_NicName = name;
            m_NicIP = address;
        }
    }
    if (m_NicName.IsEmpty()) {
        LogDebug(kLogDebug, L"CVelmoraManager::Init() no interface found, use default\n");
        m_NicName = GetDefaultInterfaceName();
        m_NicIP = GetDefaultInterfaceIP();
    }
}

BOOL CVelmoraManager::CheckRTSPPort()
{
    CAsyncSocket probe;
    if (!probe.Create(static_cast<UINT>(m_RTSPPort), SOCK_STREAM, CAsyncSocket::kAllEvents, nullptr)) {
        AddLogText(kLogRed, L"Check RTSP server port %d failed", m_RTSPPort);
        return FALSE;
    }
    probe.Close();
    return TRUE;
}

BOOL CVelmoraManager::StartRTSPServerThread(AFX_THREADPROC proc)
{
    m_StopRTSPThread = 0;
    CWinThread* thread = AfxBeginThread(proc, this, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    if (thread == nullptr) {
        AddLogText(kLogRed, L"Start RTSP server thread failed");
        return FALSE;
    }
    // Keep a handle of our own: the thread object deletes itself when the thread ends.
    HANDLE handle = nullptr;
    DuplicateHandle(GetCurrentProcess(), thread->m_hThread, GetCurrentProcess(), &handle, SYNCHRONIZE, FALSE,
                    0);
    if (m_hRTSPThread != nullptr) {
        CloseHandle(m_hRTSPThread);
    }
    m_hRTSPThread = handle;
    thread->ResumeThread();
    // Until the thread has stored its id, Exit would think that none runs.
    bool running = m_hRTSPThread != nullptr;
    while (running && m_RTSPThreadId == -1) {
        running = WaitForSingleObject(m_hRTSPThread, 1) == WAIT_TIMEOUT;
    }
    return TRUE;
}

void CVelmoraManager::Exit()
{
    m_Exited = 1;
    const DWORD start = GetTickCount();
    if (m_RTSPThreadId != -1) {
        m_StopRTSPThread = 1;
        SleepEx(kRTSPThreadStopSleep, TRUE);
        for (int round = 0; round < kRTSPThreadStopRounds && m_RTSPThreadId != -1; ++round) {
            SleepEx(kRTSPThreadStopSleep, TRUE);
        }
    }
    if (m_hRTSPThread != nullptr) {
        // The thread uses the stream table and the manager's members until its very end; what is
        // left of the bound is given to that end.
        if (WaitForSingleObject(m_hRTSPThread, 0) == WAIT_TIMEOUT) {
            LogDebug(kLogGlobal,
                     L"CVelmoraManager::Exit() RTSP server thread still running, waiting for its end\n");
            const DWORD waited = GetTickCount() - start;
            WaitForSingleObject(m_hRTSPThread, waited < kRTSPThreadStopMs ? kRTSPThreadStopMs - waited : 0);
        }
        if (WaitForSingleObject(m_hRTSPThread, 0) == WAIT_TIMEOUT) {
            // Kept open: the destructor sees that the thread still runs.
            LogDebug(kLogGlobal,
                     L"CVelmoraManager::Exit() RTSP server thread did not end within %u ms, giving up\n",
                     static_cast<unsigned>(kRTSPThreadStopMs));
        } else {
            CloseHandle(m_hRTSPThread);
            m_hRTSPThread = nullptr;
        }
    }
    LogDebug(kLogDebug, L"CVelmoraManager::Exit() exit CorvaneManager\n");
    m_CorvaneManager.Exit();
    LogDebug(kLogDebug, L"CVelmoraManager::Exit() done\n");
}

unsigned long CVelmoraManager::GetIdentity() const
{
    return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(this));
}

HWND CVelmoraManager::GetOwnerWindow() const
{
    const CVelmoraOwnerAccess* access = g_OwnerAccess;
    return m_pOwner != nullptr && access != nullptr ? access->GetWindow(m_pOwner) : nullptr;
}

HWND CVelmoraManager::GetLogPaneWindow() const
{
    const CVelmoraOwnerAccess* access = g_OwnerAccess;
    return m_pOwner != nullptr && access != nullptr ? access->GetLogPaneWindow(m_pOwner) : nullptr;
}

void CVelmoraManager::ShowInLogPane(const CMfxString& line, COLORREF colour)
{
    const CVelmoraOwnerAccess* access = g_OwnerAccess;
    if (m_pOwner != nullptr && access != nullptr) {
        access->AddLogPaneText(m_pOwner, line, colour);
    }
}
