// SPDX-License-Identifier: GPL-3.0-or-later
#include "learning/SpamScore.h"

#include <QLocale>
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>

namespace learning {

double tokenProbability(quint32 spam, quint32 ham, int spamMessages, int hamMessages, const ScoreSettings &settings)
{
    // p(w): the share of spam among messages holding w, each kind weighed by how much of it was
    // learned, so that learning more of one kind does not shift every token towards it.
    const double spamRatio = spamMessages > 0 ? std::min(1.0, double(spam) / spamMessages) : 0.0;
    const double hamRatio = hamMessages > 0 ? std::min(1.0, double(ham) / hamMessages) : 0.0;
    const double n = double(spam) + double(ham);
    if (spamRatio + hamRatio <= 0)
        return settings.assumed;
    const double p = spamRatio / (spamRatio + hamRatio);
    return (settings.strength * settings.assumed + n * p) / (settings.strength + n);
}

double chiSquareSurvival(double chi2, int degreesOfFreedom)
{
    // For even degrees of freedom 2k the survival is a Poisson sum:
    // e^-m (1 + m + m^2/2! + ... + m^(k-1)/(k-1)!), with m = chi2/2.
    if (chi2 <= 0 || degreesOfFreedom < 2)
        return 1.0;
    const double m = chi2 / 2;
    double term = std::exp(-m);
    double sum = term;
    for (int i = 1; i < degreesOfFreedom / 2; ++i) {
        term *= m / i;
        sum += term;
        if (i > m && term < sum * 1e-16)
            break; // the terms only get smaller
    }
    return std::min(sum, 1.0);
}

namespace {

// Both chi-square sums of one message at once: their terms do not depend on each other, so the
// processor runs the two loops side by side.
SpamScore fisher(double sumLnF, double sumLn1MinusF, int n)
{
    SpamScore score;
    if (n == 0)
        return score;
    const double mHam = -sumLnF;         // -2 ln prod f(w), halved
    const double mSpam = -sumLn1MinusF;  // -2 ln prod (1 - f(w)), halved
    // 1/i, so that the loop multiplies only.
    static constexpr auto kInverse = [] {
        std::array<double, TokenSet::kMaxTokens + 1> t{};
        for (std::size_t i = 1; i < t.size(); ++i)
            t[i] = 1.0 / double(i);
        return t;
    }();
    n = std::min(n, TokenSet::kMaxTokens);
    double termHam = std::exp(-mHam), termSpam = std::exp(-mSpam);
    double sumHam = termHam, sumSpam = termSpam;
    for (int i = 1; i < n; ++i) {
        const double inverse = kInverse[std::size_t(i)];
        termHam *= mHam * inverse;
        termSpam *= mSpam * inverse;
        sumHam += termHam;
        sumSpam += termSpam;
        if (i > mHam && i > mSpam && termHam < sumHam * 1e-16 && termSpam < sumSpam * 1e-16)
            break; // the terms only get smaller
    }
    score.hamSide = std::min(sumHam, 1.0);   // small when the f(w) are near 0
    score.spamSide = std::min(sumSpam, 1.0); // small when the f(w) are near 1
    score.value = (1.0 + score.hamSide - score.spamSide) / 2.0;
    return score;
}

} // namespace

SpamScore combine(const std::vector<double> &probabilities)
{
    double lnF = 0, ln1MinusF = 0;
    for (const double f : probabilities) {
        lnF += std::log(f);
        ln1MinusF += std::log1p(-f);
    }
    return fisher(lnF, ln1MinusF, int(probabilities.size()));
}

SpamScorer::SpamScorer(int spamMessages, int hamMessages, const std::vector<TokenCount> &counts,
                       const ScoreSettings &settings)
    : m_spam(spamMessages), m_ham(hamMessages)
{
    std::vector<Slot> kept;
    kept.reserve(counts.size());
    for (const TokenCount &c : counts) {
        const double f = tokenProbability(c.spam, c.ham, spamMessages, hamMessages, settings);
        if (std::abs(f - 0.5) < settings.minimumDeviation || c.token == 0)
            continue;
        kept.push_back({c.token, float(std::log(f)), float(std::log1p(-f))});
    }
    // Half full at most: a token is most often found, or known missing, in the first two
    // slots it may take.
    const std::size_t size = std::bit_ceil(std::max<std::size_t>(16, kept.size() * 2));
    m_slots.assign(size, Slot{0, 0, 0});
    m_mask = size - 1;
    for (const Slot &s : kept) {
        quint64 i = s.token & m_mask;
        while (m_slots[i].token && m_slots[i].token != s.token)
            i = (i + 1) & m_mask;
        m_used += m_slots[i].token == 0;
        m_slots[i] = s;
    }
}

SpamScore SpamScorer::score(QByteArrayView header) const
{
    if (m_used == 0)
        return {};
    thread_local TokenSet tokens;
    headerTokens(header, tokens);
    return score(tokens);
}

SpamScore SpamScorer::score(const TokenSet &tokens) const
{
    if (m_used == 0)
        return {};
    double lnF = 0, ln1MinusF = 0;
    int n = 0;
    const Slot *table = m_slots.data();
    for (const Token t : tokens) {
        // The first two slots without branching on what they hold (whether a header's tokens
        // were learned is anyone's guess); the rest of the probe only past two taken slots.
        const quint64 i = t & m_mask;
        const Slot &a = table[i];
        const Slot &b = table[(i + 1) & m_mask];
        const bool inA = a.token == t;
        const bool inB = !inA && a.token != 0 && b.token == t;
        lnF += inA ? a.lnF : inB ? b.lnF : 0.0f;
        ln1MinusF += inA ? a.ln1MinusF : inB ? b.ln1MinusF : 0.0f;
        n += inA || inB;
        if (!inA && !inB && a.token != 0 && b.token != 0) [[unlikely]] {
            for (quint64 j = (i + 2) & m_mask; table[j].token; j = (j + 1) & m_mask)
                if (table[j].token == t) {
                    lnF += table[j].lnF;
                    ln1MinusF += table[j].ln1MinusF;
                    ++n;
                    break;
                }
        }
    }
    return fisher(lnF, ln1MinusF, n);
}

void SpamScorer::setLearnedMessages(std::vector<Token> spam, std::vector<Token> ham)
{
    std::sort(spam.begin(), spam.end());
    std::sort(ham.begin(), ham.end());
    m_spamIds = std::move(spam);
    m_hamIds = std::move(ham);
    // Sixteen bits an id: a row never learned finds its bit taken once in some sixteen.
    const std::size_t bits = std::bit_ceil(std::max<std::size_t>(64, (m_spamIds.size() + m_hamIds.size()) * 16));
    m_learnedBits.assign(bits / 64, 0);
    for (const std::vector<Token> *ids : {&m_spamIds, &m_hamIds})
        for (const Token t : *ids)
            m_learnedBits[(t / 64) & (m_learnedBits.size() - 1)] |= quint64(1) << (t & 63);
}

std::optional<Verdict> SpamScorer::learnedAs(QByteArrayView id) const
{
    if (m_learnedBits.empty())
        return std::nullopt;
    const Token key = hashBytes(id);
    if (!(m_learnedBits[(key / 64) & (m_learnedBits.size() - 1)] & (quint64(1) << (key & 63))))
        return std::nullopt;
    if (std::binary_search(m_spamIds.begin(), m_spamIds.end(), key))
        return Verdict::Spam;
    if (std::binary_search(m_hamIds.begin(), m_hamIds.end(), key))
        return Verdict::Ham;
    return std::nullopt;
}

bool isSuggested(const SpamScore &score, int spamLearned, int hamLearned)
{
    if (spamLearned < kColdStartMessages || hamLearned < kColdStartMessages)
        return false;
    return score.value >= kSuggestionThreshold || (score.spamSide <= kSignificance && score.hamSide > kSignificance);
}

QString explanation(const SpamScore &score, int spamLearned, int hamLearned)
{
    if (spamLearned < kColdStartMessages || hamLearned < kColdStartMessages)
        return QStringLiteral("Score en apprentissage : %1 spams et %2 messages légitimes appris, il en faut %3 de "
                              "chaque")
            .arg(spamLearned)
            .arg(hamLearned)
            .arg(kColdStartMessages);
    // Cut, not rounded, so that 0,999 never reads as a certainty.
    const QString shown =
        QLocale(QLocale::French).toString(std::floor(std::clamp(score.value, 0.0, 1.0) * 100) / 100, 'f', 2);
    if (isSuggested(score, spamLearned, hamLearned))
        return QStringLiteral("Spam probable (score %1), appris de vos suppressions").arg(shown);
    return QStringLiteral("Pas de spam probable (score %1), appris de vos suppressions").arg(shown);
}

} // namespace learning
