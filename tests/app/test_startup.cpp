// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>
#include <QSystemTrayIcon>
#include <QStatusBar>

#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QFile>
#include <QPlainTextEdit>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTimer>
#include <memory>
#include <pwd.h>
#include <unistd.h>

#include "app/Startup.h"
#include "support/TestFiles.h"
#include "tray/Tray.h"
#include "mailbox/MessageList.h"
#include "preview/Preview.h"
#include "preview/RemoteWebView.h"
#include "support/RecordingPrompter.h"
#include "support/WindowFixture.h"
#include "window/Controls.h"
#include "window/PelicordeFP.h"
#include "window/PelicordeFS1.h"

// The creation, show and close steps of the main window, and the start-up of both windows.
// Every case points APPDATA and TEMP (or the XDG folders) at folders of its own.
class StartupTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_root;
    RecordingPrompter m_prompter;

    QString path(const QString &name) const { return m_root->filePath(name); }

    // Whether a library whose file name matches pattern is mapped into this process.
    static bool mapped(const QString &pattern)
    {
        QFile maps(QStringLiteral("/proc/self/maps"));
        return maps.open(QIODevice::ReadOnly)
               && QRegularExpression(pattern).match(QString::fromLatin1(maps.readAll())).hasMatch();
    }

    // The running processes descended from root, root included; a zombie has ended.
    static QStringList processTree(qint64 root)
    {
        QMultiHash<QString, QString> children;
        QStringList tree{QString::number(root)}, running;
        for (const QString &pid : QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs)) {
            QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
            const QByteArray stat = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
            const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' '); // state, parent
            if (fields.size() > 1 && fields[0] != "Z")
                children.insert(QString::fromLatin1(fields[1]), pid), running << pid;
        }
        for (qsizetype i = 0; i < tree.size(); ++i)
            tree << children.values(tree[i]);
        tree.removeIf([&](const QString &pid) { return !running.contains(pid); });
        return tree;
    }

    std::unique_ptr<TForm1> newWindow()
    {
        return std::make_unique<TForm1>(QSize(1024, 768));
    }

