// SPDX-License-Identifier: GPL-3.0-or-later
// One class, one conversation: its commands, their pipelining and the mailbox operations share
// the command queue and the session's state, so they stay in one file. Reading structures
// is in ImapStructure, the responses' framing in ImapResponseParser.
#include "protocol/imap/ImapSession.h"

#include <QScopeGuard>
#include <QTimer>
#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "protocol/LoginDelay.h"

namespace {

// A pass over many messages goes out as FETCH commands of this many messages, up to this many in
// flight: the server always has the next one queued, and a failure names a small range. What is
// in flight must cover a round trip at the server's pace: Dovecot serves a header in about 9 µs,
// so a link with 25 ms each way needs some 6,000 messages asked ahead (100,000 headers: 1.76 s
// with sixteen chunks, 2.04 s with eight). A server may run the chunks together and answer
// them in any order, so what is asked ahead stays within half the listing cap, at the size of
// the responses so far (kAssumedResponse before the first).
constexpr int kFetchChunk = 500;
constexpr int kChunksInFlight = 16;
constexpr qsizetype kAssumedResponse = 2048;
// Part headers fetched behind a structure pass, one message a command: this many in flight
// hide a 25 ms link's round trips for a mailbox where most messages need one.
constexpr int kPartHeadersInFlight = 100;
// The items around a fetched header, structure or message: beyond their own cap.
constexpr qsizetype kFetchOverhead = 4096;
// UIDs named by one command: well within the line length servers accept (Dovecot: 64 KiB).
constexpr qsizetype kSetBytes = 4000;

// The whole header block: the learned score reads every field of it. PEEK: nothing gets \Seen.
// Nothing the rows do not show: a size would be ten bytes more a message, and for some servers a
// count over the whole message.
const QByteArray kHeaderItems = "(UID BODY.PEEK[HEADER])";
const QByteArray kHeaderAndStructureItems = "(UID BODY.PEEK[HEADER] BODYSTRUCTURE)";

// A status response's code and text, as the server wrote them.
QByteArray statusText(const ImapResponse &r)
{
    QByteArray out;
    if (const ImapValue code = r.code(); code.isValid()) {
        out = "[";
        for (const ImapValue v : code)
            out += (out.size() > 1 ? " " : "") + (v.isList() ? QByteArray("(…)") : v.toByteArray());
        out += "] ";
    }
    return out + r.text().toByteArray();
}

QString commandStep(const QByteArray &command)
{
    return QStringLiteral("la commande ") + QString::fromLatin1(command);
}

// The header block of a FETCH response, in whatever case the server echoes its name.
ImapValue headerItem(const ImapResponse &r)
{
    return r.fetchItem("BODY[HEADER]");
}

// Sorted UIDs as sets ("4:7,9") of at most kSetBytes each.
QList<QByteArray> uidSets(QList<quint32> uids)
{
    std::sort(uids.begin(), uids.end());
    uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
    QList<QByteArray> sets{QByteArray()};
    for (qsizetype i = 0; i < uids.size();) {
        qsizetype j = i;
        while (j + 1 < uids.size() && uids[j + 1] == uids[j] + 1)
            ++j;
        QByteArray range = QByteArray::number(uids[i]);
        if (j > i)
            range += ':' + QByteArray::number(uids[j]);
        if (sets.last().size() + range.size() + 1 > kSetBytes)
            sets.append(QByteArray());
        sets.last() += (sets.last().isEmpty() ? "" : ",") + range;
        i = j + 1;
    }
    return sets;
}

} // namespace

ImapSession::ImapSession() : ImapSession(SessionLimits::defaults()) {}

ImapSession::ImapSession(const SessionLimits &limits) : MailConnection(limits) {}

ImapSession::~ImapSession()
{
    endIdleWatch();
}

QString ImapSession::current() const
{
    return m_commands.empty() ? m_lastStep : m_commands.front().step;
}

// A refusal of a command that ran alone leaves the conversation in step: the session stays
// usable (unless it was already marked broken, as during a pass).
void ImapSession::failRefused(const QString &step, const ImapResponse &r)
{
    failRefusal(step, statusText(r));
}

void ImapSession::failParser(const QString &step, ImapProblem problem)
{
    // A POP3 server on the port: the user only has to say so.
    if (!m_greeted && (m_parser.problemLine().startsWith("+OK") || m_parser.problemLine().startsWith("-ERR")))
        failOtherProtocol(QLatin1StringView("POP3"), QLatin1StringView("pop3"), QLatin1StringView("IMAP"));
    switch (problem) {
    case ImapResponseParser::Problem::TooLong:
        failTooLong(step);
    case ImapResponseParser::Problem::EndlessLine:
        failGarbled(step, QStringLiteral("ligne sans fin"));
    case ImapResponseParser::Problem::TooDeep:
    case ImapResponseParser::Problem::TooMany:
        failGarbled(step, QStringLiteral("structure démesurée"));
    default:
        failGarbled(step, QStringLiteral("« %1 »").arg(serverText(m_parser.problemLine())));
    }
}

void ImapSession::failChanged()
{
    m_broken = true;
    throw MailboxChanged(
        QStringLiteral("La boîte aux lettres du serveur %1 a changé pendant %2").arg(server(), current()));
}

