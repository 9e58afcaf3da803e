#pragma once

#include "calibrationrecord.h"

#include <optional>
#include <vector>

/// The expanded uncertainty of a point's error from its three contributions: the reference
/// calibrator (its certificate's figure over its coverage factor), the sender's resolution of
/// 1 PSI (a rectangular half-width of 0.5 PSI) and the repeatability of the readings that made
/// the point stable. docs/UNCERTAINTY.md works one point through by hand.
namespace Uncertainty {

constexpr double CoverageFactor = 2; ///< k of the U printed: about 95 % coverage
constexpr double ResolutionPsi = 1; ///< the sender reports whole PSI

/// The spread of the readings a capture was taken from.
struct Repeatability
{
    double s = 0; ///< their standard deviation (n - 1), PSI
    int n = 0; ///< how many readings
    bool capturedIsMean = false; ///< the captured value is their mean: s / sqrt(n) counts
};

/// The three standard uncertainties, their combination and U, all in PSI.
struct Budget
{
    double reference = 0;
    double resolution = 0;
    double repeatability = 0;
    double combined = 0;
    double expanded = 0;
};

/// The spread of `readings`; nothing from fewer than two, whose spread was not seen.
std::optional<Repeatability> repeatability(const std::vector<double> &readings);
Budget budget(double referencePsi, const ReferenceUncertainty &reference,
              const Repeatability &spread);

} // namespace Uncertainty
