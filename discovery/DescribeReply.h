// The reply to an RTSP "DESCRIBE": collected as bytes, judged complete or not, and the session
// description cut out of it.
#pragma once

#include "foundation/MfxString.h"

#include <string>

namespace Corvane {

class CDescribeReply
{
public:
    // A reply longer than this is refused: its further bytes are dropped.
    static constexpr int kMaxBytes = 1024 * 1024;

    void Clear();
    // Appends received bytes; once the reply would pass kMaxBytes it is cut there and marked too long.
    void Append(const char* data, int count);
    // Replaces the reply by the text in the ANSI code page.
    void SetText(CMfxString text);

    bool IsTooLong() const { return m_TooLong; }
    int GetSize() const { return static_cast<int>(m_Bytes.size()); }
    // The whole reply converted from the ANSI code page (up to its first NUL byte).
    CMfxString GetText() const;

    // True for a complete success reply carrying a session description: the status line is
    // "RTSP/1.0 200", a Content-Type header's value is application/sdp (any case, parameters after a
    // ";" allowed), the blank line ending the header has arrived and, when the header gives a
    // Content-Length, that many body bytes have arrived. Without a Content-Length the body runs until
    // the connection ends, so such a reply counts as complete only when `connectionEnded` is true; a
    // time limit never makes it complete. The reply holds no NUL byte and its description (GetSDP)
    // names the session with a non-empty "s=". A reply that grew too long is never accepted.
    bool IsAccepted(bool connectionEnded) const;
    // The session description of the body: from its first line that begins with "v=" (in any case)
    // to the end of the body (Content-Length bytes when given). Valid UTF-8 is read as UTF-8, other
    // bytes in the ANSI code page; `utf8` tells which. Empty when there is none.
    CMfxString GetSDP(bool& utf8) const;

private:
    std::string m_Bytes;
    bool m_TooLong = false;
};

} // namespace Corvane
