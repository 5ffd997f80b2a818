// SPDX-License-Identifier: GPL-3.0-or-later
#include "DovecotServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <algorithm>

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Dovecot's Debian packages unpacked by ./test (dpkg -x, never installed): its programs look
// for their modules and helpers under /usr, so they run in a mount namespace of their own where
// the unpacked tree is laid over /usr.
const QString kUnpackedRoot = QStringLiteral(PELICORDE_UNPACKED_ROOT);
const QString kDovecot = QStringLiteral("/usr/sbin/dovecot");

bool writeFile(const QString &path, const QByteArray &bytes, QFile::Permissions permissions = {})
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        return false;
    f.close();
    return permissions == QFile::Permissions() || f.setPermissions(permissions);
}

QString userName(uid_t uid)
{
    const passwd *pw = ::getpwuid(uid);
    return pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(uid);
}

QString groupName(gid_t gid)
{
    const group *gr = ::getgrgid(gid);
    return gr ? QString::fromLocal8Bit(gr->gr_name) : QString::number(gid);
}

// Leading number of a maildir file name: the order the files were given in.
qint64 stampOf(const QString &name)
{
    return QStringView(name).left(name.indexOf(u'.')).toLongLong();
}

} // namespace

quint16 freeLoopbackPort()
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        QTcpServer probe;
        if (probe.listen(QHostAddress::LocalHost, 0))
            return probe.serverPort();
    }
    return 0;
}

bool makeSelfSignedCertificate(const QString &certPath, const QString &keyPath, QString *error,
                               const QString &caCert, const QString &caKey)
{
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    QStringList args{"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                     "-days", "2", "-subj", "/CN=localhost", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost",
                     "-keyout", keyPath, "-out", certPath};
    if (!caCert.isEmpty())
        args << "-CA" << caCert << "-CAkey" << caKey;
    openssl.start(QStringLiteral("openssl"), args);
    const bool ok = openssl.waitForFinished(30000) && openssl.exitStatus() == QProcess::NormalExit
        && openssl.exitCode() == 0;
    if (!ok && error)
        *error = QStringLiteral("openssl: ") + QString::fromLocal8Bit(openssl.readAll()) + openssl.errorString();
    return ok;
}

void trustInThisProcess(const QString &certPath)
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.addCaCertificates(QSslCertificate::fromPath(certPath));
    QSslConfiguration::setDefaultConfiguration(config);
}

DovecotServer::DovecotServer()
{
    if (::geteuid() == 0) {
        // Dovecot refuses mail owned by root: the mail belongs to the user every system has
        // (the packages' own users are made by the scripts that are not run).
        const passwd *pw = ::getpwnam("nobody");
        m_uid = pw ? int(pw->pw_uid) : -1;
        m_gid = pw ? int(pw->pw_gid) : -1;
    } else {
        m_uid = int(::geteuid());
        m_gid = int(::getegid());
    }
}

DovecotServer::~DovecotServer()
{
    stop();
}

MailAccount DovecotServer::account(bool tls) const
{
    MailAccount a;
    a.host = host();
    a.port = tls ? m_tlsPort : m_port;
    a.user = user();
    a.password = password();
    a.tls = tls;
    return a;
}

void bothProtocols()
{
    QTest::addColumn<bool>("imap");
    QTest::newRow("POP3") << false;
    QTest::newRow("IMAP") << true;
}

MailAccount DovecotServer::imapAccount(bool tls) const
{
    MailAccount a = account(tls);
    a.port = tls ? m_imapsPort : m_imapPort;
    a.protocol = MailAccount::Protocol::Imap;
    return a;
}

QString DovecotServer::certificatePath() const
{
    return m_dir ? m_dir->filePath(QStringLiteral("cert.pem")) : QString();
}

bool DovecotServer::replaceCertificate(const QString &caCert, const QString &caKey)
{
    const QString cert = certificatePath();
    const QString key = m_dir->filePath(QStringLiteral("key.pem"));
    if (!makeSelfSignedCertificate(cert, key, nullptr, caCert, caKey))
        return false;
    // A reload makes new login processes read the new certificate; wait until one serves it.
    const QByteArray wanted = QSslCertificate::fromPath(cert).value(0).digest(QCryptographicHash::Sha256);
    ::kill(pid_t(m_process.processId()), SIGHUP);
    const QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        QSslSocket probe;
        probe.setPeerVerifyMode(QSslSocket::VerifyNone);
        probe.connectToHostEncrypted(host(), m_tlsPort);
        if (probe.waitForEncrypted(2000) && probe.peerCertificate().digest(QCryptographicHash::Sha256) == wanted)
            return true;
        QThread::msleep(50);
    }
    return false;
}

QString DovecotServer::maildir(const QString &folder) const
{
    // Maildir++: a folder is a subfolder whose name starts with a dot.
    return m_dir->filePath(QStringLiteral("Maildir")) + (folder.isEmpty() ? QString() : QStringLiteral("/.") + folder);
}

