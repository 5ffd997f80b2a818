// SPDX-License-Identifier: GPL-3.0-or-later
// Starts Pelicorde on a throwaway account: a private Dovecot on loopback holding a small French
// mailbox, a blacklist that catches its spam, and a data folder whose favourite points at that
// server. Closing the window stops the server and removes the throwaway folders.
//
//   pelicorde_demo                      the program, as a user would see it
//   pelicorde_demo --screenshot FILE    saves the main window after the first scan, then quits
//   pelicorde_demo imap                 the same mailbox over IMAP
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <unistd.h>

#include "app/Startup.h"
#include "preview/EngineArguments.h"
#include "core/AccountFile.h"
#include "support/DemoMailbox.h"
#include "support/DovecotServer.h"
#include "window/PelicordeFP.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] auto n = ::write(g_signalPipe[1], &c, 1);
}

// Ctrl-C in the terminal ends the demo like closing its window, so the server is stopped.
void quitOnSignals()
{
    if (::pipe(g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] { QCoreApplication::quit(); });
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
}

bool prepareDataFolder(const QString &appData, const DovecotServer &dovecot, bool imap)
{
    const QString data = appData + QStringLiteral("/Pelicorde");
    if (!QDir().mkpath(data))
        return false;
    accounts::Account account;
    // Unprivileged ports are above 900, where the program speaks implicit TLS: the demo account
    // uses the server's TLS port (self-signed certificate, which the program does not verify).
    // Not IMAP's own port: the server field says IMAP.
    account.server = imap ? QStringLiteral("imap://") + dovecot.host() : dovecot.host();
    account.port = QString::number(imap ? dovecot.imapsPort() : dovecot.tlsPort());
    account.password = dovecot.password();
    account.address = dovecot.user();
    QFile blacklist(data + QStringLiteral("/Liste-noire.txt"));
    return accounts::writePrivateFile(accounts::favouriteFilePath(data), accounts::encodeAccount(account)) &&
           accounts::saveAccount(data, account) == accounts::SaveStatus::Saved && blacklist.open(QIODevice::WriteOnly) &&
           blacklist.write(demo::blacklist()) == demo::blacklist().size();
}

} // namespace

int main(int argc, char **argv)
{
    EngineArguments &engine = prepareApplication(argc, argv);
    QApplication app(engine.argc(), engine.argv());
    QApplication::setApplicationName(QStringLiteral("Pelicorde"));
    const QStringList args = QCoreApplication::arguments();
    const int shotAt = int(args.indexOf(QStringLiteral("--screenshot")));
    const QString screenshot = shotAt > 0 && shotAt + 1 < args.size() ? args[shotAt + 1] : QString();
    const bool imap = args.contains(QStringLiteral("imap"));

    std::printf("Pelicorde demo: starting a private %s server on 127.0.0.1...\n", imap ? "IMAP" : "POP3");
    DovecotServer dovecot;
    if (!dovecot.start()) {
        std::fprintf(stderr, "Pelicorde demo: Dovecot did not start: %s\n", qPrintable(dovecot.errorText()));
        return 1;
    }
    dovecot.setMessages(demo::messages());

    QTemporaryDir appData, temp;
    if (!appData.isValid() || !temp.isValid() || !prepareDataFolder(appData.path(), dovecot, imap)) {
        std::fprintf(stderr, "Pelicorde demo: could not prepare the throwaway data folder\n");
        return 1;
    }
    qputenv("APPDATA", QFile::encodeName(appData.path()));
    qputenv("TEMP", QFile::encodeName(temp.path()));
    std::printf("Pelicorde demo: %lld messages on 127.0.0.1:%d, account %s; close the window to end.\n",
                qlonglong(demo::messages().size()), imap ? dovecot.imapsPort() : dovecot.tlsPort(),
                qPrintable(dovecot.user()));

    quitOnSignals();
    createWindows();
    // With a TLS account no scan runs at start; the demo presses "Réception des messages" once
    // the window is up, as its user would.
    auto *firstScan = new QTimer(&app);
    QObject::connect(firstScan, &QTimer::timeout, &app, [firstScan] {
        if (!Form1 || Form1->firstShow || !Form1->isVisible())
            return;
        firstScan->stop();
        if (Form1->CheckBox2->isChecked())
            Form1->BitBtn2Click();
    });
    firstScan->start(100);
    if (!screenshot.isEmpty()) {
        // The first scan ends by writing the status line.
        auto *poll = new QTimer(&app);
        QObject::connect(poll, &QTimer::timeout, &app, [poll, screenshot] {
            if (!Form1 || Form1->StatusBar1->currentMessage().isEmpty())
                return;
            poll->stop();
            QTimer::singleShot(300, qApp, [screenshot] {
                const bool saved = Form1->grab().save(screenshot);
                std::printf("Pelicorde demo: %s %s\n", saved ? "saved" : "could not save", qPrintable(screenshot));
                Form1->close();
            });
        });
        poll->start(100);
    }
    QApplication::exec();
    destroyWindows();
    dovecot.stop();
    std::printf("Pelicorde demo: server stopped, throwaway folders removed.\n");
    return 0;
}
