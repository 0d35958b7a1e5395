#include "ui/DialogLayout.h"

namespace DialogLayout {

std::vector<Step> Steps(int dW, int dH)
{
    const double third = dW / 3.0;
    const double twoThirds = (dW + dW) / 3.0;
    std::vector<Step> steps = {
        {IDC_LIST_CORVANE, 0, 0, third, static_cast<double>(dH)},
        {IDC_LIST_SAP, 0, 0, third, static_cast<double>(dH)},
        {IDC_LIST_SAP, third, 0, 0, 0},
        {IDC_LIST_LOCAL, 0, 0, third, static_cast<double>(dH)},
        {IDC_LIST_LOCAL, twoThirds, 0, 0, 0},
    };
    for (int id : {IDC_AUTO_CORVANE_SAP, IDC_CORVANE_TO_SAP, IDC_CORVANE_SAP_OFF, IDC_SAP_TO_CORVANE,
                   IDC_SAP_CORVANE_OFF, IDC_HEADING_SAP})
        steps.push_back({id, third, 0, 0, 0});
    for (int id : {IDC_AUTO_LOCAL, IDC_LABEL_LOCAL_CORVANE, IDC_AUTO_LOCAL_CORVANE, IDC_LOCAL_CORVANE_ADD,
                   IDC_LOCAL_CORVANE_REMOVE, IDC_LABEL_LOCAL_SAP, IDC_AUTO_LOCAL_SAP, IDC_LOCAL_SAP_ADD,
                   IDC_LOCAL_SAP_REMOVE, IDC_HEADING_LOCAL, IDC_ADD_RTSP, IDC_ADD_SDP, IDC_LOCAL_REMOVE})
        steps.push_back({id, twoThirds, 0, 0, 0});
    for (int id : {static_cast<int>(IDC_LOG_PLACEHOLDER), kLogPane}) {
        steps.push_back({id, 0, static_cast<double>(dH), 0, 0});
        steps.push_back({id, 0, 0, static_cast<double>(dW), 0});
    }
    return steps;
}

RECT KeepTextWhole(const RECT& place, SIZE text)
{
    RECT whole = place;
    const LONG missingWidth = text.cx - (place.right - place.left);
    if (missingWidth > 0) {
        whole.left -= missingWidth / 2;
        whole.right += missingWidth - missingWidth / 2;
    }
    const LONG missingHeight = text.cy - (place.bottom - place.top);
    if (missingHeight > 0) {
        whole.top -= missingHeight / 2;
        whole.bottom += missingHeight - missingHeight / 2;
    }
    return whole;
}

} // namespace DialogLayout

void CLayoutRecords::Scale(Record& record) const
{
    record.left = record.first.left * m_ScaleX;
    record.right = record.first.right * m_ScaleX;
    record.top = record.first.top * m_ScaleY;
    record.bottom = record.first.bottom * m_ScaleY;
}

void CLayoutRecords::BeginPass(double scaleX, double scaleY)
{
    m_ScaleX = scaleX;
    m_ScaleY = scaleY;
    for (auto& entry : m_Records)
        Scale(entry.second);
}

BOOL CLayoutRecords::Apply(UINT_PTR key, const RECT& current, double moveX, double moveY, double growWidth,
                           double growHeight, RECT& moveTo)
{
    auto found = m_Records.find(key);
    if (found == m_Records.end()) {
        found = m_Records.emplace(key, Record{0, 0, 0, 0, current}).first;
        Scale(found->second);
    }
    Record& record = found->second;
    record.left += moveX;
    record.top += moveY;
    record.right += moveX + growWidth;
    record.bottom += moveY + growHeight;
    moveTo.left = static_cast<LONG>(record.left);
    moveTo.top = static_cast<LONG>(record.top);
    moveTo.right = static_cast<LONG>(record.right);
    moveTo.bottom = static_cast<LONG>(record.bottom);
    return moveTo.right - moveTo.left > 0 && moveTo.bottom - moveTo.top > 0;
}
