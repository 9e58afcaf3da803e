#pragma once

#include <QtGlobal>

#include <deque>
#include <vector>

/// Decides from (time, reading) pairs whether a pressure has settled: stable once the readings
/// have covered the whole window and all of them lie within the allowed span. No clock of its
/// own, so recorded sequences can be replayed.
class StabilityGate
{
public:
    static constexpr qint64 DefaultWindowMs = 2000; ///< how long readings must have stayed put
    static constexpr double DefaultSpanPsi = 1; ///< the most they may differ within the window

    explicit StabilityGate(qint64 windowMs = DefaultWindowMs, double spanPsi = DefaultSpanPsi)
        : windowMs(windowMs)
        , spanPsi(spanPsi)
    {
    }

    /// A reading taken at `ms` (any monotonic clock, never running backwards).
    void add(qint64 ms, double psi);
    /// Forgets every reading, e.g. after an A/D fault or when the page is entered again.
    void clear() { samples.clear(); }
    bool hasReading() const { return !samples.empty(); }
    double latest() const { return samples.empty() ? 0 : samples.back().psi; }
    bool stable() const;
    /// The readings the window holds, oldest first: those a stable verdict rests on.
    std::vector<double> readings() const;
    qint64 window() const { return windowMs; }

private:
    struct Sample
    {
        qint64 ms;
        double psi;
    };
    qint64 windowMs;
    double spanPsi;
    /// The readings of the window, and before them the last one that was in force at its start.
    std::deque<Sample> samples;
};