void ImapSession::requireOpen() const
{
    if (!m_open || m_broken)
        throw Error(QStringLiteral("Session IMAP fermée ou interrompue avec le serveur %1").arg(server()));
    if (m_idle != Idle::Off)
        throw Error(QStringLiteral("Session IMAP occupée à attendre le courrier du serveur %1").arg(server()));
}

void ImapSession::requireSelected() const
{
    requireOpen();
    if (!m_selected)
        throw Error(QStringLiteral("Aucune boîte aux lettres ouverte sur le serveur %1").arg(server()));
}

QStringList ImapSession::capabilities() const
{
    QStringList list;
    for (const QByteArray &c : m_capabilities)
        list << QString::fromLatin1(c);
    return list;
}

bool ImapSession::hasCapability(QByteArrayView name) const
{
    return std::any_of(m_capabilities.cbegin(), m_capabilities.cend(),
                       [&](const QByteArray &c) { return name.compare(c, Qt::CaseInsensitive) == 0; });
}

// --- Connection ---------------------------------------------------------------------------------

void ImapSession::open(const MailAccount &account, Inbox inbox)
{
    connectTo(account, QLatin1StringView("IMAP"));
    m_unaskedLeft = m_limits.listingBytes;
    updateCap();

    const QString greeting = QStringLiteral("l'accueil");
    const ImapResponse hello = readResponse(greeting);
    const auto status = hello.status();
    if (hello.kind() != ImapResponse::Kind::Untagged
        || (status != ImapResponse::Status::Ok && status != ImapResponse::Status::PreAuth
            && status != ImapResponse::Status::Bye)) {
        if (hello.dump().startsWith("+OK"))
            failOtherProtocol(QLatin1StringView("POP3"), QLatin1StringView("pop3"), QLatin1StringView("IMAP"));
        failGarbled(greeting, QStringLiteral("« %1 »").arg(serverText(hello.dump())));
    }
    if (status == ImapResponse::Status::Bye)
        failTurnedAway(greeting, statusText(hello));
    noticeCode(hello);
    m_greeted = true;
    if (m_capabilities.isEmpty())
        askCapabilities();
    if (status == ImapResponse::Status::PreAuth) {
        // Logged in by the connection itself: no STARTTLS may follow (RFC 3501, 6.2.1).
        if (!account.tls && account.tlsRequired)
            failWithdrawn();
        m_open = true;
        if (inbox != Inbox::Closed)
            select(inbox == Inbox::Examined);
        return;
    }
    if (!account.tls && hasCapability("STARTTLS"))
        upgrade();
    else if (!account.tls && account.tlsRequired)
        failWithdrawn();
    login(account.user.toUtf8(), account.password.toUtf8(), inbox);
}

void ImapSession::askCapabilities()
{
    m_capabilities.clear();
    const QString step = QStringLiteral("la commande CAPABILITY");
    const ImapResponse r = run("CAPABILITY", step, m_limits.listingBytes);
    if (r.status() != ImapResponse::Status::Ok) {
        // As when STARTTLS is withheld: the list that would offer it is missing.
        if (!m_encrypted && m_account.tlsRequired)
            failWithdrawn();
        m_broken = true;
        failRefused(step, r);
    }
}

// Offered, STARTTLS must work: going on in clear text is what someone stripping it would want.
// What the server said in clear text may have been forged on the way: it is forgotten (RFC 2595,
// section 4), and the list learned anew over TLS (see login()).
void ImapSession::upgrade()
{
    const QString step = QStringLiteral("la commande STARTTLS");
    const ImapResponse r = run("STARTTLS", step, m_limits.listingBytes);
    if (r.status() != ImapResponse::Status::Ok && m_account.tlsRequired)
        failWithdrawn();
    if (r.status() != ImapResponse::Status::Ok)
        failTls(serverText(statusText(r)));
    // Bytes sent in clear after the OK would pass for responses of the encrypted session.
    requireQuiet(step);
    startTls();
    m_loginDisabledInClear = hasCapability("LOGINDISABLED");
    m_capabilities.clear();
}

