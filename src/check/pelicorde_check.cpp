// SPDX-License-Identifier: GPL-3.0-or-later
// pelicorde-check: the favourite account's mailbox in one line of JSON, for status bars and
// scripts. The same pipelined header scan and blacklist marking as the window, without the
// window; it never deletes anything and never rewrites the blacklist.
#include <QCoreApplication>
#include <QFile>
#include <QSet>
#include <cstdio>

#include "core/AccountFile.h"
#include "core/AccountPassword.h"
#include "core/BlacklistFile.h"
#include "core/DataFiles.h"
#include "core/Error.h"
#include "core/Folders.h"
#include "core/FriendsFile.h"
#include "core/Options.h"
#include "core/SafeFile.h"
#include "core/TlsRule.h"
#include "mailbox/MailboxSession.h"
#include "mailbox/MessageList.h"
#include "mailbox/ScanPasses.h"
#include "protocol/SessionAccount.h"
#include "mailbox/SessionOpening.h"
#include "mailbox/SpamMarking.h"
#include "learning/HeaderTokens.h"
#include "learning/LearnedStore.h"
#include "learning/MailSources.h"

namespace {

// The only arguments are --help and --version: anything else is refused before a check could
// log in. The exit code of the answer.
int answerArguments(int argc, char **argv)
{
    const QByteArray arg(argv[1]);
    if (argc == 2 && arg == "--help") {
        std::fputs("Utilisation : pelicorde-check [--help | --version]\n"
                   "Relève les en-têtes du compte POP3 ou IMAP favori de Pelicorde et écrit une ligne de JSON :\n"
                   "  {\"messages\": 42, \"marked\": 5, \"new\": 2}\n"
                   "les messages sur le serveur, ceux que la liste noire marque, les nouveaux ; une fois que le\n"
                   "score a appris assez de vos suppressions, \"suggested\" : ceux des marqués qu'il suggère.\n"
                   "Ne supprime rien. En cas d'erreur : une ligne sur la sortie d'erreur, code 2.\n"
                   "\n"
                   "  --list     écrit aussi une ligne de JSON par message, avant le total :\n"
                   "             {\"number\": 1, \"id\": \"…\", \"sender\": \"…\", \"subject\": \"…\",\n"
                   "              \"ticked_by\": \"blacklist\" | \"score\" | null, \"score\": 0.98 | null}\n"
                   "  --learn-spam CHEMIN…  apprend comme spams les messages de ces fichiers, mbox ou\n"
                   "             dossiers Maildir, et écrit ce qui a été appris\n"
                   "  --learn-ham CHEMIN…   de même, comme messages légitimes\n"
                   "  --help     affiche cette aide et quitte\n"
                   "  --version  affiche la version et quitte\n"
                   "\n"
                   "Données : $APPDATA/Pelicorde, ou ~/.local/share/Pelicorde sans APPDATA.\n"
                   "Voir pelicorde-check(1).\n",
                   stdout);
        return 0;
    }
    if (argc == 2 && arg == "--version") {
        std::puts("pelicorde-check " PELICORDE_VERSION);
        return 0;
    }
    // One of the two followed by more: the first extra one is what is not understood.
    const char *unknown = argc > 2 && (arg == "--help" || arg == "--version") ? argv[2] : argv[1];
    std::fprintf(stderr, "pelicorde-check: argument inconnu : %s (voir pelicorde-check --help)\n", unknown);
    return 2;
}

// A JSON string of text.
QByteArray jsonString(const QString &text)
{
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (static_cast<unsigned char>(c) < 0x20)
            out += "\\u00" + QByteArray::number(static_cast<unsigned char>(c), 16).rightJustified(2, '0');
        else
            out += c;
    }
    return out + '"';
}

// --learn-spam and --learn-ham: the messages at paths learned one way, once each (a message
// learned the other way before is moved). What was learned on one line of JSON; a path passed
// over on stderr. 2 when the store could not be written, or nothing could be read.
int learnFrom(learning::Verdict verdict, const QStringList &paths)
{
    const QString dataFolder = folders::dataFolderFromEnvironment();
    if (!folders::ensureDataFolder(dataFolder))
        throw Error(QStringLiteral("Impossible de créer le dossier de données %1").arg(dataFolder));
    learning::LearnedStore store(learning::LearnedStore::pathIn(dataFolder));
    learning::LearnOutcome total;
    int messages = 0;
    QStringList problems;
    QList<learning::Lesson> lessons;
    // In batches: a Junk folder of years holds more headers than need be kept at once.
    const auto flush = [&] {
        const learning::LearnOutcome outcome = store.learn(lessons);
        lessons.clear();
        total.added += outcome.added;
        total.moved += outcome.moved;
        total.unchanged += outcome.unchanged;
        if (!outcome.ok)
            throw Error(outcome.problem);
        if (!outcome.problem.isEmpty())
            problems << outcome.problem;
    };
    for (const QString &path : paths) {
        const learning::SourceSummary summary = learning::readHeaderBlocks(path, [&](const QByteArray &header) {
            lessons << learning::Lesson(learning::headerId(header), header, verdict);
            if (lessons.size() >= 500)
                flush();
            return true;
        });
        messages += summary.messages;
        problems << summary.problems;
    }
    if (!lessons.isEmpty())
        flush();
    for (const QString &problem : std::as_const(problems))
        std::fprintf(stderr, "pelicorde-check: %s\n", qPrintable(problem.simplified()));
    std::printf("{\"learned\": \"%s\", \"messages\": %d, \"added\": %d, \"moved\": %d, \"unchanged\": %d}\n",
                verdict == learning::Verdict::Spam ? "spam" : "ham", messages, total.added, total.moved,
                total.unchanged);
    return messages == 0 && !problems.isEmpty() ? 2 : 0;
}

