// SPDX-License-Identifier: GPL-3.0-or-later
// GMime pulls in GLib/GIO, whose headers use names Qt defines as macros (signals):
// they come first.
#include <gmime/gmime.h>

#include "message/MailMessage.h"

#include "core/Ansi.h"
#include "message/MailMessageDetail.h"
#include "message/MailText.h"

#include <QRegularExpression>
#include <QSaveFile>
#include <QUrl>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

// The message parse's helpers; those the fast header reader shares are declared in
// MailMessageDetail.h.
namespace mailmessage {
namespace detail {


// One set of options for every parse; g_mime_init runs once, before the first parse.
GMimeParserOptions *parserOptions()
{
    static GMimeParserOptions *const options = [] {
        g_mime_init();
        GMimeParserOptions *o = g_mime_parser_options_new();
        // Raw 8-bit headers: UTF-8 when they are valid UTF-8, else the code page most
        // unlabelled Western mail is written in.
        const char *fallback[] = {"UTF-8", "windows-1252", nullptr};
        g_mime_parser_options_set_fallback_charsets(o, fallback);
        g_mime_parser_options_set_rfc2047_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_address_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_parameter_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_allow_addresses_without_domain(o, TRUE);
        return o;
    }();
    return options;
}

QString fromUtf8(const char *text)
{
    return text ? QString::fromUtf8(text) : QString();
}

// GMime reads header fields as C strings, where a NUL would end the field (and hide the rest
// of a sender). In the header block a NUL becomes SUB, a control character like the others,
// which the texts then show as U+FFFD.
QByteArray headerWithoutNuls(const QByteArray &raw)
{
    const qsizetype nul = raw.indexOf('\0');
    if (nul < 0)
        return raw;
    qsizetype end = raw.size();
    for (const char *blank : {"\n\n", "\n\r\n"})
        if (const qsizetype at = raw.indexOf(blank); at >= 0)
            end = std::min(end, at);
    if (raw.startsWith('\n') || raw.startsWith("\r\n"))
        end = 0;
    if (nul >= end)
        return raw;
    QByteArray copy = raw;
    for (qsizetype i = nul; i < end; ++i)
        if (copy[i] == '\0')
            copy[i] = '\x1A';
    return copy;
}

// C1 control characters never belong in a subject or a name: they come from Windows-1252
// text labelled ISO-8859-1 ("=?iso-8859-1?Q?=80?="), so read them as Windows-1252 does.
QString fixC1(QString text)
{
    for (QChar &c : text)
        if (c.unicode() >= 0x80 && c.unicode() <= 0x9F)
            c = ansi::toUnicode(QByteArray(1, char(c.unicode()))).at(0);
    return text;
}

// Header text for the screen: C1 read as Windows-1252 (fixC1), then every control character
// left, which would steer a terminal or hide in a list cell, shown as U+FFFD. A TAB, which
// folded headers keep, is shown as the blank it stands for.
QString visibleText(QString text)
{
    const auto control = [](char16_t u) { return u < 0x20 || (u >= 0x7F && u <= 0x9F); };
    // Most texts hold none: they are left as they are, not copied.
    const auto first = std::find_if(text.cbegin(), text.cend(), [&](QChar c) { return control(c.unicode()); });
    if (first == text.cend())
        return text;
    // Counted before begin(), which copies a shared text: first points into the shared one.
    const qsizetype from = first - text.cbegin();
    for (auto c = text.begin() + from; c != text.end(); ++c) {
        char16_t u = c->unicode();
        if (u >= 0x80 && u <= 0x9F)
            u = ansi::toUnicode(QByteArray(1, char(u))).at(0).unicode();
        if (u == u'\t')
            *c = QLatin1Char(' ');
        else if (control(u))
            *c = QChar::ReplacementCharacter;
        else
            *c = QChar(u);
    }
    return text;
}

// Transfer-decoded content of a leaf (base64, quoted-printable, uuencode...).
QByteArray decodedContent(GMimePart *part)
{
    GMimeDataWrapper *wrapper = g_mime_part_get_content(part);
    if (!wrapper)
        return {};
    GPtr<GMimeStream> memory(g_mime_stream_mem_new());
    if (g_mime_data_wrapper_write_to_stream(wrapper, memory.get()) < 0)
        return {};
    GByteArray *bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memory.get()));
    return QByteArray(reinterpret_cast<const char *>(bytes->data), qsizetype(bytes->len));
}

