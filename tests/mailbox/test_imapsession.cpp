// SPDX-License-Identifier: GPL-3.0-or-later
// The IMAP session against a real Dovecot (reading, structures, removal, IDLE), and against the
// scripted server for the faults Dovecot does not make.
#include <QtTest>

#include "core/SafeFile.h"
#include "mailbox/ImapSession.h"
#include "mailbox/LoginDelay.h"
#include "mailbox/MailMessage.h"
#include "support/DovecotServer.h"
#include "support/FakeImapServer.h"

using Fault = FakePop3Server::Fault;


namespace {

QByteArray mail(int i, const QByteArray &fields = {})
{
    const QByteArray n = QByteArray::number(i);
    return "From: <s" + n + "@example.org>\r\nTo: pelicorde@example.com\r\nSubject: Message " + n
           + "\r\nDate: Mon, 3 Jun 2024 10:00:00 +0200\r\n" + fields + "\r\nCorps " + n + "\r\n";
}

// The header fields a scan asks for, as the server gives them.
QByteArray listFields(const QByteArray &m)
{
    QByteArray out;
    for (const QByteArray &line : m.left(m.indexOf("\r\n\r\n") + 2).split('\n'))
        for (const char *name : {"From:", "Subject:", "Date:", "Content-Type:"})
            if (line.startsWith(name))
                out += line + '\n';
    return out + "\r\n";
}

QByteArray multipart(const QByteArray &type, const QList<QByteArray> &parts, int depth = 0)
{
    const QByteArray b = "b" + QByteArray::number(depth);
    QByteArray m = "Content-Type: multipart/" + type + "; boundary=\"" + b + "\"\r\n\r\n";
    for (const QByteArray &p : parts)
        m += "--" + b + "\r\n" + p + "\r\n";
    return m + "--" + b + "--\r\n";
}

// The error f throws as "Class: text"; empty when none.
template <typename F>
QString errorOf(F &&f)
{
    try {
        f();
    } catch (const MailboxChanged &e) {
        return "MailboxChanged: " + e.text();
    } catch (const ExpungeUnsupported &e) {
        return "ExpungeUnsupported: " + e.text();
    } catch (const MessageGone &e) {
        return "MessageGone: " + e.text();
    } catch (const EncryptionWithdrawn &e) {
        return "EncryptionWithdrawn: " + e.text();
    } catch (const LoginRefused &e) {
        return "LoginRefused: " + e.text();
    } catch (const Pop3ProtocolError &e) {
        return "Pop3ProtocolError: " + e.text();
    } catch (const Error &e) {
        return "Error: " + e.text();
    }
    return {};
}

} // namespace

class ImapSessionTest : public QObject
{
    Q_OBJECT
    DovecotServer dovecot;

    QList<quint32> uidsOf(ImapSession &s)
    {
        QList<quint32> uids;
        s.headers(1, s.messageCount(), [&](int, quint32 uid, quint32, const QByteArray &) { uids << uid; });
        return uids;
    }

private slots:
    void initTestCase() { QVERIFY2(dovecot.start(), qPrintable(dovecot.errorText())); }

