// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/WindowFixture.h"

#include "preview/Preview.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>

#include "mailbox/MessageList.h"
#include "window/Controls.h"

bool WindowFixture::prepareFolders(const QString &appData, const QString &temp)
{
    if (!root.isValid() || !QDir(root.path()).mkpath(appData) || !QDir(root.path()).mkpath(temp))
        return false;
    qputenv("APPDATA", root.filePath(appData).toLocal8Bit());
    qputenv("TEMP", root.filePath(temp).toLocal8Bit());
    m_prepared = true;
    return true;
}

bool WindowFixture::create(QSize workArea)
{
    if (!m_prepared && !prepareFolders())
        return false;
    form = std::make_unique<TForm1>(workArea);
    return true;
}

bool WindowFixture::start(QSize workArea)
{
    if (!create(workArea))
        return false;
    form->show();
    return QTest::qWaitForWindowExposed(form.get()) && QTest::qWaitFor([this] { return !form->firstShow; });
}

QString WindowFixture::previewFile() const { return form->pane->filePath(); }

void WindowFixture::pointAt(const MailAccount &account)
{
    // Test ports are not IMAP's own: the server field says it.
    form->Edit3->setText(account.protocol == MailAccount::Protocol::Imap ? QStringLiteral("imap://") + account.host
                                                                         : account.host);
    form->Edit4->setText(QString::number(account.port));
    form->Edit15->setText(account.user);
    form->Edit16->setText(account.password);
    form->CheckBox2->setChecked(account.tls);
}

void WindowFixture::setRows(const QList<QStringList> &rows)
{
    form->list->setRows(int(rows.size()) + 1);
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < MessageList::ColumnCount && c < rows[r].size(); ++c)
            form->list->setCell(r + 1, c, rows[r][c]);
}

void WindowFixture::clickCell(int column, int row, Qt::MouseButton button)
{
    MessageGrid *grid = form->SG1;
    const QPoint centre = grid->cellRect(column, row).center();
    QWidget *target = row == 0 ? static_cast<QWidget *>(grid->horizontalHeader()) : grid->viewport();
    QTest::mouseClick(target, button, {}, target->mapFrom(grid, centre));
}