// Text for a memo or a page: LF line ends, no NULs (spam has them; text widgets don't).
// NULs go first and every CR before a line end with them, so that "\r\0\n" or "\r\r\n"
// leaves no CR LF behind. Other control characters show where they stand, as in headers:
// C1 read as Windows-1252 where it can be, the rest U+FFFD; TAB, LF and CR stay.
QString normalizeText(QString text)
{
    text.remove(QChar(0));
    static const QRegularExpression crsBeforeLf(QStringLiteral("\r+\n"));
    text.replace(crsBeforeLf, QStringLiteral("\n"));
    text = fixC1(std::move(text));
    for (QChar &c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\t' && u != u'\n' && u != u'\r') || (u >= 0x7F && u <= 0x9F))
            c = QChar::ReplacementCharacter;
    }
    return text;
}

// A file name the callers can join to a folder: no folder part (so no "../"), no control
// characters (the C1 ones Windows-1252 does not read included).
QString bareFileName(const QString &name)
{
    QString clean;
    clean.reserve(name.size());
    for (QChar c : fixC1(name))
        if (c.unicode() >= 0x20 && (c.unicode() < 0x7F || c.unicode() > 0x9F))
            clean.append(c);
    const qsizetype slash = std::max(clean.lastIndexOf(QLatin1Char('/')), clean.lastIndexOf(QLatin1Char('\\')));
    clean = clean.mid(slash + 1).trimmed();
    if (clean == QLatin1String(".") || clean == QLatin1String(".."))
        return {};
    return clean;
}

// A file name made from a forwarded mail's subject: control characters (C0, DEL, C1) and
// the characters that file systems or the attachment name list ("|") do not take become "_".
QString fileNameFromSubject(const QString &subject)
{
    QString name = subject.simplified();
    for (QChar &c : name)
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F)
            || QStringLiteral("/\\|:*?\"<>").contains(c))
            c = QLatin1Char('_');
    name.truncate(100);
    name = name.trimmed();
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        name.prepend(QLatin1String("message"));
    return name + QLatin1String(".eml");
}

QString mediaType(GMimeObject *object)
{
    GMimeContentType *type = g_mime_object_get_content_type(object);
    if (!type)
        return {};
    return fromUtf8(g_mime_content_type_get_media_type(type)) + QLatin1Char('/')
           + fromUtf8(g_mime_content_type_get_media_subtype(type));
}

// Content-Type header value reduced to type/subtype as written: parameters and comments
// dropped, folding whitespace removed.
QString typeAsWritten(const char *value)
{
    const QString type = fromUtf8(value).section(QLatin1Char(';'), 0, 0);
    QString out;
    int comment = 0;
    for (QChar c : type) {
        if (c == QLatin1Char('('))
            ++comment;
        else if (c == QLatin1Char(')') && comment > 0)
            --comment;
        else if (comment == 0 && !c.isSpace())
            out.append(c);
    }
    return out;
}

// The value of the first field of that name as written, after its colon, folds included; the
// message's own fields and its top-level part's (GMime files the Content-* fields there).
const char *rawField(GMimeObject *object, GMimeObject *body, const char *name)
{
    for (GMimeObject *o : {object, body}) {
        GMimeHeaderList *list = o ? g_mime_object_get_header_list(o) : nullptr;
        const int count = list ? g_mime_header_list_get_count(list) : 0;
        for (int i = 0; i < count; ++i) {
            GMimeHeader *header = g_mime_header_list_get_header_at(list, i);
            if (g_ascii_strcasecmp(g_mime_header_get_name(header), name) == 0)
                return g_mime_header_get_raw_value(header);
        }
    }
    return nullptr;
}