    // Headers of a mailbox of several chunks in order, each once; the whole message by its UID;
    // nothing marked \Seen.
    void reading_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::newRow("STARTTLS") << false;
        QTest::newRow("implicit TLS") << true;
    }
    void reading()
    {
        QFETCH(bool, tls);
        QList<QByteArray> box;
        for (int i = 1; i <= 1100; ++i)
            box << mail(i, i % 100 ? QByteArray() : "Content-Type: text/html\r\n");
        dovecot.setMessages(box);
        ImapSession s;
        s.open(dovecot.imapAccount(tls));
        QVERIFY(s.encrypted());
        QVERIFY(s.hasCapability("IDLE") && s.hasCapability("MOVE") && s.hasCapability("UIDPLUS"));
        s.select(true);
        QCOMPARE(s.messageCount(), 1100);
        QVERIFY(s.uidValidity() != 0);
        QList<int> order, expectedOrder;
        QList<QByteArray> headers, expectedHeaders;
        QList<quint32> uids;
        s.headers(1, 1100, [&](int n, quint32 uid, quint32 size, const QByteArray &header) {
            order << n;
            uids << uid;
            headers << header + QByteArray::number(size);
        });
        for (int i = 1; i <= 1100; ++i) {
            expectedOrder << i;
            expectedHeaders << listFields(box[i - 1]) + QByteArray::number(box[i - 1].size());
        }
        QCOMPARE(order, expectedOrder);
        QCOMPARE(headers, expectedHeaders);
        QCOMPARE(s.message(uids[1099]), box[1099]);
        QCOMPARE(errorOf([&] { s.message(uids[1099] + 1); }),
                 QStringLiteral("MessageGone: Le message demandé n'est plus sur le serveur %1:%2")
                     .arg(dovecot.host()).arg(dovecot.imapAccount(tls).port));
        QCOMPARE(errorOf([&] { s.remove(s.uidValidity(), {uids[0]}, ImapSession::Removal::Expunge); }),
                 QStringLiteral("Error: Boîte aux lettres ouverte en lecture seule sur le serveur %1:%2")
                     .arg(dovecot.host()).arg(dovecot.imapAccount(tls).port));
        s.logout();
        QCOMPARE(dovecot.storedFlags(), QStringList(1100, QString()));
    }

    // The attachments read from BODYSTRUCTURE are those MailMessage finds in the whole message.
    void structures_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("count");
        const QByteArray text = "Content-Type: text/plain; charset=utf-8\r\n\r\nBonjour\r\n";
        const QByteArray pdf = "Content-Type: application/pdf\r\nContent-Disposition: attachment; filename=\"rapport.pdf\"\r\n\r\nJVBE\r\n";
        QTest::newRow("text alone") << text << 0;
        QTest::newRow("named in its disposition") << multipart("mixed", {text, pdf}) << 1;
        QTest::newRow("named in its type") << multipart("mixed", {text, "Content-Type: image/png; name=photo.png\r\n\r\niVBO"}) << 1;
        QTest::newRow("text attached") << multipart("mixed", {text, "Content-Type: text/plain\r\nContent-Disposition: attachment\r\n\r\nnotes"}) << 1;
        QTest::newRow("text named") << multipart("mixed", {text, "Content-Type: text/csv; name=\"t.csv\"\r\n\r\na;b"}) << 1;
        QTest::newRow("RFC 2231") << multipart("mixed", {text, "Content-Type: application/pdf\r\nContent-Disposition: attachment; filename*=utf-8''%C3%A9t%C3%A9.pdf\r\n\r\nx"}) << 1;
        QTest::newRow("RFC 2231 continued") << multipart("mixed", {text, "Content-Type: application/pdf; name*0*=utf-8''r%C3%A9su; name*1*=m%C3%A9.pdf\r\n\r\nx"}) << 1;
        QTest::newRow("RFC 2047") << multipart("mixed", {text, "Content-Type: application/pdf; name=\"=?utf-8?B?w6l0w6kucGRm?=\"\r\n\r\nx"}) << 1;
        QTest::newRow("folder in the name") << multipart("mixed", {text, "Content-Type: application/pdf; name=\"../../x/passwd\"\r\n\r\nx"}) << 1;
        QTest::newRow("forwarded mail") << multipart("mixed", {text, "Content-Type: message/rfc822\r\n\r\nSubject: =?utf-8?Q?r=C3=A9union?= |x\r\n\r\nvu"}) << 1;
        QTest::newRow("forwarded mail named") << multipart("mixed", {text, "Content-Type: message/rfc822; name=fwd.eml\r\n\r\n" + pdf}) << 1;
        QTest::newRow("inline image") << multipart("related", {"Content-Type: text/html\r\n\r\n<img src=cid:a>", "Content-Type: image/gif\r\nContent-ID: <a>\r\n\r\nR0lG"}) << 1;
        QTest::newRow("nested") << multipart("mixed", {multipart("alternative", {text, "Content-Type: text/html\r\n\r\n<p>"}, 1), pdf, pdf}) << 2;
        QTest::newRow("single part") << QByteArray("Content-Type: application/zip; name=a.zip\r\n\r\nUEsD") << 1;
        QTest::newRow("unreadable type") << multipart("mixed", {text, "Content-Type: garbage\r\n\r\nx"}) << -1;
        QTest::newRow("unnamed") << multipart("mixed", {text, "Content-Type: application/octet-stream\r\n\r\nx"}) << 1;
    }
    void structures()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, count);
        const QByteArray message = "From: a@example.org\r\nSubject: PJ\r\nMIME-Version: 1.0\r\n" + body;
        dovecot.setMessages({message});
        AttachmentInfo expected;
        const MailMessage whole = MailMessage::parse(message);
        for (const MailPart &part : whole.parts())
            if (part.kind == MailPart::Attachment)
                expected.names << attachments::safeFileName(part.fileName, ++expected.count);
        ImapSession s;
        s.open(dovecot.imapAccount());
        s.select(true);
        AttachmentInfo got;
        s.structures(1, 1, [&](int, quint32, const AttachmentInfo &info) { got = info; });
        QCOMPARE(got.names, expected.names);
        QCOMPARE(got.count, expected.count);
        if (count >= 0)
            QCOMPARE(got.count, count);
        QCOMPARE(dovecot.storedFlags(), QStringList{QString()});
    }

    // Exactly the UIDs given leave the INBOX, into Junk or for good; UIDs gone already are no error.
    void removal_data()
    {
        QTest::addColumn<bool>("toJunk");
        QTest::newRow("to Junk") << true;
        QTest::newRow("expunged") << false;
    }
    void removal()
    {
        QFETCH(bool, toJunk);
        const QList<QByteArray> box{mail(1), mail(2), mail(3), mail(4), mail(5)};
        dovecot.setMessages(box);
        ImapSession s;
        s.open(dovecot.imapAccount());
        s.select(false);
        const QList<quint32> uids = uidsOf(s);
        QCOMPARE(s.junkFolder(), QByteArray("Junk"));
        const auto how = toJunk ? ImapSession::Removal::ToJunk : ImapSession::Removal::Expunge;
        QCOMPARE(s.remove(s.uidValidity(), {uids[3], uids[1], uids[4] + 100}, how), 2);
        QCOMPARE(s.messageCount(), 3);
        s.logout();
        QCOMPARE(dovecot.storedMessages(), (QList<QByteArray>{box[0], box[2], box[4]}));
        QList<QByteArray> junk = dovecot.storedMessages(QStringLiteral("Junk"));
        std::sort(junk.begin(), junk.end());
        QCOMPARE(junk, toJunk ? (QList<QByteArray>{box[1], box[3]}) : QList<QByteArray>());
    }

    // New mail is told at once, also after IDLE was renewed; the session is usable after.
    void idle()
    {
        dovecot.setMessages({mail(1), mail(2)});
        ImapSession s;
        s.open(dovecot.imapAccount());
        s.select(true);
        s.setIdleRenewal(300);
        QList<int> told;
        QString failure;
        QVERIFY(s.startIdle([&](int count) { told << count; }, [&](const QString &text) { failure = text; }));
        QTest::qWait(1000);
        dovecot.addMessage(mail(3));
        QTRY_COMPARE_WITH_TIMEOUT(told, QList<int>{3}, 10000);
        QCOMPARE(failure, QString());
        s.stopIdle();
        QCOMPARE(uidsOf(s).size(), 3);
        s.logout();
    }

    // Faults of the scripted server: each ends with an Error naming the server and the step,
    // before anything is removed or a password goes out where it should not.
    void faults_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QByteArray>("verb");
        QTest::addColumn<int>("fault");
        QTest::addColumn<QByteArray>("stray");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("left");
        const auto row = [](const char *name, const char *script, const char *verb, Fault fault, const QByteArray &stray,
                            const QString &expected, int left = 3) {
            QTest::newRow(name) << QString::fromLatin1(script) << QByteArray(verb) << int(fault) << stray << expected << left;
        };
        const QString fetch = QStringLiteral("la commande FETCH 1:3");
        row("greeting BYE", "open bye", "", Fault::None, {}, "Error: Le serveur %1 a refusé l'accueil : [UNAVAILABLE] trop de connexions");
        row("POP3 greeting", "open", "GREETING", Fault::Garbage, {}, "Error: Réponse incompréhensible du serveur %1 pendant l'accueil : « +OK POP3 server ready »");
        row("no greeting", "open", "GREETING", Fault::Stall, {}, "Error: Le serveur %1 ne répond plus (0,5 s sans réponse) pendant l'accueil");
        row("STARTTLS", "open stls", "", Fault::None, {}, "");
        row("STARTTLS refused", "open stls", "STARTTLS", Fault::Err, {}, "Error: Échec de la négociation TLS avec le serveur %1 : scripted failure");
        row("STARTTLS refused, TLS known", "open stls tlsRequired", "STARTTLS", Fault::Err, {},
            "EncryptionWithdrawn: Le serveur %1 ne propose plus le chiffrement : connexion refusée pour protéger le mot de passe");
        row("STARTTLS gone, TLS known", "open tlsRequired", "", Fault::None, {},
            "EncryptionWithdrawn: Le serveur %1 ne propose plus le chiffrement : connexion refusée pour protéger le mot de passe");
        row("LOGINDISABLED in clear text", "open loginDisabled", "", Fault::None, {},
            "Error: Le serveur %1 refuse l'identification sans chiffrement et ne propose pas de le chiffrer");
        row("password as a literal", "open accented", "", Fault::None, {}, "");
        row("SASL only", "open stls sasl", "", Fault::None, {}, "");
        row("PREAUTH", "open preauth", "", Fault::None, {}, "");
        row("PREAUTH, TLS known", "open preauth tlsRequired", "", Fault::None, {},
            "EncryptionWithdrawn: Le serveur %1 ne propose plus le chiffrement : connexion refusée pour protéger le mot de passe");
        row("wrong password", "open wrongPassword", "", Fault::None, {},
            "LoginRefused: Identification refusée par le serveur %1 : [AUTHENTICATIONFAILED] Authentication failed.");
        row("hostile EXISTS", "headers exists=4294967295", "", Fault::None, {},
            "Error: Réponse incompréhensible du serveur %1 pendant la commande EXAMINE INBOX : « * 4294967295 EXISTS »");
        row("EXISTS past the limit", "headers exists=1000001", "", Fault::None, {},
            "Error: Réponse incompréhensible du serveur %1 pendant la commande EXAMINE INBOX : « * 1000001 EXISTS »");
        row("message left out", "headers skip=2", "", Fault::None, {}, "Pop3ProtocolError: Le serveur %1 n'a pas donné le message 2 pendant " + fetch);
        for (const char *n : {"1", "9"})
            row(n[0] == '1' ? "message twice" : "message not asked for", "headers", "FETCH", Fault::Stray,
                "* " + QByteArray(n) + " FETCH (UID 9 RFC822.SIZE 1 BODY[HEADER.FIELDS (FROM)] {0}\r\n)\r\n",
                "Pop3ProtocolError: Réponse du serveur %1 sans rapport avec " + fetch);
        row("unknown tag", "headers", "FETCH", Fault::Stray, "Z9 OK done\r\n",
            "Pop3ProtocolError: Réponse en trop du serveur %1 après la commande EXAMINE INBOX : échange désynchronisé");
        row("tag answered twice", "headers", "EXAMINE", Fault::Twice, {},
            "Pop3ProtocolError: Réponse en trop du serveur %1 après la commande EXAMINE INBOX : échange désynchronisé");
        row("expunged meanwhile", "headers", "FETCH", Fault::Stray, "* 1 EXPUNGE\r\n", "MailboxChanged: La boîte aux lettres du serveur %1 a changé pendant " + fetch);
        row("BYE meanwhile", "headers", "FETCH", Fault::Stray, "* BYE arrêt\r\n", "Error: Le serveur %1 a mis fin à la session pendant " + fetch + " : arrêt");
        row("responses nobody asked for", "headers", "FETCH", Fault::Stray, QByteArray("* OK encore là\r\n").repeated(5000),
            "Pop3ProtocolError: Réponses en trop du serveur %1 pendant " + fetch);
        row("header past its cap", "headers bigHeader", "", Fault::None, {}, "Error: Réponse trop longue du serveur %1 pendant " + fetch);
        row("FETCH refused", "headers", "FETCH", Fault::Err, {}, "Error: Le serveur %1 a refusé " + fetch + " : scripted failure");
        row("FETCH stalls", "headers", "FETCH", Fault::Stall, {}, "Error: Le serveur %1 ne répond plus (0,5 s sans réponse) pendant " + fetch);
        row("FETCH trickles", "headers slow", "FETCH", Fault::Trickle, {}, "Error: Le serveur %1 répond trop lentement : opération abandonnée pendant " + fetch);
        row("FETCH cut", "headers", "FETCH", Fault::DropHalf, {}, "Error: Connexion interrompue par le serveur %1 pendant " + fetch);
        row("moved", "toJunk", "", Fault::None, {}, "", 2);
        row("without MOVE", "toJunk noMove", "", Fault::None, {}, "", 2);
        row("without UIDPLUS", "expunge noUidPlus", "", Fault::None, {},
            "ExpungeUnsupported: Le serveur %1 ne sait pas effacer un message choisi (pas d'UIDPLUS) : rien n'a été supprimé");
        row("without MOVE or UIDPLUS", "toJunk noMove noUidPlus", "", Fault::None, {},
            "ExpungeUnsupported: Le serveur %1 ne sait pas effacer un message choisi (pas d'UIDPLUS) : rien n'a été supprimé");
        row("without Junk", "toJunk noJunk", "", Fault::None, {}, "Error: Le serveur %1 n'a pas de dossier des indésirables : rien n'a été déplacé");
        row("UIDVALIDITY changed", "expunge changed", "", Fault::None, {},
            "MailboxChanged: La boîte aux lettres du serveur %1 a changé depuis la lecture des messages : rien n'a été supprimé");
        row("UID MOVE refused", "toJunk", "UID MOVE", Fault::Err, {}, "Error: Le serveur %1 a refusé la commande UID MOVE : scripted failure");
        row("new mail", "idle", "", Fault::None, {}, "told 4", 4);
        row("renewed", "idle renew", "", Fault::None, {}, "told 4", 4);
        row("without IDLE", "idle noIdle", "", Fault::None, {}, "IDLE absent", 4);
        row("connection dropped", "idle drop", "", Fault::None, {}, "onFailure: Connexion interrompue par le serveur %1 pendant la commande IDLE", 4);
        row("DONE unanswered", "idle renew", "DONE", Fault::Stall, {}, "onFailure: Le serveur %1 ne répond plus (0,5 s sans réponse) pendant la commande IDLE", 4);
    }
    void faults()
    {
        QFETCH(QString, script);
        QFETCH(QByteArray, verb);
        QFETCH(int, fault);
        QFETCH(QByteArray, stray);
        QFETCH(QString, expected);
        QFETCH(int, left);
        const QStringList words = script.split(u' ');
        const auto has = [&](const char *word) { return words.contains(QLatin1String(word)); };
        const auto value = [&](const char *name) { return script.section(QLatin1String(name) + '=', 1).section(u' ', 0, 0); };
        FakeImapServer fake;
        fake.mailbox = {mail(1), has("bigHeader") ? mail(2, "X-Long: " + QByteArray(70000, 'x') + "\r\n") : mail(2), mail(3)};
        fake.greeting = has("bye") ? "* BYE [UNAVAILABLE] trop de connexions"
                        : has("preauth")   ? "* PREAUTH [CAPABILITY IMAP4rev1 IDLE] bienvenue"
                                           : fake.greeting;
        fake.saslOnly = has("sasl");
        fake.offersStls = has("stls");
        fake.loginDisabled = has("loginDisabled");
        fake.password = has("accented") ? QStringLiteral("mot-de-passé") : fake.password;
        fake.exists = value("exists").toLatin1();
        fake.skipFetch = value("skip").toInt();
        fake.hasUidPlus = !has("noUidPlus");
        fake.hasMove = !has("noMove");
        fake.hasJunk = !has("noJunk");
        fake.hasIdle = !has("noIdle");
        fake.strayReply = stray;
        if (!verb.isEmpty())
            fake.breakCommand(verb, Fault(fault));
        QVERIFY(fake.start());
        Pop3Account account = fake.account();
        account.tlsRequired = has("tlsRequired");
        account.password = has("wrongPassword") ? QStringLiteral("faux") : fake.password;
        Pop3Limits limits;
        limits.idleMs = 500;
        limits.headerBytes = limits.listingBytes = 64 * 1024;
        limits.sessionMs = has("slow") ? 1500 : limits.sessionMs;
        ImapSession s(limits);
        QString text = errorOf([&] {
            s.open(account);
            QCOMPARE(s.encrypted(), has("stls"));
            if (has("open"))
                return;
            s.select(!has("toJunk") && !has("expunge"));
            if (has("headers"))
                s.headers(1, 3, [](int, quint32, quint32, const QByteArray &) {});
            if (has("changed")) { // read under one UIDVALIDITY, removed under another
                fake.uidValidity++;
                ImapSession t(limits);
                t.open(account);
                t.select(false);
                t.remove(s.uidValidity(), {2}, ImapSession::Removal::Expunge);
            }
            if (has("toJunk") || has("expunge"))
                QCOMPARE(s.remove(s.uidValidity(), {2}, has("toJunk") ? ImapSession::Removal::ToJunk : ImapSession::Removal::Expunge), 1);
        });
        if (has("idle")) {
            QString failure;
            QList<int> told;
            s.setIdleRenewal(has("renew") ? 100 : 60000);
            if (!s.startIdle([&](int count) { told << count; }, [&](const QString &t) { failure = t; }))
                text = QStringLiteral("IDLE absent");
            QTest::qWait(has("renew") ? 1000 : 0);
            if (has("drop"))
                fake.dropClients();
            fake.deliver(mail(4));
            QTRY_VERIFY(!told.isEmpty() || !failure.isEmpty() || !text.isEmpty());
            text = text.isEmpty() ? (failure.isEmpty() ? QStringLiteral("told %1").arg(told.value(0)) : "onFailure: " + failure) : text;
            if (has("renew") && failure.isEmpty())
                QVERIFY(fake.commands.count("DONE") >= 3);
        }
        QCOMPARE(text, expected.arg(QStringLiteral("127.0.0.1:%1").arg(fake.port())));
        if (left >= 0)
            QCOMPARE(fake.mailbox.size(), left);
        QCOMPARE(fake.junk.size(), has("toJunk") && expected.isEmpty() ? 1 : 0);
        const auto sent = [&](const char *command) {
            return std::any_of(fake.commands.cbegin(), fake.commands.cend(), [&](const QByteArray &c) { return c.contains(command); });
        };
        QCOMPARE(sent(" LOGIN "), !has("bye") && !has("tlsRequired") && !has("loginDisabled") && !has("sasl") && !has("preauth")
                                && verb != "GREETING" && verb != "STARTTLS");
        QCOMPARE(sent(" AUTHENTICATE PLAIN"), has("sasl"));
    }
};

QTEST_GUILESS_MAIN(ImapSessionTest)
#include "test_imapsession.moc"
