#include "ConversionThread.h"

#include "ConvertingFile.h"

ConversionThread::~ConversionThread()
{
    stop();
}

void ConversionThread::start(ConvertingFile *job, void (ConvertingFile::*entry)())
{
    stop();
    thread = std::make_unique<QThread>();
    converter = job;
    converter->moveToThread(thread.get());
    QObject::connect(thread.get(), &QThread::started, converter, entry);
    QObject::connect(thread.get(), &QThread::finished, converter, &QObject::deleteLater);
    thread->start(QThread::InheritPriority);
}

void ConversionThread::stop()
{
    if (converter) {
        converter->deleteLater();
        converter = nullptr;
    }
    if (thread) {
        thread->quit();
        thread->wait();
        thread.reset();
    }
}
