// SPDX-License-Identifier: GPL-3.0-or-later
// The POP3 session against the scripted server: faults a real server will not produce,
// servers without TOP, CAPA or PIPELINING, big replies, and a live event loop while waiting.
#include <QtTest>

#include "core/Error.h"
#include "protocol/pop3/Pop3Session.h"
#include "support/DovecotServer.h"
#include "support/FakePop3Server.h"

using Fault = FakePop3Server::Fault;

namespace {

QByteArray mail(int i, const QByteArray &body = "Bonjour.\r\n")
{
    return "From: <s" + QByteArray::number(i) + "@example.org>\r\nSubject: " + QByteArray::number(i)
           + "\r\n\r\n" + body;
}

QByteArray headerOf(const QByteArray &m)
{
    return m.left(m.indexOf("\r\n\r\n") + 4);
}

// A bound on commands ahead that a few thousand TOP commands go beyond.
SessionLimits tightPipeline()
{
    SessionLimits limits;
    limits.requestBytesInFlight = 64 * 1024;
    return limits;
}

// The text of the Error that f throws; empty when it throws none.
template <typename F>
QString errorOf(F &&f)
{
    try {
        f();
    } catch (const Error &e) {
        return e.text().isEmpty() ? QStringLiteral("(empty error text)") : e.text();
    }
    return {};
}

} // namespace

