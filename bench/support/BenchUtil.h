#pragma once

#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

namespace BenchUtil {
// The value below which `percent` of `values` lie (nearest rank); 0 for no values.
std::int64_t Percentile(std::vector<std::int64_t> values, double percent);
std::int64_t Maximum(const std::vector<std::int64_t>& values);

// `count` addresses 127.0.B.1 ... from block B = `firstBlock` up, 250 to a block.
QStringList FleetAddresses(int count, int firstBlock);

// Runs the event loop for `ms`.
void RunFor(int ms);
// Runs the event loop until `done` holds (checked every 20 ms) or `timeoutMs` passed; returns
// whether it holds.
bool RunUntil(const std::function<bool()>& done, int timeoutMs);

// A line describing the machine: processors, processor model, kernel, load average.
QString MachineLine();
} // namespace BenchUtil
