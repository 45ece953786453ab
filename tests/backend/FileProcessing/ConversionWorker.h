#pragma once

#include "FileProcessing/ConvertingFile.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <memory>

// Runs one ConvertingFile the way the windows do: a fresh thread, the converter moved to it, the thread's
// start connected to the entry slot, finished to deleteLater, the done signals queued back to this object.
class ConversionWorker final : public QObject
{
    Q_OBJECT

public:
    enum class Entry { PrepareToUpload, PrepareFinal, ConvertFile };

    struct Job
    {
        Entry entry = Entry::PrepareFinal;
        QString input;
        QString output;
        QString videoSource;
        bool isMain = true;
    };

    ConversionWorker();
    ~ConversionWorker() override;

    void start(const Job &job);
    // Starts the job and waits for its done signal, then stops the thread. False on a time-out.
    bool run(const Job &job, int timeoutMs = 60000);
    // What closing a window does: set the cancel flag, quit the thread and wait for it. Returns the
    // milliseconds the stop took.
    qint64 cancel();
    void stop();
    void setCancelFlag(int value) { cancelFlag.store(value, std::memory_order_release); }

    // Names of the done signals received, in order.
    QStringList doneSignals() const { return received; }
    // Every done signal arrived on this object's (the GUI) thread.
    bool doneOnOwnThread() const { return allOnOwnThread; }
    bool converterDeleted() const { return deleted->load(); }

signals:
    void done(const QString &name);

private:
    Q_DISABLE_COPY_MOVE(ConversionWorker)

    void record(const QString &name);

    std::atomic<int> cancelFlag { 0 };
    std::unique_ptr<QThread> workerThread;
    std::shared_ptr<std::atomic<bool>> deleted = std::make_shared<std::atomic<bool>>(false);
    QStringList received;
    bool allOnOwnThread = true;
};
