// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>

#include "window/Scaling.h"

// A label subclass with its own meta-object: not an exact QLabel, so it keeps its font.
class CaptionLabel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;
};

namespace {

// A cut-down main window: one control of each kind at its designed bounds, Tahoma 8 throughout.
struct Window
{
    QWidget form;
    QList<QWidget *> order;
    QList<QRect> design;
    QTableView *sg1;
    QLabel *label;
    QLineEdit *edit;
    QLineEdit *boldEdit;
    QComboBox *combo;
    QPushButton *pictureButton;
    QCheckBox *check;
    CaptionLabel *caption;
    QWidget *panel;
    QPlainTextEdit *memo;
    QStatusBar *status;

    Window()
    {
        form.setFont(QFont(QStringLiteral("Tahoma"), 8));
        label = add(new QLabel(QStringLiteral("Serveur Pop3"), &form), {10, 15, 77, 13});
        edit = add(new QLineEdit(&form), {93, 8, 128, 21});
        combo = add(new QComboBox(&form), {92, 46, 169, 21});
        pictureButton = add(new QPushButton(QStringLiteral("Réception des messages"), &form),
                            {311, 44, 183, 29});
        pictureButton->setIcon(QIcon(QPixmap(20, 20)));
        check = add(new QCheckBox(QStringLiteral("P.J."), &form), {505, 50, 41, 17});
        boldEdit = add(new QLineEdit(QStringLiteral("0"), &form), {603, 48, 53, 21});
        QFont bold = boldEdit->font();
        bold.setBold(true);
        boldEdit->setFont(bold);
        sg1 = add(new QTableView(&form), {4, 80, 1007, 636});
        caption = add(new CaptionLabel(QStringLiteral("De"), &form), {23, 257, 54, 13});
        panel = add(new QWidget(&form), {4, 306, 1007, 409});
        memo = add(new QPlainTextEdit(panel), {0, 0, 1007, 409});
        status = add(new QStatusBar(&form), {0, 722, 1016, 19});
    }

    template <typename W>
    W *add(W *w, QRect r)
    {
        w->setGeometry(r);
        order.append(w);
        design.append(r);
        return w;
    }
};

void checkKeepsDesignFont(QWidget *w)
{
    QCOMPARE(w->font().family(), QStringLiteral("Tahoma"));
    QCOMPARE(w->font().pointSize(), 8);
}

} // namespace

class ScalingTest : public QObject
{
    Q_OBJECT
private slots:
    void workedValues_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<int>("pass");
        QTest::addColumn<QRect>("sg1");
        QTest::addColumn<bool>("smallFont");
        QTest::addColumn<int>("points");
        using F = scaling::Factors;
        QTest::newRow("1024x768") << 1024 << 768 << int(F::None) << QRect(4, 80, 1007, 636) << false << 8;
        QTest::newRow("1280x1024") << 1280 << 1024 << int(F::Grow) << QRect(5, 100, 1258, 795) << false << 10;
        QTest::newRow("1920x1040") << 1920 << 1040 << int(F::Grow) << QRect(5, 108, 1363, 861) << false << 10;
        QTest::newRow("1600x870") << 1600 << 870 << int(F::Grow) << QRect(4, 90, 1140, 720) << false << 9;
        QTest::newRow("1024x738") << 1024 << 738 << int(F::Shrink) << QRect(4, 76, 1007, 611) << true << 7;
        QTest::newRow("1366x728") << 1366 << 728 << int(F::Shrink) << QRect(5, 75, 1343, 602) << true << 7;
        QTest::newRow("800x570") << 800 << 570 << int(F::Shrink) << QRect(3, 59, 786, 472) << true << 7;
        // A grow factor just above 1: bounds grow by a tenth, trunc(8.8) keeps 8 points.
        QTest::newRow("s=1.1") << 1300 << 845 << int(F::Grow) << QRect(4, 88, 1107, 699) << false << 8;
    }

    void workedValues()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(int, pass);
        QFETCH(QRect, sg1);
        QFETCH(bool, smallFont);
        QFETCH(int, points);

        const scaling::Factors f = scaling::factorsFor(w, h);
        QCOMPARE(int(f.pass), pass);

        Window win;
        scaling::scaleWindow(win.order, w, h);
        QCOMPARE(win.sg1->geometry(), sg1);

        // Every control, whatever its kind, moves by the same rule, relative to its own parent.
        for (int i = 0; i < win.order.size(); ++i)
            QCOMPARE(win.order[i]->geometry(), scaling::scaledBounds(win.design[i], f));
        QCOMPARE(win.memo->geometry(), QRect(QPoint(0, 0), win.panel->size()));

        const QString family = smallFont ? scaling::smallFont().family() : QStringLiteral("Tahoma");
        for (QWidget *ruled : {static_cast<QWidget *>(win.label), static_cast<QWidget *>(win.edit),
                               static_cast<QWidget *>(win.boldEdit), static_cast<QWidget *>(win.combo)}) {
            QCOMPARE(ruled->font().family(), family);
            QCOMPARE(ruled->font().pointSize(), points);
        }
        QVERIFY(win.boldEdit->font().bold());

        for (QWidget *kept : {static_cast<QWidget *>(win.pictureButton), static_cast<QWidget *>(win.check),
                              static_cast<QWidget *>(win.sg1), static_cast<QWidget *>(win.caption),
                              static_cast<QWidget *>(win.panel), static_cast<QWidget *>(win.memo),
                              static_cast<QWidget *>(win.status)})
            checkKeepsDesignFont(kept);
    }

    void nothingScaledAtTheDesignWidthOrHeight_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::newRow("1024x768") << 1024 << 768;
        QTest::newRow("1024x900") << 1024 << 900;
        QTest::newRow("1200x768") << 1200 << 768;
    }

    void nothingScaledAtTheDesignWidthOrHeight()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        QCOMPARE(scaling::factorsFor(w, h).pass, scaling::Factors::None);
        Window win;
        scaling::scaleWindow(win.order, w, h);
        for (int i = 0; i < win.order.size(); ++i) {
            QCOMPARE(win.order[i]->geometry(), win.design[i]);
            QCOMPARE(win.order[i]->font().pointSize(), 8);
            QCOMPARE(win.order[i]->font().family(), QStringLiteral("Tahoma"));
        }
    }

    void shrinkScalesEachAxisOnItsOwn()
    {
        // Wide but low: the shrink pass widens while it lowers.
        const scaling::Factors f = scaling::factorsFor(1366, 728);
        QVERIFY(f.fx > 1.333 && f.fx < 1.335);
        QVERIFY(f.fy > 0.947 && f.fy < 0.948);
        QCOMPARE(f.s, f.fy);
        QCOMPARE(scaling::scaledBounds(QRect(-3, -3, 10, 10), f), QRect(-4, -2, 13, 9));
    }
};

QTEST_MAIN(ScalingTest)
#include "test_scaling.moc"
