// CLogTextEntry: a log-pane line written on another thread than the GUI thread, queued until the
// next tick shows it.
#pragma once

#include "afx/afxplatform.h"
#include "foundation/MfxString.h"

class CLogTextEntry
{
public:
    CLogTextEntry(CMfxString text, COLORREF colour) : m_Text(text), m_Colour(colour) {}
    CLogTextEntry(const CLogTextEntry&) = default;
    CLogTextEntry& operator=(const CLogTextEntry&) = default;
    virtual ~CLogTextEntry() = default;

    CMfxString m_Text; // the whole pane line, time stamp included
    COLORREF m_Colour;
};
