// The stream table: SAP reception, the hand-over of found and lost streams from discovery, the
// operator's additions and deletions, the switching of the SAP and DNS-SD wishes, and the
// duplicate-stream check that links streams of different kinds as twins.
#include "gateway/VelmoraManager.h"

#include "afx/afxwin.h"
#include "discovery/StreamInfo.h"
#include "gateway/SapPacket.h"
#include "gateway/SdpHelpers.h"
#include "gateway/VelmoraStream.h"

#include <algorithm>
#include <unordered_set>

namespace {

const wchar_t kSAPClashText[] =
    L"There's an existing stream using the same name, which is already announced by "
    L"SAP. This stream cannot be activated for SAP.";
const wchar_t kBonjourClashText[] =
    L"There's an existing stream using the same name, which is already announced "
    L"by Bonjour. This stream cannot be activated for Bonjour.";

std::wstring TextKey(const CMfxString& text)
{
    return std::wstring(text.GetString(), text.GetLength());
}

// Erases the index entry of key when it names this stream.
template <typename Map, typename Key> void EraseIf(Map& index, const Key& key, const CVelmoraStream* stream)
{
    auto found = index.find(key);
    if (found != index.end() && found->second == stream) {
        index.erase(found);
    }
}

// What the streams of one origin line and connection address offer their twins of other kinds.
struct CTwinCandidates
{
    CVelmoraStream* lastHeard = nullptr; // the last stream of kind 0x10 in table order
    CVelmoraStream* lastFound = nullptr; // the last stream of kind 0x01 in table order
    int registeredNotFound = 0; // a stream of kind 0x10, 0x08 or 0x04 is DNS-SD wanted and registered
    int activeNotHeard = 0;     // a stream of kind 0x01, 0x08 or 0x04 is SAP wanted and active
};

// Whether two streams have equal origin lines and equal connection addresses.
bool SameTwinKey(const CVelmoraStream* a, const CVelmoraStream* b)
{
    return a->GetTwinKeyHash() == b->GetTwinKeyHash() && a->GetOriginLine() == b->GetOriginLine() &&
           a->GetConnectionAddress() == b->GetConnectionAddress();
}

// The streams of a table grouped by equal origin line and connection address, in one open-addressed
// table: a few allocations per check, whatever the number of streams.
class CTwinGroups
{
public:
    explicit CTwinGroups(const std::vector<CVelmoraStream*>& streams)
    {
        size_t size = 16;
        while (size < 2 * streams.size()) {
            size *= 2;
        }
        m_Slots.assign(size, CSlot());
        m_GroupOf.reserve(streams.size());
        for (const CVelmoraStream* stream : streams) {
            m_GroupOf.push_back(GroupOf(stream, size - 1));
        }
    }

    // The group of the stream at this place of the table.
    CTwinCandidates& operator[](size_t index) { return m_Groups[m_GroupOf[index]]; }

private:
    struct CSlot
    {
        const CVelmoraStream* first = nullptr; // the group's first stream, whose key it shares
        size_t group = 0;
    };

    // The texts of a stream are read only when its hash meets another one's.
    size_t GroupOf(const CVelmoraStream* stream, size_t mask)
    {
        for (size_t slot = stream->GetTwinKeyHash() & mask;; slot = (slot + 1) & mask) {
            CSlot& entry = m_Slots[slot];
            if (entry.first == nullptr) {
                entry = CSlot{stream, m_Groups.size()};
                m_Groups.emplace_back();
                return entry.group;
            }
            if (SameTwinKey(entry.first, stream)) {
                return entry.group;
            }
        }
    }

    std::vector<CSlot> m_Slots;
    std::vector<CTwinCandidates> m_Groups;
    std::vector<size_t> m_GroupOf;
};

template <typename T> void UpdateTwinField(T& field, T value, BOOL& changed)
{
    if (field != value) {
        field = value;
        changed = TRUE;
    }
}

} // namespace

