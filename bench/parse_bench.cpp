// SPDX-License-Identifier: GPL-3.0-or-later
// What the message list reads of a header block: the parse of sender, subject, date and type
// for the headers of a realistic mailbox, as the scan does for every message.
//   parse_bench [messages=1000]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>

#include "mailbox/MailMessage.h"
#include "support/MailFactory.h"

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int messages = argc > 1 ? atoi(argv[1]) : 1000;
    QList<QByteArray> headers;
    for (const QByteArray &m : mailfactory::realisticMailbox(messages))
        headers << m.left(m.indexOf("\r\n\r\n") + 4);
    QList<double> runs;
    int typed = 0;
    for (int run = 0; run < 7; ++run) {
        QElapsedTimer clock;
        clock.start();
        for (const QByteArray &h : std::as_const(headers))
            typed += MailMessage::parseListFields(h).contentType().isEmpty() ? 0 : 1;
        runs << clock.nsecsElapsed() / 1e3 / headers.size();
    }
    std::sort(runs.begin(), runs.end());
    std::printf("parse_bench messages=%d list_fields_us=%.1f (median of 7; %d typed)\n", messages, runs.at(3),
                typed / 7);
    return 0;
}