void DovecotServer::own(const QString &path) const
{
    if (::geteuid() == 0 && m_uid >= 0) {
        // A failure shows up as Dovecot refusing the mailbox, with the reason in its log.
        [[maybe_unused]] const int rc = ::chown(QFile::encodeName(path).constData(), uid_t(m_uid), gid_t(m_gid));
    }
}

bool DovecotServer::isRunning() const
{
    return m_process.state() == QProcess::Running;
}

QString DovecotServer::logText() const
{
    if (!m_dir)
        return {};
    QFile log(m_dir->filePath(QStringLiteral("dovecot.log")));
    return log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readAll()) : QString();
}

bool DovecotServer::start()
{
    if (isRunning())
        return true;
    if (m_uid < 0) {
        m_error = QStringLiteral("no 'nobody' user on this machine");
        return false;
    }
    if (!QFile::exists(kUnpackedRoot + kDovecot)) {
        m_error = QStringLiteral("%1 is missing: ./test and ./run demo unpack Dovecot there").arg(kUnpackedRoot + kDovecot);
        return false;
    }
    if (kUnpackedRoot.contains(u',') || kUnpackedRoot.contains(u':')) {
        m_error = QStringLiteral("cannot lay %1 over /usr: its path holds ',' or ':'").arg(kUnpackedRoot);
        return false;
    }
    m_dir = std::make_unique<QTemporaryDir>();
    if (!m_dir->isValid()) {
        m_error = QStringLiteral("no temporary folder: ") + m_dir->errorString();
        return false;
    }
    // The login and mail processes run as other users: they must be able to traverse it.
    ::chmod(QFile::encodeName(m_dir->path()).constData(), 0755);
    const QString cert = m_dir->filePath(QStringLiteral("cert.pem"));
    const QString key = m_dir->filePath(QStringLiteral("key.pem"));
    if (!makeSelfSignedCertificate(cert, key, &m_error))
        return false;
    trustInThisProcess(cert);
    QByteArray passwd;
    for (const QString &u : {user(), otherUser()})
        passwd += u.toUtf8() + ":{PLAIN}" + password().toUtf8() + "::::::\n";
    if (!writeFile(m_dir->filePath(QStringLiteral("passwd")), passwd,
                   QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther)) {
        m_error = QStringLiteral("cannot write the passwd file");
        return false;
    }
    const QString home = m_dir->filePath(QStringLiteral("home"));
    QDir().mkpath(home);
    own(home);
    setMessages({});

    // Another process may take a port between the probe and Dovecot's bind: try again then.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (startOnce(&m_error))
            return true;
    }
    m_error += QStringLiteral("\n--- dovecot.log ---\n") + logText();
    return false;
}