void CVelmoraManager::OnSAPPacket(int byteCount, BYTE* bytes, DWORD sender)
{
    const CSapMessage message = ReadSapPacket(bytes, byteCount);
    if (message.m_Result != CSapMessage::Accepted) {
        LogSAPRefusal(sender, message.m_Rejection);
        return;
    }

    CSingleLock lock(&m_StreamsLock, TRUE);
    // A deletion may carry the origin line alone: the line names the stream it withdraws, or else
    // its origin.
    CMfxString name = message.m_Name;
    CVelmoraStream* stream = FindSAPStream(message.m_OriginLine);
    if (stream == nullptr) {
        if (message.m_IsDeletion) {
            // Nothing to withdraw.
            if (name.IsEmpty()) {
                name = message.m_OriginLine;
            }
        } else if (m_HeardStreams >= kMaxHeardStreams) {
            const ULONGLONG now = GetMilliSec();
            if (now >= m_NextTableFullLine) {
                m_NextTableFullLine = now + kTableFullLinePeriod;
                AddLogText(kLogRed, L"Received SAP announce for: %s refused, %d streams heard already",
                           message.m_Name.GetString(), static_cast<int>(m_HeardStreams));
            }
            return;
        } else {
            stream = new CVelmoraStream(this, CVelmoraStream::kKindSAP, message.m_Name, CMfxString(),
                                        message.m_SDP, message.m_SdpUtf8 != FALSE);
            AddStream(stream);
            // The origin line is the stream's key: known at once, so that a repeat arriving before
            // the next tick finds the stream.
            stream->SetOriginLine(message.m_OriginLine);
            RequestDuplicateCheck();
            PostRefreshRequest();
        }
    } else if (message.m_IsDeletion) {
        if (name.IsEmpty()) {
            name = stream->GetName();
        }
        // The withdrawn stream loses its origin line and waits for the tick to delete it.
        stream->MarkRemoved();
        RequestDuplicateCheck();
        PostRefreshRequest();
    } else {
        stream->m_LastSAPAnnounce = GetMilliSec();
    }
    AddLogText(kLogGreen, L"Received SAP %s for: %s", message.m_IsDeletion ? L"delete" : L"announce",
               name.GetString());
}

void CVelmoraManager::OnSAPUnreadable(int error, DWORD sender)
{
    CMfxString line;
    line.Format(L"Received SAP message that cannot be read - ignoring (error %d)", error);
    LogSAPRefusal(sender, line);
}

void CVelmoraManager::LogSAPRefusal(DWORD sender, const CMfxString& line)
{
    switch (m_SAPRefusalLog.Check(sender, GetMilliSec())) {
    case CSenderLogLimit::kQuiet:
        break;
    case CSenderLogLimit::kLine:
        AddLogText(kLogRed, L"%s", line.GetString());
        break;
    case CSenderLogLimit::kSummary:
        AddLogText(
            kLogRed,
            L"Received %I64u invalid SAP messages from senders beyond the first %d of a minute - ignoring",
            static_cast<unsigned long long>(m_SAPRefusalLog.TakeUnnamed()),
            static_cast<int>(CSenderLogLimit::kSenders));
        break;
    }
}

CVelmoraStream* CVelmoraManager::FindSAPStream(const CMfxString& originLine)
{
    CSingleLock lock(&m_StreamsLock, TRUE);
    auto found = m_SAPStreamsByOrigin.find(TextKey(originLine));
    if (found == m_SAPStreamsByOrigin.end()) {
        return nullptr;
    }
    CVelmoraStream* stream = found->second;
    return (stream->m_Kind & CVelmoraStream::kKindSAP) && stream->GetOriginLine() == originLine ? stream
                                                                                                : nullptr;
}

void CVelmoraManager::IndexSAPStream(CVelmoraStream* pStream, const CMfxString& oldOriginLine,
                                     const CMfxString& newOriginLine)
{
    CSingleLock lock(&m_StreamsLock, TRUE);
    if (!oldOriginLine.IsEmpty()) {
        auto found = m_SAPStreamsByOrigin.find(TextKey(oldOriginLine));
        if (found != m_SAPStreamsByOrigin.end() && found->second == pStream) {
            m_SAPStreamsByOrigin.erase(found);
        }
    }
    if (!newOriginLine.IsEmpty()) {
        // The first heard stream of an origin line keeps it.
        m_SAPStreamsByOrigin.emplace(TextKey(newOriginLine), pStream);
    }
}

