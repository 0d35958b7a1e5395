// Session description (SDP) text helpers.
//
// The gateway never interprets an SDP as a whole: it cuts the text into trimmed lines and reads the
// few values it needs from them (name, origin, session id, connection and source addresses). Before
// a SAP announcement it can rewrite an SDP into a fixed order with one media section. All prefix
// tests are case-sensitive ("O=" is not "o="); only the "IN IP4" test of the connection line
// ignores case. Tokens are the pieces of a value between blanks (tabs are not separators).
#pragma once

#include "foundation/MfxString.h"

#include <vector>

// An SDP text and its lines in text order. CR and LF each end a line, empty lines vanish, and each
// line has lost its leading and trailing blanks, CRs and LFs (a line of blanks only stays, empty).
struct CParsedSdp
{
    CMfxString m_Text;
    std::vector<CMfxString> m_Lines;
};

CParsedSdp ParseSdpLines(CMfxString text);
void ClearStringVector(CParsedSdp& sdp);

// Index of the first line that begins with the prefix, or -1.
int FindSdpLine(const CParsedSdp& sdp, const CMfxString& prefix);

// The value (the line without its two prefix characters) of the first "o=" line; empty without one.
CMfxString GetSdpOriginLine(const CParsedSdp& sdp);
// The value of the first "s=" line; empty without one.
CMfxString GetSdpSessionName(const CParsedSdp& sdp);
// From the first "c=" line (session or media level): the text after "IN IP4" (any case), trimmed;
// a TTL suffix stays. Empty when that line has no "IN IP4" or there is no "c=" line.
CMfxString GetSdpConnectionAddress(const CParsedSdp& sdp);
// Token 2 of the "o=" value; empty with fewer tokens.
CMfxString GetSdpSessionId(const CParsedSdp& sdp);
// Token 6 of the "o=" value when tokens 4 and 5 are exactly "IN" and "IP4"; otherwise empty.
CMfxString GetSdpOriginAddress(const CParsedSdp& sdp);
// The first line of the first media section (from the first "m=" line up to the second) that
// begins with the prefix, without the prefix; empty when there is none.
CMfxString GetSdpLineValue(const CParsedSdp& sdp, const CMfxString& prefix);
// The first source address of the first media section's "a=source-filter:" line, when its tokens
// begin with exactly "incl", "IN", "IP4" and it has at least five; otherwise empty. A source filter
// at session level is not used.
CMfxString GetSdpSourceFilterAddress(const CParsedSdp& sdp);

// The SDP rewritten for a SAP announcement, every line ended by CR LF: first the first "v=", "o=",
// "s=", "c=", "t=", "m=" and "i=" lines found anywhere, in that order; then, in text order, the
// session's "a=" lines after "s=" and the other lines of the first media section except v, o, s, c
// and t lines. Everything else (other session lines, later media sections) is dropped.
CMfxString NormalizeSdp(const CParsedSdp& sdp);
