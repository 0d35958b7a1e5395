#include "ui/WindowPlacement.h"

#include <algorithm>
#include <cwchar>

namespace {

const wchar_t kPlacementFormat[] = L"%u,%u,%d,%d,%d,%d,%d,%d,%d,%d";

WINDOWPLACEMENT EmptyPlacement()
{
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(WINDOWPLACEMENT);
    return placement;
}

} // namespace

CWindowPlacement::CWindowPlacement() : m_Valid(FALSE), m_Placement(EmptyPlacement()) {}

CWindowPlacement::~CWindowPlacement() = default;

CMfxString CWindowPlacement::ToString() const
{
    CMfxString text;
    if (!m_Valid)
        return text;
    const WINDOWPLACEMENT& p = m_Placement;
    text.Format(kPlacementFormat, p.flags, p.showCmd, static_cast<int>(p.ptMinPosition.x),
                static_cast<int>(p.ptMinPosition.y), static_cast<int>(p.ptMaxPosition.x),
                static_cast<int>(p.ptMaxPosition.y), static_cast<int>(p.rcNormalPosition.left),
                static_cast<int>(p.rcNormalPosition.top), static_cast<int>(p.rcNormalPosition.right),
                static_cast<int>(p.rcNormalPosition.bottom));
    return text;
}

BOOL CWindowPlacement::FromString(CMfxString text)
{
    m_Valid = FALSE;
    if (text.IsEmpty())
        return FALSE;
    unsigned int flags = 0, showCmd = 0;
    int v[8] = {};
    int read = std::swscanf(text.GetString(), kPlacementFormat, &flags, &showCmd, &v[0], &v[1], &v[2], &v[3],
                            &v[4], &v[5], &v[6], &v[7]);
    if (read != 10)
        return FALSE;
    WINDOWPLACEMENT placement = EmptyPlacement();
    placement.flags = flags;
    placement.showCmd = showCmd;
    placement.ptMinPosition = {v[0], v[1]};
    placement.ptMaxPosition = {v[2], v[3]};
    placement.rcNormalPosition = {v[4], v[5], v[6], v[7]};
    m_Placement = placement;
    m_Valid = TRUE;
    return TRUE;
}

BOOL CWindowPlacement::ReadFromWindow(HWND hWnd)
{
    WINDOWPLACEMENT placement = EmptyPlacement();
    if (hWnd == nullptr || !::GetWindowPlacement(hWnd, &placement))
        return FALSE;
    placement.flags = 0;
    if (::IsZoomed(hWnd))
        placement.flags |= WPF_RESTORETOMAXIMIZED;
    SetPlacement(placement);
    return TRUE;
}

BOOL CWindowPlacement::ApplyToWindow(HWND hWnd) const
{
    if (!m_Valid || hWnd == nullptr)
        return FALSE;
    WINDOWPLACEMENT placement = m_Placement;
    // The work area of the monitor nearest to the rectangle (the primary one when none is near).
    RECT workArea = {};
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    HMONITOR nearest = ::MonitorFromRect(&placement.rcNormalPosition, MONITOR_DEFAULTTOPRIMARY);
    if (nearest != nullptr && ::GetMonitorInfoW(nearest, &monitor)) {
        workArea = monitor.rcWork;
    } else if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0)) {
        return FALSE;
    }
    if (!IsUsableRect(placement.rcNormalPosition, workArea))
        return FALSE;
    placement.length = sizeof(WINDOWPLACEMENT);
    placement.showCmd = VisibleShowCommand(placement.showCmd);
    return ::SetWindowPlacement(hWnd, &placement);
}

void CWindowPlacement::SetPlacement(const WINDOWPLACEMENT& placement)
{
    m_Placement = placement;
    m_Placement.length = sizeof(WINDOWPLACEMENT);
    m_Valid = TRUE;
}

BOOL CWindowPlacement::IsUsableRect(const RECT& rect, const RECT& workArea)
{
    const long long kMaxSide = 32767;
    const long long width = static_cast<long long>(rect.right) - rect.left;
    const long long height = static_cast<long long>(rect.bottom) - rect.top;
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return FALSE;
    const long long overlapX =
        static_cast<long long>(std::min(rect.right, workArea.right)) - std::max(rect.left, workArea.left);
    const long long overlapY =
        static_cast<long long>(std::min(rect.bottom, workArea.bottom)) - std::max(rect.top, workArea.top);
    return overlapX >= std::min<long long>(kMinVisible, width) &&
                   overlapY >= std::min<long long>(kMinVisible, height)
               ? TRUE
               : FALSE;
}

UINT CWindowPlacement::VisibleShowCommand(UINT showCommand)
{
    return showCommand == SW_HIDE || showCommand > SW_MAX ? SW_SHOWNORMAL : showCommand;
}
