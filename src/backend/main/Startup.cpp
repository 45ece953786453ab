#include "Startup.h"

#include "BackendLoader/BackendLoader.h"
#include "GlobalsInfo/AppIdentity.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "plugins/LoggingManager.h"
#include "plugins/MessageBoxCustom.h"
#include "plugins/SysInfoManager.h"
#include "plugins/UpdateManager.h"
#include "RendererChoice.h"
#include "SingleInstance.h"
#include "UserAuth/UserAuth.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QQmlApplicationEngine>
#include <QQmlEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QQuickWindow>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

namespace {

void notifyUpdaterOfQuit()
{
    if (UpdateManager::instance())
        UpdateManager::instance()->onQuit();
}

// For the start-up benchmark: ZELK_FIRST_FRAME holds the launch time in microseconds since the
// epoch; the first frame on screen prints the time since then and ends the process. It leaves at
// once, since the start-up check may still be waiting for the service in a local event loop.
void exitAtFirstFrameIfAsked(QObject *root)
{
    bool isNumber = false;
    const qint64 launched = qEnvironmentVariable("ZELK_FIRST_FRAME").toLongLong(&isNumber);
    auto *window = qobject_cast<QQuickWindow *>(root);
    if (!isNumber || !window)
        return;
    // Emitted on the render thread, which may not be the GUI thread.
    QObject::connect(
        window, &QQuickWindow::frameSwapped, window,
        [launched, window] {
            using namespace std::chrono;
            const auto now = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
            const bool software
                = window->rendererInterface()->graphicsApi() == QSGRendererInterface::Software;
            std::printf("first frame: %.1f ms, %s renderer\n", double(now - launched) / 1000.0,
                software ? "software" : "graphics");
            std::fflush(stdout);
            std::_Exit(0);
        },
        Qt::DirectConnection);
}

} // namespace

bool createSubFolders(const QString &documentsPath)
{
    bool allCreated = true;
    for (const char *name : { "Save", "Audio", "Logs", "Temp" }) {
        const QString path = QStringLiteral("%1/%2").arg(documentsPath, QLatin1String(name));
        if (!QDir(path).exists() && !QDir().mkpath(path))
            allCreated = false;
    }
    return allCreated;
}

QStringList filesOnCommandLine()
{
    QCommandLineParser parser;
    parser.addOption({ QStringLiteral("update-as"), QString(), QStringLiteral("version") });
    parser.addOption({ QStringLiteral("uid"), QString() });
    parser.parse(QCoreApplication::arguments());
    QStringList files;
    for (const QString &file : parser.positionalArguments())
        files << QFileInfo(file).absoluteFilePath();
    return files;
}

void registerQmlTypes()
{
    qmlRegisterType<BackendLoader>("backend.BackendLoader", 1, 0, "BackendLoader");
    qmlRegisterType<UserAuth>("backend.UserAuth", 1, 0, "UserAuth");
}

void initLogging()
{
    if (LoggingManager::instance())
        LoggingManager::instance()->install(
            GlobalsInfo::getInstance()->getDocumentsPath(), AppIdentity::settingsFileName);
}

void closeLogging()
{
    if (LoggingManager::instance())
        LoggingManager::instance()->close();
}

int implShowWarningMessageAndExit(const QString &message, uint status)
{
    qCritical().noquote() << __LINE__ << "void implShowWarningMessageAndExit(const QString &, uint)"
                          << "!!! ERROR:" << message;
    MessageBoxCustom::warning(
        nullptr, QStringLiteral("ERROR"), message, QMessageBox::Ok, QMessageBox::NoButton);
    return static_cast<int>(status);
}

