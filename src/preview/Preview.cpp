// SPDX-License-Identifier: GPL-3.0-or-later
#include "preview/Preview.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QGuiApplication>
#include <QOpenGLContext>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>
#include <exception>

#include <dlfcn.h>

#include "core/Error.h"
#include "core/EventPump.h"
#include "core/Folders.h"
#include "core/Prompter.h"
#include "core/ServerOperation.h"
#include "mailbox/LoginDelay.h"
#include "mailbox/MailMessage.h"
#include "mailbox/MailboxSession.h"
#include "mailbox/MessageList.h"
#include "mailbox/ScanPasses.h"
#include "preview/PreviewFile.h"
#include "preview/RemoteWebView.h"
#include "scan/SessionSettings.h"
#include "window/Controls.h"
#include "window/PelicordeFP.h"

namespace {

const QColor PreviewGridColour(192, 192, 192);

QList<QWidget *> paneControls(TForm1 &form)
{
    return {form.Label7, form.Label8, form.Label9, form.Label15, form.Edit11, form.Edit12,  form.Edit13,
            form.Edit14, form.Edit17, form.BitBtn3, form.BitBtn8, form.Memo2};
}

// Appends text to Memo2 as lines followed by a line break.
void addToMemo(QPlainTextEdit *memo, const QString &text)
{
    QTextCursor end(memo->document());
    end.movePosition(QTextCursor::End);
    end.insertText(text + QLatin1Char('\n'));
}

qsizetype memoLength(const QPlainTextEdit *memo) { return memo->toPlainText().size(); }

// Writes and shows text unless measured reaches the limit; the box then tells Memo2's length.
void writeOrShowLength(TForm1 &form, const QString &text, qsizetype measured)
{
    if (measured >= PreviewTextLimit)
        prompter().information(QString::number(memoLength(form.Memo2)));
    else
        writeAndShow(form, text);
}

// The PJ cell as a decimal integer, 0 when it is not one.
int attachmentCount(const QString &cell)
{
    bool ok = false;
    const int n = cell.toInt(&ok, 10);
    return ok ? n : 0;
}

} // namespace

bool previewPaneOpen(const TForm1 &form) { return !form.Label7->isHidden(); }

void openPreviewPane(TForm1 &form)
{
    form.SG1->resize(form.SG1->width(), OpenPaneGridHeight);
    for (QWidget *w : paneControls(form))
        w->show();
    form.Panel1->hide();
}

void closePreviewPane(TForm1 &form)
{
    const bool focusInside = form.isAncestorOf(QApplication::focusWidget());
    for (QWidget *w : paneControls(form))
        w->hide();
    form.BitBtn5->hide();
    form.Panel1->show();
    form.SG1->resize(form.SG1->width(), form.normalGridHeight);
    form.SG1->setEnabled(true);
    form.setGridColour(TForm1::GridRestColour);
    releasePreviewView(form);
    // Back to the message the pane showed, not to whichever control Qt picks next: Space
    // there would tick P.J., and the next scan download every message.
    if (focusInside) {
        if (form.currentRow >= 1 && form.currentRow < form.list->rows())
            form.SG1->setCurrentIndex(form.list->indexOf(form.currentRow, MessageList::From));
        form.SG1->setFocus(Qt::OtherFocusReason);
    }
    pumpEvents();
}

