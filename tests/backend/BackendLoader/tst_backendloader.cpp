#include "BackendLoader/BackendLoader.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "ModalBoxCloser.h"
#include "TempHome.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QQuickItem>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <cmath>

class tst_BackendLoader final : public QObject
{
    Q_OBJECT

public:
    tst_BackendLoader() = default;

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void windowsAreCreatedOnceAndReused_data();
    void windowsAreCreatedOnceAndReused();
    void closingSettingsReappliesTheScaleFirst();
    void closingOtherWindowsOnlyShowsTheMainWindow();
    void windowSizeFollowsTheScale_data();
    void windowSizeFollowsTheScale();
    void resetScfForgetsTheStoredScale();
    void clearMemoryEmptiesTempButKeepsFolders();
    void logoutDeletesOnlyThisMachinesAuthFile();
    void loggingStatus();
    void fileDialogFilter();

private:
    Q_DISABLE_COPY_MOVE(tst_BackendLoader)

    GlobalsInfo *globals = nullptr;
    std::unique_ptr<BackendLoader> loader;
    QStringList events;
};

void tst_BackendLoader::initTestCase()
{
    TempHome::createDocumentsFolder();
    globals = GlobalsInfo::getInstance();
    QVERIFY(!globals->getDocumentsPath().isEmpty());
}

void tst_BackendLoader::init()
{
    globals->appSettings()->remove(QStringLiteral("settings_gui_scale"));
    loader = std::make_unique<BackendLoader>();
    events.clear();
    connect(loader.get(), &BackendLoader::hideMainWindow, this, [this] { events << QStringLiteral("hide"); });
    connect(loader.get(), &BackendLoader::showMainWindow, this, [this] { events << QStringLiteral("show"); });
    connect(loader.get(), &BackendLoader::scfChanged, this,
            [this](double scf) { events << QStringLiteral("scf %1").arg(scf); });
}

void tst_BackendLoader::cleanup()
{
    loader.reset();
}

using Opener = void (BackendLoader::*)();
using WindowGetter = HostedWindow *(BackendLoader::*)() const;
Q_DECLARE_METATYPE(Opener)
Q_DECLARE_METATYPE(WindowGetter)

void tst_BackendLoader::windowsAreCreatedOnceAndReused_data()
{
    QTest::addColumn<Opener>("open");
    QTest::addColumn<WindowGetter>("window");
    QTest::addColumn<QString>("title");

    QTest::newRow("settings") << Opener(&BackendLoader::openSettingsWindow)
                              << WindowGetter(&BackendLoader::settingsWindowObject) << "Option Settings";
    QTest::newRow("my account") << Opener(&BackendLoader::openMyAccountWindow)
                                << WindowGetter(&BackendLoader::myAccountWindow) << "My Account Settings";
    QTest::newRow("archive") << Opener(&BackendLoader::openArchive) << WindowGetter(&BackendLoader::archiveWindow)
                             << "ZELK Archive";
}

void tst_BackendLoader::windowsAreCreatedOnceAndReused()
{
    QFETCH(Opener, open);
    QFETCH(WindowGetter, window);
    QFETCH(QString, title);
    // No service here: the archive says it could not get its list.
    ModalBoxCloser boxes;

    QCOMPARE(((*loader).*window)(), nullptr);
    ((*loader).*open)();
    QPointer<HostedWindow> first = ((*loader).*window)();
    QVERIFY(first);
    QVERIFY(first->isVisible());
    QVERIFY(first->isWindow());
    QCOMPARE(first->windowTitle(), title);
    QVERIFY(!(first->windowFlags() & Qt::WindowMaximizeButtonHint));

    first->close();
    QVERIFY(first); // hidden, not destroyed
    QVERIFY(!first->isVisible());

    ((*loader).*open)();
    QCOMPARE(((*loader).*window)(), first.data());
    QVERIFY(first->isVisible());
    QCOMPARE(events.count(QStringLiteral("hide")), 2);

    loader->clearMemory();
    QVERIFY(first.isNull());
}

void tst_BackendLoader::closingSettingsReappliesTheScaleFirst()
{
    loader->openSettingsWindow();
    globals->setSettingsGuiScale(1.25);
    loader->settingsWindowObject()->close();
    QCOMPARE(events, (QStringList { "hide", "scf 1.25", "show" }));
}

void tst_BackendLoader::closingOtherWindowsOnlyShowsTheMainWindow()
{
    ModalBoxCloser boxes;
    loader->openArchive();
    loader->archiveWindow()->close();
    // No service here: the archive has said it could not get its list.
    boxes.clear();
    // A file that is not there: the processing window says so and gives the main window back.
    loader->loadFile(QStringLiteral("/music/song.mp3"));
    QCOMPARE(boxes.seen(), QStringList { "[File Processing Error] This file cannot be opened:\n\n/music/song.mp3" });
    QCOMPARE(events, (QStringList { "hide", "show", "hide", "show" }));
}

