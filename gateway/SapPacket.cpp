#include "afx/afxplatform.h"
#include "gateway/SapPacket.h"

#include "foundation/NetworkInterfaces.h"
#include "gateway/SdpHelpers.h"

#include <climits>
#include <cstring>
#include <cwctype>

namespace {

const char kSdpPayloadType[] = "application/sdp"; // sent with its terminating zero byte

// A signed 64-bit decimal number in the runtime's _wtoi64 manner, but clamped to the 64-bit range
// instead of wrapping, so that the result never depends on the runtime's overflow handling.
long long ReadClampedInt64(const wchar_t* text)
{
    while (iswspace(*text)) {
        ++text;
    }
    bool negative = *text == L'-';
    if (*text == L'-' || *text == L'+') {
        ++text;
    }
    unsigned long long magnitude = 0;
    const unsigned long long limit = negative ? 0x8000000000000000ULL : 0x7FFFFFFFFFFFFFFFULL;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        unsigned digit = static_cast<unsigned>(*text - L'0');
        magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
    }
    if (negative) {
        return magnitude == 0x8000000000000000ULL ? LLONG_MIN : -static_cast<long long>(magnitude);
    }
    return static_cast<long long>(magnitude);
}

CMfxString SapOriginText(const CParsedSdp& sdp, const CMfxString& interfaceIP)
{
    CMfxString origin = GetSdpSourceFilterAddress(sdp);
    if (origin.IsEmpty()) {
        origin = GetSdpOriginAddress(sdp);
    }
    if (origin.IsEmpty()) {
        origin = interfaceIP;
    }
    return origin;
}

// A payload without a payload type: the SDP itself, which begins with its "v=" line, or a deletion
// that carries the "o=" line alone. A payload type never begins with "o=" ('=' is no MIME character).
bool StartsWithSdp(const BYTE* payload, int length)
{
    return payload[0] == 'v' || (length >= 2 && payload[0] == 'o' && payload[1] == '=');
}

CSapMessage Reject(const CMfxString& why)
{
    CSapMessage message;
    message.m_Result = CSapMessage::Rejected;
    message.m_Rejection = why;
    return message;
}

} // namespace

WORD SapMessageHash(const CMfxString& sessionId, int (*random)())
{
    WORD hash =
        static_cast<WORD>(static_cast<unsigned long long>(ReadClampedInt64(sessionId.GetString())) & 0xFFFF);
    if (hash == 0 || hash == 0xFFFF) {
        hash = static_cast<WORD>(random() % 65535 + 1);
    }
    return hash;
}

std::vector<BYTE> BuildSapPacket(const CMfxString& sdp, BOOL normalize, const CMfxString& interfaceIP,
                                 int (*random)(), bool utf8)
{
    CParsedSdp parsed = ParseSdpLines(sdp);
    std::vector<BYTE> packet;
    packet.push_back(kSapFlagVersion1);
    packet.push_back(0);

    WORD hash = SapMessageHash(GetSdpSessionId(parsed), random);
    packet.push_back(static_cast<BYTE>(hash & 0xFF));
    packet.push_back(static_cast<BYTE>(hash >> 8));

    CMfxString origin = SapOriginText(parsed, interfaceIP);
    DWORD address = origin.IsEmpty() ? 0 : ParseIPv4Address(origin);
    const BYTE* addressBytes = reinterpret_cast<const BYTE*>(&address); // network order in memory
    packet.insert(packet.end(), addressBytes, addressBytes + 4);

    packet.insert(packet.end(), kSdpPayloadType, kSdpPayloadType + sizeof(kSdpPayloadType));

    CMfxString payload = normalize ? NormalizeSdp(parsed) : sdp;
    const std::string bytes = EncodeReceivedText(payload, utf8);
    packet.insert(packet.end(), bytes.begin(), bytes.end());
    return packet;
}

CSapMessage ReadSapPacket(const BYTE* data, int length)
{
    if (length < 8) {
        CMfxString why;
        why.Format(L"Received invalid SAP message - ignoring (size %d Bytes)", length);
        return Reject(why);
    }
    BYTE flags = data[0];
    if (flags & kSapFlagEncrypted) {
        return Reject(L"Received encrypted SAP message - ignoring.");
    }
    if (flags & kSapFlagCompressed) {
        return Reject(L"Received compressed SAP message - ignoring.");
    }
    if (flags & kSapFlagIPv6) {
        return Reject(L"Received SAP IPv6 message - ignoring.");
    }

    CSapMessage message;
    message.m_IsDeletion = (flags & kSapFlagDeletion) ? TRUE : FALSE;

    const int start = 8 + 4 * data[1];
    if (start > length) {
        return Reject(L"Received invalid SAP message - ignoring (authentication data past the end)");
    }
    int sdpStart = start;
    if (start < length && !StartsWithSdp(data + start, length - start)) {
        const void* end = memchr(data + start, 0, static_cast<size_t>(length - start));
        if (end == nullptr) {
            return Reject(L"Received invalid SAP message - ignoring (payload type without end)");
        }
        sdpStart = static_cast<int>(static_cast<const BYTE*>(end) - data) + 1;
    }
    if (sdpStart >= length) {
        return Reject(L"Received invalid SAP message - ignoring (empty payload)");
    }
    bool utf8 = true;
    message.m_SDP =
        DecodeReceivedText(reinterpret_cast<const char*>(data + sdpStart), length - sdpStart, utf8);
    message.m_SdpUtf8 = utf8 ? TRUE : FALSE;

    CParsedSdp sdp = ParseSdpLines(message.m_SDP);
    message.m_Name = GetSdpSessionName(sdp);
    message.m_OriginLine = GetSdpOriginLine(sdp);
    message.m_ConnectionAddress = GetSdpConnectionAddress(sdp);
    // The origin line is the key of a stream; a deletion needs nothing else (RFC 2974 sends it alone).
    if (message.m_IsDeletion && message.m_OriginLine.IsEmpty()) {
        return Reject(L"Received invalid SAP message - ignoring (deletion without o=)");
    }
    if (!message.m_IsDeletion && (message.m_Name.IsEmpty() || message.m_OriginLine.IsEmpty())) {
        return Reject(L"Received invalid SAP message - ignoring (announcement without s= or o=)");
    }
    message.m_Result = CSapMessage::Accepted;
    return message;
}
