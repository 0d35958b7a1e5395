// Corvane::CStreamInfo: the record of one service instance found by discovery.
//
// The stream browser creates and fills it; the gateway receives it by pointer in the delayed add and
// remove messages, builds a found stream from it and keeps the pointer while the instance is
// present. A record handed over with a remove message stays allocated: neither the browser nor the
// gateway deletes it, so a pointer to it stays valid for any holder.
#pragma once

#include "afx/afxmt.h"
#include "afx/afxplatform.h"
#include "foundation/MfxString.h"

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

    CStreamInfo(CStreamBrowser* pOwner, DWORD sourceKind);
    virtual ~CStreamInfo();
    CStreamInfo(const CStreamInfo&) = delete;
    CStreamInfo& operator=(const CStreamInfo&) = delete;

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

    // Read and written directly by the browser, the engine poll and the gateway.
    DWORD m_SourceKind;
    int m_InterfaceIndex = -1;
    DWORD m_SessionKind = 0;
    int m_Port = -1;    // host order; -1 until resolved
    int m_Resolved = 0; // 1 once ClientName and ClientIP are set
    int m_Seen = 0;     // 1 when the last engine poll found the instance

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
};

} // namespace Corvane
