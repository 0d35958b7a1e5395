#include "ui/StreamRules.h"

#include "res/resource.h"

namespace StreamRules {

const wchar_t* const kIncompleteStreamText =
    L"Cannot add empty stream (missing SDP or name or multicast address inside SDP";

namespace {

const CMfxString kMarkWaiting = L"W";
const CMfxString kMarkAnnounced = L"A";

bool SdpIsYoung(const StreamFacts& stream, ULONGLONG now)
{
    return static_cast<LONGLONG>(now - stream.sdpTime) < static_cast<LONGLONG>(kWaitMilliSec);
}

CMfxString Mark(bool announced)
{
    return announced ? kMarkAnnounced : CMfxString();
}

} // namespace

const std::vector<ColumnSpec>& Columns(ListId list)
{
    static const std::vector<ColumnSpec> corvane = {{IDS_COLUMN_STREAMNAME, 80},
                                                    {IDS_COLUMN_ORIGIN, 80},
                                                    {IDS_COLUMN_MULTICAST, 90},
                                                    {IDS_COLUMN_SAP, 35},
                                                    {IDS_COLUMN_RTSP, 200}};
    static const std::vector<ColumnSpec> sap = {{IDS_COLUMN_STREAMNAME, 80},
                                                {IDS_COLUMN_ORIGIN, 80},
                                                {IDS_COLUMN_MULTICAST, 90},
                                                {IDS_COLUMN_COR, 35}};
    static const std::vector<ColumnSpec> local = {{IDS_COLUMN_STREAMNAME, 80},
                                                  {IDS_COLUMN_MULTICAST, 90},
                                                  {IDS_COLUMN_SOURCE, 50},
                                                  {IDS_COLUMN_COR, 35},
                                                  {IDS_COLUMN_SAP, 35}};
    static const std::vector<ColumnSpec> none;
    switch (list) {
    case kListCorvane:
        return corvane;
    case kListSap:
        return sap;
    case kListLocal:
        return local;
    default:
        return none;
    }
}

ButtonStates EnabledButtons(const AutoSwitches& autoSwitches)
{
    ButtonStates states;
    states.corvaneSap = !autoSwitches.corvaneSap;
    states.localCorvane = !autoSwitches.local && !autoSwitches.localCorvane;
    states.localSap = !autoSwitches.local && !autoSwitches.localSap;
    return states;
}

ListId ListOf(const StreamFacts& stream)
{
    if (stream.kind == kKindBonjour)
        return kListCorvane;
    if (stream.kind == kKindSAP)
        return kListSap;
    if (stream.kind == kKindRTSP || stream.kind == kKindSDP)
        return kListLocal;
    return kListNone;
}

bool IsListed(const StreamFacts& stream, ULONGLONG now)
{
    switch (ListOf(stream)) {
    case kListCorvane:
        return stream.hasRecord;
    case kListSap:
        return stream.lastSAPAnnounce != 0 && stream.lastSAPAnnounce + kSAPAliveMilliSec > now;
    case kListLocal:
        return true;
    default:
        return false;
    }
}

bool IsComplete(const StreamFacts& stream)
{
    return !stream.sdp.IsEmpty() && !stream.name.IsEmpty() && !stream.connectionAddress.IsEmpty();
}

RowPlan PlanRow(const StreamFacts& stream, ULONGLONG now, const AutoSwitches& autoSwitches)
{
    RowPlan row;
    row.list = ListOf(stream);
    row.key = stream.key;
    CMfxString mark;
    switch (row.list) {
    case kListCorvane:
        if (SdpIsYoung(stream, now)) {
            mark = kMarkWaiting;
            row.enabled = false;
        }
        if (stream.twinBonjourRegistered) {
            // This gateway's own republication of another stream, found back.
            mark.Empty();
            row.enabled = false;
        } else if (stream.hasTwinSAP) {
            // Announced by SAP already: by this gateway ("A") or by someone else (grey).
            row.enabled = false;
            if (stream.twinOfTwinSAPActive && stream.sapWanted) {
                mark = kMarkAnnounced;
                row.enabled = true;
            }
        }
        if (autoSwitches.corvaneSap && row.enabled && !stream.sapWanted)
            row.autoActions |= kAutoSapOn;
        row.cells = {stream.recordName, stream.originAddress, stream.connectionAddress, mark,
                     stream.recordURL};
        break;
    case kListSap:
        if (SdpIsYoung(stream, now)) {
            mark = kMarkWaiting;
            row.enabled = false;
        }
        if (stream.twinSAPActive) {
            // This gateway's own announcement, heard back.
            mark.Empty();
            row.enabled = false;
        } else if (stream.hasTwinBonjour) {
            row.enabled = false;
            if (stream.twinOfTwinBonjourRegistered && stream.bonjourWanted) {
                mark = kMarkAnnounced;
                row.enabled = true;
            }
        }
        if (autoSwitches.corvaneSap && row.enabled && !stream.bonjourWanted)
            row.autoActions |= kAutoBonjourOn;
        row.cells = {stream.name, stream.originAddress, stream.connectionAddress, mark};
        break;
    case kListLocal:
        if (IsComplete(stream)) {
            if ((autoSwitches.local || autoSwitches.localCorvane) && !stream.bonjourWanted)
                row.autoActions |= kAutoBonjourOn;
            if ((autoSwitches.local || autoSwitches.localSap) && !stream.sapWanted)
                row.autoActions |= kAutoSapOn;
        }
        row.cells = {stream.name, stream.connectionAddress,
                     stream.kind == kKindSDP ? CMfxString(L"SDP") : stream.url, Mark(stream.bonjourWanted),
                     Mark(stream.sapWanted)};
        break;
    default:
        break;
    }
    // Names and URLs come from the network: their control characters are shown, never drawn raw.
    for (CMfxString& cell : row.cells)
        cell = cell.VisibleControls();
    return row;
}

ListId ListOf(Command command)
{
    switch (command) {
    case kCorvaneToSap:
    case kCorvaneSapOff:
        return kListCorvane;
    case kSapToCorvane:
    case kSapCorvaneOff:
        return kListSap;
    default:
        return kListLocal;
    }
}

CommandAction ActionFor(Command command, const StreamFacts& stream)
{
    const bool sapOnAllowed = !stream.sapWanted && !stream.hasTwinSAP;
    const bool bonjourOnAllowed = !stream.bonjourWanted && !stream.hasTwinBonjour;
    switch (command) {
    case kCorvaneToSap:
        return sapOnAllowed ? kSapOn : kSkip;
    case kCorvaneSapOff:
    case kLocalSapRemove:
        return stream.sapWanted ? kSapOff : kSkip;
    case kSapToCorvane:
        return bonjourOnAllowed ? kBonjourOn : kSkip;
    case kSapCorvaneOff:
    case kLocalCorvaneRemove:
        return stream.bonjourWanted ? kBonjourOff : kSkip;
    case kLocalCorvaneAdd:
        return !bonjourOnAllowed ? kSkip : IsComplete(stream) ? kBonjourOn : kIncomplete;
    case kLocalSapAdd:
        return !sapOnAllowed ? kSkip : IsComplete(stream) ? kSapOn : kIncomplete;
    case kLocalRemove:
        return kRemove;
    }
    return kSkip;
}

SdpView ViewOf(const StreamFacts& stream)
{
    SdpView view;
    if (!stream.sdp.IsEmpty())
        view.text = stream.sdp;
    else
        view.text.Format(L"No SDP available for %s", stream.name.GetString());
    view.editable = MayChangeSDP(stream);
    return view;
}

bool MayChangeSDP(const StreamFacts& stream)
{
    return stream.kind == kKindSDP && !stream.bonjourWanted && !stream.sapWanted;
}

} // namespace StreamRules