// The login, with the INBOX's EXAMINE or SELECT sent right behind it: the answers to both come
// in one round trip. Over TLS just started the server's list is still to come, with the login's
// answer: LOGIN goes at once, and AUTHENTICATE only when the list asked after a refusal says
// LOGINDISABLED. The list said in clear text, which nobody can trust, only chooses whether to
// ask for the list first (it said LOGINDISABLED): either way the password goes over TLS alone.
void ImapSession::login(const QByteArray &user, const QByteArray &password, Inbox inbox)
{
    bool unknown = m_encrypted && m_capabilities.isEmpty();
    if (unknown && m_loginDisabledInClear) {
        askCapabilities();
        unknown = false;
    }
    // LOGINDISABLED: this server takes no password in clear text (RFC 3501, 6.2.3); over TLS
    // some take it through SASL only.
    for (bool sasl = hasCapability("LOGINDISABLED");; sasl = true) {
        if (sasl && !m_encrypted)
            fail(QStringLiteral("Le serveur %1 refuse l'identification sans chiffrement et ne propose pas de le chiffrer")
                     .arg(server()));
        if (sasl && !hasCapability("AUTH=PLAIN"))
            fail(QStringLiteral("Le serveur %1 ne propose aucune méthode d'identification connue").arg(server()));
        const QString step = sasl ? QStringLiteral("la commande AUTHENTICATE") : QStringLiteral("la commande LOGIN");
        m_loginAnswer = ImapResponse();
        const Done keep = [this](const ImapResponse &r) { m_loginAnswer = r; };
        QByteArray tag;
        if (sasl) {
            const QByteArray response = ('\0' + user + '\0' + password).toBase64();
            if (hasCapability("SASL-IR")) {
                tag = issue("AUTHENTICATE PLAIN " + response, step, m_limits.listingBytes, {}, keep);
            } else {
                tag = issue("AUTHENTICATE PLAIN", step, m_limits.listingBytes, {}, keep);
                waitForContinuation(tag);
                if (pending(tag))
                    send(response + "\r\n");
            }
        } else {
            const bool plus = hasCapability("LITERAL+");
            tag = issue("LOGIN " + ImapResponseParser::astring(user, plus) + ' ' + ImapResponseParser::astring(password, plus),
                        step, m_limits.listingBytes, {}, keep);
        }
        const QByteArray selectTag = inbox != Inbox::Closed && pending(tag) ? issueSelect(inbox == Inbox::Examined) : QByteArray();
        finish(tag);
        const ImapResponse r = m_loginAnswer;
        if (r.status() == ImapResponse::Status::Ok) {
            m_open = true;
            // What the server offers once logged in; most say it in the OK already.
            if (!(r.code().isValid() && r.code().at(0).is("CAPABILITY")))
                askCapabilities();
            if (!selectTag.isEmpty())
                endSelect(selectTag, inbox == Inbox::Examined);
            return;
        }
        // The list the refusal was given under; a server that ends the session meanwhile
        // refused the password all the same.
        bool disabled = false;
        if (!sasl && unknown) {
            try {
                if (!selectTag.isEmpty())
                    finish(selectTag); // refused too, before any login
                askCapabilities();
                disabled = hasCapability("LOGINDISABLED");
            } catch (const Error &) {
            }
        }
        if (disabled)
            continue;
        m_broken = true;
        const ImapValue code = r.code();
        const bool inUse = code.isValid() && code.at(0).is("INUSE");
        throw LoginRefused(QStringLiteral("Identification refusée par le serveur %1 : %2").arg(server(), serverText(statusText(r))),
                           inUse ? LoginRefused::Reason::InUse : LoginRefused::Reason::Other);
    }
}

void ImapSession::pull()
{
    const QByteArray bytes = m_transport->readAll();
    if (bytes.isEmpty())
        return;
    m_progress.restart();
    m_received += bytes.size();
    m_parser.feed(bytes);
}

void ImapSession::send(const QByteArray &bytes)
{
    m_progress.restart();
    m_transport->write(bytes);
}

// Nothing may have come after the last response; what has arrived so far is checked.
void ImapSession::requireQuiet(const QString &step)
{
    pull();
    if (m_parser.problem() != ImapResponseParser::Problem::None)
        failParser(step, m_parser.problem());
    if (ImapResponse r; m_parser.inResponse() || m_parser.next(r))
        failOutOfStep(QStringLiteral("Réponse en trop du serveur %1 après %2 : échange désynchronisé").arg(server(), step));
}

// --- Commands and responses --------------------------------------------------------------------

// The response cap follows the commands in flight: a header pass keeps its own, far below that
// of a listing, and a message fetch raises it for its response alone.
void ImapSession::updateCap()
{
    qsizetype cap = m_commands.empty() ? m_limits.listingBytes : 0;
    for (const Command &c : m_commands)
        cap = std::max(cap, c.cap);
    m_parser.setResponseCap(cap);
}

QByteArray ImapSession::issue(const QByteArray &command, const QString &step, qsizetype cap,
                              std::function<Took(const ImapResponse &)> take,
                              std::function<void(const ImapResponse &)> done)
{
    const QByteArray tag = 'P' + QByteArray::number(m_nextTag++);
    m_commands.push_back({tag, step, cap, m_limits.listingBytes, std::move(take), std::move(done)});
    m_unaskedLeft = m_limits.listingBytes;
    updateCap();
    // The bytes of a synchronising literal wait for the server's go-ahead (RFC 3501, 7.5).
    const QByteArray line = tag + ' ' + command + "\r\n";
    qsizetype sent = 0;
    for (qsizetype from = 0;;) {
        const qsizetype crlf = line.indexOf("\r\n", from);
        if (crlf < 0 || crlf + 2 == line.size())
            break;
        const qsizetype open = line.lastIndexOf('{', crlf);
        QByteArray size = line.mid(open + 1, crlf - open - 2);
        const bool synchronising = !size.endsWith('+');
        if (!synchronising)
            size.chop(1);
        from = crlf + 2 + size.toLongLong();
        if (!synchronising)
            continue;
        send(line.mid(sent, crlf + 2 - sent));
        sent = crlf + 2;
        waitForContinuation(tag);
        if (!pending(tag))
            return tag; // refused before its literal
    }
    send(line.mid(sent));
    return tag;
}

