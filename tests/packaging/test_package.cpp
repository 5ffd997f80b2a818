// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>

// The Debian package as a user gets it: the desktop entry and the AppStream description pass
// their validators, and the .deb made from the built program passes lintian, holds what the
// desktop needs, depends on the libraries the program links, and tells what it is.
class PackageTest : public QObject
{
    Q_OBJECT

    const QString m_source = qEnvironmentVariable("PELICORDE_TEST_SOURCE_DIR");
    static inline const QString MetainfoName = QStringLiteral("example.pelicorde.Pelicorde.metainfo.xml");
    const QString m_metainfo = QStringLiteral(PELICORDE_BUILD_DIR "/data/") + MetainfoName;
    QTemporaryDir m_scratch;
    QString m_deb;  // made by CPack from the build, as `--target package` would
    QString m_root; // the .deb unpacked with dpkg -x

    struct Run
    {
        int exitCode = -1;
        QString output;
    };

    // stderr apart when errors is given.
    static Run run(const QString &program, const QStringList &arguments, int timeoutMs = 240000,
                   QString *errors = nullptr)
    {
        QProcess process;
        if (!errors)
            process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, arguments);
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished();
            return {-1, program + QStringLiteral(" did not finish: ") + process.errorString()};
        }
        if (errors)
            *errors = QString::fromUtf8(process.readAllStandardError());
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput())};
    }

    // The versions NEWS.md describes, newest first.
    QStringList newsVersions() const
    {
        QStringList versions;
        static const QRegularExpression heading(QStringLiteral("^## ([0-9.]+) \\("),
                                                QRegularExpression::MultilineOption);
        for (const auto &m : heading.globalMatch(QString::fromUtf8(contents(m_source + QStringLiteral("/NEWS.md")))))
            versions << m.captured(1);
        return versions;
    }

    // A .deb made by CPack from the build into folder, as `--target package` would; its path.
    QString pack(const QString &folder)
    {
        const Run cpack = run(QStringLiteral("cpack"), {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
                                                        QStringLiteral(PELICORDE_BUILD_DIR "/CPackConfig.cmake"),
                                                        QStringLiteral("-B"), folder});
        const QString arch = run(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")}).output.trimmed();
        const QString deb = folder + QStringLiteral("/pelicorde_" PELICORDE_DEB_VERSION "_") + arch + QStringLiteral(".deb");
        return cpack.exitCode == 0 && QFile::exists(deb) ? deb : cpack.output;
    }

    static QByteArray contents(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Every <tag> text of the metainfo, in order.
    static QStringList elements(const QByteArray &xml, const QString &tag)
    {
        QStringList texts;
        QXmlStreamReader reader(xml);
        while (!reader.atEnd()) {
            if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == tag)
                texts << reader.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        }
        return texts;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_scratch.isValid());
        qunsetenv("SOURCE_DATE_EPOCH");
        m_deb = pack(m_scratch.path());
        QVERIFY2(m_deb.endsWith(QLatin1String(".deb")), qPrintable(m_deb));
        m_root = m_scratch.filePath(QStringLiteral("root"));
        const Run unpack = run(QStringLiteral("dpkg"), {QStringLiteral("-x"), m_deb, m_root});
        QVERIFY2(unpack.exitCode == 0, qPrintable(unpack.output));
    }

    // No error, warning or information: hardening, stripping, French words taken for typos.
    void lintianFindsNothing()
    {
#ifndef PELICORDE_RELEASE_BUILD
        QSKIP("a sanitizer or debug build is neither hardened nor shipped");
#endif
        const Run lintian = run(QStringLiteral("lintian"), {QStringLiteral("--display-info"), m_deb});
        const QStringList findings =
            lintian.output.split(u'\n').filter(QRegularExpression(QStringLiteral("^[EWI]: ")));
        QVERIFY2(findings.isEmpty(), qPrintable(lintian.output));
        QVERIFY2(lintian.exitCode == 0, qPrintable(lintian.output));
    }

    void metadataPassesTheValidators_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("desktop entry") << QStringLiteral("desktop-file-validate")
                                       << QStringList{m_source + QStringLiteral("/data/pelicorde.desktop")};
        QTest::newRow("AppStream") << QStringLiteral("appstreamcli")
                                   << QStringList{QStringLiteral("validate"), QStringLiteral("--no-net"), m_metainfo};
    }

    void metadataPassesTheValidators()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        const Run result = run(program, arguments);
        QVERIFY2(result.exitCode == 0, qPrintable(result.output));
        // desktop-file-validate also reports hints on success.
        QVERIFY2(!result.output.contains(QLatin1String("hint:")), qPrintable(result.output));
    }

    // What the validator cannot know: the description launches the entry and provides the programs
    // that ship, names no web address while the project has none, and its releases are NEWS.md's.
    void metainfoPointsAtTheProject()
    {
        const QByteArray xml = contents(m_metainfo);
        QCOMPARE(elements(xml, QStringLiteral("id")), QStringList{MetainfoName.chopped(int(strlen(".metainfo.xml")))});
        QCOMPARE(elements(xml, QStringLiteral("launchable")), QStringList{QStringLiteral("pelicorde.desktop")});
        QCOMPARE(elements(xml, QStringLiteral("binary")), QDir(m_root + QStringLiteral("/usr/bin")).entryList(QDir::Files));
        QVERIFY2(!QString::fromUtf8(xml).contains(QRegularExpression(QStringLiteral("https?://"))), xml.constData());
        QCOMPARE(elements(xml, QStringLiteral("name")), (QStringList{QStringLiteral("Pelicorde")}));
        QVERIFY(xml.contains("<summary xml:lang=\"fr\">Supprimer les spams sur le serveur POP3 ou IMAP"));
        QStringList releases;
        QXmlStreamReader reader(xml);
        while (!reader.atEnd())
            if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == QLatin1String("release"))
                releases << reader.attributes().value(QLatin1String("version")).toString();
        QCOMPARE(releases, newsVersions());
        QCOMPARE(releases.value(0), QStringLiteral(PELICORDE_VERSION));
    }

    void packageHoldsWhatTheDesktopNeeds()
    {
        const QString root = m_root;
        QStringList files;
        QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next().mid(root.size());
        files.sort();
        QStringList expected{
            QStringLiteral("/usr/bin/pelicorde"),
            QStringLiteral("/usr/bin/pelicorde-check"),
            // The preview's web view, loaded on the first preview.
            QStringLiteral("/usr/lib/" PELICORDE_ARCH_TRIPLET "/pelicorde/libpelicorde_webview.so"),
            // The process that shows it while the pane is open, which only the program runs.
            QStringLiteral("/usr/libexec/pelicorde/pelicorde-preview"),
            QStringLiteral("/usr/share/applications/pelicorde.desktop"),
            QStringLiteral("/usr/share/doc/pelicorde/changelog.Debian.gz"),
            QStringLiteral("/usr/share/doc/pelicorde/copyright"),
            QStringLiteral("/usr/share/man/man1/pelicorde.1.gz"),
            QStringLiteral("/usr/share/man/man1/pelicorde-check.1.gz"),
            QStringLiteral("/usr/share/icons/hicolor/scalable/apps/pelicorde.svg"),
            QStringLiteral("/usr/share/metainfo/") + MetainfoName,
            QStringLiteral("/usr/share/lintian/overrides/pelicorde"),
        };
        for (const int size : {16, 32, 48, 64, 128, 256})
            expected << QStringLiteral("/usr/share/icons/hicolor/%1x%1/apps/pelicorde.png").arg(size);
        expected.sort();
        QCOMPARE(files, expected);
        QVERIFY(QFileInfo(root + QStringLiteral("/usr/bin/pelicorde")).isExecutable());
        // The validated files are the ones that ship.
        QCOMPARE(contents(root + QStringLiteral("/usr/share/applications/pelicorde.desktop")),
                 contents(m_source + QStringLiteral("/data/pelicorde.desktop")));
        QCOMPARE(contents(root + QStringLiteral("/usr/share/metainfo/") + MetainfoName), contents(m_metainfo));

        const Run depends = run(QStringLiteral("dpkg-deb"), {QStringLiteral("--field"), m_deb, QStringLiteral("Depends")});
        QCOMPARE(depends.exitCode, 0);
        // The linked libraries; Qt's French, the captions' font, the CAs, what QtKeychain loads.
        for (const char *library : {"libqt6widgets6", "libqt6network6", "libqt6dbus6", "libqt6webenginewidgets6",
                                    "libqt6webenginecore6", "libgmime-3.0-0", "libc6", "libqt6keychain1",
                                    "qt6-translations-l10n", "fonts-liberation", "ca-certificates", "libsecret-1-0",
                                    "libqt6sql6-sqlite"})
            QVERIFY2((depends.output + u',').contains(QRegularExpression(QStringLiteral("(^|, )%1[ ,]").arg(QLatin1String(library)))),
                     qPrintable(library + QStringLiteral(" missing from: ") + depends.output));
    }

    // Two packings of one build, seconds apart, are the same bytes (SOURCE_DATE_EPOCH unset: the
    // files are dated NEWS.md's newest release, as dpkg-buildpackage takes the changelog's).
    void packageIsReproducible()
    {
        QVERIFY2(contents(pack(m_scratch.filePath(QStringLiteral("again")))) == contents(m_deb), "two packings differ");
    }

    // The installed programs answer --help and --version and stop; pelicorde-check refuses
    // anything else in one line, before any check could log in.
    void programsAnswerTheirArguments_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output"); // how stdout starts, all of it when empty
        QTest::addColumn<QString>("errors");
        const QString unknown = QStringLiteral("pelicorde-check: argument inconnu : %1 (voir pelicorde-check --help)\n");
        QTest::newRow("pelicorde --help") << "pelicorde" << QStringList{"--help"} << 0 << "Utilisation : pelicorde [" << "";
        QTest::newRow("pelicorde --version") << "pelicorde" << QStringList{"--version"} << 0
                                             << "pelicorde " PELICORDE_VERSION "\n" << "";
        QTest::newRow("check --help") << "pelicorde-check" << QStringList{"--help"} << 0
                                      << "Utilisation : pelicorde-check [--help | --version]\nRelève les en-têtes "
                                         "du compte POP3 ou IMAP favori" << "";
        QTest::newRow("check --version") << "pelicorde-check" << QStringList{"--version"} << 0
                                         << "pelicorde-check " PELICORDE_VERSION "\n" << "";
        QTest::newRow("check -v") << "pelicorde-check" << QStringList{"-v"} << 2 << "" << unknown.arg("-v");
        QTest::newRow("check word") << "pelicorde-check" << QStringList{"compte"} << 2 << "" << unknown.arg("compte");
        QTest::newRow("check --help more") << "pelicorde-check" << QStringList{"--help", "x"} << 2 << ""
                                           << unknown.arg("x");
    }

    void programsAnswerTheirArguments()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QFETCH(QString, errors);
        // A data folder with a favourite account would make a real check log in: none here.
        QTemporaryDir appData;
        qputenv("APPDATA", QFile::encodeName(appData.path()));
        QString stderrText;
        const Run result = run(m_root + QStringLiteral("/usr/bin/") + program, arguments, 30000, &stderrText);
        // Nothing on stdout where none is expected.
        QCOMPARE(output.isEmpty() ? result.output : result.output.left(output.size()), output);
        QCOMPARE(stderrText, errors);
        QCOMPARE(result.exitCode, exitCode);
    }

    // `man` shows each page, in French, with both options.
    void manualPagesRender_data()
    {
        QTest::addColumn<QString>("page");
        QTest::newRow("pelicorde") << QStringLiteral("pelicorde");
        QTest::newRow("pelicorde-check") << QStringLiteral("pelicorde-check");
    }

    void manualPagesRender()
    {
        QFETCH(QString, page);
        qputenv("MANWIDTH", "100");
        qputenv("LC_ALL", "C.UTF-8");
        QString warnings;
        const Run man = run(QStringLiteral("man"),
                            {QStringLiteral("--warnings"), QStringLiteral("-l"),
                             m_root + QStringLiteral("/usr/share/man/man1/%1.1.gz").arg(page)},
                            60000, &warnings);
        QCOMPARE(man.exitCode, 0);
        QCOMPARE(warnings, QString());
        QVERIFY2(man.output.contains(QRegularExpression(QStringLiteral("NOM\n +%1 +- ").arg(page))), qPrintable(man.output));
        for (const char *option : {"--help", "--version", "VOIR AUSSI"})
            QVERIFY2(man.output.contains(QLatin1String(option)), option);
    }

    // Machine-readable (DEP-5), GPL 3 or later, pointing at the licence Debian ships.
    void copyrightNamesTheLicence()
    {
        const QList<QByteArray> lines = contents(m_root + QStringLiteral("/usr/share/doc/pelicorde/copyright")).split('\n');
        QCOMPARE(lines.value(0), QByteArray("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"));
        QVERIFY(lines.contains("Files: *"));
        QCOMPARE(lines.count("License: GPL-3+"), 2);
        QVERIFY(lines.contains(" version 3 can be found in \"/usr/share/common-licenses/GPL-3\"."));
    }

    // dpkg reads the changelog, whose versions are NEWS.md's, the package's own first.
    void changelogFollowsTheNews()
    {
        const QString changelog = m_scratch.filePath(QStringLiteral("changelog"));
        const Run gunzip = run(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("gzip -dc \"$0\" > \"$1\""),
                                                      m_root + QStringLiteral("/usr/share/doc/pelicorde/changelog.Debian.gz"),
                                                      changelog});
        QCOMPARE(gunzip.exitCode, 0);
        const Run entries = run(QStringLiteral("dpkg-parsechangelog"), {QStringLiteral("-l"), changelog, QStringLiteral("--all"),
                                                                         QStringLiteral("--format"), QStringLiteral("rfc822")});
        QCOMPARE(entries.exitCode, 0);
        QStringList versions, expected;
        for (const QString &line : entries.output.split(u'\n'))
            if (line.startsWith(QLatin1String("Version: ")))
                versions << line.mid(9);
        for (const QString &v : newsVersions())
            expected << v + QStringLiteral("-1");
        QCOMPARE(versions, expected);
        const Run deb = run(QStringLiteral("dpkg-deb"), {QStringLiteral("--field"), m_deb, QStringLiteral("Version")});
        QCOMPARE(deb.output.trimmed(), expected.value(0));
        QVERIFY(!contents(changelog).contains('`')); // Markdown's marks stay in NEWS.md
    }

    // The installed program finds its web view library and its helper relative to itself, and
    // neither holds a path into the build it was made in.
    void webViewFoundBesideTheProgram()
    {
        const QString program = m_root + QStringLiteral("/usr/bin/pelicorde");
        const Run dynamic = run(QStringLiteral("readelf"), {QStringLiteral("-d"), program});
        QVERIFY2(dynamic.output.contains(QStringLiteral("Library runpath: [$ORIGIN/../lib/" PELICORDE_ARCH_TRIPLET "/pelicorde]")),
                 qPrintable(dynamic.output));
#ifdef PELICORDE_RELEASE_BUILD
        QVERIFY(!contents(program).contains(PELICORDE_BUILD_DIR)); // debug information names it
#endif
        // pelicorde-preview, in libexec/pelicorde, finds the library from there.
        const QString helper = m_root + QStringLiteral("/usr/libexec/pelicorde/pelicorde-preview");
        QVERIFY(QFileInfo(helper).isExecutable());
        QVERIFY2(run(QStringLiteral("readelf"), {QStringLiteral("-d"), helper})
                     .output.contains(QStringLiteral("Library runpath: [$ORIGIN/../../lib/" PELICORDE_ARCH_TRIPLET "/pelicorde]")),
                 qPrintable(helper));
        QVERIFY(!contents(helper).contains(PELICORDE_BUILD_DIR));
    }
};

QTEST_GUILESS_MAIN(PackageTest)
#include "test_package.moc"