namespace {

// Escape closes the pane wherever the focus is in it: the web view's own widgets take the key
// for the page before the close button's shortcut could see it.
class EscapeFromThePane final : public QObject
{
public:
    explicit EscapeFromThePane(TForm1 &form) : QObject(&form), m_form(form)
    {
        setObjectName(QStringLiteral("EscapeFromThePane"));
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        QWidget *focus = QApplication::focusWidget();
        if (key->key() != Qt::Key_Escape || key->modifiers() != Qt::NoModifier || !previewPaneOpen(m_form) || !focus
            || !m_form.WebBrowser1->isAncestorOf(focus))
            return false;
        // Not from inside the delivery: closing deletes the view the key is on its way to.
        if (event->type() == QEvent::KeyPress)
            QMetaObject::invokeMethod(this, [this] { guarded([this] { closePreviewPane(m_form); }); }, Qt::QueuedConnection);
        event->accept();
        return true;
    }

private:
    TForm1 &m_form;
};

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

QWidget *previewView(const TForm1 &form)
{
    return form.WebBrowser1->findChild<QWidget *>(QStringLiteral("WebView"), Qt::FindDirectChildrenOnly);
}

QWidget *ensurePreviewView(TForm1 &form, WebViewHost host)
{
    if (QWidget *view = previewView(form))
        return view;
    const QString file = previewFilePath(form);
    const QString helper = host == WebViewHost::Helper ? previewHelper() : QString();
    QWidget *view = nullptr;
    if (!helper.isEmpty()) {
        auto *remote = new RemoteWebView(helper, file, isX11(), form.WebBrowser1);
        // Only a helper that cannot run at all leaves the engine to the program: once loaded, it
        // would stay in the program until its end.
        if (remote->helperId()) {
            view = remote;
            // One that ends on its own (killed, or crashed on a page) takes its view along; the
            // text view shows the message meanwhile, and the next preview starts another helper.
            QObject::connect(remote, &RemoteWebView::ended, &form, [&form, remote = QPointer<RemoteWebView>(remote)] {
                if (!remote || previewView(form) != remote)
                    return;
                releasePreviewView(form);
                if (previewPaneOpen(form))
                    form.Panel1->show();
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
        view = create(file, form.WebBrowser1);
    }
    view->setObjectName(QStringLiteral("WebView"));
    if (!form.findChild<QObject *>(QStringLiteral("EscapeFromThePane"), Qt::FindDirectChildrenOnly))
        new EscapeFromThePane(form);
    if (auto *remote = qobject_cast<RemoteWebView *>(view))
        QObject::connect(remote, &RemoteWebView::escaped, &form, [&form] {
            if (previewPaneOpen(form))
                guarded([&form] { closePreviewPane(form); });
        }, Qt::QueuedConnection);
    if (!form.WebBrowser1->layout())
        (new QVBoxLayout(form.WebBrowser1))->setContentsMargins(0, 0, 0, 0);
    form.WebBrowser1->layout()->addWidget(view);
    form.WebBrowser1->setFocusProxy(view);
    view->show();
    if (auto *remote = qobject_cast<RemoteWebView *>(view))
        remote->hideUnder(form.Panel1);
    return view;
}

void releasePreviewView(TForm1 &form)
{
    form.WebBrowser1->setFocusProxy(nullptr);
    delete previewView(form);
}

QString previewFilePath(TForm1 &form)
{
    if (form.previewFolder.isEmpty())
        form.previewFolder = folders::privateFolderIn(form.tempFolder);
    return form.previewFolder.isEmpty() ? QString() : folders::join(form.previewFolder, TForm1::PreviewFileName);
}

void writeAndShow(TForm1 &form, const QString &text)
{
    const QString path = previewFilePath(form);
    if (path.isEmpty() || !writePreviewFile(path, text)) {
        prompter().beep();
        if (!path.isEmpty())
            QFile::remove(path);
    }
    pumpEvents();
    // Also when the file was not written: the view then shows that there is nothing.
    if (QWidget *view = previewView(form))
        QMetaObject::invokeMethod(view, "showFile");
}

void previewMessage(TForm1 &form, int r)
{
    const MailAccount account = form.account();
    if (refusedWhileBusy() || refusedForAnotherAccount(*form.list, account))
        return;
    // Held from the start, so that a timer's scan waits until the pane is filled.
    ServerOperation op;

    form.BitBtn5->hide();
    form.setGridColour(PreviewGridColour);
    pumpEvents();
    form.SG1->setEnabled(false);
    if (!previewPaneOpen(form)) {
        openPreviewPane(form);
        pumpEvents();
    }
    ensurePreviewView(form);

    try {
        const auto session = makeMailboxSession(account);
        openSession(*session, account, form.dataFolder, MailboxSession::Access::Read);
        pumpEvents();
        const MailMessage mail = MailMessage::parse(session->message(r, form.list->uid(r)));

        form.Edit11->setText(mail.senderText());
        form.Edit12->setText(mail.recipients());
        form.Edit13->setText(scan::shortDate(mail.date()));
        form.Edit14->setText(scan::longTime(mail.date()));
        form.Edit17->setText(mail.subject());
        // Each field read from its start, as typed text would be: a long sender's name first.
        for (QLineEdit *field : {form.Edit11, form.Edit12, form.Edit17})
            field->setCursorPosition(0);

        form.Memo2->clear();
        // A multipart message's body is the preamble that mail programs never show ("This is a
        // multi-part message in MIME format."): the text view starts with the parts.
        if (mail.parts().isEmpty())
            addToMemo(form.Memo2, mail.body());
        pumpEvents();
        // The memo's whole length decides, but the file gets the body alone.
        writeOrShowLength(form, mail.body(), memoLength(form.Memo2));

        const QString type = mail.contentType();
        if (type == QLatin1String("multipart/mixed") || type == QLatin1String("text/html")) {
            form.Panel1->hide();
            form.WebBrowser1->setFocus();
        } else {
            form.Panel1->show();
            form.Memo2->setFocus();
        }

        if (!mail.parts().isEmpty()) {
            QString viewerText;
            bool viewerHtml = false;
            for (const MailPart &part : mail.parts()) {
                if (part.kind != MailPart::Text)
                    continue;
                addToMemo(form.Memo2, part.text);
                viewerText = part.text;
                viewerHtml = part.isHtml();
            }
            pumpEvents();
            writeOrShowLength(form, viewerText, viewerText.size());
            // A text mail with an attachment reads as written, its line breaks kept, not as a
            // page that would run its lines together.
            if (type == QLatin1String("multipart/mixed") && !viewerText.isEmpty() && !viewerHtml) {
                form.Panel1->show();
                form.Memo2->setFocus();
            }
        }

        QTextCursor start = form.Memo2->textCursor();
        start.movePosition(QTextCursor::Start);
        form.Memo2->setTextCursor(start);
        form.Memo2->ensureCursorVisible();

        session->close();

        // Not when the pane was closed during the download: the button would stand alone over
        // the list and save whichever row is current by then.
        const QString pj = form.list->cell(r, MessageList::Attachments);
        if (attachmentCount(pj) > 0 && previewPaneOpen(form)) {
            form.BitBtn5->setText(QStringLiteral("PJ = ") + pj);
            form.BitBtn5->show();
        }
    } catch (const std::exception &e) {
        prompter().information(failureBoxText(e, QStringLiteral("Erreur durant la reception de ce message")));
    }

    pumpEvents();
    prompter().beep();
}