// The first word of a Content-Type or Content-Disposition value ("attachment", "text/plain"),
// up to the blank or ';' after it.
QByteArrayView firstWord(const char *value)
{
    QByteArrayView v = value ? QByteArrayView(value).trimmed() : QByteArrayView();
    const auto end = std::find_if(v.begin(), v.end(), [](char c) { return c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
    return v.first(end - v.begin());
}

// The parameters of such a value from their ';', or after the first word when the sender left
// the ';' out ("attachment filename=\"x.txt\""), as mail readers take them.
QByteArray parameters(const char *value)
{
    if (const char *semicolon = std::strchr(value, ';'))
        return semicolon;
    const QByteArrayView word = firstWord(value);
    const QByteArrayView rest(word.data() + word.size());
    return rest.trimmed().isEmpty() ? QByteArray() : ';' + rest.toByteArray();
}

// A part's file name: the filename of its Content-Disposition, else the name of its
// Content-Type, whatever the type (GMime drops the parameters of a type it cannot read).
// Read from the fields as written, their encoded-words decoded as a subject's.
QString partFileName(GMimeObject *object)
{
    for (const auto &[field, parameter] : {std::pair{"Content-Disposition", "filename"}, std::pair{"Content-Type", "name"}}) {
        const char *value = rawField(object, nullptr, field);
        const QByteArray written = value ? parameters(value) : QByteArray();
        if (written.isEmpty())
            continue;
        const GPtr<GMimeParamList> list(g_mime_param_list_parse(parserOptions(), mailtext::forParser(written).constData()));
        GMimeParam *param = list ? g_mime_param_list_get_parameter(list.get(), parameter) : nullptr;
        if (const char *name = param ? g_mime_param_get_value(param) : nullptr)
            return bareFileName(fromUtf8(name));
    }
    return {};
}

MailPart messagePart(GMimeMessagePart *part)
{
    MailPart result;
    result.kind = MailPart::Attachment;
    GMimeObject *object = GMIME_OBJECT(part);
    result.contentType = mediaType(object);
    result.contentId = fromUtf8(g_mime_object_get_content_id(object));
    result.fileName = partFileName(object);
    GMimeMessage *inner = g_mime_message_part_get_message(part);
    if (inner) {
        GMimeFormatOptions *format = g_mime_format_options_new();
        g_mime_format_options_set_newline_format(format, GMIME_NEWLINE_FORMAT_DOS);
        GPtr<GMimeStream> memory(g_mime_stream_mem_new());
        if (g_mime_object_write_to_stream(GMIME_OBJECT(inner), format, memory.get()) >= 0) {
            GByteArray *bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memory.get()));
            result.content = QByteArray(reinterpret_cast<const char *>(bytes->data), qsizetype(bytes->len));
        }
        g_mime_format_options_free(format);
    }
    if (result.fileName.isEmpty()) {
        const char *subject = inner ? rawField(GMIME_OBJECT(inner), nullptr, "Subject") : nullptr;
        result.fileName = fileNameFromSubject(subject ? fixC1(mailtext::headerText(subject)) : QString());
    }
    return result;
}

MailPart leafPart(GMimePart *part)
{
    GMimeObject *object = GMIME_OBJECT(part);
    MailPart result;
    result.contentType = mediaType(object);
    result.contentId = fromUtf8(g_mime_object_get_content_id(object));
    const QString name = partFileName(object);
    // GMime reads "attachment filename=…" without its ';' as one word.
    const bool attachedAsFile = firstWord(g_mime_object_get_disposition(object)).compare("attachment", Qt::CaseInsensitive) == 0;
    GMimeContentType *type = g_mime_object_get_content_type(object);
    // A Content-Type that cannot be read (GMime then says application/octet-stream) is
    // text/plain; charset=us-ascii (RFC 2045 5.2).
    const char *written = rawField(object, nullptr, "Content-Type");
    const bool unreadable = written && result.contentType.compare(QLatin1String("application/octet-stream"), Qt::CaseInsensitive) == 0
                            && typeAsWritten(written).compare(result.contentType, Qt::CaseInsensitive) != 0;
    if (unreadable)
        result.contentType = QStringLiteral("text/plain");
    const bool isText = unreadable || (type && g_ascii_strcasecmp(g_mime_content_type_get_media_type(type), "text") == 0);
    const QByteArray content = decodedContent(part);
    if (isText && name.isEmpty() && !attachedAsFile) {
        result.kind = MailPart::Text;
        const char *charset = unreadable ? "us-ascii" : g_mime_object_get_content_type_parameter(object, "charset");
        result.text = normalizeText(mailtext::decode(content, charset));
    } else {
        result.kind = MailPart::Attachment;
        result.fileName = name;
        result.content = content;
    }
    return result;
}

