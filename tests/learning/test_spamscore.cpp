// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>

#include <cmath>
#include <map>
#include <thread>

#include "learning/HeaderTokens.h"
#include "learning/SpamScore.h"
#include "support/LearningMail.h"

using namespace learning;

namespace {

// What was learned from these messages, as the store would count it.
SpamScorer learnedFrom(const QList<QByteArray> &spam, const QList<QByteArray> &ham)
{
    std::map<Token, TokenCount> counts;
    for (const auto &[list, isSpam] : {std::pair{&spam, true}, std::pair{&ham, false}})
        for (const QByteArray &h : *list)
            for (const Token t : headerTokenList(h)) {
                TokenCount &c = counts[t];
                c.token = t;
                (isSpam ? c.spam : c.ham)++;
            }
    std::vector<TokenCount> all;
    for (const auto &[t, c] : counts)
        all.push_back(c);
    return SpamScorer(int(spam.size()), int(ham.size()), all);
}

SpamScore scoreOf(double value, double spamSide, double hamSide)
{
    SpamScore s;
    s.value = value;
    s.spamSide = spamSide;
    s.hamSide = hamSide;
    return s;
}

} // namespace

class SpamScoreTest : public QObject
{
    Q_OBJECT

private slots:
    void tokensOfAHeader_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");
        QTest::newRow("sender") << QByteArray("From: \"Marie Dupont\" <Marie.Dupont@Mail.Atelier.co.uk>\r\n")
                                << QStringList{"fa:marie.dupont@mail.atelier.co.uk", "fd:mail.atelier.co.uk",
                                               "fr:atelier.co.uk", "fn:marie", "fn:dupont", "fs:name=address", "fs:~a.a"}
                                << QStringList{"fs:noname"};
        QTest::newRow("encoded subject")
            << QByteArray("Subject: =?UTF-8?B?R3JhdHVpdCAhISE=?=\r\n") // "Gratuit !!!"
            << QStringList{"s:gratuit", "ss:!", "ss:!!", "ss:enc-b", "cs:utf-8"} << QStringList{"ss:8bit"};
        // What the user's own servers write is the same for all their mail: it teaches nothing.
        QTest::newRow("receiving side left out")
            << QByteArray("Delivered-To: moi@destinataire.example\r\n"
                          "Received: from localhost (localhost [127.0.0.1]) by mx.destinataire.example\r\n"
                          "Received: from pop.fai.example [192.0.2.9] by localhost with POP3 (fetchmail-6.4)\r\n"
                          "Received: from relais.expediteur.example (relais.expediteur.example [203.0.113.7])\r\n"
                          "\tby mx.destinataire.example with ESMTPS for <moi@destinataire.example>; Mon, 7 Dec 2026\r\n"
                          "To: Moi <moi@destinataire.example>\r\n")
            << QStringList{"rr:expediteur.example", "ri:203.0.113", "ri:203.0", "to:1"}
            << QStringList{"h:delivered-to", "rr:destinataire.example", "rr:fai.example", "ri:192.0.2", "ri:127.0.0"};
        QTest::newRow("relay named after its address")
            << QByteArray("Received: from 81-64-2-17.rev.fai.example ([81.64.2.17]) by mx.destinataire.example\r\n")
            << QStringList{"rr:fai.example", "rh:9-9-9-9.rev.fai.example", "rs:dynamic", "ri:81.64.2"} << QStringList{};
        QTest::newRow("private hop")
            << QByteArray("Received: from poste3 ([10.0.0.2]) by smtp.atelier.example\r\n") << QStringList{}
            << QStringList{"ri:10.0", "rs:noname"};
        QTest::newRow("authentication verdicts")
            << QByteArray("Authentication-Results: mx.destinataire.example; spf=pass smtp.mailfrom=a.example;\r\n"
                          " dkim=fail header.d=b.example; dmarc=none\r\n")
            << QStringList{"ar:spf=pass", "ar:dkim=fail", "ar:dmarc=none"} << QStringList{};
        // A list server's fields come together: they weigh as one.
        QTest::newRow("list fields once")
            << QByteArray("List-Id: Jardiniers <jardin.listes.example>\r\nList-Post: <mailto:jardin@listes.example>\r\n"
                          "List-Unsubscribe: <mailto:x@listes.example>\r\nX-BeenThere: jardin@listes.example\r\n"
                          "Precedence: list\r\n")
            << QStringList{"h:list-*", "li:jardin.listes.example", "ho:list-*>precedence", "pr:precedence=list"}
            << QStringList{"h:list-id", "h:x-beenthere", "ho:list-*>list-*"};
        QTest::newRow("reply without its message") << QByteArray("Subject: Re: votre facture\r\n")
                                                   << QStringList{"ss:re-unreferenced", "s:re"} << QStringList{};
        QTest::newRow("reply") << QByteArray("Subject: Re: votre facture\r\nIn-Reply-To: <1@a.example>\r\n")
                               << QStringList{} << QStringList{"ss:re-unreferenced"};
        QTest::newRow("old-style sender") << QByteArray("From: paul@b.example (Paul Martin)\r\n")
                                          << QStringList{"fa:paul@b.example", "fn:paul", "fn:martin", "fs:name=address"}
                                          << QStringList{"fs:noname"};
        QTest::newRow("sender without name or address")
            << QByteArray("From: Undisclosed\r\n") << QStringList{"fs:noaddr", "fn:undisclosed"}
            << QStringList{"h!:from"};
        QTest::newRow("made-up name") << QByteArray("From: =?utf-8?q?Service_Client?= <x7k2q9@envoi.example>\r\n")
                                      << QStringList{"fn:service", "fn:client", "fs:name!=address", "fs:enc-q", "fs:~a9a9a9",
                                                     "fl:x9k9q9"}
                                      << QStringList{};
        QTest::newRow("subject shape")
            << QByteArray("Subject: GAGNEZ 5000 EUROS   xqzv\r\n")
            << QStringList{"s:gagnez", "s:#4", "s:euros", "ss:caps", "ss:capsword", "ss:gap", "ss:len<30"}
            << QStringList{"ss:!"};
        QTest::newRow("raw 8-bit subject") << QByteArray("Subject: Réunion\r\n")
                                           << QStringList{"s:réunion", "ss:8bit"} << QStringList{"ss:enc-b"};
        QTest::newRow("relations to the sender")
            << QByteArray("From: a@news.shop.example\r\nReply-To: b@other.example\r\nReturn-Path: <>\r\n"
                          "Message-ID: <20261207.123@mail.shop.example>\r\n"
                          "DKIM-Signature: v=1; a=rsa-sha256; d=shop.example; s=k1; b=abc\r\n"
                          "Received: from mail.shop.example (mail.shop.example [192.0.2.77]) by mx.example\r\n")
            << QStringList{"rt:!=from", "rt:other.example", "rp:<>", "mi:=from", "mi:shop.example", "mi:~dps",
                           "dk:shop.example", "dk:=from", "rr:=from", "mi:=relay"}
            << QStringList{"rp:=from", "rp:!=from"};
        QTest::newRow("recipients") << QByteArray("From: a@b.example\r\nTo: a@b.example, c@d.example\r\nCc: e@f.example\r\n")
                                    << QStringList{"to:=from", "to:2-4"} << QStringList{"to:group", "h!:to"};
        QTest::newRow("group of recipients") << QByteArray("To: undisclosed-recipients:;\r\n")
                                             << QStringList{"to:group", "to:0"} << QStringList{};
        QTest::newRow("mailer and types")
            << QByteArray("X-Mailer: Microsoft Outlook Express 6.00.2900.5512\r\nMIME-Version: 1.0 (Produced by X)\r\n"
                          "Content-Type: multipart/alternative;\r\n\tboundary=\"----=_NextPart_000_0007_01C2A9A6.5B8C8A40\"\r\n"
                          "Content-Transfer-Encoding: 7bit\r\nX-Priority: 1 (Highest)\r\nX-Spam-Flag: YES\r\n")
            << QStringList{"mx:microsoft outlook express 9.9.9.9", "mx:outlook", "ct:multipart/alternative",
                           "bd:-=_x_x_x_x.x", "te:7bit", "te:mime-version=1.0", "pr:x-priority=1", "xs:x-spam-flag=yes",
                           "ho:x-mailer>mime-version"}
            << QStringList{};
        QTest::newRow("date") << QByteArray("Date: 7 Dec 2026 10:00:00 +0000 (UTC)\r\n") << QStringList{"dt:+0000", "dt:~noday"}
                              << QStringList{"dt:~nozone"};
        QTest::newRow("IPv6 relay")
            << QByteArray("Received: from mx.v6.example (mx.v6.example [IPv6:2001:db8:1234:5::1]) by mx.example\r\n"
                          "Received: from a ([IPv6:::1]) by mx.v6.example\r\n")
            << QStringList{"rr:v6.example", "ri:2001:db8:1234"} << QStringList{"rs:noname"};
        QTest::newRow("folded and odd lines")
            << QByteArray("not a field\r\nX-A: 1\r\n\tfolded\r\nSubject:\r\n  mot\r\nFrom mbox line\r\n")
            << QStringList{"h:x-a", "s:mot"} << QStringList{"h:not a field", "h!:subject"};
        QTest::newRow("missing fields") << QByteArray("From: a@b.example\r\n\r\nSubject: in the body\r\n")
                                        << QStringList{"h!:date", "h!:message-id", "h!:subject"}
                                        << QStringList{"s:in"};
    }
    void tokensOfAHeader()
    {
        QFETCH(QByteArray, header);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        const QStringList texts = headerTokenTexts(header);
        for (const QString &t : present)
            QVERIFY2(texts.contains(t), qPrintable(t + QStringLiteral(" missing from ") + texts.join(u' ')));
        for (const QString &t : absent)
            QVERIFY2(!texts.contains(t), qPrintable(t + QStringLiteral(" in ") + texts.join(u' ')));
        // The hashed tokens are the same ones, once each.
        QCOMPARE(qsizetype(headerTokenList(header).size()), texts.size());
    }

    // Whatever the bytes, reading them ends, within bounds.
    void anyBytesAreRead()
    {
        QByteArray junk;
        quint32 x = 12345;
        for (int i = 0; i < 20000; ++i) {
            x = x * 1103515245 + 12345;
            junk += char(x >> 16);
            if (i % 37 == 0)
                junk += ":\r\n =?utf-8?b?";
        }
        QVERIFY(headerTokenList(junk).size() <= std::size_t(TokenSet::kMaxTokens));
        QByteArray many;
        for (int i = 0; i < 2000; ++i)
            many += "X-Field-" + QByteArray::number(i) + ": v\r\nReceived: from h" + QByteArray::number(i) + ".example ([198.51.100.1])\r\n";
        many += "Subject: " + QByteArray(500000, 'a') + "\r\n";
        QVERIFY(headerTokenList(many).size() <= std::size_t(TokenSet::kMaxTokens));
        QVERIFY(headerTokenList(QByteArray()).size() > 0); // what it lacks is told
        QVERIFY(headerTokenList(QByteArray("\r\n\r\n")).size() > 0);
    }

    // The tokens of a value met before come from the memo: the same as read afresh.
    void repeatedFieldsGiveTheSameTokens()
    {
        for (int n = 0; n < 8; ++n) {
            const QByteArray header = learningmail::ham(n);
            const std::vector<Token> warm = headerTokenList(header);
            std::vector<Token> cold;
            std::thread([&] { cold = headerTokenList(header); }).join(); // a thread has a memo of its own
            QCOMPARE(warm, cold);
            QCOMPARE(qsizetype(warm.size()), headerTokenTexts(header).size());
        }
    }

    // A header cut anywhere reads as the same bytes on their own: nothing past its end counts,
    // whatever follows in memory.
    void nothingPastTheEndIsRead()
    {
        const QByteArray whole = learningmail::ham(2) + "Subject: =?utf-8?q?caf=C3=A9?=\r\n\tsuite\r\n" + learningmail::spam(3);
        for (qsizetype n = 0; n <= whole.size(); ++n) {
            const QByteArrayView cut(whole.constData(), n);
            const QByteArray alone(whole.constData(), n);
            QCOMPARE(headerTokenList(cut), headerTokenList(alone));
            QCOMPARE(headerIdValue(cut), headerIdValue(alone));
        }
    }

    // The copy a server sends and the one a mailbox file keeps are one message.
    void headerIdIgnoresTheWayItIsKept()
    {
        const QByteArray sent = "From: a@b.example\r\nSubject: bonjour\r\n\tsuite\r\nMessage-ID: <1@b.example>\r\n\r\n";
        QByteArray kept = sent;
        kept.replace("\r\n", "\n");
        kept.replace("Message-ID", "Status: RO\nX-Status: A\nContent-Length: 120\nMessage-ID");
        kept += "the body\n";
        QCOMPARE(headerId(kept), headerId(sent));
        QVERIFY(headerId(sent).startsWith('h'));
        QCOMPARE(headerId(sent).size(), 17);
        QVERIFY(headerId(QByteArray(sent).replace("bonjour", "bonsoir")) != headerId(sent));
        QCOMPARE(headerIdText(headerIdValue(sent)), headerId(sent)); // the number a list keeps
        // What is hashed: each field but the store's as "name:value" and a line end, the value
        // trimmed and without its CRs, wherever they are.
        const QByteArray odd = "X-A-Name-Longer-Than-Sixteen:  a\rb \r\n\tc  \r\nStatus: RO\r\nSubject: s";
        QCOMPARE(headerIdValue(odd), hashBytes("X-A-Name-Longer-Than-Sixteen:ab \n\tc\nSubject:s\n"));
    }

    // Every learned id is told with its way, among many, and an id never learned is not.
    void learnedMessagesAreTold()
    {
        std::vector<Token> spam, ham;
        for (int i = 0; i < 3000; ++i)
            (i % 3 ? ham : spam).push_back(hashBytes("id-" + QByteArray::number(i)));
        SpamScorer scorer;
        scorer.setLearnedMessages(spam, ham);
        for (int i = 0; i < 3000; ++i)
            QCOMPARE(scorer.learnedAs("id-" + QByteArray::number(i)), std::optional(i % 3 ? Verdict::Ham : Verdict::Spam));
        for (int i = 3000; i < 3100; ++i)
            QCOMPARE(scorer.learnedAs("id-" + QByteArray::number(i)), std::nullopt);
    }

    void robinsonEstimate_data()
    {
        QTest::addColumn<int>("spam");
        QTest::addColumn<int>("ham");
        QTest::addColumn<int>("spamMessages");
        QTest::addColumn<int>("hamMessages");
        QTest::addColumn<double>("expected");
        QTest::newRow("never seen") << 0 << 0 << 10 << 10 << 0.5;
        QTest::newRow("one spam") << 1 << 0 << 1 << 1 << (0.45 * 0.5 + 1) / 1.45;
        QTest::newRow("one legitimate") << 0 << 1 << 1 << 1 << 0.45 * 0.5 / 1.45;
        QTest::newRow("often in spam") << 10 << 0 << 10 << 100 << (0.45 * 0.5 + 10) / 10.45;
        // Held by as large a share of each kind: says nothing, however unequal the kinds.
        QTest::newRow("as often in both") << 5 << 50 << 10 << 100 << 0.5;
    }
    void robinsonEstimate()
    {
        QFETCH(int, spam);
        QFETCH(int, ham);
        QFETCH(int, spamMessages);
        QFETCH(int, hamMessages);
        QFETCH(double, expected);
        QVERIFY(std::abs(tokenProbability(quint32(spam), quint32(ham), spamMessages, hamMessages) - expected) < 1e-12);
    }

    // Tokens as frequent in both kinds say nothing: the scorer does not even keep them.
    void neutralTokensAreLeftOut()
    {
        const QByteArray both = "X-Common: 1\r\n";
        const SpamScorer scorer = learnedFrom({both + "Subject: gagnez\r\n"}, {both + "Subject: bonjour\r\n"});
        const qsizetype telling = scorer.tokenCount();
        const SpamScorer more = learnedFrom({both + "Subject: gagnez\r\n", both + "Subject: gagnez\r\n"},
                                            {both + "Subject: bonjour\r\n", both + "Subject: bonjour\r\n"});
        QCOMPARE(more.tokenCount(), telling);
        QVERIFY(std::abs(scorer.score(both).value - 0.5) < 1e-9); // only neutral tokens: nothing said
        QVERIFY(scorer.score(both + "Subject: gagnez\r\n").value > 0.5);
    }

    void fisherCombining()
    {
        // Two degrees of freedom: the survival is e^(-x/2).
        for (const double x : {0.5, 3.0, 20.0})
            QVERIFY(std::abs(chiSquareSurvival(x, 2) - std::exp(-x / 2)) < 1e-12);
        QCOMPARE(chiSquareSurvival(0, 10), 1.0);
        QCOMPARE(combine({}).value, 0.5);
        const SpamScore spammy = combine(std::vector<double>(20, 0.99));
        QVERIFY(spammy.value > 0.99);
        QVERIFY(spammy.spamSide < 1e-6);
        QVERIFY(spammy.hamSide > 0.99);
        const SpamScore hammy = combine(std::vector<double>(20, 0.01));
        QVERIFY(hammy.value < 0.01);
        QVERIFY(hammy.hamSide < 1e-6);
        QVERIFY(std::abs(combine({0.99, 0.01}).value - 0.5) < 1e-12); // both ways at once
    }

    void syntheticSpamAndMailSeparate()
    {
        QList<QByteArray> spam, ham;
        for (int n = 0; n < 30; ++n) {
            spam << learningmail::spam(n);
            ham << learningmail::ham(n);
        }
        const SpamScorer scorer = learnedFrom(spam, ham);
        QCOMPARE(scorer.spamLearned(), 30);
        QVERIFY(scorer.tokenCount() > 50);
        // Messages it never learned.
        for (int n = 30; n < 50; ++n) {
            const SpamScore s = scorer.score(learningmail::spam(n));
            const SpamScore h = scorer.score(learningmail::ham(n));
            QVERIFY2(isSuggested(s, scorer) && s.value > 0.9, qPrintable(QString::number(s.value)));
            QVERIFY2(!isSuggested(h, scorer) && h.value < 0.1, qPrintable(QString::number(h.value)));
        }
        // Knowing nothing: 0.5 for all, nothing suggested.
        QCOMPARE(SpamScorer().score(learningmail::spam(0)).value, 0.5);
    }

    void suggestion_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("spamSide");
        QTest::addColumn<double>("hamSide");
        QTest::addColumn<int>("spamLearned");
        QTest::addColumn<int>("hamLearned");
        QTest::addColumn<bool>("suggested");
        QTest::newRow("sure spam") << 0.99 << 1e-9 << 0.99 << 20 << 20 << true;
        QTest::newRow("19 spams learned") << 0.99 << 1e-9 << 0.99 << 19 << 500 << false;
        QTest::newRow("19 legitimate learned") << 0.99 << 1e-9 << 0.99 << 500 << 19 << false;
        QTest::newRow("at the threshold") << 0.9 << 0.2 << 1.0 << 20 << 20 << true;
        QTest::newRow("below it") << 0.89 << 0.2 << 0.98 << 20 << 20 << false;
        QTest::newRow("spam side significant") << 0.8 << 0.04 << 0.64 << 20 << 20 << true;
        QTest::newRow("both sides significant") << 0.5 << 0.01 << 0.01 << 20 << 20 << false;
        QTest::newRow("legitimate") << 0.01 << 1.0 << 0.02 << 20 << 20 << false;
    }
    void suggestion()
    {
        QFETCH(double, value);
        QFETCH(double, spamSide);
        QFETCH(double, hamSide);
        QFETCH(int, spamLearned);
        QFETCH(int, hamLearned);
        QFETCH(bool, suggested);
        QCOMPARE(isSuggested(scoreOf(value, spamSide, hamSide), spamLearned, hamLearned), suggested);
    }

    void explanationInFrench_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("spamLearned");
        QTest::addColumn<QString>("text");
        QTest::newRow("spam") << 0.987 << 25 << QStringLiteral("Spam probable (score 0,98), appris de vos suppressions");
        QTest::newRow("all but certain") << 0.9999 << 25
                                         << QStringLiteral("Spam probable (score 0,99), appris de vos suppressions");
        QTest::newRow("legitimate") << 0.12 << 25
                                    << QStringLiteral("Pas de spam probable (score 0,12), appris de vos suppressions");
        QTest::newRow("cold start") << 0.99 << 3
                                    << QStringLiteral("Score en apprentissage : 3 spams et 25 messages légitimes appris, il "
                                                      "en faut 20 de chaque");
    }
    void explanationInFrench()
    {
        QFETCH(double, value);
        QFETCH(int, spamLearned);
        QFETCH(QString, text);
        QCOMPARE(explanation(scoreOf(value, 0.5, 1.0), spamLearned, 25), text);
    }
};

QTEST_GUILESS_MAIN(SpamScoreTest)
#include "test_spamscore.moc"
