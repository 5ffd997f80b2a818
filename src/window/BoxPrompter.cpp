// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/BoxPrompter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include "core/Prompter.h"

namespace {

QPointer<QWidget> g_parent;

// Texts come from mail and servers (attachment names, server replies): never rich text.
void plain(QMessageBox &box) { box.setTextFormat(Qt::PlainText); }

class BoxPrompter final : public Prompter
{
public:
    void information(const QString &text) override
    {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Pelicorde"), text, QMessageBox::Ok,
                        g_parent.data());
        plain(box);
        box.exec();
    }

    bool question(const QString &text, Default byDefault) override
    {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Avertissement"), text, QMessageBox::NoButton,
                        g_parent.data());
        plain(box);
        QPushButton *yes = box.addButton(QStringLiteral("Oui"), QMessageBox::YesRole);
        QPushButton *cancel = box.addButton(QStringLiteral("Annuler"), QMessageBox::RejectRole);
        box.setDefaultButton(byDefault == Default::Oui ? yes : cancel);
        box.setEscapeButton(cancel);
        box.exec();
        return box.clickedButton() == yes;
    }

    void errorReport(const QString &text) override
    {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Pelicorde"), text, QMessageBox::Ok,
                        g_parent.data());
        plain(box);
        box.exec();
    }

    void beep() override { QApplication::beep(); }
};

BoxPrompter g_boxes;

} // namespace

Prompter &messageBoxes() { return g_boxes; }

void setPrompterParent(QWidget *parent) { g_parent = parent; }
