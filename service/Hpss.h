#pragma once

#include "Stft.h"

#include <vector>

// Harmonic/percussive estimates by median filtering the magnitude spectrogram: a sustained note is
// smooth along time, a hit is smooth along frequency.
namespace Hpss {

// Magnitudes of every frame held, all channels together: [frame][bin].
void magnitudes(const StftStream::Chunk &chunk, std::vector<float> &out);

// For each frame to mask: the median along time over 2 * halfWidth + 1 frames ([count][bin]), and the
// median along frequency over 2 * halfWidth + 1 bins.
// Only the bins below bins are filled when it is given.
void harmonic(const StftStream::Chunk &chunk, const std::vector<float> &magnitudes, int halfWidth,
    std::vector<float> &out, int bins = -1);
void percussive(const StftStream::Chunk &chunk, const std::vector<float> &magnitudes, int halfWidth,
    std::vector<float> &out, int bins = -1);

// A soft mask that keeps what is more than margin times louder than the other: wanted² over
// wanted² + (margin · other)².
inline float softMask(float wanted, float other, float margin)
{
    const float a = wanted * wanted;
    const float b = margin * margin * other * other;
    return a + b > 1e-12f ? a / (a + b) : 0.0f;
}

} // namespace Hpss
