// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// The unique ids of a mailbox's messages by number (POP3's UIDL, IMAP's UIDs), as their bytes
// in one buffer: a hundred thousand ids as QStrings took four times the memory, and a scan
// held them twice while it handed them over. Copies share the buffer until one changes.
// Number 0, numbers past size() and numbers not listed have an empty id.
class MessageIds
{
public:
    // Numbers 0..n - 1; the ids of numbers kept stay.
    void resize(qsizetype n) { m_places.resize(n); }
    qsizetype size() const { return m_places.size(); }
    // The id of number n as its bytes, valid while this is unchanged.
    QByteArrayView bytes(qsizetype n) const
    {
        if (n < 0 || n >= m_places.size())
            return {};
        const quint64 place = m_places[n];
        return QByteArrayView(m_text.constData() + (place >> 32), qsizetype(place & 0xffffffffu));
    }
    QString at(qsizetype n) const { return QString::fromUtf8(bytes(n)); }
    QString operator[](qsizetype n) const { return at(n); }
    bool has(qsizetype n) const { return !bytes(n).isEmpty(); }
    // Sets the id of number n (growing the list to it); an empty id clears it. A number set
    // again leaves its former bytes unused in the buffer.
    void set(qsizetype n, QByteArrayView id);
    // Drops the ids of numbers from n on.
    void truncate(qsizetype n)
    {
        if (n < m_places.size())
            m_places.resize(n);
    }
    void reserve(qsizetype count, qsizetype bytes)
    {
        m_places.reserve(count);
        m_text.reserve(bytes);
    }

private:
    QByteArray m_text;
    QList<quint64> m_places; // where each id starts in m_text (high half) and its length
};
