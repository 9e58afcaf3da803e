#include "uncertainty.h"

#include <cmath>
#include <numeric>

namespace Uncertainty {

std::optional<Repeatability> repeatability(const std::vector<double> &readings)
{
    const size_t n = readings.size();
    if (n < 2)
        return std::nullopt;
    const double mean = std::accumulate(readings.begin(), readings.end(), 0.0) / double(n);
    double squares = 0;
    for (double r : readings)
        squares += (r - mean) * (r - mean);
    return Repeatability { std::sqrt(squares / double(n - 1)), int(n), false };
}

Budget budget(double referencePsi, const ReferenceUncertainty &reference,
              const Repeatability &spread)
{
    Budget b;
    b.reference = reference.standard(referencePsi);
    b.resolution = ResolutionPsi / 2 / std::sqrt(3.0);
    b.repeatability
        = spread.capturedIsMean && spread.n > 0 ? spread.s / std::sqrt(double(spread.n)) : spread.s;
    b.combined = std::sqrt(b.reference * b.reference + b.resolution * b.resolution
                           + b.repeatability * b.repeatability);
    b.expanded = CoverageFactor * b.combined;
    return b;
}

} // namespace Uncertainty
