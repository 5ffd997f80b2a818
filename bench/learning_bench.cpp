// SPDX-License-Identifier: GPL-3.0-or-later
// The learned score, measured. Accuracy: learn a fixed random half of a labelled corpus through
// the learned store, score the other half through the scorer the scan uses, and count the
// spam suggested and the legitimate messages suggested; then the same with the halves swapped
// and with another split, to show the figures do not hang on one split. Speed: the CPU and
// memory that scoring adds to a scan of 100,000 headers, beside the least that reading any
// header's tokens costs.
//   learning_bench [SPAM HAM] [--raw] [--top N] [--misses] [--scan-us US]
//   learning_bench --tokens [PATH]   the tokens of the messages at PATH (default: scan headers)
// SPAM and HAM are Maildirs, folders of message files or mbox files; by default the corpus
// beside the project (../shared/corpus/spam and ham). The collection artefacts of that corpus
// (the collectors' own domains, rewritten the same way in both folders) are made unique to
// each message before anything is learned, so that no score can lean on them; --raw keeps
// them. --top N prints the N tokens that weigh most after the first learning; --misses the
// messages each split gets wrong, with the tokens that told.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <map>
#include <malloc.h>
#include <random>

#include "BenchProcess.h"
#include "learning/HeaderTokens.h"
#include "learning/LearnedStore.h"
#include "learning/MailSources.h"
#include "learning/SpamScore.h"
#include "mailbox/RowScores.h"
#include "message/MailMessage.h"
#include "support/MailFactory.h"

