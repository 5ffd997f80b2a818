// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the two readers of a mail share: the message's parse (MailMessage.cpp) and the fast
// header reader (HeaderFields.cpp). Include after <gmime/gmime.h>; not for other code.
#include <QByteArray>
#include <QString>
#include <memory>

namespace mailmessage::detail {

struct GObjectUnref
{
    void operator()(gpointer object) const
    {
        if (object)
            g_object_unref(object);
    }
};
template<typename T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

struct GFree
{
    void operator()(gpointer p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<char, GFree>;

// One set of options for every parse; GMime is initialised before the first.
GMimeParserOptions *parserOptions();
QString fromUtf8(const char *text);
// A NUL would end a C string field early: in the header block it becomes a control character.
QByteArray headerWithoutNuls(const QByteArray &raw);
// C1 controls read as Windows-1252, the rest of the controls shown as U+FFFD, TAB as a blank.
QString visibleText(QString text);
// The Content-Type as written: its type and subtype in lower case, or the raw text.
QString typeAsWritten(const char *value);
InternetAddressMailbox *firstMailbox(InternetAddressList *list, int depth = 0);
// A field's value as the message parser gives it: unfolded, encoded words decoded.
GCharPtr decodedValue(QByteArrayView value);

} // namespace mailmessage::detail