// Leaves of the tree, depth first. The depth limit only guards against hostile nesting.
void collectParts(GMimeObject *object, QList<MailPart> &parts, int depth = 0)
{
    if (!object || depth > 64)
        return;
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart *multipart = GMIME_MULTIPART(object);
        const int count = g_mime_multipart_get_count(multipart);
        for (int i = 0; i < count; ++i)
            collectParts(g_mime_multipart_get_part(multipart, i), parts, depth + 1);
    } else if (GMIME_IS_MESSAGE_PART(object)) {
        parts.append(messagePart(GMIME_MESSAGE_PART(object)));
    } else if (GMIME_IS_PART(object)) {
        parts.append(leafPart(GMIME_PART(object)));
    }
}

InternetAddressMailbox *firstMailbox(InternetAddressList *list, int depth)
{
    if (!list || depth > 8)
        return nullptr;
    const int count = internet_address_list_length(list);
    for (int i = 0; i < count; ++i) {
        InternetAddress *address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_MAILBOX(address))
            return INTERNET_ADDRESS_MAILBOX(address);
        if (INTERNET_ADDRESS_IS_GROUP(address))
            if (auto *member = firstMailbox(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)), depth + 1))
                return member;
    }
    return nullptr;
}

void collectAddresses(InternetAddressList *list, QStringList &out, int depth = 0)
{
    if (!list || depth > 8)
        return;
    const int count = internet_address_list_length(list);
    for (int i = 0; i < count; ++i) {
        InternetAddress *address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
            const QString addr = fromUtf8(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address)));
            if (!addr.isEmpty())
                out.append(addr);
        } else if (INTERNET_ADDRESS_IS_GROUP(address)) {
            collectAddresses(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)), out, depth + 1);
        }
    }
}


// A field's value as the message parser gives it: unfolded, encoded words decoded.
GCharPtr decodedValue(QByteArrayView value)
{
    const GCharPtr unfolded(g_mime_utils_header_unfold(value.toByteArray().constData()));
    return GCharPtr(g_mime_utils_header_decode_text(parserOptions(), unfolded.get()));
}

} // namespace detail
} // namespace mailmessage

using namespace mailmessage::detail;


bool MailPart::isHtml() const
{
    return kind == Text && contentType.compare(QLatin1String("text/html"), Qt::CaseInsensitive) == 0;
}

QString MailPart::bareName(const QString &name)
{
    return bareFileName(name);
}

QString MailPart::forwardedName(QByteArrayView subject)
{
    return fileNameFromSubject(subject.isNull() ? QString() : fixC1(mailtext::headerText(subject)));
}

namespace {
// The charset raw 8-bit header text is read in when it is not UTF-8: the one the message's
// text declares (its first text leaf that names one), else the one its Content-Type names.
QByteArray textCharset(GMimeObject *object, int depth = 0)
{
    if (GMIME_IS_MULTIPART(object) && depth < 64) {
        GMimeMultipart *multipart = GMIME_MULTIPART(object);
        for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
            if (QByteArray charset = textCharset(g_mime_multipart_get_part(multipart, i), depth + 1); !charset.isEmpty())
                return charset;
    } else if (GMIME_IS_PART(object)) {
        GMimeContentType *type = g_mime_object_get_content_type(object);
        if (type && g_ascii_strcasecmp(g_mime_content_type_get_media_type(type), "text") == 0)
            return g_mime_content_type_get_parameter(type, "charset");
    }
    return {};
}

QByteArray declaredCharset(GMimeObject *body)
{
    if (!body)
        return {};
    const QByteArray charset = textCharset(body);
    return charset.isEmpty() ? QByteArray(g_mime_object_get_content_type_parameter(body, "charset")) : charset;
}

GPtr<GMimeMessage> construct(const QByteArray &raw)
{
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(raw.constData(), size_t(raw.size())));
    GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
    return GPtr<GMimeMessage>(g_mime_parser_construct_message(parser.get(), parserOptions()));
}