void CVelmoraManager::AddStream(CVelmoraStream* pStream)
{
    CSingleLock lock(&m_StreamsLock, TRUE);
    m_Streams.push_back(pStream);
    m_StreamsBySerial.emplace(pStream->m_Serial, pStream);
    m_StreamPointers.insert(pStream);
    if (pStream->m_Kind & CVelmoraStream::kKindSAP) {
        ++m_HeardStreams;
    }
    if ((pStream->m_Kind & CVelmoraStream::kKindBonjour) && !pStream->m_Removed) {
        m_FoundStreamsByName.emplace(TextKey(pStream->GetName()), pStream);
        if (pStream->m_pStreamInfo != nullptr) {
            m_FoundStreamsByRecord.emplace(pStream->m_pStreamInfo, pStream);
        }
    }
}

CVelmoraStream* CVelmoraManager::FindStream(DWORD serial)
{
    CSingleLock lock(&m_StreamsLock, TRUE);
    auto found = m_StreamsBySerial.find(serial);
    return found == m_StreamsBySerial.end() ? nullptr : found->second;
}

void CVelmoraManager::DeleteStreams(const std::vector<CVelmoraStream*>& streams, BOOL& changed)
{
    if (streams.empty()) {
        return;
    }
    CSingleLock lock(&m_StreamsLock, TRUE);
    std::unordered_set<CVelmoraStream*> doomed(streams.begin(), streams.end());
    for (CVelmoraStream* stream : streams) {
        m_StreamsBySerial.erase(stream->m_Serial);
        m_StreamPointers.erase(stream);
        if (stream->m_Kind & CVelmoraStream::kKindBonjour) {
            EraseIf(m_FoundStreamsByName, TextKey(stream->GetName()), stream);
            EraseIf(m_FoundStreamsByRecord, stream->m_pStreamInfo, stream);
        }
        if (stream->m_Kind & CVelmoraStream::kKindSAP) {
            IndexSAPStream(stream, stream->GetOriginLine(), CMfxString());
            --m_HeardStreams;
        }
    }
    size_t kept = 0;
    for (CVelmoraStream* stream : m_Streams) {
        if (doomed.count(stream) != 0) {
            continue;
        }
        if (stream->m_pTwinBonjour != nullptr && doomed.count(stream->m_pTwinBonjour) != 0) {
            stream->m_pTwinBonjour = nullptr;
            changed = TRUE;
        }
        if (stream->m_pTwinSAP != nullptr && doomed.count(stream->m_pTwinSAP) != 0) {
            stream->m_pTwinSAP = nullptr;
            changed = TRUE;
        }
        m_Streams[kept++] = stream;
    }
    m_Streams.resize(kept);
    for (CVelmoraStream* stream : streams) {
        delete stream;
    }
}

bool CVelmoraManager::SendSAP(const std::vector<BYTE>& packet)
{
    if (m_SendSAP) {
        return m_SendSAP(packet);
    }
    return m_SAPSocket.SendTo(packet.data(), static_cast<int>(packet.size()));
}

BOOL CVelmoraManager::AddBonjourStream(Corvane::CStreamInfo* pStreamInfo)
{
    const CMfxString name = pStreamInfo->GetName();
    AddLogText(kLogGreen, L"Add stream from Bonjour: %s", name.GetString());
    CSingleLock lock(&m_StreamsLock, TRUE);
    auto found = m_FoundStreamsByName.find(TextKey(name));
    if (found != m_FoundStreamsByName.end()) {
        // The same instance announced again: the known stream takes the new record.
        CVelmoraStream* stream = found->second;
        EraseIf(m_FoundStreamsByRecord, stream->m_pStreamInfo, stream);
        stream->m_pStreamInfo = pStreamInfo;
        // The new record may tell of another address: its SDP is fetched again.
        stream->m_FetchedMoves = -1;
        m_FoundStreamsByRecord[pStreamInfo] = stream;
        stream->m_SdpTime = GetMilliSec();
        stream->m_SdpAged = 0;
        return TRUE;
    }
    AddStream(new CVelmoraStream(this, pStreamInfo));
    return TRUE;
}

