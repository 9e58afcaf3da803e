#pragma once

/// The limits the utility puts on the service actions, for every front end that offers them.
namespace VX4ServiceRules {

constexpr int ZeroRangeMinPsi = -30; ///< lowest reading that may be taken as zero
constexpr int ZeroRangeMaxPsi = 30; ///< highest reading that may be taken as zero
constexpr int MaxSerialNumber = 65535; ///< largest serial number the sender holds (16 bits)

/// A reading the sender may be zeroed at.
constexpr bool zeroAllowed(int psi)
{
    return psi >= ZeroRangeMinPsi && psi <= ZeroRangeMaxPsi;
}

} // namespace VX4ServiceRules