bool DovecotServer::writeConfig()
{
    const QString dir = m_dir->path();
    const QString mailUser = userName(uid_t(m_uid));
    QDir().mkpath(dir + QStringLiteral("/run"));
    QDir().mkpath(dir + QStringLiteral("/state"));
    const QString config = QStringLiteral(R"(# Private Dovecot for the Pelicorde tests
instance_name = pelicorde-%1
base_dir = %2/run
state_dir = %2/state
log_path = %2/dovecot.log
protocols = pop3 imap
listen = 127.0.0.1
default_login_user = %3
default_internal_user = %4
%9
first_valid_uid = 0
first_valid_gid = 0
disable_plaintext_auth = no
auth_mechanisms = plain
auth_failure_delay = 0
ssl = yes
ssl_cert = <%2/cert.pem
ssl_key = <%2/key.pem
mail_location = maildir:%2/Maildir
shutdown_clients = yes
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u %2/passwd
}
userdb {
  driver = static
  args = uid=%5 gid=%6 home=%2/home
}
service pop3-login {
  chroot =
  inet_listener pop3 {
    address = 127.0.0.1
    port = %7
  }
  inet_listener pop3s {
    address = 127.0.0.1
    port = %8
    ssl = yes
  }
}
service imap-login {
  chroot =
  inet_listener imap {
    address = 127.0.0.1
    port = %10
  }
  inet_listener imaps {
    address = 127.0.0.1
    port = %11
    ssl = yes
  }
}
namespace inbox {
  inbox = yes
  mailbox Junk {
    special_use = \Junk
    auto = create
  }
}
# IDLE sees new mail at once through inotify; this is only the fall-back
mailbox_idle_check_interval = 1 secs
service anvil {
  chroot =
  # no auth penalty: a test of a wrong password must not slow down the next logins
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
)")
                               .arg(QString::number(::getpid()) + QLatin1Char('-') + QFileInfo(dir).fileName(), dir,
                                    mailUser, mailUser, QString::number(m_uid), QString::number(m_gid))
                               .arg(m_port)
                               .arg(m_tlsPort)
                               .arg(QStringLiteral("default_internal_group = ") + groupName(gid_t(m_gid)))
                               .arg(m_imapPort)
                               .arg(m_imapsPort);
    return writeFile(m_dir->filePath(QStringLiteral("dovecot.conf")), config.toUtf8(),
                     QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
}

bool DovecotServer::startOnce(QString *error)
{
    QList<quint16> ports;
    for (quint16 *port : {&m_port, &m_tlsPort, &m_imapPort, &m_imapsPort}) {
        do
            *port = freeLoopbackPort();
        while (*port && ports.contains(*port));
        ports << *port;
    }
    if (ports.contains(0) || !writeConfig()) {
        *error = QStringLiteral("no free loopback port or cannot write dovecot.conf");
        return false;
    }
    QFile::remove(m_dir->filePath(QStringLiteral("dovecot.log")));
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // Root may mount in a namespace of its own; a normal user maps itself to root in a new user
    // namespace to mount, then back to itself for Dovecot.
    const QString dovecot = ::geteuid() == 0
        ? kDovecot
        : QStringLiteral("unshare --user --map-user=%1 --map-group=%2 %3").arg(m_uid).arg(m_gid).arg(kDovecot);
    QStringList unshare{"--mount", "--propagation", "private"};
    if (::geteuid() != 0)
        unshare = QStringList{"--user", "--map-root-user"} + unshare;
    unshare << "--" << "sh" << "-c"
            // Its own folder of helpers and modules replaces whatever one the system has.
            << QStringLiteral(R"(mount -t overlay pelicorde-dovecot -o "lowerdir=$0/usr:/usr" /usr &&)"
                              R"( mount --bind "$0/usr/lib/dovecot" /usr/lib/dovecot && exec %1 "$@")")
                   .arg(dovecot)
            << kUnpackedRoot << "-F" << "-c" << m_dir->filePath(QStringLiteral("dovecot.conf"));
    m_process.start(QStringLiteral("unshare"), unshare);
    if (!m_process.waitForStarted(10000)) {
        *error = QStringLiteral("dovecot did not start: ") + m_process.errorString();
        return false;
    }
    // Poll rather than guess a delay. The master binds the ports before it has started the
    // rest and may still fail, so ready means a greeting from the login process; then the TLS
    // listener is up too.
    const QDeadlineTimer deadline(20000);
    for (;;) {
        if (m_process.state() != QProcess::Running || deadline.hasExpired()) {
            *error = QStringLiteral("dovecot did not come up: ") + QString::fromLocal8Bit(m_process.readAll());
            stop();
            return false;
        }
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        if (probe.waitForConnected(200) && probe.waitForReadyRead(1000) && probe.readLine().startsWith("+OK")) {
            QTcpSocket tls, imap, imaps;
            tls.connectToHost(QHostAddress::LocalHost, m_tlsPort);
            imap.connectToHost(QHostAddress::LocalHost, m_imapPort);
            imaps.connectToHost(QHostAddress::LocalHost, m_imapsPort);
            if (tls.waitForConnected(1000) && imaps.waitForConnected(1000) && imap.waitForReadyRead(1000)
                && imap.readLine().startsWith("* OK"))
                return true;
        }
        m_process.waitForFinished(10); // polling interval, and notices an early exit
    }
}

void DovecotServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(15000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

void DovecotServer::setMessages(const QList<QByteArray> &messages)
{
    if (!m_dir)
        return; // not started
    const QString root = maildir();
    QDir(root).removeRecursively();
    for (const char *sub : {"", "/cur", "/new", "/tmp"}) {
        const QString path = root + QLatin1String(sub);
        QDir().mkpath(path);
        own(path);
    }
    for (const QByteArray &m : messages)
        addMessage(m);
}

void DovecotServer::addMessage(const QByteArray &message)
{
    if (!m_dir)
        return; // not started
    // Dovecot numbers new maildir files by the time stamp that starts their names; the sizes in
    // the name (S= on disk, W= with CRLF line ends) spare it reading every file.
    qsizetype bareLf = 0;
    for (qsizetype i = 0; i < message.size(); ++i)
        if (message[i] == '\n' && (i == 0 || message[i - 1] != '\r'))
            ++bareLf;
    const qint64 stamp = m_nextStamp++;
    const QString name = QStringLiteral("%1.M1P1.pelicorde,S=%2,W=%3:2,")
                             .arg(stamp)
                             .arg(message.size())
                             .arg(message.size() + bareLf);
    const QString path = maildir() + QStringLiteral("/cur/") + name;
    writeFile(path, message);
    own(path);
}

QList<std::pair<qint64, QString>> DovecotServer::storedFiles(const QString &folder) const
{
    QList<std::pair<qint64, QString>> files;
    if (!m_dir)
        return files;
    for (const char *sub : {"/cur", "/new"}) {
        const QDir d(maildir(folder) + QLatin1String(sub));
        for (const QString &name : d.entryList(QDir::Files))
            files.append({stampOf(name), d.filePath(name)});
    }
    std::sort(files.begin(), files.end());
    return files;
}

QStringList DovecotServer::storedFlags(const QString &folder) const
{
    QStringList flags;
    for (const auto &f : storedFiles(folder))
        flags << f.second.section(QStringLiteral(":2,"), 1);
    return flags;
}

QList<QByteArray> DovecotServer::storedMessages(const QString &folder) const
{
    QList<QByteArray> result;
    for (const auto &f : storedFiles(folder)) {
        QFile file(f.second);
        result.append(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }
    return result;
}
