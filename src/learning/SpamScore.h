// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArrayView>
#include <QString>
#include <optional>
#include <vector>

#include "learning/HeaderTokens.h"

// The learned score of a header block, as Gary Robinson describes it ("A statistical approach
// to the spam problem", 2003): each token's spam probability estimated from how many learned
// spams and legitimate messages held it, pulled towards 0.5 while it has been seen little; the
// tokens' probabilities combined with Fisher's method (the chi-square of -2 ln of their
// product), once for the spam side and once for the legitimate side.
namespace learning {

enum class Verdict { Ham = 0, Spam = 1 };

// How many learned messages of each kind held a token.
struct TokenCount
{
    Token token = 0;
    quint32 spam = 0;
    quint32 ham = 0;
};

// The constants of the method.
struct ScoreSettings
{
    // Robinson's s and x: how much the assumed probability x of a token seen little weighs,
    // as a count of messages.
    double strength = 0.45;
    double assumed = 0.5;
    // Tokens whose probability is within this of 0.5 say nothing and are left out.
    double minimumDeviation = 0.1;
};

// Robinson's f(w) for a token held by spam of spamMessages learned spams and by ham of
// hamMessages learned legitimate messages.
double tokenProbability(quint32 spam, quint32 ham, int spamMessages, int hamMessages,
                        const ScoreSettings &settings = {});

// The probability that a chi-square variable with degreesOfFreedom (even) degrees of freedom
// exceeds chi2.
double chiSquareSurvival(double chi2, int degreesOfFreedom);

// What the tokens of a message say, by Fisher's method applied to each side.
struct SpamScore
{
    // Robinson's indicator I = (1 + H - S) / 2: near 1 for spam, near 0 for legitimate mail,
    // 0.5 when the tokens say nothing or say both.
    double value = 0.5;
    // S: the chance of tokens this spammy if they said nothing (small: significant spam evidence).
    double spamSide = 1.0;
    // H: the same for legitimate evidence.
    double hamSide = 1.0;
};

// The score of a message from the probabilities f(w) of its tokens.
SpamScore combine(const std::vector<double> &probabilities);

// What was learned, held in memory for the scoring of a scan: built once (from the learned
// store), then only read, by any number of threads.
class SpamScorer
{
public:
    // Knows nothing: every score is 0.5 and nothing is suggested.
    SpamScorer() = default;
    SpamScorer(int spamMessages, int hamMessages, const std::vector<TokenCount> &counts,
               const ScoreSettings &settings = {});

    // The score of a header block (see headerTokens), or of its tokens read already.
    SpamScore score(QByteArrayView header) const;
    SpamScore score(const TokenSet &tokens) const;

    // Which way the message of this id (Lesson::id) had been learned when the scorer was loaded:
    // a scan then keeps back only what would change the store.
    std::optional<Verdict> learnedAs(QByteArrayView id) const;
    // The learned messages, by the hash of their id (hashBytes(Lesson::id)).
    void setLearnedMessages(std::vector<Token> spam, std::vector<Token> ham);

    int spamLearned() const { return m_spam; }
    int hamLearned() const { return m_ham; }
    // Tokens kept (those that say something), and the bytes they take.
    qsizetype tokenCount() const { return m_used; }
    qsizetype memoryBytes() const
    {
        return qsizetype(m_slots.size() * sizeof(Slot) + (m_spamIds.size() + m_hamIds.size()) * sizeof(Token)
                         + m_learnedBits.size() * sizeof(quint64));
    }

private:
    struct Slot
    {
        Token token;
        float lnF;       // ln f(w)
        float ln1MinusF; // ln (1 - f(w))
    };
    std::vector<Slot> m_slots; // open addressing, a power of two in size
    quint64 m_mask = 0;
    qsizetype m_used = 0;
    std::vector<Token> m_spamIds, m_hamIds; // sorted
    // A bit for each learned id's hash, by its low bits: a scan asks about every row, and
    // nearly all were never learned, which one load then tells.
    std::vector<quint64> m_learnedBits;
    int m_spam = 0;
    int m_ham = 0;
};

// Nothing is suggested before the score has learned this many of each kind.
inline constexpr int kColdStartMessages = 20;
// A message is suggested as spam when its indicator reaches kSuggestionThreshold, or when its
// spam evidence alone is significant at kSignificance while its legitimate evidence is not:
// the indicator stays in the middle for spam that also carries much that legitimate mail has
// (spam sent through a mailing list the user reads, say).
inline constexpr double kSuggestionThreshold = 0.9;
inline constexpr double kSignificance = 0.05;

// Whether a row with this score is suggested for deletion, once enough was learned.
bool isSuggested(const SpamScore &score, int spamLearned, int hamLearned);
inline bool isSuggested(const SpamScore &score, const SpamScorer &scorer)
{
    return isSuggested(score, scorer.spamLearned(), scorer.hamLearned());
}

// The tip that tells why (or why not) a row is suggested, in French: "Spam probable (score
// 0,98), appris de vos suppressions"; before the cold start is over, how much is left to learn.
QString explanation(const SpamScore &score, int spamLearned, int hamLearned);

} // namespace learning
