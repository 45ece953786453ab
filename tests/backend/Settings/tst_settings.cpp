#include "FileBytes.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "QuickWidgetHarness.h"
#include "Settings/Settings.h"
#include "TempHome.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickStyle>
#include <QSettings>
#include <QStyleHints>
#include <QTemporaryDir>
#include <QTest>

// The Settings window, worked through its real document as a user would. The desktop's dialogs are
// replaced by answers the test gives, and applications are looked up in a folder of the test's own.
class tst_Settings final : public QObject
{
    Q_OBJECT

    // Creates the window on first use, as the main window does, and opens it.
    void open()
    {
        if (!window) {
            window = std::make_unique<Settings>();
            QVERIFY(window->rootObject());
            window->setApplicationFolders({ apps->path() });
            window->setFolderDialog([this](const QString &title, const QString &start) {
                dialogs << QStringLiteral("%1 | %2").arg(title, start);
                return folderAnswer;
            });
            window->setApplicationDialog([this](const QString &title, const QString &, const QString &) {
                dialogs << title;
                return applicationAnswer;
            });
            screen = std::make_unique<QuickWidgetHarness>(window.get());
        }
        window->openWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    void click(const QString &name) { QVERIFY(screen->click(name)); }
    QString shown(const QString &dropdown) const { return screen->item(dropdown)->property("currentText").toString(); }
    QString savePathShown() const { return screen->item(QStringLiteral("saveFieldInput"))->property("text").toString(); }
    // Puts an application where the lookup will find it under `name`, declared the XDG way: a desktop
    // entry under a vendor's file name, naming its program. Answers the path it should store.
    QString install(const QString &name)
    {
        const QDir folder(apps->path());
        const QString program = folder.filePath(QStringLiteral("bin/") + name);
        folder.mkpath(QStringLiteral("bin"));
        writeFile(program, "#!/bin/sh\n");
        QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner);
        const QString entry = QStringLiteral("com.orvane.%1.desktop").arg(folder.entryList(QDir::Files).size());
        const QString text = QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nExec=\"%2\" %F\n");
        writeFile(folder.filePath(entry), text.arg(name, program).toUtf8());
        return program;
    }

    GlobalsInfo *globals = nullptr;
    QSettings *store = nullptr;
    std::unique_ptr<Settings> window;
    std::unique_ptr<QuickWidgetHarness> screen;
    std::unique_ptr<QTemporaryDir> apps;
    QString folderAnswer;
    QString applicationAnswer;
    QStringList dialogs;

