// SPDX-License-Identifier: GPL-3.0-or-later
// The IMAP session against a real Dovecot (reading, structures, removal, IDLE), and against the
// scripted server for the faults Dovecot does not make.
#include <QtTest>

#include "core/SafeFile.h"
#include "protocol/imap/ImapSession.h"
#include "protocol/LoginDelay.h"
#include "message/MailMessage.h"
#include "support/DovecotServer.h"
#include "support/FakeImapServer.h"

using Fault = FakePop3Server::Fault;
using Script = QMap<QByteArray, QByteArray>;


namespace {

QByteArray mail(int i, const QByteArray &fields = {})
{
    const QByteArray n = QByteArray::number(i);
    return "From: <s" + n + "@example.org>\r\nTo: pelicorde@example.com\r\nSubject: Message " + n
           + "\r\nDate: Mon, 3 Jun 2024 10:00:00 +0200\r\n" + fields + "\r\nCorps " + n + "\r\n";
}

// The header block a scan asks for, blank line included, as the server gives it.
QByteArray headerBlock(const QByteArray &m)
{
    return m.left(m.indexOf("\r\n\r\n") + 4);
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
    } catch (const Error &e) {
        // The class's name as the Itanium ABI mangles it: its length, then itself.
        return QString::fromLatin1(typeid(e).name()).remove(QRegularExpression(QStringLiteral("^\\d+"))) + ": " + e.text();
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
        s.headers(1, s.messageCount(), [&](int, quint32 uid, const QByteArray &) { uids << uid; });
        return uids;
    }

private slots:
    void initTestCase() { QVERIFY2(dovecot.start(), qPrintable(dovecot.errorText())); }

