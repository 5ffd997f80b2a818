// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/Scaling.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionButton>
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

// How much wider (and, for a check box, higher) w must be to show its caption whole in the
// room its style leaves it.
QSize shortfall(QWidget *w)
{
    QStyleOptionButton option;
    option.initFrom(w);
    const QFontMetrics metrics(w->font());
    if (auto *box = qobject_cast<QCheckBox *>(w)) {
        option.text = box->text();
        const QRect room = w->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, w);
        const int high = std::max(w->style()->pixelMetric(QStyle::PM_IndicatorHeight, &option, w), metrics.height());
        return {metrics.horizontalAdvance(box->text()) - room.width(), high - w->height()};
    }
    auto *button = qobject_cast<QPushButton *>(w);
    if (!button || button->text().isEmpty())
        return {};
    option.text = button->text();
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    // The style leaves 4 pixels between a picture and the caption.
    const int picture = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
    const QRect room = w->style()->subElementRect(QStyle::SE_PushButtonContents, &option, w);
    return {metrics.horizontalAdvance(button->text()) + picture - room.width(), 0};
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

void keepCaptionsWhole(const QList<QWidget *> &designOrder)
{
    // A picture larger than the room inside its button's frame is cut on every side: it is
    // drawn smaller instead, before the captions are measured beside it.
    for (QWidget *w : designOrder) {
        auto *button = qobject_cast<QPushButton *>(w);
        if (!button || button->icon().isNull())
            continue;
        QStyleOptionButton option;
        option.initFrom(button);
        const QSize room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).size();
        if (!room.isEmpty() && room.expandedTo(button->iconSize()) != room)
            button->setIconSize(button->iconSize().scaled(room, Qt::KeepAspectRatio));
    }
    for (QWidget *w : designOrder) {
        const QSize missing = w ? shortfall(w) : QSize();
        if (missing.width() <= 0 && missing.height() <= 0)
            continue;
        QRect r = w->geometry();
        if (missing.height() > 0)
            r.adjust(0, -missing.height() / 2, 0, missing.height() - missing.height() / 2);
        if (missing.width() > 0) {
            // Never over the next control to the right on the same band.
            int limit = r.right() + 1 + missing.width();
            for (QWidget *other : designOrder) {
                const QRect o = other ? other->geometry() : QRect();
                if (other && other != w && other->parentWidget() == w->parentWidget() && o.left() > r.left()
                    && o.top() <= r.bottom() && o.bottom() >= r.top())
                    limit = std::min(limit, o.left());
            }
            r.setRight(std::max(r.right(), limit - 1));
        }
        w->setGeometry(r);
    }
}

void registerFontStandIns()
{
    // Tahoma and Small Fonts are rarely installed on Linux, and the wider look-alikes run past
    // the tightest boxes ("Date et heure envoi", the "Supr" caption, "Mot de passe Pop3" once
    // shrunk). Liberation Sans Narrow (fonts-liberation, which ./run and ./test install) keeps
    // every caption whole; the others stand in without it.
    static const bool done = [] {
        const QStringList standIns = {QStringLiteral("Liberation Sans Narrow"), QStringLiteral("DejaVu Sans Condensed"),
                                      QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")};
        QFont::insertSubstitutions(QStringLiteral("Tahoma"), standIns);
        QFont::insertSubstitutions(QStringLiteral("Small Fonts"), standIns);
        return true;
    }();
    Q_UNUSED(done);
}

QFont smallFont()
{
    registerFontStandIns();
    QFont f(QStringLiteral("Small Fonts"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSize(7);
    return f;
}

} // namespace scaling
