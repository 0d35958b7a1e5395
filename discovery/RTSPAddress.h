// RTSP URLs: telling them apart and cutting them into their parts.
#pragma once

#include "foundation/MfxString.h"

namespace Corvane {

// True when the text begins with "rtsp://" in any case.
bool IsRTSPURL(CMfxString text);

// Splits "rtsp://[user[:password]@]host[:port][rest]": the host runs up to ":" or "/" and has at
// most 99 characters, the port is 1 to 65535 (554 when the URL names none) and rest is everything
// behind host and port, always a tail of the URL. User and password are set only when the URL
// holds an "@" before its first "/"; the caller's values stay otherwise. Parts found before a
// failure keep their new values.
// Returns null on success, else why the URL was refused ("URL is too long", ...).
const wchar_t* SplitRTSPAddress(const CMfxString& url, CMfxString& user, CMfxString& password,
                                CMfxString& host, unsigned short& port, CMfxString& rest);

} // namespace Corvane
