// CVelmoraStream: one stream known to the gateway.
//
// A stream found by DNS-SD, added by the operator as an RTSP URL or as SDP text, or heard in a SAP
// announcement. It holds the session description (SDP) and the values taken from it, the wishes
// (announce by SAP, register by DNS-SD, publish on the own RTSP server) with their states, and the
// SAP packet it sends. The manager owns every stream in its table and runs each one's step once per
// tick, on the GUI thread, under the stream-table lock.
#pragma once

#include "afx/afxplatform.h"
#include "discovery/CheckStreamInfoURL.h"
#include "discovery/StreamInfo.h"
#include "foundation/MfxString.h"

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CVelmoraManager;
class CVelmoraServerMediaSession;
class UsageEnvironment;
class RTSPServer;
class Groupsock;
class SimpleRTPSink;
class RTCPInstance;
class PassiveServerMediaSubsession;
class CVelmoraStream
{
public:
    // Stream kinds: one bit per stream.
    enum : DWORD
    {
        kKindBonjour = 0x01, // found by DNS-SD
        kKindRTSP = 0x04,    // added by RTSP URL
        kKindSDP = 0x08,     // added by SDP text
        kKindSAP = 0x10,     // heard by SAP
    };
    // The SDP-age report comes once this long after the SDP time.
    static const ULONGLONG kSdpAgeMilliSec = 35000;
    // A heard stream is alive this long after its last announcement.
    static const ULONGLONG kSAPAliveMilliSec = 300000;
    // A fetch of a missing SDP is started again this long after the previous start.
    static const ULONGLONG kSdpRetryMilliSec = 20000;
    // A heard stream not heard for this long, with no wish on, leaves the table.
    static constexpr ULONGLONG kSAPForgetMilliSec = 3600000;
    // The largest SAP packet a UDP datagram over IPv4 carries.
    static constexpr size_t kMaxSAPPacketBytes = 65507;
    // A DNS-SD registration that failed is tried again this long after.
    static constexpr ULONGLONG kBonjourRetryMilliSec = 1000;

    // A stream found by DNS-SD (kind 0x01), named after the record's instance.
    CVelmoraStream(CVelmoraManager* pOwner, Corvane::CStreamInfo* pStreamInfo);
    // A stream of kind 0x04 (name and SDP empty), 0x08 or 0x10. sdpUtf8: the SDP goes out as UTF-8
    // (else in the ANSI code page), the encoding it came in.
    CVelmoraStream(CVelmoraManager* pOwner, DWORD kind, CMfxString name, CMfxString url, CMfxString sdp,
                   bool sdpUtf8 = true);
    // Withdraws nothing: the manager deletes a stream only when nothing of it is active.
    virtual ~CVelmoraStream();
    CVelmoraStream(const CVelmoraStream&) = delete;
    CVelmoraStream& operator=(const CVelmoraStream&) = delete;

    // Found: the record is set; heard: announced within the last 300000 ms; the operator's: always.
    bool IsAlive();
    // Kind 0x08 only: a new SDP; the values taken from it and the SAP packet are made afresh.
    void ChangeSDP(CMfxString sdp);
    // Withdraws the stream and sets the removed flag (GUI thread); nothing once the flag is set.
    void MarkRemoved();
    // The per-tick step; sets changed to 1 when the lists must be redrawn, never clears it.
    void OnTimer(BOOL& changed);
    // Publication on the own RTSP server (RTSP-server thread, under the stream-table lock).
    void AddToRTSPServer(UsageEnvironment* pEnv, RTSPServer* pServer);
    void RemoveFromRTSPServer(RTSPServer* pServer);
    // While published, the stream is also served under the names a receiver may ask for: its name in
    // UTF-8 when its SDP came in the ANSI code page, and the name its DNS-SD registration has now
    // (after a rename on a conflict). RTSP-server thread, under the stream-list lock.
    void UpdateRTSPAliases(UsageEnvironment* pEnv, RTSPServer* pServer);
    // Step 2 of OnTimer: kinds 0x01 and 0x04 take a missing SDP from an accepted DESCRIBE reply and
    // start a fetch at once and every 20 s while the SDP is empty.
    void FetchSDP(ULONGLONG now, BOOL& changed);
    // Takes a fetched SDP with the name (kind 0x04: its "s=" value) and the values from it.
    void TakeFetchedSDP(CMfxString sdp, BOOL& changed, bool utf8 = true);
    // Kind 0x01 with its SDP: once the record's sender has moved, fetches the SDP again from the new
    // address and port; a new SDP replaces the old one and its values, and is announced at once.
    void FollowMove(ULONGLONG now, BOOL& changed);
    void ReplaceFetchedSDP(CMfxString sdp, bool utf8, BOOL& changed);
    // A heard stream, not heard for kSAPForgetMilliSec and with no SAP or DNS-SD wish on.
    bool IsForgotten(ULONGLONG now) const;
    // The SDP's bytes as they go out (SAP payload, RTSP "DESCRIBE"): in the encoding it came in.
    std::string GetSDPBytes() const;

