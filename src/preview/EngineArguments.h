// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The web engine's command line, shared by the program (whose engine shows the preview where no
// helper can) and pelicorde-preview. Chromium takes its switches from the command line after
// "--webEngineArgs", unless QTWEBENGINE_CHROMIUM_FLAGS is set: that variable then replaces them
// all, cut at every blank, so that no switch given through it may hold one. The variable is
// therefore read here, its switches moved onto the command line, and it is unset.
#include <QByteArray>
#include <QByteArrayList>
#include <QStringList>
#include <unistd.h>
#include <vector>

class EngineArguments
{
public:
    // argv as given, then "--webEngineArgs", ownFlags, the user's QTWEBENGINE_CHROMIUM_FLAGS
    // (they win over ours), and last the rule that keeps the engine off the network's names:
    // every host name resolves to nothing, without a look-up. The preview has no business with
    // any server, and a page that asks for DNS prefetching (a name per recipient) would
    // otherwise tell its sender when the mail was read.
    EngineArguments(int argc, char **argv, const QByteArrayList &ownFlags)
    {
        for (int i = 0; i < argc; ++i)
            m_words << argv[i];
        m_words << "--webEngineArgs" << ownFlags;
        for (const QByteArray &flag : qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").split(' '))
            if (!flag.isEmpty())
                m_words << flag;
        qunsetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        m_words << "--host-resolver-rules=MAP * ~NOTFOUND";
        for (QByteArray &word : m_words)
            m_pointers.push_back(word.data());
        m_pointers.push_back(nullptr);
        m_argc = int(m_words.size());
    }
    EngineArguments(const EngineArguments &) = delete;
    EngineArguments &operator=(const EngineArguments &) = delete;

    // For QApplication, which keeps both for its whole life.
    int &argc() { return m_argc; }
    char **argv() { return m_pointers.data(); }

    // What every process of the program gives its engine: Chromium's own chatter kept off the
    // terminal but for what is fatal, and its sandbox off under root, which Chromium refuses.
    static QByteArrayList programFlags()
    {
        QByteArrayList flags{"--log-level=3"};
        if (::geteuid() == 0)
            flags << "--no-sandbox";
        return flags;
    }

    // The arguments before "--webEngineArgs": the ones the program itself reads.
    static QStringList ownArguments(const QStringList &arguments)
    {
        const qsizetype end = arguments.indexOf(QStringLiteral("--webEngineArgs"));
        return end < 0 ? arguments : arguments.first(end);
    }

private:
    QByteArrayList m_words;
    std::vector<char *> m_pointers;
    int m_argc = 0;
};
