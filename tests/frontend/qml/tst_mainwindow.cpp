#include "BackendLoader/BackendLoader.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "MainWindowHarness.h"
#include "ModalBoxCloser.h"
#include "ScriptedHttpServer.h"
#include "TempHome.h"
#include "UserAuth/UserAuth.h"

#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QTest>

using Answer = ScriptedHttpServer::Answer;

namespace {

QStringList loadedFiles;
QtMessageHandler defaultHandler = nullptr;

void recordLoadFile(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QString signature = QStringLiteral("void BackendLoader::loadFile(QString) ");
    if (const qsizetype at = message.indexOf(signature); at >= 0)
        loadedFiles << message.mid(at + signature.size());
    defaultHandler(type, context, message);
}

} // namespace

class tst_MainWindow final : public QObject
{
    Q_OBJECT

public:
    tst_MainWindow() = default;

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void sizeOnceSignInIsDecided_data();
    void sizeOnceSignInIsDecided();
    void dropOpensTheFirstFileOnly_data();
    void dropOpensTheFirstFileOnly();
    void helpMenuResetsTheScale();
    void helpMenuSaysWhatCannotBeDone_data();
    void helpMenuSaysWhatCannotBeDone();
    void loggingItemShowsTheStoredState();
    void comesBackWhereItWas();

private:
    Q_DISABLE_COPY_MOVE(tst_MainWindow)

    GlobalsInfo *globals = nullptr;
    std::unique_ptr<ScriptedHttpServer> service;
    std::unique_ptr<ModalBoxCloser> boxes;
};

void tst_MainWindow::initTestCase()
{
    TempHome::createDocumentsFolder();
    globals = GlobalsInfo::getInstance();
    defaultHandler = qInstallMessageHandler(recordLoadFile);
}

void tst_MainWindow::init()
{
    service = std::make_unique<ScriptedHttpServer>();
    QVERIFY(service->listen());
    service->script("/generate_204", Answer::text("", 204));
    service->script("/zelk-server/auth/getInfo.php",
                    Answer::text(R"({"user_id": 3, "name": "Ada", "email": "ada@example.org", "hash": "h3"})"));
    globals->appSettings()->setValue(QStringLiteral("service_url"), service->baseUrl().toString());
    globals->appSettings()->setValue(QStringLiteral("probe_url"), service->url(QStringLiteral("/generate_204")).toString());
    boxes = std::make_unique<ModalBoxCloser>();
    loadedFiles.clear();
}

void tst_MainWindow::cleanup()
{
    QFile::remove(globals->authFilePath());
    globals->appSettings()->remove(QStringLiteral("settings_gui_scale"));
    boxes.reset();
    service.reset();
}

void tst_MainWindow::sizeOnceSignInIsDecided_data()
{
    QTest::addColumn<double>("scale");
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<QSize>("size");

    QTest::newRow("signed in, 1") << 1.0 << true << QSize(470, 210);
    QTest::newRow("signed in, 1.5") << 1.5 << true << QSize(705, 315);
    QTest::newRow("signed out, 1") << 1.0 << false << QSize(400, 430);
    QTest::newRow("signed out, 1.5") << 1.5 << false << QSize(600, 645);
}

void tst_MainWindow::sizeOnceSignInIsDecided()
{
    QFETCH(double, scale);
    QFETCH(bool, signedIn);
    QFETCH(QSize, size);

    globals->setSettingsGuiScale(scale);
    if (signedIn) {
        UserAuth writer;
        writer.createLoginFile(QStringLiteral("ada@example.org"));
    }

    MainWindowHarness main;
    QVERIFY(main.window());
    QVERIFY(main.waitUntilDecided());
    QTRY_COMPARE(main.window()->size(), size);
    QCOMPARE(main.property("scf").toDouble(), scale);

    QQuickItem *layer = main.item(QStringLiteral("authLayer"));
    QCOMPARE(layer->isVisible(), !signedIn);
    for (const char *button : { "myAccountButton", "helpButton", "selectFileButton", "settingsButton", "archiveButton" })
        QVERIFY2(main.item(QLatin1String(button))->isEnabled() == signedIn, button);
    QVERIFY(boxes->seen().isEmpty());
}

void tst_MainWindow::dropOpensTheFirstFileOnly_data()
{
    QTest::addColumn<bool>("signedIn");
    QTest::newRow("signed in") << true;
    // The sign-in layer covers the window: nothing is processed for nobody.
    QTest::newRow("signed out") << false;
}

