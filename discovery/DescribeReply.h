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

    // True for a complete success reply carrying a session description: its status code is 200,
    // its header names application/sdp, the blank line ending the header has arrived and, when the
    // header gives a Content-Length, that many body bytes have arrived. Without a Content-Length the
    // body runs until the connection ends, so such a reply counts as complete only when
    // `connectionEnded` is true. A reply that grew too long is never accepted.
    bool IsAccepted(bool connectionEnded) const;

private:
    std::string m_Bytes;
    bool m_TooLong = false;
};

// The session description inside a reply: the text from the first line that begins with "v=" (in
// any case) after the first "application/sdp" (in any case). Empty when there is none.
CMfxString CutSDPFromReply(const CMfxString& reply);

} // namespace Corvane