private slots:
    void initTestCase()
    {
        QQuickStyle::setStyle(QStringLiteral("Basic"));
        // The harness waits out the double-click time between clicks; a short one keeps the runs quick.
        QGuiApplication::styleHints()->setMouseDoubleClickInterval(10);
        TempHome::createDocumentsFolder();
        globals = GlobalsInfo::getInstance();
        store = globals->appSettings();
    }

    void init()
    {
        store->clear();
        apps = std::make_unique<QTemporaryDir>();
        QVERIFY(apps->isValid());
        folderAnswer.clear();
        applicationAnswer.clear();
        dialogs.clear();
    }

    void cleanup()
    {
        screen.reset();
        window.reset();
    }

    void storedValuesShowAndSave_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("dropdown");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("shown");
        QTest::newRow("video format none") << "default_video_format" << "videoFormat" << "none" << "Not Set";
        QTest::newRow("instrument none") << "default_instrument" << "instrument" << "none" << "Not Set";
        QTest::newRow("audio format chosen") << "default_audio_format" << "audioFormat" << "FLAC" << "FLAC";
        QTest::newRow("instrument chosen") << "default_instrument" << "instrument" << "Piano" << "Piano";
        QTest::newRow("player not offered") << "default_video_player" << "videoPlayer" << "Winamp" << "";
        QTest::newRow("player offered") << "default_audio_player" << "audioPlayer" << "Singwright" << "Singwright";
    }

    void storedValuesShowAndSave()
    {
        QFETCH(QString, key);
        QFETCH(QString, dropdown);
        QFETCH(QString, stored);
        QFETCH(QString, shown);

        store->setValue(key, stored);
        open();
        QCOMPARE(this->shown(dropdown), shown);
        click(QStringLiteral("okButton"));
        QVERIFY(!window->isVisible());
        // A value the list does not offer is not kept.
        QCOMPARE(store->value(key).toString(), shown.isEmpty() ? shown : stored);
    }

    void playerLookup_data()
    {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QString>("stored"); // an installed name, "known", "picked" or nothing at all
        QTest::newRow("blank-free name first") << QStringList { "Tunewright 6", "Tunewright6", "Tunewright 5" }
                                               << "Tunewright6";
        QTest::newRow("name as written next") << QStringList { "Tunewright 5", "Tunewright 6" } << "Tunewright 6";
        QTest::newRow("older version last") << QStringList { "Tunewright5" } << "Tunewright5";
        QTest::newRow("known path kept") << QStringList { "Tunewright 6" } << "known";
        QTest::newRow("none found, user picks") << QStringList {} << "picked";
        QTest::newRow("none found, user gives up") << QStringList {} << "";
    }

    void playerLookup()
    {
        QFETCH(QStringList, installed);
        QFETCH(QString, stored);

        QHash<QString, QString> paths { { "known", install(QStringLiteral("Known Tunewright")) },
                                        { "picked", install(QStringLiteral("Picked Tunewright")) } };
        for (const QString &name : installed)
            paths.insert(name, install(name));
        // A stored path whose program is gone is looked up again.
        const QString gone = apps->filePath(QStringLiteral("gone"));
        const QString before = stored == QLatin1String("known") ? paths.value(stored) : gone;
        store->setValue(QStringLiteral("Tunewright"), before);
        applicationAnswer = stored == QLatin1String("picked") ? paths.value(stored) : QString();

        open();
        QCOMPARE(screen->choose(QStringLiteral("videoPlayer"), QStringLiteral("Tunewright")), !stored.isEmpty());

        // The user is asked only when no installed player is found.
        const QStringList asked { "Please select where Tunewright installed" };
        QCOMPARE(dialogs, installed.isEmpty() ? asked : QStringList {});
        QCOMPARE(store->value(QStringLiteral("Tunewright")).toString(), stored.isEmpty() ? before : paths.value(stored));
        QCOMPARE(shown(QStringLiteral("videoPlayer")), stored.isEmpty() ? "Default Video Player" : "Tunewright");
    }

    void restoreThenCancelKeepsTheDefaults()
    {
        store->setValue(QStringLiteral("default_video_format"), QStringLiteral("MKV"));
        store->setValue(QStringLiteral("default_instrument"), QStringLiteral("Drums"));
        store->setValue(QStringLiteral("default_path_save"), TempHome::home());
        store->setValue(QStringLiteral("settings_gui_scale"), 1.25);
        open();
        QCOMPARE(window->guiScale(), 1.25);

        click(QStringLiteral("restoreButton"));
        QCOMPARE(shown(QStringLiteral("videoFormat")), QStringLiteral("Not Set"));
        QCOMPARE(window->guiScale(), 1.0);
        QCOMPARE(window->size(), QSize(540, 670));
        click(QStringLiteral("cancelButton"));
        QVERIFY(!window->isVisible());

        for (const char *key : { "default_video_format", "default_instrument", "default_path_save", "settings_gui_scale" })
            QVERIFY2(!store->contains(QLatin1String(key)), key);
        open();
        QCOMPARE(shown(QStringLiteral("instrument")), QStringLiteral("Not Set"));
        QCOMPARE(savePathShown(), globals->getDocumentsPath() + QStringLiteral("/Save"));
    }

    void scaleListAndItsOwnOk()
    {
        store->setValue(QStringLiteral("settings_gui_scale"), 1.25);
        open();
        const QStringList scales = screen->rootProperty("scale_list").toStringList();
        QCOMPARE(scales.size(), 91);
        QCOMPARE(scales.mid(0, 2), (QStringList { "0.60", "0.61" }));
        QCOMPARE(scales.constLast(), QStringLiteral("1.50"));
        QCOMPARE(shown(QStringLiteral("scaleList")), QStringLiteral("1.25"));

        QVERIFY(screen->choose(QStringLiteral("scaleList"), QStringLiteral("0.80")));
        click(QStringLiteral("scaleOkButton"));
        QCOMPARE(globals->getSettingsGuiScale(), 0.8);
        QVERIFY(window->isVisible());
        QCOMPARE(window->maximumSize(), QSize(432, 536));
        QCOMPARE(screen->rootProperty("scf").toDouble(), 0.8);

        click(QStringLiteral("homeButton"));
        QVERIFY(!window->isVisible());
        open();
        QCOMPARE(shown(QStringLiteral("scaleList")), QStringLiteral("0.80"));
    }

    void oddFolderSurvivesSaveAndReopen()
    {
        const QString folder = TempHome::home() + QStringLiteral("/Mes dossiers/Ünïcødé Säve ñ 東京");
        QVERIFY(QDir().mkpath(folder));
        folderAnswer = folder;

        open();
        click(QStringLiteral("saveFieldBrowse"));
        QCOMPARE(dialogs, QStringList { "Please Select a new folder | " + globals->getSavePath() });
        click(QStringLiteral("okButton"));
        QCOMPARE(globals->getSavePath(), folder);

        // A later run: the file on disk, read afresh, into a new window.
        store->sync();
        QCOMPARE(QSettings(store->fileName(), QSettings::IniFormat).value("default_path_save").toString(), folder);
        cleanup();
        open();
        QCOMPARE(savePathShown(), folder);
    }
};

QTEST_MAIN(tst_Settings)
#include "tst_settings.moc"
