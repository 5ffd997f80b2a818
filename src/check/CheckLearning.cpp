// SPDX-License-Identifier: GPL-3.0-or-later
#include "check/CheckLearning.h"

#include <cstdio>

#include "learning/HeaderTokens.h"
#include "learning/LearnedStore.h"
#include "learning/MailSources.h"

namespace checklearning {

namespace {

// Lessons are learned in batches: a large mbox never holds all its headers in memory.
constexpr int kBatch = 500;

void sayProblem(const QString &line)
{
    std::fprintf(stderr, "pelicorde-check: %s\n", qPrintable(line.simplified()));
}

QByteArray jsonString(const QString &text)
{
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (uchar(c) < 0x20)
            out += "\\u00" + QByteArray::number(uchar(c), 16).rightJustified(2, '0');
        else
            out += c;
    }
    return out + '"';
}

} // namespace

bool isLearnOption(const QString &argument)
{
    return argument == QLatin1String("--learn-spam") || argument == QLatin1String("--learn-ham");
}

int learnFromFiles(const QStringList &arguments, const QString &dataFolder)
{
    learning::LearnedStore store(learning::LearnedStore::pathIn(dataFolder));
    int exitCode = 0;
    learning::Verdict verdict = learning::Verdict::Spam;
    bool anyPath = false;
    for (const QString &argument : arguments) {
        if (isLearnOption(argument)) {
            verdict = argument == QLatin1String("--learn-spam") ? learning::Verdict::Spam : learning::Verdict::Ham;
            continue;
        }
        anyPath = true;
        learning::LearnOutcome total;
        QList<learning::Lesson> batch;
        bool storeFailed = false;
        const auto flush = [&] {
            if (batch.isEmpty() || storeFailed)
                return;
            const learning::LearnOutcome o = store.learn(batch);
            batch.clear();
            if (!o.problem.isEmpty())
                sayProblem(o.problem);
            if (!o.ok) {
                storeFailed = true;
                return;
            }
            total.added += o.added;
            total.moved += o.moved;
            total.unchanged += o.unchanged;
        };
        const learning::SourceSummary read = learning::readHeaderBlocks(argument, [&](const QByteArray &header) {
            batch.append(learning::Lesson{learning::headerId(header), header, verdict});
            if (batch.size() >= kBatch)
                flush();
            return !storeFailed;
        });
        flush();
        for (const QString &problem : read.problems)
            sayProblem(problem);
        if (storeFailed)
            return 2;
        if (read.messages == 0) {
            sayProblem(QStringLiteral("Aucun message lu dans %1").arg(argument));
            exitCode = 2;
            continue;
        }
        std::printf("{\"path\": %s, \"learned\": \"%s\", \"messages\": %d, \"added\": %d, \"moved\": %d, "
                    "\"unchanged\": %d}\n",
                    jsonString(argument).constData(), verdict == learning::Verdict::Spam ? "spam" : "ham",
                    read.messages, total.added, total.moved, total.unchanged);
        std::fflush(stdout);
    }
    if (!anyPath) {
        sayProblem(QStringLiteral("--learn-spam et --learn-ham attendent au moins un chemin"));
        return 2;
    }
    return exitCode;
}

} // namespace checklearning