ImapResponse ImapSession::run(const QByteArray &command, const QString &step, qsizetype cap,
                              std::function<Took(const ImapResponse &)> take)
{
    ImapResponse result;
    const QByteArray tag = issue(command, step, cap, std::move(take), [&result](const ImapResponse &r) { result = r; });
    finish(tag);
    return result;
}

ImapResponse ImapSession::expectOk(const QByteArray &command, const QString &step,
                                   std::function<Took(const ImapResponse &)> take)
{
    ImapResponse r = run(command, step, m_limits.listingBytes, std::move(take));
    if (r.status() != ImapResponse::Status::Ok)
        failRefused(step, r);
    return r;
}

bool ImapSession::pending(const QByteArray &tag) const
{
    return std::any_of(m_commands.cbegin(), m_commands.cend(), [&](const Command &c) { return c.tag == tag; });
}

void ImapSession::finish(const QByteArray &tag)
{
    while (pending(tag))
        readOne(current());
}

void ImapSession::waitForContinuation(const QByteArray &tag)
{
    m_wantContinuation = true;
    m_gotContinuation = false;
    while (!m_gotContinuation && pending(tag))
        readOne(current());
    m_wantContinuation = false;
}

ImapResponse ImapSession::readResponse(const QString &step)
{
    ImapResponse r;
    for (;;) {
        if (m_parser.next(r))
            return r;
        if (m_parser.problem() != ImapResponseParser::Problem::None)
            failParser(step, m_parser.problem());
        awaitBytes(step);
        pull();
    }
}

void ImapSession::readOne(const QString &step)
{
    dispatch(readResponse(step), step);
}

// Tagged responses complete the commands in the order they went; untagged ones go to the oldest
// command in flight, and what it does not take is noticed (a count, a code) and charged to it.
void ImapSession::dispatch(const ImapResponse &r, const QString &step)
{
    const QString stray = QStringLiteral("Réponse en trop du serveur %1 après %2 : échange désynchronisé");
    if (r.kind() == ImapResponse::Kind::Continuation) {
        if (!m_wantContinuation || m_gotContinuation)
            failOutOfStep(stray.arg(server(), step));
        m_gotContinuation = true;
        return;
    }
    if (r.kind() == ImapResponse::Kind::Tagged) {
        // In order, but for commands the server may run together.
        const auto it = std::find_if(m_commands.begin(), m_commands.end(), [&](const Command &c) { return c.tag == r.tag(); });
        if (it == m_commands.end() || (it != m_commands.begin() && !(it->concurrent && m_commands.front().concurrent)))
            failOutOfStep(stray.arg(server(), m_lastStep.isEmpty() ? step : m_lastStep));
        const Command c = std::move(*it);
        m_commands.erase(it);
        updateCap();
        m_lastStep = c.step;
        noticeCode(r);
        if (c.done)
            c.done(r);
        return;
    }
    Command *c = m_commands.empty() ? nullptr : &m_commands.front();
    const Took took = c && c->take ? c->take(r) : Took::No;
    // A response passed over for its size is an answer only to a command that expects one.
    if (r.skipped() != ImapProblem::None && took != Took::Expected)
        failParser(step, r.skipped());
    if (took == Took::No)
        noticeUntagged(r, step);
    if (took == Took::Expected)
        return;
    qsizetype &left = c ? c->strayLeft : m_unaskedLeft;
    left -= r.receivedBytes();
    if (left < 0)
        failOutOfStep(QStringLiteral("Réponses en trop du serveur %1 pendant %2").arg(server(), step));
}

void ImapSession::noticeUntagged(const ImapResponse &r, const QString &step)
{
    if (r.status() == ImapResponse::Status::Bye) {
        m_bye = true;
        if (!m_loggingOut)
            fail(QStringLiteral("Le serveur %1 a mis fin à la session pendant %2 : %3")
                     .arg(server(), step, serverText(statusText(r))));
        return;
    }
    if (r.is("EXISTS")) {
        // Each EXISTS above the count kept through the EXPUNGEs before it is mail that came:
        // one message expunged and one come in the same burst leave the count as it was.
        const int exists = int(r.number().value_or(0));
        if (m_selected && exists > m_exists)
            ++m_arrivals;
        m_exists = exists;
    } else if (r.is("EXPUNGE")) {
        m_exists = std::max(0, m_exists - 1);
        ++m_expunged;
    } else if (r.is("CAPABILITY")) {
        m_capabilities.clear();
        for (const ImapValue v : r.values())
            m_capabilities << v.toByteArray();
    } else {
        noticeCode(r);
    }
}

void ImapSession::noticeCode(const ImapResponse &r)
{
    const ImapValue code = r.code();
    if (!code.isValid())
        return;
    if (code.at(0).is("CAPABILITY")) {
        m_capabilities.clear();
        bool first = true;
        for (const ImapValue v : code) {
            if (!first)
                m_capabilities << v.toByteArray();
            first = false;
        }
    } else if (code.at(0).is("UIDVALIDITY")) {
        m_uidValidity = code.at(1).toNumber().value_or(0);
    }
}

// --- The mailbox --------------------------------------------------------------------------------

