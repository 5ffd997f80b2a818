// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>
#include <QTemporaryDir>

#include <memory>
#include <vector>

#include "learning/MailSources.h"
#include "support/FeedingFifo.h"
#include "support/TestFiles.h"

using namespace learning;

namespace {

using Files = QList<QPair<QString, QByteArray>>; // path under the folder, content ("<fifo>": a FIFO)

const QByteArray kMbox = "From alice@a.example Mon Jan  1 10:00:00 2024\n"
                         "From: alice@a.example\nSubject: un\n\n"
                         "le corps\nFrom the body, not a new message\n>From escaped\n\n"
                         "From bob@b.example Mon Jan  1 11:00:00 2024\n"
                         "Subject: deux\r\n\r\ncorps\n\n"
                         "From carol@c.example Mon Jan  1 12:00:00 2024\n"
                         "Subject: trois\n";

} // namespace

class MailSourcesTest : public QObject
{
    Q_OBJECT

private slots:
    void readsHeaderBlocks_data()
    {
        QTest::addColumn<Files>("files");
        QTest::addColumn<QString>("path"); // what is read, under the folder
        QTest::addColumn<QList<QByteArray>>("headers");
        QTest::addColumn<int>("problems");
        QTest::newRow("message file") << Files{{"a.eml", "From: a@b.example\r\nSubject: x\r\n\r\nbody\r\n"}}
                                      << "a.eml" << QList<QByteArray>{"From: a@b.example\r\nSubject: x\r\n"} << 0;
        QTest::newRow("mbox") << Files{{"boite", kMbox}} << "boite"
                              << QList<QByteArray>{"From: alice@a.example\nSubject: un\n", "Subject: deux\r\n",
                                                   "Subject: trois\n"}
                              << 0;
        // cur/ and new/ in the order of their names (delivery times); tmp/ is being written.
        QTest::newRow("maildir") << Files{{"cur/1700000002.b:2,S", "Subject: b\n\n"},
                                          {"new/1700000003.c", "Subject: c\n"},
                                          {"cur/1700000001.a:2,", "Subject: a\n\nbody"},
                                          {"tmp/1700000004.d", "Subject: d\n"}}
                                 << "" << QList<QByteArray>{"Subject: a\n", "Subject: b\n", "Subject: c\n"} << 0;
        QTest::newRow("folder of messages") << Files{{"2", "Subject: deux\n"}, {"1", "Subject: un\n"}} << ""
                                            << QList<QByteArray>{"Subject: un\n", "Subject: deux\n"} << 0;
        QTest::newRow("fifo in a maildir") << Files{{"cur/1", "Subject: a\n"}, {"cur/2", "<fifo>"}, {"cur/3", "Subject: c\n"}}
                                           << "" << QList<QByteArray>{"Subject: a\n", "Subject: c\n"} << 1;
        QTest::newRow("missing") << Files{} << "absent" << QList<QByteArray>{} << 1;
    }
    void readsHeaderBlocks()
    {
        QFETCH(Files, files);
        QFETCH(QString, path);
        QFETCH(QList<QByteArray>, headers);
        QFETCH(int, problems);
        QTemporaryDir dir;
        std::vector<std::unique_ptr<FeedingFifo>> fifos;
        for (const auto &[name, content] : files) {
            const QString p = dir.filePath(name);
            QDir().mkpath(QFileInfo(p).path());
            if (content == "<fifo>")
                fifos.push_back(std::make_unique<FeedingFifo>(p, "Subject: lu quand même\n"));
            else
                writeBytes(p, content);
        }
        QDir().mkpath(dir.filePath(QStringLiteral("tmp")));
        QList<QByteArray> read;
        const SourceSummary summary = readHeaderBlocks(dir.filePath(path), [&](const QByteArray &h) {
            read << h;
            return true;
        });
        QCOMPARE(read, headers);
        QCOMPARE(summary.messages, int(headers.size()));
        QCOMPARE(summary.problems.size(), problems);
    }

    // A header block past all reason is cut, and the body after it is never kept.
    void hugeHeaderIsCut()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("enorme.eml"));
        writeBytes(path, "Subject: x\n" + QByteArray(3 * 1024 * 1024, 'a') + "\nX-After: y\n\n" + QByteArray(1024, 'z'));
        QByteArray header;
        QCOMPARE(readHeaderBlocks(path, [&](const QByteArray &h) { return header = h, true; }).messages, 1);
        QVERIFY(header.startsWith("Subject: x\n"));
        QVERIFY(header.size() <= 1024 * 1024 + 64 * 1024);
        QVERIFY(!header.contains("zz"));
    }

    void stopsWhenAsked()
    {
        QTemporaryDir dir;
        writeBytes(dir.filePath(QStringLiteral("boite")), kMbox);
        int seen = 0;
        const SourceSummary summary = readHeaderBlocks(dir.filePath(QStringLiteral("boite")), [&](const QByteArray &) {
            return ++seen < 2;
        });
        QCOMPARE(seen, 2);
        QCOMPARE(summary.messages, 2);
    }
};

QTEST_GUILESS_MAIN(MailSourcesTest)
#include "test_mailsources.moc"
