// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QFont>
#include <QList>
#include <QRect>

class QWidget;

// Fits the main window's layout, designed for a 1024 x 768 screen, to the screen's work area.
// Runs once at creation; the arithmetic is plain so that any work area can be tried.
namespace scaling {

struct Factors
{
    double fx; // W * (1/1024)
    double fy; // H * (1/768)
    double s;  // the smaller of fx and fy
    enum Pass { None, Shrink, Grow } pass;
};

// Shrink when either axis is below the design size, grow when both exceed it, otherwise none.
Factors factorsFor(int workWidth, int workHeight);

// The bounds a control designed at `design` gets in the chosen pass: each value times its
// factor (fx/fy when shrinking, s for both axes when growing), truncated toward zero.
QRect scaledBounds(const QRect &design, const Factors &f);

// Moves and resizes every control of `designOrder` (bounds relative to its parent), in order,
// and applies the font rule to the exact label, edit and combo-box classes. A control that
// fails is left as it is and the others are still handled. Pass the controls, not the window.
void scaleWindow(const QList<QWidget *> &designOrder, int workWidth, int workHeight);

// What the shrink pass gives labels, edits and combo boxes: "Small Fonts" at 7 points, which
// stands for the same narrow look-alike as the design's Tahoma.
QFont smallFont();

// Makes the design's Windows fonts, Tahoma and Small Fonts, resolve to a narrow look-alike.
void registerFontStandIns();

// After a pass, a button's picture larger than the room inside the button shrinks to that room.
// Then check boxes and captioned push buttons that no longer hold their caption (or a check box
// its indicator) grow to hold it: to the right, up to the next control on their band, and in
// height about their centre. A control that fits is left as scaled.
void keepCaptionsWhole(const QList<QWidget *> &designOrder);

} // namespace scaling