void ImapSession::select(bool readOnly)
{
    requireOpen();
    endSelect(issueSelect(readOnly), readOnly);
}

QByteArray ImapSession::issueSelect(bool readOnly)
{
    const QByteArray command = readOnly ? "EXAMINE INBOX" : "SELECT INBOX";
    m_selected = false;
    m_exists = -1;
    m_uidValidity = 0;
    m_selectAnswer = ImapResponse();
    return issue(command, commandStep(command), m_limits.listingBytes, {},
                 [this](const ImapResponse &r) { m_selectAnswer = r; });
}

void ImapSession::endSelect(const QByteArray &tag, bool readOnly)
{
    const QString step = commandStep(readOnly ? "EXAMINE INBOX" : "SELECT INBOX");
    finish(tag);
    if (m_selectAnswer.status() != ImapResponse::Status::Ok)
        failRefused(step, m_selectAnswer);
    if (m_exists < 0 || m_uidValidity == 0)
        failGarbled(step, QStringLiteral("nombre de messages ou UIDVALIDITY absent"));
    m_selected = true;
    m_readOnly = readOnly;
}

void ImapSession::fetchPass(int first, int last, const QByteArray &items, qsizetype cap,
                            const std::function<bool(const ImapResponse &)> &ours, const Deliver &deliver,
                            const FollowUps *followUps, const QByteArray &againItems)
{
    requireSelected();
    if (first > last)
        return;
    if (first < 1 || last > m_exists)
        throw MailboxChanged(QStringLiteral("La boîte aux lettres du serveur %1 ne compte plus que %2 messages")
                                 .arg(server())
                                 .arg(m_exists));
    const qint64 expunged = m_expunged;
    std::vector<bool> seen(size_t(last - first + 1));
    int next = first;
    // Until the pass ends normally, responses may be in flight: a throw leaves the session unusable.
    m_broken = true;
    // Servers may run the chunks at the same time (Dovecot does), their responses interleaved.
    // Each message must come once, and only when asked for; one ahead of its turn waits, within
    // the listing cap, so that each is handed over in order.
    std::map<int, ImapResponse> ahead;
    qsizetype aheadBytes = 0;
    int turn = first;
    int chunks = 0; // in flight
    int answered = 0; // messages, and the bytes of their first responses
    qsizetype answeredBytes = 0;
    std::set<int> again;        // asked again, their first response passed over
    std::deque<int> toAskAgain; // not sent yet
    // Hands over what is next in order; one passed over is asked again and waits for its answer.
    const auto handOver = [&](const ImapResponse &r) {
        if (deliver(r, turn)) {
            again.erase(turn++);
            return true;
        }
        if (againItems.isEmpty() || again.count(turn))
            failParser(current(), r.skipped());
        again.insert(turn);
        toAskAgain.push_back(turn);
        return false;
    };
    const Take take = [&](const ImapResponse &r) {
        if (followUps)
            if (const Took took = followUps->take(r); took != Took::No)
                return took;
        if (!r.is("FETCH") || !ours(r))
            return Took::No; // flags another program changed, say
        const int n = int(r.number().value_or(0));
        if (n < first || n >= next || (seen[size_t(n - first)] && !again.count(n)))
            failOutOfStep(QStringLiteral("Réponse du serveur %1 sans rapport avec %2").arg(server(), current()));
        if (!seen[size_t(n - first)]) {
            ++answered;
            answeredBytes += r.receivedBytes();
        }
        seen[size_t(n - first)] = true;
        if (n != turn) {
            if ((aheadBytes += r.receivedBytes()) > m_limits.listingBytes)
                failOutOfStep(QStringLiteral("Réponses en trop du serveur %1 pendant %2").arg(server(), current()));
            ahead.emplace(n, r);
            return Took::Expected;
        }
        if (!handOver(r))
            return Took::Expected;
        for (auto it = ahead.begin(); it != ahead.end() && it->first == turn;) {
            const ImapResponse next = std::move(it->second);
            aheadBytes -= next.receivedBytes();
            it = ahead.erase(it);
            if (!handOver(next))
                break;
        }
        return Took::Expected;
    };
    const IssueInPass issueInPass = [&](const QByteArray &command, const QString &step, Done done) {
        issue(command, step, cap, take, std::move(done));
        m_commands.back().concurrent = true;
    };
    for (;;) {
        const auto roomFor = [&](int messages) {
            const qsizetype each = answered ? answeredBytes / answered : kAssumedResponse;
            return (qsizetype(next - first - answered) + messages) * each * 2 <= m_limits.listingBytes;
        };
        while (next <= last && chunks < kChunksInFlight && (chunks == 0 || roomFor(std::min(kFetchChunk, last - next + 1)))) {
            const int from = next;
            const int to = std::min(last, next + kFetchChunk - 1);
            next = to + 1;
            const QByteArray set = QByteArray::number(from) + ':' + QByteArray::number(to);
            const QString step = commandStep("FETCH " + set);
            const auto done = [&, from, to, step](const ImapResponse &r) {
                --chunks;
                if (r.status() != ImapResponse::Status::Ok) {
                    if (r.code().isValid() && r.code().at(0).is("EXPUNGEISSUED"))
                        failChanged();
                    failRefused(step, r);
                }
                for (int n = from; n <= to; ++n)
                    if (!seen[size_t(n - first)])
                        failOutOfStep(QStringLiteral("Le serveur %1 n'a pas donné le message %2 pendant %3")
                                          .arg(server())
                                          .arg(n)
                                          .arg(step));
            };
            issueInPass("FETCH " + set + ' ' + items, step, done);
            ++chunks;
        }
        // A message asked again by its number alone: the numbers hold within the pass.
        for (; !toAskAgain.empty(); toAskAgain.pop_front()) {
            const QByteArray command = "FETCH " + QByteArray::number(toAskAgain.front());
            issueInPass(command + ' ' + againItems, commandStep(command), [&, n = toAskAgain.front(), command](const ImapResponse &r) {
                if (again.count(n))
                    failOutOfStep(QStringLiteral("Le serveur %1 n'a pas donné le message %2 pendant %3")
                                      .arg(server())
                                      .arg(n)
                                      .arg(commandStep(command)));
                if (r.status() != ImapResponse::Status::Ok)
                    failRefused(commandStep(command), r);
            });
        }
        const bool more = followUps && followUps->send(issueInPass);
        if (next > last && m_commands.empty() && !more)
            break;
        readOne(current());
        // The numbers after an expunged message moved down by one: the rows would shift.
        if (m_expunged != expunged)
            failChanged();
    }
    m_broken = false;
}

