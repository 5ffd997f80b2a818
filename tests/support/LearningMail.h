// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QList>
#include <map>

#include "learning/HeaderTokens.h"
#include "learning/LearnedStore.h"
#include "learning/SpamScore.h"
#include "mailbox/MessageList.h"
#include "mailbox/RowScores.h"

// Synthetic header blocks for the learned score's tests: bulk spam and a user's ordinary mail,
// each message of its kind different from the others (n picks the variations), none of them
// real.
namespace learningmail {

inline QByteArray number(int n) { return QByteArray::number(n); }

// Spam as bulk senders send it: hired lines named after their address, made-up senders,
// shouting subjects, HTML, no recipient named.
inline QByteArray spam(int n)
{
    static const char *const words[] = {"GRATUIT", "gagnez", "offre", "exclusive", "argent", "urgent",
                                        "promo", "casino", "credit", "bonus"};
    const QByteArray ip = "198.51.100." + number(n % 200 + 1);
    const QByteArray host = "pool-198-51-100-" + number(n % 200 + 1) + ".dsl.fai-discount.example";
    return "Return-Path: <bounce-" + number(n * 7919) + "@envoi" + number(n % 5) + ".promo-masse.example>\r\n"
           "Received: from " + host + " (" + host + " [" + ip + "])\r\n"
           "\tby mx.destinataire.example (Postfix) with ESMTP id A" + number(n) + "\r\n"
           "\tfor <moi@destinataire.example>; Mon, 7 Dec 2026 10:00:00 +0100\r\n"
           "From: \"Offre " + number(n) + "\" <x" + number(n * 31) + "q@promo-masse.example>\r\n"
           "To: undisclosed-recipients:;\r\n"
           "Subject: " + words[n % 10] + " " + words[(n + 3) % 10] + " " + words[(n + 7) % 10] + " !!! $$$\r\n"
           "Date: Mon, 7 Dec 2026 09:59:" + number(10 + n % 50) + " -0000\r\n"
           "Message-ID: <" + number(n * 104729) + "." + number(n) + "@" + host + ">\r\n"
           "X-Mailer: BulkMail Pro " + number(n % 4) + ".0\r\n"
           "X-Priority: 1\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: text/html; charset=iso-8859-1\r\n";
}

// A user's own mail: colleagues through their company's server, a gardening list, replies.
inline QByteArray ham(int n)
{
    static const char *const people[] = {"Marie Dupont <marie.dupont", "Paul Martin <paul.martin",
                                         "Claire Petit <claire.petit", "Louis Bernard <louis.bernard"};
    static const char *const subjects[] = {"Re: réunion de jeudi", "Compte rendu du chantier", "Re: devis de la toiture",
                                           "Planning de la semaine", "Re: photos du jardin"};
    QByteArray h = "Return-Path: <" + QByteArray(people[n % 4]).split('<').last() + "@atelier-dupont.example>\r\n"
                   "Received: from smtp.atelier-dupont.example (smtp.atelier-dupont.example [203.0.113.5])\r\n"
                   "\tby mx.destinataire.example (Postfix) with ESMTPS id B" + number(n) + "\r\n"
                   "\tfor <moi@destinataire.example>; Tue, 8 Dec 2026 1" + number(n % 10) + ":00:00 +0100\r\n"
                   "Received: from poste" + number(n % 3) + " ([10.0.0." + number(n % 50 + 2) + "])\r\n"
                   "\tby smtp.atelier-dupont.example; Tue, 8 Dec 2026 1" + number(n % 10) + ":00:00 +0100\r\n"
                   "From: " + people[n % 4] + "@atelier-dupont.example>\r\n"
                   "To: Moi <moi@destinataire.example>\r\n"
                   "Subject: " + subjects[n % 5] + " n°" + number(n) + "\r\n"
                   "Date: Tue, 8 Dec 2026 1" + number(n % 10) + ":00:00 +0100\r\n"
                   "Message-ID: <" + number(n) + ".poste" + number(n % 3) + "@atelier-dupont.example>\r\n"
                   "User-Agent: Mozilla Thunderbird\r\n"
                   "MIME-Version: 1.0\r\n"
                   "Content-Type: text/plain; charset=UTF-8; format=flowed\r\n";
    if (n % 5 % 2 == 0) // the replies
        h += "In-Reply-To: <" + number(n + 1000) + ".poste1@atelier-dupont.example>\r\n";
    return h;
}

// A scorer that learned spam(0..n-1) and ham(0..n-1), each under its headerId(), as the store
// would give it (without the store).
inline learning::SpamScorer trainedScorer(int n = 20)
{
    std::map<learning::Token, learning::TokenCount> counts;
    std::vector<learning::Token> spamIds, hamIds;
    for (int i = 0; i < n; ++i)
        for (const bool isSpam : {true, false}) {
            const QByteArray h = isSpam ? spam(i) : ham(i);
            for (const learning::Token t : learning::headerTokenList(h)) {
                learning::TokenCount &c = counts[t];
                c.token = t;
                (isSpam ? c.spam : c.ham)++;
            }
            (isSpam ? spamIds : hamIds).push_back(learning::hashBytes(learning::headerId(h)));
        }
    std::vector<learning::TokenCount> all;
    for (const auto &[t, c] : counts)
        all.push_back(c);
    learning::SpamScorer scorer(n, n, all);
    scorer.setLearnedMessages(std::move(spamIds), std::move(hamIds));
    return scorer;
}

// Scores rows 1..headers.size() of list as a scan does, header i for row i + 1.
inline void scoreRows(MessageList &list, const learning::SpamScorer &scorer, const QList<QByteArray> &headers)
{
    RowScoring scoring(scorer, list.rows());
    for (qsizetype i = 0; i < headers.size(); ++i)
        scoring.add(int(i) + 1, headers[i]);
    list.setScores(scoring.finish());
}

// A whole message with that header block, as a server holds it.
inline QByteArray wholeMail(const QByteArray &header) { return header + "\r\nBonjour.\r\n"; }

// The store of dataFolder as a user's deletions would have left it: spam(0..spams-1) and
// ham(0..hams-1) learned.
inline void trainStore(const QString &dataFolder, int spams = 20, int hams = 20)
{
    QList<learning::Lesson> lessons;
    for (int i = 0; i < spams; ++i)
        lessons << learning::Lesson(learning::headerId(spam(i)), spam(i), learning::Verdict::Spam);
    for (int i = 0; i < hams; ++i)
        lessons << learning::Lesson(learning::headerId(ham(i)), ham(i), learning::Verdict::Ham);
    learning::LearnedStore(learning::LearnedStore::pathIn(dataFolder)).learn(lessons);
}

// How many spams and legitimate messages the store of dataFolder has learned.
inline std::pair<int, int> learned(const QString &dataFolder)
{
    const auto totals = learning::LearnedStore(learning::LearnedStore::pathIn(dataFolder)).totals();
    return totals ? std::pair(totals->spam, totals->ham) : std::pair(-1, -1);
}

} // namespace learningmail
