// CListCtrlEx: a report list control whose own messages, notifications and header notifications
// are handled by its CListBase part (hidden, movable and sortable columns, owner-drawn rows).
#pragma once

#include "ui/ListBase.h"

class CListCtrlEx : public CListCtrl, public CListBase
{
public:
    CListCtrlEx();
    // Destroys the window while the object is still whole, so that its rows are freed.
    ~CListCtrlEx() override;

    // A menu command whose id is a logical column shows or hides that column (the header menu).
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    // Header notifications go to the CListBase part, which lets the control handle them first.
    BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
    void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct) override;

protected:
    // The window-message handlers are the CListBase part's.
    using CListBase::OnContextMenu;
    using CListBase::OnDestroy;
    using CListBase::OnEraseBkgnd;
    using CListBase::OnHScroll;
    using CListBase::OnKeyDown;
    using CListBase::OnKeyUp;
    using CListBase::OnKillFocus;
    using CListBase::OnLButtonDblClk;
    using CListBase::OnLButtonDown;
    using CListBase::OnLButtonUp;
    using CListBase::OnMouseMove;
    using CListBase::OnSetFocus;
    using CListBase::OnSysColorChange;

    DECLARE_MESSAGE_MAP()
};