namespace {

void setApplicationIdentity()
{
    QCoreApplication::setOrganizationName(AppIdentity::organisationName);
    QCoreApplication::setApplicationName(AppIdentity::applicationName);
    QCoreApplication::setApplicationVersion(AppIdentity::versionText);
}

// The documents folder and its sub-folders; the exit status after telling the user when they are
// missing.
std::optional<int> prepareDocumentsFolder()
{
    const QString documentsPath = GlobalsInfo::getInstance()->getDocumentsPath();
    if (documentsPath.isEmpty())
        return implShowWarningMessageAndExit(
            QStringLiteral("Couldn't create application documents folder"), 52);
    if (!createSubFolders(documentsPath))
        return implShowWarningMessageAndExit(
            QStringLiteral("Couldn't create application documents folder: '%1'").arg(documentsPath), 65);
    return std::nullopt;
}

// The main window's root object, or null when the document did not load.
QObject *loadMainWindow(QQmlApplicationEngine &engine)
{
    engine.rootContext()->setContextProperty(QStringLiteral("APP_VER"), AppIdentity::versionText);
    engine.load(QUrl(QStringLiteral("qrc:/qml/main.qml")));
    return engine.rootObjects().isEmpty() ? nullptr : engine.rootObjects().constFirst();
}

// The files of this start, and those later starts hand over, wait for a signed-in user.
void receiveFiles(SingleInstance &instance, const QObject &root, const QStringList &startFiles)
{
    if (auto *loader = root.findChild<BackendLoader *>()) {
        QObject::connect(
            &instance, &SingleInstance::filesArrived, loader, &BackendLoader::loadFilesWhenSignedIn);
        loader->loadFilesWhenSignedIn(startFiles);
    }
    if (!instance.listen())
        qWarning() << "Another ZELK holds" << SingleInstance::serverName()
                   << "- files are not handed to this one";
}

// The updater's start-up check and the options "--update-as" and "--uid"; the exit status when the
// start ends here.
std::optional<int> runStartOptions(const QApplication &app)
{
    QCommandLineParser parser;
    const QCommandLineOption updateAsOption(QStringLiteral("update-as"),
        QStringLiteral("update this app as some version"), QStringLiteral("version"));
    const QCommandLineOption uidOption(QStringLiteral("uid"), QStringLiteral("show UID"));
    parser.addOption(updateAsOption);
    parser.addOption(uidOption);
    // Report parser errors and the help text as the parser would, but leave through the normal
    // teardown instead of exiting from the middle of start-up.
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
            qPrintable(parser.errorText()));
        return 1;
    }

    QObject::connect(&app, &QCoreApplication::aboutToQuit, &notifyUpdaterOfQuit);

    if (UpdateManager::instance())
        UpdateManager::instance()->startupCheck(AppIdentity::versionNumber, AppIdentity::versionText);

    if (parser.isSet(updateAsOption)) {
        const QString version = parser.value(updateAsOption);
        if (version.isEmpty()) {
            std::fputs(qPrintable(parser.helpText()), stdout);
            std::fflush(stdout);
            return 0;
        }
        qInfo().noquote() << "------------------";
        qInfo().noquote() << "Update as version:" << version;
        if (UpdateManager::instance())
            UpdateManager::instance()->checkForUpdates(version.toInt(nullptr, 10), AppIdentity::versionText);
    }

    if (parser.isSet(uidOption) && SysInfoManager::instance())
        SysInfoManager::instance()->showUid();
    return std::nullopt;
}

} // namespace

int runZelk(int argc, char *argv[])
{
    setApplicationIdentity();
    RendererChoice::apply();
    auto app = std::make_unique<QApplication>(argc, argv);
    // Files for a ZELK already running go to it; this start ends there.
    const QStringList startFiles = filesOnCommandLine();
    if (!startFiles.isEmpty() && SingleInstance::handOver(startFiles))
        return 0;
    QQuickStyle::setStyle(QStringLiteral("Basic"));

    initLogging();
    if (SysInfoManager::instance())
        SysInfoManager::instance()->setApplicationInfo(
            AppIdentity::versionText, AppIdentity::buildText, true, true);
    registerQmlTypes();

    if (const std::optional<int> failure = prepareDocumentsFolder())
        return *failure;

    auto engine = std::make_unique<QQmlApplicationEngine>();
    QObject *const root = loadMainWindow(*engine);
    if (!root)
        return implShowWarningMessageAndExit(
            QStringLiteral("RootObjects of QQmlApplicationEngine is empty. We cannot load main.qml"), 75);
    exitAtFirstFrameIfAsked(root);
    SingleInstance instance;
    receiveFiles(instance, *root, startFiles);

    const QStringList devMode { QStringLiteral("DEV MODE: ON") };
    engine->rootContext()->setContextProperty(QStringLiteral("DEV_MODE"), devMode.join(QLatin1Char(' ')));

    if (const std::optional<int> ending = runStartOptions(*app))
        return *ending;

    const int status = app->exec();

    qInfo() << __LINE__ << "int main(int, char **)"
            << "DONE:" << status << "\n";
    closeLogging();
    engine.reset();
    app.reset();
    return status;
}
