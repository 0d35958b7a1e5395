// SAP packets (Session Announcement Protocol, RFC 2974) as the gateway sends and reads them.
//
// Sent packet for one stream, one datagram: flags (0x20 announcement, 0x24 deletion), an
// authentication length of 0, the 16-bit message identifier hash low byte first, the IPv4
// originating source in network order, the payload type "application/sdp" with its zero byte, and
// the SDP (as UTF-8, or as the bytes it came in) without a terminating zero. The deletion is the
// same packet with the T bit set.
#pragma once

#include "afx/afxplatform.h"
#include "foundation/MfxString.h"

#include <vector>

const wchar_t* const kSapGroupAddress = L"239.255.255.255";
const UINT kSapPort = 9875;

// Bits of the first byte.
const BYTE kSapFlagVersion1 = 0x20;
const BYTE kSapFlagIPv6 = 0x10;
const BYTE kSapFlagDeletion = 0x04;
const BYTE kSapFlagEncrypted = 0x02;
const BYTE kSapFlagCompressed = 0x01;

// The message identifier hash of a session id: the low 16 bits of the id read as a signed 64-bit
// decimal number (leading white space, optional sign, digits; 0 without digits; out-of-range values
// clamped). When that is 0 or 0xFFFF, (random() mod 65535) + 1 instead.
WORD SapMessageHash(const CMfxString& sessionId, int (*random)());

// The announcement packet (T clear) for an SDP. The payload is the SDP itself, or its normalised
// form when normalize is set. The originating source is the first non-empty text of: the first
// media section's source-filter address, the origin address, interfaceIP; all three empty gives
// 0.0.0.0, a text that is no dotted IPv4 address 255.255.255.255.
// The payload goes as UTF-8, or in the ANSI code page when utf8 is false.
std::vector<BYTE> BuildSapPacket(const CMfxString& sdp, BOOL normalize, const CMfxString& interfaceIP,
                                 int (*random)(), bool utf8 = true);

// What the gateway makes of one received datagram.
struct CSapMessage
{
    enum EResult
    {
        Accepted,
        Rejected // a malformed or unsupported datagram; m_Rejection is its red line
    };

    EResult m_Result = Rejected;
    CMfxString m_Rejection;
    BOOL m_IsDeletion = FALSE;
    CMfxString m_SDP;
    BOOL m_SdpUtf8 = TRUE; // the SDP bytes were UTF-8 (else read in the ANSI code page)
    CMfxString m_Name;
    CMfxString m_OriginLine;
    CMfxString m_ConnectionAddress;
};

// Applies the acceptance rules to `length` bytes at `data`: at least 8 bytes, neither encrypted nor
// compressed, an IPv4 origin; the payload follows the authentication data (which must end inside the
// datagram) and, unless it begins with "v" or "o=", a payload type text ended by a zero byte; the SDP
// (UTF-8 when valid, else the ANSI code page) runs to the datagram's end, is not empty, and holds the
// origin ("o="), which is all a deletion needs; an announcement also names the stream ("s="). Every
// refusal has its own line. Only bytes inside the datagram are read.
CSapMessage ReadSapPacket(const BYTE* data, int length);
