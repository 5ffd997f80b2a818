// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/Scaling.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>

#include "window/Controls.h"

namespace scaling {

namespace {

// Truncation toward zero, as the layout arithmetic requires (never rounding).
int scaled(int value, double factor)
{
    return static_cast<int>(value * factor);
}

// Exact classes only: buttons, check boxes and any subclass keep their font. The window's
// ComboBox is the design's plain combo box with a drop-down hook, so it counts as one.
bool takesFontRule(const QWidget *w)
{
    const QMetaObject *mo = w->metaObject();
    return mo == &QLabel::staticMetaObject || mo == &QLineEdit::staticMetaObject
        || mo == &QComboBox::staticMetaObject || mo == &ComboBox::staticMetaObject;
}

void scaleOne(QWidget *w, const Factors &f)
{
    w->setGeometry(scaledBounds(w->geometry(), f));
    if (!takesFontRule(w))
        return;
    // Only the name and size change: a bold or coloured field stays bold and coloured.
    QFont font = w->font();
    if (f.pass == Factors::Shrink) {
        const QFont small = smallFont();
        font.setFamilies(small.families());
        font.setStyleHint(small.styleHint());
        font.setPointSize(small.pointSize());
    } else {
        font.setPointSize(static_cast<int>(8 * f.s));
    }
    w->setFont(font);
}

} // namespace

Factors factorsFor(int workWidth, int workHeight)
{
    Factors f;
    f.fx = workWidth * (1 / 1024.0);
    f.fy = workHeight * (1 / 768.0);
    f.s = f.fx < f.fy ? f.fx : f.fy;
    if (f.fx < 1 || f.fy < 1)
        f.pass = Factors::Shrink;
    else if (f.s > 1)
        f.pass = Factors::Grow;
    else
        f.pass = Factors::None;
    return f;
}

QRect scaledBounds(const QRect &design, const Factors &f)
{
    double hx = 1, hy = 1;
    switch (f.pass) {
    case Factors::None:
        return design;
    case Factors::Shrink:
        hx = f.fx;
        hy = f.fy;
        break;
    case Factors::Grow:
        hx = hy = f.s;
        break;
    }
    const int width = scaled(design.width(), hx);
    const int height = scaled(design.height(), hy);
    const int left = scaled(design.left(), hx);
    const int top = scaled(design.top(), hy);
    return QRect(left, top, width, height);
}

void scaleWindow(const QList<QWidget *> &designOrder, int workWidth, int workHeight)
{
    const Factors f = factorsFor(workWidth, workHeight);
    if (f.pass == Factors::None)
        return;
    for (QWidget *w : designOrder) {
        if (!w)
            continue;
        try {
            scaleOne(w, f);
        } catch (...) {
            // One control refusing its new bounds must not keep the others unscaled.
        }
    }
}

QFont smallFont()
{
    QFont f(QStringLiteral("Sans Serif"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSize(7);
    return f;
}

} // namespace scaling