void ImapSession::headers(int first, int last, const EachHeader &each)
{
    const auto ours = [](const ImapResponse &r) { return headerItem(r).isValid(); };
    fetchPass(first, last, kHeaderItems, m_limits.headerBytes + kFetchOverhead, ours,
              [&](const ImapResponse &r, int n) {
                  const auto uid = r.fetchItem("UID").toNumber();
                  if (!uid)
                      failOutOfStep(QStringLiteral("Réponse incomplète du serveur %1 pour le message %2")
                                        .arg(server())
                                        .arg(n));
                  each(n, *uid, headerItem(r).toByteArray());
                  return true;
              });
}

void ImapSession::headers(int first, int last, const EachHeader &each, const EachStructure &eachStructure)
{
    structurePass(first, last, &each, eachStructure);
}

void ImapSession::structures(int first, int last, const EachStructure &each)
{
    structurePass(first, last, nullptr, each);
}

void ImapSession::structurePass(int first, int last, const EachHeader *eachHeader, const EachStructure &each)
{
    // One structure past the parser's limits (70 nested parts, 8,000 empty ones) costs its own
    // row only. No structure takes more than the message it describes could.
    ImapResponseParser::Limits limits = m_parser.limits();
    limits.skipBytes = m_limits.messageBytes + kFetchOverhead;
    m_parser.setLimits(limits);
    const auto restore = qScopeGuard([this] {
        ImapResponseParser::Limits limits = m_parser.limits();
        limits.skipBytes = 0;
        m_parser.setLimits(limits);
    });
    StructurePass pass(m_limits.listingBytes, each);
    const auto deliver = [&](const ImapResponse &r, int n) {
        // With the header, the message is asked again for its header alone.
        if (r.skipped() != ImapProblem::None) {
            if (eachHeader)
                return false;
            pass.add(n, 0, nullptr);
            return true;
        }
        const auto uid = r.fetchItem("UID").toNumber();
        const ImapValue header = headerItem(r);
        if (!uid || (eachHeader && !header.isValid()))
            failOutOfStep(QStringLiteral("Réponse incomplète du serveur %1 pour le message %2").arg(server()).arg(n));
        if (eachHeader)
            (*eachHeader)(n, *uid, header.toByteArray());
        // A header asked again comes without its structure: its attachments are unknown.
        const ImapValue structure = r.fetchItem("BODYSTRUCTURE");
        pass.add(n, *uid, structure.isList() ? &structure : nullptr);
        return true;
    };
    int asking = 0;
    FollowUps partHeaders;
    partHeaders.take = [&](const ImapResponse &r) { return pass.take(r) ? Took::Expected : Took::No; };
    partHeaders.send = [&](const IssueInPass &issue) {
        for (std::optional<StructurePass::Fetch> f; asking < kPartHeadersInFlight && (f = pass.nextFetch());) {
            const QByteArray command = "UID FETCH " + QByteArray::number(f->uid);
            ++asking;
            // Refused or not, the message is then counted from what came.
            issue(command + ' ' + f->items, commandStep(command), [&, n = f->n](const ImapResponse &) {
                --asking;
                pass.fetched(n);
            });
        }
        return pass.fetchesLeft();
    };
    const auto ours = [&](const ImapResponse &r) {
        return r.skipped() != ImapProblem::None || (eachHeader ? headerItem(r).isValid() : r.fetchItem("BODYSTRUCTURE").isList());
    };
    fetchPass(first, last, eachHeader ? kHeaderAndStructureItems : QByteArray("(UID BODYSTRUCTURE)"),
              m_limits.headerBytes + kFetchOverhead, ours, deliver, &partHeaders, eachHeader ? kHeaderItems : QByteArray());
    pass.finish();
}