// The unique ids seen at the last check, one a line. Without UIDL the server's ids are
// unknown: the file then holds "#<count>" and what is new is what the count grew by.
const QString SeenFileName = QLatin1String(datafiles::kCheckSeen);

struct Seen
{
    QSet<QString> ids;
    int count = -1; // only for servers without UIDL
};

Seen readSeen(const QString &path)
{
    Seen seen;
    // A million ids of up to 70 characters.
    const std::optional<QByteArray> bytes = files::readWhole(path, 72 * 1024 * 1024);
    if (!bytes)
        return seen;
    // Read in place, the set sized at once: a list of a hundred thousand ids is read every run.
    const QByteArrayView all(*bytes);
    seen.ids.reserve(all.count('\n') + 1);
    for (qsizetype at = 0; at < all.size();) {
        qsizetype end = all.indexOf('\n', at);
        if (end < 0)
            end = all.size();
        const QByteArrayView line = all.sliced(at, end - at);
        if (line.startsWith('#'))
            seen.count = line.sliced(1).toInt();
        else if (!line.isEmpty())
            seen.ids.insert(QString::fromLatin1(line));
        at = end + 1;
    }
    return seen;
}

MailAccount favouriteAccount(const QString &dataFolder)
{
    const accounts::LoadResult favourite = accounts::loadFavourite(dataFolder);
    if (favourite.status != accounts::LoadStatus::Loaded)
        throw Error(QStringLiteral("Pas de compte favori lisible dans %1").arg(dataFolder));
    accounts::Account a = favourite.fields;
    if (a.password.isEmpty() && !a.server.isEmpty() && !a.address.isEmpty())
        if (const QString why = accounts::passwordFromKeyring(a); !why.isEmpty())
            throw Error(QStringLiteral("Mot de passe du compte favori indisponible : %1").arg(why));
    if (a.server.isEmpty() || a.port.isEmpty() || a.password.isEmpty() || a.address.isEmpty())
        throw Error(QStringLiteral("Le compte favori est incomplet"));
    return sessionAccount(a.server, a.port, a.address, a.password, accounts::usesTls(a.port));
}

// Nobody to ask: only a certificate the window has had confirmed goes (the CAs' are never asked).
class Unattended final : public NeverAsk
{
public:
    Unattended()
        : NeverAsk(QStringLiteral("Certificat du serveur %1:%2 non confirmé : ouvrez Pelicorde pour le vérifier"))
    {
    }
    // Unrecorded, a later stripped STLS would go unnoticed: not a check that went well.
    void unrecorded(const Unrecorded &record) override
    {
        throw Error(QStringLiteral("La protection du chiffrement n'a pas pu être enregistrée : %1").arg(record.why));
    }
};

// One message of --list.
QByteArray listLine(const MessageList &list, int r, bool scored)
{
    const MessageList::TickedBy by = list.isMarked(r) ? list.tickedBy(r) : MessageList::TickedBy::Nobody;
    const QByteArray ticked = by == MessageList::TickedBy::Blacklist ? "\"blacklist\""
                              : by == MessageList::TickedBy::Score   ? "\"score\""
                                                                      : "null";
    const std::optional<learning::SpamScore> score = scored ? list.score(r) : std::nullopt;
    return "{\"number\": " + QByteArray::number(r) + ", \"id\": " + jsonString(list.uid(r))
           + ", \"sender\": " + jsonString(list.cell(r, MessageList::From))
           + ", \"subject\": " + jsonString(list.cell(r, MessageList::Subject)) + ", \"ticked_by\": " + ticked
           + ", \"score\": " + (score ? QByteArray::number(score->value, 'f', 4) : QByteArray("null")) + "}\n";
}