// The list and the preview read the first of each of these fields, where GMime takes the last
// Subject, Date and Content-Type (the last one shapes the body) and joins the From fields.
// The later ones are hidden from it, their names spoilt in a copy of the mail; nothing when
// there are none.
std::optional<QByteArray> laterCopiesHidden(GMimeMessage *message, const QByteArray &raw)
{
    static const char *const names[] = {"From", "Subject", "Date", "Content-Type"};
    bool seen[std::size(names)] = {};
    std::optional<QByteArray> copy;
    for (GMimeObject *o : {GMIME_OBJECT(message), g_mime_message_get_mime_part(message)}) {
        GMimeHeaderList *list = o ? g_mime_object_get_header_list(o) : nullptr;
        const int count = list ? g_mime_header_list_get_count(list) : 0;
        for (int i = 0; i < count; ++i) {
            GMimeHeader *header = g_mime_header_list_get_header_at(list, i);
            const auto name = std::find_if(std::begin(names), std::end(names), [&](const char *n) {
                return g_ascii_strcasecmp(g_mime_header_get_name(header), n) == 0;
            });
            if (name == std::end(names))
                continue;
            bool &already = seen[name - std::begin(names)];
            const qsizetype at = qsizetype(g_mime_header_get_offset(header));
            if (already && at >= 0 && at < raw.size() && g_ascii_toupper(raw[at]) == (*name)[0]) {
                if (!copy)
                    copy = raw;
                (*copy)[at] = 'X';
            }
            already = true;
        }
    }
    return copy;
}

} // namespace

MailMessage MailMessage::parse(const QByteArray &raw)
{
    return parse(raw, false);
}

