#pragma once

#include <vector>

// Scale-invariant signal-to-distortion ratio, in dB, of an estimate against its reference, all channels
// together. A louder or softer copy of the reference scores as well as the reference itself.
namespace SiSdr {

double of(const std::vector<double> &reference, const std::vector<double> &estimate);

template <typename Sample>
double of(const std::vector<double> &reference, const std::vector<Sample> &estimate)
{
    return of(reference, std::vector<double>(estimate.begin(), estimate.end()));
}

} // namespace SiSdr