private slots:
    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir().mkdir(path("appdata")));
        QVERIFY(QDir().mkdir(path("temp")));
        qputenv("APPDATA", path("appdata").toLocal8Bit());
        qputenv("TEMP", path("temp").toLocal8Bit());
        m_prompter.reset();
    }

    void cleanup() { m_root.reset(); }

    void missingDataFolderIsCreatedAndFirstShowRuns()
    {
        auto form = newWindow();
        QCOMPARE(form->dataFolder, path("appdata/Pelicorde"));
        QCOMPARE(form->tempFolder, path("temp"));
        QVERIFY(QFileInfo(form->dataFolder).isDir());
        QVERIFY(m_prompter.errors.isEmpty());
        QVERIFY(form->firstShow);
        QVERIFY(form->SG1->isColumnHidden(MessageList::AttachmentNames));

        form->show();
        QTRY_VERIFY(!form->firstShow);
        QVERIFY(form->Timer2->isActive());
        QVERIFY(!form->Timer1->isActive());
        QVERIFY(m_prompter.errors.isEmpty());
        QVERIFY(m_prompter.infos.isEmpty());

        // A later show (the return from the tray) runs the show step again, not the first-show actions.
        form->Timer2->stop();
        form->Timer1->start();
        form->list->setCell(0, 0, QString());
        form->hide();
        form->show();
        QTRY_COMPARE(form->list->cell(0, 0), QStringLiteral("Reçu de"));
        QVERIFY(!form->Timer1->isActive());
        QVERIFY(!form->Timer2->isActive());
    }

    void existingDataFolderIsKeptQuietly()
    {
        QVERIFY(QDir().mkdir(path("appdata/Pelicorde")));
        QFile keep(path("appdata/Pelicorde/Liste-noire.txt"));
        QVERIFY(keep.open(QIODevice::WriteOnly));
        keep.write("x\t00/00/0000\r\n");
        keep.close();
        auto form = newWindow();
        QVERIFY(m_prompter.errors.isEmpty());
        QVERIFY(form->firstShow);
        QCOMPARE(keep.size(), qint64(14));
    }

    void fileInTheWayReportsAndSkipsTheRest()
    {
        QFile blocker(path("appdata/Pelicorde"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();

        auto form = newWindow();
        QCOMPARE(m_prompter.errors, QStringList{QStringLiteral("Impossible de créer le répertoire Roaming.")});
        QVERIFY(QFileInfo(path("appdata/Pelicorde")).isFile());
        QVERIFY(!form->firstShow);
        QVERIFY(!form->SG1->isColumnHidden(MessageList::AttachmentNames));
        QCOMPARE(form->SG1->columnWidth(MessageList::AttachmentNames), 10);

        form->show();
        QTRY_COMPARE(form->list->cell(0, 5), QStringLiteral("Supr"));
        QVERIFY(!form->Timer2->isActive());
        QVERIFY(form->SG1->isEnabled());
        QCOMPARE(m_prompter.errors.size(), 1);
    }

    void missingParentFolderReports()
    {
        qputenv("APPDATA", path("nowhere").toLocal8Bit());
        auto form = newWindow();
        QCOMPARE(m_prompter.errors, QStringList{QStringLiteral("Impossible de créer le répertoire Roaming.")});
        QVERIFY(!QFileInfo::exists(path("nowhere")));
    }

    // Without APPDATA and TEMP the per-user locations stand in, never the root of the file system.
    void unsetEnvironmentUsesPerUserFolders()
    {
        const QByteArray oldData = qgetenv("XDG_DATA_HOME"), oldRuntime = qgetenv("XDG_RUNTIME_DIR");
        qunsetenv("APPDATA");
        qunsetenv("TEMP");
        qputenv("XDG_DATA_HOME", path("home/.local/share").toLocal8Bit());
        QVERIFY(QDir().mkdir(path("runtime")));
        QVERIFY(QFile::setPermissions(path("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        qputenv("XDG_RUNTIME_DIR", path("runtime").toLocal8Bit());

        auto form = newWindow();
        auto restore = qScopeGuard([&] {
            qputenv("XDG_DATA_HOME", oldData);
            if (oldRuntime.isEmpty())
                qunsetenv("XDG_RUNTIME_DIR");
            else
                qputenv("XDG_RUNTIME_DIR", oldRuntime);
        });
        QVERIFY(m_prompter.errors.isEmpty());
        QCOMPARE(form->dataFolder, path("home/.local/share/Pelicorde"));
        QVERIFY(QFileInfo(form->dataFolder).isDir());
        QCOMPARE(form->tempFolder, path("runtime"));
        QVERIFY(form->firstShow);
    }

    // A runtime folder Qt will not use (here: files in the way of both candidates) gives no
    // empty temp folder, which would put the preview file at the root of the file system.
    void unusableRuntimeFolderFallsBackToAPrivateCacheFolder()
    {
        const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR"), oldTmp = qgetenv("TMPDIR"),
                         oldCache = qgetenv("XDG_CACHE_HOME");
        auto restore = qScopeGuard([&] {
            for (const auto &[name, value] : {std::pair{"XDG_RUNTIME_DIR", oldRuntime}, std::pair{"TMPDIR", oldTmp},
                                              std::pair{"XDG_CACHE_HOME", oldCache}}) {
                if (value.isEmpty())
                    qunsetenv(name);
                else
                    qputenv(name, value);
            }
        });
        qunsetenv("TEMP");
        QVERIFY(QDir().mkdir(path("tmp")));
        const QString user = QString::fromLocal8Bit(getpwuid(geteuid())->pw_name);
        for (const QString &squat : {path("runtime-file"), path("tmp/runtime-") + user}) {
            QFile f(squat);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        qputenv("XDG_RUNTIME_DIR", path("runtime-file").toLocal8Bit());
        qputenv("TMPDIR", path("tmp").toLocal8Bit());
        qputenv("XDG_CACHE_HOME", path("cache").toLocal8Bit());

        auto form = newWindow();
        QCOMPARE(form->tempFolder, path("cache/Pelicorde"));
        QVERIFY(QFileInfo(form->tempFolder).isDir());
        QCOMPARE(QFile::permissions(form->tempFolder) & 0x0077, QFileDevice::Permissions());
    }

    void closeRemovesThePreviewFile()
    {
        auto form = newWindow();
        const QString preview = form->pane->filePath();
        QVERIFY(preview.startsWith(path("temp/pelicorde-")));
        QFile file(preview);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<html>spam</html>");
        file.close();
        form->show();
        QSignalSpy closed(form.get(), &TForm1::closed);
        QVERIFY(form->close());
        QCOMPARE(closed.count(), 1);
        QVERIFY(!QFileInfo::exists(preview));
        QVERIFY(!QFileInfo::exists(form->previewFolder)); // the program's own folder goes too
        QVERIFY(QFileInfo(path("temp")).isDir());

        // Closed from the tray menu while hidden: the close step runs all the same.
        auto hidden = newWindow();
        QSignalSpy hiddenClosed(hidden.get(), &TForm1::closed);
        QCOMPARE(hidden->pane->filePath(), preview);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        hidden->close();
        QCOMPARE(hiddenClosed.count(), 1);
        QVERIFY(!QFileInfo::exists(preview));
    }

    // A link in place of the preview file goes; what it points at stays.
    void closeRemovesALinkNotItsTarget()
    {
        auto form = newWindow();
        QFile target(path("keep.txt"));
        QVERIFY(target.open(QIODevice::WriteOnly));
        target.write("mine");
        target.close();
        const QString preview = form->pane->filePath();
        QVERIFY(QFile::link(path("keep.txt"), preview));
        form->FormClose();
        QVERIFY(!QFileInfo(preview).isSymLink());
        QVERIFY(QFileInfo::exists(path("keep.txt")));

        // Nothing there: the close step does nothing and reports nothing.
        form->FormClose();
        QVERIFY(m_prompter.errors.isEmpty());
    }

    // Qt's own texts speak French whatever the locale, an edit field's menu for one.
    void qtTextsInFrench()
    {
        installQtTranslations();
        QLineEdit field(QStringLiteral("texte"));
        const std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
        QStringList items;
        for (QAction *a : menu->actions())
            items << a->text().remove(QLatin1Char('&')).section(QLatin1Char('\t'), 0, 0);
        QCOMPARE(items.join(QLatin1Char('|')),
                 QStringLiteral("Annuler|Rétablir||Couper|Copier|Coller|Supprimer||Tout sélectionner"));
    }

    void startUpCreatesBothWindows()
    {
        createWindows(QSize(1024, 768));
        auto destroy = qScopeGuard([] { destroyWindows(); });
        QVERIFY(Form1);
        QVERIFY(Form2);
        QVERIFY(Form1->isVisible());
        QVERIFY(Form2->isHidden());
        QTRY_VERIFY(!Form1->firstShow);

        // Every show of the main window hides the editor, keeping its text.
        Form2->show();
        Form2->Memo1->setPlainText(QStringLiteral("unsaved"));
        Form1->hide();
        Form1->show();
        QTRY_VERIFY(Form2->isHidden());
        QCOMPARE(Form2->Memo1->toPlainText(), QStringLiteral("unsaved"));

        destroy.dismiss();
        destroyWindows();
        QCOMPARE(Form1, nullptr);
        QCOMPARE(Form2, nullptr);
    }

    // Started with the session ("--tray"): straight into the notification area, or minimised
    // where there is none, checking the mail as usual and asking nobody anything. The option
    // in the window writes the session's autostart entry, kept across starts, and removes it.
    void startsWithTheSessionIntoTheTray()
    {
        qputenv("XDG_CONFIG_HOME", path("config").toLocal8Bit());
        for (bool (*tray)() : {+[] { return true; }, +[] { return false; }}) {
            setTrayAvailabilityCheck(tray);
            createWindows(QSize(1024, 768), StartMode::Tray);
            auto destroy = qScopeGuard([] {
                destroyWindows();
                setTrayAvailabilityCheck(nullptr);
            });
            QTRY_VERIFY(Form1->Timer2->isActive());
            QVERIFY(!Form1->firstShow);
            if (tray())
                QVERIFY(!Form1->isVisible() && Form1->trayIcon && Form1->trayIcon->isVisible());
            else
                QTRY_VERIFY(Form1->isMinimized());
            QVERIFY(m_prompter.infos.isEmpty()); // the empty account: a beep and the status line
            QVERIFY(Form1->StatusBar1->currentMessage().contains(QStringLiteral("compte de réception incomplet")));
        }
        const QString entry = path("config/autostart/pelicorde.desktop");
        auto form = newWindow();
        QVERIFY(!form->CheckBox3->isChecked());
        form->CheckBox3->click();
        QVERIFY(readBytes(entry).contains("\nExec=" + QFile::encodeName(QCoreApplication::applicationFilePath())
                                          + " --tray\n"));
        QVERIFY(newWindow()->CheckBox3->isChecked());
        form->CheckBox3->click();
        QVERIFY(!QFileInfo::exists(entry));
        QVERIFY(!newWindow()->CheckBox3->isChecked());
    }

    // The web engine costs nothing until the first preview: the program starts and scans
    // without it or a graphics driver, and the preview's view brings it when first needed.
    void webEngineComesWithTheFirstPreview()
    {
        createWindows(QSize(1024, 768));
        auto destroy = qScopeGuard([] { destroyWindows(); });
        QTRY_VERIFY(!Form1->firstShow);
        const QString engine = QStringLiteral("libQt6WebEngineCore");
        QVERIFY(!mapped(engine));
        QVERIFY(!mapped(QStringLiteral("_dri\\.so|libGLX_mesa|libEGL_mesa|libgallium")));
        QVERIFY(!Form1->pane->view());

        // Nothing reaches the terminal meanwhile, from Qt (its own handler put back) or from Chromium.
        const QtMessageHandler testLog = qInstallMessageHandler(nullptr);
        QTemporaryFile terminal;
        QVERIFY(terminal.open());
        const int stderrFd = dup(STDERR_FILENO);
        dup2(terminal.handle(), STDERR_FILENO);
        auto restore = qScopeGuard([&] { dup2(stderrFd, STDERR_FILENO), qInstallMessageHandler(testLog); });

        // The engine runs in pelicorde-preview, which ends with the pane, and all it started.
        auto *remote = qobject_cast<RemoteWebView *>(ensurePreviewView(*Form1->pane));
        QVERIFY(remote);
        QCOMPARE(Form1->pane->view(), remote);
        QSignalSpy shown(remote, &RemoteWebView::loadFinished);
        writeAndShow(*Form1->pane, QStringLiteral("<html><body><p>Bonjour</p></body></html>"));
        QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), 60000);
        QCOMPARE(shown.first().first().toBool(), true);
        const QStringList helpers = processTree(remote->helperId());
        QVERIFY2(helpers.size() > 2, qPrintable(helpers.join(' '))); // the engine's own processes
        QVERIFY(!mapped(engine));
        Form1->pane->close();
        QVERIFY(!Form1->pane->view());
        QTRY_VERIFY_WITH_TIMEOUT(processTree(helpers.first().toLongLong()).isEmpty(), 10000);
        // The engine's own processes follow their parent within moments.
        for (const QString &pid : helpers)
            QTRY_VERIFY2_WITH_TIMEOUT(!processTree(pid.toLongLong()).size(), qPrintable(pid), 10000);

        // Where no helper runs, the program loads the engine itself.
        QWidget *view = ensurePreviewView(*Form1->pane, WebViewHost::InProcess);
        QVERIFY(view);
        QCOMPARE(view->metaObject()->className(), "SafeWebView");
        QCOMPARE(Form1->pane->view(), view);
        QVERIFY(mapped(engine));

        // The view loaded this way shows a page.
        QObject *page = nullptr;
        for (QObject *child : view->findChildren<QObject *>())
            if (QLatin1String(child->metaObject()->className()) == QLatin1String("PreviewPage"))
                page = child;
        QVERIFY(page);
        QSignalSpy loaded(page, SIGNAL(loadFinished(bool)));
        writeAndShow(*Form1->pane, QStringLiteral("<html><body><p>Bonjour</p></body></html>"));
        QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty(), 60000);
        QCOMPARE(loaded.first().first().toBool(), true);

        fflush(stderr);
        terminal.seek(0);
        // Without a display the engine finds no OpenGL, and says so; a desktop has one.
        QCOMPARE(QString::fromLocal8Bit(terminal.readAll()).remove(QStringLiteral("No suitable graphics backend found\n\n")),
                 QString());
    }
};

PELICORDE_TEST_MAIN(StartupTest)
#include "test_startup.moc"
