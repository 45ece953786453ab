#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdio>

class ProcessingRun;
class QSocketNotifier;

// `zelk --remove INSTRUMENT --format FORMAT [--save DIR] FILE...`: the files processed one after
// another without any window or display, with the stored sign-in. One line per stage and file (a live
// bar on a terminal), each result's path when it is ready. Ctrl+C cancels the file under way, tells
// the service and leaves no partial file.
class CommandLineRun final : public QObject
{
    Q_OBJECT

public:
    enum Status { AllDone = 0, SomeFailed = 1, UsageError = 2, NotSignedIn = 3, Interrupted = 130 };

    // True when the arguments are for the command line rather than for the window; decided before
    // any application object exists, since the window's needs a display.
    static bool isWanted(int argc, char *argv[]);
    // The whole life of a command-line start; returns the exit status.
    static int exec(int argc, char *argv[]);

    CommandLineRun(const QStringList &files, const QString &instrument, const QString &format);
    ~CommandLineRun() override;

    void setSaveFolder(const QString &path);
    Status run();

signals:
    // Ctrl+C has ended the file under way.
    void stopped();

private:
    Q_DISABLE_COPY(CommandLineRun)

    // False, after its line, when the file failed.
    bool processFile(int index);
    void stageLine(const QString &what);
    void liveLine(const QString &what, double percents);
    void endLiveLine();
    void interrupt();
    void waitForCancel();
    QString filePrefix() const;

    const QStringList files;
    const QString instrument;
    const QString format;
    bool hasSaveFolder = false;
    ProcessingRun *processing;
    QTimer remainingQuery;
    QSocketNotifier *interruptNotifier = nullptr;
    bool interrupted = false;
    bool terminal = false;
    bool liveLineOpen = false;
    int current = 0;
};
