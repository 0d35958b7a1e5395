// CWindowPlacement: a window's placement as the text kept in the settings file, and back.
//
// The text holds the ten values of a WINDOWPLACEMENT in the order flags, show command, minimized
// position x and y, maximized position x and y, normal rectangle left, top, right and bottom,
// written with "%u,%u,%d,%d,%d,%d,%d,%d,%d,%d". Only a text with all ten values is taken.
#pragma once

#include "foundation/MfxString.h"

#include <windows.h>

class CWindowPlacement
{
public:
    CWindowPlacement();
    virtual ~CWindowPlacement();

    // The placement text; an invalid placement gives the empty text.
    CMfxString ToString() const;
    // Parses a placement text. Valid only when all ten values were read; a text with fewer values
    // leaves the stored placement as it was and makes it invalid.
    BOOL FromString(CMfxString text);

    // Takes the window's current placement, flags 0, plus the restore-to-maximized flag when the
    // window is maximized. FALSE (the placement unchanged) when the window gives none.
    BOOL ReadFromWindow(HWND hWnd);
    // Applies a valid placement to the window. A show command that would leave the window hidden
    // (0) or that is no show command at all brings it up as a normal window instead, and a normal
    // rectangle that is not well-formed or does not meet the work area is not applied at all (the
    // window keeps its default place), so the program never starts invisible. FALSE when invalid,
    // unusable or when the window refuses it.
    BOOL ApplyToWindow(HWND hWnd) const;
    // Whether a normal rectangle can be shown: left < right and top < bottom, no side longer than
    // a window can be, and at least kMinVisible pixels each way (or the whole rectangle, when
    // smaller) inside the work area.
    static BOOL IsUsableRect(const RECT& rect, const RECT& workArea);
    static const int kMinVisible = 32;

    BOOL IsValid() const { return m_Valid; }
    const WINDOWPLACEMENT& GetPlacement() const { return m_Placement; }
    void SetPlacement(const WINDOWPLACEMENT& placement);

    // The show command used when applying a stored one.
    static UINT VisibleShowCommand(UINT showCommand);

private:
    BOOL m_Valid;
    WINDOWPLACEMENT m_Placement;
};
