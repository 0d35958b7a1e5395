// Corvane::CStreamInfo: the record of one service instance found by discovery.
//
// The stream browser creates and fills it; the gateway receives it by pointer in the delayed add and
// remove messages, builds a found stream from it and keeps the pointer while the instance is
// present. A record is counted: whichever holder lets go last frees it, and nobody deletes a record
// directly. The creator's reference is the first; who holds one after: the lifetimes in
// StreamBrowser.h.
#pragma once

#include "afx/afxmt.h"
#include "afx/afxplatform.h"
#include "foundation/MfxString.h"

#include <string>
#include <utility>

namespace Corvane {

class CStreamBrowser;

class CStreamInfo
{
public:
    // The only source kind any part of the program creates: found by discovery.
    static const DWORD kSourceDiscovery = 1;
    // Session kinds: "_rtsp._tcp,_corvane_session" and "_rtsp._tcp,_zint_session".
    static const DWORD kSessionCorvane = 1;
    static const DWORD kSessionZint = 2;

    // One reference, the creator's.
    CStreamInfo(CStreamBrowser* pOwner, DWORD sourceKind);
    // Only through the last Release (or for a record that was never handed to anyone).
    virtual ~CStreamInfo();
    CStreamInfo(const CStreamInfo&) = delete;
    CStreamInfo& operator=(const CStreamInfo&) = delete;

    // Any thread. The release of the last reference frees the record.
    void AddRef();
    void Release();
    // Records allocated in the process now.
    static LONG LiveCount();

    // Copies of the texts, each read and written under the record's own text lock, which takes no
    // other lock: the gateway reads them under its delayed-message and stream-table locks while the
    // browser's reply callbacks write them.
    CMfxString GetName() const { return Read(m_Name); }
    void SetName(CMfxString name) { Write(m_Name, name); }
    CMfxString GetRegType() const { return Read(m_RegType); }
    void SetRegType(CMfxString regType) { Write(m_RegType, regType); }
    CMfxString GetReplyDomain() const { return Read(m_ReplyDomain); }
    void SetReplyDomain(CMfxString replyDomain) { Write(m_ReplyDomain, replyDomain); }
    CString GetClientName() const { return Read(m_ClientName); }
    void SetClientName(CString clientName) { Write(m_ClientName, clientName); }
    CString GetClientIP() const { return Read(m_ClientIP); }
    void SetClientIP(CString clientIP) { Write(m_ClientIP, clientIP); }
    CString GetInterfaceIP() const { return Read(m_InterfaceIP); }
    // The interface fill's text when the caller already knows it (the engine poll fills many at once).
    void SetInterfaceIP(CString interfaceIP) { Write(m_InterfaceIP, interfaceIP); }
    CMfxString GetURL() const { return Read(m_URL); }

    // Fills the interface index and the interface's IPv4 address text for an interface index: the
    // interface must answer GetIfEntry, and the last address-table row of that index gives the text.
    // TRUE when at least one row matched.
    BOOL FetchInterfaceInfo(int interfaceIndex);

    // The record's RTSP URL ("rtsp://%s:%d/by-name/%s" for a found instance); defined with the SDP
    // retrieval, which builds the URLs it describes.
    CMfxString GetStreamRTSPURL();

    CStreamBrowser* GetOwner() const { return m_pOwner; }
    DWORD GetSequenceNumber() const { return m_SequenceNumber; }

    // Takes a resolved sender's address and port; a change of either from what was resolved before
    // (the sender moved) counts one more move. TRUE when it moved.
    BOOL SetLocation(CString clientIP, int port);
    // How often the sender has moved; the gateway fetches the SDP again when this changes.
    LONG GetMoves() const { return m_Moves; }
    // The instance name as the browse reply gave its bytes ("APPLE" road), to resolve it again.
    std::string GetWireName() const { return Read(m_WireName); }
    void SetWireName(std::string wireName) { Write(m_WireName, wireName); }

    // Read and written directly by the browser, the engine poll and the gateway.
    DWORD m_SourceKind;
    int m_InterfaceIndex = -1;
    DWORD m_SessionKind = 0;
    int m_Port = -1;    // host order; -1 until resolved
    int m_Resolved = 0; // 1 once ClientName and ClientIP are set
    int m_Seen = 0;     // 1 when the last engine poll found the instance
    // "APPLE" road: when the browser resolves the instance again to see whether it moved (its
    // clock; 0 until resolved). Under the browser's record lock.
    ULONGLONG m_NextCheck = 0;
    // "APPLE" road: the pause before the instance is tried again while it goes unanswered (0 while
    // it answers), when that pause ends, and whether a resolve waits for that. Under the browser's
    // record lock.
    ULONGLONG m_RetryPause = 0;
    ULONGLONG m_RetryDue = 0;
    int m_RetryWaiting = 0;

private:
    template <class T> T Read(const T& text) const
    {
        CSingleLock lock(&m_TextLock, TRUE);
        return text;
    }
    template <class T> void Write(T& text, const T& value)
    {
        CSingleLock lock(&m_TextLock, TRUE);
        text = value;
    }

    mutable CCriticalSection m_TextLock;
    CStreamBrowser* m_pOwner;
    CMfxString m_Name;
    DWORD m_SequenceNumber;
    CString m_InterfaceIP;
    CMfxString m_RegType;
    CMfxString m_ReplyDomain;
    CString m_ClientName;
    CString m_ClientIP;
    CMfxString m_URL; // empty in every record; a new stream's fetcher starts with it
    std::string m_WireName;
    volatile LONG m_References = 1;
    volatile LONG m_Moves = 0;
};

// One counted reference to a record (or none), for holders that keep it in a member or a list.
class CStreamInfoRef
{
public:
    CStreamInfoRef() = default;
    // Takes a reference of its own.
    explicit CStreamInfoRef(CStreamInfo* record) : m_pRecord(record)
    {
        if (m_pRecord != nullptr) {
            m_pRecord->AddRef();
        }
    }
    // Takes over the creator's reference of a new record.
    static CStreamInfoRef Adopt(CStreamInfo* record)
    {
        CStreamInfoRef ref;
        ref.m_pRecord = record;
        return ref;
    }
    CStreamInfoRef(const CStreamInfoRef& other) : CStreamInfoRef(other.m_pRecord) {}
    CStreamInfoRef(CStreamInfoRef&& other) noexcept : m_pRecord(std::exchange(other.m_pRecord, nullptr)) {}
    CStreamInfoRef& operator=(CStreamInfoRef other) noexcept
    {
        std::swap(m_pRecord, other.m_pRecord);
        return *this;
    }
    CStreamInfoRef& operator=(CStreamInfo* record) { return *this = CStreamInfoRef(record); }
    ~CStreamInfoRef()
    {
        if (m_pRecord != nullptr) {
            m_pRecord->Release();
        }
    }

    CStreamInfo* get() const { return m_pRecord; }
    CStreamInfo* operator->() const { return m_pRecord; }
    operator CStreamInfo*() const { return m_pRecord; }

private:
    CStreamInfo* m_pRecord = nullptr;
};

} // namespace Corvane