int check(bool listed)
{
    const QString dataFolder = folders::dataFolderFromEnvironment();
    const MailAccount account = favouriteAccount(dataFolder);

    // The window's switch holds here too. A store that cannot be used scores nothing: the check
    // still counts what the lists mark.
    const bool suggestions = options::suggestions(dataFolder);
    const QString storePath = learning::LearnedStore::pathIn(dataFolder);
    const learning::SpamScorer scorer = suggestions && files::entryExists(storePath)
                                            ? learning::LearnedStore(storePath).scorer()
                                            : learning::SpamScorer();
    // Before the score has learned enough, nothing could be suggested: the line stays as it was.
    const bool scored = scorer.spamLearned() >= learning::kColdStartMessages
                        && scorer.hamLearned() >= learning::kColdStartMessages;

    MessageList list;
    QString lastHeaderDate;
    QHash<int, QString> ids;
    int count = 0;
    {
        const auto session = makeMailboxSession(account);
        Unattended nobody;
        // Read-only: over IMAP, EXAMINE, so that no flag changes.
        openSession(*session, account, dataFolder, MailboxSession::Access::Scan, nobody);
        count = session->messageCount();
        list.setRows(count > 0 ? count + 1 : 2);
        scan::headerPass(*session, list, count, lastHeaderDate, [](int) {}, {}, scored ? &scorer : nullptr);
        // IMAP's UIDs name messages only under their UIDVALIDITY: a new one makes them all new.
        const QString scope = session->idScope().isEmpty() ? QString() : session->idScope() + QLatin1Char('.');
        ids.reserve(count);
        for (int r = 1; r <= count; ++r)
            if (const QString uid = list.uid(r); !uid.isEmpty())
                ids.insert(r, scope.isEmpty() ? uid : scope + uid);
        session->close();
    }
    // The marks alone: the blacklist is opened read-only and its bytes stay as they are.
    // A blacklist that is there but cannot be read would make every count a false "0 marked".
    const SenderLists lists{blacklist::filePath(dataFolder), friends::filePath(dataFolder)};
    const MarkingOutcome marking = markingPasses(list, lists, QString(), BlacklistDates::Leave, scored);
    if (!marking.friendsRead)
        throw Error(QStringLiteral("Liste des amis illisible : %1 (ce n'est pas un fichier ordinaire, ou il dépasse %2 "
                                   "Mo, ou sa lecture est refusée)")
                        .arg(lists.friends)
                        .arg(blacklist::kMaxFileSize / (1024 * 1024)));
    if (const QString &path = lists.blacklist; !marking.blacklistRead)
        throw Error(QStringLiteral("Liste noire illisible : %1 (ce n'est pas un fichier ordinaire, ou il dépasse %2 Mo, "
                                   "ou sa lecture est refusée)")
                        .arg(path)
                        .arg(blacklist::kMaxFileSize / (1024 * 1024)));

    int marked = 0;
    for (int r = 1; r <= count; ++r)
        marked += list.isMarked(r) ? 1 : 0;
    const int suggested = list.suggestionCount();

    const QString seenPath = folders::join(dataFolder, SeenFileName);
    const Seen seen = readSeen(seenPath);
    int fresh = 0;
    QByteArray state;
    if (!ids.isEmpty()) {
        for (const QString &id : std::as_const(ids)) {
            fresh += seen.ids.contains(id) ? 0 : 1;
            state += id.toLatin1();
            state += '\n';
        }
    } else {
        fresh = seen.count < 0 ? count : qMax(0, count - seen.count);
        state = "#" + QByteArray::number(count) + '\n';
    }
    // Unsaved, every later run would count the same messages as new.
    if (QString why; !accounts::writePrivateFile(seenPath, state, &why))
        throw Error(why);

    if (listed)
        for (int r = 1; r <= count; ++r)
            std::fputs(listLine(list, r, scored).constData(), stdout);
    if (scored)
        std::printf("{\"messages\": %d, \"marked\": %d, \"new\": %d, \"suggested\": %d}\n", count, marked, fresh,
                    suggested);
    else
        std::printf("{\"messages\": %d, \"marked\": %d, \"new\": %d}\n", count, marked, fresh);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const QByteArray first = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    const bool learning = first == "--learn-spam" || first == "--learn-ham";
    const bool listed = argc == 2 && first == "--list";
    if (argc > 1 && !learning && !listed)
        return answerArguments(argc, argv);
    if (learning && argc < 3) {
        std::fprintf(stderr, "pelicorde-check: %s attend au moins un chemin (voir pelicorde-check --help)\n", argv[1]);
        return 2;
    }
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Pelicorde"));
    try {
        if (learning) {
            QStringList paths;
            for (int i = 2; i < argc; ++i)
                paths << QFile::decodeName(argv[i]);
            return learnFrom(first == "--learn-spam" ? learning::Verdict::Spam : learning::Verdict::Ham, paths);
        }
        return check(listed);
    } catch (const Error &e) {
        std::fprintf(stderr, "pelicorde-check: %s\n", qPrintable(e.text().simplified()));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "pelicorde-check: %s\n", e.what());
    }
    return 2;
}