QByteArray ImapSession::message(quint32 uid)
{
    requireSelected();
    const QByteArray command = "UID FETCH " + QByteArray::number(uid) + " (UID BODY.PEEK[])";
    const QString step = commandStep("UID FETCH " + QByteArray::number(uid));
    QByteArray body;
    bool got = false;
    const ImapResponse r =
        run(command, step, m_limits.messageBytes + kFetchOverhead, [&](const ImapResponse &f) {
            const ImapValue item = f.fetchItem("BODY[]");
            if (!f.is("FETCH") || !item.isValid())
                return Took::No;
            if (got || f.fetchItem("UID").toNumber() != uid)
                failOutOfStep(QStringLiteral("Réponse du serveur %1 sans rapport avec %2").arg(server(), step));
            got = true;
            body = item.toByteArray();
            return Took::Expected;
        });
    if (r.status() != ImapResponse::Status::Ok)
        failRefused(step, r);
    if (!got)
        throw MessageGone(QStringLiteral("Le message demandé n'est plus sur le serveur %1").arg(server()));
    return body;
}

QByteArray ImapSession::junkFolder()
{
    requireOpen();
    if (m_junkKnown)
        return m_junk;
    QByteArray junk;
    const auto take = [&](const ImapResponse &r) {
        if (!r.is("LIST"))
            return Took::No;
        const ImapValue flags = r.values().at(0);
        const ImapValue name = r.values().at(2);
        if (!flags.isList() || !(name.isAtom() || name.isString()))
            failOutOfStep(QStringLiteral("Réponse du serveur %1 sans rapport avec la commande LIST").arg(server()));
        bool isJunk = false;
        bool selectable = true;
        for (const ImapValue f : flags) {
            isJunk = isJunk || f.is("\\Junk");
            selectable = selectable && !f.is("\\Noselect") && !f.is("\\NonExistent");
        }
        if (junk.isEmpty() && isJunk && selectable && name.bytes().compare("INBOX", Qt::CaseInsensitive) != 0)
            junk = name.toByteArray();
        return Took::Charged;
    };
    const QString step = QStringLiteral("la commande LIST");
    // RFC 6154: servers with SPECIAL-USE list only the folders that have a use; others may still
    // flag them in a plain listing.
    ImapResponse r;
    if (hasCapability("SPECIAL-USE"))
        r = run("LIST (SPECIAL-USE) \"\" \"*\"", step, m_limits.listingBytes, take);
    if (r.status() != ImapResponse::Status::Ok)
        expectOk("LIST \"\" \"*\"", step, take);
    m_junk = junk;
    m_junkKnown = true;
    return m_junk;
}

int ImapSession::remove(quint32 uidValidity, const QList<quint32> &uids, Removal how)
{
    requireSelected();
    if (m_readOnly)
        throw Error(QStringLiteral("Boîte aux lettres ouverte en lecture seule sur le serveur %1").arg(server()));
    // Another mailbox under the same name, or the server renumbered its UIDs: these UIDs may now
    // name other messages.
    if (uidValidity != m_uidValidity)
        throw MailboxChanged(
            QStringLiteral("La boîte aux lettres du serveur %1 a changé depuis la lecture des messages : rien n'a été supprimé")
                .arg(server()));
    if (uids.isEmpty())
        return 0;
    const bool uidPlus = hasCapability("UIDPLUS");
    const bool move = how == Removal::ToJunk && hasCapability("MOVE");
    const QByteArray junk = how == Removal::ToJunk ? junkFolder() : QByteArray();
    if (how == Removal::ToJunk && junk.isEmpty())
        throw Error(QStringLiteral("Le serveur %1 n'a pas de dossier des indésirables : rien n'a été déplacé").arg(server()));
    // A plain EXPUNGE would also remove what other programs marked \Deleted.
    if (!move && !uidPlus)
        throw ExpungeUnsupported(
            QStringLiteral("Le serveur %1 ne sait pas effacer un message choisi (pas d'UIDPLUS) : rien n'a été supprimé")
                .arg(server()));
    const qint64 before = m_expunged;
    const bool plus = hasCapability("LITERAL+");
    try {
        for (const QByteArray &set : uidSets(uids)) {
            if (move) {
                expectOk("UID MOVE " + set + ' ' + ImapResponseParser::astring(junk, plus), QStringLiteral("la commande UID MOVE"));
                continue;
            }
            if (how == Removal::ToJunk)
                expectOk("UID COPY " + set + ' ' + ImapResponseParser::astring(junk, plus), QStringLiteral("la commande UID COPY"));
            expectOk("UID STORE " + set + " +FLAGS.SILENT (\\Deleted)", QStringLiteral("la commande UID STORE"));
            expectOk("UID EXPUNGE " + set, QStringLiteral("la commande UID EXPUNGE"));
        }
    } catch (const MailboxChanged &) {
        throw;
    } catch (const Error &e) {
        // The earlier commands' messages have gone: the user must know how many.
        throw RemovalFailed(e, int(m_expunged - before));
    }
    return int(m_expunged - before);
}

void ImapSession::logout()
{
    requireOpen();
    m_loggingOut = true;
    const QByteArray tag = issue("LOGOUT", QStringLiteral("la commande LOGOUT"), m_limits.listingBytes);
    try {
        finish(tag);
    } catch (const Error &) {
        // The server may close the connection as soon as it has said goodbye.
        if (!m_bye)
            throw;
    }
    m_open = false;
    m_transport->disconnectFromHost();
}

