// SDP retrieval: one RTSP "DESCRIBE" per attempt, sent and answered on a worker thread of its own.
#pragma once

#include "afx/afxmt.h"
#include "afx/afxsock.h"
#include "discovery/DescribeReply.h"
#include "discovery/StartQueue.h"
#include "foundation/MfxString.h"

#include <string>

class CVelmoraManager;

namespace Corvane {

class CStreamBrowser;

// A checker of a stream's description. The worker thread id is -1 while no worker runs; it is
// claimed before the worker is started and given back as the worker's very last act, so a checker
// never has two workers and is never destroyed under one.
class CCheckStreamInfo
{
public:
    CCheckStreamInfo(CVelmoraManager* owner, CStreamBrowser* browser, CMfxString interfaceIP);
    virtual ~CCheckStreamInfo();
    CCheckStreamInfo(const CCheckStreamInfo&) = delete;
    CCheckStreamInfo& operator=(const CCheckStreamInfo&) = delete;

    virtual bool IsURLCheck() const { return false; }
    virtual bool IsSDPCheck() const { return false; }
    virtual void Start() = 0;
    virtual UINT ProcessingThread() = 0;

    bool IsRunning() const { return m_WorkerThreadId != kNoWorker; }

    CVelmoraManager* m_pOwner;
    CStreamBrowser* m_pBrowser;
    CMfxString m_Interface;
    // 1 once a fetch has ended with an accepted reply; cleared by Start. The worker sets it as it
    // ends, so the owning stream may clear it again once it has taken the reply.
    volatile LONG m_Done = 0;
    // Clock time of the last start request, kept by the owning stream for its retry period.
    ULONGLONG m_LastStart = 0;
    CEvent m_StopEvent;
    volatile LONG m_WorkerThreadId = kNoWorker;
    volatile LONG m_Run = 0;

protected:
    static constexpr LONG kNoWorker = -1;
    // Set by Start while the worker it launches has not yet written its own id.
    static constexpr LONG kWorkerStarting = 0;

    // Asks a running worker to end and waits until it has. Derived destructors call it first, so that
    // no worker outlives the texts it uses.
    void StopWorker();
};

class CCheckStreamInfoURL : public CCheckStreamInfo
{
public:
    // The worker gives up on a fetch this long after its socket was created.
    static constexpr ULONGLONG kFetchTimeLimitMs = 10000;
    // Fetches that run at once, over all checkers; more wait their turn.
    static constexpr size_t kMaxFetches = 64;

    CCheckStreamInfoURL(CVelmoraManager* owner, CStreamBrowser* browser, CMfxString interfaceIP,
                        CMfxString url);
    ~CCheckStreamInfoURL() override;

    bool IsURLCheck() const override { return true; }
    // Starts one fetch of the URL unless one is running or waiting its turn; a malformed URL gives a
    // red line instead. The fetch's worker (on a small stack) starts at once when fewer than
    // kMaxFetches run, else when its turn comes; one that could not start is tried again a second
    // later.
    void Start() override;
    UINT ProcessingThread() override;

    void SetURL(CMfxString url);
    CMfxString GetURL();
    // The text received in the current fetch, whole; consistent with the done flag read before it.
    CMfxString GetReplyText();
    // The session description of the accepted reply (see CDescribeReply::GetSDP).
    CMfxString GetReplySDP(bool& utf8);
    void SetReplyText(CMfxString text);

    // Called by the worker's socket with each received block; the fetch ends once the reply is
    // accepted.
    void AddReceiveData(const char* data, int count);
    // No more bytes will come (the peer has closed, or the worker stops waiting): a reply whose
    // length only the end of the connection tells is judged as it stands.
    void EndReceiveData();
    bool IsReplyTooLong();

    static UINT __cdecl ThreadEntry(LPVOID param);
    // The starts of every checker's workers.
    static CStartQueue& FetchStarts();

    // Host-name lookup of the fetch: IPv4 address of a name, false when there is none. It runs on
    // a thread of its own that nobody waits for, so a resolver that does not answer costs the
    // worker no more than its time limit. Tests put another one in place (null: the system's).
    using ResolveHostFunction = bool (*)(const std::string& host, in_addr& address);
    static void SetHostResolver(ResolveHostFunction resolve);

    CMfxString m_User;
    CMfxString m_Password;
    CMfxString m_Host;
    unsigned short m_Port = 0;
    CMfxString m_Path;

private:
    class CFetchStart;

    // The URL is set on the GUI thread and read by the worker; the reply is written by the worker
    // and read by the GUI thread. Both go under this lock.
    CCriticalSection m_DataLock;
    CMfxString m_URL;
    CDescribeReply m_Reply;
    // The reply of the running fetch has been accepted (worker only; published as done at its end).
    volatile bool m_Accepted = false;
};

class CCheckStreamInfoURLSocket : public CAsyncSocket
{
public:
    enum State : UINT
    {
        kUnconnected = 1,
        kConnecting = 2,
        kConnected = 3,
        kSending = 4,
        kReceived = 5,
        kClosed = 6
    };

    CCheckStreamInfoURLSocket(CVelmoraManager* owner, CCheckStreamInfoURL* checker);
    ~CCheckStreamInfoURLSocket() override;

    void OnReceive(int errorCode) override;
    void OnConnect(int errorCode) override;
    void OnClose(int errorCode) override;

    // The label of a connection state in the failure line; the reply goes on one line.
    static CMfxString StateLabel(UINT state, const CMfxString& reply);

    CVelmoraManager* m_pOwner;
    CCheckStreamInfoURL* m_pChecker;
    volatile UINT m_State = kUnconnected;

private:
    // Reads one block of at most 8192 bytes into the checker; the count Receive returned.
    int ReceiveBlock(int errorCode);
};

} // namespace Corvane
