#include "WavData.h"

#include <QtEndian>

#include <cmath>

namespace {

void put16(QByteArray &bytes, quint16 value)
{
    char data[2];
    qToLittleEndian(value, data);
    bytes.append(data, 2);
}

void put32(QByteArray &bytes, quint32 value)
{
    char data[4];
    qToLittleEndian(value, data);
    bytes.append(data, 4);
}

quint16 get16(const QByteArray &bytes, qsizetype at)
{
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

quint32 get32(const QByteArray &bytes, qsizetype at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

} // namespace

QByteArray WavData::toBytes() const
{
    const bool extensible = channels > 2;
    const quint32 dataSize = static_cast<quint32>(samples.size() * 2);
    const quint32 fmtSize = extensible ? 40 : 16;
    QByteArray bytes;
    bytes.append("RIFF");
    put32(bytes, 4 + 8 + fmtSize + 8 + dataSize);
    bytes.append("WAVEfmt ");
    put32(bytes, fmtSize);
    put16(bytes, extensible ? 0xFFFE : 1);
    put16(bytes, static_cast<quint16>(channels));
    put32(bytes, static_cast<quint32>(sampleRate));
    put32(bytes, static_cast<quint32>(sampleRate * channels * 2));
    put16(bytes, static_cast<quint16>(channels * 2));
    put16(bytes, 16);
    if (extensible) {
        put16(bytes, 22);
        put16(bytes, 16);
        put32(bytes, channels == 6 ? 0x3F : 0); // 5.1: FL FR FC LFE BL BR
        // KSDATAFORMAT_SUBTYPE_PCM
        put32(bytes, 1);
        bytes.append(QByteArray::fromHex("00001000800000aa00389b71"));
    }
    bytes.append("data");
    put32(bytes, dataSize);
    for (const qint16 sample : samples)
        put16(bytes, static_cast<quint16>(sample));
    return bytes;
}

bool WavData::fromBytes(const QByteArray &bytes, WavData &wav)
{
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return false;
    bool haveFormat = false;
    qsizetype at = 12;
    while (at + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(at, 4);
        const quint32 size = get32(bytes, at + 4);
        const qsizetype body = at + 8;
        if (id == "fmt " && size >= 16 && body + 16 <= bytes.size()) {
            const quint16 tag = get16(bytes, body);
            wav.channels = get16(bytes, body + 2);
            wav.sampleRate = static_cast<int>(get32(bytes, body + 4));
            const quint16 bits = get16(bytes, body + 14);
            if ((tag != 1 && tag != 0xFFFE) || bits != 16 || wav.channels < 1)
                return false;
            haveFormat = true;
        } else if (id == "data" && haveFormat) {
            const qsizetype count = qMin<qsizetype>(size, bytes.size() - body) / 2;
            wav.samples.resize(count);
            for (qsizetype i = 0; i < count; ++i)
                wav.samples[i] = static_cast<qint16>(get16(bytes, body + i * 2));
            return count % wav.channels == 0;
        }
        at = body + size + (size & 1);
    }
    return false;
}

WavData WavData::tones(int channels, int sampleRate, int frames, double gain)
{
    WavData wav;
    wav.channels = channels;
    wav.sampleRate = sampleRate;
    wav.samples.resize(static_cast<qsizetype>(channels) * frames);
    for (int frame = 0; frame < frames; ++frame) {
        const double t = double(frame) / sampleRate;
        const double common = 12000 * std::sin(2 * M_PI * 440 * t) + 6000 * std::sin(2 * M_PI * 80 * t);
        for (int channel = 0; channel < channels; ++channel) {
            const double own = 8000 * std::sin(2 * M_PI * (6000 + 500 * channel) * t);
            wav.samples[static_cast<qsizetype>(frame) * channels + channel]
                = static_cast<qint16>(std::lround(std::clamp(gain * (common + own), -32768.0, 32767.0)));
        }
    }
    return wav;
}
