// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>

#include "protocol/pop3/Pop3Session.h"

// The column "imap" of a test run over both protocols: rows "POP3" and "IMAP".
void bothProtocols();

// A loopback port that was free a moment ago (bound to port 0, read, closed).
quint16 freeLoopbackPort();

// Writes a fresh self-signed certificate and its key (PEM) with the openssl command.
// With caCert and caKey: signed by that CA instead (the openssl 3 "req -CA" option).
bool makeSelfSignedCertificate(const QString &certPath, const QString &keyPath, QString *error = nullptr,
                               const QString &caCert = {}, const QString &caKey = {});

// The certificate in certPath becomes a trusted CA of this process's TLS connections, as one
// from the system's store.
void trustInThisProcess(const QString &certPath);

// A private Dovecot serving POP3 and IMAP on 127.0.0.1, plain and implicit TLS, for one user
// whose maildir the tests fill directly. IMAP offers IDLE, MOVE, UIDPLUS and a folder "Junk"
// marked \Junk. Works as root (mail owned by nobody) and as a normal user.
// Runs the Dovecot that ./test unpacks, never one installed on the system. Stopped, and its
// folder removed, when destroyed.
class DovecotServer
{
public:
    DovecotServer();
    ~DovecotServer();
    DovecotServer(const DovecotServer &) = delete;
    DovecotServer &operator=(const DovecotServer &) = delete;

    bool start();           // false with errorText() when Dovecot could not be started
    void stop();            // waits until the master process has ended
    bool isRunning() const;
    QString errorText() const { return m_error; }
    QString logText() const; // Dovecot's own log, for failure messages

    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return m_port; }
    quint16 tlsPort() const { return m_tlsPort; }
    QString user() const { return QStringLiteral("pelicorde@example.com"); }
    // Another account, with the same password, on the same mailbox (so the same UIDVALIDITY).
    QString otherUser() const { return QStringLiteral("autre@example.com"); }
    QString password() const { return QStringLiteral("mot-de-passe"); }
    MailAccount account(bool tls = false) const;
    quint16 imapPort() const { return m_imapPort; }   // STARTTLS offered
    quint16 imapsPort() const { return m_imapsPort; }
    MailAccount imapAccount(bool tls = false) const;
    // The certificate made by start() is trusted by this process, as a CA-signed one would be
    // (nothing asked); one made by replaceCertificate() is not, unless the session's caFile
    // holds its CA. Plain port: Dovecot offers STLS.
    QString certificatePath() const;
    // A new certificate (self-signed, or signed by the CA in caCert/caKey), served by Dovecot
    // once this returns.
    bool replaceCertificate(const QString &caCert = {}, const QString &caKey = {});

    // The mailbox holds exactly these messages, numbered 1..N in this order. Only between
    // sessions. Messages are stored byte for byte (use CRLF line ends to get them back as is).
    void setMessages(const QList<QByteArray> &messages);
    // Becomes the last one; also while a session is open (Dovecot notices it, IDLE included).
    void addMessage(const QByteArray &message);
    void removeMessage(int n); // n (1..N) leaves, as another program filing it away; also in a session
    // What the maildir holds now, in mailbox order; folder: another folder than the INBOX.
    QList<QByteArray> storedMessages(const QString &folder = {}) const;
    // Their IMAP flags as the maildir names them: "S" seen, "T" deleted, "" none.
    QStringList storedFlags(const QString &folder = {}) const;

private:
    bool startOnce(QString *error);
    bool writeConfig();
    QString maildir(const QString &folder = {}) const;
    QList<std::pair<qint64, QString>> storedFiles(const QString &folder) const;
    void own(const QString &path) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    quint16 m_tlsPort = 0;
    quint16 m_imapPort = 0;
    quint16 m_imapsPort = 0;
    QString m_error;
    qint64 m_nextStamp = 1000000000;
    int m_uid = -1;
    int m_gid = -1;
};
