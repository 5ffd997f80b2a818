// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

class MessageList;
class TForm1;
struct MailAccount;

// The handler of BitBtn5: saves the previewed message's attachments into the data folder.
void saveAttachments(TForm1 &form);

// Saves the attachments of message row of list, read from the mailbox of account, into
// dataFolder; the questions and the summary in boxes.
void saveAttachmentsOf(const MailAccount &account, const QString &dataFolder, const MessageList &list, int row);