BOOL CVelmoraManager::RemoveBonjourStream(Corvane::CStreamInfo* pStreamInfo)
{
    AddLogText(kLogGreen, L"Remove stream from Bonjour: %s", pStreamInfo->GetName().GetString());
    CSingleLock lock(&m_StreamsLock, TRUE);
    auto found = m_FoundStreamsByRecord.find(pStreamInfo);
    if (found == m_FoundStreamsByRecord.end()) {
        return FALSE;
    }
    CVelmoraStream* stream = found->second;
    m_FoundStreamsByRecord.erase(found);
    // Withdrawn: a later add of the same name makes a new stream.
    EraseIf(m_FoundStreamsByName, TextKey(stream->GetName()), stream);
    stream->MarkRemoved();
    RequestDuplicateCheck();
    return TRUE;
}

void CVelmoraManager::ForgetFoundStream(CVelmoraStream* pStream)
{
    CSingleLock lock(&m_StreamsLock, TRUE);
    EraseIf(m_FoundStreamsByName, TextKey(pStream->GetName()), pStream);
    EraseIf(m_FoundStreamsByRecord, pStream->m_pStreamInfo.get(), pStream);
}

void CVelmoraManager::AddRTSPStream(CMfxString url)
{
    CSingleLock lock(&m_StreamsLock, TRUE);
    AddStream(new CVelmoraStream(this, CVelmoraStream::kKindRTSP, CMfxString(), url, CMfxString()));
    PostRefreshRequest();
}

void CVelmoraManager::AddSDPStream(CMfxString sdp)
{
    const CMfxString name = GetSdpSessionName(ParseSdpLines(sdp));
    if (name.IsEmpty()) {
        AddLogText(kLogRed, L"Cannot add SDP stream without session name inside SDP (missing s=...)");
        return;
    }
    CSingleLock lock(&m_StreamsLock, TRUE);
    AddStream(new CVelmoraStream(this, CVelmoraStream::kKindSDP, name, CMfxString(), sdp));
    PostRefreshRequest();
}

void CVelmoraManager::DeleteStream(CVelmoraStream* pStream)
{
    CSingleLock lock(&m_StreamsLock, TRUE);
    if (m_StreamPointers.count(pStream) == 0) {
        return;
    }
    // A stream still published, announced or registered (its withdrawal ran out of time) is left to
    // the tick, which deletes it once nothing of it is active.
    if (pStream->m_Published || pStream->m_SAPActive || pStream->m_BonjourRegistered) {
        pStream->m_Removed = 1;
        return;
    }
    BOOL changed = FALSE;
    DeleteStreams({pStream}, changed);
    if (changed) {
        PostRefreshRequest();
    }
}

BOOL CVelmoraManager::SetSAPAdvertising(CVelmoraStream* pStream, BOOL on, BOOL quiet)
{
    return SetWish(pStream, 0, on, quiet, CVelmoraStream::kKindSAP, &CVelmoraStream::m_SAPWanted,
                   kSAPClashText);
}

BOOL CVelmoraManager::SetBonjourAdvertising(CVelmoraStream* pStream, BOOL on, BOOL quiet)
{
    return SetWish(pStream, 0, on, quiet, CVelmoraStream::kKindBonjour, &CVelmoraStream::m_BonjourWanted,
                   kBonjourClashText);
}

BOOL CVelmoraManager::SetSAPAdvertising(DWORD serial, BOOL on, BOOL quiet)
{
    return SetWish(nullptr, serial, on, quiet, CVelmoraStream::kKindSAP, &CVelmoraStream::m_SAPWanted,
                   kSAPClashText);
}

