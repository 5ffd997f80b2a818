// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/MessageIds.h"

void MessageIds::set(qsizetype n, QByteArrayView id)
{
    if (n < 0)
        return;
    if (n >= m_places.size()) {
        if (id.isEmpty())
            return;
        m_places.resize(n + 1);
    }
    // Past 4 GB of ids (never in a listing the sessions accept) an id would not be found again.
    if (id.isEmpty() || quint64(m_text.size()) + quint64(id.size()) > 0xffffffffu) {
        m_places[n] = 0;
        return;
    }
    m_places[n] = (quint64(m_text.size()) << 32) | quint64(id.size());
    m_text.append(id);
}
