// The rules of the main dialog's three stream lists, without any window: which list shows a stream,
// the texts, marks and grey state of its row, what the AUTO switches switch on, which buttons the
// AUTO switches leave enabled, and what each button does to a selected stream.
//
// They work on StreamFacts, the few values of one stream that the dialog reads under the
// stream-table lock, so that they can be checked against any stream table.
#pragma once

#include "foundation/MfxString.h"
#include "gateway/VelmoraStream.h"

#include <windows.h>

#include <vector>

// What the dialog reads of one stream (and of its twins).
struct StreamFacts
{
    DWORD key = 0; // the stream's serial number: the key of its list row
    DWORD kind = 0;
    CMfxString name;
    CMfxString url;
    CMfxString sdp;
    CMfxString connectionAddress;
    CMfxString originAddress;
    bool hasRecord = false; // found by DNS-SD and still listed by discovery
    CMfxString recordName;  // the discovery record's instance name
    CMfxString recordURL;   // the discovery record's RTSP URL, escapes decoded
    ULONGLONG sdpTime = 0;
    ULONGLONG lastSAPAnnounce = 0;
    bool sapWanted = false;
    bool bonjourWanted = false;
    // A found stream: its twin heard by SAP, and whether that twin is this gateway's own announcement
    // heard back; whether a republication of this gateway matches it.
    bool hasTwinSAP = false;
    bool twinOfTwinSAPActive = false;
    bool twinBonjourRegistered = false;
    // A heard stream: its twin found by DNS-SD, and whether that twin is this gateway's own
    // republication found back; whether an announcement of this gateway matches it.
    bool hasTwinBonjour = false;
    bool twinOfTwinBonjourRegistered = false;
    bool twinSAPActive = false;
};

namespace StreamRules {

// Stream kinds (one bit per stream).
const DWORD kKindBonjour = CVelmoraStream::kKindBonjour;
const DWORD kKindRTSP = CVelmoraStream::kKindRTSP;
const DWORD kKindSDP = CVelmoraStream::kKindSDP;
const DWORD kKindSAP = CVelmoraStream::kKindSAP;
// A stream whose SDP is younger than this is marked "W" and waits.
const ULONGLONG kWaitMilliSec = CVelmoraStream::kSdpAgeMilliSec;
// A heard stream is listed while its last announcement is younger than this.
const ULONGLONG kSAPAliveMilliSec = CVelmoraStream::kSAPAliveMilliSec;

extern const wchar_t* const kIncompleteStreamText;

enum ListId
{
    kListNone = -1,
    kListCorvane = 0,
    kListSap = 1,
    kListLocal = 2,
    kListCount = 3
};

// The columns of a list, in order: string id of the heading (cells are addressed by it) and width.
struct ColumnSpec
{
    UINT stringId;
    int width;
};
const std::vector<ColumnSpec>& Columns(ListId list);

// The four AUTO switches: 1014 (CORVANE and SAP), 1020 (LOCAL, both ways), 1021 (LOCAL to CORVANE),
// 1027 (LOCAL to SAP).
struct AutoSwitches
{
    bool corvaneSap = false;
    bool local = false;
    bool localCorvane = false;
    bool localSap = false;
};

// Which manual buttons the AUTO switches leave enabled.
struct ButtonStates
{
    bool corvaneSap = true;   // 1015, 1016, 1017, 1018
    bool localCorvane = true; // 1025, 1026
    bool localSap = true;     // 1029, 1030
};
ButtonStates EnabledButtons(const AutoSwitches& autoSwitches);

// What AUTO switches on for a row (bits).
enum AutoAction
{
    kAutoNone = 0,
    kAutoSapOn = 1,
    kAutoBonjourOn = 2
};

struct RowPlan
{
    ListId list = kListNone;
    DWORD key = 0;
    std::vector<CMfxString> cells; // in the list's column order
    bool enabled = true;
    int autoActions = kAutoNone;
};

// The list of the stream's kind (none for an unknown kind).
ListId ListOf(const StreamFacts& stream);
// Whether the stream passes its list's test now: a found stream while discovery lists it, a heard
// stream while it is alive, the operator's streams always. A row of a stream that fails it keeps its
// last texts until the stream leaves the table.
bool IsListed(const StreamFacts& stream, ULONGLONG now);
// The stream has an SDP, a name and a connection address.
bool IsComplete(const StreamFacts& stream);
// Texts, mark, grey state and AUTO actions of a listed stream's row.
RowPlan PlanRow(const StreamFacts& stream, ULONGLONG now, const AutoSwitches& autoSwitches);

// The buttons that act on the selected rows of a list.
enum Command
{
    kCorvaneToSap,       // 1015 ">"
    kCorvaneSapOff,      // 1016 "x"
    kSapToCorvane,       // 1017 "<"
    kSapCorvaneOff,      // 1018 "x"
    kLocalCorvaneAdd,    // 1025 "+"
    kLocalCorvaneRemove, // 1026 "x"
    kLocalSapAdd,        // 1029 "+"
    kLocalSapRemove,     // 1030 "x"
    kLocalRemove         // 1019 "x"
};
ListId ListOf(Command command);

enum CommandAction
{
    kSkip,       // the stream does not meet the button's condition
    kIncomplete, // refused with the red log line: no SDP, name or connection address
    kSapOn,
    kSapOff,
    kBonjourOn, // with the RTSP wish when it was switched on
    kBonjourOff,
    kRemove
};
CommandAction ActionFor(Command command, const StreamFacts& stream);

// Viewing a stream's SDP (double-click): the text shown, and whether it may be edited.
struct SdpView
{
    CMfxString text;
    bool editable = false;
};
SdpView ViewOf(const StreamFacts& stream);
// An edited SDP is taken only while the stream is still an editable SDP-text stream.
bool MayChangeSDP(const StreamFacts& stream);

} // namespace StreamRules
