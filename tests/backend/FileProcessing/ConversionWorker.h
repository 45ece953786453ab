#pragma once

#include "FileProcessing/ConvertingFile.h"

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

    ConversionWorker() = default;
    ~ConversionWorker() override { cancel(); }

    void start(const Job &job);
    // Starts the job, waits for its done signal and stops the thread; false on a time-out.
    bool run(const Job &job, int timeoutMs = 60000);
    // What closing a window does: set the cancel flag, quit the thread and wait. Returns its milliseconds.
    qint64 cancel();
    void stop();
    void setCancelFlag(int value) { cancelFlag.store(value, std::memory_order_release); }
    QStringList doneSignals() const { return received; } // in order

signals:
    void done();

private:
    Q_DISABLE_COPY_MOVE(ConversionWorker)

    std::atomic<int> cancelFlag { 0 };
    std::unique_ptr<QThread> workerThread;
    QStringList received;
};