    // Whole header blocks and structures of a mailbox of several chunks in order, each once,
    // the part headers some structures call for fetched within the pass; the whole message by
    // its UID; nothing marked \Seen. With a small listing cap, one chunk at a time is asked.
    void reading_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::addColumn<qsizetype>("listingBytes");
        QTest::newRow("STARTTLS") << false << qsizetype(0);
        QTest::newRow("implicit TLS") << true << qsizetype(0);
        QTest::newRow("little room to ask ahead") << false << qsizetype(256 * 1024);
    }
    void reading()
    {
        QFETCH(bool, tls);
        QFETCH(qsizetype, listingBytes);
        QList<QByteArray> box;
        const auto odd = [](int i) {
            return "MIME-Version: 1.0\r\n" + multipart("mixed", {"Content-Type: text/plain\r\n\r\nx",
                                                                 "Content-Type: BINARY;name=\"n" + QByteArray::number(i) + ".bin\"\r\n\r\ny"});
        };
        for (int i = 1; i <= 1100; ++i)
            box << mail(i, i % 100 == 50 ? odd(i) : i % 100 ? QByteArray() : "Content-Type: text/html\r\n");
        dovecot.setMessages(box);
        SessionLimits limits = SessionLimits::defaults();
        if (listingBytes)
            limits.listingBytes = listingBytes;
        ImapSession s(limits);
        s.open(dovecot.imapAccount(tls));
        QVERIFY(s.encrypted());
        QVERIFY(s.hasCapability("IDLE") && s.hasCapability("MOVE") && s.hasCapability("UIDPLUS"));
        s.select(true);
        QCOMPARE(s.messageCount(), 1100);
        QVERIFY(s.uidValidity() != 0);
        QList<int> order, expectedOrder;
        QList<QByteArray> headers, expectedHeaders;
        QList<quint32> uids;
        s.headers(1, 1100, [&](int n, quint32 uid, const QByteArray &header) {
            order << n;
            uids << uid;
            headers << header;
        });
        for (int i = 1; i <= 1100; ++i) {
            expectedOrder << i;
            expectedHeaders << headerBlock(box[i - 1]);
        }
        QCOMPARE(order, expectedOrder);
        QCOMPARE(headers, expectedHeaders);
        QStringList listed, expectedListed;
        s.structures(1, 1100, [&](int n, quint32, const AttachmentInfo &info) { listed << QString::number(n) + info.names.join(u'|'); });
        for (int i = 1; i <= 1100; ++i)
            expectedListed << QString::number(i) + (i % 100 == 50 ? QStringLiteral("n%1.bin").arg(i) : QString());
        QCOMPARE(listed, expectedListed);
        // The same, the structures read with the headers.
        headers.clear();
        listed.clear();
        s.headers(1, 1100, [&](int, quint32, const QByteArray &header) { headers << header; },
                  [&](int n, quint32, const AttachmentInfo &info) { listed << QString::number(n) + info.names.join(u'|'); });
        QCOMPARE(headers, expectedHeaders);
        QCOMPARE(listed, expectedListed);
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

    // The attachments read from BODYSTRUCTURE are those MailMessage finds in the whole message,
    // whether the structure is read directly or through a skeleton.
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
        QTest::newRow("forwarded mail without a subject") << multipart("mixed", {text, "Content-Type: message/rfc822\r\n\r\nFrom: a@b\r\n\r\nvu"}) << 1;
        QTest::newRow("disposition in capitals") << multipart("mixed", {text, "Content-Type: TEXT/PLAIN\r\nContent-Disposition: ATTACHMENT\r\n\r\nnotes"}) << 1;
        QTest::newRow("quotes in the name") << multipart("mixed", {text, "Content-Type: application/pdf; name=\"le \\\"bilan\\\".pdf\"\r\n\r\nx"}) << 1;
        QTest::newRow("inline image") << multipart("related", {"Content-Type: text/html\r\n\r\n<img src=cid:a>", "Content-Type: image/gif\r\nContent-ID: <a>\r\n\r\nR0lG"}) << 1;
        QTest::newRow("nested") << multipart("mixed", {multipart("alternative", {text, "Content-Type: text/html\r\n\r\n<p>"}, 1), pdf, pdf}) << 2;
        QTest::newRow("single part") << QByteArray("Content-Type: application/zip; name=a.zip\r\n\r\nUEsD") << 1;
        QTest::newRow("unreadable type") << multipart("mixed", {text, "Content-Type: garbage\r\n\r\nx"}) << -1;
        QTest::newRow("unnamed") << multipart("mixed", {text, "Content-Type: application/octet-stream\r\n\r\nx"}) << 1;
        // Headers the server reads short: the part's own header is fetched.
        const auto odd = [&](const char *name, const QByteArray &header) {
            QTest::newRow(name) << multipart("mixed", {text, pdf, header + "\r\n\r\nx"}) << 2;
        };
        odd("type the server cannot read", "Content-Type: BINARY;name=\"a.bin\"");
        odd("type without its semicolon", "Content-Type: application/pdf name=\"x.pdf\"");
        odd("empty type", "Content-Type: ;name=\"e.bin\"");
        odd("quoted type", "Content-Type: \"application/pdf\"; name=\"q.pdf\"");
        odd("disposition without its semicolon", "Content-Type: text/plain\r\nContent-Disposition: attachment filename=\"x.txt\"");
        odd("unquoted name with a blank", "Content-Type: application/pdf; name=my file.pdf");
        odd("unquoted file name with a blank", "Content-Type: image/png\r\nContent-Disposition: inline; filename=ma photo.png");
        QTest::newRow("single part the server cannot read") << QByteArray("Content-Type: BINARY; name=\"seul.bin\"\r\n\r\nx") << 1;
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
        QVERIFY(s.startIdle([&](int count) { told << count; }, [&](const Error &e) { failure = e.text(); }));
        QTest::qWait(1000);
        dovecot.addMessage(mail(3));
        QTRY_COMPARE_WITH_TIMEOUT(told, QList<int>{3}, 10000);
        QCOMPARE(failure, QString());
        s.stopIdle();
        QCOMPARE(uidsOf(s).size(), 3);
        s.logout();
    }

    // Faults of the scripted server: each ends with an Error naming the server and the step,
    // before anything is removed or a password goes out where it should not. wire: what was sent
    // ("+…") or not ("-…").
    void faults_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<Script>("script");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QByteArrayList>("wire");
        QTest::addColumn<QByteArray>("verb");
        QTest::addColumn<int>("fault");
        const auto row = [](const char *name, const char *action, const Script &script, const QString &expected,
                            const QByteArrayList &wire = {}, const QByteArray &verb = {}, Fault fault = Fault::None) {
            QTest::newRow(name) << QString::fromLatin1(action) << script << expected << wire << verb << int(fault);
        };
        const auto caps = [](const char *offered) {
            return "* CAPABILITY IMAP4rev1 SPECIAL-USE " + QByteArray(offered) + "\r\n$ OK done";
        };
        const QByteArray all = FakeImapServer::fetched(1) + FakeImapServer::fetched(2) + FakeImapServer::fetched(3);
        const QString fetch = QStringLiteral("la commande FETCH 1:3");
        const QString withdrawn = QStringLiteral("EncryptionWithdrawn: Le serveur %1 ne propose plus le chiffrement : connexion refusée pour protéger le mot de passe");
        const QString noUidPlus = QStringLiteral("ExpungeUnsupported: Le serveur %1 ne sait pas effacer un message choisi (pas d'UIDPLUS) : rien n'a été supprimé");
        const QByteArray stored = "UID STORE 2 +FLAGS.SILENT (\\Deleted)";
        row("greeting BYE", "open", {{"GREETING", "* BYE [UNAVAILABLE] trop de connexions"}},
            "Error: Le serveur %1 a refusé l'accueil : [UNAVAILABLE] trop de connexions", {"-LOGIN"});
        row("POP3 greeting", "open", {{"GREETING", "+OK POP3 server ready"}},
            "Error: Le serveur %1 parle POP3, pas IMAP : écrivez pop3://127.0.0.1 comme serveur (pop3s:// pour un "
            "port chiffré d'emblée)", {"-LOGIN"});
        row("no greeting", "open", {}, "Error: Le serveur %1 ne répond plus (0,5 s sans réponse) pendant l'accueil", {}, "GREETING", Fault::Stall);
        row("STARTTLS", "open stls", {{"CAPABILITY", caps("STARTTLS")}}, "", {"+STARTTLS", "+LOGIN"});
        row("STARTTLS refused", "open", {{"CAPABILITY", caps("STARTTLS")}, {"STARTTLS", "$ NO non"}},
            "Error: Échec de la négociation TLS avec le serveur %1 : non", {"-LOGIN"});
        row("STARTTLS refused, TLS known", "open tlsRequired", {{"CAPABILITY", caps("STARTTLS")}, {"STARTTLS", "$ NO non"}}, withdrawn, {"-LOGIN"});
        row("STARTTLS gone, TLS known", "open tlsRequired", {}, withdrawn, {"-LOGIN"});
        row("LOGINDISABLED in clear text", "open", {{"CAPABILITY", caps("LOGINDISABLED")}},
            "Error: Le serveur %1 refuse l'identification sans chiffrement et ne propose pas de le chiffrer", {"-LOGIN"});
        row("password as a literal", "open accented", {{"+", "$ OK logged in"}}, "", {"+LOGIN pelicorde@example.com {13}", "+mot-de-passé"});
        row("SASL only", "open stls", {{"CAPABILITY", caps("STARTTLS LOGINDISABLED AUTH=PLAIN")}, {"+", "$ OK logged in"}}, "",
            {"-LOGIN", "+AUTHENTICATE PLAIN", "+" + QByteArray("\0pelicorde@example.com\0secret", 29).toBase64()});
        row("PREAUTH", "open", {{"GREETING", "* PREAUTH [CAPABILITY IMAP4rev1] bienvenue"}}, "", {"-LOGIN", "-CAPABILITY"});
        row("PREAUTH, TLS known", "open tlsRequired", {{"GREETING", "* PREAUTH [CAPABILITY IMAP4rev1] bienvenue"}}, withdrawn);
        row("wrong password", "open", {{"LOGIN", "$ NO [AUTHENTICATIONFAILED] Authentication failed."}},
            "LoginRefused: Identification refusée par le serveur %1 : [AUTHENTICATIONFAILED] Authentication failed.");
        for (const char *count : {"4294967295", "1000001"})
            row(count[0] == '4' ? "hostile EXISTS" : "EXISTS past the limit", "headers", {{"EXAMINE", "* " + QByteArray(count) + " EXISTS\r\n$ OK done"}},
                QStringLiteral("Error: Réponse incompréhensible du serveur %1 pendant la commande EXAMINE INBOX : « * %2 EXISTS »").arg("%1", count));
        row("messages out of order", "headers", {{"FETCH", FakeImapServer::fetched(2) + FakeImapServer::fetched(3) + FakeImapServer::fetched(1) + "$ OK done"}}, "");
        row("message left out", "headers", {{"FETCH", FakeImapServer::fetched(1) + FakeImapServer::fetched(3) + "$ OK done"}},
            "ProtocolError: Le serveur %1 n'a pas donné le message 2 pendant " + fetch);
        row("message twice", "headers", {{"FETCH", FakeImapServer::fetched(1) + all + "$ OK done"}},
            "ProtocolError: Réponse du serveur %1 sans rapport avec " + fetch);
        row("message not asked for", "headers", {{"FETCH", all + FakeImapServer::fetched(9) + "$ OK done"}},
            "ProtocolError: Réponse du serveur %1 sans rapport avec " + fetch);
        row("unknown tag", "headers", {{"FETCH", all + "Z9 OK done\r\n$ OK done"}},
            "ProtocolError: Réponse en trop du serveur %1 après la commande EXAMINE INBOX : échange désynchronisé");
        row("tag answered twice", "headers", {}, "ProtocolError: Réponse en trop du serveur %1 après la commande EXAMINE INBOX : échange désynchronisé",
            {}, "EXAMINE", Fault::Twice);
        row("expunged meanwhile", "headers", {{"FETCH", FakeImapServer::fetched(1) + "* 1 EXPUNGE\r\n" + all + "$ OK done"}},
            "MailboxChanged: La boîte aux lettres du serveur %1 a changé pendant " + fetch);
        row("BYE meanwhile", "headers", {{"FETCH", FakeImapServer::fetched(1) + "* BYE arrêt"}},
            "Error: Le serveur %1 a mis fin à la session pendant " + fetch + " : arrêt");
        row("responses nobody asked for", "headers", {{"FETCH", QByteArray("* OK encore là\r\n").repeated(5000) + all + "$ OK done"}},
            "ProtocolError: Réponses en trop du serveur %1 pendant " + fetch);
        row("header past its cap", "headers", {{"FETCH", FakeImapServer::fetched(1, QByteArray(70000, 'x')) + "$ OK done"}},
            "Error: Réponse trop longue du serveur %1 pendant " + fetch);
        row("FETCH refused", "headers", {{"FETCH", "$ NO non"}}, "Error: Le serveur %1 a refusé " + fetch + " : non");
        row("FETCH stalls", "headers", {}, "Error: Le serveur %1 ne répond plus (0,5 s sans réponse) pendant " + fetch, {}, "FETCH", Fault::Stall);
        row("FETCH trickles", "headers slow", {}, "Error: Le serveur %1 répond trop lentement : opération abandonnée pendant " + fetch, {}, "FETCH", Fault::Trickle);
        row("FETCH cut", "headers", {}, "Error: Connexion interrompue par le serveur %1 pendant " + fetch, {}, "FETCH", Fault::DropHalf);
        // A structure past the limits costs its own row; a part the server cannot describe has
        // its header read, and only such a part.
        const auto structures = [](const QByteArray &second, const QByteArray &more = "$ OK done") {
            const auto one = [](int n, const QByteArray &structure) {
                return "* " + QByteArray::number(n) + " FETCH (UID " + QByteArray::number(n) + " BODYSTRUCTURE " + structure + ")\r\n";
            };
            const QByteArray text = "(\"text\" \"plain\" NIL NIL NIL \"7bit\" 1 1)";
            const QByteArray pdf = "(\"application\" \"pdf\" (\"name\" \"a.pdf\") NIL NIL \"base64\" 4 NIL)";
            return Script{{"FETCH", one(1, "(" + text + pdf + " \"mixed\")") + one(2, second) + one(3, text) + "$ OK done"},
                          {"UID FETCH", more}};
        };
        QByteArray deep = "(\"application\" \"pdf\" NIL NIL NIL \"base64\" 4 NIL)";
        for (int i = 0; i < 70; ++i)
            deep = "(" + deep + " \"mixed\")";
        const QByteArray many = "(" + QByteArray("(\"text\" \"plain\" (\"charset\" \"us-ascii\") NIL NIL \"7bit\" 0 0)").repeated(8000) + " \"mixed\")";
        const QByteArray unread = "((\"text\" \"plain\" NIL NIL NIL \"7bit\" 1 1)(\"\" \"\" NIL NIL NIL \"7bit\" 4 NIL) \"mixed\")";
        const QByteArray header = "Content-Type: BINARY;name=\"a.bin\"\r\n\r\n";
        const QByteArray mime = "* 2 FETCH (UID 2 BODY[2.MIME] {" + QByteArray::number(header.size()) + "}\r\n" + header + ")\r\n$ OK done";
        row("structure nested too deep", "structures", structures(deep), "1:a.pdf 2:? 3:_", {"-UID FETCH"});
        row("structure of 8,000 parts", "structures", structures(many), "1:a.pdf 2:? 3:_", {"-UID FETCH"});
        // Read with the headers: the header of a structure past the limits is asked again alone.
        Script both = structures(deep);
        for (int n = 1; n <= 3; ++n) {
            const QByteArray mark = "* " + QByteArray::number(n) + " FETCH (UID " + QByteArray::number(n) + " BODYSTRUCTURE ";
            both["FETCH"].replace(mark, FakeImapServer::fetched(n).chopped(3) + " BODYSTRUCTURE ");
        }
        both["FETCH 2 (UID BODY.PEEK[HEADER])"] = FakeImapServer::fetched(2) + "$ OK done";
        row("structure nested too deep, with the headers", "both", both, "1:a.pdf 2:? 3:_",
            {"+FETCH 1:3 (UID BODY.PEEK[HEADER] BODYSTRUCTURE)", "+FETCH 2 (UID BODY.PEEK[HEADER])"});
        row("structure past the message cap", "structures small", structures(many), "Error: Réponse trop longue du serveur %1 pendant " + fetch);
        row("type the server cannot read", "structures", structures(unread, mime), "1:a.pdf 2:a.bin 3:_", {"+UID FETCH 2 (BODY.PEEK[2.MIME])"});
        row("its header refused", "structures", structures(unread, "$ NO non"), "1:a.pdf 2:_ 3:_");
        row("its header past its cap", "structures", structures(unread, "* 2 FETCH (UID 2 BODY[2.MIME] {70000}\r\n" + QByteArray(70000, 'x') + ")\r\n$ OK done"),
            "1:a.pdf 2:_ 3:_");
        row("no room to wait for its header", "structures tight", structures(unread, mime), "1:a.pdf 2:_ 3:_", {"-UID FETCH"});
        row("oversized response not asked for", "structures", structures(unread, "* SEARCH" + QByteArray(" 1").repeated(35000) + "\r\n" + mime),
            "Error: Réponse trop longue du serveur %1 pendant la commande UID FETCH 2");
        row("moved", "toJunk", {}, "", {"+LIST (SPECIAL-USE) \"\" \"*\"", "+UID MOVE 2 Junk", "-UID STORE"});
        row("without MOVE", "toJunk", {{"CAPABILITY", caps("UIDPLUS")}}, "", {"+UID COPY 2 Junk", "+" + stored, "+UID EXPUNGE 2"});
        row("expunged", "expunge", {}, "", {"+" + stored, "+UID EXPUNGE 2", "-UID COPY", "-LIST"});
        row("without UIDPLUS", "expunge", {{"CAPABILITY", caps("MOVE")}}, noUidPlus, {"-UID STORE"});
        row("without MOVE or UIDPLUS", "toJunk", {{"CAPABILITY", caps("IDLE")}}, noUidPlus, {"-UID "});
        row("without Junk", "toJunk", {{"LIST", "$ OK done"}}, "Error: Le serveur %1 n'a pas de dossier des indésirables : rien n'a été déplacé", {"-UID "});
        row("UIDVALIDITY changed", "expunge changed", {},
            "MailboxChanged: La boîte aux lettres du serveur %1 a changé depuis la lecture des messages : rien n'a été supprimé", {"-UID "});
        row("UID MOVE refused", "toJunk", {{"UID MOVE", "$ NO plein"}}, "RemovalFailed: Le serveur %1 a refusé la commande UID MOVE : plein");
        row("new mail", "idle", {}, "told 4", {"+IDLE"});
        row("renewed", "idle renew", {}, "told 4", {"+DONE"});
        row("without IDLE", "idle", {{"CAPABILITY", caps("MOVE")}}, "IDLE absent", {"-IDLE"});
        row("connection dropped", "idle drop", {}, "onFailure: Connexion interrompue par le serveur %1 pendant la commande IDLE");
        row("DONE unanswered", "idle renew", {}, "onFailure: Le serveur %1 ne répond plus (0,5 s sans réponse) pendant la commande IDLE", {}, "+", Fault::Stall);
    }
    void faults()
    {
        QFETCH(QString, action);
        QFETCH(Script, script);
        QFETCH(QString, expected);
        QFETCH(QByteArrayList, wire);
        QFETCH(QByteArray, verb);
        QFETCH(int, fault);
        const auto has = [&](const char *word) { return action.split(u' ').contains(QLatin1String(word)); };
        FakeImapServer fake;
        fake.script.insert(script);
        fake.offersStls = fake.script["CAPABILITY"].contains("STARTTLS");
        if (!verb.isEmpty())
            fake.breakCommand(verb, Fault(fault));
        QVERIFY(fake.start());
        MailAccount account = fake.account();
        account.tlsRequired = has("tlsRequired");
        account.password = has("accented") ? QStringLiteral("mot-de-passé") : account.password;
        SessionLimits limits;
        limits.idleMs = 500;
        limits.headerBytes = limits.listingBytes = 64 * 1024;
        limits.sessionMs = has("slow") ? 1500 : limits.sessionMs;
        limits.messageBytes = has("small") ? 256 * 1024 : limits.messageBytes;
        limits.listingBytes = has("tight") ? 100 : limits.listingBytes; // the greeting's and the capabilities' size
        ImapSession s(limits);
        const bool writes = has("toJunk") || has("expunge");
        QList<int> order;
        QStringList listed;
        QString text = errorOf([&] {
            s.open(account);
            QCOMPARE(s.encrypted(), has("stls"));
            if (has("open"))
                return;
            s.select(!writes);
            if (has("headers"))
                s.headers(1, 3, [&](int n, quint32, const QByteArray &) { order << n; });
            const auto list = [&](int n, quint32, const AttachmentInfo &info) {
                listed << QStringLiteral("%1:%2").arg(n).arg(!info.known ? QStringLiteral("?") : info.names.isEmpty() ? QStringLiteral("_") : info.names.join(u'|'));
            };
            if (has("structures"))
                s.structures(1, 3, list);
            if (has("both")) {
                s.headers(1, 3, [&](int n, quint32, const QByteArray &) { order << n; }, list);
                QCOMPARE(order, (QList<int>{1, 2, 3}));
            }
            if (has("changed")) { // read under one UIDVALIDITY, removed under another
                fake.script["SELECT"].replace("UIDVALIDITY 7", "UIDVALIDITY 8");
                ImapSession t(limits);
                t.open(account);
                t.select(false);
                t.remove(s.uidValidity(), {2}, ImapSession::Removal::Expunge);
            }
            if (writes)
                QCOMPARE(s.remove(s.uidValidity(), {2}, has("toJunk") ? ImapSession::Removal::ToJunk : ImapSession::Removal::Expunge), 1);
        });
        if (text.isEmpty() && (has("structures") || has("both")))
            text = listed.join(u' ');
        if (has("idle")) {
            QString failure;
            QList<int> told;
            s.setIdleRenewal(has("renew") ? 100 : 60000);
            if (!s.startIdle([&](int count) { told << count; }, [&](const Error &e) { failure = e.text(); }))
                text = QStringLiteral("IDLE absent");
            QTest::qWait(has("renew") ? 1000 : 0);
            if (has("drop"))
                fake.dropClients();
            fake.push("* 4 EXISTS\r\n");
            QTRY_VERIFY(!told.isEmpty() || !failure.isEmpty() || !text.isEmpty());
            text = text.isEmpty() ? (failure.isEmpty() ? QStringLiteral("told %1").arg(told.value(0)) : "onFailure: " + failure) : text;
            if (has("renew") && failure.isEmpty())
                QVERIFY(fake.commands.count("DONE") >= 3);
        }
        QCOMPARE(text, expected.arg(QStringLiteral("127.0.0.1:%1").arg(fake.port())));
        if (has("headers") && expected.isEmpty())
            QCOMPARE(order, (QList<int>{1, 2, 3}));
        for (const QByteArray &w : wire) {
            const bool sent = std::any_of(fake.commands.cbegin(), fake.commands.cend(), [&](const QByteArray &c) { return c.contains(w.mid(1)); });
            QVERIFY2(sent == w.startsWith('+'), w.constData());
        }
    }
};

QTEST_GUILESS_MAIN(ImapSessionTest)
#include "test_imapsession.moc"
