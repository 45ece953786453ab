#include "BackendLoader/BackendLoader.h"
#include "FileBytes.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "GlobalsInfo/SettingsKeys.h"
#include "ModalBoxCloser.h"
#include "QuickWidgetHarness.h"
#include "TempHome.h"
#include "main/SingleInstance.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QProcess>
#include <QQuickItem>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cmath>

using Opener = void (BackendLoader::*)();
using WindowGetter = HostedWindow *(BackendLoader::*)() const;

// The main window's controller: the windows it opens and hides behind, the scale, and the clean-ups.
class tst_BackendLoader final : public QObject
{
    Q_OBJECT

    GlobalsInfo *globals = nullptr;
    std::unique_ptr<BackendLoader> loader;
    QStringList events;

private slots:
    void initTestCase()
    {
        TempHome::createDocumentsFolder();
        globals = GlobalsInfo::getInstance();
    }

    void init()
    {
        globals->appSettings()->remove(SettingsKeys::guiScale());
        loader = std::make_unique<BackendLoader>();
        events.clear();
        connect(
            loader.get(), &BackendLoader::hideMainWindow, this, [this] { events << QStringLiteral("hide"); });
        connect(
            loader.get(), &BackendLoader::showMainWindow, this, [this] { events << QStringLiteral("show"); });
        connect(loader.get(), &BackendLoader::scfChanged, this,
            [this](double scf) { events << QStringLiteral("scf %1").arg(scf); });
    }

    void cleanup() { loader.reset(); }

    void windowsAreCreatedOnceAndReused_data()
    {
        // clang-format off
        QTest::addColumn<Opener>("open");
        QTest::addColumn<WindowGetter>("window");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("closing");
        QTest::newRow("settings") << Opener(&BackendLoader::openSettingsWindow)
                                  << WindowGetter(&BackendLoader::settingsWindowObject) << "Option Settings"
                                  << QStringList { "hide", "scf 1.25", "show" };
        QTest::newRow("my account") << Opener(&BackendLoader::openMyAccountWindow)
                                    << WindowGetter(&BackendLoader::myAccountWindow) << "My Account Settings"
                                    << QStringList { "hide", "show" };
        QTest::newRow("archive") << Opener(&BackendLoader::openArchive) << WindowGetter(&BackendLoader::archiveWindow)
                                 << "ZELK Archive" << QStringList { "hide", "show" };
        // clang-format on
    }

    void windowsAreCreatedOnceAndReused()
    {
        QFETCH(Opener, open);
        QFETCH(WindowGetter, window);
        QFETCH(QString, title);
        QFETCH(QStringList, closing);
        // No service here: the archive says it could not get its list.
        ModalBoxCloser boxes;

        QCOMPARE(((*loader).*window)(), nullptr);
        ((*loader).*open)();
        QPointer<HostedWindow> first = ((*loader).*window)();
        QVERIFY(first && first->isVisible() && first->isWindow());
        QCOMPARE(first->windowTitle(), title);
        QVERIFY(!(first->windowFlags() & Qt::WindowMaximizeButtonHint));
        // A scale chosen meanwhile: closing Settings re-applies it before the main window shows again.
        globals->setSettingsGuiScale(1.25);
        first->close();
        QCOMPARE(events, closing);
        QVERIFY(first); // hidden, not destroyed
        QVERIFY(!first->isVisible());

        ((*loader).*open)();
        QCOMPARE(((*loader).*window)(), first.data());
        QVERIFY(first->isVisible());
        QCOMPARE(events.constLast(), QStringLiteral("hide"));
        loader->clearMemory();
        QVERIFY(first.isNull());
    }

    // A file that is not there: the processing window says so, and the main window, covered while the file
    // was checked, never went away.
    void missingFileKeepsTheMainWindow()
    {
        ModalBoxCloser boxes;
        connect(loader.get(), &BackendLoader::fileCheck, this,
            [this](bool busy) { events << (busy ? "cover" : "uncover"); });
        loader->loadFile(QStringLiteral("/music/song.mp3"));
        QCOMPARE(boxes.seen(),
            QStringList { "[File Processing Error] This file cannot be opened:\n\n/music/song.mp3" });
        QCOMPARE(events, (QStringList { "cover", "uncover" }));
        QVERIFY(!loader->processingWindow()->isVisible());
    }

    // A second start with files hands them over; they wait for a signed-in user, then load as a drop.
    void filesHandedOverWaitForAUser()
    {
        ModalBoxCloser boxes;
        QTemporaryDir workingFolder;
        {
            SingleInstance instance;
            QVERIFY(instance.listen());
            connect(&instance, &SingleInstance::filesArrived, loader.get(),
                &BackendLoader::loadFilesWhenSignedIn);
            QProcess second;
            second.setWorkingDirectory(workingFolder.path());
            second.start(QStringLiteral(ZELK_PROGRAM),
                { QStringLiteral("song.mp3"), QStringLiteral("/music/two.mp3") });
            QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 20000);
            QCOMPARE(second.exitCode(), 0);
            QVERIFY(events.isEmpty());
            QCOMPARE(boxes.seen(), QStringList());
        }
        QVERIFY(!SingleInstance::handOver({ QStringLiteral("/music/three.mp3") }, 500));