class Pop3FaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void refusedConnection()
    {
        const quint16 port = freeLoopbackPort();
        Pop3Session s;
        const QString text = errorOf([&] { s.open({QStringLiteral("127.0.0.1"), port, "u", "p", false}); });
        QCOMPARE(text, QStringLiteral("Connexion impossible au serveur 127.0.0.1:%1 : connexion refusée par le serveur").arg(port));
    }

    // Each fault gives an Error naming the server and the step that failed.
    void faults_data()
    {
        QTest::addColumn<QByteArray>("verb");
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("expected");
        QTest::newRow("IMAP greeting") << QByteArray("GREETING") << int(Fault::Garbage)
                                       << QStringLiteral("Le serveur %1 parle IMAP, pas POP3 : écrivez imap://127.0.0.1 comme "
                                                         "serveur (imaps:// pour un port chiffré d'emblée)");
        QTest::newRow("greeting refused") << QByteArray("GREETING") << int(Fault::Err)
                                          << QStringLiteral("Le serveur %1 a refusé l'accueil : scripted failure");
        QTest::newRow("no greeting") << QByteArray("GREETING") << int(Fault::Stall)
                                     << QStringLiteral("Le serveur %1 ne répond plus (0,5 s sans réponse) pendant l'accueil");
        QTest::newRow("drop at login") << QByteArray("PASS") << int(Fault::Drop)
                                       << QStringLiteral("Connexion interrompue par le serveur %1 pendant la commande PASS");
        QTest::newRow("STAT refused") << QByteArray("STAT") << int(Fault::Err)
                                      << QStringLiteral("Le serveur %1 a refusé la commande STAT : scripted failure");
        QTest::newRow("STAT stalls") << QByteArray("STAT") << int(Fault::Stall)
                                     << QStringLiteral("Le serveur %1 ne répond plus (0,5 s sans réponse) pendant la commande STAT");
        QTest::newRow("STAT garbage") << QByteArray("STAT") << int(Fault::Garbage)
                                      << QStringLiteral("Réponse incompréhensible du serveur %1 pendant la commande STAT : « * OK IMAP4rev1 says hello »");
        QTest::newRow("TOP refused") << QByteArray("TOP") << int(Fault::Err)
                                     << QStringLiteral("Le serveur %1 a refusé la commande TOP 2 0 : scripted failure");
        QTest::newRow("RETR dropped halfway") << QByteArray("RETR") << int(Fault::DropHalf)
                                              << QStringLiteral("Connexion interrompue par le serveur %1 pendant la commande RETR 2");
        QTest::newRow("TOP stalls") << QByteArray("TOP") << int(Fault::Stall)
                                    << QStringLiteral("Le serveur %1 ne répond plus (0,5 s sans réponse) pendant la commande TOP 2 0");
    }
    void faults()
    {
        QFETCH(QByteArray, verb);
        QFETCH(int, fault);
        QFETCH(QString, expected);
        FakePop3Server server;
        server.mailbox = {mail(1), mail(2, QByteArray("Une longue ligne.\r\n").repeated(2000))};
        QVERIFY(server.start());
        server.breakCommand(verb, Fault(fault));
        Pop3Session s(500);
        const QString text = errorOf([&] {
            s.open(server.account());
            QCOMPARE(s.messageCount(), 2);
            s.header(2);
            s.message(2);
        });
        QCOMPARE(text, expected.arg(QStringLiteral("127.0.0.1:%1").arg(server.port())));
        // A refused message leaves the session in step; a broken one refuses further work
        // instead of misreading replies.
        if (verb == "TOP" && Fault(fault) == Fault::Err)
            QCOMPARE(s.messageCount(), 2);
        else if (verb != "GREETING" && verb != "PASS")
            QVERIFY(!errorOf([&] { s.messageCount(); }).isEmpty());
    }

    void refusedLogin()
    {
        FakePop3Server server;
        QVERIFY(server.start());
        server.password = QStringLiteral("autre");
        Pop3Session s;
        QCOMPARE(errorOf([&] { s.open(server.account()); }), QString());
        MailAccount wrong = server.account();
        wrong.password = QStringLiteral("faux");
        Pop3Session t;
        QCOMPARE(errorOf([&] { t.open(wrong); }),
                 QStringLiteral("Identification refusée par le serveur 127.0.0.1:%1 : [AUTH] Authentication failed.")
                     .arg(server.port()));
        // A line end in a field would smuggle a command in: refused before anything is sent.
        wrong.password = QStringLiteral("x\r\nDELE 1");
        Pop3Session u;
        QVERIFY(!errorOf([&] { u.open(wrong); }).isEmpty());
        QVERIFY(!server.received("DELE"));
    }

    void tls()
    {
        FakePop3Server server(true);
        server.mailbox = {mail(1)};
        QVERIFY(server.start());
        Pop3Session s;
        s.open(server.account());
        QCOMPARE(s.message(1), mail(1));

        // TLS spoken to a plain server fails as a TLS failure.
        FakePop3Server plain;
        QVERIFY(plain.start());
        MailAccount a = plain.account();
        a.tls = true;
        Pop3Session t(2000);
        const QString text = errorOf([&] { t.open(a); });
        // OpenSSL's reason is English, for programmers: not shown.
        QCOMPARE(text, QStringLiteral("Échec de la négociation TLS avec le serveur 127.0.0.1:%1").arg(plain.port()));
    }

    void deleteRefusedIsNotAnError()
    {
        FakePop3Server server;
        server.mailbox = {mail(1), mail(2)};
        QVERIFY(server.start());
        server.breakCommand("DELE", Fault::Err, 1);
        Pop3Session s;
        s.open(server.account());
        QVERIFY(!s.remove(1));
        QVERIFY(s.remove(2));
        s.quit();
        QCOMPARE(server.mailbox, QList<QByteArray>{mail(1)});
    }

    // Releasing the session drops the line without QUIT, so nothing is deleted.
    void releaseWithoutQuit()
    {
        FakePop3Server server;
        server.mailbox = {mail(1), mail(2)};
        QVERIFY(server.start());
        {
            Pop3Session s;
            s.open(server.account());
            QVERIFY(s.remove(1));
        }
        QTRY_VERIFY(server.findChildren<QSslSocket *>().isEmpty()); // the server saw the drop
        QVERIFY(!server.received("QUIT"));
        QCOMPARE(server.mailbox.size(), 2);
    }

    void withoutTop()
    {
        FakePop3Server server;
        server.hasTop = false;
        for (int i = 1; i <= 40; ++i)
            server.mailbox << mail(i, "Corps\r\n\r\nsuite " + QByteArray::number(i) + "\r\n");
        QVERIFY(server.start());
        Pop3Session s;
        s.open(server.account());
        QCOMPARE(s.header(1), headerOf(server.mailbox[0]));
        QList<QByteArray> got;
        s.headers(1, 40, [&](int n, const QByteArray &h) {
            QCOMPARE(n, got.size() + 1);
            got << h;
        });
        for (int i = 0; i < 40; ++i)
            QCOMPARE(got[i], headerOf(server.mailbox[i]));
        QVERIFY(!server.received("TOP"));
        // RETR pipelined in place of TOP, within the window of whole messages: these replies
        // may be big.
        QVERIFY(server.largestBurst > 1);
        QVERIFY2(server.largestBurst <= 16, qPrintable(QString::number(server.largestBurst)));
    }

    // Without CAPA: no pipelining, TOP tried once and given up for RETR when refused, UIDL tried.
    void withoutCapa()
    {
        FakePop3Server server;
        server.hasCapa = false;
        server.hasTop = false;
        server.mailbox = {mail(1), mail(2), mail(3)};
        QVERIFY(server.start());
        Pop3Session s;
        s.open(server.account());
        QVERIFY(s.capabilities().isEmpty());
        QVERIFY(!s.canPipeline());
        QList<QByteArray> got;
        s.headers(1, 3, [&](int, const QByteArray &h) { got << h; });
        QCOMPARE(got, (QList<QByteArray>{headerOf(mail(1)), headerOf(mail(2)), headerOf(mail(3))}));
        QCOMPARE(server.commands.count("TOP 1 0"), 1);
        QVERIFY(!server.received("TOP 2"));
        QCOMPARE(server.largestBurst, 1);
        QCOMPARE(s.uniqueIds().size(), 3);

        server.hasUidl = false;
        Pop3Session t;
        t.open(server.account());
        QVERIFY(t.uniqueIds().isEmpty());
    }

    void pipelining_data()
    {
        QTest::addColumn<bool>("serverCan");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("pipelined") << true << true;
        QTest::newRow("server without PIPELINING") << false << true;
        QTest::newRow("forced one at a time") << true << false;
    }
    void pipelining()
    {
        QFETCH(bool, serverCan);
        QFETCH(bool, allowed);
        FakePop3Server server;
        server.hasPipelining = serverCan;
        for (int i = 1; i <= 300; ++i)
            server.mailbox << mail(i);
        QVERIFY(server.start());
        Pop3Session s;
        s.setPipelining(allowed);
        s.open(server.account());
        QList<QByteArray> got;
        s.headers(1, 300, [&](int n, const QByteArray &h) {
            QCOMPARE(n, got.size() + 1);
            got << h;
            QCoreApplication::processEvents(); // as the scan does per message
        });
        QCOMPARE(got.size(), 300);
        QCOMPARE(got.last(), headerOf(mail(300)));
        QCOMPARE(server.largestBurst > 1, serverCan && allowed);
        QCOMPARE(server.commands.count() - 4, 301); // after CAPA (for STLS), USER, PASS, CAPA; then LIST 300
        s.quit(); // replies and commands still in step
        QVERIFY(server.received("QUIT"));
    }

    // A pipelined login: over TLS the password goes with the name; in clear text it waits for
    // the name to be accepted, so a server refusing it (as one refusing clear-text logins does)
    // never sees the password. CAPA and the count asked ahead follow PASS, and are not asked twice.
    // After STLS the clear-text list decides the login's write alone (CAPA is asked again behind
    // PASS); what the server lists over TLS decides the rest.
    void pipelinedLogin_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::addColumn<bool>("nameRefused");
        QTest::addColumn<QByteArray>("clearTextOnly");
        QTest::newRow("TLS") << true << false << QByteArray();
        QTest::newRow("clear text") << false << false << QByteArray();
        QTest::newRow("clear text, name refused") << false << true << QByteArray();
        QTest::newRow("STLS") << false << false << QByteArray("STLS");
        QTest::newRow("STLS, pipelining in clear text only") << false << false << QByteArray("STLS PIPELINING");
    }
    void pipelinedLogin()
    {
        QFETCH(bool, tls);
        QFETCH(bool, nameRefused);
        QFETCH(QByteArray, clearTextOnly);
        FakePop3Server server(tls);
        server.mailbox = {mail(1), mail(2)};
        server.offersStls = clearTextOnly.startsWith("STLS");
        server.hasPipelining = !clearTextOnly.endsWith("PIPELINING");
        server.clearTextCapa = server.hasPipelining ? QByteArray() : "PIPELINING\r\n";
        if (nameRefused)
            server.breakCommand("USER", Fault::Err);
        QVERIFY(server.start());
        Pop3Session s;
        s.askCountAhead();
        const QString text = errorOf([&] { s.open(server.account()); });
        const QByteArray pass = "PASS " + server.password.toUtf8();
        if (nameRefused) {
            QVERIFY(text.startsWith(QStringLiteral("Identification refusée")));
            QCOMPARE(server.commands, (QList<QByteArray>{"CAPA", "USER pelicorde@example.com"}));
            return;
        }
        QVERIFY2(text.isEmpty(), qPrintable(text));
        QCOMPARE(s.messageCount(), 2);
        QCOMPARE(s.loginDelay(), 0);
        QList<QByteArray> expected{"CAPA", "USER pelicorde@example.com", pass, "CAPA", "STAT"};
        const bool pipelined = server.hasPipelining || server.clearTextCapa.contains("PIPELINING");
        if (server.offersStls)
            expected = QList<QByteArray>{"CAPA", "STLS"} + expected.mid(1); // CAPA again behind PASS
        if (!pipelined)
            expected.swapItemsAt(expected.size() - 2, expected.size() - 1); // STAT asked, then CAPA
        QCOMPARE(server.commands, expected);
        QCOMPARE(s.encrypted(), tls || server.offersStls);
        QCOMPARE(server.largestBurst, !pipelined ? 1 : s.encrypted() ? 4 : 3);
        QCOMPARE(s.canPipeline(), server.hasPipelining);
        s.quit();
    }

    // Headers asked ahead of their pass, UIDL behind its last command, within the bound of
    // command bytes or beyond it: a TOP refused in the middle leaves the session in step, and
    // the ids come from the reply already asked for, also when asked before the pass.
    void headersAhead_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("refused");
        QTest::addColumn<bool>("idsFirst");
        QTest::newRow("all ahead") << 5 << 0 << false;
        QTest::newRow("all ahead, TOP 3 refused") << 5 << 3 << false;
        QTest::newRow("beyond the bound") << 8000 << 0 << false;
        QTest::newRow("beyond the bound, TOP 3 refused") << 8000 << 3 << false;
        QTest::newRow("ids before the pass") << 5 << 0 << true;
    }
    void headersAhead()
    {
        QFETCH(int, count);
        QFETCH(int, refused);
        QFETCH(bool, idsFirst);
        FakePop3Server server;
        for (int i = 1; i <= count; ++i)
            server.mailbox << mail(i);
        if (refused)
            server.breakCommand("TOP", Fault::Err, refused);
        QVERIFY(server.start());
        Pop3Session s(tightPipeline());
        s.open(server.account());
        QCOMPARE(s.loginDelay(), 0); // the capabilities are known: commands may go ahead
        s.headersAhead(1, count, Pop3Session::Then::UniqueIds);
        QTRY_VERIFY(server.received("TOP"));
        if (idsFirst)
            QCOMPARE(s.uniqueIds().size(), count);
        int seen = 0;
        const QString text = errorOf([&] {
            s.headers(1, count, [&](int n, const QByteArray &h) {
                QCOMPARE(h, headerOf(mail(n)));
                ++seen;
            }, Pop3Session::Then::UniqueIds);
        });
        QCOMPARE(seen, refused ? refused - 1 : count);
        QCOMPARE(text.isEmpty(), refused == 0);
        if (idsFirst) {
            s.quit();
            return;
        }
        QCOMPARE(s.uniqueIds().size(), count);
        QCOMPARE(server.commands.count("UIDL"), 1);
        if (!refused)
            QCOMPARE(server.commands.at(server.commands.indexOf("UIDL") - 1), "TOP " + QByteArray::number(count) + " 0");
        s.quit();
        QVERIFY(server.received("QUIT"));
    }

    // Commands go ahead of their replies as far as their bytes allow, not a fixed count: a
    // server that answers none of them has been sent as many TOP commands as fit in the bound.
    void pipelinedCommandsBoundedByBytes()
    {
        FakePop3Server server;
        server.mailbox = QList<QByteArray>(20000, mail(1));
        server.breakCommand("TOP", Fault::Stall, 1);
        QVERIFY(server.start());
        SessionLimits limits = tightPipeline();
        limits.idleMs = 1000;
        Pop3Session s(limits);
        s.open(server.account());
        QVERIFY(s.canPipeline());
        const qint64 before = server.bytesReceived;
        const QString text = errorOf([&] { s.headers(1, 20000, [](int, const QByteArray &) {}); });
        QVERIFY2(text.startsWith(QStringLiteral("Le serveur 127.0.0.1:%1 ne répond plus").arg(server.port())),
                 qPrintable(text));
        const qint64 sent = server.bytesReceived - before;
        const qint64 longest = QByteArray("TOP 20000 0\r\n").size();
        QVERIFY2(sent > limits.requestBytesInFlight - longest && sent <= limits.requestBytesInFlight,
                 qPrintable(QString::number(sent)));
    }

    // A refused TOP and a drop in the middle of a pipelined pass, and a caller that aborts the pass.
    void pipelinedPassStops()
    {
        FakePop3Server server;
        for (int i = 1; i <= 40; ++i)
            server.mailbox << mail(i);
        QVERIFY(server.start());
        server.breakCommand("TOP", Fault::Err, 5);
        {
            Pop3Session s;
            s.open(server.account());
            int seen = 0;
            const QString text = errorOf([&] { s.headers(1, 40, [&](int, const QByteArray &) { ++seen; }); });
            QCOMPARE(seen, 4);
            QCOMPARE(text, QStringLiteral("Le serveur 127.0.0.1:%1 a refusé la commande TOP 5 0 : scripted failure")
                               .arg(server.port()));
            // The replies in flight were read: the next commands get their own.
            QList<QByteArray> got;
            s.messages(39, 40, [&](int, const QByteArray &m) { got << m; });
            QCOMPARE(got, (QList<QByteArray>{mail(39), mail(40)}));
            s.quit();
        }
        server.breakCommand("TOP", Fault::DropHalf, 7);
        {
            Pop3Session s;
            s.open(server.account());
            int seen = 0;
            const QString text = errorOf([&] { s.headers(6, 40, [&](int, const QByteArray &) { ++seen; }); });
            QCOMPARE(seen, 1);
            QCOMPARE(text, QStringLiteral("Connexion interrompue par le serveur 127.0.0.1:%1 pendant la commande TOP 7 0")
                               .arg(server.port()));
        }
        Pop3Session s;
        s.open(server.account());
        int seen = 0;
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, s.messages(10, 40, [&](int n, const QByteArray &) {
            ++seen;
            if (n == 12)
                throw std::runtime_error("stop");
        }));
        QCOMPARE(seen, 3);
        QVERIFY(!errorOf([&] { s.quit(); }).isEmpty());
    }

    // Several megabytes, long lines and dot-stuffed lines come back byte for byte, also over
    // TLS, whose layer holds data of its own beyond what the socket buffers.
    void largeReply_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::newRow("plain") << false;
        QTest::newRow("TLS") << true;
    }
    void largeReply()
    {
        QFETCH(bool, tls);
        QByteArray body;
        for (int i = 0; i < 60000; ++i)
            body += (i % 3 == 0 ? "." : "") + QByteArray::number(i) + QByteArray(80, 'x') + "\r\n";
        body += QByteArray(2 * 1024 * 1024, 'y') + "\r\n.\r\n";
        body = body.repeated(3); // beyond what the socket may buffer ahead
        FakePop3Server server(tls);
        server.mailbox = {mail(1, body)};
        QVERIFY(server.start());
        Pop3Session s;
        s.open(server.account());
        QCOMPARE(s.message(1), mail(1, body));
    }

    // A hostile server cannot make the program allocate without bound: a message count no list
    // can hold, or one line that never ends, is a reply it cannot make sense of.
    void hostileServer()
    {
        FakePop3Server server;
        server.mailbox = QList<QByteArray>(1000001);
        server.mailbox[1] = mail(2, QByteArray(65 * 1024 * 1024, 'z'));
        QVERIFY(server.start());
        Pop3Session s;
        s.open(server.account());
        QCOMPARE(errorOf([&] { s.messageCount(); }),
                 QStringLiteral("Réponse incompréhensible du serveur 127.0.0.1:%1 pendant la commande STAT : « 1000001 %2 »")
                     .arg(server.port())
                     .arg(server.mailbox[1].size()));
        server.mailbox.resize(1000000);
        SessionLimits roomy;
        roomy.messageBytes = 128 * 1024 * 1024; // the line, not the reply, passes its limit first
        Pop3Session t(roomy);
        t.open(server.account());
        QCOMPARE(t.messageCount(), 1000000);
        QCOMPARE(errorOf([&] { t.message(2); }),
                 QStringLiteral("Réponse incompréhensible du serveur 127.0.0.1:%1 pendant la commande RETR 2 : ligne sans fin")
                     .arg(server.port()));
    }

    // A server that adds the body to TOP n 0 is lenient, not out of step.
    void topWithBody()
    {
        FakePop3Server server;
        server.topGivesBody = true;
        server.mailbox = {mail(1, "Merci.\r\n-- \r\nOK, compris.\r\n"), mail(2)};
        QVERIFY(server.start());
        Pop3Session s;
        s.open(server.account());
        QList<QByteArray> got;
        s.headers(1, 2, [&](int, const QByteArray &h) { got << h; });
        QCOMPARE(got, server.mailbox);
        QCOMPARE(s.uniqueIds().size(), 2);
    }

    // An endless reply breaks the session at its cap, the memory held far below it. Listings
    // are capped by what they become: a CAPA of empty lines, a UIDL listing far beyond the count.
    void endlessReply_data()
    {
        QTest::addColumn<QByteArray>("verb");
        QTest::addColumn<QString>("step");
        QTest::addColumn<QByteArray>("answer"); // empty: endless
        QTest::newRow("TOP") << QByteArray("TOP") << QStringLiteral("la commande TOP 1 0") << QByteArray();
        QTest::newRow("RETR") << QByteArray("RETR") << QStringLiteral("la commande RETR 1") << QByteArray();
        QTest::newRow("UIDL") << QByteArray("UIDL") << QStringLiteral("la commande UIDL") << QByteArray();
        QTest::newRow("CAPA of empty lines") << QByteArray("CAPA") << QStringLiteral("la commande CAPA")
                                             << "+OK\r\n" + QByteArray(16 * 1024 * 1024 - 16, '\n') + ".\r\n";
        QByteArray ids = "+OK\r\n";
        for (int n = 1000; ids.size() < 16 * 1024 * 1024 - 32; ++n)
            ids += QByteArray::number(n) + " x\r\n";
        QTest::newRow("UIDL far beyond the count") << QByteArray("UIDL") << QStringLiteral("la commande UIDL") << ids + ".\r\n";
        // Within its cap, a number beyond the count is another reply's line.
        QTest::newRow("UIDL beyond the count") << QByteArray("UIDL") << QStringLiteral("la commande UIDL")
                                               << QByteArray("+OK\r\n1 a\r\n2 b\r\n.\r\n");
        QTest::newRow("UIDL number twice") << QByteArray("UIDL") << QStringLiteral("la commande UIDL")
                                           << QByteArray("+OK\r\n1 a\r\n1 b\r\n.\r\n");
    }
    void endlessReply()
    {
        QFETCH(QByteArray, verb);
        QFETCH(QString, step);
        QFETCH(QByteArray, answer);
        FakePop3Server server;
        server.mailbox = {mail(1)};
        QVERIFY(server.start());
        if (answer.isEmpty())
            server.breakCommand(verb, Fault::Endless);
        else
            server.answers.insert(verb, answer);
        Pop3Session s;
        const QString text = errorOf([&] {
            s.open(server.account());
            if (verb == "UIDL")
                s.uniqueIds();
            else
                verb == "TOP" ? s.header(1) : s.message(1);
        });
        const QString expected = answer.size() > 0 && answer.size() < 100 ? QStringLiteral("Réponse du serveur %1 sans rapport avec %2")
                                                     : QStringLiteral("Réponse trop longue du serveur %1 pendant %2");
        QCOMPARE(text, expected.arg(QStringLiteral("127.0.0.1:%1").arg(server.port()), step));
    }

    // Closing the main window quits the application, maybe while an operation waits on the
    // server; no event loop runs after that, so the wait ends the operation as a failure at
    // once rather than spinning, socket unread, until the time-out.
    void quittingEndsAWait()
    {
        FakePop3Server server;
        server.mailbox = {mail(1)};
        QVERIFY(server.start());
        server.breakCommand("STAT", Fault::Stall);
        Pop3Session s(3000);
        QString text;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (server.received("STAT"))
                QCoreApplication::quit();
        });
        QTimer::singleShot(0, [&] {
            watch.start(5);
            text = errorOf([&] {
                s.open(server.account());
                s.messageCount();
            });
        });
        QCoreApplication::exec();
        QCOMPARE(text, QStringLiteral("Échange avec le serveur 127.0.0.1:%1 interrompu : le programme se ferme "
                                      "pendant la commande STAT")
                           .arg(server.port()));
    }

    // While waiting on a slow server the event loop runs: a timer keeps ticking. The reply takes
    // longer than the time-out, but comes in pieces: the time-out counts from the last progress.
    void eventLoopRunsWhileWaiting()
    {
        FakePop3Server server;
        server.mailbox = {mail(1)};
        server.delayMs = 2400;
        QVERIFY(server.start());
        server.breakCommand("RETR", Fault::Delay);
        int ticks = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start(10);
        Pop3Session s(1500); // shorter than the whole reply, longer than its pieces' gaps
        s.open(server.account());
        QCOMPARE(s.message(1), mail(1));
        QVERIFY(ticks > 0);
    }
};

QTEST_GUILESS_MAIN(Pop3FaultsTest)
#include "test_pop3faults.moc"
