#include "mailbox/Pop3Session.h"

#include <QEventLoop>
#include <QLocale>
#include <QScopeGuard>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

#include "app/Error.h"
#include "mailbox/LoginDelay.h"

namespace {

// A status line longer than this without a line end is not POP3.
constexpr qsizetype kMaxStatusLine = 64 * 1024;
// A body line this long is no mail (mail lines are short, even broken base64 stays far
// below): a server streaming one endless line must not fill the memory.
constexpr qsizetype kMaxBodyLine = 64 * 1024 * 1024;
// Each message becomes a row of the list: a count beyond this is a lying or broken server,
// and would have the list allocate gigabytes (and overflow the row arithmetic at 2^31).
constexpr int kMaxMessages = 1000000;
// Pipelining window: commands outstanding at most (TOP replies are small, RETR ones may be big)
// and bytes of commands per write. Replies are read while commands are in flight, so neither
// side's buffers fill up.
constexpr int kHeaderWindow = 128;
constexpr int kMessageWindow = 16;
constexpr qsizetype kMaxCommandBytes = 32 * 1024;

QString serverText(const QByteArray &bytes)
{
    QString text = QString::fromUtf8(bytes).trimmed();
    if (text.size() > 200)
        text = text.left(200) + QStringLiteral("…");
    return text;
}

QString commandStep(const QByteArray &command)
{
    return QStringLiteral("la commande ") + QString::fromLatin1(command);
}

// Header block of a whole message, blank line included, as TOP n 0 gives it.
QByteArray headerPart(const QByteArray &message)
{
    if (message.startsWith("\r\n"))
        return message.left(2);
    if (message.startsWith('\n'))
        return message.left(1);
    qsizetype crlf = message.indexOf("\r\n\r\n");
    qsizetype lf = message.indexOf("\n\n");
    if (crlf >= 0 && (lf < 0 || crlf < lf))
        return message.left(crlf + 4);
    if (lf >= 0)
        return message.left(lf + 2);
    return message;
}

bool listsCapability(const QStringList &capabilities, QStringView name)
{
    for (const QString &c : capabilities)
        if (QStringView(c).split(u' ').first().compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace

Pop3Session::Pop3Session(int timeoutMs) : m_timeoutMs(timeoutMs) {}

Pop3Session::~Pop3Session()
{
    // No QUIT: the server then deletes nothing that was marked in this session.
    if (m_socket)
        m_socket->abort();
}

QString Pop3Session::server() const
{
    return QStringLiteral("%1:%2").arg(m_account.host).arg(m_account.port);
}

void Pop3Session::fail(const QString &text)
{
    m_broken = true;
    throw Error(text);
}

void Pop3Session::failDropped(const QString &step)
{
    fail(QStringLiteral("Connexion interrompue par le serveur %1 pendant %2").arg(server(), step));
}

void Pop3Session::failTimeout(const QString &step)
{
    const QString delay = m_timeoutMs % 1000 == 0
        ? QString::number(m_timeoutMs / 1000)
        : QLocale(QLocale::French).toString(m_timeoutMs / 1000.0);
    fail(QStringLiteral("Le serveur %1 ne répond plus (%2 s sans réponse) pendant %3")
             .arg(server(), delay, step));
}

void Pop3Session::failRefused(const QString &step, const Reply &reply)
{
    fail(QStringLiteral("Le serveur %1 a refusé %2 : %3").arg(server(), step, serverText(reply.status)));
}

void Pop3Session::requireOpen() const
{
    if (!m_open || m_broken)
        throw Error(QStringLiteral("Session POP3 fermée ou interrompue avec le serveur %1").arg(server()));
}

void Pop3Session::open(const Pop3Account &account)
{
    if (m_socket)
        throw Error(QStringLiteral("Session POP3 déjà ouverte avec le serveur %1").arg(server()));
    m_account = account;
    const QByteArray user = account.user.toUtf8();
    const QByteArray password = account.password.toUtf8();
    // A line end inside a field would let it send a command of its own.
    if (user.contains('\r') || user.contains('\n') || password.contains('\r') || password.contains('\n'))
        throw Error(QStringLiteral("Nom d'utilisateur ou mot de passe invalide pour le serveur %1").arg(server()));
    if (account.tls && !QSslSocket::supportsSsl())
        throw Error(QStringLiteral("Connexion TLS impossible au serveur %1 : TLS non disponible sur ce système")
                        .arg(server()));

    m_socket = std::make_unique<QSslSocket>();
    m_timer = std::make_unique<QTimer>();
    m_timer->setSingleShot(true);
    auto wake = [this] {
        if (m_loop)
            m_loop->quit();
    };
    QSslSocket *s = m_socket.get();
    QObject::connect(s, &QSslSocket::readyRead, s, wake);
    QObject::connect(s, &QSslSocket::stateChanged, s, wake);
    QObject::connect(s, &QSslSocket::encrypted, s, wake);
    QObject::connect(s, &QSslSocket::errorOccurred, s, wake);
    QObject::connect(m_timer.get(), &QTimer::timeout, s, wake);

    m_progress.start();
    if (account.tls) {
        QSslConfiguration config = s->sslConfiguration();
        config.setPeerVerifyMode(QSslSocket::VerifyNone);
        config.setPeerVerifyDepth(0);
        s->setSslConfiguration(config);
        s->connectToHostEncrypted(account.host, account.port);
    } else {
        s->connectToHost(account.host, account.port);
    }
    waitUntilConnected();

    const QString greeting = QStringLiteral("l'accueil");
    const Reply hello = readReply(false, greeting);
    if (!hello.ok)
        failRefused(greeting, hello);
    for (const auto &[line, step] : {std::pair{"USER " + user, QStringLiteral("la commande USER")},
                                     std::pair{"PASS " + password, QStringLiteral("la commande PASS")}}) {
        const Reply r = command(line, false, step);
        if (!r.ok) {
            m_broken = true;
            throw LoginRefused(
                QStringLiteral("Identification refusée par le serveur %1 : %2").arg(server(), serverText(r.status)),
                refusalReason(r.status));
        }
    }
    m_open = true;
}

void Pop3Session::waitUntilConnected()
{
    bool tcpUp = false;
    const auto up = QObject::connect(m_socket.get(), &QSslSocket::connected, [&tcpUp] { tcpUp = true; });
    const auto guard = qScopeGuard([up] { QObject::disconnect(up); });
    const QString step = QStringLiteral("la connexion");
    for (;;) {
        if (m_account.tls ? m_socket->isEncrypted() : m_socket->state() == QAbstractSocket::ConnectedState)
            return;
        if (m_socket->state() == QAbstractSocket::UnconnectedState) {
            const QString why = m_socket->errorString();
            if (m_account.tls && tcpUp)
                fail(QStringLiteral("Échec de la négociation TLS avec le serveur %1 : %2").arg(server(), why));
            fail(QStringLiteral("Connexion impossible au serveur %1 : %2").arg(server(), why));
        }
        if (m_account.tls && tcpUp && m_socket->error() == QAbstractSocket::SslHandshakeFailedError) {
            const QString why = m_socket->errorString();
            m_socket->abort();
            fail(QStringLiteral("Échec de la négociation TLS avec le serveur %1 : %2").arg(server(), why));
        }
        waitForData(step);
    }
}

// Runs the event loop until the socket or the time-out timer says something.
void Pop3Session::waitForData(const QString &step)
{
    const qint64 left = m_timeoutMs - m_progress.elapsed();
    if (left <= 0)
        failTimeout(step);
    QEventLoop loop;
    m_loop = &loop;
    m_timer->start(int(left));
    const int result = loop.exec();
    m_loop = nullptr;
    m_timer->stop();
    // Once the application is quitting (the main window was closed meanwhile), no event loop
    // runs any more: waiting would spin without reading the socket until the time-out. The
    // operation ends here, as after any network failure.
    if (result < 0)
        fail(QStringLiteral("Échange avec le serveur %1 interrompu : le programme se ferme pendant %2")
                 .arg(server(), step));
}

void Pop3Session::pull()
{
    const qint64 available = m_socket->bytesAvailable();
    if (available <= 0)
        return;
    m_progress.restart();
    if (m_pos == m_buf.size()) {
        m_buf.resize(0);
        m_searchFrom = m_pos = 0;
    } else if (m_pos >= 64 * 1024 && m_pos * 2 >= m_buf.size()) {
        m_buf.remove(0, m_pos);
        m_searchFrom -= m_pos;
        m_pos = 0;
    }
    const qsizetype old = m_buf.size();
    if (m_buf.capacity() < old + available)
        m_buf.reserve(qMax(old + available, 2 * m_buf.capacity()));
    m_buf.resize(old + available);
    const qint64 got = m_socket->read(m_buf.data() + old, available);
    m_buf.resize(old + qMax<qint64>(got, 0));
}

void Pop3Session::send(const QByteArray &bytes)
{
    m_progress.restart();
    m_socket->write(bytes);
}

// One reply taken from the buffer when it is complete; false when more bytes are needed.
bool Pop3Session::parseReply(bool multiLine, Reply &out, const QString &step)
{
    if (!m_inBody) {
        const qsizetype nl = m_buf.indexOf('\n', m_searchFrom);
        if (nl < 0) {
            m_searchFrom = m_buf.size();
            if (m_buf.size() - m_pos > kMaxStatusLine)
                fail(QStringLiteral("Réponse incompréhensible du serveur %1 pendant %2 : ligne sans fin")
                         .arg(server(), step));
            return false;
        }
        QByteArray line = m_buf.mid(m_pos, nl - m_pos);
        if (line.endsWith('\r'))
            line.chop(1);
        m_pos = m_searchFrom = nl + 1;
        Reply r;
        if (line.startsWith("+OK")) {
            r.ok = true;
            r.status = line.mid(3).trimmed();
        } else if (line.startsWith("-ERR")) {
            r.status = line.mid(4).trimmed();
        } else {
            fail(QStringLiteral("Réponse incompréhensible du serveur %1 pendant %2 : « %3 »")
                     .arg(server(), step, serverText(line)));
        }
        if (!multiLine || !r.ok) {
            out = std::move(r);
            return true;
        }
        m_partial = std::move(r);
        m_inBody = true;
    }
    for (;;) {
        const qsizetype nl = m_buf.indexOf('\n', m_searchFrom);
        if ((nl < 0 ? m_buf.size() : nl) - m_pos > kMaxBodyLine)
            fail(QStringLiteral("Réponse incompréhensible du serveur %1 pendant %2 : ligne sans fin")
                     .arg(server(), step));
        if (nl < 0) {
            m_searchFrom = m_buf.size();
            return false;
        }
        const char *line = m_buf.constData() + m_pos;
        qsizetype length = nl + 1 - m_pos;
        m_pos = m_searchFrom = nl + 1;
        if (line[0] == '.') {
            if (length == 2 || (length == 3 && line[1] == '\r')) {
                m_inBody = false;
                out = std::move(m_partial);
                m_partial = Reply();
                return true;
            }
            ++line; // dot-stuffed
            --length;
        }
        m_partial.body.append(line, length);
    }
}

Pop3Session::Reply Pop3Session::readReply(bool multiLine, const QString &step)
{
    for (;;) {
        Reply r;
        if (parseReply(multiLine, r, step))
            return r;
        if (m_socket->bytesAvailable() > 0) {
            pull();
            continue;
        }
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            failDropped(step);
        waitForData(step);
        pull();
    }
}

Pop3Session::Reply Pop3Session::command(const QByteArray &line, bool multiLine, const QString &step)
{
    if (!m_socket || m_broken)
        requireOpen();
    send(line + "\r\n");
    return readReply(multiLine, step);
}

Pop3Session::Reply Pop3Session::expectOk(const QByteArray &line, bool multiLine, const QString &step)
{
    Reply r = command(line, multiLine, step);
    if (!r.ok)
        failRefused(step, r);
    return r;
}

QStringList Pop3Session::capabilities()
{
    requireOpen();
    if (!m_capaAsked) {
        m_capaAsked = true;
        const Reply r = command("CAPA", true, QStringLiteral("la commande CAPA"));
        if (r.ok) {
            for (const QByteArray &line : r.body.split('\n')) {
                const QString capability = QString::fromLatin1(line).trimmed();
                if (!capability.isEmpty())
                    m_capabilities << capability;
            }
            m_top = listsCapability(m_capabilities, u"TOP") ? Support::Yes : Support::No;
        }
    }
    return m_capabilities;
}

int Pop3Session::loginDelay()
{
    return announcedLoginDelay(capabilities());
}

bool Pop3Session::canPipeline()
{
    return m_pipelining && listsCapability(capabilities(), u"PIPELINING");
}

void Pop3Session::setPipelining(bool allowed)
{
    m_pipelining = allowed;
}

bool Pop3Session::useTop()
{
    capabilities();
    return m_top != Support::No;
}

int Pop3Session::messageCount()
{
    requireOpen();
    const QString step = QStringLiteral("la commande STAT");
    const Reply r = expectOk("STAT", false, step);
    bool ok = false;
    const int count = r.status.split(' ').first().toInt(&ok);
    if (!ok || count < 0 || count > kMaxMessages)
        fail(QStringLiteral("Réponse incompréhensible du serveur %1 pendant %2 : « %3 »")
                 .arg(server(), step, serverText(r.status)));
    return count;
}

QByteArray Pop3Session::header(int n)
{
    requireOpen();
    if (useTop()) {
        const QByteArray top = "TOP " + QByteArray::number(n) + " 0";
        Reply r = command(top, true, commandStep(top));
        if (r.ok) {
            m_top = Support::Yes;
            return std::move(r.body);
        }
        // Without CAPA, a refused TOP is taken as a server without TOP, once.
        if (m_top != Support::Unknown)
            failRefused(commandStep(top), r);
        m_top = Support::No;
    }
    return headerPart(message(n));
}

QByteArray Pop3Session::message(int n)
{
    requireOpen();
    const QByteArray retr = "RETR " + QByteArray::number(n);
    return std::move(expectOk(retr, true, commandStep(retr)).body);
}

bool Pop3Session::remove(int n)
{
    requireOpen();
    const QByteArray dele = "DELE " + QByteArray::number(n);
    return command(dele, false, commandStep(dele)).ok;
}

QHash<int, QString> Pop3Session::uniqueIds()
{
    requireOpen();
    QHash<int, QString> ids;
    const QStringList caps = capabilities();
    if (!caps.isEmpty() && !listsCapability(caps, u"UIDL"))
        return ids;
    const Reply r = command("UIDL", true, QStringLiteral("la commande UIDL"));
    if (!r.ok)
        return ids;
    for (const QByteArray &line : r.body.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(' ');
        bool ok = false;
        const int n = fields.first().toInt(&ok);
        if (ok && fields.size() >= 2)
            ids.insert(n, QString::fromLatin1(fields.at(1)));
    }
    return ids;
}

void Pop3Session::headers(int first, int last, const Each &each)
{
    batch(first, last, true, each);
}

void Pop3Session::messages(int first, int last, const Each &each)
{
    batch(first, last, false, each);
}

void Pop3Session::batch(int first, int last, bool headersOnly, const Each &each)
{
    requireOpen();
    if (first > last)
        return;
    const bool top = headersOnly && useTop();
    if (!canPipeline()) {
        for (int n = first; n <= last; ++n)
            each(n, headersOnly ? header(n) : message(n));
        return;
    }
    const auto verb = [top](int n) {
        return top ? "TOP " + QByteArray::number(n) + " 0" : "RETR " + QByteArray::number(n);
    };
    // Without TOP, headers come from whole messages: the window of whole messages applies.
    const int window = top ? kHeaderWindow : kMessageWindow;
    // Until the batch ends normally, replies may be in flight: a throw from each leaves the
    // session unusable.
    m_broken = true;
    int next = first; // next command to send
    int done = first; // next reply to read
    while (done <= last) {
        // Top up by half a window at a time, so the commands go out in few writes.
        if (next <= last && next - done <= window / 2) {
            QByteArray commands;
            while (next <= last && next - done < window && commands.size() < kMaxCommandBytes)
                commands += verb(next++) + "\r\n";
            send(commands);
        }
        const QString step = commandStep(verb(done));
        Reply r = readReply(true, step);
        if (!r.ok)
            failRefused(step, r);
        const int n = done++;
        each(n, headersOnly && !top ? headerPart(r.body) : r.body);
    }
    m_broken = false;
}

void Pop3Session::quit()
{
    requireOpen();
    expectOk("QUIT", false, QStringLiteral("la commande QUIT"));
    m_open = false;
    m_socket->disconnectFromHost();
}
