#include "app/Prompter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include "mailbox/ServerOperation.h"

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

    bool question(const QString &text) override
    {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Avertissement"), text, QMessageBox::NoButton,
                        g_parent.data());
        plain(box);
        QPushButton *yes = box.addButton(QStringLiteral("Oui"), QMessageBox::YesRole);
        QPushButton *cancel = box.addButton(QStringLiteral("Annuler"), QMessageBox::RejectRole);
        box.setDefaultButton(yes);
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
Prompter *g_current = &g_boxes;

// Whatever shows the boxes: while one waits for its answer no scan starts (the list must stay
// what the answer acts on), and once the window is closed no box appears any more.
class ModalPrompter final : public Prompter
{
public:
    void information(const QString &text) override
    {
        if (ServerOperation::abandoned())
            return;
        const ServerOperation::BoxShown shown;
        g_current->information(text);
    }

    bool question(const QString &text) override
    {
        if (ServerOperation::abandoned())
            return false;
        const ServerOperation::BoxShown shown;
        return g_current->question(text);
    }

    void errorReport(const QString &text) override
    {
        if (ServerOperation::abandoned())
            return;
        const ServerOperation::BoxShown shown;
        g_current->errorReport(text);
    }

    void beep() override
    {
        if (!ServerOperation::abandoned())
            g_current->beep();
    }
};

ModalPrompter g_modal;

} // namespace

Prompter &prompter() { return g_modal; }

void setPrompter(Prompter *p) { g_current = p ? p : &g_boxes; }

void setPrompterParent(QWidget *parent) { g_parent = parent; }

QString errorReportText(const QString &text)
{
    if (!text.isEmpty() && text.back().isLetterOrNumber())
        return text + QLatin1Char('.');
    return text;
}

void reportError(const QString &text) { prompter().errorReport(errorReportText(text)); }
