#include "SiSdr.h"

#include <algorithm>
#include <cmath>

namespace SiSdr {

double of(const std::vector<double> &reference, const std::vector<double> &estimate)
{
    const size_t count = std::min(reference.size(), estimate.size());
    double dot = 0.0, energy = 0.0;
    for (size_t i = 0; i < count; ++i) {
        dot += reference[i] * estimate[i];
        energy += reference[i] * reference[i];
    }
    const double scale = energy > 0.0 ? dot / energy : 0.0;
    double target = 0.0, error = 0.0;
    for (size_t i = 0; i < count; ++i) {
        const double wanted = scale * reference[i];
        target += wanted * wanted;
        error += (estimate[i] - wanted) * (estimate[i] - wanted);
    }
    return 10.0 * std::log10((target + 1e-12) / (error + 1e-12));
}

} // namespace SiSdr
