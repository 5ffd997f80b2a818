// SPDX-License-Identifier: GPL-3.0-or-later
// The password never crosses the network readable: STLS on plain ports, and certificates the
// session puts to its decision, against a real Dovecot (and a fake server for a broken STLS).
#include <QtTest>

#include <QTcpServer>
#include <QTcpSocket>

#include "core/Error.h"
#include "protocol/pop3/Pop3Session.h"
#include "support/DovecotServer.h"
#include "support/FakePop3Server.h"

namespace {

// Relays one connection to a loopback port and keeps what the client sent, as someone on the
// path would see it.
class CaptureRelay : public QTcpServer
{
public:
    explicit CaptureRelay(quint16 upstream) : m_upstream(upstream)
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *client = nextPendingConnection();
            auto *server = new QTcpSocket(client);
            server->connectToHost(QHostAddress::LocalHost, m_upstream);
            connect(client, &QTcpSocket::readyRead, server, [this, client, server] {
                const QByteArray bytes = client->readAll();
                fromClient += bytes;
                server->write(bytes);
            });
            connect(server, &QTcpSocket::readyRead, client, [client, server] { client->write(server->readAll()); });
            connect(server, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
        });
    }
    QByteArray fromClient;

private:
    quint16 m_upstream;
};

QString errorOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const Error &e) {
        return e.text();
    }
    return {};
}

bool run(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("openssl"), args);
    return p.waitForFinished(30000) && p.exitCode() == 0;
}

} // namespace

class Pop3TlsTest : public QObject
{
    Q_OBJECT
    DovecotServer dovecot;
    QTemporaryDir dir;

private slots:
    void initTestCase() { QVERIFY2(dovecot.start(), qPrintable(dovecot.errorText())); }

    // Plain port: STLS when offered, never a fall-back, plain login when not offered.
    void upgrade_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("encrypted");
        QTest::newRow("offered") << "dovecot" << "" << true;
        QTest::newRow("offered and broken") << "broken" << "Échec de la négociation TLS avec le serveur" << false;
        QTest::newRow("not offered") << "fake" << "" << false;
    }
    void upgrade()
    {
        QFETCH(QString, server);
        QFETCH(QString, error);
        QFETCH(bool, encrypted);
        FakePop3Server fake;
        fake.brokenStls = server == QLatin1String("broken");
        QVERIFY(fake.start());
        const MailAccount target = server == QLatin1String("dovecot") ? dovecot.account() : fake.account();
        CaptureRelay relay(target.port);
        MailAccount account = target;
        account.port = relay.serverPort();
        const QString log = dovecot.logText();

        Pop3Session s(5000);
        const QString text = errorOf([&] {
            s.open(account);
            s.messageCount();
        });
        QVERIFY2(error.isEmpty() ? text.isEmpty() : text.startsWith(error), qPrintable(text));
        QCOMPARE(s.encrypted(), encrypted);
        QVERIFY(relay.fromClient.startsWith("CAPA\r\n"));
        QCOMPARE(relay.fromClient.contains(account.password.toUtf8()), !encrypted && error.isEmpty());
        QCOMPARE(relay.fromClient.contains("STLS\r\n"), server != QLatin1String("fake"));
        if (fake.brokenStls)
            QVERIFY(!fake.received("USER") && !fake.received("PASS"));
        if (server == QLatin1String("dovecot")) {
            // Dovecot's login line names the TLS it was made over.
            QTRY_VERIFY2(dovecot.logText().mid(log.size()).contains(QRegularExpression(
                             QStringLiteral("Login: user=<pelicorde@example.com>.*, TLS"))),
                         qPrintable(dovecot.logText().mid(log.size())));
        }
    }

    // Certificates the CAs do not validate go to the decision before the password is sent;
    // one from a trusted CA (here a private one, given as the CA file) is never put to it.
    void certificates_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<bool>("accept");
        QTest::addColumn<bool>("decided");
        QTest::addColumn<bool>("loggedIn");
        for (const bool tls : {false, true}) {
            const char *port = tls ? "implicit TLS, " : "STLS, ";
            QTest::newRow(QByteArray(port).append("self-signed, refused")) << tls << "self" << false << true << false;
            QTest::newRow(QByteArray(port).append("self-signed, accepted")) << tls << "self" << true << true << true;
            QTest::newRow(QByteArray(port).append("private CA")) << tls << "ca" << false << false << true;
        }
    }
    void certificates()
    {
        QFETCH(bool, tls);
        QFETCH(QString, certificate);
        QFETCH(bool, accept);
        QFETCH(bool, decided);
        QFETCH(bool, loggedIn);
        const QString caCert = dir.filePath(QStringLiteral("ca.pem"));
        const QString caKey = dir.filePath(QStringLiteral("ca-key.pem"));
        if (!QFile::exists(caCert))
            QVERIFY(run({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days",
                         "2", "-subj", "/CN=Pelicorde test CA", "-keyout", caKey, "-out", caCert}));
        if (certificate == QLatin1String("ca"))
            QVERIFY(dovecot.replaceCertificate(caCert, caKey));
        else
            QVERIFY(dovecot.replaceCertificate());
        MailAccount account = dovecot.account(tls);
        account.caFile = caCert;
        const QString log = dovecot.logText();

        QList<PeerCertificate> asked;
        Pop3Session s(5000);
        s.setCertificateDecision([&](const PeerCertificate &peer) {
            asked << peer;
            return accept;
        });
        const QString text = errorOf([&] { s.open(account); });
        QCOMPARE(asked.size(), decided ? 1 : 0);
        if (decided) {
            QCOMPARE(asked[0].host, account.host);
            QCOMPARE(asked[0].port, account.port);
            QCOMPARE(asked[0].chain.value(0), QSslCertificate::fromPath(dovecot.certificatePath()).value(0));
            QVERIFY(!asked[0].errors.isEmpty());
        }
        QCOMPARE(text.isEmpty(), loggedIn);
        if (!loggedIn)
            QVERIFY2(text.startsWith(QStringLiteral("Certificat du serveur %1:%2 refusé : ").arg(account.host).arg(account.port)),
                     qPrintable(text));
        if (loggedIn)
            QTRY_VERIFY(dovecot.logText().mid(log.size()).contains(QStringLiteral("Login: user=")));
        else
            QVERIFY(!dovecot.logText().mid(log.size()).contains(QStringLiteral("Login: user=")));
        QCOMPARE(s.encrypted(), loggedIn);
    }
};

QTEST_GUILESS_MAIN(Pop3TlsTest)
#include "test_pop3tls.moc"
