#pragma once

#include <QThread>

#include <memory>

class ConvertingFile;

// One conversion on a thread of its own. ffmpeg blocks the thread it runs on, so each conversion
// gets a fresh one; the converter lives there and is deleted there once the thread ends.
class ConversionThread
{
public:
    ConversionThread() = default;
    ~ConversionThread();

    // Ends any earlier conversion, moves the job to a new thread and runs entry there. The caller
    // connects the job's done signal first, queued, to hear of its end.
    void start(ConvertingFile *job, void (ConvertingFile::*entry)());
    // Waits for the thread to end; a job still running has seen its cancel flag by then.
    void stop();

private:
    Q_DISABLE_COPY(ConversionThread)

    std::unique_ptr<QThread> thread;
    ConvertingFile *converter = nullptr;
};
