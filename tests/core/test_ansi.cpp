// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>

#include "core/Ansi.h"

class AnsiTest : public QObject
{
    Q_OBJECT
private slots:
    void everyByteRoundTrips()
    {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        const QString text = ansi::toUnicode(all);
        QCOMPARE(text.size(), 256);
        QCOMPARE(ansi::fromUnicode(text), all);
    }

    void frenchAndWindowsOnlyCharacters()
    {
        const QString text = QStringLiteral("Reçu é à € œ Ÿ “” …");
        const QByteArray bytes = ansi::fromUnicode(text);
        QCOMPARE(bytes, QByteArray("Re\xE7u \xE9 \xE0 \x80 \x9C \x9F \x93\x94 \x85"));
        QCOMPARE(ansi::toUnicode(bytes), text);
    }

    void outsideTheCodePageBecomesQuestionMark()
    {
        QCOMPARE(ansi::fromUnicode(QStringLiteral("a\u4E2Db")), QByteArray("a?b"));
        // A character beyond the BMP is one '?', not two.
        QCOMPARE(ansi::fromUnicode(QString::fromUtf8("x\xF0\x9F\x98\x80y")), QByteArray("x?y"));
    }
};

QTEST_GUILESS_MAIN(AnsiTest)
#include "test_ansi.moc"
