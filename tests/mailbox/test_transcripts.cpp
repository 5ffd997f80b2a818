// SPDX-License-Identifier: GPL-3.0-or-later
// The sessions' conversations as exact transcripts, played through a scripted transport: every
// line the client writes, in its order and batching (what it sends before reading an answer).
#include <QtTest>

#include "mailbox/ImapSession.h"
#include "mailbox/Pop3Session.h"
#include "support/ScriptedTransport.h"

namespace {

MailAccount account(bool tls, const QString &password, MailAccount::Protocol protocol)
{
    const bool imap = protocol == MailAccount::Protocol::Imap;
    const quint16 port = imap ? (tls ? 993 : 143) : (tls ? 995 : 110);
    return {QStringLiteral("127.0.0.1"), port, QStringLiteral("pelicorde"), password, tls, false, {}, protocol};
}

// Quoted, it would need escapes: it goes as a literal. (Quotes paired: moc misreads a raw string
// with an odd number of them.)
const QString kQuoting = QStringLiteral(R"("pa\ss" mot)");

} // namespace

class TranscriptTest : public QObject
{
    Q_OBJECT

private slots:
    // STARTTLS whenever offered, the capabilities asked again over TLS and after a login that
    // does not give them; the password sent as the server can take it.
    void imapLogin_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QByteArray>("transcript");
        QTest::newRow("STARTTLS, synchronising literal") << false << kQuoting << true << QByteArray(R"(
            connect
            S: * OK [CAPABILITY IMAP4rev1 STARTTLS LOGINDISABLED] Ready.
            C: P1 STARTTLS
            S: P1 OK Begin TLS negotiation now.
            tls
            C: P2 CAPABILITY
            S: * CAPABILITY IMAP4rev1 AUTH=PLAIN
            S: P2 OK Capability completed.
            C: P3 LOGIN pelicorde {11}
            S: + OK
            C: "pa\ss" mot
            S: P3 OK [CAPABILITY IMAP4rev1 IDLE MOVE] Logged in
            C: P4 EXAMINE INBOX
            S: * 3 EXISTS
            S: * OK [UIDVALIDITY 1700000000] UIDs valid
            S: P4 OK [READ-ONLY] Examine completed.)");
        QTest::newRow("no capabilities, clear text, LITERAL+") << false << kQuoting << false << QByteArray(R"(
            connect
            S: * OK Ready.
            C: P1 CAPABILITY
            S: * CAPABILITY IMAP4rev1 LITERAL+
            S: P1 OK Capability completed.
            C: P2 LOGIN pelicorde {11+}
            C: "pa\ss" mot
            S: P2 OK Logged in
            C: P3 CAPABILITY
            S: * CAPABILITY IMAP4rev1 LITERAL+ MOVE
            S: P3 OK Capability completed.
            C: P4 SELECT INBOX
            S: * 3 EXISTS
            S: * OK [UIDVALIDITY 1700000000] UIDs valid
            S: P4 OK [READ-WRITE] Select completed.)");
        QTest::newRow("implicit TLS, quoted password") << true << QStringLiteral("mot de passe") << true << QByteArray(R"(
            connect tls
            S: * OK [CAPABILITY IMAP4rev1] Ready.
            C: P1 LOGIN pelicorde "mot de passe"
            S: P1 OK [CAPABILITY IMAP4rev1 IDLE] Logged in
            C: P2 EXAMINE INBOX
            S: * 3 EXISTS
            S: * OK [UIDVALIDITY 1700000000] UIDs valid
            S: P2 OK [READ-ONLY] Examine completed.)");
    }
    void imapLogin()
    {
        QFETCH(bool, tls);
        QFETCH(QString, password);
        QFETCH(bool, readOnly);
        QFETCH(QByteArray, transcript);
        const Transcript t(transcript);
        ImapSession s;
        s.setTransport(t.transports());
        const QString failure = t.play([&] {
            s.open(account(tls, password, MailAccount::Protocol::Imap));
            s.select(readOnly);
        });
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QCOMPARE(s.encrypted(), transcript.contains("tls"));
        QCOMPARE(s.messageCount(), 3);
        QCOMPARE(s.uidValidity(), 1700000000u);
    }
};

QTEST_GUILESS_MAIN(TranscriptTest)
#include "test_transcripts.moc"
