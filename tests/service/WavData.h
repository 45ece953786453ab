#pragma once

#include <QByteArray>
#include <QVector>
#include <QtEndian>

#include <cmath>

// 16-bit PCM WAV bytes, written and read independently of the service's own code.
struct WavData
{
    int channels = 0;
    int sampleRate = 0;
    QVector<qint16> samples; // interleaved

    // More than two channels are written as WAVE_FORMAT_EXTENSIBLE, as ffmpeg does.
    QByteArray toBytes() const
    {
        const bool extensible = channels > 2;
        const quint32 dataSize = quint32(samples.size() * 2);
        QByteArray bytes = "RIFF" + le32(4 + 8 + (extensible ? 40 : 16) + 8 + dataSize) + "WAVEfmt "
            + le32(extensible ? 40 : 16) + le16(extensible ? 0xFFFE : 1) + le16(channels) + le32(sampleRate)
            + le32(sampleRate * channels * 2) + le16(channels * 2) + le16(16);
        // 5.1 as FL FR FC LFE BL BR; then the PCM sub-format's GUID.
        if (extensible)
            bytes += le16(22) + le16(16) + le32(channels == 6 ? 0x3F : 0)
                + QByteArray::fromHex("0100000000001000800000aa00389b71");
        bytes += "data" + le32(dataSize);
        for (const qint16 sample : samples)
            bytes += le16(quint16(sample));
        return bytes;
    }

    // False unless the bytes hold a 16-bit PCM WAV with a data chunk.
    static bool fromBytes(const QByteArray &bytes, WavData &wav)
    {
        const auto get = [&bytes](qsizetype at, int size) {
            return size == 2 ? qFromLittleEndian<quint16>(bytes.constData() + at)
                             : qFromLittleEndian<quint32>(bytes.constData() + at);
        };
        if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
            return false;
        bool haveFormat = false;
        for (qsizetype at = 12; at + 8 <= bytes.size(); at += 8 + get(at + 4, 4) + (get(at + 4, 4) & 1)) {
            const QByteArray id = bytes.mid(at, 4);
            const quint32 size = get(at + 4, 4);
            if (id == "fmt " && size >= 16 && at + 24 <= bytes.size()) {
                wav.channels = int(get(at + 10, 2));
                wav.sampleRate = int(get(at + 12, 4));
                const quint32 tag = get(at + 8, 2);
                if ((tag != 1 && tag != 0xFFFE) || get(at + 22, 2) != 16 || wav.channels < 1)
                    return false;
                haveFormat = true;
            } else if (id == "data" && haveFormat) {
                wav.samples.resize(qMin<qsizetype>(size, bytes.size() - at - 8) / 2);
                for (qsizetype i = 0; i < wav.samples.size(); ++i)
                    wav.samples[i] = qint16(get(at + 8 + i * 2, 2));
                return wav.samples.size() % wav.channels == 0;
            }
        }
        return false;
    }

    // A tone common to every channel plus a different tone on each; a gain above 1 clips at full scale.
    static WavData tones(int channels, int sampleRate, int frames, double gain = 1.0)
    {
        WavData wav { channels, sampleRate, QVector<qint16>(qsizetype(channels) * frames) };
        for (qsizetype i = 0; i < wav.samples.size(); ++i) {
            const double t = double(i / channels) / sampleRate;
            const double common = 12000 * std::sin(2 * M_PI * 440 * t) + 6000 * std::sin(2 * M_PI * 80 * t);
            const double own = 8000 * std::sin(2 * M_PI * (6000 + 500 * (i % channels)) * t);
            wav.samples[i] = qint16(std::lround(std::clamp(gain * (common + own), -32768.0, 32767.0)));
        }
        return wav;
    }

private:
    static QByteArray le16(int value)
    {
        return QByteArray(1, char(value & 0xFF)) + char((value >> 8) & 0xFF);
    }
    static QByteArray le32(quint32 value) { return le16(int(value & 0xFFFF)) + le16(int(value >> 16)); }
};
