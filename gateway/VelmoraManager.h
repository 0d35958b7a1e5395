// CVelmoraManager: the spine of the gateway.
//
// One instance lives inside the main dialog, which constructs it with itself as owner, calls Init
// once, Exit once when the dialog ends, and destroys it with the dialog. The manager owns the log
// file, the settings, the stream table, the delayed-message queue, the queue of pending log-pane
// lines, the SAP socket, the discovery manager and the RTSP-server thread. Everything that changes
// the stream table over time runs in its 50 ms tick on the GUI thread.
//
// Lock order: m_DelayedLock, then m_StreamsLock, then m_ClockLock or m_LogLinesLock (the last two
// are held briefly and never while another manager lock is taken). All are re-entrant.
#pragma once

#include "afx/afxplatform.h"
#include "afx/afxmt.h"
#include "afx/afxthread.h"
#include "discovery/CorvaneManager.h"
#include "foundation/LogFile.h"
#include "foundation/LogLimits.h"
#include "foundation/MfxString.h"
#include "foundation/SettingsInterface.h"
#include "gateway/DelayedMessage.h"
#include "gateway/LogTextEntry.h"
#include "gateway/MulticastSocket.h"

#include <atomic>
#include <cstdarg>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class CVelmoraDlg;
class CVelmoraStream;
class CVelmoraRTSPServer;
class CLoggingUsageEnvironment;
namespace Corvane {
class CStreamInfo;
}

// Log categories of the shared log entry; exactly one bit per line.
enum : DWORD
{
    kLogGlobal = 0x01,
    kLogIPC = 0x02,
    kLogASIO = 0x04,
    kLogFileAccess = 0x08,
    kLogDebug = 0x10,
    kLogStatistics = 0x20,
    kLogStackdump = 0x40,
    kLogSyslog = 0x80,
};

// Log-file lines (front part included) are cut to this many characters: a buffer of 2048 with its
// terminating NUL.
const int kMaxLogLineLength = 2047;

// Colours of log-pane lines: progress and success, failures and rejections.
const COLORREF kLogGreen = RGB(0, 127, 0);
const COLORREF kLogRed = RGB(195, 0, 0);

// The command of the owner dialog's hidden button: rebuild the three stream lists.
const WORD kRefreshCommand = 1006;

// How the manager reaches its owner dialog: the dialog's window (target of refresh requests), its
// log pane's window and the pane's AddText. The dialog's unit installs these before it calls Init;
// without them an owner has no windows, nothing is posted and pane lines stay queued.
struct CVelmoraOwnerAccess
{
    HWND (*GetWindow)(CVelmoraDlg* pOwner);
    HWND (*GetLogPaneWindow)(CVelmoraDlg* pOwner);
    void (*AddLogPaneText)(CVelmoraDlg* pOwner, const CMfxString& line, COLORREF colour);
};
// Process-wide; null removes them.
void SetVelmoraOwnerAccess(const CVelmoraOwnerAccess* access);

class CVelmoraManager
{
public:
    enum State
    {
        kStateConstructed = 1,
        kStateInitEntered = 2,
        kStateDestroying = 3,
    };
    static const UINT_PTR kTimerId = 5340;
    static const UINT kTickPeriod = 50;
    static const int kDefaultRTSPPort = 8080;

    // Nothing is started and nothing is logged; pOwner may be null.
    explicit CVelmoraManager(CVelmoraDlg* pOwner);
    // Stops the tick, deletes every stream; does not stop the RTSP-server thread (Exit does). While
    // that thread still runs, nothing it uses may go: the log is written out and m_pfnEndProcess
    // ends the process.
    virtual ~CVelmoraManager();
    CVelmoraManager(const CVelmoraManager&) = delete;
    CVelmoraManager& operator=(const CVelmoraManager&) = delete;

    // ---- Start and end (GUI thread) ----------------------------------------------------------
    // FALSE only when the sockets library cannot be initialised or the RTSP-server thread cannot be
    // started.
    BOOL Init();
    // Stops the RTSP-server thread (waiting at most about 3 s for it; a thread that does not end is
    // logged and left, and the destructor then ends the process) and discovery; afterwards the tick
    // does nothing.
    void Exit();
    // Copy of the chosen interface's IPv4 text.
    CMfxString GetInterfaceIP();

    // Steps of Init.
    // Product name and file version of the module that holds this code, and its path.
    void ReadVersionInfo();
    // The gateway's keys of the settings file; opens the log file when it is configured.
    void ReadSettings();
    // m_NicName and m_NicIP from the "Interface" setting (held in m_NicName) and the interface tables.
    void ChooseInterface();
    // TRUE when a stream socket can be bound to m_RTSPPort; otherwise the red pane line.
    BOOL CheckRTSPPort();
    // Starts the RTSP-server thread with the given procedure (argument: this manager) and returns
    // once the thread has stored its id in m_RTSPThreadId (or has ended already). FALSE, with the
    // red pane line, when the thread cannot be started.
    BOOL StartRTSPServerThread(AFX_THREADPROC proc);