BOOL CVelmoraManager::SetBonjourAdvertising(DWORD serial, BOOL on, BOOL quiet)
{
    return SetWish(nullptr, serial, on, quiet, CVelmoraStream::kKindBonjour, &CVelmoraStream::m_BonjourWanted,
                   kBonjourClashText);
}

BOOL CVelmoraManager::SetWish(CVelmoraStream* pStream, DWORD serial, BOOL on, BOOL quiet, DWORD clashKind,
                              int CVelmoraStream::*wish, const wchar_t* refusal)
{
    {
        CSingleLock lock(&m_StreamsLock, TRUE);
        // By pointer (which must still be in the table) or by serial number.
        CVelmoraStream* stream = pStream != nullptr
                                     ? (m_StreamPointers.count(pStream) != 0 ? pStream : nullptr)
                                     : FindStream(serial);
        if (stream == nullptr) {
            return FALSE;
        }
        bool clash = false;
        if (on) {
            // Only a live, named stream that is not being withdrawn holds its name.
            for (CVelmoraStream* other : m_Streams) {
                if (other != stream && !other->m_Removed && !other->m_Name.IsEmpty() &&
                    other->m_Name == stream->m_Name && ((other->m_Kind & clashKind) || other->*wish) &&
                    other->IsAlive()) {
                    clash = true;
                    break;
                }
            }
        }
        if (!clash) {
            stream->*wish = on ? 1 : 0;
            return TRUE;
        }
    }
    // The refusal is shown with the lock let go: the RTSP-server thread goes on serving meanwhile.
    if (!quiet && m_pOwner != nullptr) {
        if (m_ShowRefusal) {
            m_ShowRefusal(refusal);
        } else {
            ::MessageBoxW(GetOwnerWindow(), refusal, AfxGetAppName(), MB_OK);
        }
    }
    return FALSE;
}

void CVelmoraManager::CheckDuplicateStreams(BOOL& changed)
{
    CSingleLock lock(&m_StreamsLock, TRUE);
    // One pass gathers what each origin line and connection address offers, a second one writes
    // the twin fields: linear in the size of the table.
    CTwinGroups groups(m_Streams);
    for (size_t i = 0; i < m_Streams.size(); ++i) {
        CVelmoraStream* stream = m_Streams[i];
        CTwinCandidates& match = groups[i];
        const bool found = (stream->m_Kind & CVelmoraStream::kKindBonjour) != 0;
        const bool heard = (stream->m_Kind & CVelmoraStream::kKindSAP) != 0;
        if (heard) {
            match.lastHeard = stream;
        }
        if (found) {
            match.lastFound = stream;
        }
        if (!found && stream->m_BonjourWanted && stream->m_BonjourRegistered) {
            match.registeredNotFound = 1;
        }
        if (!heard && stream->m_SAPWanted && stream->m_SAPActive) {
            match.activeNotHeard = 1;
        }
    }
    for (size_t i = 0; i < m_Streams.size(); ++i) {
        CVelmoraStream* stream = m_Streams[i];
        const CTwinCandidates& match = groups[i];
        if (stream->m_Kind & CVelmoraStream::kKindBonjour) {
            UpdateTwinField(stream->m_pTwinSAP, match.lastHeard, changed);
            UpdateTwinField(stream->m_TwinBonjourRegistered, match.registeredNotFound, changed);
            UpdateTwinField(stream->m_pTwinBonjour, static_cast<CVelmoraStream*>(nullptr), changed);
            UpdateTwinField(stream->m_TwinSAPActive, 0, changed);
        } else if (stream->m_Kind & CVelmoraStream::kKindSAP) {
            UpdateTwinField(stream->m_pTwinBonjour, match.lastFound, changed);
            UpdateTwinField(stream->m_TwinSAPActive, match.activeNotHeard, changed);
            UpdateTwinField(stream->m_pTwinSAP, static_cast<CVelmoraStream*>(nullptr), changed);
            UpdateTwinField(stream->m_TwinBonjourRegistered, 0, changed);
        }
    }
}
