// SPDX-License-Identifier: GPL-3.0-or-later
// The sessions' conversations as exact transcripts, played through a scripted transport: every
// line the client writes, in its order and batching (what it sends before reading an answer).
#include <QtTest>

#include "protocol/imap/ImapSession.h"
#include "protocol/pop3/Pop3Session.h"
#include "support/ScriptedTransport.h"

namespace {

// As the program reads the port: 143 and 993 mean IMAP, a port above 900 implicit TLS.
MailAccount account(quint16 port, const QString &password)
{
    const auto protocol = port % 10 == 3 ? MailAccount::Protocol::Imap : MailAccount::Protocol::Pop3;
    return {QStringLiteral("127.0.0.1"), port, QStringLiteral("pelicorde"), password, port > 900, false, {}, protocol};
}

// Quoting would need escapes: it goes as a literal. (Its quotes pair up: moc misreads a raw
// string holding an odd number of them.)
const QString kQuoting = QStringLiteral(R"("pa\ss" mot)");

} // namespace

class TranscriptTest : public QObject
{
    Q_OBJECT

private slots:
    // STARTTLS whenever offered; the INBOX opened behind the login, in the same write. Over TLS
    // the capabilities come with the login's answer, asked for when it has none, or first when
    // the list said in clear text that LOGIN is disabled (then AUTHENTICATE where the list over
    // TLS says so too, and only after a refused LOGIN otherwise). A password quoting cannot hold
    // goes as a literal, the client waiting for the server's go-ahead without LITERAL+.
    void imapLogin_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QByteArray>("transcript");
        QTest::newRow("STARTTLS, LOGIN disabled in clear text") << true << QByteArray(R"(
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
            C: P4 EXAMINE INBOX
            S: P3 OK [CAPABILITY IMAP4rev1 IDLE MOVE] Logged in
            S: * 3 EXISTS
            S: * OK [UIDVALIDITY 1700000000] UIDs valid
            S: P4 OK [READ-ONLY] Examine completed.)");
        QTest::newRow("STARTTLS, capabilities with the login") << true << QByteArray(R"(
            connect
            S: * OK [CAPABILITY IMAP4rev1 STARTTLS LITERAL+] Ready.
            C: P1 STARTTLS
            S: P1 OK Begin TLS negotiation now.
            tls
            C: P2 LOGIN pelicorde {11}
            S: + OK
            C: "pa\ss" mot
            C: P3 EXAMINE INBOX
            S: P2 OK [CAPABILITY IMAP4rev1 IDLE MOVE] Logged in
            S: * 3 EXISTS
            S: * OK [UIDVALIDITY 1700000000] UIDs valid
            S: P3 OK [READ-ONLY] Examine completed.)");
        QTest::newRow("STARTTLS, LOGIN disabled over TLS only") << true << QByteArray(R"(
            connect
            S: * OK [CAPABILITY IMAP4rev1 STARTTLS] Ready.
            C: P1 STARTTLS
            S: P1 OK Begin TLS negotiation now.
            tls
            C: P2 LOGIN pelicorde {11}
            S: + OK
            C: "pa\ss" mot
            C: P3 EXAMINE INBOX
            S: P2 NO [PRIVACYREQUIRED] Use AUTHENTICATE.
            S: P3 BAD Not logged in.
            C: P4 CAPABILITY
            S: * CAPABILITY IMAP4rev1 LOGINDISABLED AUTH=PLAIN SASL-IR
            S: P4 OK Capability completed.
            C: P5 AUTHENTICATE PLAIN AHBlbGljb3JkZQAicGFcc3MiIG1vdA==
            C: P6 EXAMINE INBOX
            S: P5 OK [CAPABILITY IMAP4rev1 IDLE] Logged in
            S: * 3 EXISTS
            S: * OK [UIDVALIDITY 1700000000] UIDs valid
            S: P6 OK [READ-ONLY] Examine completed.)");
        QTest::newRow("no capabilities, clear text, LITERAL+") << false << QByteArray(R"(
            connect
            S: * OK Ready.
            C: P1 CAPABILITY
            S: * CAPABILITY IMAP4rev1 LITERAL+
            S: P1 OK Capability completed.
            C: P2 LOGIN pelicorde {11+}
            C: "pa\ss" mot
            C: P3 SELECT INBOX
            S: P2 OK Logged in
            C: P4 CAPABILITY
            S: * 3 EXISTS
            S: * OK [UIDVALIDITY 1700000000] UIDs valid
            S: P3 OK [READ-WRITE] Select completed.
            S: * CAPABILITY IMAP4rev1 LITERAL+ MOVE
            S: P4 OK Capability completed.)");
    }
    void imapLogin()
    {
        QFETCH(bool, readOnly);
        QFETCH(QByteArray, transcript);
        const Transcript t(transcript);
        ImapSession s;
        s.setTransport(t.transports());
        const QString failure = t.play([&] {
            s.open(account(143, kQuoting), readOnly ? ImapSession::Inbox::Examined : ImapSession::Inbox::Selected);
        });
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QCOMPARE(s.encrypted(), transcript.contains("tls"));
        QCOMPARE(s.messageCount(), 3);
        QCOMPARE(s.uidValidity(), 1700000000u);
    }

    // Into Junk by UID MOVE of exactly those UIDs, once the folder marked \Junk is known. (The
    // login's password goes quoted.)
    void imapRemoval()
    {
        const Transcript t(R"(
            connect tls
            S: * OK [CAPABILITY IMAP4rev1] Ready.
            C: P1 LOGIN pelicorde "mot de passe"
            S: P1 OK [CAPABILITY IMAP4rev1 MOVE SPECIAL-USE UIDPLUS] Logged in
            C: P2 SELECT INBOX
            S: * 9 EXISTS
            S: * OK [UIDVALIDITY 7] UIDs valid
            S: P2 OK [READ-WRITE] Select completed.
            C: P3 LIST (SPECIAL-USE) "" "*"
            S: * LIST (\HasNoChildren \Junk) "/" Junk
            S: P3 OK List completed.
            C: P4 UID MOVE 4:5,9 Junk
            S: * OK [COPYUID 7 4:5,9 1:3] Moved UIDs.
            S: * 3 EXPUNGE
            S: * 3 EXPUNGE
            S: * 7 EXPUNGE
            S: P4 OK Move completed.)");
        ImapSession s;
        s.setTransport(t.transports());
        int removed = 0;
        const QString failure = t.play([&] {
            s.open(account(993, QStringLiteral("mot de passe")));
            s.select(false);
            removed = s.remove(7, {9, 4, 5}, ImapSession::Removal::ToJunk);
        });
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QCOMPARE(removed, 3);
        QCOMPARE(s.messageCount(), 6);
    }

    // STLS whenever offered and CAPA asked again over TLS, behind PASS when the server pipelines;
    // pipelined in clear text, PASS waits for USER's answer, CAPA behind it.
    void pop3Login_data()
    {
        QTest::addColumn<QByteArray>("transcript");
        QTest::newRow("STLS, one command at a time") << QByteArray(R"(
            connect
            S: +OK Ready.
            C: CAPA
            S: +OK
            S: STLS
            S: .
            C: STLS
            S: +OK Begin TLS negotiation now.
            tls
            C: CAPA
            S: +OK
            S: .
            C: USER pelicorde
            S: +OK
            C: PASS "pa\ss" mot
            S: +OK Logged in.)");
        QTest::newRow("STLS, pipelined: the login in the first write over TLS") << QByteArray(R"(
            connect
            S: +OK Ready.
            C: CAPA
            S: +OK
            S: STLS
            S: PIPELINING
            S: .
            C: STLS
            S: +OK Begin TLS negotiation now.
            tls
            C: USER pelicorde
            C: PASS "pa\ss" mot
            C: CAPA
            S: +OK
            S: +OK Logged in.
            S: +OK
            S: PIPELINING
            S: .)");
        QTest::newRow("pipelined in clear text") << QByteArray(R"(
            connect
            S: +OK Ready.
            C: CAPA
            S: +OK
            S: PIPELINING
            S: .
            C: USER pelicorde
            S: +OK
            C: PASS "pa\ss" mot
            C: CAPA
            S: +OK Logged in.
            S: +OK
            S: PIPELINING
            S: .)");
    }
    void pop3Login()
    {
        QFETCH(QByteArray, transcript);
        const Transcript t(transcript);
        Pop3Session s;
        s.setTransport(t.transports());
        const QString failure = t.play([&] { s.open(account(110, kQuoting)); });
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QCOMPARE(s.encrypted(), transcript.contains("tls"));
    }

    // Pipelined over TLS, USER, PASS and CAPA in one go. Then a deletion run: the headers of the
    // marked messages asked in one go and checked, their DELE in one go, a refused one told,
    // then QUIT so that the rest take effect.
    void pop3Removal()
    {
        const Transcript t(R"(
            connect tls
            S: +OK Ready.
            C: CAPA
            S: +OK
            S: PIPELINING
            S: .
            C: USER pelicorde
            C: PASS secret
            C: CAPA
            S: +OK
            S: +OK Logged in.
            S: +OK
            S: PIPELINING
            S: TOP
            S: UIDL
            S: .
            C: STAT
            S: +OK 5 5000
            C: UIDL
            S: +OK
            S: 4 d
            S: .
            C: TOP 4 0
            C: TOP 2 0
            S: +OK
            S: Subject: quatre
            S:
            S: .
            S: +OK
            S: Subject: deux
            S:
            S: .
            C: DELE 4
            C: DELE 2
            S: +OK Marked.
            S: -ERR Already deleted.
            C: QUIT
            S: +OK Bye.)");
        Pop3Session s;
        s.setTransport(t.transports());
        QStringList steps;
        const QString failure = t.play([&] {
            s.open(account(995, QStringLiteral("secret")));
            steps << QString::number(s.messageCount()) << s.uniqueIds().value(4);
            s.headersAhead({4, 2});
            steps << QString::fromLatin1(s.header(4)) << QString::fromLatin1(s.header(2));
            s.removeAhead({4, 2});
            steps << QVariant(s.remove(4)).toString() << QVariant(s.remove(2)).toString();
            s.quit();
        });
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QCOMPARE(steps, QStringList({"5", "d", "Subject: quatre\r\n\r\n", "Subject: deux\r\n\r\n", "true", "false"}));
    }

    // A certificate the CAs do not vouch for goes to the decision once TLS is up, before
    // anything is read or sent; refused, nothing is.
    void refusedCertificate()
    {
        Transcript t("connect tls");
        t.presentCertificate({QSslError(QSslError::SelfSignedCertificate)});
        Pop3Session s;
        s.setTransport(t.transports());
        QList<QSslError> asked;
        s.setCertificateDecision([&](const PeerCertificate &peer) { asked += peer.errors; return false; });
        QCOMPARE(t.play([&] { s.open(account(995, QStringLiteral("secret"))); }),
                 QStringLiteral("the session failed: Certificat du serveur 127.0.0.1:995 refusé : le certificat est "
                                "auto-signé : aucune autorité ne le garantit"));
        QCOMPARE(asked, QList<QSslError>({QSslError(QSslError::SelfSignedCertificate)}));
    }
};

QTEST_GUILESS_MAIN(TranscriptTest)
#include "test_transcripts.moc"
