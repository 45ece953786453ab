#pragma once

#include <QString>

#include <chrono>
#include <functional>

// What a chosen file holds, asked before any work is done on it.
namespace SourceCheck {

enum class Sound { Readable, Unreadable, Unknown };

// Whether ffmpeg decodes a sound stream of the file. Unknown when ffmpeg cannot be started or takes
// longer than the limit; the conversion will then tell. Waits in a local event loop, so the window
// keeps painting.
Sound sound(const QString &path, std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

// What a result made from the file keeps of it.
struct Tags
{
    QString title;
    // The stream index of an embedded cover picture, -1 when there is none.
    int coverStream = -1;
};

// The file's title and cover picture as ffmpeg reports them. Blocks the calling thread, a conversion's
// worker, until ffmpeg has ended, the limit has passed or stop() says so; then reports nothing.
Tags tags(const QString &path, const std::function<bool()> &stop,
    std::chrono::milliseconds limit = std::chrono::milliseconds(10000));

// Whether the file is a WAV the service takes as it is: RIFF WAVE, 16-bit integer samples, 1 to 32
// channels, and some audio.
bool isServiceWav(const QString &path);

} // namespace SourceCheck
