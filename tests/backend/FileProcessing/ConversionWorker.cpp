#include "ConversionWorker.h"

#include <QSignalSpy>

ConversionWorker::ConversionWorker() = default;

ConversionWorker::~ConversionWorker()
{
    cancel();
}

void ConversionWorker::start(const Job &job)
{
    stop();
    received.clear();
    allOnOwnThread = true;
    deleted = std::make_shared<std::atomic<bool>>(false);
    workerThread = std::make_unique<QThread>();

    // Owned by its thread: deleted there through the finished → deleteLater connection.
    auto *converter = new ConvertingFile(&cancelFlag, job.input, job.output, job.videoSource, job.isMain);
    converter->moveToThread(workerThread.get());
    switch (job.entry) {
    case Entry::PrepareToUpload:
        connect(workerThread.get(), &QThread::started, converter, &ConvertingFile::prepareToUpload);
        break;
    case Entry::PrepareFinal:
        connect(workerThread.get(), &QThread::started, converter, &ConvertingFile::prepareFinal);
        break;
    case Entry::ConvertFile:
        connect(workerThread.get(), &QThread::started, converter, &ConvertingFile::convertFile);
        break;
    }
    connect(workerThread.get(), &QThread::finished, converter, &QObject::deleteLater);
    connect(
        converter, &QObject::destroyed, this, [flag = deleted] { flag->store(true); }, Qt::DirectConnection);
    connect(
        converter, &ConvertingFile::doneUploadConverting, this,
        [this] { record(QStringLiteral("doneUploadConverting")); }, Qt::QueuedConnection);
    connect(
        converter, &ConvertingFile::doneMain, this, [this] { record(QStringLiteral("doneMain")); },
        Qt::QueuedConnection);
    connect(
        converter, &ConvertingFile::doneMix, this, [this] { record(QStringLiteral("doneMix")); },
        Qt::QueuedConnection);
    workerThread->start(QThread::InheritPriority);
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

void ConversionWorker::record(const QString &name)
{
    if (QThread::currentThread() != thread())
        allOnOwnThread = false;
    received << name;
    emit done(name);
}