namespace {

using namespace learning;

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Resets the peak resident size (Linux 4.0 and later), so that VmHWM tells what follows.
void resetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

struct Corpus
{
    QList<QByteArray> spam;
    QList<QByteArray> ham;
};

// Letters only, so that no token that writes digits alike makes two of them one.
QByteArray letters(qint64 n)
{
    QByteArray out;
    do {
        out += char('a' + n % 26);
        n /= 26;
    } while (n > 0);
    return out;
}

// Each occurrence of a collection artefact becomes a name of its own message, which no other
// message shares: it can then weigh nothing.
QByteArray masked(QByteArray header, int index)
{
    // The collectors' domains; webnote.net, the mail server of netnoteinc.com; the addresses
    // of their servers.
    static const QByteArray artefacts[] = {"spamassassin.taint.org", "taint.org", "netnoteinc.com", "webnote.net",
                                           "example.com", "jmason.org", "slashnull.org", "193.120.211.219",
                                           "212.2.188.179", "212.17.35.15"};
    QByteArray lowered = header.toLower();
    int n = 0;
    for (const QByteArray &a : artefacts) {
        for (qsizetype at = lowered.indexOf(a); at >= 0; at = lowered.indexOf(a, at + 1)) {
            const QByteArray unique = "m" + letters(index) + "x" + letters(n++) + ".invalid";
            header.replace(at, a.size(), unique);
            lowered.replace(at, a.size(), unique);
        }
    }
    return header;
}

QList<QByteArray> readFolder(const QString &path, bool raw, int offset)
{
    QList<QByteArray> headers;
    const SourceSummary summary = readHeaderBlocks(path, [&](const QByteArray &h) {
        headers << (raw ? h : masked(h, offset + int(headers.size())));
        return true;
    });
    for (const QString &p : summary.problems)
        std::fprintf(stderr, "learning_bench: %s\n", qPrintable(p));
    return headers;
}

// A shuffle of 0..n-1 that is the same on every machine and library: Fisher-Yates over the
// standard's mt19937, whose output is fixed (the library's distributions are not).
std::vector<int> shuffled(int n, quint32 seed)
{
    std::mt19937 random(seed);
    std::vector<int> order(std::size_t(n), 0);
    for (int i = 0; i < n; ++i)
        order[std::size_t(i)] = i;
    for (int i = n - 1; i > 0; --i)
        std::swap(order[std::size_t(i)], order[std::size_t(random() % quint32(i + 1))]);
    return order;
}

struct Split
{
    QList<Lesson> train;
    QList<QByteArray> testSpam;
    QList<QByteArray> testHam;
};

// The half `half` (0 or 1) of each folder, shuffled by seed, is learned; the other is scored.
Split splitCorpus(const Corpus &c, quint32 seed, int half)
{
    Split s;
    for (const auto &[list, verdict, tag] : {std::tuple{&c.spam, Verdict::Spam, "s"}, std::tuple{&c.ham, Verdict::Ham, "h"}}) {
        const std::vector<int> order = shuffled(int(list->size()), seed);
        const std::size_t middle = order.size() / 2;
        for (std::size_t i = 0; i < order.size(); ++i) {
            const QByteArray &h = list->at(order[i]);
            if ((i < middle) == (half == 0))
                s.train << Lesson{tag + QByteArray::number(order[i]), h, verdict};
            else
                (verdict == Verdict::Spam ? s.testSpam : s.testHam) << h;
        }
    }
    return s;
}

void printTop(const Split &s, int top)
{
    // Counts as the store keeps them, with each token's text.
    std::map<Token, TokenCount> counts;
    std::map<Token, QString> names;
    int spam = 0, ham = 0;
    for (const Lesson &l : s.train) {
        const bool isSpam = l.verdict == Verdict::Spam;
        (isSpam ? spam : ham)++;
        const QStringList texts = headerTokenTexts(l.header);
        const std::vector<Token> tokens = headerTokenList(l.header);
        for (std::size_t i = 0; i < tokens.size(); ++i) {
            TokenCount &c = counts[tokens[i]];
            c.token = tokens[i];
            (isSpam ? c.spam : c.ham)++;
            names[tokens[i]] = texts.value(qsizetype(i));
        }
    }
    std::vector<std::pair<double, Token>> weight;
    for (const auto &[t, c] : counts) {
        const double f = tokenProbability(c.spam, c.ham, spam, ham);
        weight.push_back({std::abs(f - 0.5) * std::log1p(c.spam + c.ham), t});
    }
    std::sort(weight.rbegin(), weight.rend());
    for (int i = 0; i < top && i < int(weight.size()); ++i) {
        const TokenCount &c = counts[weight[std::size_t(i)].second];
        std::printf("  %-50s spam %4u ham %4u f=%.3f\n", qPrintable(names[c.token]), c.spam, c.ham,
                    tokenProbability(c.spam, c.ham, spam, ham));
    }
}

struct Accuracy
{
    int spamSuggested = 0, hamSuggested = 0;
    std::vector<SpamScore> spamScores, hamScores;
};

// Learns s.train into a fresh store and scores the held-out messages; with misses, prints the
// spam not suggested and the legitimate messages scored above 0.5, with their telling tokens.
Accuracy run(const Split &s, const QString &label, double &learnUsPerMessage, bool misses)
{
    QTemporaryDir dir;
    LearnedStore store(LearnedStore::pathIn(dir.path()));
    const double start = cpuSeconds();
    const LearnOutcome outcome = store.learn(s.train);
    learnUsPerMessage = (cpuSeconds() - start) * 1e6 / std::max<qsizetype>(1, s.train.size());
    if (!outcome.ok)
        std::fprintf(stderr, "learning_bench: %s: %s\n", qPrintable(label), qPrintable(outcome.problem));
    QString problem;
    const SpamScorer scorer = store.scorer(&problem);
    // Scored as a scan scores its rows (RowScoring, beside the header pass), and suggested by
    // the window's rule over what the rows keep.
    const auto scoredAsRows = [&scorer](const QList<QByteArray> &headers) {
        RowScoring scoring(scorer, int(headers.size()) + 1);
        for (qsizetype i = 0; i < headers.size(); ++i)
            scoring.add(int(i) + 1, headers[i]);
        const std::unique_ptr<RowScores> rows = scoring.finish();
        std::vector<SpamScore> scores;
        for (qsizetype i = 0; i < headers.size(); ++i)
            scores.push_back(rows->row(int(i) + 1)->score());
        return scores;
    };
    Accuracy a;
    a.spamScores = scoredAsRows(s.testSpam);
    a.hamScores = scoredAsRows(s.testHam);
    for (const SpamScore &v : a.spamScores)
        a.spamSuggested += isSuggested(v, scorer);
    for (const SpamScore &v : a.hamScores)
        a.hamSuggested += isSuggested(v, scorer);
    if (misses) {
        const auto show = [](const char *what, const QByteArray &h, const SpamScore &score) {
            const MailMessage m = MailMessage::parseListFields(h);
            std::printf("  %s %.3f (S %.3g, H %.3g) %s | %s\n", what, score.value, score.spamSide, score.hamSide,
                        qPrintable(m.listedSender()), qPrintable(m.subject().left(70)));
        };
        std::map<Token, std::pair<int, int>> counts;
        for (const Lesson &l : s.train)
            for (const Token t : headerTokenList(l.header))
                (l.verdict == Verdict::Spam ? counts[t].first : counts[t].second)++;
        const auto explain = [&](const QByteArray &h) {
            const QStringList texts = headerTokenTexts(h);
            const std::vector<Token> tokens = headerTokenList(h);
            QStringList parts;
            for (std::size_t i = 0; i < tokens.size(); ++i) {
                const auto c = counts[tokens[i]];
                const double f = tokenProbability(c.first, c.second, scorer.spamLearned(), scorer.hamLearned());
                if (std::abs(f - 0.5) >= 0.1)
                    parts << QStringLiteral("%1=%2").arg(texts.value(qsizetype(i))).arg(f, 0, 'f', 2);
            }
            std::printf("      %s\n", qPrintable(parts.join(u' ')));
        };
        for (qsizetype i = 0; i < s.testSpam.size(); ++i)
            if (!isSuggested(a.spamScores[std::size_t(i)], scorer)) {
                show("missed spam", s.testSpam[i], a.spamScores[std::size_t(i)]);
                explain(s.testSpam[i]);
            }
        for (qsizetype i = 0; i < s.testHam.size(); ++i)
            if (a.hamScores[std::size_t(i)].value >= 0.5) {
                show("spammy ham ", s.testHam[i], a.hamScores[std::size_t(i)]);
                explain(s.testHam[i]);
            }
    }
    const auto pct = [](int n, qsizetype of) { return of ? 100.0 * n / double(of) : 0.0; };
    std::printf("learning_bench %s learned=%d+%d spam_suggested=%.1f%% (%d/%lld) ham_suggested=%d (%.2f%% of %lld) "
                "(score >= %.2f, or spam side significant at %.2f)\n",
                qPrintable(label), scorer.spamLearned(), scorer.hamLearned(), pct(a.spamSuggested, s.testSpam.size()),
                a.spamSuggested, qlonglong(s.testSpam.size()), a.hamSuggested, pct(a.hamSuggested, s.testHam.size()),
                qlonglong(s.testHam.size()), kSuggestionThreshold, kSignificance);
    // The same held-out scores at other thresholds of the indicator alone: the margin.
    QByteArray curve;
    for (const double t : {0.5, 0.7, 0.8, 0.9, 0.95, 0.99}) {
        const auto over = [t](const SpamScore &v) { return v.value >= t; };
        const auto spamOver = std::count_if(a.spamScores.begin(), a.spamScores.end(), over);
        const auto hamOver = std::count_if(a.hamScores.begin(), a.hamScores.end(), over);
        curve += QByteArray(" ") + QByteArray::number(t) + ":" + QByteArray::number(pct(int(spamOver), s.testSpam.size()), 'f', 1)
                 + "%/" + QByteArray::number(qlonglong(hamOver));
    }
    // Ranking alone, whatever the threshold: the spam scored above every legitimate message.
    double topHam = 0;
    for (const SpamScore &v : a.hamScores)
        topHam = std::max(topHam, v.value);
    const auto above = std::count_if(a.spamScores.begin(), a.spamScores.end(), [&](const SpamScore &v) { return v.value > topHam; });
    std::printf("learning_bench %s indicator_alone(threshold:spam%%/ham)=%s above_every_ham=%.1f%%\n", qPrintable(label),
                curve.constData(), pct(int(above), s.testSpam.size()));
    return a;
}

// Headers with many tokens of their own, to fill a store up to its token bound.
QList<Lesson> fillerLessons(int messages)
{
    QList<Lesson> lessons;
    std::mt19937 random(7);
    for (int i = 0; i < messages; ++i) {
        QByteArray h = "From: x" + QByteArray::number(random(), 36) + "@d" + QByteArray::number(random(), 36) + ".example\r\n";
        for (int f = 0; f < 60; ++f)
            h += "X-F" + QByteArray::number(random(), 36) + ": 1\r\n";
        h += "Subject:";
        for (int w = 0; w < 24; ++w)
            h += " w" + QByteArray::number(random(), 36);
        h += "\r\n";
        lessons << Lesson{"f" + QByteArray::number(i), h, i % 3 ? Verdict::Ham : Verdict::Spam};
    }
    return lessons;
}

// CPU per header scored, median of three passes over headers (cycled to `total` scores).
double scoreUs(const SpamScorer &scorer, const QList<QByteArray> &headers, int total, double &sum)
{
    QList<double> runs;
    for (int r = 0; r < 3; ++r) {
        const double start = cpuSeconds();
        for (int i = 0; i < total; ++i)
            sum += scorer.score(headers[i % headers.size()]).value;
        runs << (cpuSeconds() - start) * 1e6 / total;
    }
    std::sort(runs.begin(), runs.end());
    return runs[1];
}

// The least any reading of a header's tokens costs: the fields found (line ends, colons) and
// each field's name hashed into a token set, the tokens of no value read; then the same with
// the words of every value too, split at blanks. A scorer that reads more kinds of evidence than
// the field names costs more than the first.
void floorLine(const QList<QByteArray> &headers, double scanUs, double tokenizerUs, double &sum)
{
    TokenSet set;
    double us[2] = {};
    for (const bool words : {false, true}) {
        QList<double> runs;
        for (int r = 0; r < 3; ++r) {
            const double start = cpuSeconds();
            for (const QByteArray &h : headers) {
                set.clear();
                const char *p = h.constData();
                const char *const end = p + h.size();
                while (p < end) {
                    const char *nl = static_cast<const char *>(std::memchr(p, '\n', std::size_t(end - p)));
                    if (!nl)
                        nl = end;
                    if (nl - p <= 1) // the blank line
                        break;
                    const char *value = p;
                    if (*p != ' ' && *p != '\t')
                        if (const char *colon = static_cast<const char *>(std::memchr(p, ':', std::size_t(nl - p)))) {
                            set.insert(hashBytes(QByteArrayView(p, colon - p)));
                            value = colon + 1;
                        }
                    for (const char *w = value; words && w < nl;) {
                        while (w < nl && (*w == ' ' || *w == '\t' || *w == '\r'))
                            ++w;
                        const char *const from = w;
                        while (w < nl && *w != ' ' && *w != '\t' && *w != '\r')
                            ++w;
                        if (w > from)
                            set.insert(hashBytes(QByteArrayView(from, w - from)));
                    }
                    p = nl + 1;
                }
                sum += set.size();
            }
            runs << (cpuSeconds() - start) * 1e6 / headers.size();
        }
        std::sort(runs.begin(), runs.end());
        us[words] = runs[1];
    }
    std::printf("learning_bench floor field_names_us=%.2f share_of_scan=%.0f%% every_word_us=%.2f share_of_scan=%.0f%% "
                "(CPU per header: only the field names hashed, then every word of every field too, into a token set; "
                "the scorer reads its tokens in %.2f us)\n",
                us[0], 100 * us[0] / scanUs, us[1], 100 * us[1] / scanUs, tokenizerUs);
}

void speed(const Corpus &corpus, double scanUs)
{
    const int total = 100000;
    QList<QByteArray> headers;
    {
        const QList<QByteArray> mails = mailfactory::realisticMailbox(total);
        for (const QByteArray &m : mails)
            headers << m.left(m.indexOf("\r\n\r\n") + 4);
    }
    malloc_trim(0);

    // The table a scan loads: learned from the whole corpus, through the store.
    QTemporaryDir dir;
    const QString path = LearnedStore::pathIn(dir.path());
    QList<Lesson> all;
    for (qsizetype i = 0; i < corpus.spam.size(); ++i)
        all << Lesson{"s" + QByteArray::number(i), corpus.spam[i], Verdict::Spam};
    for (qsizetype i = 0; i < corpus.ham.size(); ++i)
        all << Lesson{"h" + QByteArray::number(i), corpus.ham[i], Verdict::Ham};
    {
        LearnedStore store(path);
        store.learn(all);
    }
    const double rssBefore = benchprocess::rssMb();
    resetPeak();
    const double loadStart = cpuSeconds();
    LearnedStore store(path);
    const SpamScorer scorer = store.scorer();
    const double loadMs = (cpuSeconds() - loadStart) * 1e3;
    double sum = 0;
    const double us = scoreUs(scorer, headers, total, sum);
    const double peakAdded = benchprocess::peakRssMb() - rssBefore;

    // Of which reading the tokens.
    QList<double> tokenizing;
    TokenSet set;
    for (int r = 0; r < 3; ++r) {
        const double start = cpuSeconds();
        for (const QByteArray &h : std::as_const(headers)) {
            headerTokens(h, set);
            sum += set.size();
        }
        tokenizing << (cpuSeconds() - start) * 1e6 / total;
    }
    std::sort(tokenizing.begin(), tokenizing.end());
    floorLine(headers, scanUs, tokenizing[1], sum);
    // The scan's own reading of each header, for scale on this machine.
    QList<double> parse;
    for (int r = 0; r < 3; ++r) {
        const double start = cpuSeconds();
        for (const QByteArray &h : std::as_const(headers))
            sum += MailMessage::parseListFields(h).subject().size();
        parse << (cpuSeconds() - start) * 1e6 / total;
    }
    std::sort(parse.begin(), parse.end());
    // What a scan pays: every row through RowScoring (tokens, score, id, learned or not, the
    // tokens kept), add() and finish(), the CPU of all threads.
    QList<double> rows;
    qsizetype keptBytes = 0;
    for (int r = 0; r < 3; ++r) {
        const double start = cpuSeconds();
        RowScoring scoring(scorer, total + 1);
        for (int i = 0; i < total; ++i)
            scoring.add(i + 1, headers[i]);
        const std::unique_ptr<RowScores> scores = scoring.finish();
        rows << (cpuSeconds() - start) * 1e6 / total;
        sum += scores->row(total)->value;
        keptBytes = scores->tokenBytes();
    }
    std::sort(rows.begin(), rows.end());
    std::printf("learning_bench row_scoring_us=%.2f share_of_scan=%.0f%% kept_mb=%.1f (CPU of all threads per row "
                "through RowScoring as a scan uses it, add() and finish() over the %d headers: tokens, score, id, "
                "learned or not, tokens kept; median of 3)\n",
                rows[1], 100 * rows[1] / scanUs, keptBytes / 1048576.0, total);
    std::printf("learning_bench messages=%d score_us=%.2f share_of_scan=%.0f%% (CPU per header scored, medians of 3 "
                "passes over the realistic headers of the scan benchmarks; of which reading the tokens %.2f us; against "
                "a scan of %.1f us a message, scan_bench cpu_us_per_message at 100,000; reading the list fields costs "
                "%.2f us here) load_ms=%.1f tokens=%lld table_mb=%.1f peak_added_mb=%.1f\n",
                total, us, 100 * us / scanUs, tokenizing[1], scanUs, parse[1], loadMs, qlonglong(scorer.tokenCount()),
                scorer.memoryBytes() / 1048576.0, peakAdded);
    if (sum == 42) // keeps the scores from being optimised away
        std::printf("\n");

    const QList<QByteArray> real = corpus.spam + corpus.ham;
    qsizetype bytes = 0;
    for (const QByteArray &h : std::as_const(real))
        bytes += h.size();
    if (!real.isEmpty())
        std::printf("learning_bench score_us_corpus=%.2f (CPU per header scored, the corpus's %lld real headers of %lld "
                "bytes on average, cycled to %d)\n",
                scoreUs(scorer, real, total, sum), qlonglong(real.size()), qlonglong(bytes / std::max<qsizetype>(1, real.size())), total);

    // A store at its token bound: what loading and holding it costs.
    QTemporaryDir fullDir;
    const QString fullPath = LearnedStore::pathIn(fullDir.path());
    const QList<Lesson> filler = fillerLessons(1500);
    double learnStart = cpuSeconds();
    {
        LearnedStore full(fullPath);
        full.learn(filler);
    }
    const double fillerUs = (cpuSeconds() - learnStart) * 1e6 / filler.size();
    malloc_trim(0);
    const double rssFull = benchprocess::rssMb();
    resetPeak();
    const double fullStart = cpuSeconds();
    LearnedStore full(fullPath);
    const SpamScorer big = full.scorer();
    const double fullMs = (cpuSeconds() - fullStart) * 1e3;
    const double bigUs = scoreUs(big, headers, total, sum);
    const std::optional<LearnedTotals> totals = full.totals();
    std::printf("learning_bench full_store tokens=%lld load_ms=%.0f table_mb=%.1f peak_added_mb=%.1f score_us=%.2f "
                "file_mb=%.1f learn_us_per_message=%.0f (a store at its 200,000-token bound, messages of ~150 "
                "tokens)\n",
                qlonglong(totals ? totals->tokens : -1), fullMs, big.memoryBytes() / 1048576.0,
                benchprocess::peakRssMb() - rssFull, bigUs, QFileInfo(fullPath).size() / 1048576.0, fillerUs);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool raw = args.removeAll(QStringLiteral("--raw")) > 0;
    const bool misses = args.removeAll(QStringLiteral("--misses")) > 0;
    // The scan's own CPU per message, which scoring adds to: scan_bench --compare 100000 measured
    // 3.8 us (STLS, cpu_us_per_message) on the machine this was written on.
    double scanUs = 3.8;
    if (const qsizetype at = args.indexOf(QStringLiteral("--scan-us")); at >= 0 && at + 1 < args.size()) {
        scanUs = args[at + 1].toDouble();
        args.remove(at, 2);
    }
    int top = 0;
    if (const qsizetype at = args.indexOf(QStringLiteral("--top")); at >= 0 && at + 1 < args.size()) {
        top = args[at + 1].toInt();
        args.remove(at, 2);
    }
    if (const qsizetype at = args.indexOf(QStringLiteral("--tokens")); at >= 0) {
        // The tokens of each message at PATH, or of three headers of the scan benchmarks.
        QList<QByteArray> headers;
        if (at + 1 < args.size())
            readHeaderBlocks(args[at + 1], [&](const QByteArray &h) { return headers << h, true; });
        else
            for (const QByteArray &m : mailfactory::realisticMailbox(3))
                headers << m.left(m.indexOf("\r\n\r\n") + 4);
        for (const QByteArray &h : std::as_const(headers))
            std::printf("%s\n%s\n\n", h.constData(), qPrintable(headerTokenTexts(h).join(u' ')));
        return 0;
    }
    const QString corpusRoot = QDir(QStringLiteral(PELICORDE_SOURCE_DIR)).filePath(QStringLiteral("../shared/corpus"));
    const QString spamPath = args.value(0, corpusRoot + QStringLiteral("/spam"));
    const QString hamPath = args.value(1, corpusRoot + QStringLiteral("/ham"));
    Corpus corpus;
    corpus.spam = readFolder(spamPath, raw, 0);
    corpus.ham = readFolder(hamPath, raw, 1000000);
    if (corpus.spam.size() < 4 || corpus.ham.size() < 4) {
        std::printf("learning_bench no corpus (spam %lld, ham %lld messages at %s and %s): accuracy not measured\n",
                    qlonglong(corpus.spam.size()), qlonglong(corpus.ham.size()), qPrintable(spamPath),
                    qPrintable(hamPath));
    } else {
        std::printf("learning_bench corpus spam=%lld ham=%lld%s (%s, %s)\n", qlonglong(corpus.spam.size()),
                    qlonglong(corpus.ham.size()), raw ? " raw" : " artefacts_masked", qPrintable(spamPath),
                    qPrintable(hamPath));
        double learnUs = 0;
        const Split first = splitCorpus(corpus, 20260101, 0);
        if (top > 0)
            printTop(first, top);
        run(first, QStringLiteral("split=1"), learnUs, misses);
        // The cross-checks: the halves swapped, and two other random splits both ways.
        run(splitCorpus(corpus, 20260101, 1), QStringLiteral("split=1-swapped"), learnUs, misses);
        for (const quint32 seed : {4242u, 777u})
            for (const int half : {0, 1})
                run(splitCorpus(corpus, seed, half), QStringLiteral("split=%1%2").arg(seed == 4242u ? 2 : 3).arg(half ? "-swapped" : ""),
                    learnUs, misses);
        std::printf("learning_bench learn_us_per_message=%.0f (CPU, through the store, transactions of 200)\n", learnUs);
    }
    speed(corpus, scanUs);
    return 0;
}
