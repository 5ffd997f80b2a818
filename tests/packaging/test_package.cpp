// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QXmlStreamReader>

// The Debian package as a user gets it: the desktop entry and the AppStream description pass
// their validators, and the .deb made from the built program holds what the desktop needs and
// depends on the libraries the program links.
class PackageTest : public QObject
{
    Q_OBJECT

    const QString m_source = qEnvironmentVariable("PELICORDE_TEST_SOURCE_DIR");
    static inline const QString MetainfoName = QStringLiteral("example.pelicorde.Pelicorde.metainfo.xml");

    struct Run
    {
        int exitCode = -1;
        QString output;
    };

    static Run run(const QString &program, const QStringList &arguments)
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, arguments);
        if (!process.waitForFinished(240000))
            return {-1, program + QStringLiteral(" did not finish: ") + process.errorString()};
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromLocal8Bit(process.readAll())};
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
    void metadataPassesTheValidators_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("desktop entry") << QStringLiteral("desktop-file-validate")
                                       << QStringList{m_source + QStringLiteral("/data/pelicorde.desktop")};
        QTest::newRow("AppStream") << QStringLiteral("appstreamcli")
                                   << QStringList{QStringLiteral("validate"), QStringLiteral("--no-net"),
                                                  m_source + QStringLiteral("/data/") + MetainfoName};
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

    // What the validator cannot know: the description launches the entry that ships, and its
    // screenshot is the project's own.
    void metainfoPointsAtTheProject()
    {
        const QByteArray xml = contents(m_source + QStringLiteral("/data/") + MetainfoName);
        QCOMPARE(elements(xml, QStringLiteral("id")), QStringList{MetainfoName.chopped(int(strlen(".metainfo.xml")))});
        QCOMPARE(elements(xml, QStringLiteral("launchable")), QStringList{QStringLiteral("pelicorde.desktop")});
        const QStringList images = elements(xml, QStringLiteral("image"));
        QCOMPARE(images.size(), 1);
        QVERIFY2(images.first().endsWith(QLatin1String("/docs/screenshot.png")), qPrintable(images.first()));
        QVERIFY(QFile::exists(m_source + QStringLiteral("/docs/screenshot.png")));
        QCOMPARE(elements(xml, QStringLiteral("name")), (QStringList{QStringLiteral("Pelicorde")}));
        QVERIFY(xml.contains("<summary xml:lang=\"fr\">Supprimer les spams sur le serveur POP3"));
    }

    // Made by CPack from the build, unpacked with dpkg -x into a scratch root.
    void packageHoldsWhatTheDesktopNeeds()
    {
        QTemporaryDir scratch;
        QVERIFY(scratch.isValid());
        const Run cpack = run(QStringLiteral("cpack"),
                              {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
                               QStringLiteral(PELICORDE_BUILD_DIR "/CPackConfig.cmake"), QStringLiteral("-B"),
                               scratch.path()});
        QVERIFY2(cpack.exitCode == 0, qPrintable(cpack.output));

        const Run arch = run(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")});
        QCOMPARE(arch.exitCode, 0);
        const QString deb = scratch.filePath(QStringLiteral("pelicorde_" PELICORDE_VERSION "_") + arch.output.trimmed()
                                             + QStringLiteral(".deb"));
        QVERIFY2(QFile::exists(deb), qPrintable(QDir(scratch.path()).entryList(QDir::Files).join(u' ')));

        const QString root = scratch.filePath(QStringLiteral("root"));
        const Run unpack = run(QStringLiteral("dpkg"), {QStringLiteral("-x"), deb, root});
        QVERIFY2(unpack.exitCode == 0, qPrintable(unpack.output));
        QStringList files;
        QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next().mid(root.size());
        files.sort();
        QStringList expected{
            QStringLiteral("/usr/bin/pelicorde"),
            QStringLiteral("/usr/bin/pelicorde-check"),
            // The preview's web view, loaded on the first preview.
            QStringLiteral("/usr/lib/pelicorde/libpelicorde_webview.so"),
            QStringLiteral("/usr/share/applications/pelicorde.desktop"),
            QStringLiteral("/usr/share/icons/hicolor/scalable/apps/pelicorde.svg"),
            QStringLiteral("/usr/share/metainfo/") + MetainfoName,
        };
        for (const int size : {16, 32, 48, 64, 128, 256})
            expected << QStringLiteral("/usr/share/icons/hicolor/%1x%1/apps/pelicorde.png").arg(size);
        expected.sort();
        QCOMPARE(files, expected);
        QVERIFY(QFileInfo(root + QStringLiteral("/usr/bin/pelicorde")).isExecutable());
        // The validated files are the ones that ship.
        QCOMPARE(contents(root + QStringLiteral("/usr/share/applications/pelicorde.desktop")),
                 contents(m_source + QStringLiteral("/data/pelicorde.desktop")));
        QCOMPARE(contents(root + QStringLiteral("/usr/share/metainfo/") + MetainfoName),
                 contents(m_source + QStringLiteral("/data/") + MetainfoName));

        const Run depends = run(QStringLiteral("dpkg-deb"), {QStringLiteral("--field"), deb, QStringLiteral("Depends")});
        QCOMPARE(depends.exitCode, 0);
        for (const char *library : {"libqt6widgets6", "libqt6network6", "libqt6dbus6", "libqt6webenginewidgets6",
                                    "libqt6webenginecore6", "libgmime-3.0-0", "libc6"})
            QVERIFY2(depends.output.contains(QLatin1String(library) + QLatin1Char(' '))
                         || depends.output.contains(QLatin1String(library) + QLatin1Char(',')),
                     qPrintable(library + QStringLiteral(" missing from: ") + depends.output));
        QVERIFY2(depends.output.contains(QLatin1String("qt6-translations-l10n")), qPrintable(depends.output));
    }
};

QTEST_GUILESS_MAIN(PackageTest)
#include "test_package.moc"
