#include "ConversionWorker.h"

#include <QElapsedTimer>
#include <QSignalSpy>

void ConversionWorker::start(const Job &job)
{
    stop();
    received.clear();
    workerThread = std::make_unique<QThread>();
    // Owned by its thread: deleted there through the finished → deleteLater connection.
    auto *converter = new ConvertingFile(&cancelFlag, job.input, job.output, job.videoSource, job.isMain);
    converter->moveToThread(workerThread.get());
    const char *entry = job.entry == Entry::PrepareToUpload ? SLOT(prepareToUpload())
        : job.entry == Entry::PrepareFinal                  ? SLOT(prepareFinal())
                                                            : SLOT(convertFile());
    connect(workerThread.get(), SIGNAL(started()), converter, entry);
    connect(workerThread.get(), &QThread::finished, converter, &QObject::deleteLater);
    const auto record = [this](const char *name) {
        return [this, name] {
            received << QLatin1String(name);
            emit done();
        };
    };
    connect(converter, &ConvertingFile::doneUploadConverting, this, record("doneUploadConverting"),
        Qt::QueuedConnection);
    connect(converter, &ConvertingFile::doneMain, this, record("doneMain"), Qt::QueuedConnection);
    connect(converter, &ConvertingFile::doneMix, this, record("doneMix"), Qt::QueuedConnection);
    workerThread->start();
}

bool ConversionWorker::run(const Job &job, int timeoutMs)
{
    QSignalSpy spy(this, &ConversionWorker::done);
    start(job);
    const bool arrived = spy.wait(timeoutMs);
    stop();
    return arrived;
}

qint64 ConversionWorker::cancel()
{
    QElapsedTimer timer;
    timer.start();
    setCancelFlag(1);
    stop();
    return timer.elapsed();
}

void ConversionWorker::stop()
{
    if (!workerThread)
        return;
    workerThread->quit();
    workerThread->wait();
    workerThread.reset();
}