        loader->userSignedIn();
        // The first of the files opens, as from a drop; this one is not there.
        QCOMPARE(boxes.seen(),
            QStringList { "[File Processing Error] This file cannot be opened:\n\n" + workingFolder.path()
                + "/song.mp3" });
    }

    // Too large for the screen: the largest hundredth that fits (670 x 2 = 1340 is more than it holds).
    void windowSizeFollowsTheScale()
    {
        globals->setSettingsGuiScale(2);
        loader->openSettingsWindow();
        const HostedWindow *settings = loader->settingsWindowObject();
        const int available = QGuiApplication::primaryScreen()->availableGeometry().height();
        const double used = std::floor(available / 670.0 * 100) / 100;
        const QSize size(int(540 * used), int(670 * used));
        QCOMPARE(settings->minimumSize(), size);
        QCOMPARE(settings->maximumSize(), size);
        QCOMPARE(settings->guiScale(), used);
        QCOMPARE(settings->rootObject()->property("scf").toDouble(), used);

        // The archive can grow: only its minimum follows the scale.
        ModalBoxCloser boxes;
        loader->openArchive();
        QCOMPARE(loader->archiveWindow()->minimumSize(), QSize(1080, 800));
        QCOMPARE(loader->archiveWindow()->maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));

        // "Reset Gui Resizing": the archive keeps its larger size, and its document still fills it all.
        loader->archiveWindow()->close();
        loader->resetScf();
        loader->openArchive();
        const QQuickWidget *archive = loader->archiveWindow();
        QCOMPARE(archive->size(), QSize(1080, 800));
        QCOMPARE(archive->rootObject()->size(), QSizeF(archive->size()));
    }

    // A new "Open File Location" is where the next file chooser starts, without a restart.
    void fileChooserStartsInTheSavedOpenFolder()
    {
        const QString folder = TempHome::home() + QStringLiteral("/Music Here");
        loader->openSettingsWindow();
        QuickWidgetHarness settings(loader->settingsWindowObject());
        QVERIFY(settings.typeInto(QStringLiteral("openField"), folder));
        QVERIFY(settings.click(QStringLiteral("okButton")));
        QVERIFY(!loader->settingsWindowObject()->isVisible());

        QString startedIn;
        QTimer chooser;
        connect(&chooser, &QTimer::timeout, this, [&startedIn] {
            if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
                startedIn = dialog->directory().absolutePath();
                dialog->reject();
            }
        });
        chooser.start(20);
        loader->selectFile();
        QCOMPARE(startedIn, folder);
    }

    void fittingScale_data()
    {
        QTest::addColumn<double>("chosen");
        QTest::addColumn<QSize>("available");
        QTest::addColumn<double>("used");
        QTest::newRow("exactly the screen") << 1.0 << QSize(540, 670) << 1.0;
        QTest::newRow("too wide") << 1.5 << QSize(700, 2000) << 1.29;
        QTest::newRow("one pixel short") << 1.0 << QSize(540, 669) << 0.99;
        QTest::newRow("unreadable stored scale") << 0.0 << QSize(1920, 1080) << 1.0;
        QTest::newRow("no screen known") << 1.25 << QSize() << 1.25;
    }

    void fittingScale()
    {
        QFETCH(double, chosen);
        QFETCH(QSize, available);
        QFETCH(double, used);
        QCOMPARE(HostedWindow::fittingScale(QSize(540, 670), chosen, available), used);
    }

    void clearMemoryEmptiesTempButKeepsFolders()
    {
        const QDir temp(globals->getTempPath());
        QVERIFY(temp.mkpath(QStringLiteral("kept folder")));
        for (const QString &name : { QStringLiteral("upload.wav"), QStringLiteral(".hidden"),
                 QStringLiteral("kept folder/inner.txt") })
            QVERIFY(writeFile(temp.filePath(name), {}));
        loader->clearMemory();
        QCOMPARE(temp.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList { "kept folder" });
        QVERIFY(QFile::exists(temp.filePath(QStringLiteral("kept folder/inner.txt"))));
    }

    void logoutDeletesOnlyThisMachinesAuthFile()
    {
        const QString authFile = globals->authFilePath();
        QVERIFY(authFile.startsWith(globals->getDocumentsPath() + QLatin1Char('/')));
        QVERIFY(QFileInfo(authFile).fileName().contains(
            QRegularExpression(QStringLiteral("^[0-9a-f]{32}\\.authkey$"))));
        const QString otherMachine
            = globals->getDocumentsPath() + QStringLiteral("/0123456789abcdef0123456789abcdef.authkey");
        for (const QString &path : { authFile, otherMachine })
            QVERIFY(writeFile(path, {}));
        loader->logout();
        QVERIFY(!QFile::exists(authFile));
        QVERIFY(QFile::exists(otherMachine));
        loader->logout(); // nothing left to delete: no harm
        QVERIFY(QFile::remove(otherMachine));
    }

    void fileDialogFilter()
    {
        QCOMPARE(BackendLoader::fileDialogFilter(),
            QStringLiteral(
                "All Openable Files (*.aac *.aif *.aiff *.m4a *.mp1 *.mp3 *.mp4 *.ogg *.wav *.wma *.flac "
                "*.avi *.flv *.m4v *.mov *.mp4 *.mpg *.rm *.vob *.webm *.wmv *.mkv);;\n"
                "Audio Files (*.aac *.aif *.aiff *.m4a *.mp1 *.mp3 *.mp4 *.ogg *.wav *.wma *.flac);;\n"
                "Video Files (*.avi *.flv *.m4v *.mov *.mp4 *.mpg *.rm *.vob *.webm *.wmv *.mkv)"));
    }
};

QTEST_MAIN(tst_BackendLoader)
#include "tst_backendloader.moc"