void ImapSession::leave()
{
    endIdleWatch();
    if (!m_transport)
        return;
    // The transport outlives the session until its last bytes are out; nothing of the session
    // may be called from it any more.
    Transport *t = m_transport.release();
    if (m_open && !m_broken && t->state() == QAbstractSocket::ConnectedState) {
        if (m_idle == Idle::Idling || m_idle == Idle::Starting)
            t->write("DONE\r\n");
        t->write('P' + QByteArray::number(m_nextTag++) + " LOGOUT\r\n");
    }
    m_idle = Idle::Off;
    m_open = false;
    t->closeDetached();
}

// --- IDLE ----------------------------------------------------------------------------------------

void ImapSession::beginIdle()
{
    const QString step = QStringLiteral("la commande IDLE");
    m_idleTag = issue("IDLE", step, m_limits.listingBytes, {}, [this, step](const ImapResponse &r) {
        if (r.status() != ImapResponse::Status::Ok)
            failRefused(step, r);
    });
    m_wantContinuation = true;
    m_gotContinuation = false;
}

bool ImapSession::startIdle(const NewMail &onNewMail, const Failure &onFailure)
{
    requireSelected();
    if (!hasCapability("IDLE"))
        return false;
    m_onNewMail = onNewMail;
    m_onFailure = onFailure;
    m_idleArrivals = m_arrivals;
    beginIdle();
    waitForContinuation(m_idleTag);
    if (!pending(m_idleTag)) // an OK without idling
        failOutOfStep(QStringLiteral("Réponse du serveur %1 sans rapport avec la commande IDLE").arg(server()));
    m_idle = Idle::Idling;
    if (!m_idleTimer) {
        m_idleTimer = std::make_unique<QTimer>();
        m_idleTimer->setSingleShot(true);
    }
    Transport *s = m_transport.get();
    const auto event = [this] { idleStep({}); };
    m_idleWatch << QObject::connect(s, &Transport::readyRead, s, event)
                << QObject::connect(s, &Transport::stateChanged, s, event)
                << QObject::connect(m_idleTimer.get(), &QTimer::timeout, s, [this] {
                       const Idle at = m_idle;
                       idleStep([this, at] {
                           if (m_idle != at)
                               return; // the server answered meanwhile: the timer runs anew
                           if (at != Idle::Idling)
                               failTimeout(QStringLiteral("la commande IDLE"));
                           send("DONE\r\n");
                           m_idle = Idle::Renewing;
                           m_idleTimer->start(m_limits.idleMs);
                       });
                   });
    m_idleTimer->start(m_idleRenewalMs);
    // Mail that came while IDLE was being started.
    if (m_arrivals != m_idleArrivals)
        QTimer::singleShot(0, s, event);
    return true;
}

// Runs one turn of the idle connection from the event loop: what came, then body. Callbacks come
// last, so that they may stop idling.
void ImapSession::idleStep(const std::function<void()> &body)
{
    if (m_idle == Idle::Off)
        return;
    const QString step = QStringLiteral("la commande IDLE");
    try {
        pull();
        for (ImapResponse r; m_parser.next(r);)
            dispatch(r, step);
        if (m_parser.problem() != ImapResponseParser::Problem::None)
            failParser(step, m_parser.problem());
        if (m_transport->state() != QAbstractSocket::ConnectedState)
            failDropped(step);
        if (m_idle == Idle::Renewing && !pending(m_idleTag)) {
            beginIdle();
            m_idle = Idle::Starting;
            m_idleTimer->start(m_limits.idleMs);
        }
        if (m_idle == Idle::Starting && m_gotContinuation) {
            m_wantContinuation = false;
            m_idle = Idle::Idling;
            m_idleTimer->start(m_idleRenewalMs);
        }
        if (body)
            body();
    } catch (const Error &e) {
        m_broken = true;
        endIdleWatch();
        m_idle = Idle::Off;
        if (const Failure onFailure = m_onFailure)
            onFailure(e);
        return;
    }
    if (m_arrivals != m_idleArrivals) {
        m_idleArrivals = m_arrivals;
        if (const NewMail onNewMail = m_onNewMail)
            onNewMail(m_exists);
    }
}

void ImapSession::endIdleWatch()
{
    for (const QMetaObject::Connection &c : std::as_const(m_idleWatch))
        QObject::disconnect(c);
    m_idleWatch.clear();
    if (m_idleTimer)
        m_idleTimer->stop();
}

void ImapSession::stopIdle()
{
    if (m_idle == Idle::Off)
        return;
    const Idle was = m_idle;
    endIdleWatch();
    m_idle = Idle::Off;
    // What follows is a new operation: the hours spent idle do not count against it.
    m_since.restart();
    m_waitedMs = m_received = 0;
    if (m_broken)
        return;
    if (was == Idle::Starting)
        waitForContinuation(m_idleTag);
    if (was != Idle::Renewing && pending(m_idleTag))
        send("DONE\r\n");
    m_wantContinuation = false;
    finish(m_idleTag);
}
