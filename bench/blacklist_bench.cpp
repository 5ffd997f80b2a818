// SPDX-License-Identifier: GPL-3.0-or-later
// Times the blacklist pass of a scan: 5,000 senders against a blacklist of 5,000 entries.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <vector>

#include "core/Ansi.h"
#include "mailbox/MessageList.h"
#include "mailbox/SpamMarking.h"

namespace {
constexpr int kRows = 5000;
constexpr int kEntries = 5000;

QString pick(QRandomGenerator &rng, const QStringList &from)
{
    return from.at(int(rng.bounded(from.size())));
}

QString word(QRandomGenerator &rng, int minLength, int maxLength)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz";
    QString w;
    for (int n = minLength + int(rng.bounded(maxLength - minLength + 1)); n > 0; --n)
        w += QLatin1Char(letters[rng.bounded(26)]);
    return w;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QRandomGenerator rng(5000);
    const QStringList firstNames{"jean", "marie", "pierre", "sophie", "luc", "claire", "paul", "julie",
                                 "michel", "anne", "nicolas", "isabelle", "thomas", "camille", "eric"};
    const QStringList tlds{"fr", "com", "net", "org", "de", "info", "biz", "ru", "cn", "io"};
    const QStringList spamWords{"promo", "offre", "deal", "casino", "pharma", "winner", "newsletter",
                                "noreply", "marketing", "bonus", "crypto", "loan", "dating", "shop"};

    QStringList domains;
    for (int i = 0; i < 600; ++i)
        domains << word(rng, 4, 10) + u'.' + pick(rng, tlds);
    QStringList spamDomains;
    for (int i = 0; i < 300; ++i)
        spamDomains << pick(rng, spamWords) + u'-' + word(rng, 3, 8) + u'.' + pick(rng, tlds);

    // Senders: most ordinary people and services, a fifth from spam domains.
    QStringList senders;
    for (int r = 0; r < kRows; ++r) {
        const bool spam = rng.bounded(5) == 0;
        QString local;
        switch (rng.bounded(3)) {
        case 0: local = pick(rng, firstNames) + u'.' + word(rng, 4, 9); break;
        case 1: local = pick(rng, spamWords) + QString::number(rng.bounded(1000)); break;
        default: local = word(rng, 5, 12); break;
        }
        senders << local + u'@' + (spam ? pick(rng, spamDomains) : pick(rng, domains));
    }

    // Entries: whole addresses, domains, and words, some of which catch nothing.
    QByteArray file;
    for (int e = 0; e < kEntries; ++e) {
        QString pattern;
        switch (rng.bounded(4)) {
        case 0: pattern = pick(rng, senders); break;
        case 1: pattern = u'@' + pick(rng, spamDomains); break;
        case 2: pattern = word(rng, 5, 12) + u'@' + word(rng, 4, 10) + u'.' + pick(rng, tlds); break;
        default: pattern = pick(rng, spamWords) + word(rng, 0, 3); break;
        }
        const QString date = rng.bounded(3) == 0
                                 ? QStringLiteral("00/00/0000")
                                 : QStringLiteral("%1/%2/20%3")
                                       .arg(1 + rng.bounded(28), 2, 10, QLatin1Char('0'))
                                       .arg(1 + rng.bounded(12), 2, 10, QLatin1Char('0'))
                                       .arg(10 + rng.bounded(15));
        file += ansi::fromUnicode(pattern + u'\t' + date) + "\r\n";
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Liste-noire.txt"));
    MessageList list;
    list.setRows(kRows + 1);

    std::vector<double> times;
    int marked = 0;
    qsizetype changedBytes = 0;
    for (int run = 0; run < 7; ++run) {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(file) != file.size())
            return 1;
        f.close();
        for (int r = 1; r <= kRows; ++r) {
            list.setCell(r, MessageList::From, senders.at(r - 1));
            list.setCell(r, MessageList::Mark, QString());
        }
        QElapsedTimer timer;
        timer.start();
        blacklistPass(path, list, QStringLiteral("21/06/2024"));
        times.push_back(timer.nsecsElapsed() / 1e6);

        marked = 0;
        for (int r = 1; r <= kRows; ++r)
            marked += list.isMarked(r);
        QFile after(path);
        if (!after.open(QIODevice::ReadOnly))
            return 1;
        const QByteArray bytes = after.readAll();
        changedBytes = 0;
        for (qsizetype i = 0; i < std::min(bytes.size(), file.size()); ++i)
            changedBytes += bytes[i] != file[i];
    }
    std::sort(times.begin(), times.end());

    QTextStream out(stdout);
    out << "marked " << marked << " of " << kRows << " rows; " << changedBytes
        << " date bytes changed; runs ms:";
    for (const double t : times)
        out << ' ' << QString::number(t, 'f', 1);
    out << '\n';
    out << "blacklist_bench rows=" << kRows << " entries=" << kEntries
        << " pass_ms=" << QString::number(times[times.size() / 2], 'f', 1) << '\n';
    return 0;
}
