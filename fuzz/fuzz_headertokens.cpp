// SPDX-License-Identifier: GPL-3.0-or-later
// A header block as a server sends it, read for the learned score: its tokens and its id, alone
// and as a scan reads them (the id in the tokens' pass, several rows at once). The bytes are the
// fuzzer's own buffer, so that a read past their end is caught.
#include "FuzzCheck.h"
#include "learning/HeaderTokens.h"
#include "learning/SpamScore.h"
#include "mailbox/RowScores.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView header(reinterpret_cast<const char *>(data), qsizetype(size));
    learning::TokenSet tokens;
    learning::headerTokens(header, tokens);
    FUZZ_CHECK(tokens.size() <= learning::TokenSet::kMaxTokens);
    std::vector<learning::Token> read(tokens.begin(), tokens.end());
    const quint64 id = learning::headerIdValue(header);

    // A scan's rows: the same block in every place of a group, and a short one between.
    static const learning::SpamScorer scorer(20, 20, {{learning::hashBytes("s:gratuit"), 3, 1}});
    const QByteArray raw = QByteArray::fromRawData(header.data(), header.size());
    RowScoring scoring(scorer, 7);
    for (int row = 1; row <= 6; ++row)
        scoring.add(row, row == 3 ? QByteArray("A: b\r\n") : raw);
    const std::unique_ptr<RowScores> rows = scoring.finish();
    std::sort(read.begin(), read.end());
    for (int row = 1; row <= 6; ++row) {
        if (row == 3)
            continue;
        FUZZ_CHECK(rows->row(row) && rows->row(row)->id == id);
        std::vector<learning::Token> kept = rows->tokensOf(row);
        std::sort(kept.begin(), kept.end());
        FUZZ_CHECK(kept == read);
    }
    return 0;
}