MailMessage MailMessage::parse(const QByteArray &input, bool listFields)
{
    MailMessage mail;
    if (input.isEmpty())
        return mail;
    const QByteArray raw = headerWithoutNuls(input);
    GMimeParserOptions *options = parserOptions();
    GPtr<GMimeMessage> message = construct(raw);
    if (!message)
        return mail;
    if (const std::optional<QByteArray> firstOnly = laterCopiesHidden(message.get(), raw))
        message = construct(*firstOnly);
    if (!message)
        return mail;
    GMimeObject *object = GMIME_OBJECT(message.get());
    GMimeObject *body = g_mime_message_get_mime_part(message.get());

    InternetAddressMailbox *sender = firstMailbox(g_mime_message_get_from(message.get()));
    const char *from = rawField(object, body, "From");
    const char *subject = rawField(object, body, "Subject");
    const QByteArray charset = (from && mailtext::needsCharset(from)) || (subject && mailtext::needsCharset(subject))
                                   ? declaredCharset(body) : QByteArray();
    mail.setSender(sender ? internet_address_mailbox_get_addr(sender) : nullptr, from, charset);
    if (subject)
        mail.m_subject = visibleText(mailtext::headerText(subject, charset));
    if (GDateTime *date = g_mime_message_get_date(message.get())) {
        mail.m_dateSecs = g_date_time_to_unix(date);
        mail.m_dated = true;
    }
    // GMime files the Content-* headers under the top-level part, not the message.
    const char *type = g_mime_object_get_header(object, "Content-Type");
    if (!type && body)
        type = g_mime_object_get_header(body, "Content-Type");
    mail.m_contentType = typeAsWritten(type);
    // A list row needs no more; the display text (with its IDN work) and the body are the
    // dearest part of a header block's parse.
    if (listFields)
        return mail;

    if (sender && mail.m_senderText.isEmpty()) {
        // The name as the subject is decoded: the same mailbox read from the field with its
        // encoded-words decoded here.
        InternetAddressMailbox *shown = sender;
        const GPtr<InternetAddressList> decoded(from ? internet_address_list_parse(options, mailtext::forParser(from, charset).constData()) : nullptr);
        if (InternetAddressMailbox *same = firstMailbox(decoded.get()))
            if (g_strcmp0(internet_address_mailbox_get_addr(same), internet_address_mailbox_get_addr(sender)) == 0)
                shown = same;
        GCharPtr text(internet_address_to_string(INTERNET_ADDRESS(shown), nullptr, FALSE));
        QString shownText = fromUtf8(text.get());
        // GMime writes an internationalised domain as punycode; the list shows it as the sender
        // wrote it. (Its own IDN accessor is not asked: it corrupts memory on some local parts.)
        const QString written = fromUtf8(internet_address_mailbox_get_addr(shown));
        const QString domain = written.mid(written.lastIndexOf(QLatin1Char('@')) + 1);
        if (written.contains(QLatin1Char('@'))
            && std::any_of(domain.cbegin(), domain.cend(), [](QChar c) { return c.unicode() > 0x7F; }))
            if (const QByteArray ascii = QUrl::toAce(domain); !ascii.isEmpty())
                shownText.replace(QString::fromLatin1(ascii), domain, Qt::CaseInsensitive);
        mail.m_senderText = visibleText(std::move(shownText));
    }
    QStringList recipients;
    collectAddresses(g_mime_message_get_to(message.get()), recipients);
    collectAddresses(g_mime_message_get_cc(message.get()), recipients);
    mail.m_recipients = visibleText(recipients.join(QLatin1String(", ")));

    if (body && GMIME_IS_MULTIPART(body)) {
        QString prologue = normalizeText(mailtext::guess(g_mime_multipart_get_prologue(GMIME_MULTIPART(body))));
        while (prologue.endsWith(QLatin1Char('\n')))
            prologue.chop(1);
        mail.m_body = prologue;
        collectParts(body, mail.m_parts);
        for (const MailPart &part : std::as_const(mail.m_parts))
            if (part.isHtml()) {
                mail.m_html = part.text;
                break;
            }
    } else if (body) {
        QList<MailPart> single;
        collectParts(body, single);
        if (!single.isEmpty() && single.first().kind == MailPart::Text) {
            mail.m_body = single.first().text;
            if (single.first().isHtml())
                mail.m_html = mail.m_body;
        } else {
            mail.m_parts = single;
        }
    }
    return mail;
}

void MailMessage::setSender(const char *address, QByteArrayView field, const QByteArray &charset)
{
    m_senderAddress = visibleText(fromUtf8(address));
    if (!m_senderAddress.isEmpty() || field.isNull())
        return;
    // No address to show: show what the field says, decoded.
    m_senderText = visibleText(fixC1(mailtext::headerText(field, charset)).simplified());
    const QStringList words = m_senderText.split(QLatin1Char(' '));
    for (auto word = words.crbegin(); word != words.crend(); ++word)
        if (word->contains(QLatin1Char('@'))) {
            static const QString around = QStringLiteral("<>()[]\"',;:");
            qsizetype begin = 0, end = word->size();
            while (begin < end && around.contains(word->at(begin)))
                ++begin;
            while (end > begin && around.contains(word->at(end - 1)))
                --end;
            m_senderAddress = word->sliced(begin, end - begin);
            break;
        }
}

int MailMessage::attachmentCount() const
{
    return int(std::count_if(m_parts.cbegin(), m_parts.cend(),
                             [](const MailPart &part) { return part.kind == MailPart::Attachment; }));
}

bool MailMessage::saveAttachment(int partIndex, const QString &path) const
{
    if (partIndex < 0 || partIndex >= m_parts.size() || m_parts[partIndex].kind != MailPart::Attachment)
        return false;
    // Written beside and renamed over: a failed write leaves any earlier file whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray &content = m_parts[partIndex].content;
    if (file.write(content) != content.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