    CMfxString GetName() const { return m_Name; }
    CMfxString GetURL() const { return m_URL; }
    CMfxString GetSDP() const { return m_SDP; }
    CMfxString GetConnectionAddress() const { return m_ConnectionAddress; }
    CMfxString GetOriginAddress() const { return m_OriginAddress; }
    CMfxString GetOriginLine() const { return m_OriginLine; }
    // The only writers of the origin line (for a heard stream also of the manager's index of heard
    // streams) and of the connection address; both keep the twin key's hash.
    void SetOriginLine(const CMfxString& originLine);
    void SetConnectionAddress(const CMfxString& connectionAddress);
    // The hash of origin line and connection address, by which the duplicate-stream check groups
    // the streams without reading their texts.
    size_t GetTwinKeyHash() const { return m_TwinKeyHash; }
    static size_t HashTwinKey(const CMfxString& originLine, const CMfxString& connectionAddress);
    // Sends the one SAP deletion (when there is a packet) and ends announcing.
    void AdvertiseSAPInactive();
    // "Bonjour", "SAP", "RTSP" or "SDP" for the first kind bit in that order, else "Unknown".
    const wchar_t* GetKindText() const;
    // The serial number of the next stream made.
    static DWORD NextSerial();

    // Tells this stream apart from every other stream of the process, also from a later one that gets
    // the same address: 1, 2, 3, ..., never reused. The dialog keys its list rows by it.
    const DWORD m_Serial = NextSerial();
    CVelmoraManager* m_pOwner;
    DWORD m_Kind;
    ULONGLONG m_SdpTime = 0;
    int m_SdpAged = 0;
    // Whether the stream was alive at its last tick: a heard stream falling silent for 300 s, or
    // heard again, changes what the lists show.
    int m_WasAlive = 1; // every stream is alive when it is made
    int m_SAPWanted = 0;
    int m_SAPActive = 0;
    int m_BonjourWanted = 0;
    int m_BonjourRegistered = 0;
    int m_RTSPWanted = 0;
    int m_Removed = 0;
    // Kinds 0x08 and 0x10: name, connection address, origin line and origin address have been taken
    // from the current SDP.
    int m_SdpValuesTaken = 0;
    // Kind 0x01 only: the found record, held while the instance is present.
    Corvane::CStreamInfoRef m_pStreamInfo;
    // Kind 0x01: the record's count of moves the SDP was fetched for; a fetch after a move, with the
    // SDP kept until a new one has come.
    LONG m_FetchedMoves = 0;
    int m_Refetching = 0;
    CMfxString m_Name;
    CMfxString m_URL;
    CMfxString m_SDP;
    CMfxString m_OriginAddress;
    // The SDP came as UTF-8 (else in the ANSI code page) and goes out the same way.
    bool m_SdpUtf8 = true;
    // RTSP "DESCRIBE" retrieval of the SDP: kinds 0x01 and 0x04 only, null for the others.
    std::unique_ptr<Corvane::CCheckStreamInfoURL> m_pSdpFetcher;
    CVelmoraServerMediaSession* m_pSession = nullptr;
    Groupsock* m_pRTPGroupsock = nullptr;
    Groupsock* m_pRTCPGroupsock = nullptr;
    SimpleRTPSink* m_pRTPSink = nullptr;
    RTCPInstance* m_pRTCPInstance = nullptr;
    PassiveServerMediaSubsession* m_pSubsession = nullptr;
    // Written by the RTSP-server thread, read by MarkRemoved without the lock.
    std::atomic<int> m_Published{0};
    // A publication that could not be made is not tried again before this time.
    ULONGLONG m_NextRTSPPublishTime = 0;
    DWORD m_BonjourHandle = 0;
    // A registration that failed is not tried again before this time; the failure last logged.
    ULONGLONG m_NextBonjourRegister = 0;
    CMfxString m_BonjourFailure;
    // The name the stream's DNS-SD registration has now (empty while it is not registered); written
    // by the tick, read by the RTSP-server thread, both under the stream-list lock.
    CMfxString m_RegisteredName;
    // Further sessions of the publication, by name bytes (null: the name is another stream's):
    // RTSP-server thread only. The names they were made for.
    std::map<std::string, CVelmoraServerMediaSession*> m_AliasSessions;
    bool m_AliasesMade = false;
    CMfxString m_AliasesOfName;
    CMfxString m_AliasesOfRegisteredName;
    std::vector<BYTE> m_SAPPacket;
    // The SDP makes a SAP packet too large to send: no packet until the SDP or the wish changes.
    int m_SAPPacketRefused = 0;
    ULONGLONG m_NextSAPSend = 0;
    ULONGLONG m_LastSAPAnnounce = 0;
    CVelmoraStream* m_pTwinBonjour = nullptr; // heard stream: its twin found by DNS-SD
    int m_TwinBonjourRegistered = 0;
    CVelmoraStream* m_pTwinSAP = nullptr; // found stream: its twin heard by SAP
    int m_TwinSAPActive = 0;

private:
    // The two texts that make a stream another one's twin; written only through their setters.
    CMfxString m_ConnectionAddress;
    CMfxString m_OriginLine;
    size_t m_TwinKeyHash = HashTwinKey(CMfxString(), CMfxString());
};