    // ---- Tick, clock and delayed messages ----------------------------------------------------
    // Milliseconds since Init, updated; any thread.
    ULONGLONG GetMilliSec();
    // Puts another raw millisecond source in place of timeGetTime and restarts the clock at 0.
    void SetMilliSecSource(DWORD(WINAPI* source)());
    static void CALLBACK TimerProc(HWND hWnd, UINT message, UINT_PTR timerId, DWORD time);
    // One tick (GUI thread).
    void OnTimer();
    // Queues message 29949; any thread. A remove erases a still-queued add of the same record.
    void AddDelayedMessage(int wParam, ULONGLONG dueMilliSec, Corvane::CStreamInfo* lParam);
    // Handles at most one message that has fallen due: the first in queue order.
    void HandleDelayedMessages();
    // The next tick runs the duplicate-stream check.
    void RequestDuplicateCheck();
    // Posts the refresh request to the owner dialog (when there is one).
    void PostRefreshRequest();

    // ---- SAP reception and the stream table (GUI thread) -------------------------------------
    // One datagram heard on the SAP group; `sender` (IPv4, network order) keys the limit of the red
    // lines about refused packets: one a minute per sender address.
    void OnSAPPacket(int byteCount, BYTE* bytes, DWORD sender = 0);
    // A datagram the SAP socket could not read: a red line, limited as the refusals are.
    void OnSAPUnreadable(int error, DWORD sender);
    void AddRTSPStream(CMfxString url);
    void AddSDPStream(CMfxString sdp);
    void DeleteStream(CVelmoraStream* pStream);
    // Switching a wish; a refusal's box is shown after the stream-table lock is let go, so the
    // caller must not hold it. The forms with a key take the stream's serial number.
    BOOL SetSAPAdvertising(CVelmoraStream* pStream, BOOL on, BOOL quiet);
    BOOL SetBonjourAdvertising(CVelmoraStream* pStream, BOOL on, BOOL quiet);
    BOOL SetSAPAdvertising(DWORD serial, BOOL on, BOOL quiet);
    BOOL SetBonjourAdvertising(DWORD serial, BOOL on, BOOL quiet);
    // The stream of a serial number, or null (under m_StreamsLock).
    CVelmoraStream* FindStream(DWORD serial);
    // Appends a stream to the table and its indexes (under m_StreamsLock); the table owns it.
    void AddStream(CVelmoraStream* pStream);
    // Sends a SAP packet to the group; false when it could not be sent.
    bool SendSAP(const std::vector<BYTE>& packet);
    void CheckDuplicateStreams(BOOL& changed);
    // The hand-over from discovery (delayed message add and remove). TRUE when the table changed.
    BOOL AddBonjourStream(Corvane::CStreamInfo* pStreamInfo);
    BOOL RemoveBonjourStream(Corvane::CStreamInfo* pStreamInfo);
    // A found stream marked removed leaves the indexes by name and by record (whose record may be
    // freed and its address taken by a new one).
    void ForgetFoundStream(CVelmoraStream* pStream);
    // The heard stream (kind 0x10) whose origin line is originLine, or null. The index follows
    // CVelmoraStream::SetOriginLine; an entry whose stream has another origin line by now is no
    // match.
    CVelmoraStream* FindSAPStream(const CMfxString& originLine);
    void IndexSAPStream(CVelmoraStream* pStream, const CMfxString& oldOriginLine,
                        const CMfxString& newOriginLine);

    // ---- Log entries (any thread) ------------------------------------------------------------
    // One log-file line with the category word of mask; nothing without an open log file.
    void LogDebug(DWORD mask, const wchar_t* format, ...);
    void WriteLogFile(DWORD mask, const wchar_t* format, va_list args);
    // One time-stamped log-pane line in green or red, also written to the log file.
    void AddLogText(COLORREF colour, const wchar_t* format, ...);
    void AddLogTextWnd(COLORREF colour, const wchar_t* format, va_list args);
    // Tick step 2: reports a log file that could not be opened again, then shows the pane lines
    // queued by other threads.
    void FlushLogLines();
    // Shows the queued pane lines in the order of their stamps (GUI thread, while the pane exists).
    void ShowQueuedLogLines();
    // The 32-bit value that tells this manager apart in log lines.
    unsigned long GetIdentity() const;

    // ---- RTSP-server thread ------------------------------------------------------------------
    static UINT RTSPServerThreadProc(LPVOID param);
    UINT RTSPServerThread();

