// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/imap/ImapStructure.h"

#include "core/SafeFile.h"
#include "protocol/imap/ImapResponseParser.h"
#include "message/MailMessage.h"

#include <QVarLengthArray>
#include <algorithm>

namespace {

// A value as header text: unfolded, a NUL made a blank.
QByteArray headerValue(QByteArrayView v)
{
    QByteArray out;
    out.reserve(v.size());
    for (const char c : v)
        if (c != '\r' && c != '\n')
            out += c == '\0' ? ' ' : c;
    return out;
}

bool isToken(QByteArrayView v)
{
    if (v.isEmpty())
        return false;
    for (const char c : v)
        if (uchar(c) <= ' ' || uchar(c) >= 127 || QByteArrayView("()<>@,;:\\\"/[]?=").contains(c))
            return false;
    return true;
}

QByteArray quoted(QByteArrayView v)
{
    QByteArray out = "\"";
    for (const char c : v) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

void appendParameters(QByteArray &out, const ImapValue &params, QByteArrayView skip = {})
{
    for (auto it = params.begin(); it != params.end(); ++it) {
        const QByteArray name = headerValue((*it).bytes());
        if (++it == params.end())
            break;
        if (!isToken(QByteArrayView(name).chopped(name.endsWith('*') ? 1 : 0))
            || (!skip.isEmpty() && name.compare(skip, Qt::CaseInsensitive) == 0))
            continue;
        // An extended value (RFC 2231) is percent-encoded: written as it came.
        const QByteArray value = headerValue((*it).bytes());
        out += "; " + name + '=' + (name.endsWith('*') && isToken(value) ? value : quoted(value));
    }
}

void appendPartHeaders(QByteArray &out, QByteArrayView type, QByteArrayView subtype, const ImapValue &params,
                       const ImapValue &disposition, QByteArrayView boundary = {})
{
    // A type the server could not read either is written as it came, for MailMessage to read it
    // as it reads the original.
    out += "Content-Type: " + headerValue(type);
    if (!subtype.isEmpty())
        out += '/' + headerValue(subtype);
    appendParameters(out, params, boundary.isEmpty() ? QByteArrayView() : QByteArrayView("boundary"));
    if (!boundary.isEmpty())
        out += "; boundary=\"" + boundary.toByteArray() + '"';
    out += "\r\n";
    if (disposition.isList() && isToken(disposition.at(0).bytes())) {
        out += "Content-Disposition: " + disposition.at(0).toByteArray();
        appendParameters(out, disposition.at(1));
        out += "\r\n";
    }
    out += "\r\n";
}

// The header a message of one part gives of itself: what MailMessage reads of a part's.
const QByteArray kOwnHeader = "HEADER.FIELDS (CONTENT-TYPE CONTENT-DISPOSITION)";

// A name a value cut at its first blank or special would leave: none, or no extension.
bool mayBeCut(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot <= 0 || dot == name.size() - 1;
}

// A parameter's value GMime gives back as it came: printable ASCII without quote, backslash,
// encoded word or blank at either end.
bool plainValue(QByteArrayView v)
{
    if (v.isEmpty() || v.front() == ' ' || v.back() == ' ' || v.contains("=?"))
        return false;
    for (const char c : v)
        if (uchar(c) < 0x20 || uchar(c) >= 0x7F || c == '"' || c == '\\')
            return false;
    return true;
}

// Parameter name of a body's list as the skeleton's parse would read it: absent, plain (value
// set), or unsure when only GMime can tell (RFC 2231 pieces it joins and decodes, a repeated
// name, a value it might read otherwise).
enum class Param { None, Plain, Unsure };
Param parameter(const ImapValue &params, QByteArrayView name, QByteArrayView &value)
{
    Param found = Param::None;
    for (auto it = params.begin(); it != params.end(); ++it) {
        const QByteArrayView key = (*it).bytes();
        if (++it == params.end())
            break;
        if (key.contains('*'))
            return Param::Unsure;
        if (key.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        if (found != Param::None || !plainValue((*it).bytes()))
            return Param::Unsure;
        value = (*it).bytes();
        found = Param::Plain;
    }
    return found;
}

bool isAsciiText(QByteArrayView v)
{
    return std::all_of(v.begin(), v.end(), [](char c) { return uchar(c) >= 0x20 && uchar(c) < 0x7F; });
}

struct DirectLeaf
{
    bool attachment;
    QString fileName;
};

// The leaves of a structure, depth first, classified and named by MailMessage's rule as it would
// read them from the skeleton; false when a leaf only the skeleton can settle: a type the server
// did not read or that GMime types apart (message/* but a described message/rfc822, a leaf
// called multipart), a name that is not plain, nesting near GMime's depth limit, or an
// attachment whose name may have been cut (its header is to be fetched).
using DirectLeaves = QVarLengthArray<DirectLeaf, 8>;

bool directLeaves(const ImapValue &body, int depth, DirectLeaves &leaves)
{
    if (!body.isList() || depth > 60)
        return false;
    auto it = body.begin();
    if (it == body.end())
        return false;
    if ((*it).isList()) {
        int parts = 0;
        for (; it != body.end() && (*it).isList(); ++it, ++parts)
            if (!directLeaves(*it, depth + 1, leaves))
                return false;
        return parts > 0 && it != body.end() && isToken((*it).bytes());
    }
    ImapValue f[12];
    for (int k = 0; it != body.end() && k < 12; ++it)
        f[k++] = *it;
    const QByteArrayView type = f[0].bytes();
    const QByteArrayView subtype = f[1].bytes();
    if (!isToken(type) || !isToken(subtype) || type.compare("MULTIPART", Qt::CaseInsensitive) == 0)
        return false;
    const bool text = type.compare("TEXT", Qt::CaseInsensitive) == 0;
    const bool message = type.compare("MESSAGE", Qt::CaseInsensitive) == 0;
    if (message && (subtype.compare("RFC822", Qt::CaseInsensitive) != 0 || !f[7].isList() || !f[8].isList()))
        return false;
    const ImapValue disposition = f[message ? 11 : text ? 9 : 8];
    const bool written = disposition.isList() && isToken(disposition.at(0).bytes());
    // The disposition's filename, else the type's name.
    QByteArrayView value;
    Param name = written ? parameter(disposition.at(1), "filename", value) : Param::None;
    if (name == Param::None)
        name = parameter(f[2], "name", value);
    if (name == Param::Unsure)
        return false;
    QString fileName = name == Param::Plain ? MailPart::bareName(QString::fromLatin1(value)) : QString();
    if (message) {
        const ImapValue subject = f[7].at(1);
        if (fileName.isEmpty() && subject.isString() && !isAsciiText(subject.bytes()))
            return false;
        if (fileName.isEmpty())
            fileName = MailPart::forwardedName(subject.isString() ? subject.bytes() : QByteArrayView());
        leaves << DirectLeaf{true, fileName};
        return true;
    }
    const bool attachedAsFile = written && disposition.at(0).bytes().compare("attachment", Qt::CaseInsensitive) == 0;
    if (text && fileName.isEmpty() && !attachedAsFile) {
        leaves << DirectLeaf{false, {}};
        return true;
    }
    if (mayBeCut(fileName))
        return false;
    leaves << DirectLeaf{true, fileName};
    return true;
}

} // namespace

bool ImapStructure::readDirect(const ImapValue &structure, AttachmentInfo &info)
{
    DirectLeaves leaves;
    if (!directLeaves(structure, 0, leaves))
        return false;
    info = AttachmentInfo();
    for (const DirectLeaf &leaf : std::as_const(leaves))
        if (leaf.attachment)
            info.names << attachments::safeFileName(leaf.fileName, ++info.count);
    return true;
}

ImapStructure::ImapStructure(const ImapValue &structure)
{
    // Most structures are read straight from the server's description; a message whose parts
    // only GMime can settle is written back as a skeleton and parsed.
    if (readDirect(structure, m_info))
        return;
    m_pieces << "MIME-Version: 1.0\r\n";
    write(structure, {});
    QList<MailPart> parts = read();
    // Leaves and parts pair up in order, as MailMessage takes the leaves depth first; a message
    // of one text part has it as its body, not as a part.
    if (parts.isEmpty() && m_leaves.size() == 1)
        parts << MailPart();
    if (parts.size() != m_leaves.size())
        return;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const Leaf &leaf = m_leaves[i];
        if (leaf.typeUnread || (parts[i].kind == MailPart::Attachment && !leaf.message && mayBeCut(parts[i].fileName)))
            m_toRead << i;
    }
}

void ImapStructure::write(const ImapValue &body, const QByteArray &section)
{
    if (body.at(0).isList()) {
        // body-type-mpart: the parts, the subtype, then extension data (parameters, disposition).
        QList<ImapValue> parts;
        ImapValue rest[3];
        int k = 0;
        for (const ImapValue v : body) {
            if (k == 0 && v.isList())
                parts << v;
            else if (k < 3)
                rest[k++] = v;
        }
        const QByteArray boundary = "=_pelicorde_" + QByteArray::number(m_boundaries++);
        appendPartHeaders(m_pieces.last(), "multipart", rest[0].bytes(), rest[1], rest[2], boundary);
        for (qsizetype i = 0; i < parts.size(); ++i) {
            m_pieces.last() += "--" + boundary + "\r\n";
            write(parts[i], (section.isEmpty() ? "" : section + '.') + QByteArray::number(i + 1));
            m_pieces.last() += "\r\n";
        }
        m_pieces.last() += "--" + boundary + "--\r\n";
        return;
    }
    // body-type-1part: type, subtype, parameters, id, description, encoding, size; then the
    // lines of a text part, or the envelope, structure and lines of a message; then MD5 and
    // the disposition.
    ImapValue f[12];
    int k = 0;
    for (const ImapValue v : body)
        if (k < 12)
            f[k++] = v;
    const bool text = f[0].bytes().compare("TEXT", Qt::CaseInsensitive) == 0;
    const bool message = f[0].bytes().compare("MESSAGE", Qt::CaseInsensitive) == 0 && f[7].isList() && f[8].isList();
    // The part's header is a piece of its own, for the server's header to replace.
    m_leaves << Leaf{m_pieces.size(), section, f[0].bytes().isEmpty() || f[1].bytes().isEmpty(), message};
    m_pieces << QByteArray();
    appendPartHeaders(m_pieces.last(), f[0].bytes(), f[1].bytes(), f[2], f[message ? 11 : text ? 9 : 8]);
    m_pieces << QByteArray();
    // A forwarded mail without a name of its own is named after its subject.
    if (message && f[7].at(1).isString())
        m_pieces.last() += "Subject: " + headerValue(f[7].at(1).bytes()) + "\r\n\r\n";
}

AttachmentInfo ImapStructure::attachments() const
{
    if (m_stale)
        read();
    return m_info;
}

QList<MailPart> ImapStructure::read() const
{
    m_stale = false;
    m_info = AttachmentInfo();
    const QList<MailPart> parts = MailMessage::parse(m_pieces.join()).parts();
    for (const MailPart &part : parts)
        if (part.kind == MailPart::Attachment)
            m_info.names << attachments::safeFileName(part.fileName, ++m_info.count);
    return parts;
}

QList<QByteArray> ImapStructure::sectionsToRead() const
{
    QList<QByteArray> sections;
    for (const qsizetype i : m_toRead)
        sections << (m_leaves[i].section.isEmpty() ? kOwnHeader : m_leaves[i].section + ".MIME");
    return sections;
}

// "BODY[1.2.MIME]", "BODY[HEADER.FIELDS (CONTENT-TYPE CONTENT-DISPOSITION)]", in the case and
// spacing the server chose.
bool ImapStructure::isHeaderItem(QByteArrayView item)
{
    return item.size() > 6 && item.first(5).compare("BODY[", Qt::CaseInsensitive) == 0 && item.endsWith(']');
}

bool ImapStructure::setHeader(QByteArrayView item, QByteArrayView header)
{
    if (!isHeaderItem(item))
        return false;
    const QByteArrayView section = item.sliced(5).chopped(1);
    for (const qsizetype i : m_toRead) {
        const Leaf &leaf = m_leaves[i];
        const bool own = leaf.section.isEmpty();
        const QByteArray expected = own ? QByteArray("HEADER.FIELDS") : leaf.section + ".MIME";
        if ((own ? section.first(std::min(section.size(), expected.size())) : section).compare(expected, Qt::CaseInsensitive) != 0)
            continue;
        // Nothing for a part the server no longer finds: the header written back stays.
        if (header.trimmed().isEmpty())
            return true;
        QByteArray written = header.toByteArray().replace('\0', ' ');
        if (!written.endsWith('\n'))
            written += "\r\n";
        if (!written.endsWith("\n\n") && !written.endsWith("\n\r\n"))
            written += "\r\n";
        m_pieces[leaf.piece] = written;
        m_stale = true;
        return true;
    }
    return false;
}

qsizetype ImapStructure::size() const
{
    qsizetype bytes = 0;
    for (const QByteArray &piece : m_pieces)
        bytes += piece.size();
    for (const QString &name : m_info.names)
        bytes += name.size() * 2;
    return bytes;
}

StructurePass::Held *StructurePass::find(int n)
{
    if (m_held.empty() || n < m_held.front().n || n > m_held.back().n)
        return nullptr;
    return &m_held[size_t(n - m_held.front().n)];
}

void StructurePass::weigh(Held &h)
{
    m_heldBytes -= h.bytes;
    h.bytes = 0;
    if (h.structure)
        h.bytes = h.structure->size();
    for (const QString &name : std::as_const(h.info.names))
        h.bytes += name.size() * 2;
    m_heldBytes += h.bytes;
}

void StructurePass::handOver(bool all)
{
    while (!m_held.empty() && (all || !m_held.front().structure || m_heldBytes > m_most)) {
        Held h = std::move(m_held.front());
        m_held.pop_front();
        m_heldBytes -= h.bytes;
        if (h.structure) {
            h.info = h.structure->attachments();
            if (h.asked)
                m_givenUp.insert(h.n);
        }
        m_each(h.n, h.uid, h.info);
    }
}

void StructurePass::add(int n, quint32 uid, const ImapValue *structure)
{
    Held h{n, uid, nullptr, {}};
    if (!structure) {
        h.info.known = false;
    } else if (!ImapStructure::readDirect(*structure, h.info)) {
        h.structure = std::make_unique<ImapStructure>(*structure);
        h.info = h.structure->attachments();
        if (h.structure->sectionsToRead().isEmpty())
            h.structure.reset();
        else
            m_toAsk.push_back(n);
    }
    m_held.push_back(std::move(h));
    weigh(m_held.back());
    handOver();
}

std::optional<StructurePass::Fetch> StructurePass::nextFetch()
{
    for (; !m_toAsk.empty(); m_toAsk.pop_front()) {
        Held *h = find(m_toAsk.front());
        if (!h || !h->structure)
            continue; // handed over meanwhile
        QByteArrayList items;
        for (const QByteArray &section : h->structure->sectionsToRead())
            items << "BODY.PEEK[" + section + ']';
        h->asked = true;
        m_toAsk.pop_front();
        return Fetch{h->n, h->uid, '(' + items.join(' ') + ')'};
    }
    return std::nullopt;
}

bool StructurePass::take(const ImapResponse &r)
{
    if (!r.is("FETCH"))
        return false;
    const int n = int(r.number().value_or(0));
    Held *h = find(n);
    const bool waiting = h && h->asked && h->structure;
    if (!waiting && !m_givenUp.count(n))
        return false;
    bool ours = r.skipped() != ImapProblem::None;
    const ImapValue items = r.values().at(0);
    for (auto it = items.begin(); it != items.end(); ++it) {
        const ImapValue key = *it;
        if (++it == items.end())
            break;
        if (key.isAtom() && (waiting ? h->structure->setHeader(key.bytes(), (*it).bytes()) : ImapStructure::isHeaderItem(key.bytes())))
            ours = true;
    }
    return ours; // else flags another program changed, say
}

void StructurePass::fetched(int n)
{
    if (m_givenUp.erase(n))
        return;
    if (Held *h = find(n); h && h->structure) {
        h->info = h->structure->attachments();
        h->structure.reset();
        weigh(*h);
    }
    handOver();
}

void StructurePass::finish()
{
    handOver(true);
}
