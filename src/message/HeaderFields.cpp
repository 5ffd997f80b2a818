// SPDX-License-Identifier: GPL-3.0-or-later
// The fast header reader: a list row needs four fields of a header block, and reading them here,
// the common way they are written, costs a fraction of building the message with GMime, which
// still reads whatever is written otherwise.
// GMime pulls in GLib/GIO, whose headers use names Qt defines as macros (signals): they come first.
#include <gmime/gmime.h>

#include "message/MailMessage.h"

#include "message/MailMessageDetail.h"
#include "message/MailText.h"

#include <string_view>

using namespace mailmessage::detail;

namespace {
enum class Listed { From, Subject, Date, ContentType };

// The From, Subject, Date and Content-Type fields of a header block, each at its first
// occurrence: what follows the colon, folds and line ends included.
struct ListedFields
{
    bool present[4] = {};
    QByteArrayView value[4];
    qsizetype blockEnd = 0; // where the block ends, its blank line included

    const QByteArrayView *operator[](Listed field) const
    {
        return present[int(field)] ? &value[int(field)] : nullptr;
    }
};

// Whether text starts with word (lower case letters and '-'), letter case aside.
bool startsWithWord(const char *text, std::string_view word)
{
    for (std::size_t i = 0; i < word.size(); ++i)
        if (text[i] != word[i] && (text[i] | 0x20) != word[i])
            return false;
    return true;
}

int listedField(QByteArrayView name)
{
    const auto is = [&](std::string_view known) { return startsWithWord(name.data(), known); };
    switch (name.size()) {
    case 4:
        return is("from") ? int(Listed::From) : is("date") ? int(Listed::Date) : -1;
    case 7:
        return is("subject") ? int(Listed::Subject) : -1;
    case 12:
        return is("content-type") ? int(Listed::ContentType) : -1;
    }
    return -1;
}

// Reads the listed fields of raw in one pass; false when the block holds a line that is
// neither a plain "Name:" field nor a fold, where the parser's own reading of the block decides.
bool listedFields(const QByteArray &raw, ListedFields &out)
{
    const char *const begin = raw.constData();
    const qsizetype size = raw.size();
    bool inField = false;
    int open = -1; // the kept field the folds that follow belong to
    for (qsizetype at = 0; at < size;) {
        const char *line = begin + at;
        const auto *nl = static_cast<const char *>(std::memchr(line, '\n', size_t(size - at)));
        const qsizetype length = (nl ? nl + 1 : begin + size) - line;
        at += length;
        out.blockEnd = at;
        if (length == 1 ? line[0] == '\n' : length == 2 && line[0] == '\r' && line[1] == '\n')
            break; // the body, if any, shows nothing in the list
        if (line[0] == ' ' || line[0] == '\t') {
            if (!inField)
                return false;
            if (open >= 0)
                out.value[open] = QByteArrayView(out.value[open].data(), line + length - out.value[open].data());
            continue;
        }
        const auto *colon = static_cast<const char *>(std::memchr(line, ':', size_t(length)));
        if (!colon || colon == line)
            return false;
        for (const char *c = line; c < colon; ++c)
            if (uchar(*c) <= ' ' || uchar(*c) >= 127)
                return false;
        inField = true;
        open = listedField(QByteArrayView(line, colon - line));
        if (open >= 0 && out.present[open])
            open = -1;
        if (open >= 0) {
            out.present[open] = true;
            out.value[open] = QByteArrayView(colon + 1, line + length - colon - 1);
        }
    }
    return true;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// A field value of plain printable ASCII without folds and, unless allowed, encoded-words: one
// that the parser's unfolding and decoding leave as written.
bool plainValue(QByteArrayView value, bool encodedWords = false)
{
    qsizetype end = value.size();
    if (end > 0 && value[end - 1] == '\n')
        --end;
    if (end > 0 && value[end - 1] == '\r')
        --end;
    const QByteArrayView v = value.first(end);
    for (const char c : v)
        if (uchar(c - 0x20) >= 0x5F && c != '\t')
            return false;
    return encodedWords || mailtext::encodedWordStart(v) < 0;
}

// A plain value without its line end and surrounding blanks.
QByteArrayView plainTrimmed(QByteArrayView value)
{
    qsizetype from = 0, to = value.size();
    while (from < to && (isBlank(value[from]) || value[from] == '\r' || value[from] == '\n'))
        ++from;
    while (to > from && (isBlank(value[to - 1]) || value[to - 1] == '\r' || value[to - 1] == '\n'))
        --to;
    return value.sliced(from, to - from);
}

int digitsAt(QByteArrayView v, qsizetype &at, int count)
{
    int value = 0;
    for (int i = 0; i < count; ++i, ++at) {
        if (at >= v.size() || v[at] < '0' || v[at] > '9')
            return -1;
        value = value * 10 + (v[at] - '0');
    }
    return value;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
qint64 daysFromCivil(int y, int m, int d)
{
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return qint64(era) * 146097 + doe - 719468;
}

// The date of a plain Date value written as mailers write it, "[Day, ]D Mon YYYY HH:MM[:SS]
// +HHMM [(Zone)]", read as the parser reads it; false for any other form, which the parser
// then reads itself (years before 1970, zone names, two-digit years, odd offsets...).
bool commonDate(QByteArrayView value, qint64 &secs)
{
    const QByteArrayView v = plainTrimmed(value);
    qsizetype at = 0;
    const auto blanks = [&] {
        const qsizetype from = at;
        while (at < v.size() && isBlank(v[at]))
            ++at;
        return at > from;
    };
    // A day's name other than the seven makes the parser read the date another way.
    static const char days[] = "montuewedthufrisatsun";
    if (v.size() >= 4 && v[3] == ',') {
        bool named = false;
        for (int d = 0; d < 7 && !named; ++d)
            named = startsWithWord(v.data(), std::string_view(days + 3 * d, 3));
        if (!named)
            return false;
        at = 4;
        blanks();
    }
    int day = digitsAt(v, at, 1);
    if (day >= 0 && at < v.size() && v[at] >= '0' && v[at] <= '9')
        day = day * 10 + (v[at++] - '0');
    if (day < 0 || !blanks() || at + 3 > v.size())
        return false;
    static const char months[] = "janfebmaraprmayjunjulaugsepoctnovdec";
    int month = 0;
    for (int m = 0; m < 12 && !month; ++m)
        if (startsWithWord(v.data() + at, std::string_view(months + 3 * m, 3)))
            month = m + 1;
    at += 3;
    if (!month || !blanks())
        return false;
    const int year = digitsAt(v, at, 4);
    if (year < 1970 || !blanks())
        return false;
    const int hour = digitsAt(v, at, 2);
    if (hour < 0 || hour > 23 || at >= v.size() || v[at++] != ':')
        return false;
    const int minute = digitsAt(v, at, 2);
    if (minute < 0 || minute > 59)
        return false;
    int second = 0;
    if (at < v.size() && v[at] == ':') {
        ++at;
        second = digitsAt(v, at, 2);
        if (second < 0 || second > 59)
            return false;
    }
    if (!blanks() || at >= v.size() || (v[at] != '+' && v[at] != '-'))
        return false;
    const int sign = v[at++] == '-' ? -1 : 1;
    const int zoneHours = digitsAt(v, at, 2);
    const int zoneMinutes = digitsAt(v, at, 2);
    if (zoneHours < 0 || zoneHours > 23 || zoneMinutes < 0 || zoneMinutes > 59)
        return false;
    if (at < v.size()) {
        // A zone's name as a comment, nothing else.
        if (!blanks() || at >= v.size() || v[at] != '(' || v.back() != ')')
            return false;
        for (qsizetype i = at + 1; i + 1 < v.size(); ++i)
            if (v[i] == '(' || v[i] == ')' || v[i] == '\\')
                return false;
    }
    static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    if (day < 1 || day > lengths[month - 1] + (month == 2 && leap))
        return false;
    secs = daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second
           - sign * (zoneHours * 3600 + zoneMinutes * 60);
    return true;
}

bool isAtext(char c)
{
    static constexpr auto table = [] {
        std::array<bool, 128> t{};
        for (int c = 0; c < 128; ++c)
            t[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        for (const char c : std::string_view("!#$%&'*+-/=?^_`{|}~"))
            t[uchar(c)] = true;
        return t;
    }();
    return uchar(c) < 128 && table[uchar(c)];
}

// An address written as mailers write it, "local@domain" with dot-atoms and a host name of
// letters, digits and hyphens (no internationalised label, which the parser decodes), and no
// encoded-word.
bool commonAddress(QByteArrayView a)
{
    const qsizetype atSign = a.indexOf('@');
    if (atSign <= 0 || atSign + 1 >= a.size() || mailtext::encodedWordStart(a) >= 0)
        return false;
    bool dot = true; // at the start of an atom
    for (qsizetype i = 0; i < atSign; ++i) {
        if (a[i] == '.') {
            if (dot)
                return false;
            dot = true;
        } else if (isAtext(a[i])) {
            dot = false;
        } else {
            return false;
        }
    }
    if (dot)
        return false;
    for (qsizetype i = atSign + 1; i < a.size(); ++i) {
        const char c = a[i];
        if (c == '.') {
            if (dot)
                return false;
            dot = true;
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-') {
            if ((dot || i == atSign + 1) && a.size() - i >= 4 && startsWithWord(a.data() + i, "xn--"))
                return false;
            dot = false;
        } else {
            return false;
        }
    }
    return !dot;
}

// The sender's address of a plain From value written as mailers write it: an address alone,
// or a name of plain words (encoded-words included) and quoted strings followed by the address
// in angle brackets. Empty for any other form, which the parser then reads itself.
QByteArrayView commonSender(QByteArrayView value)
{
    const QByteArrayView v = plainTrimmed(value);
    if (!v.endsWith('>'))
        return commonAddress(v) ? v : QByteArrayView();
    const qsizetype open = v.lastIndexOf('<');
    if (open < 0)
        return {};
    bool quoted = false;
    for (qsizetype i = 0; i < open; ++i) {
        const char c = v[i];
        if (c == '"')
            quoted = !quoted;
        else if (c == '\\' || (!quoted && !isAtext(c) && c != '.' && !isBlank(c)))
            return {};
    }
    const QByteArrayView address = v.sliced(open + 1, v.size() - open - 2);
    return !quoted && commonAddress(address) ? address : QByteArrayView();
}

// What typeAsWritten() gives of a plain Content-Type value.
QString plainType(QByteArrayView value)
{
    QString out(value.size(), Qt::Uninitialized);
    QChar *kept = out.data();
    int comment = 0;
    for (const char c : value) {
        if (c == ';')
            break;
        if (c == '(')
            ++comment;
        else if (c == ')' && comment > 0)
            --comment;
        else if (comment == 0 && !isBlank(c) && c != '\r' && c != '\n')
            *kept++ = QLatin1Char(c);
    }
    out.truncate(kept - out.constData());
    return out;
}

} // namespace

MailMessage MailMessage::parseListFields(const QByteArray &block)
{
    const QByteArray raw = headerWithoutNuls(block);
    ListedFields fields;
    if (!listedFields(raw, fields))
        return parse(raw, true);
    // Read as the message parser's are, without building the message, which costs several
    // times more: each field at its first occurrence; values written the common way are read
    // here, the others through the parser's own functions.
    const QByteArrayView *from = fields[Listed::From];
    const QByteArrayView *subject = fields[Listed::Subject];
    const QByteArrayView *type = fields[Listed::ContentType];
    const QByteArrayView *date = fields[Listed::Date];
    QByteArray charset;
    if ((from && mailtext::needsCharset(*from)) || (subject && mailtext::needsCharset(*subject))) {
        // The text that declares it may be a part of the body: the message decides.
        if (raw.size() > fields.blockEnd)
            return parse(raw, true);
        if (type) {
            const GPtr<GMimeContentType> parsed(g_mime_content_type_parse(parserOptions(), decodedValue(*type).get()));
            charset = g_mime_content_type_get_parameter(parsed.get(), "charset");
        }
    }
    MailMessage mail;
    if (from) {
        const QByteArrayView common = plainValue(*from, true) ? commonSender(*from) : QByteArrayView();
        if (!common.isEmpty()) {
            mail.m_senderAddress = QString::fromLatin1(common);
        } else {
            const QByteArray field = from->toByteArray();
            const GPtr<InternetAddressList> list(internet_address_list_parse(parserOptions(), field.constData()));
            // A list that parses only in part gives nothing here, where the message keeps the
            // part that parsed: the message decides.
            if (!list)
                return parse(raw, true);
            InternetAddressMailbox *sender = firstMailbox(list.get());
            mail.setSender(sender ? internet_address_mailbox_get_addr(sender) : nullptr, field, charset);
        }
    }
    if (subject)
        mail.m_subject = visibleText(mailtext::headerText(*subject, charset));
    if (date) {
        if (plainValue(*date) && commonDate(*date, mail.m_dateSecs)) {
            mail.m_dated = true;
        } else if (GDateTime *when = g_mime_utils_header_decode_date(decodedValue(*date).get())) {
            mail.m_dateSecs = g_date_time_to_unix(when);
            mail.m_dated = true;
            g_date_time_unref(when);
        }
    }
    if (type)
        mail.m_contentType = plainValue(*type) ? plainType(*type) : typeAsWritten(decodedValue(*type).get());
    return mail;
}
