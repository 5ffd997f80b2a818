// SPDX-License-Identifier: GPL-3.0-or-later
// A mail as a server may send it (a header block or a whole message): what the list, the
// preview and the attachment saver take from it.
#include "FuzzCheck.h"
#include "message/MailMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray raw(reinterpret_cast<const char *>(data), qsizetype(size));
    const MailMessage mail = MailMessage::parse(raw);

    // The list's cells and the preview's header lines show no control character.
    for (const QString &text : {mail.senderAddress(), mail.senderText(), mail.recipients(), mail.subject()})
        FUZZ_CHECK(!holdsControl(text));
    FUZZ_CHECK(!mail.contentType().contains(QLatin1Char(';')));

    // Text for the memo and the page: LF line ends, no control character but TAB, LF and CR.
    const auto readable = [](QString text) {
        text.remove(QLatin1Char('\t')).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
        return !holdsControl(text);
    };
    for (const QString &text : {mail.body(), mail.html()})
        FUZZ_CHECK(readable(text) && !text.contains(QLatin1String("\r\n")));

    int attachments = 0;
    bool firstHtml = true;
    for (const MailPart &part : mail.parts()) {
        FUZZ_CHECK(!part.contentType.contains(QLatin1Char(';')));
        if (part.kind == MailPart::Text) {
            FUZZ_CHECK(readable(part.text) && !part.text.contains(QLatin1String("\r\n")));
            FUZZ_CHECK(part.fileName.isEmpty() && part.content.isEmpty());
            if (part.isHtml() && firstHtml) {
                FUZZ_CHECK(mail.html() == part.text);
                firstHtml = false;
            }
            continue;
        }
        ++attachments;
        // A name the saver joins to the data folder: bare, visible, never "." or "..".
        const QString &name = part.fileName;
        FUZZ_CHECK(!holdsControl(name));
        FUZZ_CHECK(!name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')));
        FUZZ_CHECK(name != QLatin1String(".") && name != QLatin1String(".."));
        FUZZ_CHECK(name == name.trimmed());
        FUZZ_CHECK(part.text.isEmpty());
    }
    FUZZ_CHECK(mail.attachmentCount() == attachments);

    // The list's lean parse, which reads the common forms of its fields by hand, gives the
    // list's fields exactly as the whole parse does, whatever the block.
    const MailMessage listed = MailMessage::parseListFields(raw);
    qint64 listedSecs = 0, mailSecs = 0;
    const bool listedDated = listed.dateSecs(listedSecs), mailDated = mail.dateSecs(mailSecs);
    FUZZ_CHECK(listed.senderAddress() == mail.senderAddress());
    FUZZ_CHECK(listed.listedSender() == mail.listedSender());
    FUZZ_CHECK(listed.subject() == mail.subject());
    FUZZ_CHECK(listedDated == mailDated && (!mailDated || listedSecs == mailSecs));
    FUZZ_CHECK(listed.contentType() == mail.contentType());

    // The same bytes give the same message (no state kept between parses).
    const MailMessage again = MailMessage::parse(raw);
    FUZZ_CHECK(again.subject() == mail.subject() && again.senderText() == mail.senderText()
               && again.parts().size() == mail.parts().size() && again.body() == mail.body());
    return 0;
}
