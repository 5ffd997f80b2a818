// SPDX-License-Identifier: GPL-3.0-or-later
#include "preview/Preview.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QOpenGLContext>
#include <QPointer>
#include <exception>

#include <dlfcn.h>

#include "core/Error.h"
#include "core/EventPump.h"
#include "core/Prompter.h"
#include "core/ServerOperation.h"
#include "protocol/LoginDelay.h"
#include "message/MailMessage.h"
#include "mailbox/MailboxSession.h"
#include "mailbox/MessageList.h"
#include "mailbox/ScanPasses.h"
#include "preview/PreviewFile.h"
#include "preview/RemoteWebView.h"
#include "scan/SessionSettings.h"
#include "window/PelicordeFP.h"

namespace {

// Writes and shows text unless measured reaches the limit; the box then tells the text view's length.
void writeOrShowLength(PreviewPane &pane, const QString &text, qsizetype measured)
{
    if (measured >= PreviewTextLimit)
        prompter().information(QString::number(pane.textLength()));
    else
        writeAndShow(pane, text);
}

// The PJ cell as a decimal integer, 0 when it is not one.
int attachmentCount(const QString &cell)
{
    bool ok = false;
    const int n = cell.toInt(&ok, 10);
    return ok ? n : 0;
}

} // namespace

// Qt's own setter of the context every OpenGL context shares with (exported by Qt GUI, no public
// header).
void qt_gl_set_global_share_context(QOpenGLContext *context);

namespace {

// The web engine draws through a context shared with Qt's, and complains on the terminal when
// it is loaded without one. Made only here rather than at start (Qt::AA_ShareOpenGLContexts),
// so that a program that shows no preview loads no graphics driver.
void ensureSharedContext()
{
    if (QOpenGLContext::globalShareContext())
        return;
    auto *context = new QOpenGLContext(qApp);
    context->create(); // without OpenGL it stays invalid, and the engine draws in software
    qt_gl_set_global_share_context(context);
}

using CreateWebView = QWidget *(*)(const QString &filePath, QWidget *parent);

// The web view's library, loaded once, on the first preview. Called from the program itself, so
// the dynamic loader looks for it through the program's RUNPATH, which names folders relative
// to the program ($ORIGIN): the install's lib/pelicorde, or the build the program sits in.
CreateWebView webViewFactory()
{
    static const CreateWebView create = []() -> CreateWebView {
        void *library = ::dlopen(PELICORDE_WEBVIEW_LIBRARY, RTLD_NOW | RTLD_LOCAL); // never closed
        return library ? reinterpret_cast<CreateWebView>(::dlsym(library, "pelicorde_create_web_view")) : nullptr;
    }();
    return create;
}

// pelicorde-preview: in the install's libexec/pelicorde, or in the build the program sits in
// (its tests and benchmarks one folder down). Empty when missing.
QString previewHelper()
{
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString &folder : {dir + QStringLiteral("/../" PELICORDE_HELPER_DIR), dir, dir + QStringLiteral("/..")}) {
        const QFileInfo helper(folder + QStringLiteral("/" PELICORDE_PREVIEW_HELPER));
        if (helper.isFile() && helper.isExecutable())
            return helper.absoluteFilePath();
    }
    return {};
}

bool isX11() { return QGuiApplication::platformName() == QLatin1String("xcb"); }

} // namespace

WebViewHost defaultWebViewHost()
{
    const bool canEmbed = isX11() || QGuiApplication::platformName() == QLatin1String("offscreen");
    return canEmbed && !previewHelper().isEmpty() ? WebViewHost::Helper : WebViewHost::InProcess;
}

