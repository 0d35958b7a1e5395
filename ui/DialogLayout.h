// The main dialog's resize layout, without any window.
//
// After a size change by dW x dH pixels the three lists share the extra width in thirds and take all
// extra height; the controls beside and above them move along; the log pane keeps its height, moves
// down and takes the whole extra width. Each control's place is kept exactly (as doubles) from its
// first layout on and only truncated to pixels when the control is moved, so thirds of pixels do not
// add up to drift over many small resizes.
#pragma once

#include <windows.h>

#include "res/resource.h"

#include <map>
#include <vector>

namespace DialogLayout {

// The log pane has no control id of its own; this stands for it in the steps.
const int kLogPane = -1;

struct Step
{
    int control; // control id, or kLogPane
    double moveX;
    double moveY;
    double growWidth;
    double growHeight;
};

// The moves of one layout pass, in order; a control may get more than one.
std::vector<Step> Steps(int dW, int dH);

// The small labels above the AUTO switches, each centred over its switch in the template.
const int kCentredLabels[] = {IDC_LABEL_LOCAL_CORVANE, IDC_LABEL_LOCAL_SAP};

// A label's place made at least as large as its text, grown evenly to both sides and both ways, so
// that a layout shrunk below the template's size never cuts off a letter; a place that holds the
// text already is kept as it is.
RECT KeepTextWhole(const RECT& place, SIZE text);

} // namespace DialogLayout

// The exact places of the laid-out controls, keyed by the caller (a window handle).
class CLayoutRecords
{
public:
    // Starts a pass that places every control afresh from its first place, its horizontal and vertical
    // coordinates first multiplied by the scales (below 1 where the window is smaller than the
    // template: a screen too small for it), then moved by the pass's steps.
    void BeginPass(double scaleX, double scaleY);
    // Moves the control's exact place (taken from `current`, its rectangle in client coordinates, on
    // its first layout) and gives its new pixel rectangle, truncated toward zero. FALSE when that
    // rectangle is empty (the control is then not to be moved).
    BOOL Apply(UINT_PTR key, const RECT& current, double moveX, double moveY, double growWidth,
               double growHeight, RECT& moveTo);

private:
    struct Record
    {
        double left, top, right, bottom;
        RECT first;
    };
    void Scale(Record& record) const;

    std::map<UINT_PTR, Record> m_Records;
    double m_ScaleX = 1.0;
    double m_ScaleY = 1.0;
};
