// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/PelicordeFS1.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextDocument>

#include "window/Icons.h"

TForm2 *Form2 = nullptr;

namespace {
QPushButton *glyphButton(QWidget *parent, const char *name, int left, const QPixmap &glyph, const QString &hint)
{
    auto *b = new QPushButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(left, 4, 25, 25);
    b->setIcon(glyph);
    b->setIconSize(QSize(19, 19));
    b->setToolTip(hint);
    b->setAccessibleName(hint);
    b->setAutoDefault(false);
    return b;
}
} // namespace

TForm2::TForm2(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint)
{
    if (!Form2)
        Form2 = this;
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Pelicorde : Liste noire"));
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    setFont(font);
    resize(728, 574);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setGeometry(rect());
    // TAB separates a pattern from its date: Tab moves on as in any window, and Ctrl+Tab types
    // the separator for whoever means to.
    Memo1->setTabChangesFocus(true);
    Memo1->installEventFilter(this);

    BitBtn1 = glyphButton(this, "BitBtn1", 656, icons::saveTick(), QStringLiteral("Sauvegarder et fermer"));
    BitBtn2 = glyphButton(this, "BitBtn2", 683, icons::redCross(), QStringLiteral("Fermer sans sauvegarder"));
    // Escape closes as the close button does: nothing is saved.
    BitBtn2->setShortcut(Qt::Key_Escape);
    QWidget::setTabOrder(Memo1, BitBtn1);
    QWidget::setTabOrder(BitBtn1, BitBtn2);

    connect(BitBtn1, &QPushButton::clicked, this, &TForm2::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TForm2::BitBtn2Click);
}

TForm2::~TForm2()
{
    if (Form2 == this)
        Form2 = nullptr;
}

void TForm2::present()
{
    show();
    raise();
    activateWindow();
}

void TForm2::setUnsavable(const QString &why)
{
    unsavable = why;
    Memo1->setReadOnly(!why.isEmpty());
    BitBtn1->setEnabled(why.isEmpty());
    if (!why.isEmpty()) {
        Memo1->clear();
        loadedText.clear();
    }
}

void TForm2::showLoaded(const QString &text)
{
    Memo1->setPlainText(text);
    loadedText = text;
}

// toRawText keeps non-breaking spaces that toPlainText would turn into spaces.
QString TForm2::text() const { return Memo1->document()->toRawText(); }

bool TForm2::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Memo1 && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Tab && key->modifiers() == Qt::ControlModifier) {
            Memo1->insertPlainText(QStringLiteral("\t"));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TForm2::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // The text area follows the window; the two buttons keep their place above it.
    Memo1->setGeometry(rect());
}
