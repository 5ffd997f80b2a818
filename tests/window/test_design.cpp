// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QStatusBar>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTimer>

#include "mailbox/MessageList.h"
#include "support/RecordingPrompter.h"
#include "window/Controls.h"
#include "window/PelicordeFP.h"
#include "window/PelicordeFS1.h"

// The two windows as designed, at the design work area of 1024 x 768 (nothing scaled).
class DesignTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_appData, m_temp;
    RecordingPrompter m_prompter;
    TForm1 *m_form = nullptr;
    TForm2 *m_editor = nullptr;

    QWidget *control(const char *name) const
    {
        auto *w = m_form->findChild<QWidget *>(QLatin1String(name));
        if (!w)
            qWarning("no control %s", name);
        return w;
    }

private slots:
    void initTestCase()
    {
        qputenv("APPDATA", m_appData.path().toLocal8Bit());
        qputenv("TEMP", m_temp.path().toLocal8Bit());
        m_form = new TForm1(QSize(1024, 768));
        m_editor = new TForm2;
        QCOMPARE(Form1, m_form);
        QCOMPARE(Form2, m_editor);
        QVERIFY(m_prompter.errors.isEmpty());
    }

    void cleanupTestCase()
    {
        delete m_editor;
        delete m_form;
        QCOMPARE(Form1, nullptr);
        QCOMPARE(Form2, nullptr);
    }

    void window()
    {
        QCOMPARE(m_form->windowTitle(), QStringLiteral("Pelicorde  V" PELICORDE_VERSION)); // the program's own
        QVERIFY(QByteArray(PELICORDE_VERSION).startsWith("1."));
        QCOMPARE(m_form->size(), QSize(1016, 741));
        const Qt::WindowFlags flags = m_form->windowFlags();
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(!m_form->windowIcon().isNull());
        QCOMPARE(m_form->font().family(), QStringLiteral("Tahoma"));
        QCOMPARE(m_form->font().pointSize(), 8);
    }

    void controlsKindsAndGeometry_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QRect>("geometry");
        struct Row { const char *name, *kind; int l, t, w, h; };
        const Row rows[] = {
            {"Label5", "QLabel", 10, 15, 77, 13},         {"Edit3", "QLineEdit", 93, 8, 128, 21},
            {"Label11", "QLabel", 238, 15, 59, 13},       {"Edit4", "QLineEdit", 311, 8, 46, 21},
            {"Label10", "QLabel", 376, 15, 95, 13},       {"Edit16", "QLineEdit", 490, 8, 121, 21},
            {"Label6", "QLabel", 628, 15, 77, 13},        {"Edit15", "QLineEdit", 716, 8, 121, 21},
            {"BitBtn1", "QPushButton", 848, 8, 64, 25},   {"BitBtn6", "QPushButton", 918, 8, 90, 25},
            {"Bevel1", "QFrame", 4, 36, 1004, 2},         {"Label1", "QLabel", 10, 51, 53, 13},
            {"ComboBox1", "QComboBox", 92, 46, 169, 21},  {"Bevel2", "QFrame", 286, 39, 2, 38},
            {"BitBtn2", "QPushButton", 311, 44, 183, 29}, {"CheckBox1", "QCheckBox", 505, 50, 41, 17},
            {"CheckBox2", "QCheckBox", 556, 50, 41, 17},  {"Edit10", "QLineEdit", 603, 48, 53, 21},
            {"ProgressBar1", "QProgressBar", 662, 50, 271, 20},
            {"BitBtn7", "QPushButton", 944, 44, 29, 29},  {"BitBtn4", "QPushButton", 979, 44, 29, 29},
            {"Image1", "QLabel", 140, 35, 28, 23},        {"Image2", "QLabel", 178, 35, 28, 24},
            {"SG1", "QTableView", 4, 80, 1007, 636},      {"ListBox1", "QListWidget", 18, 73, 935, 39},
            {"Label7", "QLabel", 23, 257, 54, 13},        {"Edit11", "QLineEdit", 82, 249, 215, 21},
            {"Label9", "QLabel", 307, 252, 14, 13},       {"Edit12", "QLineEdit", 327, 249, 214, 21},
            {"Label15", "QLabel", 572, 252, 95, 13},      {"Edit13", "QLineEdit", 676, 249, 71, 21},
            {"Edit14", "QLineEdit", 753, 249, 70, 21},    {"BitBtn5", "QPushButton", 853, 247, 52, 25},
            {"BitBtn3", "QPushButton", 906, 247, 47, 25}, {"BitBtn8", "QPushButton", 966, 247, 25, 25},
            {"Label8", "QLabel", 23, 279, 54, 13},        {"Edit17", "QLineEdit", 83, 276, 925, 21},
            {"WebBrowser1", "QWidget", 4, 306, 1007, 397}, {"Panel1", "QFrame", 4, 306, 1007, 409},
            {"Memo2", "QPlainTextEdit", 0, 0, 1007, 409}, {"StatusBar1", "QStatusBar", 0, 722, 1016, 19},
        };
        for (const Row &r : rows)
            QTest::newRow(r.name) << QString::fromLatin1(r.kind) << QRect(r.l, r.t, r.w, r.h);
    }

    void controlsKindsAndGeometry()
    {
        QFETCH(QString, kind);
        QFETCH(QRect, geometry);
        // A fresh window: the show step moves the status bar.
        TForm1 form(QSize(1024, 768));
        const QString name = QString::fromLatin1(QTest::currentDataTag());
        auto *w = form.findChild<QWidget *>(name);
        QVERIFY(w);
        QVERIFY2(w->inherits(kind.toLatin1()), w->metaObject()->className());
        QCOMPARE(w->geometry(), geometry);
        QCOMPARE(w->parentWidget(), name == QLatin1String("Memo2") ? form.Panel1 : static_cast<QWidget *>(&form));
        QCOMPARE(form.designOrder().count(w), 1);
    }

    void designOrderFollowsTheTables()
    {
        QStringList names;
        for (QWidget *w : m_form->designOrder())
            names << w->objectName();
        QCOMPARE(names.join(QLatin1Char(' ')),
                 QStringLiteral("Label5 Edit3 Label11 Edit4 Label10 Edit16 Label6 Edit15 BitBtn1 BitBtn6 Bevel1 "
                                "Label1 ComboBox1 Bevel2 BitBtn2 CheckBox1 CheckBox2 Edit10 ProgressBar1 BitBtn7 "
                                "BitBtn4 Image1 Image2 SG1 ListBox1 Label7 Edit11 Label9 Edit12 Label15 Edit13 "
                                "Edit14 BitBtn5 BitBtn3 BitBtn8 Label8 Edit17 WebBrowser1 Panel1 Memo2 StatusBar1"));
    }

    void textsAndHints()
    {
        const QList<std::pair<const char *, QString>> labels = {
            {"Label5", "Serveur Pop3"}, {"Label11", "Port Pop3"}, {"Label10", "Mot de passe Pop3"},
            {"Label6", "Mail receveur"}, {"Label1", "Compte"}, {"Label7", "De"}, {"Label9", "A"},
            {"Label15", "Date et heure envoi"}, {"Label8", "Objet"}};
        for (const auto &[name, text] : labels)
            QCOMPARE(qobject_cast<QLabel *>(control(name))->text(), text);
        const QList<std::pair<const char *, QString>> buttons = {
            {"BitBtn1", "Sauvegarde"}, {"BitBtn6", "Réduire en icone"}, {"BitBtn2", "Réception des messages"},
            {"BitBtn7", ""}, {"BitBtn4", ""}, {"BitBtn5", "PJ"}, {"BitBtn3", "Htm/Txt"}, {"BitBtn8", ""}};
        for (const auto &[name, text] : buttons)
            QCOMPARE(qobject_cast<QAbstractButton *>(control(name))->text(), text);
        QCOMPARE(m_form->CheckBox1->text(), QStringLiteral("P.J."));
        QCOMPARE(m_form->CheckBox2->text(), QStringLiteral("TLS"));
        for (const char *name : {"Edit3", "Edit4", "Edit16", "Edit15", "Edit11", "Edit12", "Edit13", "Edit14", "Edit17"})
            QVERIFY2(qobject_cast<QLineEdit *>(control(name))->text().isEmpty(), name);
        QCOMPARE(m_form->Edit10->text(), QStringLiteral("0"));

        const QList<std::pair<const char *, QString>> hints = {
            {"BitBtn1", "Sauvegarde le compte receveur actuellement utilisé"},
            {"ComboBox1", "Sélectionne un compte existant"},
            {"CheckBox1", "Gérer les Pièces-Jointes"},
            {"CheckBox2", "Connection sécurisée SSL"},
            {"BitBtn7", "Ouvrir la liste noire"},
            {"BitBtn4", "Suppression des messages cochés sur le serveur.  IRREVERSIBLE !!"},
            {"BitBtn5", "Télécharger les pièces-jointes"},
            {"BitBtn3", "Bascule affichage Texte <-> Html"},
            {"BitBtn8", "Fermer cette fenêtre d'aperçu"}};
        for (const auto &[name, hint] : hints)
            QCOMPARE(control(name)->toolTip(), hint);
        for (const char *name : {"BitBtn2", "BitBtn7", "BitBtn4", "BitBtn8"})
            QVERIFY2(!qobject_cast<QAbstractButton *>(control(name))->icon().isNull(), name);

        QStringList items;
        for (QAction *a : m_form->PopupMenu1->actions())
            items << a->objectName() + QLatin1Char('=') + a->text();
        QCOMPARE(items, QStringList({QStringLiteral("Restaurer1=&Restaurer"),
                                     QStringLiteral("VerifierMails1=&Vérifier les mails reçus"),
                                     QStringLiteral("Quitter1=&Quitter")}));
    }

    // What a screen reader says: a field its label's text, a picture button its hint.
    void accessibleNames()
    {
        const auto name = [](QWidget *w) { return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name); };
        for (QLabel *l : m_form->findChildren<QLabel *>())
            if (!l->text().isEmpty())
                QCOMPARE(l->buddy() ? name(l->buddy()) : l->objectName(), l->text());
        for (QPushButton *b : m_form->findChildren<QPushButton *>() + m_editor->findChildren<QPushButton *>())
            QCOMPARE(name(b), b->text().isEmpty() ? b->toolTip() : b->text());
        QCOMPARE(name(m_form->SG1), QStringLiteral("Liste des messages"));
    }

    void pictureSizes()
    {
        // The clipboard's brown board, 22 pixels wide in the 32-pixel picture, shows at full size.
        const QImage shown = m_form->BitBtn7->grab().toImage();
        int left = shown.width(), right = -1;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                if (shown.pixelColor(x, y) == QColor(160, 110, 50)) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
        QVERIFY2(right - left + 1 >= 21, qPrintable(QStringLiteral("board %1 pixels wide").arg(right - left + 1)));

        const QList<std::pair<QAbstractButton *, int>> sizes = {
            {m_form->BitBtn2, 20}, {m_form->BitBtn7, 32}, {m_form->BitBtn4, 14}, {m_form->BitBtn8, 19}};
        for (const auto &[button, side] : sizes)
            QCOMPARE(button->iconSize(), QSize(side, side));
    }

    void statesAtStart()
    {
        TForm1 form(QSize(1024, 768));
        for (const char *name : {"ListBox1", "ProgressBar1", "Image1", "Image2", "Label7", "Edit11", "Label9",
                                 "Edit12", "Label15", "Edit13", "Edit14", "BitBtn5", "BitBtn3", "BitBtn8",
                                 "Label8", "Edit17", "Memo2"})
            QVERIFY2(form.findChild<QWidget *>(QLatin1String(name))->isHidden(), name);
        for (QWidget *w : form.designOrder()) {
            if (!QStringList({"ListBox1", "ProgressBar1", "Image1", "Image2", "Label7", "Edit11", "Label9", "Edit12",
                              "Label15", "Edit13", "Edit14", "BitBtn5", "BitBtn3", "BitBtn8", "Label8", "Edit17",
                              "Memo2"})
                     .contains(w->objectName()))
                QVERIFY2(!w->isHidden(), qPrintable(w->objectName()));
            QCOMPARE(w->isEnabled(), w != form.CheckBox2);
        }
        QVERIFY(!form.CheckBox1->isChecked());
        QVERIFY(!form.CheckBox2->isChecked());
        QCOMPARE(form.Edit16->echoMode(), QLineEdit::Password);
        form.Edit16->setText(QStringLiteral("pw"));
        QCOMPARE(form.Edit16->displayText(), QStringLiteral("**"));
        QVERIFY(!form.ComboBox1->isEditable());
        QVERIFY(!form.Timer1->isActive());
        QVERIFY(!form.Timer2->isActive());
        QCOMPARE(form.Timer1->interval(), 500);
        QCOMPARE(form.Timer2->interval(), 60000);
        QCOMPARE(form.Image1->pixmap().size(), QSize(16, 16));
        QCOMPARE(form.Image2->pixmap().size(), QSize(16, 16));
        QVERIFY(form.Image1->pixmap().toImage() != form.Image2->pixmap().toImage());
        QCOMPARE(form.Memo2->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(form.Memo2->palette().color(QPalette::Base), QColor(Qt::yellow));
        QCOMPARE(form.check.trayTipText, QStringLiteral("Pelicorde"));
        QCOMPARE(form.currentRow, 0);
        QCOMPARE(form.check.lastMessageCount, 0);
        QCOMPARE(form.check.minuteCounter, 0);
        QVERIFY(!form.check.blinkPhase);
    }

    void clickOnDisabledTlsBoxChangesNothing()
    {
        m_form->show();
        QTest::mouseClick(m_form->CheckBox2, Qt::LeftButton);
        QVERIFY(!m_form->CheckBox2->isChecked());
    }

    // The keys users of mail programs expect: F1 tells the version, the licence and where the
    // data lives; F5 checks the mail (empty fields here: the scan says so at once); Ctrl+Q quits.
    void keysUsersExpect()
    {
        TForm1 window(QSize(1024, 768));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        m_prompter.reset();
        QTest::keyClick(&window, Qt::Key_F1);
        QCOMPARE(m_prompter.infos.size(), 1);
        for (const QString &part : {QStringLiteral("Pelicorde " PELICORDE_VERSION), QStringLiteral("GNU GPL version 3"),
                                    QStringLiteral("Données : ") + window.dataFolder})
            QVERIFY2(m_prompter.infos[0].contains(part), qPrintable(m_prompter.infos[0]));
        QTest::keyClick(&window, Qt::Key_F5);
        QVERIFY2(window.StatusBar1->currentMessage().contains(QStringLiteral("compte de réception incomplet")),
                 qPrintable(window.StatusBar1->currentMessage()));
        QSignalSpy closed(&window, &TForm1::closed);
        QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
        QTRY_COMPARE(closed.count(), 1);
        // The counter shows the messages read; it takes no focus and no typing.
        QVERIFY(m_form->Edit10->isReadOnly());
        QCOMPARE(m_form->Edit10->focusPolicy(), Qt::NoFocus);
    }

    void tabOrderChain()
    {
        const QStringList expected = {"Edit3",  "Edit4",  "Edit10",  "Edit11",  "Edit12", "Edit13", "Edit14",
                                      "Edit15", "Edit16", "Edit17",  "ListBox1", "BitBtn2", "BitBtn1",
                                      "WebBrowser1", "Memo2", "SG1", "BitBtn3", "CheckBox1", "BitBtn4",
                                      "BitBtn5", "BitBtn6", "BitBtn8", "ComboBox1", "CheckBox2",
                                      "BitBtn7"};
        QStringList chain;
        QWidget *w = m_form->Edit3;
        do {
            if (expected.contains(w->objectName()) && !chain.contains(w->objectName()))
                chain << w->objectName();
            w = w->nextInFocusChain();
        } while (w != m_form->Edit3);
        QCOMPARE(chain, expected);
    }

    void fonts()
    {
        for (QWidget *w : {static_cast<QWidget *>(m_form->Edit10), static_cast<QWidget *>(m_form->BitBtn5)}) {
            QVERIFY(w->font().bold());
            QCOMPARE(w->font().family(), QStringLiteral("Tahoma"));
            QCOMPARE(w->font().pointSize(), 8);
        }
        QCOMPARE(m_form->Edit10->palette().color(QPalette::Text), QColor(Qt::red));
        QCOMPARE(m_form->BitBtn5->palette().color(QPalette::ButtonText), QColor(Qt::red));
        for (QWidget *w : m_form->designOrder()) {
            if (w == m_form->Edit10 || w == m_form->BitBtn5)
                continue;
            QVERIFY2(!w->font().bold(), qPrintable(w->objectName()));
            QCOMPARE(w->font().family(), QStringLiteral("Tahoma"));
        }
    }

    // Each caption, measured in the font the control really draws with, inside the room the
    // style leaves it in the control's box: at the design size, and on a small screen once scaled.
    void captionsFitTheirBoxes_data()
    {
        QTest::addColumn<QSize>("area");
        QTest::newRow("1024x768") << QSize(1024, 768);
        QTest::newRow("800x600") << QSize(800, 600);
    }

    void captionsFitTheirBoxes()
    {
        QFETCH(QSize, area);
        TForm1 scaled(area);
        const QScopedValueRollback<TForm1 *> measured(m_form, &scaled);
        QStringList overflowing;
        const auto fits = [&](const QString &what, const QFont &font, const QString &text, int extra, QRect box) {
            const QFontMetrics metrics(font);
            const int width = metrics.horizontalAdvance(text) + extra;
            if (width > box.width() || metrics.height() > box.height())
                overflowing << QStringLiteral("%1 \"%2\" in %3: %4 x %5 for a room of %6 x %7")
                                   .arg(what, text, QFontInfo(font).family()).arg(width).arg(metrics.height())
                                   .arg(box.width()).arg(box.height());
        };
        for (QLabel *l : {m_form->Label5, m_form->Label11, m_form->Label10, m_form->Label6, m_form->Label1,
                          m_form->Label7, m_form->Label9, m_form->Label15, m_form->Label8})
            fits(l->objectName(), l->font(), l->text(), 0, l->contentsRect());

        // BitBtn5 also as a preview captions it once the attachments are counted.
        const QList<std::pair<QPushButton *, QString>> buttons = {
            {m_form->BitBtn1, m_form->BitBtn1->text()}, {m_form->BitBtn6, m_form->BitBtn6->text()},
            {m_form->BitBtn2, m_form->BitBtn2->text()}, {m_form->BitBtn5, m_form->BitBtn5->text()},
            {m_form->BitBtn5, QStringLiteral("PJ = 99")}, {m_form->BitBtn3, m_form->BitBtn3->text()}};
        for (const auto &[b, text] : buttons) {
            QStyleOptionButton option;
            option.initFrom(b);
            option.text = text;
            option.icon = b->icon();
            option.iconSize = b->iconSize();
            // The style puts 4 pixels between a picture and the caption.
            const int picture = b->icon().isNull() ? 0 : b->iconSize().width() + 4;
            fits(b->objectName(), b->font(), text, picture,
                 b->style()->subElementRect(QStyle::SE_PushButtonContents, &option, b));
        }

        for (QCheckBox *c : {m_form->CheckBox1, m_form->CheckBox2}) {
            QStyleOptionButton option;
            option.initFrom(c);
            option.text = c->text();
            fits(c->objectName(), c->font(), c->text(), 0,
                 c->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, c));
        }

        QHeaderView *header = m_form->SG1->horizontalHeader();
        const QStringList captions = {"Reçu de", "Objet", "Date/heure", "Type", "PJ", "Supr"};
        for (int c = 0; c < captions.size(); ++c) {
            QStyleOptionHeader option;
            option.initFrom(header);
            option.orientation = Qt::Horizontal;
            option.section = c;
            option.text = captions[c];
            option.textAlignment = header->defaultAlignment();
            option.rect = QRect(header->sectionViewportPosition(c), 0, header->sectionSize(c), header->height());
            fits(QStringLiteral("column %1").arg(c), header->font(), captions[c], 0,
                 header->style()->subElementRect(QStyle::SE_HeaderLabel, &option, header));
        }
        QVERIFY2(overflowing.isEmpty(), qPrintable(overflowing.join(QStringLiteral("; "))));
    }

    void stacking()
    {
        const QObjectList &order = m_form->children(); // back to front
        auto behind = [&](QWidget *a, QWidget *b) { return order.indexOf(a) < order.indexOf(b); };
        QVERIFY(behind(m_form->WebBrowser1, m_form->Panel1));
        QVERIFY(behind(m_form->Panel1, m_form->SG1));
        for (QWidget *w : {static_cast<QWidget *>(m_form->BitBtn3), static_cast<QWidget *>(m_form->BitBtn5),
                           static_cast<QWidget *>(m_form->BitBtn8)})
            QVERIFY2(behind(m_form->SG1, w), qPrintable(w->objectName()));
        for (QWidget *w : {static_cast<QWidget *>(m_form->ListBox1), static_cast<QWidget *>(m_form->Edit11),
                           static_cast<QWidget *>(m_form->Edit12), static_cast<QWidget *>(m_form->Edit13),
                           static_cast<QWidget *>(m_form->Edit14), static_cast<QWidget *>(m_form->Edit17)})
            QVERIFY2(behind(w, m_form->SG1), qPrintable(w->objectName()));
        for (QWidget *w : m_form->designOrder()) {
            if (!qobject_cast<QLabel *>(w) || w == m_form->Image1 || w == m_form->Image2)
                continue;
            for (QWidget *other : m_form->designOrder())
                if (other->parentWidget() == m_form && !qobject_cast<QLabel *>(other))
                    QVERIFY2(behind(w, other), qPrintable(w->objectName() + " / " + other->objectName()));
        }
    }

    void messageGrid()
    {
        MessageGrid *grid = m_form->SG1;
        QCOMPARE(grid->model(), m_form->list);
        QCOMPARE(m_form->list->rows(), 2);
        const int widths[] = {153, 634, 119, 28, 26, 22};
        for (int c = 0; c < 6; ++c) {
            QCOMPARE(grid->columnWidth(c), widths[c]);
            QVERIFY(!grid->isColumnHidden(c));
        }
        QVERIFY(grid->isColumnHidden(6));
        QCOMPARE(grid->rowHeight(0), 18);
        QCOMPARE(grid->horizontalHeader()->height(), 18);
        QVERIFY(grid->verticalHeader()->isHidden());
        QVERIFY(grid->showGrid());
        QCOMPARE(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(grid->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(grid->selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(grid->horizontalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
        QCOMPARE(grid->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
        QVERIFY(grid->horizontalHeader()->styleSheet().contains(QLatin1String("rgb(0, 255, 255)")));

        QCOMPARE(m_form->gridColour(), QColor(238, 255, 255));
        m_form->setGridColour(QColor(128, 0, 0));
        QCOMPARE(grid->palette().color(QPalette::Base), QColor(128, 0, 0));
        m_form->setGridColour(TForm1::GridRestColour);
        QCOMPARE(m_form->gridColour(), QColor(238, 255, 255));
        m_form->setProgressBarColour(Qt::blue);
        QCOMPARE(m_form->progressBarColour(), QColor(Qt::blue));
    }

    // Releases over the grid reach its owner in grid pixels and map back to list rows.
    void gridReleasesAndHitTest()
    {
        m_form->show();
        MessageGrid *grid = m_form->SG1;
        m_form->list->setRows(4);
        QTRY_VERIFY(grid->isVisible());
        QSignalSpy released(grid, &MessageGrid::mouseReleased);

        const QRect caption = grid->cellRect(1, 0);
        QCOMPARE(caption.height(), 18);
        QTest::mouseClick(grid->horizontalHeader(), Qt::LeftButton, {},
                          grid->horizontalHeader()->mapFrom(grid, caption.center()));
        QCOMPARE(released.count(), 1);
        QCOMPARE(grid->mouseCoord(released.last().at(1).toPoint()), QPoint(1, 0));

        const QRect cell = grid->cellRect(5, 2);
        QCOMPARE(cell.height(), 18);
        QTest::mouseClick(grid->viewport(), Qt::RightButton, {}, grid->viewport()->mapFrom(grid, cell.center()));
        QCOMPARE(released.count(), 2);
        QCOMPARE(released.last().at(0).value<Qt::MouseButton>(), Qt::RightButton);
        QCOMPARE(released.last().at(1).toPoint(), cell.center());
        QCOMPARE(grid->mouseCoord(cell.center()), QPoint(5, 2));
        QCOMPARE(grid->selectionModel()->selectedRows().size(), 1);

        QCOMPARE(grid->mouseCoord(QPoint(cell.center().x(), grid->cellRect(0, 3).bottom() + 10)), QPoint(-1, -1));
        QCOMPARE(grid->mouseCoord(QPoint(grid->cellRect(5, 1).right() + 40, cell.center().y())), QPoint(-1, -1));
        m_form->list->setRows(2);
    }

    void showStep()
    {
        m_form->show();
        QTRY_COMPARE(m_form->list->cell(0, 0), QStringLiteral("Reçu de"));
        const QStringList captions = {"Reçu de", "Objet", "Date/heure", "Type", "PJ", "Supr", ""};
        for (int c = 0; c < MessageList::ColumnCount; ++c)
            QCOMPARE(m_form->list->cell(0, c), captions[c]);
        QCOMPARE(m_form->SG1->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Objet"));
        QCOMPARE(m_form->StatusBar1->geometry(), QRect(4, 721, 1007, 19));
        QCOMPARE(m_form->normalGridHeight, 636);
        QVERIFY(m_form->SG1->isEnabled());
        QCOMPARE(m_form->focusWidget(), m_form->SG1);

        // The placement follows the list wherever it is.
        m_form->SG1->setGeometry(10, 90, 500, 153);
        m_form->statusBarPlacement();
        QCOMPARE(m_form->StatusBar1->geometry(), QRect(10, 248, 500, 19));
        m_form->SG1->setGeometry(4, 80, 1007, 636);
        m_form->statusBarPlacement();
    }

    void editorWindow()
    {
        QCOMPARE(m_editor->windowTitle(), QStringLiteral("Pelicorde : Liste noire"));
        QCOMPARE(m_editor->size(), QSize(728, 574));
        const Qt::WindowFlags flags = m_editor->windowFlags();
        QVERIFY(flags & Qt::WindowStaysOnTopHint);
        QVERIFY(flags & Qt::CustomizeWindowHint);
        QVERIFY(!(flags & (Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint)));
        QCOMPARE(m_editor->font().pixelSize(), 11);
        QVERIFY(m_editor->isHidden());
        QCOMPARE(m_editor->Memo1->objectName(), QStringLiteral("Memo1"));
        QCOMPARE(m_editor->Memo1->geometry(), QRect(0, 0, 728, 574));
        QCOMPARE(m_editor->Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(m_editor->Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(m_editor->BitBtn1->geometry(), QRect(656, 4, 25, 25));
        QCOMPARE(m_editor->BitBtn2->geometry(), QRect(683, 4, 25, 25));
        QCOMPARE(m_editor->BitBtn1->toolTip(), QStringLiteral("Sauvegarder et fermer"));
        QCOMPARE(m_editor->BitBtn2->toolTip(), QStringLiteral("Fermer sans sauvegarder"));
        QVERIFY(m_editor->BitBtn1->text().isEmpty() && !m_editor->BitBtn1->icon().isNull());
        QVERIFY(m_editor->BitBtn2->text().isEmpty() && !m_editor->BitBtn2->icon().isNull());
        const QObjectList &order = m_editor->children();
        QVERIFY(order.indexOf(m_editor->Memo1) < order.indexOf(m_editor->BitBtn1));

        m_editor->show();
        m_editor->resize(900, 400);
        QCOMPARE(m_editor->Memo1->geometry(), QRect(0, 0, 900, 400));
        QCOMPARE(m_editor->BitBtn1->geometry(), QRect(656, 4, 25, 25));
        m_editor->resize(728, 574);
        m_editor->hide();
    }
};

QTEST_MAIN(DesignTest)
#include "test_design.moc"
