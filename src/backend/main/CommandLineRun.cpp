#include "CommandLineRun.h"

#include "FileProcessing/ProcessingRun.h"
#include "FileProcessing/ZelkServer.h"
#include "GlobalsInfo/AppIdentity.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "GlobalsInfo/MediaFormats.h"
#include "Startup.h"
#include "UserAuth/UserAuth.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <csignal>
#include <cstring>
#include <memory>

#include <sys/socket.h>
#include <unistd.h>

namespace {

const QStringList instruments { "vocals", "drums", "bass", "guitar", "piano" };

// Ctrl+C writes one byte here; the event loop reads it on the GUI thread.
int interruptPipe[2] = { -1, -1 };

void onInterrupt(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(interruptPipe[0], &byte, 1);
}

void printOut(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

void printError(const QString &text)
{
    std::fprintf(stderr, "zelk: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

const QString notSignedIn = QStringLiteral("Not signed in. Start ZELK, sign in, and try again.");

const char *const description
    = "Removes an instrument from media files, or opens ZELK's window with them.\n\n"
      "Without a window: zelk --remove vocals --format mp3 song.mp3 live.mp4\n"
      "Exit status: 0 all files done, 1 some failed, 2 wrong use, 3 not signed in,\n"
      "130 interrupted.";

} // namespace

bool CommandLineRun::isWanted(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--")
            break;
        for (const char *option : { "--remove", "--format", "--save", "--help", "-h", "-?", "--help-all" })
            if (argument == option || argument.startsWith(QByteArray(option) + '='))
                return true;
    }
    return false;
}

int CommandLineRun::exec(int argc, char *argv[])
{
    QCoreApplication::setOrganizationName(AppIdentity::organisationName);
    QCoreApplication::setApplicationName(AppIdentity::applicationName);
    QCoreApplication::setApplicationVersion(AppIdentity::versionText);
    QCoreApplication app(argc, argv);
    // The program's own traces are for its log, not for a terminal.
    if (!qEnvironmentVariableIsSet("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false\ndefault.info=false"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption remove(QStringLiteral("remove"),
        QStringLiteral("Remove <instrument> (%1) without a window.")
            .arg(instruments.join(QStringLiteral(", "))),
        QStringLiteral("instrument"));
    const QCommandLineOption format(QStringLiteral("format"),
        QStringLiteral("Results in <format> (%1; video formats for video files only).")
            .arg((MediaFormats::audioOutputs() + MediaFormats::videoOutputs()).join(QStringLiteral(", "))),
        QStringLiteral("format"));
    const QCommandLineOption save(QStringLiteral("save"),
        QStringLiteral("Save the results in <dir> instead of the Settings' folder."), QStringLiteral("dir"));
    // The window's own options, listed so that the help tells all.
    const QCommandLineOption updateAs(QStringLiteral("update-as"),
        QStringLiteral("update this app as some version"), QStringLiteral("version"));
    const QCommandLineOption uid(QStringLiteral("uid"), QStringLiteral("show UID"));
    parser.addOptions({ remove, format, save, updateAs, uid });
    parser.addPositionalArgument(QStringLiteral("files"),
        QStringLiteral("Media files; without --remove, the window opens with them."),
        QStringLiteral("[files...]"));

    const auto usage = [](const QString &text) {
        printError(text + QStringLiteral("\nTry 'zelk --help'."));
        return int(UsageError);
    };
    if (!parser.parse(QCoreApplication::arguments()))
        return usage(parser.errorText());
    if (parser.isSet(help)) {
        printOut(parser.helpText());
        return AllDone;
    }
    if (!parser.isSet(remove))
        return usage(QStringLiteral("--format and --save go with --remove."));
    const QString instrument = parser.value(remove).toLower();
    if (!instruments.contains(instrument))
        return usage(QStringLiteral("Unknown instrument '%1'; use one of: %2.")
                         .arg(parser.value(remove), instruments.join(QStringLiteral(", "))));
    const QString chosenFormat = parser.value(format).toLower();
    if (!MediaFormats::audioOutputs().contains(chosenFormat)
        && !MediaFormats::videoOutputs().contains(chosenFormat))
        return usage(parser.isSet(format) ? QStringLiteral("Unknown format '%1'.").arg(parser.value(format))
                                          : QStringLiteral("--format is missing."));
    if (parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("No files given."));
    if (parser.isSet(save) && parser.value(save).isEmpty())
        return usage(QStringLiteral("--save needs a folder."));

    // No documents folder: ZELK has never run here, so nobody has signed in.
    const QString documentsPath = GlobalsInfo::getInstance()->getDocumentsPath();
    if (documentsPath.isEmpty()) {
        printError(notSignedIn);
        return NotSignedIn;
    }
    if (!createSubFolders(documentsPath)) {
        printError(QStringLiteral("Couldn't create application documents folder: '%1'").arg(documentsPath));
        return SomeFailed;
    }
    CommandLineRun batch(parser.positionalArguments(), instrument, chosenFormat);
    if (parser.isSet(save))
        batch.setSaveFolder(QFileInfo(parser.value(save)).absoluteFilePath());
    return batch.run();
}

CommandLineRun::CommandLineRun(const QStringList &files, const QString &instrument, const QString &format)
    : files(files)
    , instrument(instrument)
    , format(format)
    , processing(new ProcessingRun(this))
    , terminal(::isatty(STDOUT_FILENO) == 1)
{
    remainingQuery.setSingleShot(true);
    connect(&remainingQuery, &QTimer::timeout, processing, &ProcessingRun::askRemaining);
    connect(processing, &ProcessingRun::stageChanged, this, [this](ProcessingRun::Stage stage) {
        switch (stage) {
        case ProcessingRun::Stage::Preparing:
            return stageLine(QStringLiteral("preparing"));
        case ProcessingRun::Stage::Uploading:
            return stageLine(
                processing->isRepeat() ? QStringLiteral("asking again") : QStringLiteral("uploading"));
        case ProcessingRun::Stage::Processing:
            return stageLine(QStringLiteral("processing"));
        case ProcessingRun::Stage::Downloading:
            remainingQuery.stop();
            return stageLine(QStringLiteral("downloading"));
        case ProcessingRun::Stage::Converting:
            return stageLine(QStringLiteral("converting to %1").arg(this->format.toUpper()));
        case ProcessingRun::Stage::Choosing:
            break;
        }
    });
    connect(processing, &ProcessingRun::uploadProgress, this,
        [this](double percents) { liveLine(QStringLiteral("uploading"), percents); });
    connect(processing, &ProcessingRun::downloadProgress, this, [this](int part, double percents) {
        liveLine(part == 1 ? QStringLiteral("downloading %1").arg(this->instrument)
                           : QStringLiteral("downloading mix"),
            percents);
    });
    connect(processing, &ProcessingRun::remainingSeconds, this, [this](int seconds) {
        if (terminal && seconds > 0) {
            printOut(QStringLiteral("\r\033[K%1processing, about %2 s left").arg(filePrefix()).arg(seconds));
            liveLineOpen = true;
        }
        // As often as the window asks: seldom while much is left.
        remainingQuery.start(seconds > 100 ? 20000 : seconds > 20 ? 5000 : 2000);
    });

#if defined(Q_OS_UNIX)
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, interruptPipe) == 0) {
        interruptNotifier = new QSocketNotifier(interruptPipe[1], QSocketNotifier::Read, this);
        connect(interruptNotifier, &QSocketNotifier::activated, this, &CommandLineRun::interrupt);
        struct sigaction action
        {
        };
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
    }
#endif
}

CommandLineRun::~CommandLineRun()
{
#if defined(Q_OS_UNIX)
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    delete interruptNotifier;
    for (int &end : interruptPipe)
        if (end >= 0)
            ::close(std::exchange(end, -1));
#endif
}

void CommandLineRun::setSaveFolder(const QString &path)
{
    hasSaveFolder = true;
    processing->setSaveFolder(path);
}

CommandLineRun::Status CommandLineRun::run()
{
    if (const ProcessingRun::Problem problem = processing->startProblem(); !problem.isEmpty()) {
        printError(QStringLiteral("%1: %2").arg(problem.title, problem.text.simplified()));
        return hasSaveFolder ? UsageError : SomeFailed;
    }
    // Asks the service too: unreachable, its text says so.
    bool noneStored = false;
    const QString signIn = UserAuth().resumeStoredSignIn(&noneStored);
    if (noneStored || !signIn.isEmpty()) {
        printError(noneStored
                ? notSignedIn
                : QStringLiteral("The stored sign-in could not be used: %1").arg(signIn.simplified()));
        return NotSignedIn;
    }
    int failures = 0;
    for (current = 0; current < files.size() && !interrupted; ++current)
        if (!processFile(current))
            ++failures;
    processing->removeUploaded();
    if (interrupted)
        return Interrupted;
    if (files.size() > 1)
        printOut(QStringLiteral("%1 of %2 files done.\n").arg(files.size() - failures).arg(files.size()));
    return failures == 0 ? AllDone : SomeFailed;
}

bool CommandLineRun::processFile(int index)
{
    const QString path = files.at(index);
    ProcessingRun::Problem problem = ProcessingRun::sourceProblem(path);
    if (problem.isEmpty())
        problem = ProcessingRun::formatProblem(path, format);
    if (!problem.isEmpty()) {
        printError(QStringLiteral("%1%2: %3").arg(filePrefix(), problem.title, problem.text.simplified()));
        return false;
    }
    processing->setSource(path);

    // Set before the loop runs when the run ends at once.
    int outcome = -1;
    QEventLoop loop;
    const auto end = [&outcome, &loop](int value) {
        outcome = value;
        loop.quit();
    };
    const QList<QMetaObject::Connection> links {
        connect(processing, &ProcessingRun::succeeded, &loop,
            [this, end](const QString &main, const QString &mix) {
                endLiveLine();
                printOut(QStringLiteral("%1\n%2\n").arg(main, mix));
                end(0);
            }),
        connect(processing, &ProcessingRun::failed, &loop,
            [this, end](const QString &title, const QString &text) {
                endLiveLine();
                printError(QStringLiteral("%1%2: %3").arg(filePrefix(), title, text.simplified()));
                end(1);
            }),
        connect(this, &CommandLineRun::stopped, &loop, [end] { end(1); }),
    };
    processing->start(instrument, format);
    if (outcome < 0)
        loop.exec();
    for (const QMetaObject::Connection &link : links)
        disconnect(link);
    remainingQuery.stop();
    return outcome == 0;
}

void CommandLineRun::interrupt()
{
    char byte = 0;
    [[maybe_unused]] const ssize_t got = ::read(interruptPipe[1], &byte, 1);
    if (interrupted)
        return;
    interrupted = true;
    endLiveLine();
    printError(QStringLiteral("Interrupted: cancelling %1").arg(QFileInfo(processing->source()).fileName()));
    if (processing->isRunning())
        waitForCancel();
    emit stopped();
}

void CommandLineRun::waitForCancel()
{
    QEventLoop loop;
    connect(processing->service(), &ZelkServer::cancelSettled, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    processing->cancel();
    loop.exec();
}

QString CommandLineRun::filePrefix() const
{
    return QStringLiteral("[%1/%2] %3: ")
        .arg(current + 1)
        .arg(files.size())
        .arg(QFileInfo(files.value(current)).fileName());
}

void CommandLineRun::stageLine(const QString &what)
{
    endLiveLine();
    printOut(filePrefix() + what + QLatin1Char('\n'));
}

void CommandLineRun::liveLine(const QString &what, double percents)
{
    if (!terminal)
        return;
    const int width = 30;
    const int filled = qBound(0, int(percents * width / 100.0), width);
    printOut(QStringLiteral("\r\033[K%1%2 [%3%4] %5%")
                 .arg(filePrefix(), what, QString(filled, QLatin1Char('#')),
                     QString(width - filled, QLatin1Char('-')))
                 .arg(int(percents)));
    liveLineOpen = true;
}

void CommandLineRun::endLiveLine()
{
    if (liveLineOpen)
        printOut(QStringLiteral("\n"));
    liveLineOpen = false;
}