QWidget *ensurePreviewView(PreviewPane &pane, WebViewHost host)
{
    if (QWidget *view = pane.view())
        return view;
    const QString file = pane.filePath();
    const QString helper = host == WebViewHost::Helper ? previewHelper() : QString();
    QWidget *view = nullptr;
    if (!helper.isEmpty()) {
        auto *remote = new RemoteWebView(helper, file, isX11(), pane.viewParent());
        // Only a helper that cannot run at all leaves the engine to the program: once loaded, it
        // would stay in the program until its end.
        if (remote->helperId()) {
            view = remote;
            // One that ends on its own (killed, or crashed on a page) takes its view along; the
            // text view shows the message meanwhile, and the next preview starts another helper.
            QObject::connect(remote, &RemoteWebView::ended, &pane, [&pane, remote = QPointer<RemoteWebView>(remote)] {
                if (!remote || pane.view() != remote)
                    return;
                pane.releaseView();
                if (pane.isOpen())
                    pane.coverPage();
            }, Qt::QueuedConnection);
        } else {
            delete remote;
        }
    }
    if (!view) {
        ensureSharedContext();
        const CreateWebView create = webViewFactory();
        if (!create)
            return nullptr;
        view = create(file, pane.viewParent());
    }
    pane.setView(view);
    if (auto *remote = qobject_cast<RemoteWebView *>(view)) {
        QObject::connect(remote, &RemoteWebView::escaped, &pane, [&pane] {
            if (pane.isOpen())
                guarded([&pane] { pane.close(); });
        }, Qt::QueuedConnection);
        remote->hideUnder(pane.textView());
    }
    return view;
}

void writeAndShow(PreviewPane &pane, const QString &text)
{
    const QString path = pane.filePath();
    if (path.isEmpty() || !writePreviewFile(path, text)) {
        prompter().beep();
        if (!path.isEmpty())
            QFile::remove(path);
    }
    pumpEvents();
    // Also when the file was not written: the view then shows that there is nothing.
    if (QWidget *view = pane.view())
        QMetaObject::invokeMethod(view, "showFile");
}

void previewMessage(TForm1 &form, int r)
{
    showMessage(*form.pane, form.account(), form.dataFolder, *form.list, r);
}

void showMessage(PreviewPane &pane, const MailAccount &account, const QString &dataFolder, const MessageList &list,
                 int r)
{
    if (refusedWhileBusy() || refusedForAnotherAccount(list, account))
        return;
    // Held from the start, so that a timer's scan waits until the pane is filled.
    ServerOperation op;

    pane.withdrawAttachments();
    pane.holdList();
    if (!pane.isOpen()) {
        pane.open();
        pumpEvents();
    }
    ensurePreviewView(pane);

    try {
        const auto session = makeMailboxSession(account);
        openSession(*session, account, dataFolder, MailboxSession::Access::Read);
        pumpEvents();
        const MailMessage mail = MailMessage::parse(session->message(r, list.uid(r)));

        pane.showFields(mail.senderText(), mail.recipients(), scan::shortDate(mail.date()), scan::longTime(mail.date()),
                        mail.subject());

        pane.clearText();
        // A multipart message's body is the preamble that mail programs never show ("This is a
        // multi-part message in MIME format."): the text view starts with the parts.
        if (mail.parts().isEmpty())
            pane.addText(mail.body());
        pumpEvents();
        // The text view's whole length decides, but the file gets the body alone.
        writeOrShowLength(pane, mail.body(), pane.textLength());

        const QString type = mail.contentType();
        if (type == QLatin1String("multipart/mixed") || type == QLatin1String("text/html"))
            pane.showPage();
        else
            pane.showText();

        if (!mail.parts().isEmpty()) {
            QString viewerText;
            bool viewerHtml = false;
            for (const MailPart &part : mail.parts()) {
                if (part.kind != MailPart::Text)
                    continue;
                pane.addText(part.text);
                viewerText = part.text;
                viewerHtml = part.isHtml();
            }
            pumpEvents();
            writeOrShowLength(pane, viewerText, viewerText.size());
            // A text mail with an attachment reads as written, its line breaks kept, not as a
            // page that would run its lines together.
            if (type == QLatin1String("multipart/mixed") && !viewerText.isEmpty() && !viewerHtml)
                pane.showText();
        }

        pane.showTextStart();

        session->close();

        // Not when the pane was closed during the download: the button would stand alone over
        // the list and save whichever row is current by then.
        const QString pj = list.cell(r, MessageList::Attachments);
        if (attachmentCount(pj) > 0 && pane.isOpen())
            pane.offerAttachments(pj);
    } catch (const std::exception &e) {
        prompter().information(failureBoxText(e, QStringLiteral("Erreur durant la reception de ce message")));
    }

    pumpEvents();
    prompter().beep();
}
