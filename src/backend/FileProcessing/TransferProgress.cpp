#include "TransferProgress.h"

namespace {
constexpr double runningCap = 99.8;
constexpr double unknownSizePercent = 95.0;
} // namespace

std::optional<double> TransferProgress::uploadPercent(qint64 sent, qint64 total)
{
    if (total <= 0)
        return std::nullopt;
    // Integer arithmetic: floor(2/3 * 1000) must give 666, not a double that rounds to 667.
    return double(sent * 1000 / total) / 10.0;
}

double TransferProgress::downloadPercent(qint64 received, qint64 total, qint64 expectedSize)
{
    double percent = unknownSizePercent;
    if (total >= 1)
        percent = double(received) / double(total) * 100.0;
    else if (expectedSize >= 1) // 0 would divide by zero; treat it like "no fallback size"
        percent = double(received) / double(expectedSize) * 100.0;
    return percent >= 100.0 ? runningCap : percent;
}
