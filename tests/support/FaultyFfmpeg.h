#pragma once

#include <QString>

// Stands in for ffmpeg: the real one beside the test programs, except for the one fault a test asks
// for through ZELK_FFMPEG_FAULT ("hang-", "fail-" or "unreadable-" followed by "prepare" or "final").
// Preparation is the run that writes 16-bit PCM; every other run is a final conversion. With
// ZELK_FFMPEG_LOG set, every run appends its arguments to that file, one line each.
namespace FaultyFfmpeg {
// Writes the script to path and makes it executable; false when it could not.
bool install(const QString &path);
} // namespace FaultyFfmpeg
