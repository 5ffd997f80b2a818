// SPDX-License-Identifier: GPL-3.0-or-later
// One class, one conversation: the login, the commands sent ahead and the pipelined batches
// share the queue of replies owed and the session's state, so they stay in one file. The
// replies' framing is in Pop3ReplyParser.
#include "protocol/pop3/Pop3Session.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "core/Error.h"
#include "protocol/LoginDelay.h"

namespace {

// Each message becomes a row of the list: a count beyond this is a lying or broken server,
// and would have the list allocate gigabytes (and overflow the row arithmetic at 2^31).
constexpr int kMaxMessages = 1000000;
// Whole messages may each be large: at most kMessageWindow of them are asked for ahead.
constexpr int kMessageWindow = 16;

QString commandStep(QByteArrayView command)
{
    const QLatin1StringView prefix("la commande ");
    QString step;
    step.reserve(prefix.size() + command.size());
    return step.append(prefix).append(QLatin1StringView(command));
}

// "TOP n 0" (top) or "RETR n", written at out (room for 16 bytes); returns the end.
char *writeBatchVerb(char *out, bool top, int n)
{
    const char *verb = top ? "TOP " : "RETR ";
    const std::size_t size = top ? 4 : 5;
    std::memcpy(out, verb, size);
    out = std::to_chars(out + size, out + 16, n).ptr;
    if (top) {
        std::memcpy(out, " 0", 2);
        out += 2;
    }
    return out;
}

QByteArray batchVerb(bool top, int n)
{
    char line[32];
    return QByteArray(line, writeBatchVerb(line, top, n) - line);
}

// A message starts with a header, never with a status line: one there is a stray line the
// reply was read from. TOP n 0 gives the header block (some servers add body lines regardless);
// a status line after it is the next reply, swallowed by one that lacked its terminating line.
// The framing has looked at the lines already.
bool notAMessage(const Pop3ReplyParser::Reply &reply, bool top)
{
    return reply.statusFirst || (top && reply.statusAfterHeader);
}

// Each line of a multi-line body, line end cut and trimmed, read in place: a body of short
// lines split into a list would cost many times its size.
template <typename F>
void forEachLine(const QByteArray &body, F &&f)
{
    for (qsizetype at = 0; at < body.size();) {
        qsizetype nl = body.indexOf('\n', at);
        if (nl < 0)
            nl = body.size();
        f(QByteArrayView(body).sliced(at, nl - at).trimmed());
        at = nl + 1;
    }
}

// RFC 2449 names a dozen capabilities; further lines are no use to anyone.
constexpr qsizetype kMaxCapabilities = 100;

QStringList capabilityLines(const QByteArray &body)
{
    QStringList lines;
    forEachLine(body, [&](QByteArrayView line) {
        if (!line.isEmpty() && lines.size() < kMaxCapabilities)
            lines << QString::fromLatin1(line);
    });
    return lines;
}

bool listsCapability(const QStringList &capabilities, QStringView name)
{
    for (const QString &c : capabilities)
        if (QStringView(c).split(u' ').first().compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace

Pop3Session::Pop3Session() : MailConnection(SessionLimits::defaults()) {}

Pop3Session::Pop3Session(int idleMs) : MailConnection(SessionLimits::defaults())
{
    m_limits.idleMs = idleMs;
}

Pop3Session::Pop3Session(const SessionLimits &limits) : MailConnection(limits) {}

// No QUIT: the server then deletes nothing that was marked in this session.
Pop3Session::~Pop3Session() = default;

void Pop3Session::failUnrelated(const QString &step)
{
    failOutOfStep(QStringLiteral("Réponse du serveur %1 sans rapport avec %2").arg(server(), step));
}

// A refusal leaves the conversation in step: the session stays usable.
void Pop3Session::failRefused(const QString &step, const Reply &reply)
{
    failRefusal(step, reply.status);
}

void Pop3Session::failParser(const QString &step)
{
    switch (m_replies.problem()) {
    case Pop3ReplyParser::Problem::NotPop3:
        failGarbled(step, QStringLiteral("« %1 »").arg(serverText(m_replies.problemLine())));
    case Pop3ReplyParser::Problem::EndlessLine:
        failGarbled(step, QStringLiteral("ligne sans fin"));
    case Pop3ReplyParser::Problem::TooLong:
        failTooLong(step);
    case Pop3ReplyParser::Problem::Stray:
    case Pop3ReplyParser::Problem::None:
        break;
    }
    failOutOfStep(QStringLiteral("Réponse en trop du serveur %1 après %2 : échange désynchronisé")
                      .arg(server(), m_lastStep.isEmpty() ? step : m_lastStep));
}

void Pop3Session::requireOpen() const
{
    if (!m_open || m_broken)
        throw Error(QStringLiteral("Session POP3 fermée ou interrompue avec le serveur %1").arg(server()),
                    QStringLiteral("Connexion coupée par le serveur"));
}

void Pop3Session::open(const MailAccount &account)
{
    connectTo(account, QLatin1StringView("POP3"));
    m_replies.expect(false, 0); // the greeting

    const QString greeting = QStringLiteral("l'accueil");
    Reply hello;
    try {
        hello = readReply(greeting);
    } catch (const Error &) {
        // An IMAP server on the port: the user only has to say so.
        const QByteArray &line = m_replies.problemLine();
        if (m_replies.problem() == Pop3ReplyParser::Problem::NotPop3
            && (line.startsWith("* OK") || line.startsWith("* PREAUTH") || line.startsWith("* BYE")))
            failOtherProtocol(QLatin1StringView("IMAP"), QLatin1StringView("imap"), QLatin1StringView("POP3"));
        throw;
    }
    if (!hello.ok)
        failTurnedAway(greeting, hello.status);
    const QStringList offered = preLoginCapabilities();
    bool pipelined = m_pipelining && listsCapability(offered, u"PIPELINING");
    if (!account.tls && listsCapability(offered, u"STLS")) {
        upgrade();
        // What was said in clear text may have been forged on the way (RFC 2595, section 4), so
        // it is asked again over TLS: behind PASS, where it costs no round trip, when the server
        // said it pipelines. A forged claim could only make the login's write fail.
        if (!pipelined)
            pipelined = m_pipelining && listsCapability(preLoginCapabilities(), u"PIPELINING");
    } else if (!account.tls && account.tlsRequired) {
        failWithdrawn();
    }
    login(account.user.toUtf8(), account.password.toUtf8(), pipelined);
    m_open = true;
}

QStringList Pop3Session::preLoginCapabilities()
{
    const Reply caps = command("CAPA", m_limits.capabilityBytes, QStringLiteral("la commande CAPA"));
    return caps.ok ? capabilityLines(caps.body) : QStringList();
}

// RFC 2595: STLS when CAPA lists it. Once offered, a refusal or a failed handshake ends the
// session: going on in clear text is what an attacker stripping the encryption would want.
void Pop3Session::upgrade()
{
    const QString step = QStringLiteral("la commande STLS");
    const Reply r = command("STLS", 0, step);
    if (!r.ok && m_account.tlsRequired)
        failWithdrawn();
    if (!r.ok)
        failTls(serverText(r.status));
    // Bytes sent in clear after the +OK would pass for replies of the encrypted session.
    requireInStep(step);
    startTls();
}

// Pipelined, the login costs one round trip over TLS. In clear text the password waits for
// the server to accept the name: one that refuses clear-text logins says so at USER.
// CAPA (what the server says once logged in, e.g. LOGIN-DELAY) and STAT, if asked ahead,
// follow PASS.
void Pop3Session::login(const QByteArray &user, const QByteArray &password, bool pipelined)
{
    const QString userStep = QStringLiteral("la commande USER");
    const QString passStep = QStringLiteral("la commande PASS");
    const auto refused = [this](const Reply &r) {
        m_broken = true;
        throw LoginRefused(
            QStringLiteral("Identification refusée par le serveur %1 : %2").arg(server(), serverText(r.status)),
            refusalReason(r.status));
    };
    if (!pipelined || !m_encrypted) {
        const Reply r = command("USER " + user, 0, userStep);
        if (!r.ok)
            refused(r);
    }
    if (!pipelined) {
        const Reply r = command("PASS " + password, 0, passStep);
        if (!r.ok)
            refused(r);
        return;
    }
    QList<std::pair<QByteArray, qsizetype>> commands;
    if (m_encrypted)
        commands.append({"USER " + user, 0});
    commands.append({"PASS " + password, 0});
    commands.append({"CAPA", m_limits.capabilityBytes});
    if (m_countAfterLogin)
        commands.append({"STAT", 0});
    requireInStep(passStep);
    sendAll(commands);
    m_ahead.push_back({"CAPA", {}});
    if (m_countAfterLogin)
        m_ahead.push_back({"STAT", {}});
    if (m_encrypted) {
        const Reply r = readReply(userStep);
        if (!r.ok)
            refused(r);
    }
    const Reply r = readReply(passStep);
    if (!r.ok)
        refused(r);
}

void Pop3Session::sendAll(const QList<std::pair<QByteArray, qsizetype>> &commands)
{
    QByteArray bytes;
    for (const auto &[line, maxBody] : commands) {
        bytes += line + "\r\n";
        m_replies.expect(maxBody > 0, maxBody);
    }
    send(bytes);
}

// Replies come in the order their commands went: those sent ahead before line (all of them
// when line was not sent ahead) are read and kept for their own calls. A run is found by its
// first command; one passed over or looked into stands for its commands one by one.
std::deque<Pop3Session::Ahead>::iterator Pop3Session::readAheadUpTo(const QByteArray &line)
{
    const auto matches = [&](const Ahead &a) {
        return a.runLast ? batchVerb(a.runTop, a.runFirst) == line : a.line == line;
    };
    auto it = std::find_if(m_ahead.begin(), m_ahead.end(), matches);
    const auto isRun = [](const Ahead &a) { return a.runLast != 0; };
    if (std::any_of(m_ahead.begin(), it, isRun)) {
        std::deque<Ahead> single;
        for (Ahead &a : m_ahead) {
            if (!a.runLast) {
                single.push_back(std::move(a));
                continue;
            }
            for (int n = a.runFirst; n <= a.runLast; ++n)
                single.push_back({batchVerb(a.runTop, n), {}});
        }
        m_ahead = std::move(single);
        it = std::find_if(m_ahead.begin(), m_ahead.end(), matches);
    }
    for (auto a = m_ahead.begin(); a != it; ++a)
        if (!a->reply)
            a->reply = readReply(commandStep(a->line));
    return it;
}

// The reply to line when line was sent ahead.
bool Pop3Session::claimAhead(const QByteArray &line, const QString &step, Reply &reply)
{
    const auto it = readAheadUpTo(line);
    if (it == m_ahead.end())
        return false;
    reply = it->reply ? std::move(*it->reply) : readReply(step);
    // Of a run, only its first command is answered.
    if (it->runLast && it->runFirst < it->runLast)
        ++it->runFirst;
    else
        m_ahead.erase(it);
    return true;
}

void Pop3Session::askCountAhead()
{
    m_countAfterLogin = true;
}

void Pop3Session::pull()
{
    // Read straight into the framing's buffer: no array of its own per read.
    const qint64 available = m_transport->bytesAvailable();
    if (available <= 0)
        return;
    const qint64 got = m_transport->read(m_replies.reserve(available), available);
    if (got <= 0)
        return;
    m_progress.restart();
    m_received += got;
    m_replies.commit(got);
}

void Pop3Session::send(const QByteArray &bytes)
{
    m_progress.restart();
    m_transport->write(bytes);
}

Pop3Session::Reply Pop3Session::readReply(const QString &step)
{
    for (;;) {
        Reply r;
        if (m_replies.next(r)) {
            m_lastStep = step;
            return r;
        }
        if (m_replies.problem() != Pop3ReplyParser::Problem::None)
            failParser(step);
        awaitBytes(step);
        pull();
    }
}

// Nothing may have come that no command asked for; what has arrived so far is checked.
void Pop3Session::requireInStep(const QString &step)
{
    pull();
    if (m_replies.problem() != Pop3ReplyParser::Problem::None)
        failParser(step);
}

Pop3Session::Reply Pop3Session::command(const QByteArray &line, qsizetype maxBody, const QString &step)
{
    if (!m_transport || m_broken)
        requireOpen();
    // Replies of commands sent ahead come out before a problem behind them shows.
    if (Reply r; claimAhead(line, step, r))
        return r;
    requireInStep(step);
    m_replies.expect(maxBody > 0, maxBody);
    send(line + "\r\n");
    return readReply(step);
}

Pop3Session::Reply Pop3Session::expectOk(const QByteArray &line, qsizetype maxBody, const QString &step)
{
    Reply r = command(line, maxBody, step);
    if (!r.ok)
        failRefused(step, r);
    return r;
}

QStringList Pop3Session::capabilities()
{
    requireOpen();
    if (!m_capaAsked) {
        m_capaAsked = true;
        const Reply r = command("CAPA", m_limits.capabilityBytes, QStringLiteral("la commande CAPA"));
        if (r.ok) {
            m_capabilities = capabilityLines(r.body);
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
    const Reply r = expectOk("STAT", 0, step);
    bool ok = false;
    const int count = r.status.split(' ').first().toInt(&ok);
    if (!ok || count < 0 || count > kMaxMessages)
        failGarbled(step, QStringLiteral("« %1 »").arg(serverText(r.status)));
    m_count = count;
    return count;
}

QByteArray Pop3Session::header(int n)
{
    requireOpen();
    if (useTop()) {
        const QByteArray top = "TOP " + QByteArray::number(n) + " 0";
        const QString step = commandStep(top);
        Reply r = command(top, m_limits.headerBytes, step);
        if (r.ok) {
            m_top = Support::Yes;
            if (notAMessage(r, true))
                failUnrelated(step);
            return std::move(r.body);
        }
        // Without CAPA, a refused TOP is taken as a server without TOP, once.
        if (m_top != Support::Unknown)
            failRefused(step, r);
        m_top = Support::No;
    }
    // The header block, blank line included, as TOP n 0 gives it.
    Reply r = retrieve(n);
    r.body.truncate(r.headerEnd);
    return std::move(r.body);
}

QByteArray Pop3Session::message(int n)
{
    requireOpen();
    return std::move(retrieve(n).body);
}

Pop3Session::Reply Pop3Session::retrieve(int n)
{
    const QByteArray retr = "RETR " + QByteArray::number(n);
    Reply r = expectOk(retr, m_limits.messageBytes, commandStep(retr));
    if (notAMessage(r, false))
        failUnrelated(commandStep(retr));
    return r;
}

bool Pop3Session::remove(int n)
{
    requireOpen();
    const QByteArray dele = "DELE " + QByteArray::number(n);
    return command(dele, 0, commandStep(dele)).ok;
}

bool Pop3Session::offersUniqueIds()
{
    const QStringList caps = capabilities();
    return caps.isEmpty() || listsCapability(caps, u"UIDL");
}

// A UIDL line takes at most 80 bytes (RFC 1939: ids of up to 70 characters): once the count is
// known, a listing much longer than it can hold is refused as it comes.
qsizetype Pop3Session::listingCap() const
{
    return m_count < 0 ? m_limits.listingBytes : qMin(m_limits.listingBytes, (qsizetype(m_count) + 1) * 128);
}

QHash<int, QString> Pop3Session::uniqueIds()
{
    const MessageIds byNumber = uniqueIdsByNumber();
    QHash<int, QString> ids;
    ids.reserve(byNumber.size());
    for (qsizetype n = 1; n < byNumber.size(); ++n)
        if (byNumber.has(n))
            ids.insert(int(n), byNumber[n]);
    return ids;
}

MessageIds Pop3Session::uniqueIdsByNumber()
{
    requireOpen();
    MessageIds ids;
    if (!offersUniqueIds())
        return ids;
    if (m_count < 0)
        messageCount();
    const QString step = QStringLiteral("la commande UIDL");
    const Reply r = command("UIDL", listingCap(), step);
    if (!r.ok)
        return ids;
    ids.resize(qsizetype(m_count) + 1);
    ids.reserve(qsizetype(m_count) + 1, r.body.size());
    // Each line holds a message number and its id (RFC 1939); anything else is another reply,
    // such as headers left over from a previous command. An id is never empty: an empty slot
    // is a number not listed yet.
    forEachLine(r.body, [&](QByteArrayView line) {
        if (line.isEmpty())
            return;
        const qsizetype blank = line.indexOf(' ');
        bool ok = false;
        const int n = blank < 0 ? 0 : line.first(blank).toInt(&ok);
        QByteArrayView id = blank < 0 ? QByteArrayView() : line.sliced(blank + 1).trimmed();
        id = id.first(id.contains(' ') ? id.indexOf(' ') : id.size());
        if (!ok || n < 1 || n > m_count || id.isEmpty() || ids.has(n))
            failUnrelated(step);
        ids.set(n, id);
    });
    return ids;
}

void Pop3Session::headers(int first, int last, const Each &each, Then then)
{
    batch(first, last, true, each, then);
}

void Pop3Session::messages(int first, int last, const Each &each)
{
    batch(first, last, false, each, Then::Nothing);
}

// How a batch goes out: its commands, their reply cap, how many may be asked ahead, and the
// command that closes it (behind the last one when pipelined): UIDL when the ids are wanted and
// the server lists it, else LIST of the last message.
struct Pop3Session::BatchPlan
{
    int first;
    int last;
    bool top;
    qsizetype cap;
    int window;
    QByteArray then;
    bool listing; // then is UIDL, left for uniqueIds() to read and check

    // A header pass sends tens of thousands of these: written in place, the number through
    // to_chars (snprintf's reading of its format cost a few per cent of the pass).
    char *write(char *out, int n) const { return writeBatchVerb(out, top, n); }
    QByteArray verb(int n) const { return batchVerb(top, n); }
    // commandStep(verb(n)), made at once.
    QString step(int n) const
    {
        char text[48] = "la commande ";
        constexpr qsizetype prefix = sizeof "la commande " - 1;
        return QString::fromLatin1(text, write(text + prefix, n) - text);
    }
    // verb(n) with its line end, in bytes.
    qsizetype length(int n) const
    {
        qsizetype digits = 1;
        for (int rest = n; rest >= 10; rest /= 10)
            ++digits;
        return (top ? 8 : 7) + digits;
    }
};

Pop3Session::BatchPlan Pop3Session::plan(int first, int last, bool headersOnly, Then then)
{
    const bool top = headersOnly && useTop();
    // Without TOP, headers come from whole messages: the window of whole messages applies.
    const int window = top ? last - first + 1 : kMessageWindow;
    const bool listing = then == Then::UniqueIds && listsCapability(capabilities(), u"UIDL");
    const QByteArray after = listing ? QByteArray("UIDL") : "LIST " + QByteArray::number(last);
    return {first, last, top, top ? m_limits.headerBytes : m_limits.messageBytes, window, after, listing};
}

// A reply left over from the batch, or a stray one that shifted the replies, takes the place of
// the closing reply, which no TOP or RETR reply passes for: found whatever the timing.
void Pop3Session::closeBatch(const BatchPlan &plan)
{
    if (plan.listing)
        return;
    const QString step = commandStep(plan.then);
    const Reply r = command(plan.then, 0, step);
    const QByteArray number = QByteArray::number(plan.last);
    if (!r.ok || !(r.status == number || r.status.startsWith(number + ' ')))
        failUnrelated(step);
}

// Writes the plan's commands from next on while the bounds allow, in one write; the command
// that follows the batch goes with the last one, and is left for its own call to read.
// Sent ahead (before the batch runs), the batch's own commands are left for it to find.
void Pop3Session::topUp(const BatchPlan &plan, int &next, int done, qsizetype &inFlight, bool ahead)
{
    QByteArray commands;
    commands.reserve(std::min<qsizetype>(m_limits.requestBytesInFlight - inFlight, 64 * 1024) + 64);
    while (next <= plan.last && next - done < plan.window) {
        char line[32];
        char *end = plan.write(line, next);
        const qsizetype size = end - line;
        if (inFlight + size + 2 > m_limits.requestBytesInFlight)
            break;
        if (ahead) {
            if (!m_ahead.empty() && m_ahead.back().runLast == next - 1 && m_ahead.back().runLast != 0
                && m_ahead.back().runTop == plan.top && !m_ahead.back().reply)
                m_ahead.back().runLast = next;
            else
                m_ahead.push_back({QByteArray(), {}, next, next, plan.top});
        }
        std::memcpy(end, "\r\n", 2);
        commands.append(line, size + 2);
        inFlight += size + 2;
        m_replies.expect(true, plan.cap);
        if (next++ == plan.last) {
            commands += plan.then + "\r\n";
            m_replies.expect(plan.listing, plan.listing ? listingCap() : 0);
            m_ahead.push_back({plan.then, {}});
        }
    }
    if (!commands.isEmpty())
        send(commands);
}

void Pop3Session::headersAhead(int first, int last, Then then)
{
    // Only what is known already: finding out would mean waiting for the server.
    if (first > last || !m_open || m_broken || !m_capaAsked || !canPipeline())
        return;
    const BatchPlan p = plan(first, last, true, then);
    int next = first;
    qsizetype inFlight = 0;
    topUp(p, next, first, inFlight, true);
}

void Pop3Session::sendAhead(const QByteArray &verb, const QList<int> &numbers, const QByteArray &suffix,
                            qsizetype maxBody)
{
    if (!m_open || m_broken || !m_capaAsked || !canPipeline())
        return;
    QByteArray bytes;
    for (int n : numbers) {
        QByteArray line = verb + QByteArray::number(n) + suffix;
        if (bytes.size() + line.size() + 2 > m_limits.requestBytesInFlight)
            break; // the rest go one at a time, when called
        bytes += line + "\r\n";
        m_replies.expect(maxBody > 0, maxBody);
        m_ahead.push_back({std::move(line), {}});
    }
    if (!bytes.isEmpty())
        send(bytes);
}

void Pop3Session::headersAhead(const QList<int> &numbers)
{
    // Without a TOP known to work, header() may fall back to RETR.
    if (m_top == Support::Yes)
        sendAhead("TOP ", numbers, " 0", m_limits.headerBytes);
}

void Pop3Session::removeAhead(const QList<int> &numbers)
{
    sendAhead("DELE ", numbers, {}, 0);
}

void Pop3Session::batch(int first, int last, bool headersOnly, const Each &each, Then then)
{
    requireOpen();
    if (first > last)
        return;
    const BatchPlan p = plan(first, last, headersOnly, then);
    if (!canPipeline()) {
        for (int n = first; n <= last; ++n) {
            QByteArray bytes;
            try {
                bytes = headersOnly ? header(n) : message(n);
            } catch (const ProtocolError &) {
                throw;
            } catch (const Error &) {
                if (!m_broken)
                    closeBatch(p); // the refusal may be a stray reply's
                throw;
            }
            each(n, bytes);
        }
        closeBatch(p);
        requireInStep(m_lastStep);
        return;
    }
    // This batch's first commands may have been sent ahead; the replies of commands sent
    // ahead before them are read and kept.
    auto ahead = readAheadUpTo(p.verb(first));
    int next = first;        // next command to send
    int done = first;        // next reply to read
    qsizetype inFlight = 0;  // bytes of the commands sent whose replies are not read
    while (ahead != m_ahead.end() && next <= last && !ahead->reply) {
        if (ahead->runLast) {
            if (ahead->runTop != p.top || ahead->runFirst != next)
                break;
            const int end = std::min(ahead->runLast, last);
            while (next <= end)
                inFlight += p.length(next++);
            if (end < ahead->runLast) {
                ahead->runFirst = end + 1;
                break;
            }
        } else if (ahead->line != p.verb(next)) {
            break;
        } else {
            inFlight += p.length(next++);
        }
        ahead = m_ahead.erase(ahead);
    }
    // Replies of the batch's own on their way come out before a problem behind them shows.
    if (m_replies.owed() == 0)
        requireInStep(p.step(first));
    // Until the batch ends normally, replies may be in flight: a throw from each leaves the
    // session unusable.
    m_broken = true;
    while (done <= last) {
        // Topped up once half the bound is free, so the commands go out in few writes.
        if (next <= last && inFlight <= m_limits.requestBytesInFlight / 2 && next - done <= p.window / 2)
            topUp(p, next, done, inFlight, false);
        const QString step = p.step(done);
        Reply r = readReply(step);
        if (!r.ok) {
            // This message's failure alone: the replies still owed are read and dropped, so the
            // session stays in step for what the caller does next.
            for (int n = done + 1; n < next; ++n)
                readReply(p.step(n));
            m_broken = false;
            closeBatch(p);
            requireInStep(m_lastStep);
            failRefused(step, r);
        }
        if (notAMessage(r, p.top))
            failUnrelated(step);
        inFlight -= p.length(done);
        const int n = done++;
        if (headersOnly && !p.top)
            r.body.truncate(r.headerEnd);
        each(n, r.body);
    }
    m_broken = false;
    closeBatch(p);
    requireInStep(m_lastStep);
}

void Pop3Session::quit()
{
    requireOpen();
    expectOk("QUIT", 0, QStringLiteral("la commande QUIT"));
    m_open = false;
    m_transport->disconnectFromHost();
}
