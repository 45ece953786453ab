#pragma once

#include <QtGlobal>

#include <optional>

// Percentages reported while a file moves to or from the service.
namespace TransferProgress {

// One decimal, rounded down, so "all sent" is the only 100.0; nothing when the total is unknown.
std::optional<double> uploadPercent(qint64 sent, qint64 total);

// Received out of the reply's total, else out of expectedSize (-1: none, then a flat 95.0). Never
// 100 or more: 100.0 is kept for "written to disk".
double downloadPercent(qint64 received, qint64 total, qint64 expectedSize);

} // namespace TransferProgress
