// The discovery side of the DSA engine: which rows of the engine's remote stream table the stream
// browser's once-a-second poll takes, copied whole under the engine table lock, and when a poll is
// due. The browser turns the copies into stream records (CStreamBrowser::PollDsa).
#pragma once

#include "afx/afxplatform.h"
#include "dsa_mdns/corvane_mdns.h"
#include "foundation/MfxString.h"

#include <vector>

namespace Corvane {

// One row that takes part, with what a record needs of it and of its node.
struct CDsaRow
{
    CMfxString name;     // converted from the ANSI code page
    DWORD engineKind;    // 3 Corvane session, 2 Zint session, 5 quill service
    int port;            // host order
    CMfxString hostName; // the node's name up to its first "."
    CMfxString hostIP;   // the node's address, dotted
};

// A row takes part for `device` (0 or 1) when it is in use, was found on that device, is of a kind
// the browser handles, and its node is in use and has an address.
bool DsaRowTakesPart(const corvane_remote_stream& row, int device);

// The rows that take part for `device`, in table order, read under the engine table lock.
std::vector<CDsaRow> CopyDsaRows(int device);

// A poll is due once more than 1000 ms have passed since the last one; a clock that went back is
// not due.
inline bool DsaPollDue(ULONGLONG now, ULONGLONG last)
{
    return now > last && now - last > 1000;
}

// The device name the browser writes into the engine's configuration: "Velmora (on NAME)" in the
// ANSI code page, at most 46 bytes.
void FillDsaDeviceName(char (&target)[CORVANE_TEXT_SIZE], const CMfxString& computerName);

} // namespace Corvane
