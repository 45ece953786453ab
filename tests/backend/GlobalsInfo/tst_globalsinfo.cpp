#include "GlobalsInfo/GlobalsInfo.h"
#include "GlobalsInfo/SettingsKeys.h"
#include "TempHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <utility>

using FolderGetter = QString (GlobalsInfo::*)() const;

class tst_GlobalsInfo final : public QObject
{
    Q_OBJECT
public:
    tst_GlobalsInfo() = default;
    Q_DISABLE_COPY_MOVE(tst_GlobalsInfo)

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Orvane Software"));
        QCoreApplication::setApplicationName(QStringLiteral("ZELK"));
        inDocuments
            = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QStringLiteral("/ZELK");
        inAppData = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)
            + QStringLiteral("/ZELK");
        QVERIFY(inDocuments.startsWith(TempHome::home()));
        QVERIFY(inAppData.startsWith(TempHome::home()));

        // A first start where only the application-data candidate exists.
        QVERIFY(QDir().mkpath(inAppData));
        globals = GlobalsInfo::getInstance();
        QCOMPARE(globals->getDocumentsPath(), inAppData);
        QCOMPARE(globals->appSettings()->fileName(), inAppData + QStringLiteral("/zelk.ini"));
        QCOMPARE(globals->appSettings()->format(), QSettings::IniFormat);
    }

    void documentsFolderCandidates_data()
    {
        QTest::addColumn<bool>("documentsExists");
        QTest::addColumn<bool>("appDataExists");

        // Only the application-data folder: initTestCase.
        QTest::newRow("documents only") << true << false;
        QTest::newRow("both: documents wins") << true << true;
        QTest::newRow("neither") << false << false;
    }

    void documentsFolderCandidates()
    {
        QFETCH(bool, documentsExists);
        QFETCH(bool, appDataExists);

        // Move the folders aside rather than deleting them: the store's settings file lives in one.
        const auto setPresent = [](const QString &path, bool present) {
            const QString aside = path + QStringLiteral(".aside");
            if (present && !QFileInfo::exists(path))
                QVERIFY(QFileInfo::exists(aside) ? QDir().rename(aside, path) : QDir().mkpath(path));
            if (!present && QFileInfo::exists(path))
                QVERIFY(QDir().rename(path, aside));
        };
        setPresent(inDocuments, documentsExists);
        setPresent(inAppData, appDataExists);

        const QString answer = globals->getDocumentsPath();
        setPresent(inAppData, true);
        setPresent(inDocuments, false);

        QCOMPARE(answer, documentsExists ? inDocuments : QString());
    }

    void folderGetters_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("subFolder");
        QTest::addColumn<FolderGetter>("getter");

        QTest::newRow("save") << SettingsKeys::pathSave() << "Save" << &GlobalsInfo::getSavePath;
        QTest::newRow("open") << SettingsKeys::pathOpen() << "Audio" << &GlobalsInfo::getOpenPath;
        QTest::newRow("logs") << SettingsKeys::pathLogs() << "Logs" << &GlobalsInfo::getLogsAppPath;
        QTest::newRow("temp") << SettingsKeys::pathTemp() << "Temp" << &GlobalsInfo::getTempPath;
    }

    void folderGetters()
    {
        QFETCH(QString, key);
        QFETCH(QString, subFolder);
        QFETCH(FolderGetter, getter);

        // The default is created on demand.
        QSettings *settings = globals->appSettings();
        settings->remove(key);
        const QString fallback = inAppData + QLatin1Char('/') + subFolder;
        QDir(fallback).removeRecursively();
        QCOMPARE((globals->*getter)(), fallback);
        QVERIFY(QFileInfo(fallback).isDir());

        // A stored folder whose parent exists: only its last level is made.
        const QString stored = TempHome::home() + QStringLiteral("/chosen ") + subFolder;
        settings->setValue(key, stored);
        QCOMPARE((globals->*getter)(), stored);
        QVERIFY(QFileInfo(stored).isDir());

        // Missing parents are not made up: the folder is unusable.
        const QString deep = TempHome::home() + QStringLiteral("/missing/") + subFolder;
        settings->setValue(key, deep);
        QCOMPARE((globals->*getter)(), QString());
        QVERIFY(!QFileInfo::exists(TempHome::home() + QStringLiteral("/missing")));

        settings->remove(key);
    }

    void guiScale_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<double>("expected");

        QTest::newRow("absent") << QVariant() << 1.0;
        QTest::newRow("text 1.25") << QVariant(QStringLiteral("1.25")) << 1.25;
        QTest::newRow("garbage") << QVariant(QStringLiteral("big")) << 0.0;
    }

    void guiScale()
    {
        QFETCH(QVariant, stored);
        QFETCH(double, expected);

        globals->appSettings()->remove(SettingsKeys::guiScale());
        if (stored.isValid())
            globals->appSettings()->setValue(SettingsKeys::guiScale(), stored);
        QCOMPARE(globals->getSettingsGuiScale(), expected);

        globals->setSettingsGuiScale(0.75);
        QCOMPARE(globals->getSettingsGuiScale(), 0.75);
        globals->appSettings()->remove(SettingsKeys::guiScale());
    }

    void sidebarUrls_data()
    {
        // clang-format off
        QTest::addColumn<QString>("storedText");
        QTest::addColumn<QString>("extraPath");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("two entries") << "file:///home/a|||file:///mnt/b" << "" << QStringList { "file:///home/a", "file:///mnt/b" };
        QTest::newRow("trailing separator adds an empty entry") << "file:///home/a|||" << "" << QStringList { "file:///home/a", "" };
        QTest::newRow("extra path appended") << "file:///home/a" << "/srv/music" << QStringList { "file:///home/a", "file:///srv/music" };
        QTest::newRow("extra path already listed")
            << "file:///srv/music|||file:///home/a" << "/srv/music" << QStringList { "file:///srv/music", "file:///home/a" };
        QTest::newRow("blanks survive") << "file:///home/a/My%20Music" << "/home/a/My Music" << QStringList { "file:///home/a/My Music" };
        // clang-format on
    }

    void sidebarUrls()
    {
        QFETCH(QString, storedText);
        QFETCH(QString, extraPath);
        QFETCH(QStringList, expected);

        globals->appSettings()->setValue(SettingsKeys::sidebar(), storedText);
        const QList<QUrl> urls = globals->getSidebarUrls(extraPath);
        QCOMPARE(QUrl::toStringList(urls), expected);

        // Storing what was read gives back the same list.
        globals->setSidebarUrls(urls);
        QCOMPARE(globals->getSidebarUrls(QString()), urls);
        globals->appSettings()->remove(SettingsKeys::sidebar());
    }

    void sidebarDefaultListStartsAtHome()
    {
        globals->appSettings()->remove(SettingsKeys::sidebar());
        const QList<QUrl> urls = globals->getSidebarUrls(QString());
        QVERIFY(urls.size() >= 7);
        QCOMPARE(urls.at(0), QUrl::fromLocalFile(QDir::homePath()));
        QCOMPARE(urls.at(2),
            QUrl::fromLocalFile(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)));
        QVERIFY(urls.contains(QUrl::fromLocalFile(QStringLiteral("/"))));
    }

    // Users' settings files hold these names: a renamed key would lose what they chose.
    void storedNamesStayTheSame_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("stored");
        const std::pair<QString, const char *> names[] = { { SettingsKeys::pathSave(), "default_path_save" },
            { SettingsKeys::pathOpen(), "default_path_open" },
            { SettingsKeys::pathLogs(), "default_path_logs" },
            { SettingsKeys::pathTemp(), "default_path_temp" },
            { SettingsKeys::videoFormat(), "default_video_format" },
            { SettingsKeys::audioFormat(), "default_audio_format" },
            { SettingsKeys::instrument(), "default_instrument" },
            { SettingsKeys::videoPlayer(), "default_video_player" },
            { SettingsKeys::audioPlayer(), "default_audio_player" },
            { SettingsKeys::guiScale(), "settings_gui_scale" },
            { SettingsKeys::publicKey(), "auth_public_key" }, { SettingsKeys::sidebar(), "sidebarUrls" },
            { SettingsKeys::serviceUrl(), "service_url" }, { SettingsKeys::probeUrl(), "probe_url" },
            { SettingsKeys::logFileEnabled(), "APP_LOGFILE_ENABLED" } };
        for (const auto &[key, stored] : names)
            QTest::newRow(stored) << key << QString::fromLatin1(stored);
    }

    void storedNamesStayTheSame()
    {
        QFETCH(QString, key);
        QFETCH(QString, stored);
        QCOMPARE(key, stored);
    }

    void removeAllSettingsKeepsWhatItMust()
    {
        const QStringList removed { SettingsKeys::pathOpen(), SettingsKeys::pathSave(),
            SettingsKeys::videoFormat(), SettingsKeys::audioFormat(), SettingsKeys::instrument(),
            SettingsKeys::videoPlayer(), SettingsKeys::audioPlayer(), SettingsKeys::guiScale() };
        const QStringList kept { SettingsKeys::pathLogs(), SettingsKeys::pathTemp(),
            SettingsKeys::publicKey(), SettingsKeys::sidebar(), "VLC", SettingsKeys::logFileEnabled() };
        QSettings *settings = globals->appSettings();
        for (const QString &key : removed + kept)
            settings->setValue(key, QStringLiteral("x"));

        globals->removeAllSettings();

        for (const QString &key : removed)
            QVERIFY2(!settings->contains(key), qPrintable(key));
        for (const QString &key : kept) {
            QVERIFY2(settings->contains(key), qPrintable(key));
            settings->remove(key);
        }
        QCOMPARE(globals->getVideoFormat(), QStringLiteral("none"));
        QCOMPARE(globals->getAppForAudio(), QStringLiteral("Default Audio Player"));
    }

    void randomStringsUseTheAlphabet()
    {
        const QRegularExpression alphabet(QStringLiteral("^[A-Za-z0-9]*$"));
        QSet<QChar> seen;
        for (const int length : { 0, 1, 10, 16, 32, 400 }) {
            const QString text = globals->generateRandomString(length);
            QCOMPARE(text.size(), length);
            QVERIFY2(alphabet.match(text).hasMatch(), qPrintable(text));
            for (const QChar c : text)
                seen.insert(c);
        }
        // 459 draws from 62 letters leave almost no room for one to be missing.
        QVERIFY(seen.size() > 55);
        QVERIFY(globals->generateRandomString(32) != globals->generateRandomString(32));
    }

private:
    QString inDocuments;
    QString inAppData;
    GlobalsInfo *globals = nullptr;
};

QTEST_GUILESS_MAIN(tst_GlobalsInfo)
#include "tst_globalsinfo.moc"
