// SPDX-License-Identifier: GPL-3.0-or-later
// Opening a session as the core does it for every caller: what an asker that never asks lets
// through, what a yes leaves in the data folder, and the records that could not be written.
#include <QtTest>

#include <QDir>

#include "protocol/EncryptedServers.h"
#include "mailbox/SessionOpening.h"
#include "support/DovecotServer.h"
#include "support/FakePop3Server.h"

namespace {

// Says yes, and keeps what it was asked and told.
class RecordingAsker final : public SessionAsker
{
public:
    QList<certificates::Trust> asked;
    QList<Unrecorded> unwritten;
    bool trust(const PeerCertificate &, certificates::Trust trust) override
    {
        asked << trust;
        return true;
    }
    void unrecorded(const Unrecorded &record) override { unwritten << record; }
};

} // namespace

class SessionOpeningTest : public QObject
{
    Q_OBJECT
    DovecotServer m_dovecot;

    MailAccount account(bool imap) const { return imap ? m_dovecot.imapAccount() : m_dovecot.account(); }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_dovecot.start(), qPrintable(m_dovecot.errorText()));
        QVERIFY(m_dovecot.replaceCertificate()); // trusted by no CA
        m_dovecot.setMessages({"Subject: Un\r\n\r\nCorps\r\n"});
    }

    // Nobody to ask: an unconfirmed certificate ends the opening and nothing is written; once a
    // yes has remembered it, the same asker lets the session open without asking anything.
    void neverAskOnlyTakesRememberedCertificates_data() { bothProtocols(); }
    void neverAskOnlyTakesRememberedCertificates()
    {
        QFETCH(bool, imap);
        QTemporaryDir folder;
        const MailAccount a = account(imap);
        NeverAsk nobody;
        const auto session = makeMailboxSession(a);
        try {
            openSession(*session, a, folder.path(), MailboxSession::Access::Read, nobody);
            QFAIL("opened without a confirmed certificate");
        } catch (const CertificateToConfirm &e) {
            QCOMPARE(e.text(), QStringLiteral("Le certificat du serveur 127.0.0.1:%1 est à confirmer").arg(a.port));
        }
        QVERIFY(QDir(folder.path()).isEmpty());

        RecordingAsker yes;
        {
            const auto session = makeMailboxSession(a);
            openSession(*session, a, folder.path(), MailboxSession::Access::Read, yes);
            QCOMPARE(session->messageCount(), 1);
        }
        QCOMPARE(yes.asked, QList<certificates::Trust>{certificates::Trust::FirstSeen});
        QVERIFY(yes.unwritten.isEmpty());
        const auto again = makeMailboxSession(a);
        openSession(*again, a, folder.path(), MailboxSession::Access::Read, nobody);
        QCOMPARE(again->messageCount(), 1);
        QVERIFY(again->encrypted());
    }

    // A data folder whose records cannot be written (folders at their names): the yes and the
    // server's encryption are told in the order they happen, and the session opens all the same.
    void unwrittenRecordsAreTold()
    {
        QTemporaryDir folder;
        const MailAccount a = m_dovecot.account();
        QVERIFY(QDir().mkpath(certificates::storePath(folder.path())));
        QVERIFY(QDir().mkpath(encryptedServers::recordPath(folder.path())));
        RecordingAsker yes;
        const auto session = makeMailboxSession(a);
        openSession(*session, a, folder.path(), MailboxSession::Access::Read, yes);
        QCOMPARE(session->messageCount(), 1);
        QCOMPARE(yes.unwritten.size(), 2);
        QCOMPARE(yes.unwritten[0].record, Unrecorded::Record::Certificate);
        QCOMPARE(yes.unwritten[1].record, Unrecorded::Record::Encryption);
        for (const Unrecorded &u : std::as_const(yes.unwritten)) {
            QVERIFY(!u.why.isEmpty());
            QCOMPARE(u.host, a.host);
            QCOMPARE(u.port, a.port);
        }
    }

    // TLS is required when the account says so (the watch of new mail) or the record knows the
    // server: without STLS, no user name goes out.
    void requiredTlsWithdrawnStopsTheLogin_data()
    {
        QTest::addColumn<bool>("byAccount");
        QTest::newRow("the account") << true;
        QTest::newRow("the record") << false;
    }
    void requiredTlsWithdrawnStopsTheLogin()
    {
        QFETCH(bool, byAccount);
        QTemporaryDir folder;
        FakePop3Server server;
        QVERIFY(server.start());
        MailAccount a = server.account();
        a.tlsRequired = byAccount;
        if (!byAccount)
            QVERIFY(encryptedServers::remember(encryptedServers::recordPath(folder.path()), a.host, a.port));
        NeverAsk nobody;
        const auto session = makeMailboxSession(a);
        QVERIFY_THROWS_EXCEPTION(EncryptionWithdrawn,
                                 openSession(*session, a, folder.path(), MailboxSession::Access::Read, nobody));
        QVERIFY(!server.received("USER"));
        QVERIFY(!server.received("PASS"));
    }
};

QTEST_GUILESS_MAIN(SessionOpeningTest)
#include "test_sessionopening.moc"
