#pragma once

#include <QByteArray>
#include <QVector>

// 16-bit PCM WAV bytes, written and read independently of the service's own code.
struct WavData
{
    int channels = 0;
    int sampleRate = 0;
    QVector<qint16> samples; // interleaved

    qsizetype frames() const { return channels > 0 ? samples.size() / channels : 0; }

    // More than two channels are written as WAVE_FORMAT_EXTENSIBLE, as ffmpeg does.
    QByteArray toBytes() const;
    // False unless the bytes hold a 16-bit PCM WAV with a data chunk.
    static bool fromBytes(const QByteArray &bytes, WavData &wav);
    // A test signal: a tone common to every channel plus a different tone on each channel.
    // A gain above 1 drives it into clipping at full scale.
    static WavData tones(int channels, int sampleRate, int frames, double gain = 1.0);
};