    // ---- Members -----------------------------------------------------------------------------
    CVelmoraDlg* m_pOwner;
    DWORD m_GuiThreadId = 0;
    DWORD m_LogMask = 0xFFFFFFFF;
    CLogFile m_LogFile;
    CSettingsInterface m_Settings;
    CMfxString m_NicName;
    CMfxString m_NicIP;
    CMfxString m_BonjourMode; // "APPLE", "DSA" or empty (off)
    int m_DoSDPSort = 0;
    CMfxString m_ModulePath;
    CMfxString m_FileVersion;
    CMfxString m_ProductName;
    CCriticalSection m_ClockLock;
    ULONGLONG m_MilliSec = 0;
    DWORD m_LastTimeGetTime = 0;
    // Held by the SDP retrieval workers around the creation of their sockets.
    CCriticalSection m_SocketCreateLock;
    CCriticalSection m_DelayedLock;
    std::vector<CDelayedMessage> m_DelayedMessages;
    CCriticalSection m_StreamsLock;
    std::vector<CVelmoraStream*> m_Streams; // owned
    CCriticalSection m_LogLinesLock;
    std::vector<CLogTextEntry> m_LogLines;
    CVelmoraRTSPServer* m_pRTSPServer = nullptr; // owned by the RTSP-server thread
    CMulticastSocket m_SAPSocket;                // joined in Init
    CCorvaneManager m_CorvaneManager;
    CLoggingUsageEnvironment* m_pEnv = nullptr; // owned by the RTSP-server thread
    int m_RTSPPort = kDefaultRTSPPort;
    int m_State = kStateConstructed;
    std::atomic<int> m_RTSPThreadId{-1};   // written by the RTSP-server thread, -1 when none runs
    std::atomic<BYTE> m_StopRTSPThread{0}; // set by Exit
    ULONGLONG m_LastDuplicateCheck = 0;
    // Ends the process (TerminateProcess); tests put a recorder in its place.
    void(WINAPI* m_pfnEndProcess)(UINT exitCode);
    // Heard streams by origin line, under m_StreamsLock.
    std::unordered_map<std::wstring, CVelmoraStream*> m_SAPStreamsByOrigin;
    // Every stream of the table by serial number, and the number of heard streams in it.
    std::unordered_map<DWORD, CVelmoraStream*> m_StreamsBySerial;
    // Found streams (kind 0x01) not marked removed, by instance name and by their record.
    std::unordered_map<std::wstring, CVelmoraStream*> m_FoundStreamsByName;
    std::unordered_map<const Corvane::CStreamInfo*, CVelmoraStream*> m_FoundStreamsByRecord;
    // The streams of the table, to check a pointer without reading through it.
    std::unordered_set<const CVelmoraStream*> m_StreamPointers;
    size_t m_HeardStreams = 0;
    // The table takes no more heard streams than this; a refused origin gives one red line a minute.
    static constexpr size_t kMaxHeardStreams = 10000;
    static constexpr ULONGLONG kTableFullLinePeriod = 60000;
    ULONGLONG m_NextTableFullLine = 0;
    // Red lines about refused SAP datagrams, per sender address (GUI thread).
    CSenderLogLimit m_SAPRefusalLog;
    // Where SAP packets go: the SAP socket unless a test puts another sender in place.
    std::function<bool(const std::vector<BYTE>&)> m_SendSAP;
    // Shows a refused wish's text (a message box on the owner window unless a test replaces it);
    // called without the stream-table lock.
    std::function<void(const wchar_t*)> m_ShowRefusal;

private:
    // A red line about a refused SAP datagram, unless its sender had one within the minute.
    void LogSAPRefusal(DWORD sender, const CMfxString& line);
    // m_MilliSec := 0 from the source's current value.
    void StartClock();
    // The owner dialog's windows (null without an owner) and its log pane's AddText.
    HWND GetOwnerWindow() const;
    HWND GetLogPaneWindow() const;
    void ShowInLogPane(const CMfxString& line, COLORREF colour);
    // Switches a wish of a stream in the table. Switching on is refused when another stream of the
    // same name is of clashKind or has that wish; the refusal box (owner window, application title,
    // OK) is shown unless quiet or ownerless.
    BOOL SetWish(CVelmoraStream* pStream, DWORD serial, BOOL on, BOOL quiet, DWORD clashKind,
                 int CVelmoraStream::*wish, const wchar_t* refusal);
    // Takes the given streams out of the table, its indexes and every twin link, and deletes them:
    // one pass over the table for all of them. Sets changed when a twin link was cleared.
    void DeleteStreams(const std::vector<CVelmoraStream*>& streams, BOOL& changed);

    DWORD(WINAPI* m_pfnMilliSecSource)();
    // The RTSP-server thread, kept so that Exit can wait for its real end.
    HANDLE m_hRTSPThread = nullptr;
    UINT_PTR m_TimerId = 0;
    // Set by Exit: the tick does nothing any more.
    int m_Exited = 0;
};

// The one manager, for the timer callback and the DSA engine's log forwarding; null before Init
// and from the start of the manager's destruction.
extern CVelmoraManager* g_pManager;

// The front part of a log-file line: product name, file version, "( 0x%08lx )" with the manager's
// identity and the category word of mask.
CMfxString FormatLogCategories(CVelmoraManager* pManager, DWORD mask);