void tst_BackendLoader::windowSizeFollowsTheScale_data()
{
    QTest::addColumn<double>("scale");
    QTest::addColumn<double>("used");
    QTest::addColumn<QSize>("settingsSize");

    QTest::newRow("1") << 1.0 << 1.0 << QSize(540, 670);
    QTest::newRow("1.25, truncated") << 1.25 << 1.25 << QSize(675, 837);
    QTest::newRow("0.75") << 0.75 << 0.75 << QSize(405, 502);
    // 670 x 2 = 1340 is more than the screen holds: the largest hundredth that fits.
    const QSize available = QGuiApplication::primaryScreen()->availableGeometry().size();
    const double fitting = std::floor(available.height() / 670.0 * 100) / 100;
    QTest::newRow("2, taller than the screen")
            << 2.0 << fitting << QSize(int(540 * fitting), int(670 * fitting));
}

void tst_BackendLoader::windowSizeFollowsTheScale()
{
    QFETCH(double, scale);
    QFETCH(double, used);
    QFETCH(QSize, settingsSize);

    globals->setSettingsGuiScale(scale);
    loader->openSettingsWindow();
    const HostedWindow *settings = loader->settingsWindowObject();
    QVERIFY(used <= scale);
    QCOMPARE(settings->minimumSize(), settingsSize);
    QCOMPARE(settings->maximumSize(), settingsSize);
    QCOMPARE(settings->guiScale(), used);
    QCOMPARE(settings->rootObject()->property("scf").toDouble(), used);

    // The archive can grow: only its minimum follows the scale.
    ModalBoxCloser boxes;
    loader->openArchive();
    QCOMPARE(loader->archiveWindow()->minimumSize(), QSize(int(540 * scale), int(400 * scale)));
    QCOMPARE(loader->archiveWindow()->maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
}

void tst_BackendLoader::resetScfForgetsTheStoredScale()
{
    globals->setSettingsGuiScale(1.5);
    loader->onCompleted();
    loader->resetScf();
    loader->onCompleted();
    QCOMPARE(events, (QStringList { "scf 1.5", "scf 1" }));
}

void tst_BackendLoader::clearMemoryEmptiesTempButKeepsFolders()
{
    const QDir temp(globals->getTempPath());
    QVERIFY(temp.exists());
    QVERIFY(temp.mkpath(QStringLiteral("kept folder")));
    for (const QString &name : { QStringLiteral("upload.wav"), QStringLiteral(".hidden"),
                                 QStringLiteral("kept folder/inner.txt") }) {
        QFile file(temp.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    loader->clearMemory();

    QCOMPARE(temp.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList { "kept folder" });
    QVERIFY(QFile::exists(temp.filePath(QStringLiteral("kept folder/inner.txt"))));
}

void tst_BackendLoader::logoutDeletesOnlyThisMachinesAuthFile()
{
    const QString authFile = globals->authFilePath();
    QVERIFY(authFile.startsWith(globals->getDocumentsPath() + QLatin1Char('/')));
    QVERIFY(QFileInfo(authFile).fileName().contains(QRegularExpression(QStringLiteral("^[0-9a-f]{32}\\.authkey$"))));
    const QString otherMachine = globals->getDocumentsPath() + QStringLiteral("/0123456789abcdef0123456789abcdef.authkey");
    for (const QString &path : { authFile, otherMachine }) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    loader->logout();
    QVERIFY(!QFile::exists(authFile));
    QVERIFY(QFile::exists(otherMachine));
    loader->logout(); // nothing left to delete: no harm
    QVERIFY(QFile::remove(otherMachine));
}

void tst_BackendLoader::loggingStatus()
{
    QSettings *settings = globals->appSettings();
    settings->remove(QStringLiteral("APP_LOGFILE_ENABLED"));
    QVERIFY(!loader->getLoggingStatus());
    settings->setValue(QStringLiteral("APP_LOGFILE_ENABLED"), true);
    QVERIFY(loader->getLoggingStatus());
    settings->setValue(QStringLiteral("APP_LOGFILE_ENABLED"), false);
    QVERIFY(!loader->getLoggingStatus());
    settings->remove(QStringLiteral("APP_LOGFILE_ENABLED"));
}

void tst_BackendLoader::fileDialogFilter()
{
    QCOMPARE(BackendLoader::fileDialogFilter(),
             QStringLiteral("All Openable Files (*.aac *.aif *.aiff *.m4a *.mp1 *.mp3 *.mp4 *.ogg *.wav *.wma *.flac "
                            "*.avi *.flv *.m4v *.mov *.mp4 *.mpg *.rm *.vob *.webm *.wmv *.mkv);;\n"
                            "Audio Files (*.aac *.aif *.aiff *.m4a *.mp1 *.mp3 *.mp4 *.ogg *.wav *.wma *.flac);;\n"
                            "Video Files (*.avi *.flv *.m4v *.mov *.mp4 *.mpg *.rm *.vob *.webm *.wmv *.mkv)"));
}

QTEST_MAIN(tst_BackendLoader)
#include "tst_backendloader.moc"