void tst_MainWindow::dropOpensTheFirstFileOnly()
{
    QFETCH(bool, signedIn);
    if (signedIn) {
        UserAuth writer;
        writer.createLoginFile(QStringLiteral("ada@example.org"));
    }
    MainWindowHarness main;
    QVERIFY(main.waitUntilDecided());

    // The processing window opens only on a file that is there.
    const QString music = TempHome::createDocumentsFolder() + QStringLiteral("/music");
    QVERIFY(QDir().mkpath(music));
    for (const QString &name : { QStringLiteral("My Song.mp3"), QStringLiteral("other.wav") }) {
        QFile file(music + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QMimeData data;
    data.setUrls({ QUrl::fromLocalFile(music + QStringLiteral("/My Song.mp3")), QUrl::fromLocalFile(music + QStringLiteral("/other.wav")) });
    const QPointF centre(main.window()->width() / 2.0, main.window()->height() / 2.0);
    QDragEnterEvent enter(centre.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(main.window(), &enter);
    QDropEvent drop(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(main.window(), &drop);

    if (!signedIn) {
        QCOMPARE(loadedFiles, QStringList());
        QVERIFY(main.window()->isVisible());
        return;
    }
    QCOMPARE(loadedFiles, QStringList { music + QStringLiteral("/My Song.mp3") });
    // The processing window took over.
    QTRY_VERIFY(!main.window()->isVisible());
}

void tst_MainWindow::helpMenuResetsTheScale()
{
    globals->setSettingsGuiScale(1.5);
    UserAuth writer;
    writer.createLoginFile(QStringLiteral("ada@example.org"));

    MainWindowHarness main;
    QVERIFY(main.waitUntilDecided());
    QQuickItem *resetItem = main.item(QStringLiteral("resetScaleItem"));
    QVERIFY(resetItem);
    QCOMPARE(resetItem->height(), 22 * 1.5);

    main.click(main.item(QStringLiteral("helpButton")));
    QObject *menu = main.window()->findChild<QObject *>(QStringLiteral("helpMenu"));
    QTRY_VERIFY(menu->property("opened").toBool());
    // Laid out at the current scale: the last of nine entries sits below the eight others.
    QCOMPARE(resetItem->y(), 8 * 22 * 1.5);
    // The logging check box is drawn at the scale too.
    const auto *indicator = main.item(QStringLiteral("loggingItem"))->property("indicator").value<QQuickItem *>();
    QCOMPARE(indicator->mapRectToScene(indicator->boundingRect()).height(), indicator->implicitHeight() * 1.5);
    main.click(resetItem);

    QTRY_COMPARE(main.property("scf").toDouble(), 1.0);
    QVERIFY(!globals->appSettings()->contains(QStringLiteral("settings_gui_scale")));
    // At scale 1 the entry is gone from the menu and takes no room.
    QCOMPARE(resetItem->height(), 0.0);
    QVERIFY(!resetItem->isEnabled());
}

void tst_MainWindow::loggingItemShowsTheStoredState()
{
    MainWindowHarness main;
    QVERIFY(main.waitUntilDecided());
    QQuickItem *logging = main.item(QStringLiteral("loggingItem"));
    QVERIFY(logging);
    QCOMPARE(logging->property("text").toString(), QStringLiteral("Logging: OFF"));
    QCOMPARE(logging->property("checkable").toBool(), true);
}

void tst_MainWindow::helpMenuSaysWhatCannotBeDone_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("box");

    // The offscreen desktop opens nothing, as a machine without a browser or file manager.
    QTest::newRow("help desk") << "helpDeskItem"
                               << "[Cannot Open] The desktop could not open:\n\nhttps://www.orvanesoftware.com/helpdesk.html";
    QTest::newRow("logs") << "showLogsItem" << "[Cannot Open] The desktop could not open:\n\n" + globals->getLogsAppPath();
    QTest::newRow("no updater") << "updatesItem" << "[Check For Updates] Updates are not available in this build.";
}

void tst_MainWindow::helpMenuSaysWhatCannotBeDone()
{
    QFETCH(QString, item);
    QFETCH(QString, box);

    UserAuth writer;
    writer.createLoginFile(QStringLiteral("ada@example.org"));
    MainWindowHarness main;
    QVERIFY(main.waitUntilDecided());
    main.click(main.item(QStringLiteral("helpButton")));
    QObject *menu = main.window()->findChild<QObject *>(QStringLiteral("helpMenu"));
    QTRY_VERIFY(menu->property("opened").toBool());
    main.click(main.item(item));
    QTRY_COMPARE(boxes->seen(), QStringList { box });
    boxes->clear();
}

void tst_MainWindow::comesBackWhereItWas()
{
    UserAuth writer;
    writer.createLoginFile(QStringLiteral("ada@example.org"));
    MainWindowHarness main;
    QVERIFY(main.waitUntilDecided());
    auto *loader = main.window()->findChild<BackendLoader *>();
    QVERIFY(loader);
    main.window()->setPosition(120, 80);

    loader->openArchive();
    QTRY_VERIFY(!main.window()->isVisible());
    // Placed elsewhere while hidden, as a window manager may do.
    main.window()->setPosition(500, 400);
    loader->archiveWindow()->close();
    QTRY_VERIFY(main.window()->isVisible());
    QCOMPARE(main.window()->position(), QPoint(120, 80));
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
