#include "stabilitygate.h"

#include <algorithm>
#include <cmath>

void StabilityGate::add(qint64 ms, double psi)
{
    // A clock that ran backwards would leave the window without meaning: start again.
    if (!samples.empty() && ms < samples.back().ms)
        samples.clear();
    samples.push_back({ ms, psi });
    const qint64 start = ms - windowMs;
    // Keep the one reading that was in force when the window began.
    while (samples.size() > 1 && samples[1].ms <= start)
        samples.pop_front();
}

bool StabilityGate::stable() const
{
    if (samples.empty() || samples.back().ms - samples.front().ms < windowMs)
        return false;
    const auto [low, high]
        = std::minmax_element(samples.begin(), samples.end(),
                              [](const Sample &a, const Sample &b) { return a.psi < b.psi; });
    // Compared to the thousandth, so that a span of exactly the limit is not lost to rounding.
    return std::llround((high->psi - low->psi) * 1000) <= std::llround(spanPsi * 1000);
}

std::vector<double> StabilityGate::readings() const
{
    std::vector<double> values;
    for (const Sample &s : samples)
        values.push_back(s.psi);
    return values;
}
